#pragma once
// How well a run's results agree with known peptides: reads a truth file
// (title<TAB>peptide[<TAB>...]) and the rank-1 peptide and confidence (or
// score) of every record of a result file (native, TSV or mzTab, through
// CResultReader), and measures peptide recall (exact and by the mass rule),
// top-k recall, amino-acid precision and recall, and the precision-coverage
// curve. The subcommand around it is in EvaluateCommand.h.
//
// Peptide text, both files: capital residue letters, each optionally
// followed by mass deltas "[+15.995]" / "[-17.027]"; an N-terminal delta as
// a leading "[+42.011]-"; a C-terminal delta as a trailing "-[+0.984]". The
// result file's marks "n" (leading) and "c" (trailing) stand for a terminal
// modification whose mass the file does not give.
//
// Comparison rules:
//  - I and L are one residue.
//  - Carbamidomethyl (C[+57.021], within 0.01 Da) is a fixed modification:
//    it is dropped, so C and C[+57.021] are the same residue (mass 160.03065).
//  - A residue's delta is the sum of its own deltas; an N-terminal delta
//    belongs to the first residue, a C-terminal one to the last. Exactly
//    equal peptides have the same residues and every residue's delta agrees
//    within 0.01 Da (an unmodified residue has delta 0, so it never equals a
//    residue with a variable modification). A result mark "n"/"c" agrees
//    with any non-zero terminal delta of the truth.
//  - Mass rule: walking both peptides from the N terminus, a predicted
//    residue matches when its prefix mass (up to and including it) agrees
//    with a truth prefix mass within 0.5 Da and the two residue masses within
//    0.1 Da. A peptide matches by mass when all its residues match and both
//    have the same length.

#include <string>
#include <vector>

// One peptide as the comparison sees it: residues (I written as L) and the
// mass delta of each residue in Da, parallel vectors.
struct CEvalPeptide {
    std::string strResidues;
    std::vector<double> vDeltas;
    bool bNTermMark = false;  // result "n": N-terminal modification of unknown mass
    bool bCTermMark = false;  // result "c"
};

// One spectrum's truth and its rank-1 result.
struct CEvalEntry {
    std::string strTitle;
    std::string strTruthText;   // the truth peptide as written
    CEvalPeptide truth;
    bool bFound = false;        // the results have a record with this title
    bool bHasResult = false;    // ... and it has a rank-1 peptide
    CEvalPeptide result;
    std::string strResultText;  // the rank-1 peptide as written
    double lfScore = 0.0;       // rank-1 confidence, or its score when the file gives none
    int nTruthRank = 0;  // first rank (1..kTopListed) whose peptide equals the truth exactly; 0: none
};

// Ranks searched for the truth by the top-k recall line.
constexpr int kTopListed = 50;

// The figures of one evaluation.
struct CEvalFigures {
    int nTruth = 0;            // spectra with a truth peptide
    int nFound = 0;            // ... whose title has a record in the results
    int nWithResult = 0;       // ... that have a rank-1 result
    int nExact = 0;            // rank-1 exactly equal (rules above)
    int nTopListed = 0;        // exactly equal at some rank up to kTopListed
    int nMass = 0;             // rank-1 equal by the mass rule
    long long nPredictedAA = 0, nTruthAA = 0, nMatchedAA = 0;
    // Precision-coverage curve: spectra with a result sorted by descending
    // rank-1 score; point k (1-based) has coverage k / nTruth and precision
    // (exact matches among the first k) / k.
    std::vector<double> vCoverage, vPrecision;
    double lfArea = 0.0;       // area under the curve, coverage axis 0..1
    // Precision where the curve reaches half the spectra with a known
    // peptide (the first ceil(nTruth / 2) results); -1 when it never does.
    double lfPrecisionAtHalf = -1.0;

    double ExactRecall() const { return nTruth ? double(nExact) / nTruth : 0.0; }
    double MassRecall() const { return nTruth ? double(nMass) / nTruth : 0.0; }
    double AAPrecision() const { return nPredictedAA ? double(nMatchedAA) / double(nPredictedAA) : 0.0; }
    double AARecall() const { return nTruthAA ? double(nMatchedAA) / double(nTruthAA) : 0.0; }
};

class CEvaluate {
public:
    // Parses a peptide in the notation above; false when the text is none.
    static bool ParsePeptide(const std::string& text, CEvalPeptide& out);
    static bool ExactMatch(const CEvalPeptide& result, const CEvalPeptide& truth);
    // Number of predicted residues matched by the mass rule.
    static int MassMatchedResidues(const CEvalPeptide& result, const CEvalPeptide& truth);

    // Truth lines "title<TAB>peptide..."; a line whose peptide does not parse
    // (a header) is skipped. False when the file cannot be read.
    bool ReadTruth(const std::string& path);
    // A result file in any format CResultReader reads: the first record of
    // a truth title that has a peptide gives the rank-1 peptide and its
    // confidence (its score when the file gives none); its first kTopListed
    // peptides are searched for the truth. False, with the reason, when the
    // file cannot be read.
    bool ReadResults(const std::string& path, std::string& error);
    CEvalFigures Compute() const;

    std::vector<CEvalEntry> m_vEntries;  // truth order
    // Of the last ReadResults: records read, and the first one's title (to
    // show when no title matches).
    long long m_nRecords = 0;
    std::string m_strFirstResultTitle;
};
