#pragma once
// Number reading and buffered line reading shared by the spectrum readers.
//
// The readers' number rules are those of the C library (atoi, atof and
// sscanf "%lf%lf"); these helpers give exactly the same values, but read
// plain decimal numbers without copying or locale look-ups, and fall back to
// the C library for anything unusual (hex floats, inf/nan, '+' signs,
// out-of-range values). Charges and scan numbers, which must never wrap
// round to another number, are read with a range check instead (ReadCharge,
// ReadScan). Ranges are [begin, end); no terminator is needed.

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

// The first number of text[p, end) as a precursor charge, as spectrum files
// write it: "2", "+2", "2+", the first of "2+ and 3+". A '-' before or after
// the digits makes it NEGATIVE, a value above INT_MAX RANGE (z is then left
// alone), text without leading digits NONE. Blanks before it are skipped;
// *after (when given) receives the end of the charge and its signs.
enum class ECharge { OK, NONE, NEGATIVE, RANGE };
ECharge ReadCharge(const char* p, const char* end, int& z, const char** after = nullptr);

// The leading digits of text[p, end) (blanks before them skipped) as a scan
// number; false, with scan left alone, when there are none, when a '-' comes
// first, or when the value is above INT_MAX.
bool ReadScan(const char* p, const char* end, int& scan);

// The number text[p, end) begins with (after blanks), read as Atof reads
// it; false when it begins with no number at all (v is then 0).
bool ReadDouble(const char* p, const char* end, double& v);

// The UTF-8 byte-order mark some editors put before a text file's first line.
inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
inline bool StartsWithBom(const char* p, size_t len) { return len >= 3 && std::memcmp(p, kUtf8Bom, 3) == 0; }

// Title text as the output can carry it: vertical tabs and form feeds,
// which line-based tools take as line breaks, become spaces.
void BlankLineBreaks(std::string& title);

// File name of path without folders and without the part from its last '.'
// ("/x/run1.ms2" and "run1.ms2" give "run1", "noext" stays).
std::string FileBaseName(const std::string& path);

// The activation named by text[p, end) (white space around it ignored, case
// ignored): "CID", "HCD", "ETD", "ECD" or "EThcD"; an ETD variant with
// supplemental activation other than HCD ("ETD+SA", "ETciD") counts as ETD.
// Empty for anything else.
const char* ActivationName(const char* p, const char* end);

// Reads a FILE* through a large buffer and hands out lines as (pointer,
// length) ranges that stay valid until the next call. Next stops a line
// after its '\n' (kept) or after maxLen characters, whichever comes first,
// so that maxLen = 81959 reproduces fgets with an 81,960-byte buffer: a
// longer line comes out in pieces, each taken as a line. NextLine gives
// whole lines instead, cut at MAX_LINE characters (the rest of such a line
// is skipped, never taken as a line of its own). Text after an embedded NUL
// byte is cut off, as the C string functions of such a reader would see it.
// The reader does not own the FILE*.
class CLineReader {
public:
    static constexpr size_t FGETS_PIECE = 81959;
    static constexpr size_t WHOLE_LINE = static_cast<size_t>(-1);
    // Longest line NextLine hands out (1 MiB): no title or peak line comes
    // near it, and a longer one must not take the file's size in memory.
    static constexpr size_t MAX_LINE = size_t{1} << 20;

    void Reset(FILE* fp);
    // Skips a UTF-8 byte-order mark at the reading position (call it right
    // after Reset).
    void SkipBom();
    // The next whole line; cut tells that it was longer than MAX_LINE and
    // only its first MAX_LINE characters came out. False at end of file.
    bool NextLine(const char*& line, size_t& len, bool& cut) {
        if (m_bSkipRest) _SkipRest();
        m_bPieceCut = false;
        if (!Next(line, len, MAX_LINE)) return false;
        cut = m_bPieceCut;
        m_bSkipRest = cut;
        return true;
    }
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
    void _SkipRest();  // consumes the rest of a line cut by NextLine
    bool Fill();  // false when nothing more could be read

    FILE* m_fp = nullptr;
    std::vector<char> m_vBuf;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    bool m_bEof = true;
    bool m_bHasNul = false;  // the buffered bytes contain a NUL
    bool m_bPieceCut = false;  // the last piece stopped at maxLen, not at a line end
    bool m_bSkipRest = false;  // the rest of the last line is still to be skipped
};

// Counts a file's spectra for a reader's Count, one line at a time.
class CLineCounter {
public:
    virtual ~CLineCounter() = default;
    // Every line as NextLine hands it out, in file order.
    virtual void Line(const char* line, size_t len) = 0;
    // The count, once the last line has been seen.
    virtual unsigned int Total() = 0;
};

// Opens a spectrum file for reader, hands its lines (as NextLine gives them,
// after a byte-order mark) to counter and rewinds, ready to read past the
// mark. On failure it reports the file on stderr ("[error]\t...") and
// returns null; count is then 0.
FILE* OpenAndCount(const std::string& path, CLineReader& reader, CLineCounter& counter, unsigned int& count);

// How a path is named in a message about it: as given, and for a relative
// path also the folder it was taken from (" (in /home/lab)").
std::string Where(const std::string& path);

}  // namespace textscan
