#pragma once
// What matching one peptide against one spectrum found: the scorer's answer,
// from which evidence, features and confidences are computed.

#include <vector>

// What a caller asks the scorer for beyond the score (bits).
enum EMatchDetail : unsigned {
    kMatchScore = 0,
    kMatchSites = 1,   // vSites
    kMatchSums = 2,    // matched intensity, error weights and peak count
    kMatchTotal = 4,   // lfTotalTerm
};

struct CPeptideMatch {
    double lfScore = 0.0;             // peak + enzyme + run terms
    // Per cleavage site k (between residues k and k+1): bit 1 a prefix ion
    // matched, bit 2 a suffix ion matched. len - 1 entries.
    std::vector<unsigned char> vSites;
    // Over the peaks matched by any of the peptide's ions (prefix, suffix,
    // neutral losses, a ions, internal fragments): their summed relative
    // intensity, the sum of their error weights (1 at an exact match) and
    // their number.
    double lfMatchedIntensity = 0.0;
    double lfMatchWeights = 0.0;
    int nMatchedPeaks = 0;
    // What the peptide would score if every peak were matched exactly (peak
    // and enzyme terms): the scale of a confidence comparable between spectra.
    double lfTotalTerm = 0.0;

    static constexpr unsigned char kPrefixIon = 1;
    static constexpr unsigned char kSuffixIon = 2;
};
