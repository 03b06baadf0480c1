#pragma once
// One scored peptide of a spectrum's ranked list.

#include <string>
#include <vector>

struct CResult {
    // Residue codes: capital letters and the codes of variable
    // modifications; terminal modifications are carried by the shifts.
    std::string strPeptide;
    double lfScore = 0.0;          // matching score, after evidence and modification penalties
    double lfNTermShift = 0.0;     // N-terminal modification mass, 0 if none (Da)
    double lfCTermShift = 0.0;     // C-terminal modification mass, 0 if none (Da)
    bool bShifted = false;         // fits only the precursor one 13C lighter
    // Evidence (filled only when a setting asks for it): cleavage sites
    // without any matched prefix or suffix ion, those of them right before a
    // proline, and the heaviest path weight that spelled the peptide.
    int nMissingSites = 0;
    int nMissingBeforeP = 0;
    double lfPathWeight = 0.0;
    // Confidence, 0..1 (only with confidence=1 or a re-ranking model).
    double lfConfidence = 0.0;
    // Per residue, how many of its two sides (the termini count as seen)
    // have a matched fragment ion: 0, 1 or 2 (only for the written peptides
    // with confidence=1).
    std::vector<unsigned char> vResidueSides;

    static bool WEIGHTGREATERonly(const CResult& a, const CResult& b) { return a.lfScore > b.lfScore; }
    // Score, then evidence, then the sequence: a total order, so equal
    // scores always come out in the same order.
    static bool EvidenceGreater(const CResult& a, const CResult& b) {
        if (a.lfScore != b.lfScore) return a.lfScore > b.lfScore;
        if (a.nMissingSites != b.nMissingSites) return a.nMissingSites < b.nMissingSites;
        if (a.nMissingBeforeP != b.nMissingBeforeP) return a.nMissingBeforeP < b.nMissingBeforeP;
        if (a.lfPathWeight != b.lfPathWeight) return a.lfPathWeight > b.lfPathWeight;
        if (a.strPeptide != b.strPeptide) return a.strPeptide < b.strPeptide;
        return a.lfNTermShift < b.lfNTermShift;
    }
};
