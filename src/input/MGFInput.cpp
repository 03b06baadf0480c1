#include "input/MGFInput.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "common/Console.h"
#include "common/Masses.h"

namespace {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// text[0, len) equals the capital word, case ignored.
bool SameWord(const char* text, size_t len, const char* word) {
    const size_t n = std::strlen(word);
    if (len != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (Upper(text[i]) != word[i]) return false;
    return true;
}

// The line is `word` alone, with blanks and the line end after it.
bool IsLine(const char* line, size_t len, const char* word) {
    while (len > 0 && IsBlank(line[len - 1])) --len;
    return SameWord(line, len, word);
}

inline bool IsBegin(const char* line, size_t len) { return len >= 10 && Upper(line[0]) == 'B' && IsLine(line, len, "BEGIN IONS"); }
inline bool IsEnd(const char* line, size_t len) { return len >= 8 && Upper(line[0]) == 'E' && IsLine(line, len, "END IONS"); }

class CBeginCounter : public textscan::CLineCounter {
public:
    void Line(const char* line, size_t len) override {
        if (IsBegin(line, len)) ++m_nCount;
    }
    unsigned int Total() override { return m_nCount; }

private:
    unsigned int m_nCount = 0;
};

enum class EKey { OTHER, TITLE, PEPMASS, CHARGE, SCANS, RTINSECONDS, ACTIVATION };

// The key of a KEY=value line (blanks around the key ignored); value
// receives the text after '='.
EKey KeyOf(const char* line, size_t len, const char*& value) {
    const char* eq = static_cast<const char*>(std::memchr(line, '=', len));
    if (eq == nullptr) return EKey::OTHER;
    const char* b = line;
    const char* e = eq;
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    value = eq + 1;
    const size_t n = static_cast<size_t>(e - b);
    switch (Upper(*b)) {
        case 'T': return SameWord(b, n, "TITLE") ? EKey::TITLE : EKey::OTHER;
        case 'P': return SameWord(b, n, "PEPMASS") ? EKey::PEPMASS : EKey::OTHER;
        case 'C': return SameWord(b, n, "CHARGE") ? EKey::CHARGE : EKey::OTHER;
        case 'S': return SameWord(b, n, "SCANS") ? EKey::SCANS : EKey::OTHER;
        case 'R': return SameWord(b, n, "RTINSECONDS") ? EKey::RTINSECONDS : EKey::OTHER;
        case 'A': return SameWord(b, n, "ACTIVATION") ? EKey::ACTIVATION : EKey::OTHER;
        default: return EKey::OTHER;
    }
}

// isprint of the C locale.
inline bool IsPrint(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7f;
}

// The value of a key line for a message, without its line end.
std::string ValueText(const char* value, const char* end) {
    while (end > value && IsBlank(end[-1])) --end;
    return std::string(value, end);
}

}  // namespace

unsigned int CMGFInput::Count(const std::string& path) {
    m_strBaseName = textscan::FileBaseName(path);
    m_bBlockOpen = false;
    CBeginCounter counter;
    return _Open(path, counter);
}

unsigned int CMGFInput::Browse(std::vector<CSpectrum>& out, unsigned int n) {
    unsigned int left = m_nTotal - m_nCurrent;
    unsigned int limit = m_nCurrent + (n < left ? n : left);
    if (m_fp == nullptr || m_nCurrent >= limit) return 0;
    const unsigned int start = m_nCurrent;
    const char* line;
    size_t len;
    while (m_nCurrent < limit) {
        if (!m_bBlockOpen) {
            bool found = false;
            while (!found && _NextLine(line, len, m_nCurrent + 1)) found = IsBegin(line, len);
            if (!found) break;
        }
        m_bBlockOpen = false;
        CSpectrum& s = out.emplace_back();
        const EBlockEnd end = _ReadBlock(s);
        if (end == EBlockEnd::FILE_END) {
            out.pop_back();
            if (!_Quiet())
                console::Error() << m_strPath << ": the file ends inside spectrum " << m_nCurrent + 1
                             << " (cut short?); that spectrum is skipped, the " << m_nCurrent
                             << " before it are kept";
            m_bFailed = true;
            m_nTotal = m_nCurrent;
            break;
        }
        m_bBlockOpen = end == EBlockEnd::NEXT_BEGIN;
        ++m_nCurrent;
    }
    return _EndBrowse(start);
}

CMGFInput::EBlockEnd CMGFInput::_ReadBlock(CSpectrum& s) {
    const unsigned long long number = m_nCurrent + 1;
    m_vPeaks.clear();
    int z = 2;
    double mz = std::numeric_limits<double>::quiet_NaN();
    std::string problem;       // what is wrong with the precursor, if anything
    std::string chargeProblem; // the same for the last CHARGE line
    bool pepmass = false;
    const char* line;
    size_t len;
    EBlockEnd how = EBlockEnd::FILE_END;
    while (_NextLine(line, len, number)) {
        if (len == 0) continue;
        const char c = line[0];
        const char* end = line + len;
        if (c >= '0' && c <= '9') {
            CPeak& p = m_vPeaks.emplace_back();
            textscan::ScanTwoDoubles(line, end, p.lfMz, p.lfIntensity);
            // A non-finite value would poison every sort and sum downstream.
            if (!std::isfinite(p.lfMz) || !std::isfinite(p.lfIntensity)) m_vPeaks.pop_back();
            continue;
        }
        if (IsEnd(line, len)) {
            how = EBlockEnd::END_IONS;
            break;
        }
        if (IsBegin(line, len)) {
            how = EBlockEnd::NEXT_BEGIN;
            break;
        }
        const char* value = nullptr;
        switch (KeyOf(line, len, value)) {
            case EKey::PEPMASS:
                // The intensity after the m/z is ignored.
                pepmass = textscan::ReadDouble(value, end, mz);
                if (!pepmass) {
                    mz = std::numeric_limits<double>::quiet_NaN();
                    problem = "PEPMASS=" + ValueText(value, end) + " holds no number";
                }
                break;
            case EKey::CHARGE: {
                int charge = 0;
                switch (textscan::ReadCharge(value, end, charge)) {
                    case textscan::ECharge::OK: z = charge; chargeProblem.clear(); break;
                    case textscan::ECharge::NONE: chargeProblem = " holds no charge"; break;
                    case textscan::ECharge::NEGATIVE: chargeProblem = " is a negative charge"; break;
                    case textscan::ECharge::RANGE: chargeProblem = " is out of range"; break;
                }
                if (!chargeProblem.empty()) chargeProblem = "CHARGE=" + ValueText(value, end) + chargeProblem;
                break;
            }
            case EKey::SCANS:
                if (!textscan::ReadScan(value, end, s.m_nScan)) {
                    s.m_nScan = -1;
                    _Warn(m_strPath, number, "", "SCANS=" + ValueText(value, end) +
                                                     " is no scan number from 0 to 2147483647; the scan is taken as not given");
                }
                break;
            case EKey::RTINSECONDS: s.m_lfRetentionTime = textscan::Atof(value, end); break;
            case EKey::ACTIVATION: s.m_strActivationRead = textscan::ActivationName(value, end); break;
            case EKey::TITLE: {
                // Drop the line end and other control characters, keep spaces.
                const char* e = end;
                while (e > line + 1 && !IsPrint(e[-1])) --e;
                if (e > value) s.m_strTitle.assign(value, e);
                else s.m_strTitle.clear();
                textscan::BlankLineBreaks(s.m_strTitle);
                break;
            }
            case EKey::OTHER: break;
        }
    }
    if (how == EBlockEnd::FILE_END) return how;
    s.m_vPeaks.assign(m_vPeaks.begin(), m_vPeaks.end());
    if (s.m_strTitle.empty()) s.m_strTitle = m_strBaseName + ".index." + std::to_string(m_nCurrent);
    if (!pepmass && problem.empty()) problem = "no PEPMASS line";
    if (!chargeProblem.empty()) {
        z = 0;
        problem += (problem.empty() ? "" : "; ") + chargeProblem;
    }
    if (!problem.empty()) _Warn(m_strPath, number, s.m_strTitle, problem + ": the precursor is unknown, so the spectrum is not sequenced");
    if (how == EBlockEnd::NEXT_BEGIN)
        _Warn(m_strPath, number, s.m_strTitle, "BEGIN IONS comes before this block's END IONS; the block ends there");
    s.m_lfPrecursorMH = mass::MHOfMz(mz, z);
    s.m_nCharge = z;
    return how;
}
