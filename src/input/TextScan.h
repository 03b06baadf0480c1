#pragma once
// Number reading and buffered line reading shared by the spectrum readers.
//
// The readers' number rules are those of the C library (atoi, atof and
// sscanf "%lf%lf"); these helpers give exactly the same values, but read
// plain decimal numbers without copying or locale look-ups, and fall back to
// the C library for anything unusual (hex floats, inf/nan, '+' signs,
// out-of-range values). Ranges are [begin, end); no terminator is needed.

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace textscan {

// atoi as the C library gives it: leading white space, optional sign, decimal
// digits; no digits give 0; out-of-range values as (int)strtol.
int Atoi(const char* p, const char* end);

// atof (strtod with leading white space); malformed text gives 0.
double Atof(const char* p, const char* end);

// sscanf(line, "%lf%lf", &a, &b) with a and b starting at 0: a value that
// cannot be read stays 0.
void ScanTwoDoubles(const char* p, const char* end, double& a, double& b);

// File name of path without folders and without the part from its last '.'
// ("/x/run1.ms2" and "run1.ms2" give "run1", "noext" stays).
std::string FileBaseName(const std::string& path);

// The activation named by text[p, end) (white space around it ignored, case
// ignored): "CID", "HCD", "ETD", "ECD" or "EThcD"; an ETD variant with
// supplemental activation other than HCD ("ETD+SA", "ETciD") counts as ETD.
// Empty for anything else.
const char* ActivationName(const char* p, const char* end);

// Reads a FILE* through a large buffer and hands out lines as (pointer,
// length) ranges that stay valid until the next call. A line stops after its
// '\n' (kept) or after maxLen characters, whichever comes first, so that
// maxLen = 81959 reproduces fgets with an 81,960-byte buffer: a longer line
// comes out in pieces, each taken as a line. Text after an embedded NUL byte
// is cut off, as the C string functions of such a reader would see it.
// The reader does not own the FILE*.
class CLineReader {
public:
    static constexpr size_t FGETS_PIECE = 81959;
    static constexpr size_t WHOLE_LINE = static_cast<size_t>(-1);

    void Reset(FILE* fp);
    // False at end of file. len counts the characters up to the first NUL.
    bool Next(const char*& line, size_t& len, size_t maxLen) {
        // Common case inline: a whole short line already in the buffer.
        size_t avail = m_nEnd - m_nPos;
        if (!m_bHasNul && avail > 0) {
            const char* b = m_vBuf.data() + m_nPos;
            const void* nl = std::memchr(b, '\n', avail < maxLen ? avail : maxLen);
            if (nl != nullptr) {
                len = static_cast<size_t>(static_cast<const char*>(nl) - b) + 1;
                line = b;
                m_nPos += len;
                return true;
            }
        }
        return _NextSlow(line, len, maxLen);
    }
    // Next character without consuming it, or EOF.
    int Peek();

private:
    bool _NextSlow(const char*& line, size_t& len, size_t maxLen);
    bool Fill();  // false when nothing more could be read

    FILE* m_fp = nullptr;
    std::vector<char> m_vBuf;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    bool m_bEof = true;
    bool m_bHasNul = false;  // the buffered bytes contain a NUL
};

// Opens a spectrum file for reader, counts the lines that `counts` accepts
// (lines as fgets with the 81,960-byte buffer sees them) and rewinds, ready to
// read. On failure it reports the file on stderr ("[error]\t...") and returns
// null; count is then 0.
FILE* OpenAndCount(const std::string& path, CLineReader& reader, bool (*counts)(const char* line, size_t len),
                   unsigned int& count);

}  // namespace textscan
