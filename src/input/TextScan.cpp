#include "input/TextScan.h"

#include <cerrno>
#include <filesystem>
#include <charconv>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include "common/Console.h"

namespace textscan {

namespace {

// The C locale's isspace / isdigit, free of locale look-ups.
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the plain decimal number ([-]digits[.digits][e[+-]digits]) starting
// at p into v and returns its end, or returns nullptr when the text is
// anything else (no digits, a dangling exponent, ...) or out of range; such
// text is left to the C library.
const char* ParsePlain(const char* p, const char* end, double& v) {
    // Exact powers of ten: a mantissa below 2^53 times or divided by one of
    // these is a single correctly rounded operation, the same value strtod gives.
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr unsigned long long kMaxExact = 1ULL << 53;
    const char* q = p;
    const bool neg = q < end && *q == '-';
    if (neg) ++q;
    unsigned long long w = 0;
    bool exact = true;
    long exp10 = 0;
    size_t nDigits = 0;
    for (; q < end && IsDigit(*q); ++q, ++nDigits) {
        if (w <= kMaxExact) w = w * 10 + static_cast<unsigned>(*q - '0');
        else exact = false;
    }
    if (q < end && *q == '.') {
        for (++q; q < end && IsDigit(*q); ++q, ++nDigits) {
            if (w <= kMaxExact) {
                w = w * 10 + static_cast<unsigned>(*q - '0');
                --exp10;
            } else if (*q != '0') {
                exact = false;
            }
        }
    }
    if (nDigits == 0) return nullptr;
    if (q < end && (*q == 'e' || *q == 'E')) {
        const char* r = q + 1;
        bool eneg = false;
        if (r < end && (*r == '+' || *r == '-')) eneg = *r++ == '-';
        if (r >= end || !IsDigit(*r)) return nullptr;
        long e = 0;
        for (; r < end && IsDigit(*r); ++r)
            if (e < 100000) e = e * 10 + (*r - '0');
        exp10 += eneg ? -e : e;
        q = r;
    }
    if (exact && w <= kMaxExact && exp10 >= -22 && exp10 <= 22) {
        double x = static_cast<double>(w);
        x = exp10 < 0 ? x / kPow10[-exp10] : x * kPow10[exp10];
        v = neg ? -x : x;
        return q;
    }
    // Long mantissas and large exponents: still correctly rounded.
    auto res = std::from_chars(p, q, v, std::chars_format::general);
    if (res.ec != std::errc() || res.ptr != q) return nullptr;
    return q;
}

const char* SkipSpace(const char* p, const char* end) {
    while (p < end && IsSpace(*p)) ++p;
    return p;
}

}  // namespace

int Atoi(const char* p, const char* end) {
    // The C library's atoi is (int)strtol: the value saturates at the range
    // of long and is then cut to int's width, so "4294967298" gives 2. Files
    // with such numbers must read the same here as with atoi itself.
    p = SkipSpace(p, end);
    bool neg = false;
    if (p < end && (*p == '+' || *p == '-')) {
        neg = *p == '-';
        ++p;
    }
    constexpr unsigned long long kLongMax = static_cast<unsigned long long>(LONG_MAX);
    unsigned long long v = 0;
    bool over = false;
    for (; p < end && IsDigit(*p); ++p) {
        if (over) continue;
        if (v > (kLongMax + 1) / 10) {
            over = true;
            continue;
        }
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > kLongMax + 1) over = true;
    }
    long l;
    if (neg)
        l = over || v > kLongMax ? LONG_MIN : -static_cast<long>(v);
    else
        l = over || v > kLongMax ? LONG_MAX : static_cast<long>(v);
    return static_cast<int>(l);  // modular, as the C library's conversion
}

double Atof(const char* p, const char* end) {
    const char* s = SkipSpace(p, end);
    double v = 0.0;
    const char* q = ParsePlain(s, end, v);
    // "0x.." continues as a hex float for the C library.
    if (q != nullptr && (q == end || (*q != 'x' && *q != 'X'))) return v;
    std::string copy(s, end);
    return std::strtod(copy.c_str(), nullptr);
}

void ScanTwoDoubles(const char* p, const char* end, double& a, double& b) {
    a = 0.0;
    b = 0.0;
    const char* s = SkipSpace(p, end);
    const char* q = ParsePlain(s, end, a);
    // A number must be followed by white space or the end of the line;
    // anything glued to it goes to the C library.
    if (q != nullptr && (q == end || IsSpace(*q))) {
        s = SkipSpace(q, end);
        if (s == end) return;
        q = ParsePlain(s, end, b);
        if (q != nullptr && (q == end || IsSpace(*q))) return;
    }
    a = 0.0;
    b = 0.0;
    std::string copy(p, end);
    std::sscanf(copy.c_str(), "%lf%lf", &a, &b);
}

ECharge ReadCharge(const char* p, const char* end, int& z, const char** after) {
    p = SkipSpace(p, end);
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (after != nullptr) *after = p;
    if (p >= end || !IsDigit(*p)) return ECharge::NONE;
    // Saturates far above INT_MAX, so that no length of digits wraps.
    unsigned long long v = 0;
    for (; p < end && IsDigit(*p); ++p)
        if (v <= INT_MAX) v = v * 10 + static_cast<unsigned>(*p - '0');
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-' || negative;
    if (after != nullptr) *after = p;
    if (negative) return ECharge::NEGATIVE;
    if (v > INT_MAX) return ECharge::RANGE;
    z = static_cast<int>(v);
    return ECharge::OK;
}

bool ReadScan(const char* p, const char* end, int& scan) {
    p = SkipSpace(p, end);
    if (p < end && *p == '+') ++p;
    if (p >= end || !IsDigit(*p)) return false;
    unsigned long long v = 0;
    for (; p < end && IsDigit(*p); ++p)
        if (v <= INT_MAX) v = v * 10 + static_cast<unsigned>(*p - '0');
    if (v > INT_MAX) return false;
    scan = static_cast<int>(v);
    return true;
}

bool ReadDouble(const char* p, const char* end, double& v) {
    const char* s = SkipSpace(p, end);
    v = 0.0;
    const char* q = ParsePlain(s, end, v);
    if (q != nullptr && (q == end || (*q != 'x' && *q != 'X'))) return true;
    std::string copy(s, end);
    char* stop = nullptr;
    v = std::strtod(copy.c_str(), &stop);
    return stop != copy.c_str();
}

void BlankLineBreaks(std::string& title) {
    for (char& c : title)
        if (c == '\v' || c == '\f') c = ' ';
}

void CLineReader::Reset(FILE* fp) {
    m_fp = fp;
    if (m_vBuf.empty()) m_vBuf.resize(size_t{1} << 20);
    m_nPos = 0;
    m_nEnd = 0;
    m_bEof = fp == nullptr;
    m_bHasNul = false;
    m_bPieceCut = false;
    m_bSkipRest = false;
}

void CLineReader::SkipBom() {
    while (m_nEnd - m_nPos < 3 && Fill()) {
    }
    if (StartsWithBom(m_vBuf.data() + m_nPos, m_nEnd - m_nPos)) m_nPos += 3;
}

void CLineReader::_SkipRest() {
    m_bSkipRest = false;
    for (;;) {
        const char* b = m_vBuf.data() + m_nPos;
        const void* nl = std::memchr(b, '\n', m_nEnd - m_nPos);
        if (nl != nullptr) {
            m_nPos += static_cast<size_t>(static_cast<const char*>(nl) - b) + 1;
            return;
        }
        m_nPos = m_nEnd;
        if (!Fill()) return;
    }
}

bool CLineReader::Fill() {
    if (m_bEof) return false;
    if (m_nPos > 0) {
        std::memmove(m_vBuf.data(), m_vBuf.data() + m_nPos, m_nEnd - m_nPos);
        m_nEnd -= m_nPos;
        m_nPos = 0;
    }
    // Only a line longer than the whole buffer gets here with a full buffer.
    if (m_nEnd == m_vBuf.size()) m_vBuf.resize(m_vBuf.size() * 2);
    size_t got = std::fread(m_vBuf.data() + m_nEnd, 1, m_vBuf.size() - m_nEnd, m_fp);
    if (got == 0) {
        m_bEof = true;
        return false;
    }
    m_nEnd += got;
    m_bHasNul = std::memchr(m_vBuf.data(), 0, m_nEnd) != nullptr;
    return true;
}

bool CLineReader::_NextSlow(const char*& line, size_t& len, size_t maxLen) {
    size_t scanned = 0;  // characters after m_nPos already searched for '\n'
    size_t n = 0;
    for (;;) {
        size_t avail = m_nEnd - m_nPos;
        size_t lim = avail < maxLen ? avail : maxLen;
        const char* b = m_vBuf.data() + m_nPos;
        const void* nl = lim > scanned ? std::memchr(b + scanned, '\n', lim - scanned) : nullptr;
        if (nl != nullptr) {
            n = static_cast<size_t>(static_cast<const char*>(nl) - b) + 1;
            break;
        }
        if (avail >= maxLen) {
            n = maxLen;
            m_bPieceCut = true;
            break;
        }
        scanned = lim;
        if (!Fill()) {
            if (m_nEnd == m_nPos) return false;
            n = m_nEnd - m_nPos;
            break;
        }
    }
    line = m_vBuf.data() + m_nPos;
    m_nPos += n;
    len = n;
    if (m_bHasNul) {
        const void* z = std::memchr(line, 0, n);
        if (z != nullptr) len = static_cast<size_t>(static_cast<const char*>(z) - line);
    }
    return true;
}

int CLineReader::Peek() {
    if (m_bSkipRest) _SkipRest();
    if (m_nPos < m_nEnd || Fill()) return static_cast<unsigned char>(m_vBuf[m_nPos]);
    return EOF;
}

std::string FileBaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

const char* ActivationName(const char* p, const char* end) {
    while (p < end && IsSpace(*p)) ++p;
    while (end > p && IsSpace(end[-1])) --end;
    std::string u(p, end);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u == "CID") return "CID";
    if (u == "HCD") return "HCD";
    if (u == "ECD") return "ECD";
    if (u == "ETHCD") return "EThcD";
    if (u.compare(0, 3, "ETD") == 0 || u == "ETCID") return "ETD";
    return "";
}

FILE* OpenAndCount(const std::string& path, CLineReader& reader, CLineCounter& counter, unsigned int& count) {
    count = 0;
    reader.Reset(nullptr);
    FILE* fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) {
        console::Error() << "cannot open spectrum file " << Where(path) << ": " << std::strerror(errno);
        return nullptr;
    }
    // The reader does its own buffering.
    std::setvbuf(fp, nullptr, _IONBF, 0);
    reader.Reset(fp);
    reader.SkipBom();
    const char* line;
    size_t len;
    bool cut;
    while (reader.NextLine(line, len, cut)) counter.Line(line, len);
    if (std::ferror(fp)) {
        // Opened but unreadable (a folder, an I/O error): nothing to deliver.
        console::Error() << "cannot read spectrum file " << Where(path) << ": " << std::strerror(errno ? errno : EIO);
        reader.Reset(nullptr);
        std::fclose(fp);
        return nullptr;
    }
    std::rewind(fp);
    reader.Reset(fp);
    reader.SkipBom();
    count = counter.Total();
    return fp;
}

std::string Where(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code ec;
    const std::string cwd = std::filesystem::current_path(ec).string();
    return ec ? path : path + " (in " + cwd + ")";
}

}  // namespace textscan
