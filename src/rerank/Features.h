#pragma once
// Fragment-evidence features of the scored candidates of one spectrum, the
// input of the learned re-ranking (CRerankModel). One per worker: the rows
// and every table live in buffers that keep their capacity from spectrum to
// spectrum, so a candidate costs no allocation.
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
// spelled the candidate to the list's heaviest.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"
#include "records/PeptideMatch.h"
#include "records/Result.h"

class CRerankModel;

class CFeatures {
public:
    static constexpr size_t kCount = 13;
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
    };
    // The candidates that get features, re-ranked by a model and used to
    // fit one: the first by score. Their prefix masses are also what each
    // one's agreement is measured against.
    static constexpr size_t kDepth = 20;

    // Starts a spectrum's list.
    void Begin(const CSpectrum& spec);
    // The row of a candidate from its match against Begin's spectrum (with
    // its sites and sums).
    void Add(const CResult& r, const CPeptideMatch& match, const CCondition& c);
    // The candidates were reordered: candidate i is now the one that was
    // order[i]; the rows follow.
    void Permute(const std::vector<unsigned int>& order);
    // The list features; results parallel to the rows, best first.
    void Finish(const std::vector<CResult>& results);
    // Model scores and calibrated confidences of the rows, and in order the
    // ranking by model score (ties: the present order).
    void Rerank(const CRerankModel& model, std::vector<unsigned int>& order);

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
};
