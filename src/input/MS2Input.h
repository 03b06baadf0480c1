#pragma once
// Reader of MS2 files (S / Z / I lines and peak lines), lines read whole (a
// line longer than 1 MiB is cut, with a warning), after a byte-order mark.
//
// An S line opens a scan; its Z lines ("Z charge [M+H]+") each make one
// spectrum of that scan, in the order of the Z lines, all with the scan's
// peaks, as every MS2 reader does. Count counts them the same way. Titles
// are composed as "BASE.SCAN.SCAN.CHARGE.dta" (at most 299 characters), where
// BASE is the file name without folders and without the part from its last
// '.', so the spectra of one scan differ by their charge. Peaks come out
// sorted by m/z (std::sort with CPeak::Mz_Less); peaks whose m/z or
// intensity is not finite are dropped. m_nScan is the S line's first number;
// "I RTime" (minutes) and "I ActivationType" fill m_lfRetentionTime (seconds)
// and m_strActivationRead.
//
// Problems are warnings naming the file and the spectrum; nothing carries
// over from one scan to the next. A Z line without a charge ("Z abc", a bare
// "Z") is ignored; a scan without a Z line that has a charge is one spectrum
// of charge 0 and [M+H]+ NaN, a Z line without a mass gives [M+H]+ NaN, and a
// negative charge or one above INT_MAX gives charge 0: all of these are
// impossible precursors to the sequencer. A scan number that is negative or
// above INT_MAX is "not given" (-1).

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "input/LineFileInput.h"

class CMS2Input : public CLineFileInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;

    // File name of path without folders and without the part from its last
    // '.' ("/x/run1.ms2" and "run1.ms2" give "run1", "noext" stays).
    static std::string BaseName(const std::string& path);

private:
    // One Z line of the scan being read.
    struct CZ {
        int nCharge = 0;
        double lfMH = 0.0;
    };
    // Reads the next scan into m_vPending, one spectrum per Z line; false at
    // the end of the file.
    bool _ReadScan();
    // An I line's RTime / ActivationType field, text after the 'I'.
    static void _ReadInfo(const char* p, const char* end, CSpectrum& s);

    std::string m_strBaseName;        // file name without folders and extension
    std::vector<CSpectrum> m_vPending;  // spectra of the last scan read, not yet delivered
    size_t m_nPendingNext = 0;          // next of them to deliver
    std::vector<CPeak> m_vPeaks;        // the scan's peaks while it is read
    std::vector<CZ> m_vZ;               // the scan's Z lines while it is read
};
