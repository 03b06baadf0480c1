#pragma once
// A window over a large XML file, read front to back, plain or
// gzip-compressed (told by the gzip magic bytes; members may be concatenated). The readers use it to cut
// one spectrum element at a time out of the file without holding the file:
// the buffer holds the unconsumed text plus what a search needed to read, so
// it grows to the largest element searched for, never to the file.
//
// Offsets handed out are relative to Data(), the first unconsumed byte; they
// stay valid until Consume is called (reading more moves the buffer, so take
// Data() again after every Find). Not for sharing between threads.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class CXmlStream {
public:
    CXmlStream() = default;
    CXmlStream(const CXmlStream&) = delete;
    CXmlStream& operator=(const CXmlStream&) = delete;
    ~CXmlStream();

    // Opens path (gzip or plain); false when it cannot be opened.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_pFile != nullptr; }

    // Finds the first occurrence of `a` or of `b` (b may be empty: a only)
    // starting `from` bytes after Data(), reading on as needed. Returns 1 for
    // a, 2 for b (at = its offset from Data()), 0 at end of file or on a read
    // error. With keep = false the text searched over is consumed as it is
    // passed (Data() moves; `at` is relative to the new Data()), so skipping
    // over a long stretch needs no memory.
    int Find(std::string_view a, std::string_view b, size_t from, bool keep, size_t& at);
    // Makes at least n bytes available after Data(); false at end of file.
    bool Ensure(size_t n);

    const char* Data() const { return m_vBuf.data() + m_nPos; }
    size_t Avail() const { return m_nEnd - m_nPos; }
    void Consume(size_t n) { m_nPos += n; }
    // Position of Data() in the (uncompressed) file, in bytes.
    unsigned long long Offset() const { return m_nBase + m_nPos; }
    // Bytes read from the file so far (uncompressed).
    unsigned long long BytesRead() const { return m_nBase + m_nEnd; }
    // Empty unless reading failed (damaged gzip data, I/O error). The text
    // inflated before the damage is still handed out first.
    const std::string& Error() const { return m_strError; }

private:
    bool _Fill();  // reads more; false at end of file or on error

    // Inflates into [out, out + n); returns the bytes made (0: end or error).
    size_t _Inflate(char* out, size_t n);

    std::FILE* m_pFile = nullptr;
    bool m_bGzip = false;
    void* m_pZ = nullptr;                 // z_stream of a gzip file
    std::vector<unsigned char> m_vIn;     // compressed bytes read ahead
    std::vector<char> m_vBuf;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    unsigned long long m_nBase = 0;  // file offset of m_vBuf[0]
    bool m_bEof = false;
    std::string m_strError;
};
