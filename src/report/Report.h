#pragma once
// The end of one unit's sequencing: its candidates expanded into distinct
// peptides, each scored against the unit's spectra as read, weighed by its
// fragment evidence, ranked (by a learned model where one is set) and given
// its confidences. One report per worker; its buffers keep their capacity
// from unit to unit, so a candidate costs no allocation once they have grown.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "records/Candidate.h"
#include "records/PeptideMatch.h"
#include "records/Result.h"
#include "records/WorkUnit.h"
#include "rerank/Features.h"
#include "scoring/BM25Score.h"

class CReport {
public:
    explicit CReport(const CCondition* pCondition) : m_pCondition(pCondition), m_scorer(pCondition) {}
    CReport(const CReport&) = delete;
    CReport& operator=(const CReport&) = delete;

    // The ranked peptides of `unit` from its candidates (weakest first, as
    // the candidate list drains) into out.vPeptides; with withFeatures also
    // the re-ranking features of the leading peptides into out.vFeatures.
    void Report_unknowResult(const CWorkUnit& unit, const std::vector<CCandidate>& candidates, bool withFeatures,
                             CUnitResult& out);
    // How many leading peptides the caller reads (0: the whole list, in
    // order). With evidence ties the order is total, so ranking only that
    // many out of thousands gives the same leading peptides in the same
    // order; the rest are left out.
    void SetRankedLead(size_t lead) { m_nRankedLead = lead; }

private:
    size_t m_nRankedLead = 0;
    // One peptide spelled by the candidates, with the heaviest path weight
    // that spelled it; the first m_nSpelled entries are live (the rest keep
    // their capacity).
    struct CSpelled {
        std::string strPeptide;
        double lfPathWeight = 0.0;
        bool bShifted = false;  // from the graph of the precursor one 13C lighter
    };
    // Most peptides spelled for one spectrum (max_spelled, at least 1).
    size_t _SpellCap() const { return static_cast<size_t>(std::max(1, m_pCondition->m_nMaxSpelled)); }
    // The named steps of Report_unknowResult.
    void _Spell(const std::string& text, double pathWeight, bool shifted);
    void _SpellAll(const std::vector<CCandidate>& candidates, bool evidence);
    // Scores every spelled peptide into m_vScored[0, m_nScored).
    void _ScoreAll(EMode mode, bool evidence);
    void _ScoreOne(const std::string& code, double pathWeight, bool shifted, EMode mode, bool evidence);
    // Cleavage sites without a matched ion (sites of the scored peptide),
    // the path weight, and the penalty for each missing site.
    void _WeighEvidence(CResult& r, EMode mode, double pathWeight) const;
    void _Rank(std::vector<CResult>& results);
    // Features of the leading peptides and, with a model, its order and
    // calibrated confidences; returns how many peptides have features.
    size_t _Rerank(EMode mode, bool allFeatures, std::vector<CResult>& results);
    void _Confidences(EMode mode, bool modelRanked, std::vector<CResult>& results);
    void _SetScoringSpectra(const CWorkUnit& unit);
    const CSpectrum& _FeatureSpectrum(EMode mode) const { return mode == EMode::ETD ? m_scoreB : m_scoreA; }
    const std::vector<CIonType>& _FeatureIons(EMode mode) const {
        return mode == EMode::ETD ? m_pCondition->m_vETDIonTypes : m_pCondition->m_vHCDIonTypes;
    }

    const CCondition* m_pCondition;
    CBM25Score m_scorer;
    CFeatures m_features;
    // Copies of the unit's spectra as read, with their hash tables: the
    // HCD side (A) and the ETD side (B).
    CSpectrum m_scoreA, m_scoreB;
    std::vector<CSpelled> m_vSpelled;
    size_t m_nSpelled = 0;
    // Sort records: a peptide's first 24 (ranking: 16) bytes as big-endian words
    // (byte order of the words = byte order of the texts, where they
    // differ), the rest of the comparison's fields, and the position.
    struct CSpellKey {
        uint64_t nWords[3];  // bytes 0..23
        unsigned int nLength, nAt;
    };
    struct CRankKey {
        double lfScore;
        int nMissing, nBeforeP;
        double lfPathWeight;
        uint64_t nHead, nNext;
        unsigned int nAt;
    };
    std::vector<CSpellKey> m_vSpellKeys;  // after _SpellAll: the spelled peptides in sort order
    // The byte order of the two spelled texts (<0, 0, >0), from their keys
    // where they decide it.
    int _CompareSpelledText(const CSpellKey& a, const CSpellKey& b) const;
    std::vector<CRankKey> m_vRankKeys;
    // _Spell's scratch: the groups of one text (where each starts and ends,
    // its orders as consecutive runs of nLength codes in m_strSpellOrders)
    // and the order each one takes in the peptide being spelled.
    struct CSpellGroup {
        size_t nAt = 0, nEnd = 0, nFirst = 0, nLength = 0, nOrders = 0;
        size_t nOut = 0;  // where its residues sit in the spelled peptide
    };
    std::vector<CSpellGroup> m_vSpellGroups;
    std::vector<size_t> m_vSpellDigits;
    // The text spelled with every group in its first order; each
    // combination copies it and writes the other orders over it.
    std::string m_strSpellOrders, m_strSpellScratch, m_strSpellBase;
    std::set<std::string> m_setPeptides;    // without evidence: the peptides in byte order
    std::vector<unsigned int> m_vOrder;     // ranking permutation
    std::vector<CResult> m_vSorted;
    // The scored peptides of the spectrum in hand; the entries keep their
    // texts' storage from spectrum to spectrum, so scoring thousands of
    // peptides allocates nothing. _Rank copies the ranked ones out.
    std::vector<CResult> m_vScored;
    size_t m_nScored = 0;
    CPeptideMatch m_matchA, m_matchB;       // scratch of the two sides' matches
};
