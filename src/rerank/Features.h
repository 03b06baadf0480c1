#pragma once
// Evidence features of the scored candidates of one spectrum, the input of
// the learned re-ranking (CRerankModel). One per worker: the rows and every
// table live in buffers that keep their capacity from spectrum to spectrum,
// so a candidate costs no allocation.
//
// Per candidate, from what matching it against the spectrum that gives the
// features (the HCD one of a pair) found: the shares of cleavage sites with a suffix / prefix ion, the share
// of the spectrum's intensity matched by any of its ions (prefix, suffix,
// neutral losses, a ions, internal fragments), the sites without either
// ion, the longest run of sites with one, the mean match error weight (1 at
// an exact match, 0 at the tolerance), the sites before a proline without a
// suffix ion, and a C-terminal K or R. Per list, once all are scored: the
// score gap to the list's best and the agreement of the candidate's prefix
// masses with those of the list's leading candidates. Beyond those: the
// share of sites with both a prefix and a suffix ion, the number of
// variable modifications, and the gap of the heaviest graph path that
// spelled the candidate to the list's heaviest. These thirteen are what a
// linear model (file version 1) reads.
//
// Then the intensity pattern, against a fragment model's prediction for the
// candidate (CFragmentModel; NaN without one): cosine and correlation of
// predicted shares and sqrt(matched intensity) over its b/y (c/z) ions of
// charge 1 and 2, the predicted share of the ions without a peak, their
// product with the cosine and its gap to the list's best, the likelihood of
// which ions were seen under the model's detection curves, and the share of
// the spectrum's strongest peaks (twice as many as the candidate has
// residues) that no predicted ion explains. Then the rest of the evidence:
// the share of its ions matched, the matched ions' isotope peaks (present
// one 13C above, or a stronger peak one 13C below: the match may be another
// ion's isotope; NaN where the tolerance cannot tell isotopes apart), the
// spread and mean of the matched ions' signed m/z errors over the
// tolerance, the precursor error over the precursor tolerance, the mean
// log-odds of its neighbouring residue pairs (CResiduePairs; NaN without a
// table), length, precursor charge and mass, its score and rank by score,
// the longest run of sites without a fragment ion, and whether it fits only
// the precursor one 13C lighter. The immonium ions of its residues (residue
// mass - CO + H+, those the spectrum's m/z range covers): the share of its
// residue types whose immonium peak is there, and the strongest immonium
// peak (relative intensity) of a residue it does not have. Per list, the gaps
// of its cosine, detection likelihood, missed share, unexplained share and
// ion share to the list's largest: what a candidate has to beat is the
// others' evidence, whatever the spectrum's quality. Sums run in one fixed
// order: the same candidate gives the same bits on every machine.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"
#include "records/PeptideMatch.h"
#include "records/Result.h"

class CRerankModel;
class CFragmentModel;
class CResiduePairs;

class CFeatures {
public:
    static constexpr size_t kCount = 41;
    // The features of a linear model (file version 1): the first ones.
    static constexpr size_t kLinearCount = 13;
    static const char* const kNames[kCount];
    enum Index {
        kScoreGap,
        kYSiteShare,
        kBSiteShare,
        kIntensityExplained,
        kSitesWithoutFragment,
        kLongestSupportedRun,
        kMatchErrorWeight,
        kProlineSitesWithoutY,
        kCTermKOrR,
        kPrefixAgreement,
        kBothIonsShare,
        kModifications,
        kPathWeightGap,
        kIntensityCosine,
        kIntensityPearson,
        kPredictedMissedShare,
        kIntensityAgreement,
        kAgreementGap,
        kDetectionLikelihood,
        kUnexplainedTopPeaks,
        kIonShare,
        kIsotopeSupport,
        kIsotopeShadowed,
        kMassErrorSpread,
        kMassErrorMean,
        kPrecursorError,
        kResiduePairs,
        kLength,
        kCharge,
        kPrecursorMass,
        kScore,
        kScoreRank,
        kLongestGap,
        kShiftedPrecursor,
        kCosineGap,
        kDetectionGap,
        kMissedShareGap,
        kUnexplainedGap,
        kIonShareGap,
        kImmoniumSupport,
        kImmoniumAbsent,
    };
    // The candidates that get features, re-ranked by a model and used to
    // fit one: the first by score. Their prefix masses are also what each
    // one's agreement is measured against.
    static constexpr size_t kDepth = 20;

    // The index of a feature name, -1 when there is none of that name.
    static int IndexOf(const std::string& name);

    // Starts a spectrum's list: the spectrum the candidates are matched
    // against (as read, its hash table current), the ion types matched, and
    // the fragment model and residue-pair table for the intensity and pair
    // features (null: those features are NaN). All must outlive the list.
    void Begin(const CSpectrum& spec, const std::vector<CIonType>& ions, const CFragmentModel* fragments,
               const CResiduePairs* pairs);
    // The row of a candidate from its match against Begin's spectrum (with
    // its sites, sums and ion peaks), candidates in score order. Without
    // evidence only the features a linear model reads are filled (the match
    // then needs no ion peaks); the others stay 0.
    void Add(const CResult& r, const CPeptideMatch& match, const CCondition& c, bool evidence = true);
    // Whether a feature is the candidate's own, known once Add has run
    // (the others compare it with the list, in Finish).
    static bool OwnFeature(int index);
    // The candidates were reordered: candidate i is now the one that was
    // order[i]; the rows follow.
    void Permute(const std::vector<unsigned int>& order);
    // The list features; results parallel to the rows, best first.
    void Finish(const std::vector<CResult>& results);
    // Model scores and calibrated confidences of the rows, and in order the
    // ranking by model score (ties: the present order).
    void Rerank(const CRerankModel& model, std::vector<unsigned int>& order);

    // What the calibration reads of a list's model scores: the first
    // candidate (the earliest of equal scores), its softmax share, its
    // margin over the runner-up (capped; the cap for a list of one) and the
    // softmax sum relative to the first.
    struct CListInputs {
        size_t nBest = 0;
        double lfShare = 1.0;
        double lfMargin = 0.0;
        double lfSum = 1.0;
    };
    static CListInputs ListInputs(const double* scores, size_t n);

    size_t Size() const { return m_nRows; }
    const double* Row(size_t i) const { return m_vRows.data() + size_t{m_vIndex[i]} * kCount; }
    double Confidence(size_t i) const { return m_vConfidence[i]; }

private:
    size_t m_nRows = 0;
    double m_lfTotalIntensity = 0.0;
    // Rows in the order they were added; m_vIndex[i]: the row of the
    // candidate now at position i.
    std::vector<double> m_vRows;
    std::vector<unsigned int> m_vIndex;
    double* _Row(size_t i) { return m_vRows.data() + size_t{m_vIndex[i]} * kCount; }
    // Prefix masses of every candidate in 0.01 Da bins: m_vBins[first ..
    // first + count) per row (by row, not position).
    std::vector<int64_t> m_vBins;
    // How many leading candidates pass through a bin: a direct-mapped table
    // (bin, count), entries of older lists told apart by their generation.
    struct CLeadBin {
        int64_t nBin = 0;
        unsigned int nCount = 0;
        unsigned int nGeneration = 0;
    };
    std::vector<CLeadBin> m_vLead;
    unsigned int m_nGeneration = 0;
    size_t m_nLeadMask = 0;
    unsigned int _LeadCount(int64_t bin) const;
    std::vector<unsigned int> m_vBinFirst, m_vBinCount, m_vUintScratch;
    std::vector<double> m_vScore, m_vConfidence, m_vDoubleScratch;
    void _SortByScore(std::vector<unsigned int>& order) const;
    void _RerankBoosted(const CRerankModel& model, std::vector<unsigned int>& order);

    // The evidence beyond the thirteen, into row.
    void _AddEvidence(const CResult& r, const CPeptideMatch& match, const CCondition& c, double* row);
    // The candidate as the fragment model reads it (letters, deltas).
    void _Spell(const CResult& r, const CCondition& c);
    void _AddIntensity(const CPeptideMatch& match, int length, double* row);
    void _AddIonErrors(const CResult& r, const CPeptideMatch& match, const CCondition& c, double* row);
    void _AddImmonium(const CResult& r, const CCondition& c, double* row);
    // The most intense peak of the spectrum within tol of mz; -1: none.
    int _PeakNear(double mz, double tol) const;

    const CSpectrum* m_pSpec = nullptr;
    const std::vector<CIonType>* m_pIons = nullptr;
    const CFragmentModel* m_pFragments = nullptr;
    const CResiduePairs* m_pPairs = nullptr;
    // Per ion type: its slot kind in the fragment model's layout (prefix
    // 1+, 2+, suffix 1+, 2+), -1 for other types.
    std::vector<int> m_vIonKind;
    // The spectrum's peaks by descending intensity (ties by position).
    std::vector<unsigned int> m_vStrongest;
    double m_lfLowestMz = 0.0;
    // Peaks explained by the candidate in hand: stamped with m_nMark.
    std::vector<unsigned int> m_vPeakMark;
    unsigned int m_nMark = 0;
    std::string m_strLetters;
    std::vector<double> m_vDeltas, m_vObserved, m_vIonMz, m_vPrefix;
    double m_lfNTermDelta = 0.0;
    std::vector<float> m_vShares;
};
