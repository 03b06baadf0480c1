#include "input/BinaryDecoder.h"

#include <libmsnumpress/MSNumpress.hpp>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// Base64 digit values; 64 marks white space, 65 anything else.
struct CBase64Table {
    unsigned char v[256];
    constexpr CBase64Table() : v() {
        for (int i = 0; i < 256; ++i) v[i] = 65;
        const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(digits[i])] = static_cast<unsigned char>(i);
        v[static_cast<unsigned char>(' ')] = v[static_cast<unsigned char>('\t')] = 64;
        v[static_cast<unsigned char>('\n')] = v[static_cast<unsigned char>('\r')] = 64;
    }
};
constexpr CBase64Table kBase64;

inline uint32_t Swap(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t Swap(uint64_t v) { return __builtin_bswap64(v); }

template <typename T, typename U>
void ToDoubles(const unsigned char* p, size_t count, bool bigEndian, std::vector<double>& out) {
    out.resize(count);
    constexpr bool hostBig = std::endian::native == std::endian::big;
    for (size_t i = 0; i < count; ++i) {
        U bits;
        std::memcpy(&bits, p + i * sizeof(U), sizeof(U));
        if (bigEndian != hostBig) bits = Swap(bits);
        out[i] = static_cast<double>(std::bit_cast<T>(bits));
    }
}

}  // namespace

bool CBinaryDecoder::_Base64(const char* text, size_t len) {
    m_vBytes.clear();
    m_vBytes.reserve(len / 4 * 3 + 3);
    uint32_t acc = 0;
    int bits = 0;
    size_t i = 0;
    for (; i < len; ++i) {
        const unsigned char d = kBase64.v[static_cast<unsigned char>(text[i])];
        if (d == 64) continue;
        if (d == 65) break;
        acc = (acc << 6) | d;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            m_vBytes.push_back(static_cast<unsigned char>(acc >> bits));
        }
    }
    // Only padding and white space may follow the digits; leftover bits
    // beyond a partial byte mean a lone digit (length 1 mod 4).
    int pad = 0;
    for (; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '=' && pad < 2) ++pad;
        else if (kBase64.v[c] != 64) return false;
    }
    return bits < 6;
}

bool CBinaryDecoder::_Inflate(size_t cap) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = m_vBytes.data();
    // Base64 text of a spectrum's array stays far below 4 GiB (uInt).
    zs.avail_in = static_cast<uInt>(std::min<size_t>(m_vBytes.size(), 0xffffffffu));
    // Start near the usual 2-4:1 ratio of peak data; double while it grows.
    // One byte more than allowed tells "too long" from "exactly right".
    size_t size = std::min(cap + 1, std::max<size_t>(4096, m_vBytes.size() * 4));
    size_t produced = 0;
    int rc = Z_OK;
    m_vInflated.resize(size);
    while (rc == Z_OK) {
        if (produced == size) {
            if (size > cap) break;
            size = std::min(cap + 1, size * 2);
            m_vInflated.resize(size);
        }
        zs.next_out = m_vInflated.data() + produced;
        zs.avail_out = static_cast<uInt>(std::min<size_t>(size - produced, 0xffffffffu));
        const uInt before = zs.avail_out;
        rc = inflate(&zs, Z_NO_FLUSH);
        produced += before - zs.avail_out;
        // No progress at all with input left: the data are damaged.
        if (rc == Z_BUF_ERROR && produced < size) break;
        if (rc == Z_BUF_ERROR) rc = Z_OK;
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END || produced > cap) return false;
    m_vInflated.resize(produced);
    return true;
}

std::string CBinaryDecoder::Decode(const char* text, size_t len, const CArrayEncoding& enc, size_t expected,
                                   std::vector<double>& out) {
    out.clear();
    if (!_Base64(text, len)) return "bad base64 text";
    const bool numpress = enc.eNumpress != CArrayEncoding::NONE;
    const size_t width = enc.nBits == 64 ? 8 : enc.nBits == 32 ? 4 : 0;
    if (!numpress && width == 0) return "no 32- or 64-bit float type given";
    const std::vector<unsigned char>* bytes = &m_vBytes;
    if (enc.bZlib) {
        // The array's size bounds the inflated size (numpress codes at most
        // five bytes a value plus an 8-byte header), so damaged or hostile
        // data cannot inflate without limit.
        // zlib shrinks data by at most about 1032:1, which bounds a claimed
        // array length that is absurd.
        const size_t cap = std::min(numpress ? expected * 5 + 16 : expected * width, m_vBytes.size() * 1040 + 64);
        if (m_vBytes.empty() && expected == 0) return "";
        if (!_Inflate(cap)) return "damaged zlib data";
        bytes = &m_vInflated;
    }
    const unsigned char* p = bytes->data();
    const size_t n = bytes->size();
    if (!numpress) {
        if (n != expected * width)
            return "array holds " + std::to_string(n) + " bytes, " + std::to_string(expected * width) + " expected";
        if (width == 8) ToDoubles<double, uint64_t>(p, expected, enc.bBigEndian, out);
        else ToDoubles<float, uint32_t>(p, expected, enc.bBigEndian, out);
        return "";
    }
    if (n == 0) return expected == 0 ? "" : "empty numpress array";
    // Bounds on the decoded length stated by the coding: linear and slof
    // carry an 8-byte header.
    if (enc.eNumpress != CArrayEncoding::PIC && n < 8) return "numpress array shorter than its header";
    const size_t bound = enc.eNumpress == CArrayEncoding::PIC ? n * 2
                         : enc.eNumpress == CArrayEncoding::LINEAR ? (n - 8) * 2
                                                                   : (n - 8) / 2;
    if (bound < expected) return "numpress array shorter than its " + std::to_string(expected) + " values";
    out.resize(bound + 2);
    size_t got = 0;
    try {
        using namespace ms::numpress::MSNumpress;
        if (enc.eNumpress == CArrayEncoding::LINEAR) got = decodeLinear(p, n, out.data());
        else if (enc.eNumpress == CArrayEncoding::PIC) got = decodePic(p, n, out.data());
        else got = decodeSlof(p, n, out.data());
    } catch (...) {
        return "damaged numpress data";
    }
    if (got != expected) return "numpress array holds " + std::to_string(got) + " values, " +
                                std::to_string(expected) + " expected";
    out.resize(got);
    return "";
}

std::string CBinaryDecoder::Base64(const unsigned char* bytes, size_t n) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    s.reserve((n + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < n; i += 3) {
        const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        s += digits[v >> 18];
        s += digits[(v >> 12) & 63];
        s += digits[(v >> 6) & 63];
        s += digits[v & 63];
    }
    if (i < n) {
        uint32_t v = uint32_t{bytes[i]} << 16;
        if (i + 1 < n) v |= uint32_t{bytes[i + 1]} << 8;
        s += digits[v >> 18];
        s += digits[(v >> 12) & 63];
        s += i + 1 < n ? digits[(v >> 6) & 63] : '=';
        s += '=';
    }
    return s;
}
