#pragma once
// What the table writers (tab-separated and mzTab) need of one work unit:
// its spectra, where they come from, what became of them and the ranked
// candidates; and the peptide forms every writer shares.

#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "graph/CandidateGen.h"
#include "input/Spectrum.h"

struct COutputUnit {
    const CSpectrum* pFirst = nullptr;   // HCD side of a pair, or the lone spectrum (as read)
    const CSpectrum* pSecond = nullptr;  // ETD side of a pair
    int nFirstRun = 1;                   // 1-based number of the file pFirst comes from
    int nSecondRun = 2;                  // and pSecond
    long long nRecord = 0;               // 0-based record number, as S<nRecord + 1>
    const char* szStatus = "";           // "sequenced", "no_candidate", "no_peaks_after_cleaning",
                                         // "outside_mass_window" or "impossible_precursor"
    const std::vector<CResult>* pResults = nullptr;  // ranked candidates; null when none were made
    size_t nShown = 0;                   // how many of them are written
};

// The residues of a result as plain letters (modifications dropped).
std::string PlainSequence(const CResult& r, const CCondition& c);
// ProForma 2.0 form: residue masses that differ from the built-in ones and
// variable modifications as mass deltas on the residue ("C[+57.0215]",
// "M[+15.9949]"), terminal modifications as "[+42.0106]-PEPTIDE" /
// "PEPTIDE-[-0.984]".
std::string ProForma(const CResult& r, const CCondition& c);
// [M+H]+ of a result (residues, terminal shifts, water, proton), Da.
double ResultMH(const CResult& r, const CCondition& c);
// m/z of an [M+H]+ at charge z.
double MzOfMH(double mh, int z);
// A mass delta as "+57.0215" (four decimals, trailing zeros dropped).
std::string Delta(double mass);
