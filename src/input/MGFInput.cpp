#include "input/MGFInput.h"

#include <cmath>
#include <cstring>
#include <iostream>

namespace {

constexpr double PROTON = 1.00727647012;

inline bool StartsWithBegin(const char* line, size_t len) {
    return len >= 5 && std::memcmp(line, "BEGIN", 5) == 0;
}

// isprint of the C locale.
inline bool IsPrint(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7f;
}

}  // namespace

unsigned int CMGFInput::Count(const std::string& path) {
    m_strBaseName = textscan::FileBaseName(path);
    return _Open(path, StartsWithBegin);
}

unsigned int CMGFInput::Browse(std::vector<CSpectrum>& out, unsigned int n) {
    unsigned int left = m_nTotal - m_nCurrent;
    unsigned int limit = m_nCurrent + (n < left ? n : left);
    if (m_fp == nullptr || m_nCurrent >= limit) return 0;
    const unsigned int start = m_nCurrent;
    constexpr size_t PIECE = textscan::CLineReader::FGETS_PIECE;

    // The precursor field carries over from block to block within a call;
    // everything else is the block's own.
    CSpectrum s;
    const char* line;
    size_t len;
    while (m_nCurrent < limit && m_reader.Next(line, len, PIECE)) {
        if (!StartsWithBegin(line, len)) continue;
        s.m_vPeaks.clear();
        s.m_strTitle.clear();
        s.m_nScan = -1;
        s.m_lfRetentionTime = -1.0;
        s.m_strActivationRead.clear();
        int z = 2;
        bool closed = false;
        while (m_reader.Next(line, len, PIECE)) {
            if (len == 0) continue;
            const char c = line[0];
            if (c == 'E') {
                closed = true;
                break;
            }
            const char* end = line + len;
            if (c >= '0' && c <= '9') {
                CPeak p;
                textscan::ScanTwoDoubles(line, end, p.lfMz, p.lfIntensity);
                // A non-finite value would poison every sort and sum downstream.
                if (std::isfinite(p.lfMz) && std::isfinite(p.lfIntensity)) s.m_vPeaks.push_back(p);
            } else if (c == 'C') {
                // Text after "CHARGE="; a shorter line holds no number.
                z = len > 7 ? textscan::Atoi(line + 7, end) : 0;
            } else if (c == 'P') {
                // Text after "PEPMASS="; a second number (intensity) is ignored.
                s.m_lfPrecursorMH = len > 8 ? textscan::Atof(line + 8, end) : 0.0;
            } else if (c == 'S') {
                if (len > 6 && std::memcmp(line, "SCANS=", 6) == 0) s.m_nScan = textscan::Atoi(line + 6, end);
            } else if (c == 'R') {
                if (len > 12 && std::memcmp(line, "RTINSECONDS=", 12) == 0)
                    s.m_lfRetentionTime = textscan::Atof(line + 12, end);
            } else if (c == 'A') {
                if (len > 11 && std::memcmp(line, "ACTIVATION=", 11) == 0)
                    s.m_strActivationRead = textscan::ActivationName(line + 11, end);
            } else if (c == 'T') {
                // Drop the line end and other control characters, keep spaces.
                size_t l = len;
                while (l > 1 && !IsPrint(line[l - 1])) --l;
                if (l > 6)
                    s.m_strTitle.assign(line + 6, l - 6);
                else
                    s.m_strTitle.clear();
            }
        }
        // An unterminated last block is incomplete: drop it, and say so.
        if (!closed) {
            std::cerr << "[warning]\t" << m_strPath
                      << " ends inside a spectrum block; that incomplete spectrum is skipped." << std::endl;
            break;
        }
        s.m_lfPrecursorMH = static_cast<double>(z) * s.m_lfPrecursorMH - (static_cast<double>(z) - 1.0) * PROTON;
        s.m_nCharge = z;
        if (s.m_strTitle.empty()) s.m_strTitle = m_strBaseName + ".index." + std::to_string(m_nCurrent);
        s.m_vHashTable.clear();
        out.push_back(s);
        ++m_nCurrent;
    }
    return _EndBrowse(start);
}
