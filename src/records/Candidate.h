#pragma once
// A candidate peptide as the graph spells it from one path, before it is
// expanded into concrete peptides and scored.

#include <string>

// Text: the labels chosen along a path, a two-residue label wrapped in
// parentheses ("(GA)"), two residues whose order is open as the bracket
// group "[AG/GA]". Characters are residue codes (capital letters, small
// letters for an N-terminal modification, 1..26 for a C-terminal one, the
// codes of variable modifications).
struct CCandidate {
    std::string strText;
    double lfPathWeight = 0.0;  // sum of the path's integer edge weights
    int nDoubleSteps = 0;       // residues in the text minus edges on the path
    bool bShifted = false;      // from the graph of the precursor one 13C lighter
};

// Order of the bounded candidate queue: the top is the weakest candidate
// (most two-residue steps, then lowest path weight).
struct PriorityQueueResultNode_CMP {
    bool operator()(const CCandidate& a, const CCandidate& b) const {
        if (a.nDoubleSteps != b.nDoubleSteps) return a.nDoubleSteps < b.nDoubleSteps;
        return a.lfPathWeight > b.lfPathWeight;
    }
};
