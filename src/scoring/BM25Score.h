#pragma once
// BM25-style score of one peptide against one spectrum (as read and
// normalised, not preprocessed): theoretical fragment m/z of every ion type
// matched within the fragment tolerance, ppm-weighted saturating terms,
// enzyme-terminus and run bonuses. One scorer per worker; tables grow with
// the longest peptide and the largest spectrum and are reused.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"
#include "records/PeptideMatch.h"
#include "records/Result.h"

class CBM25Score {
public:
    explicit CBM25Score(const CCondition* pCondition);
    virtual ~CBM25Score() = default;

    // The score of the peptide's ions of the given types against spec, whose
    // hash table must be current for its peaks.
    double Score(const CResult& peptide, const std::vector<CIonType>& ions, const CSpectrum& spec);
    // The score and, as the EMatchDetail bits of `detail` ask, what else the
    // matching found, in out (its vectors keep their capacity).
    void Match(const CResult& peptide, const std::vector<CIonType>& ions, const CSpectrum& spec, unsigned detail,
               CPeptideMatch& out);

    void _ComputeMZandMatch(const CResult& peptide, const std::vector<CIonType>& ions, const CSpectrum& spec);
    // The score of the tables the last _ComputeMZandMatch filled; the sums
    // and the total term go to out when detail asks for them.
    double _BM25(const CResult& peptide, const CSpectrum& spec, unsigned detail, CPeptideMatch* out);
    bool _find_and_match(const double& mz, const CResult& peptide, const CSpectrum& spec, const unsigned int& site,
                         const bool& prefix);
    int _Match(const double& mz, const CSpectrum& spec);

    // Lets the scorer remember, for the spectra a and b (either may be null),
    // which peak each theoretical m/z matched: a spectrum's report scores
    // hundreds of peptides that share most of their fragment masses. Valid
    // only while those spectra stay unchanged; ForgetSpectra ends it. Results
    // are the same with or without it.
    void RememberSpectra(const CSpectrum* a, const CSpectrum* b);
    void ForgetSpectra() { RememberSpectra(nullptr, nullptr); }

    static constexpr int NO_PEAK = 2147483647;
    static constexpr unsigned int MARKER = static_cast<unsigned int>(-1);

    const CCondition* m_pCondition;
    std::vector<double> m_vBScore;     // per cleavage site, prefix-ion terms
    std::vector<double> m_vYScore;     // per cleavage site, suffix-ion terms
    std::vector<double> m_vPeakError;  // per peak, smallest error factor; 10000.0: unmatched
    double m_lfLengthRatio = 0.0;
    double m_lfSaturationNorm = 0.0;   // the saturation's length term, set with the ratio

private:
    // One remembered match: theoretical m/z (its bits), the peak chosen and
    // its error weight and factor.
    struct CMatchMemo {
        uint64_t nKey = 0;
        uint32_t nGeneration = 0;
        int nPeak = NO_PEAK;
        double lfWeight = 0.0, lfFactor = 0.0;
    };
    // What matching reads of a spectrum and of the tolerance, gathered once
    // per peptide.
    struct CSpecView {
        CMatchMemo* pMemo = nullptr;  // null: nothing is remembered for this spectrum
        int nSlot = -1;               // which remembered spectrum (with pMemo)
        const CPeak* pPeaks = nullptr;
        size_t nPeaks = 0;
        const int* pHash = nullptr;
        double lfHashSize = 0.0;
        bool bPpm = false;
        double lfTol = 0.0;
        // Remembered spectra only: one bit per 1/kBinsPerDa of m/z, set
        // where some peak lies within the tolerance; m/z at or above
        // lfOccupiedTop match nothing.
        const uint64_t* pOccupied = nullptr;
        double lfOccupiedTop = 0.0;
    };
    CSpecView _View(const CSpectrum& spec);
    // The matching steps run a hundred times per peptide: these forms are
    // inlined into the scoring loops (a call's register traffic cost as much
    // as the match itself); the public forms above call them.
    static int _Match(double mz, const CSpecView& v);
    // The peak matched (NO_PEAK: none).
    int _find_and_match(double mz, size_t len, const CSpecView& v, unsigned int site, bool prefix);
    // Saturating term of a relative intensity under the current length ratio.
    double _Saturation(double intensity) const;

    // A match lowers the peak's error factor; the peak is noted as touched,
    // so the sums and the next reset visit only the touched peaks.
    void _Mark(size_t peak, double factor) {
        m_vPeakError[peak] = std::min(m_vPeakError[peak], factor);
        m_vTouched[peak >> 6] |= uint64_t{1} << (peak & 63);
        m_nTouchedWords = std::max(m_nTouchedWords, (peak >> 6) + 1);
    }
    void _ResetPeaks(size_t n);
    std::vector<uint64_t> m_vTouched;  // bit per peak: touched since the last reset (covers m_vPeakError)
    size_t m_nCleanPeaks = 0;          // entries below this are unmatched unless touched
    size_t m_nTouchedWords = 0;        // words of m_vTouched that may hold a bit

    // Per-peptide residue masses and their prefix / suffix sums, Da.
    std::vector<double> m_vResidue, m_vPrefix, m_vSuffix;
    // Site entries the last peptide may have written (its length).
    size_t m_nDirtySites = 0;
    // Direct-mapped match memories of the remembered spectra.
    std::vector<CMatchMemo> m_vMemo[2];
    const CSpectrum* m_pMemoSpec[2] = {nullptr, nullptr};
    uint32_t m_nMemoGen = 0;
    // While Match asks for the ions' peaks: where they go.
    std::vector<int>* m_pIonPeaks = nullptr;

    // What the prefix ions and the internal fragments of one peptide did to
    // the tables, grouped by the last prefix mass they depend on: the next
    // peptide of a report (they come in byte order) usually shares most of
    // its prefix, and the groups of the shared part are replayed instead of
    // matched again. An effect lowers a peak's error factor and, for a
    // prefix ion (nSite != MARKER), adds its term to the site.
    struct CEffect {
        int nPeak;
        unsigned int nSite;
        double lfWeight, lfFactor;
    };
    struct CSuffixGroup {
        uint64_t nKey = 0;
        uint32_t nGeneration = 0;
        uint32_t nFirst = 0, nCount = 0;
    };
    struct CReplay {
        bool bValid = false;
        const std::vector<CIonType>* pIons = nullptr;
        std::string strPeptide;
        double lfNTermShift = 0.0;
        std::vector<CEffect> vEffects;
        std::vector<uint32_t> vGroupEnd;  // per prefix position, end of its effects
        // Sums over the whole spectrum, the same for every peptide (the
        // total term for every peptide of one length): -1 until computed.
        double lfIntensitySum = -1.0;
        std::vector<double> vTotalByLength;
        // The suffix ions of one suffix mass, whatever peptide it ends:
        // direct-mapped by the mass's bits, effects in vSuffixEffects.
        std::vector<CSuffixGroup> vSuffix;
        const std::vector<CIonType>* pSuffixIons = nullptr;  // the ion types it holds
        std::vector<CEffect> vSuffixEffects;
    };
    CReplay m_replay[2];
    // Where a remembered spectrum can match at all (see CSpecView): most
    // theoretical m/z fall between peaks, and one bit answers them without
    // the match memory's slot, which misses the cache far more often.
    static constexpr double kBinsPerDa = 64.0;
    std::vector<uint64_t> m_vOccupied[2];
    bool m_bOccupied[2] = {false, false};
    void _BuildOccupied(int slot, const CSpectrum& spec);
    std::vector<CEffect>* m_pRecord = nullptr;  // effects being recorded, or null
    // The matches depending on the prefix mass at position k: prefix ions of
    // site k and, with `internal`, internal fragments ending at residue k.
    void _MatchPrefixGroup(size_t k, const std::vector<CIonType>& ions, const CSpectrum& spec, const CSpecView& view,
                           bool internal);
    // Replays the first `groups` groups of the last peptide matched against
    // the remembered spectrum of `rp`.
    void _Replay(const CReplay& rp, size_t groups, const CSpecView& view);
    // One ion of a series at mz: its term to the site, the peak it matched
    // (in slot of the ions' peaks, when asked for) and its neutral losses.
    void _MatchSeriesIon(const CIonType& ion, double mz, size_t len, const CSpecView& view, unsigned int site,
                         bool prefix, size_t slot);
    // The suffix ions of the suffix of l residues, their terms to site
    // len - 1 - l; remembered by suffix mass in rp when given (which
    // _ReplaySuffix did not find there).
    // The suffix ions of the suffix of l residues replayed from rp's
    // memory when it holds them (inlined into the scoring loop: most
    // suffixes were met before); false when they must be matched.
    bool _ReplaySuffix(size_t l, const CSpecView& view, const CReplay& rp);
    void _MatchSuffixGroup(size_t l, const std::vector<CIonType>& ions, const CSpectrum& spec, const CSpecView& view,
                           CReplay* rp);
};
