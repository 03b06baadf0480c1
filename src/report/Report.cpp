#include "report/Report.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "graph/CandidateGen.h"
#include "rerank/RerankModel.h"

namespace {

bool IsCapital(char c) { return c >= 'A' && c <= 'Z'; }
// Most peptides spelled from one candidate text.
constexpr size_t kMaxSpelledOrders = size_t{1} << 20;
// Path weight taken off per step down a group's list of orders.
constexpr double kOrderStep = 1e-3;
bool IsCTermCode(char c) { return c >= 1 && c <= 26; }

// Copy of a given spectrum with its hash table rebuilt, or an empty spectrum.
void CopyGiven(const CSpectrum* in, CSpectrum& out) {
    if (in != nullptr) {
        out = *in;
        if (!out.m_vPeaks.empty()) out.Create_Hash_Table();
    } else {
        out.m_strTitle.clear();
        out.m_lfPrecursorMH = 0.0;
        out.m_nCharge = 0;
        out.m_vPeaks.clear();
        out.m_vHashTable.clear();
        out.m_strActivation.clear();
    }
}

// Fragment tolerance at m/z 1000 from which spectra count as low-resolution
// (Da): an ion trap's 0.5 Da against an Orbitrap's 0.02 or a Q-TOF's 0.05.
constexpr double kLowResolutionTol = 0.1;

// The bytes at..at+7 of a text (zeros past its end) as a big-endian word:
// two texts whose words differ compare as their words do.
uint64_t HeadWord(const std::string& s, size_t at) {
    unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    if (at < s.size()) std::memcpy(bytes, s.data() + at, std::min<size_t>(8, s.size() - at));
    uint64_t w = 0;
    for (const unsigned char b : bytes) w = (w << 8) | b;
    return w;
}

bool HasHcdSide(EMode m) { return m == EMode::HCD || m == EMode::Paired; }
bool HasEtdSide(EMode m) { return m == EMode::ETD || m == EMode::Paired; }

}  // namespace

void CReport::Report_unknowResult(const CWorkUnit& unit, const std::vector<CCandidate>& candidates,
                                  bool withFeatures, CUnitResult& out) {
    const CCondition& c = *m_pCondition;
    std::vector<CResult>& results = out.vPeptides;
    results.clear();
    out.vFeatures.clear();
    out.nFeatureRows = 0;
    out.nFeatureCount = CFeatures::kCount;
    // Re-ranking (for the model, or features asked for) needs the evidence
    // of the scoring.
    const bool features = c.m_pRerankModel != nullptr || withFeatures;
    const bool evidence =
        c.m_bEvidenceTies || c.m_lfMissingSitePenalty != 0.0 || c.m_bConfidence || c.m_bIsotopeError || features;
    const EMode mode = unit.eMode;

    _SpellAll(candidates, evidence);
    _SetScoringSpectra(unit);
    m_scorer.RememberSpectra(HasHcdSide(mode) ? &m_scoreA : nullptr, HasEtdSide(mode) ? &m_scoreB : nullptr);
    _ScoreAll(mode, evidence);
    _Rank(results);
    const size_t rows = features ? _Rerank(mode, withFeatures, results) : 0;
    if (withFeatures) {
        out.nFeatureRows = rows;
        for (size_t i = 0; i < rows; ++i) out.vFeatures.insert(out.vFeatures.end(), m_features.Row(i),
                                                               m_features.Row(i) + CFeatures::kCount);
    }
    if (c.m_bConfidence) _Confidences(mode, rows > 0 && c.m_pRerankModel != nullptr && c.m_pRerankModel->Ranks(), results);
    m_scorer.ForgetSpectra();
    // The pools keep their texts' storage up to the cap of a spectrum: giving
    // it back after each large spectrum cost 5 % of a run on real spectra in
    // allocations (two strings per peptide, made again by the next one) and
    // lowered no peak (the storage is there during the large spectrum anyway).
    const size_t kept = _SpellCap();
    if (m_vSpelled.size() > kept) std::vector<CSpelled>().swap(m_vSpelled);
    if (m_vSorted.capacity() > kept) std::vector<CResult>().swap(m_vSorted);
    if (m_vScored.size() > kept) std::vector<CResult>().swap(m_vScored);
    if (m_vSpellKeys.capacity() > kept) std::vector<CSpellKey>().swap(m_vSpellKeys);
    if (m_vRankKeys.capacity() > kept) std::vector<CRankKey>().swap(m_vRankKeys);
}

void CReport::_SetScoringSpectra(const CWorkUnit& unit) {
    // Peptides are scored against the spectra as read and normalised, not
    // the cleaned copies the graph was built from.
    const bool etd = unit.eMode == EMode::ETD;
    CopyGiven(etd ? nullptr : unit.pFirst, m_scoreA);
    CopyGiven(etd ? unit.pFirst : unit.eMode == EMode::Paired ? unit.pSecond : nullptr, m_scoreB);
}

void CReport::_Spell(const std::string& text, double pathWeight, bool shifted) {
    // The peptides of a text: each group is one of its listed orders
    // ("[XY/YX]", "[DEK/EDK]"), or for a composition without '/' ("[DEK]")
    // one of the distinct orders of its residues; parentheses are dropped. The text is cut into
    // fixed pieces and groups first, then every combination of the groups'
    // orders is spelled (the first group varies fastest).
    m_vSpellGroups.clear();
    m_strSpellOrders.clear();
    size_t count = 1;
    for (size_t i = 0; i < text.size();) {
        const CTextGroup parsed = text[i] == '[' ? CNCGraph::ParseGroup(text, i) : CTextGroup{};
        if (text[i] != '[' || parsed.nEnd > text.size()) {
            ++i;  // a residue, a parenthesis, or a malformed group spelled as text
            continue;
        }
        CSpellGroup g;
        g.nAt = i;
        g.nEnd = parsed.nEnd;
        g.nFirst = m_strSpellOrders.size();
        g.nLength = parsed.nLength;
        if (parsed.nOrders > 0) {
            for (size_t k = 0; k < parsed.nOrders; ++k) m_strSpellOrders.append(text, i + 1 + k * (g.nLength + 1), g.nLength);
            g.nOrders = parsed.nOrders;
        } else {
            std::string& residues = m_strSpellScratch;
            residues.assign(text, i + 1, g.nLength);
            std::sort(residues.begin(), residues.end());
            do {
                m_strSpellOrders += residues;
                ++g.nOrders;
            } while (std::next_permutation(residues.begin(), residues.end()));
        }
        if (g.nOrders == 0) g.nOrders = 1;
        m_vSpellGroups.push_back(g);
        count = count > kMaxSpelledOrders / g.nOrders ? kMaxSpelledOrders : count * g.nOrders;
        i = g.nEnd;
    }
    m_strSpellBase.clear();
    for (size_t i = 0, g = 0; i < text.size();) {
        if (g < m_vSpellGroups.size() && i == m_vSpellGroups[g].nAt) {
            CSpellGroup& grp = m_vSpellGroups[g++];
            grp.nOut = m_strSpellBase.size();
            m_strSpellBase.append(m_strSpellOrders, grp.nFirst, grp.nLength);
            i = grp.nEnd;
        } else {
            const char ch = text[i++];
            if (ch != '(' && ch != ')') m_strSpellBase += ch;
        }
    }
    m_vSpellDigits.assign(m_vSpellGroups.size(), 0);
    const bool gapOrders = m_pCondition->m_nGapResidues > 0;
    const size_t cap = _SpellCap();
    for (size_t n = 0; n < count && m_nSpelled < cap; ++n) {
        if (m_nSpelled == m_vSpelled.size()) m_vSpelled.emplace_back();
        CSpelled& out = m_vSpelled[m_nSpelled++];
        // With gap edges the graph lists a group's orders likeliest first:
        // a later order weighs a hair less, so it loses a tie of the score
        // (and nothing else; path weights are whole numbers).
        double rank = 0.0;
        // Only a gap's orders (three residues or more): the two orders of a
        // pair are both supported by the nodes around it and keep their tie.
        for (size_t k = 0; gapOrders && k < m_vSpellDigits.size(); ++k)
            if (m_vSpellGroups[k].nLength >= 3) rank += static_cast<double>(m_vSpellDigits[k]);
        out.lfPathWeight = pathWeight - kOrderStep * rank;
        out.bShifted = shifted;
        out.strPeptide = m_strSpellBase;
        for (size_t g = 0; g < m_vSpellGroups.size(); ++g) {
            if (m_vSpellDigits[g] == 0) continue;
            const CSpellGroup& grp = m_vSpellGroups[g];
            out.strPeptide.replace(grp.nOut, grp.nLength, m_strSpellOrders, grp.nFirst + m_vSpellDigits[g] * grp.nLength,
                                   grp.nLength);
        }
        // The next combination: the first group's order varies fastest.
        for (size_t k = 0; k < m_vSpellDigits.size(); ++k) {
            if (++m_vSpellDigits[k] < m_vSpellGroups[k].nOrders) break;
            m_vSpellDigits[k] = 0;
        }
    }
}

inline int CReport::_CompareSpelledText(const CSpellKey& a, const CSpellKey& b) const {
    for (int w = 0; w < 3; ++w)
        if (a.nWords[w] != b.nWords[w]) return a.nWords[w] < b.nWords[w] ? -1 : 1;
    // Equal words hold the whole of texts up to 24 bytes: the shorter of two
    // such texts is a prefix of the other.
    if (a.nLength <= 24 && b.nLength <= 24) return a.nLength < b.nLength ? -1 : a.nLength > b.nLength ? 1 : 0;
    return m_vSpelled[a.nAt].strPeptide.compare(m_vSpelled[b.nAt].strPeptide);
}

void CReport::_SpellAll(const std::vector<CCandidate>& candidates, bool evidence) {
    if (!evidence) {
        m_setPeptides.clear();
        for (const CCandidate& cand : candidates) CNCGraph::transferPep(cand.strText, 0, std::string(), m_setPeptides);
        return;
    }
    // Every peptide once, in byte order (as the set gives them), with the
    // heaviest path weight that spelled it.
    m_nSpelled = 0;
    // Texts of many groups (pairs and gap compositions, each in several
    // orders) multiply, and one spectrum could ask for hundreds of thousands
    // of peptides, all kept and scored: at most max_spelled are. The list
    // comes weakest first; the strongest texts (fewest unsupported
    // cleavages, then the heaviest path) are spelled first, so a spectrum
    // that reaches the cap leaves out its weakest readings.
    const size_t cap = _SpellCap();
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        if (m_nSpelled >= cap) break;
        _Spell(it->strText, it->lfPathWeight, it->bShifted);
    }
    // Sorting compact records by the same comparison gives exactly the
    // permutation sorting the positions would; the texts are read only
    // where their first 24 bytes tie.
    m_vSpellKeys.resize(m_nSpelled);
    for (size_t i = 0; i < m_nSpelled; ++i) {
        const std::string& pep = m_vSpelled[i].strPeptide;
        m_vSpellKeys[i] = CSpellKey{{HeadWord(pep, 0), HeadWord(pep, 8), HeadWord(pep, 16)},
                                    static_cast<unsigned int>(pep.size()),
                                    static_cast<unsigned int>(i)};
    }
    std::sort(m_vSpellKeys.begin(), m_vSpellKeys.end(), [this](const CSpellKey& a, const CSpellKey& b) {
        const int cmp = _CompareSpelledText(a, b);
        if (cmp != 0) return cmp < 0;
        const CSpelled& x = m_vSpelled[a.nAt];
        const CSpelled& y = m_vSpelled[b.nAt];
        if (x.bShifted != y.bShifted) return y.bShifted;  // the precursor as measured first
        return x.lfPathWeight > y.lfPathWeight;
    });
}

void CReport::_ScoreAll(EMode mode, bool evidence) {
    m_nScored = 0;
    if (!evidence) {
        for (const std::string& q : m_setPeptides) _ScoreOne(q, 0.0, false, mode, false);
        return;
    }
    for (size_t k = 0; k < m_vSpellKeys.size(); ++k) {
        const CSpelled& e = m_vSpelled[m_vSpellKeys[k].nAt];
        if (k > 0 && _CompareSpelledText(m_vSpellKeys[k], m_vSpellKeys[k - 1]) == 0) continue;  // lighter path
        _ScoreOne(e.strPeptide, e.lfPathWeight, e.bShifted, mode, true);
    }
}

void CReport::_ScoreOne(const std::string& code, double pathWeight, bool shifted, EMode mode, bool evidence) {
    const CCondition& c = *m_pCondition;
    if (m_nScored == m_vScored.size()) m_vScored.emplace_back();
    CResult& r = m_vScored[m_nScored++];
    // Every field as a fresh record has it; the text keeps its storage.
    r.lfScore = r.lfNTermShift = r.lfCTermShift = r.lfPathWeight = r.lfConfidence = 0.0;
    // Fitting only the precursor one 13C lighter is what the re-ranker's
    // features and precursor error read from the record.
    r.bShifted = shifted;
    r.nMissingSites = r.nMissingBeforeP = 0;
    r.vResidueSides.clear();
    r.strPeptide = code;
    std::string& pep = r.strPeptide;
    if (!pep.empty()) {
        // An N-terminally modified residue is coded by its small letter.
        // A one-residue peptide coded 1..26 is C-terminally modified only.
        if (!IsCapital(pep.front()) && !(pep.size() == 1 && IsCTermCode(pep.front())) &&
            c.VarMod(pep.front()) == nullptr) {
            r.lfNTermShift = c.m_vNTermMass.empty() ? 0.0 : c.m_vNTermMass[0];
            pep.front() = static_cast<char>(pep.front() - 32);
        }
        if (!IsCapital(pep.back()) && c.VarMod(pep.back()) == nullptr) {
            r.lfCTermShift = c.m_vCTermMass.empty() ? 0.0 : c.m_vCTermMass[0];
            pep.back() = static_cast<char>(pep.back() + 64);
        }
    }
    const unsigned detail = (evidence ? kMatchSites : 0u) | (c.m_bConfidence ? kMatchTotal : 0u);
    double total = 0.0;
    if (HasHcdSide(mode)) m_scorer.Match(r, c.m_vHCDIonTypes, m_scoreA, detail, m_matchA);
    if (HasEtdSide(mode)) m_scorer.Match(r, c.m_vETDIonTypes, m_scoreB, detail, m_matchB);
    switch (mode) {
        case EMode::HCD:
            r.lfScore = m_matchA.lfScore;
            total = m_matchA.lfTotalTerm;
            break;
        case EMode::ETD:
            r.lfScore = m_matchB.lfScore;
            total = m_matchB.lfTotalTerm;
            break;
        case EMode::Paired:
            r.lfScore = m_matchA.lfScore + m_matchB.lfScore;
            total = m_matchA.lfTotalTerm + m_matchB.lfTotalTerm;
            // A site is covered when either spectrum of the pair covers it.
            for (size_t k = 0; k < m_matchB.vSites.size() && k < m_matchA.vSites.size(); ++k)
                m_matchB.vSites[k] |= m_matchA.vSites[k];
            break;
    }
    if (evidence) _WeighEvidence(r, mode, pathWeight);
    if (!c.m_vVarMods.empty()) {
        // A modification must earn its place: each costs a little score, so
        // the unmodified peptide keeps its rank without evidence.
        int mods = 0;
        for (const char ch : r.strPeptide) mods += c.VarMod(ch) != nullptr;
        r.lfScore -= c.m_lfVarModPenalty * mods;
    }
    // A peptide that fits only the precursor lowered by one 13C.
    if (shifted) r.lfScore -= c.m_lfIsotopeErrorPenalty;
    if (c.m_bConfidence) r.lfConfidence = total > 0.0 ? std::max(0.0, r.lfScore) / total : 0.0;
}

void CReport::_WeighEvidence(CResult& r, EMode mode, double pathWeight) const {
    const size_t len = r.strPeptide.size();
    r.lfPathWeight = pathWeight;
    if (len < 2) return;
    // The sites of the pooled match (the ETD side holds a pair's pooled sites).
    const std::vector<unsigned char>& covered = mode == EMode::HCD ? m_matchA.vSites : m_matchB.vSites;
    int missing = 0, beforeP = 0;
    for (size_t k = 0; k + 1 < len; ++k) {
        if (k < covered.size() && covered[k] != 0) continue;
        if (r.strPeptide[k + 1] != 'P') {
            ++missing;
        } else if (mode == EMode::ETD) {
            // Electron transfer does not break the bond before a proline (its
            // ring holds the fragments together): the gap is explained, and
            // a sequence whose gaps fall there is the likelier one.
            --beforeP;
        } else {
            // Collisions break before a proline most easily: a gap there is
            // suspicious.
            ++missing;
            ++beforeP;
        }
    }
    r.nMissingSites = missing;
    r.nMissingBeforeP = beforeP;
    r.lfScore -= m_pCondition->m_lfMissingSitePenalty * missing;
}

void CReport::_Rank(std::vector<CResult>& results) {
    // Sorting compact records by the same comparison gives exactly the
    // permutation sorting the records would, without moving whole records
    // around or reading the texts but where all else and 16 bytes tie.
    const std::vector<CResult>& scored = m_vScored;
    m_vRankKeys.resize(m_nScored);
    const bool evidence = m_pCondition->m_bEvidenceTies;
    for (size_t i = 0; i < m_nScored; ++i) {
        const CResult& r = scored[i];
        m_vRankKeys[i] = CRankKey{r.lfScore,
                                  r.nMissingSites,
                                  r.nMissingBeforeP,
                                  r.lfPathWeight,
                                  evidence ? HeadWord(r.strPeptide, 0) : 0,
                                  evidence ? HeadWord(r.strPeptide, 8) : 0,
                                  static_cast<unsigned int>(i)};
    }
    if (evidence) {
        // CResult::EvidenceGreater, field by field.
        auto greater = [&scored](const CRankKey& a, const CRankKey& b) {
            if (a.lfScore != b.lfScore) return a.lfScore > b.lfScore;
            if (a.nMissing != b.nMissing) return a.nMissing < b.nMissing;
            if (a.nBeforeP != b.nBeforeP) return a.nBeforeP < b.nBeforeP;
            if (a.lfPathWeight != b.lfPathWeight) return a.lfPathWeight > b.lfPathWeight;
            if (a.nHead != b.nHead) return a.nHead < b.nHead;
            if (a.nNext != b.nNext) return a.nNext < b.nNext;
            const CResult& x = scored[a.nAt];
            const CResult& y = scored[b.nAt];
            if (x.strPeptide != y.strPeptide) return x.strPeptide < y.strPeptide;
            return x.lfNTermShift < y.lfNTermShift;
        };
        if (m_nRankedLead > 0 && m_nRankedLead < m_vRankKeys.size()) {
            const auto lead = m_vRankKeys.begin() + static_cast<std::ptrdiff_t>(m_nRankedLead);
            std::nth_element(m_vRankKeys.begin(), lead, m_vRankKeys.end(), greater);
            m_vRankKeys.erase(lead, m_vRankKeys.end());
        }
        std::sort(m_vRankKeys.begin(), m_vRankKeys.end(), greater);
    } else {
        // CResult::WEIGHTGREATERonly.
        std::sort(m_vRankKeys.begin(), m_vRankKeys.end(),
                  [](const CRankKey& a, const CRankKey& b) { return a.lfScore > b.lfScore; });
    }
    results.clear();
    results.reserve(m_vRankKeys.size());
    for (const CRankKey& k : m_vRankKeys) results.push_back(scored[k.nAt]);
}

size_t CReport::_Rerank(EMode mode, bool allFeatures, std::vector<CResult>& results) {
    // The leading peptides by score are matched again against the features'
    // spectrum (from the remembered matches): cheaper than keeping every
    // peptide's evidence, and the pick is made among them.
    const CCondition& c = *m_pCondition;
    const CRerankModel* model = c.m_pRerankModel.get();
    const size_t depth = std::min(results.size(), CFeatures::kDepth);
    if (depth == 0) return 0;
    const CSpectrum& spec = _FeatureSpectrum(mode);
    // Low-resolution b/y spectra fragment as in an ion trap: the model of
    // that fragmentation judges their intensities.
    const bool lowRes = c.CalcFragmentMassDeviation(1000.0) >= kLowResolutionTol;
    m_features.Begin(spec, _FeatureIons(mode), model ? model->Fragments(mode == EMode::ETD, lowRes) : nullptr,
                     model ? model->Pairs() : nullptr);
    // A list the boosted model hands to its linear fallback is ranked by
    // the linear features alone: once the first candidate's row shows that,
    // the others are spared the intensity and ion evidence (unless every
    // feature is asked for).
    const bool mayFallBack = !allFeatures && model != nullptr && model->GatesOnOwnRow();
    bool evidence = true;
    for (size_t i = 0; i < depth; ++i) {
        m_scorer.Match(results[i], _FeatureIons(mode), spec, kMatchSites | kMatchSums | (evidence ? kMatchIons : 0u),
                       m_matchA);
        m_features.Add(results[i], m_matchA, c, evidence);
        if (i == 0 && mayFallBack && model->FallsBack(m_features.Row(0))) evidence = false;
    }
    m_features.Finish(results);
    if (model == nullptr || !model->Ranks()) return depth;
    // The leading peptides in the model's order, then the rest as they were
    // (the whole list stays, as without a model: the answer trace reads
    // ranks beyond the written ones).
    m_features.Rerank(*model, m_vOrder);
    m_vSorted.clear();
    for (size_t i = 0; i < results.size(); ++i) m_vSorted.push_back(std::move(results[i < depth ? m_vOrder[i] : i]));
    results.swap(m_vSorted);
    m_features.Permute(m_vOrder);
    // The confidence is the model's calibrated probability (0 below the
    // peptides it ranked).
    for (size_t i = 0; i < results.size(); ++i) results[i].lfConfidence = i < depth ? m_features.Confidence(i) : 0.0;
    return depth;
}

void CReport::_Confidences(EMode mode, bool modelRanked, std::vector<CResult>& results) {
    const CCondition& c = *m_pCondition;
    if (results.empty()) return;
    if (!modelRanked) {
        // The share of the spectrum explained, times how clearly the peptide
        // beats the runner-up: m / (1 + m) for a score margin m, so a tie
        // gives 0 and only the first peptide can be confident.
        const double margin =
            results.size() > 1 ? results[0].lfScore - results[1].lfScore : std::max(0.0, results[0].lfScore);
        results[0].lfConfidence *= margin / (1.0 + margin);
        for (size_t i = 1; i < results.size(); ++i) results[i].lfConfidence = 0.0;
    }
    // Residue sides of the peptides written: matched again (from the
    // remembered matches), which is cheaper than keeping every peptide's sites.
    const size_t shown = std::min(results.size(), static_cast<size_t>(std::max(0, c.m_nReportPep)));
    for (size_t i = 0; i < shown; ++i) {
        CResult& r = results[i];
        const size_t len = r.strPeptide.size();
        if (HasHcdSide(mode)) m_scorer.Match(r, c.m_vHCDIonTypes, m_scoreA, kMatchSites, m_matchA);
        if (HasEtdSide(mode)) m_scorer.Match(r, c.m_vETDIonTypes, m_scoreB, kMatchSites, m_matchB);
        auto covered = [&](size_t k) {
            return (HasHcdSide(mode) && k < m_matchA.vSites.size() && m_matchA.vSites[k] != 0) ||
                   (HasEtdSide(mode) && k < m_matchB.vSites.size() && m_matchB.vSites[k] != 0);
        };
        r.vResidueSides.assign(len, 0);
        for (size_t k = 0; k < len; ++k)
            r.vResidueSides[k] = static_cast<unsigned char>((k == 0 || covered(k - 1)) + (k + 1 == len || covered(k)));
    }
}
