#pragma once
// Reader of MS2 files (S / Z / I lines and peak lines). Titles are composed
// as "BASE.SCAN.SCAN.CHARGE.dta" (at most 299 characters), where BASE is the
// file name without folders and without the part from its last '.'.
// [M+H]+ (Da) and charge come from the spectrum's last Z line, or carry over
// from the spectrum before within one Browse call; peaks come out sorted by
// m/z (std::sort with CPeak::Mz_Less). Peaks whose m/z or intensity is not
// finite are dropped. m_nScan is the S line's first number; "I RTime" (minutes)
// and "I ActivationType" fill m_lfRetentionTime (seconds) and
// m_strActivationRead.

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>

#include "input/LineFileInput.h"

class CMS2Input : public CLineFileInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;

    // File name of path without folders and without the part from its last
    // '.' ("/x/run1.ms2" and "run1.ms2" give "run1", "noext" stays).
    static std::string BaseName(const std::string& path);

private:
    // An I line's RTime / ActivationType field, text after the 'I'.
    static void _ReadInfo(const char* p, const char* end, CSpectrum& s);

    std::string m_strBaseName;  // file name without folders and extension
    std::istringstream m_issZ;       // reused for the Z lines' stream extraction
};
