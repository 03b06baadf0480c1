#include "input/MS2Input.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::string CMS2Input::BaseName(const std::string& path) { return textscan::FileBaseName(path); }

namespace {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Z lines that make a spectrum: those that hold a charge.
inline bool HasCharge(const char* line, size_t len, int& z, const char** after) {
    return textscan::ReadCharge(line + 1, line + len, z, after) != textscan::ECharge::NONE;
}

class CScanCounter : public textscan::CLineCounter {
public:
    void Line(const char* line, size_t len) override {
        if (len == 0) return;
        if (line[0] == 'S') {
            _EndScan();
            m_bInScan = true;
        } else if (m_bInScan && line[0] == 'Z') {
            int z = 0;
            if (HasCharge(line, len, z, nullptr)) ++m_nZ;
        }
    }
    unsigned int Total() override {
        _EndScan();
        return m_nCount;
    }

private:
    void _EndScan() {
        if (m_bInScan) m_nCount += std::max(1u, m_nZ);
        m_bInScan = false;
        m_nZ = 0;
    }
    unsigned int m_nCount = 0;
    unsigned int m_nZ = 0;
    bool m_bInScan = false;
};

}  // namespace

unsigned int CMS2Input::Count(const std::string& path) {
    m_strBaseName = BaseName(path);
    m_vPending.clear();
    m_nPendingNext = 0;
    CScanCounter counter;
    return _Open(path, counter);
}

unsigned int CMS2Input::Browse(std::vector<CSpectrum>& out, unsigned int n) {
    unsigned int left = m_nTotal - m_nCurrent;
    unsigned int limit = m_nCurrent + (n < left ? n : left);
    if (m_fp == nullptr || m_nCurrent >= limit) return 0;
    const unsigned int start = m_nCurrent;
    while (m_nCurrent < limit) {
        if (m_nPendingNext == m_vPending.size() && !_ReadScan()) break;
        out.push_back(std::move(m_vPending[m_nPendingNext++]));
        ++m_nCurrent;
    }
    return _EndBrowse(start);
}

bool CMS2Input::_ReadScan() {
    m_vPending.clear();
    m_nPendingNext = 0;
    const unsigned long long number = m_nCurrent + 1;  // of the scan's first spectrum
    const char* line;
    size_t len;
    do {
        if (!_NextLine(line, len, number)) return false;
    } while (len == 0 || line[0] != 'S');
    int scan = -1;
    if (!textscan::ReadScan(line + 1, line + len, scan))
        _Warn(m_strPath, number, "", "the S line holds no scan number from 0 to 2147483647; the scan is taken as not given");
    m_vPeaks.clear();
    m_vZ.clear();
    CSpectrum info;  // what the I lines say, for every spectrum of the scan
    std::vector<std::string> problems;
    for (int c = m_reader.Peek(); c != 'S' && c != EOF; c = m_reader.Peek()) {
        _NextLine(line, len, number);
        // The line break is not part of the text.
        if (len > 0 && line[len - 1] == '\n') --len;
        if (len == 0) continue;
        const char* end = line + len;
        const char k = line[0];
        if (k == 'Z') {
            CZ z;
            const char* after = end;
            const textscan::ECharge st = textscan::ReadCharge(line + 1, end, z.nCharge, &after);
            if (st == textscan::ECharge::NONE) {
                problems.push_back("the Z line \"" + std::string(line, end) + "\" holds no charge and is ignored");
                continue;
            }
            if (st != textscan::ECharge::OK) {
                z.nCharge = 0;
                problems.push_back("the Z line \"" + std::string(line, end) + "\" holds " +
                                   (st == textscan::ECharge::NEGATIVE ? "a negative charge" : "a charge out of range") +
                                   "; that spectrum is not sequenced");
            }
            if (!textscan::ReadDouble(after, end, z.lfMH)) {
                z.lfMH = std::numeric_limits<double>::quiet_NaN();
                problems.push_back("the Z line \"" + std::string(line, end) +
                                   "\" holds no [M+H]+; that spectrum is not sequenced");
            }
            m_vZ.push_back(z);
        } else if (k == 'I') {
            _ReadInfo(line + 1, end, info);
        } else if (k >= '0' && k <= '9') {
            CPeak p;
            textscan::ScanTwoDoubles(line, end, p.lfMz, p.lfIntensity);
            if (std::isfinite(p.lfMz) && std::isfinite(p.lfIntensity)) m_vPeaks.push_back(p);
        }
    }
    if (m_vZ.empty()) {
        m_vZ.push_back({0, std::numeric_limits<double>::quiet_NaN()});
        problems.push_back("the scan has no Z line with a charge: the precursor is unknown, so it is not sequenced");
    }
    std::sort(m_vPeaks.begin(), m_vPeaks.end(), CPeak::Mz_Less);
    char title[300];
    for (const CZ& z : m_vZ) {
        CSpectrum& s = m_vPending.emplace_back();
        s.m_vPeaks = m_vPeaks;
        s.m_nCharge = z.nCharge;
        s.m_lfPrecursorMH = z.lfMH;
        s.m_nScan = scan;
        s.m_lfRetentionTime = info.m_lfRetentionTime;
        s.m_strActivationRead = info.m_strActivationRead;
        std::snprintf(title, sizeof title, "%s.%d.%d.%d.dta", m_strBaseName.c_str(), scan, scan, z.nCharge);
        s.m_strTitle = title;
    }
    for (const std::string& p : problems) _Warn(m_strPath, number, m_vPending[0].m_strTitle, p);
    return true;
}

void CMS2Input::_ReadInfo(const char* p, const char* end, CSpectrum& s) {
    // "I <key> <value>", fields separated by tabs (or spaces).
    while (p < end && IsBlank(*p)) ++p;
    const char* key = p;
    while (p < end && !IsBlank(*p)) ++p;
    const std::string_view k(key, static_cast<size_t>(p - key));
    if (k == "RTime") {
        s.m_lfRetentionTime = textscan::Atof(p, end) * 60.0;  // minutes in the file
    } else if (k == "ActivationType") {
        s.m_strActivationRead = textscan::ActivationName(p, end);
    }
}
