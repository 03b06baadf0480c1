#pragma once
// BM25-style score of one candidate peptide against one spectrum (as read
// and normalised, not preprocessed): theoretical fragment m/z of every ion
// type matched within the fragment tolerance, ppm-weighted saturating terms,
// enzyme-terminus and run bonuses. One scorer per worker; tables grow with
// the longest candidate and the largest spectrum and are reused.

#include <cstdint>
#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"

struct CResult;

class CBM25Score {
public:
    explicit CBM25Score(const CCondition* pCondition);
    virtual ~CBM25Score() = default;

    // The spectrum's hash table must be current for its peaks.
    double Score(CResult& candidate, const CSpectrum& spec);

    void _ComputeMZandMatch(CResult& candidate, const CSpectrum& spec);
    double _BM25(CResult& candidate, const CSpectrum& spec);
    bool _find_and_match(const double& mz, CResult& candidate, const CSpectrum& spec, const unsigned int& site,
                         const bool& prefix);
    int _Match(const double& mz, CResult& candidate, const CSpectrum& spec);

    // Lets Score remember, for the spectra a and b (either may be null), which
    // peak each theoretical m/z matched: a spectrum's report scores hundreds
    // of peptides that share most of their fragment masses. Valid only while
    // those spectra stay unchanged; ForgetSpectra ends it. Results are the
    // same with or without it.
    void RememberSpectra(const CSpectrum* a, const CSpectrum* b);
    void ForgetSpectra() { RememberSpectra(nullptr, nullptr); }

    // After Score: marks in covered[k] (k = 0 .. len-2, cleavage site k lies
    // between residues k and k+1) the sites where the last candidate matched
    // a prefix or a suffix ion. covered must hold len-1 entries; marks are
    // only added, so two spectra's evidence can be pooled.
    void MarkCoveredSites(size_t len, std::vector<unsigned char>& covered) const;

    // When set, Score also leaves in m_lfTotalTerm what the candidate would
    // score if every peak were matched exactly (peak and enzyme terms): the
    // scale of a confidence comparable between spectra.
    bool m_bTotalTerm = false;
    double m_lfTotalTerm = 0.0;
    // When set, Score also leaves the summed intensity of the matched peaks,
    // the sum of their error weights (1 / error factor) and their number:
    // the re-ranking features read them without a second pass over the peaks.
    bool m_bMatchSums = false;
    double m_lfMatchedIntensity = 0.0;
    double m_lfMatchWeights = 0.0;
    int m_nMatchedPeaks = 0;

    static constexpr int NO_PEAK = 2147483647;
    static constexpr unsigned int MARKER = static_cast<unsigned int>(-1);

    const CCondition* m_pCondition;
    std::vector<double> m_vBScore;     // per cleavage site, prefix-ion terms
    std::vector<double> m_vYScore;     // per cleavage site, suffix-ion terms
    std::vector<double> m_vPeakError;  // per peak, smallest error factor; 10000.0: unmatched
    double m_lfLengthRatio = 0.0;

private:
    // What matching reads of a spectrum and of the tolerance, gathered once
    // per candidate.
    // One remembered match: theoretical m/z (its bits), the peak chosen and
    // its error weight and factor.
    struct MemoEntry {
        uint64_t key = 0;
        uint32_t gen = 0;
        int j = NO_PEAK;
        double e = 0.0, f = 0.0;
    };
    struct SpecView {
        MemoEntry* memo = nullptr;  // null: nothing is remembered for this spectrum
        const CPeak* peaks = nullptr;
        size_t n = 0;
        const int* hash = nullptr;
        double hashSize = 0.0;
        bool ppm = false;
        double tol = 0.0;
    };
    SpecView _View(const CSpectrum& spec);
    static int _MatchInline(double mz, const SpecView& v);
    bool _FindAndMatchInline(double mz, const CResult& candidate, const SpecView& v, unsigned int site, bool prefix);
    // Saturating term of a relative intensity under the current length ratio.
    double _Saturation(double intensity) const;

    // Per-candidate residue masses and their prefix / suffix sums, Da.
    std::vector<double> m_vResidue, m_vPrefix, m_vSuffix;
    // Site entries the last candidate may have written (its length).
    size_t m_nDirtySites = 0;
    // Direct-mapped match memories of the remembered spectra.
    std::vector<MemoEntry> m_vMemo[2];
    const CSpectrum* m_pMemoSpec[2] = {nullptr, nullptr};
    uint32_t m_nMemoGen = 0;
};
