#pragma once
// A corpus of labelled spectra for fitting the fragment model: a folder
// with one subfolder per set, each holding labelled.mgf (TITLE, PEPMASS,
// CHARGE, peaks) and truth.tsv (title<TAB>peptide). The spectra are kept in
// a compact form (peaks ascending by m/z, intensities relative to the base
// peak), joined with their parsed peptides.
//
// Every set has a fragmentation, a fragment tolerance and a label weight.
// The sets this project trains on are listed in a table in the source
// (their instrument and search settings are known); for any other set they
// are inferred from its spectra and labels (InferProfile).
//
// Peptide notation of truth.tsv: capital residue letters, each optionally
// followed by mass deltas "[+57.021]" / "[-17.027]" (summed); an N-terminal
// delta as a leading "[+229.162932]-"; a C-terminal delta as a trailing
// "-[+0.984]" (kept on the last residue, where it has the same effect on
// every fragment mass).

#include <string>
#include <vector>

#include "rerank/FragmentModel.h"

struct CLabelledPeptide {
    std::string strResidues;     // as written (I kept as I)
    std::vector<double> vDeltas; // per residue, Da; C[+57.021] gives 57.021
    double lfNTermDelta = 0.0;   // Da
};

struct CCorpusSpectrum {
    std::string strTitle;
    int nCharge = 0;
    double lfPrecursorMH = 0.0;    // [M+H]+, Da
    std::vector<double> vMz;       // ascending
    std::vector<float> vIntensity; // parallel to vMz, relative to the most intense peak (0..1]
    CLabelledPeptide peptide;
    double lfWeight = 1.0;         // fitting weight: the set's label weight over sqrt(copies of the peptide)
};

struct CCorpusSet {
    std::string strName;
    EFragmentKind eFragmentation = EFragmentKind::HCD;
    double lfFragmentTol = 0.02;  // Da, half-width of a fragment's window
    double lfLabelWeight = 1.0;   // below 1: labels less certain (wide precursor windows)
    bool bListed = false;         // profile from the table of known sets, not inferred
    std::vector<CCorpusSpectrum> vSpectra;
};

class CTrainingCorpus {
public:
    // Fragment tolerances by fragment accuracy (Da).
    static constexpr double kHighResTol = 0.02;
    static constexpr double kQtofTol = 0.05;
    static constexpr double kLowResTol = 0.5;

    // Reads every subfolder of folder that holds labelled.mgf and truth.tsv,
    // in byte order of the names. Spectra without a truth line, or whose
    // peptide does not parse or is longer than the model takes, are left
    // out (counted in m_nSkipped). False with the reason in error when the
    // folder cannot be listed or holds no set.
    bool Load(const std::string& folder, std::string& error);
    // Reads one set folder; false when either file cannot be read.
    bool LoadSet(const std::string& folder, const std::string& name, CCorpusSet& out, std::string& error);

    // False when the text is no peptide in the notation above.
    static bool ParsePeptide(const std::string& text, CLabelledPeptide& out);

    // Fragmentation and tolerance of a set from its spectra: the fragment
    // accuracy from how far the labelled peptides' b/y (or c/z) ions lie
    // from their nearest peaks, ETD when c/z ions match more peaks than b/y,
    // CID for low-resolution b/y spectra, HCD otherwise.
    static void InferProfile(CCorpusSet& set);
    // The table's profile of a listed set: false when name is not listed.
    static bool ListedProfile(const std::string& name, CCorpusSet& set);

    // out[i] = relative intensity of the most intense peak within tol of
    // mz[i], 0 when there is none.
    static void MatchIons(const CCorpusSpectrum& s, const double* mz, int n, double tol, double* out);

    size_t SpectrumCount() const;

    std::vector<CCorpusSet> m_vSets;
    int m_nSkipped = 0;
};
