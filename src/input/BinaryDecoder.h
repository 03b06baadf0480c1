#pragma once
// Decoder of the base64 number arrays of mzML and mzXML: base64, then
// optionally zlib, then either plain IEEE floats (32 or 64 bits, little- or
// big-endian) or one of the numpress codings (linear, pic, slof). Owns its
// scratch buffers, so one decoder per reader keeps decoding free of
// per-spectrum allocation once the buffers have grown.

#include <cstddef>
#include <string>
#include <vector>

struct CArrayEncoding {
    enum ENumpress { NONE, LINEAR, PIC, SLOF };
    int nBits = 0;            // 32 or 64 for plain floats; 0: not stated
    bool bZlib = false;       // zlib-compressed (before numpress, if any)
    ENumpress eNumpress = NONE;
    bool bBigEndian = false;  // byte order of plain floats (mzXML: network order)
};

class CBinaryDecoder {
public:
    // Decodes text[0, len) into out (resized) and checks that it holds exactly
    // `expected` values. Returns an empty string on success, otherwise what
    // is wrong ("bad base64 text", "damaged zlib data", ...).
    std::string Decode(const char* text, size_t len, const CArrayEncoding& enc, size_t expected,
                       std::vector<double>& out);

    // Base64 of bytes[0, n) (used to write test files and by the benchmarks).
    static std::string Base64(const unsigned char* bytes, size_t n);

private:
    // Base64 text (white space allowed) into m_vBytes; false when malformed.
    bool _Base64(const char* text, size_t len);
    // Inflates m_vBytes into m_vInflated, at most cap bytes; false on error
    // or when the data inflate to more. The output grows as the data
    // inflate, so a claimed size the data cannot fill costs no memory.
    bool _Inflate(size_t cap);

    std::vector<unsigned char> m_vBytes;
    std::vector<unsigned char> m_vInflated;
};
