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
    kMatchIons = 8,    // vIonPeaks
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
    // The peak each ion of the scored types matched, by ion type t (their
    // order in the list scored) and cleavage k: vIonPeaks[t * (len - 1) + k]
    // is the index of the peak in the spectrum, -1 when the ion matched none.
    // A prefix ion of cleavage k holds residues 0..k, a suffix ion residues
    // k+1..len-1.
    std::vector<int> vIonPeaks;

    static constexpr unsigned char kPrefixIon = 1;
    static constexpr unsigned char kSuffixIon = 2;
};
