#include "input/MS2Input.h"

#include <algorithm>
#include <cmath>
#include <iostream>

std::string CMS2Input::BaseName(const std::string& path) { return textscan::FileBaseName(path); }

namespace {
inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool StartsWithS(const char* line, size_t len) { return len > 0 && line[0] == 'S'; }
}  // namespace

unsigned int CMS2Input::Count(const std::string& path) {
    m_strBaseName = BaseName(path);
    return _Open(path, StartsWithS);
}

unsigned int CMS2Input::Browse(std::vector<CSpectrum>& out, unsigned int n) {
    unsigned int left = m_nTotal - m_nCurrent;
    unsigned int limit = m_nCurrent + (n < left ? n : left);
    if (m_fp == nullptr || m_nCurrent >= limit) return 0;
    const unsigned int start = m_nCurrent;
    constexpr size_t WHOLE = textscan::CLineReader::WHOLE_LINE;

    // [M+H]+ and charge carry over to a spectrum without a Z line.
    CSpectrum s;
    const char* line;
    size_t len;
    char title[300];
    while (m_nCurrent < limit && m_reader.Next(line, len, WHOLE)) {
        // Lines end with '\n' here; the line break is not part of the text.
        if (len == 0 || line[0] != 'S') continue;
        const int scan = textscan::Atoi(line + 1, line + len);
        s.m_vPeaks.clear();
        s.m_nScan = scan;
        s.m_lfRetentionTime = -1.0;
        s.m_strActivationRead.clear();
        for (int c = m_reader.Peek(); c != 'S' && c != EOF; c = m_reader.Peek()) {
            m_reader.Next(line, len, WHOLE);
            if (len > 0 && line[len - 1] == '\n') --len;
            if (len == 0) continue;
            const char* end = line + len;
            const char k = line[0];
            if (k == 'Z') {
                if (len <= 2) continue;
                m_issZ.clear();
                m_issZ.str(std::string(line + 2, end));
                // Each value is taken only when it could be extracted.
                int charge;
                double mh;
                if (m_issZ >> charge) {
                    s.m_nCharge = charge;
                    if (m_issZ >> mh) s.m_lfPrecursorMH = mh;
                }
            } else if (k == 'I') {
                _ReadInfo(line + 1, end, s);
            } else if (k >= '0' && k <= '9') {
                CPeak p;
                textscan::ScanTwoDoubles(line, end, p.lfMz, p.lfIntensity);
                if (std::isfinite(p.lfMz) && std::isfinite(p.lfIntensity)) s.m_vPeaks.push_back(p);
            }
        }
        std::sort(s.m_vPeaks.begin(), s.m_vPeaks.end(), CPeak::Mz_Less);
        std::snprintf(title, sizeof title, "%s.%d.%d.%d.dta", m_strBaseName.c_str(), scan, scan, s.m_nCharge);
        s.m_strTitle = title;
        s.m_vHashTable.clear();
        out.push_back(s);
        ++m_nCurrent;
    }
    return _EndBrowse(start);
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
