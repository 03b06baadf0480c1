// The end of one spectrum's work: candidates expanded into distinct
// peptides, scored against the spectra as read, ranked, and written as the
// spectrum's record of the worker's result file.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "graph/CandidateGen.h"
#include "rerank/Features.h"
#include "rerank/RerankModel.h"

namespace {

constexpr double kSmallestShift = 0.1;

bool IsCapital(char c) { return c >= 'A' && c <= 'Z'; }
bool IsCTermCode(char c) { return c >= 1 && c <= 26; }

void AppendInt(std::string& out, long long v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

// A double as a default-state output stream writes it: general notation,
// six significant digits.
void AppendScore(std::string& out, double v) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%g", v);
    if (n > 0) out.append(buf, static_cast<size_t>(std::min(n, static_cast<int>(sizeof buf) - 1)));
}

// A signed mass delta as "+15.995".
void AppendDelta(std::string& out, double delta) {
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "[%+.3f]", delta);
    if (n > 0) out.append(buf, static_cast<size_t>(std::min(n, static_cast<int>(sizeof buf) - 1)));
}

// The peptide with its variable modifications written as mass deltas:
// M[+15.995], an N-terminal one as [+42.011]-A.
void AppendProForma(std::string& out, const std::string& pep, const CCondition& c) {
    for (const char code : pep) {
        const CVarMod* mod = c.VarMod(code);
        if (mod == nullptr) {
            out += code;
        } else if (mod->bNTerm) {
            AppendDelta(out, mod->lfDelta);
            out += '-';
            out += mod->cResidue;
        } else {
            out += mod->cResidue;
            AppendDelta(out, mod->lfDelta);
        }
    }
}

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

// Copy of the spectrum list entry, or an empty spectrum when the entry does
// not exist (a paired dataset whose second list is shorter).
void CopySpectrum(const CCondition& c, size_t list, long long x, CSpectrum& out) {
    const bool present = list < c.m_vSpectra.size() && x >= 0 && static_cast<size_t>(x) < c.m_vSpectra[list].size();
    CopyGiven(present ? &c.m_vSpectra[list][static_cast<size_t>(x)] : nullptr, out);
}

}  // namespace

void CNCGraph::_Spell(const std::string& text, double pathWeight, bool shifted) {
    // The peptides of a text: each bracket group "[XY/YX]" is one of its two
    // orders, parentheses are dropped.
    size_t groups = 0;
    for (const char ch : text) groups += ch == '[';
    const size_t count = size_t{1} << std::min<size_t>(groups, 20);
    for (size_t mask = 0; mask < count; ++mask) {
        if (m_nSpelled == m_vSpelled.size()) m_vSpelled.emplace_back();
        auto& out = m_vSpelled[m_nSpelled++];
        out.strPeptide.clear();
        out.lfPathWeight = pathWeight;
        out.bShifted = shifted;
        size_t g = 0;
        for (size_t i = 0; i < text.size();) {
            const char ch = text[i];
            if (ch == '[' && i + 5 < text.size()) {
                const size_t at = (mask >> g++) & 1 ? i + 4 : i + 1;
                out.strPeptide += text[at];
                out.strPeptide += text[at + 1];
                i += 7;
            } else {
                if (ch != '(' && ch != ')') out.strPeptide += ch;
                ++i;
            }
        }
    }
}

void CNCGraph::_WeighEvidence(CResult& r, const std::string& code, double pathWeight) {
    const CCondition& c = *m_pCondition;
    const size_t len = r.strPeptide.size();
    r.lfPathWeight = pathWeight;
    if (len < 2) return;
    // Sites covered in either spectrum of a pair: score each spectrum again
    // would cost a second pass, so the scorer is asked right after each
    // Score call instead (see Report_unknowResult); here the marks of the
    // last scoring are read.
    m_vCovered.assign(len - 1, 0);
    m_pScorer->MarkCoveredSites(len, m_vCovered);
    if (_Mode() == 3) {
        for (size_t k = 0; k < m_vCoveredOther.size() && k < len - 1; ++k) m_vCovered[k] |= m_vCoveredOther[k];
    }
    int missing = 0, beforeP = 0;
    for (size_t k = 0; k + 1 < len; ++k) {
        if (m_vCovered[k]) continue;
        if (r.strPeptide[k + 1] != 'P') {
            ++missing;
        } else if (_Mode() == 2) {
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
    (void)code;
    r.nMissingSites = missing;
    r.nMissingBeforeP = beforeP;
    r.lfScore -= c.m_lfMissingSitePenalty * missing;
}

void CNCGraph::Report_unknowResult(std::ostream& out, const CSpectrum& first, const CSpectrum& /*second*/,
                                   const double& /*precursorMH*/, const int& /*charge*/) {
    const CCondition& c = *m_pCondition;

    // Weakest candidate first.
    m_vDrained.clear();
    while (!m_qCandidates.empty()) {
        m_vDrained.push_back(m_qCandidates.top());
        m_qCandidates.pop();
    }
    std::set<std::string> peptides;
    // Re-ranking (features: for the model, or written for vemra train)
    // needs the evidence marks of the scoring.
    const CRerankModel* model = c.m_pRerankModel.get();
    const bool features = model != nullptr || c.m_bRerankFeatures;
    if (features && !m_pFeatures) m_pFeatures = std::make_shared<CFeatures>();
    const bool evidence =
        c.m_bEvidenceTies || c.m_lfMissingSitePenalty != 0.0 || c.m_bConfidence || c.m_bIsotopeError || features;
    m_pScorer->m_bTotalTerm = c.m_bConfidence;
    if (!evidence) {
        for (const CResult& cand : m_vDrained) transferPep(cand.strPeptide, 0, std::string(), peptides);
    } else {
        // Every peptide once, in byte order (as the set gives them), with the
        // heaviest path weight that spelled it.
        m_nSpelled = 0;
        for (const CResult& cand : m_vDrained) _Spell(cand.strPeptide, cand.lfScore, cand.bShifted);
        m_vSpellOrder.resize(m_nSpelled);
        for (size_t i = 0; i < m_nSpelled; ++i) m_vSpellOrder[i] = static_cast<unsigned int>(i);
        std::sort(m_vSpellOrder.begin(), m_vSpellOrder.end(), [this](unsigned int a, unsigned int b) {
            const SSpelled& x = m_vSpelled[a];
            const SSpelled& y = m_vSpelled[b];
            const int cmp = x.strPeptide.compare(y.strPeptide);
            if (cmp != 0) return cmp < 0;
            if (x.bShifted != y.bShifted) return y.bShifted;  // the precursor as measured first
            return x.lfPathWeight > y.lfPathWeight;
        });
    }

    long long x = 0;
    const int mode = _Mode();
    if (m_nRecordNumber >= 0) {
        x = m_nRecordNumber;
        CopyGiven(m_pScoreFirst, m_ScoreSpecA);
        CopyGiven(m_pScoreSecond, m_ScoreSpecB);
    } else {
        if (m_nThreadId >= 0 && static_cast<size_t>(m_nThreadId) < c.m_vProgress.size())
            x = c.m_vProgress[static_cast<size_t>(m_nThreadId)].load(std::memory_order_relaxed);
        if (mode == 1 || mode == 3) CopySpectrum(c, 0, x, m_ScoreSpecA);
        if (mode == 2) CopySpectrum(c, 0, x, m_ScoreSpecB);
        if (mode == 3) CopySpectrum(c, 1, x, m_ScoreSpecB);
    }

    m_pScorer->RememberSpectra(mode == 1 || mode == 3 ? &m_ScoreSpecA : nullptr,
                               mode == 2 || mode == 3 ? &m_ScoreSpecB : nullptr);
    // Features come from the HCD spectrum (of a pair too), else the ETD one.
    const CSpectrum& featureSpec = mode == 2 ? m_ScoreSpecB : m_ScoreSpecA;
    auto scoreOne = [&](const std::string& q, double pathWeight, bool shifted) {
        CResult r;
        r.strPeptide = q;
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
        double total = 0.0;
        switch (mode) {
            case 1:
                r.pIonTypes = &c.m_vHCDIonTypes;
                r.lfScore = m_pScorer->Score(r, m_ScoreSpecA);
                total = m_pScorer->m_lfTotalTerm;
                break;
            case 2:
                r.pIonTypes = &c.m_vETDIonTypes;
                r.lfScore = m_pScorer->Score(r, m_ScoreSpecB);
                total = m_pScorer->m_lfTotalTerm;
                break;
            case 3: {
                r.pIonTypes = &c.m_vHCDIonTypes;
                const double s = m_pScorer->Score(r, m_ScoreSpecA);
                total = m_pScorer->m_lfTotalTerm;
                if (evidence) {
                    m_vCoveredOther.assign(r.strPeptide.size() > 1 ? r.strPeptide.size() - 1 : 0, 0);
                    m_pScorer->MarkCoveredSites(r.strPeptide.size(), m_vCoveredOther);
                }
                r.pIonTypes = &c.m_vETDIonTypes;
                r.lfScore = s + m_pScorer->Score(r, m_ScoreSpecB);
                total += m_pScorer->m_lfTotalTerm;
                break;
            }
            default:
                r.lfScore = 0.0;
                break;
        }
        if (evidence && (mode == 1 || mode == 2 || mode == 3)) _WeighEvidence(r, q, pathWeight);
        if (!c.m_vVarMods.empty()) {
            // A modification must earn its place: each costs a little score,
            // so the unmodified peptide keeps its rank without evidence.
            int mods = 0;
            for (const char code : r.strPeptide) mods += c.VarMod(code) != nullptr;
            r.lfScore -= c.m_lfVarModPenalty * mods;
        }
        // A peptide that fits only the precursor lowered by one 13C.
        if (shifted) r.lfScore -= c.m_lfIsotopeErrorPenalty;
        if (c.m_bConfidence) r.lfConfidence = total > 0.0 ? std::max(0.0, r.lfScore) / total : 0.0;
        m_vResults.push_back(std::move(r));
    };
    if (!evidence) {
        for (const std::string& q : peptides) scoreOne(q, 0.0, false);
    } else {
        for (size_t k = 0; k < m_vSpellOrder.size(); ++k) {
            const SSpelled& e = m_vSpelled[m_vSpellOrder[k]];
            if (k > 0 && e.strPeptide == m_vSpelled[m_vSpellOrder[k - 1]].strPeptide) continue;  // lighter path
            scoreOne(e.strPeptide, e.lfPathWeight, e.bShifted);
        }
    }
    const long long shown =
        std::min(static_cast<long long>(m_vResults.size()), static_cast<long long>(c.m_nReportPep));
    // Sorting positions by the same comparison gives exactly the permutation
    // sorting the records would, without moving whole records around.
    m_vOrder.resize(m_vResults.size());
    for (size_t i = 0; i < m_vOrder.size(); ++i) m_vOrder[i] = static_cast<unsigned int>(i);
    if (c.m_bEvidenceTies) {
        std::sort(m_vOrder.begin(), m_vOrder.end(), [this](unsigned int a, unsigned int b) {
            return CResult::EvidenceGreater(m_vResults[a], m_vResults[b]);
        });
    } else {
        std::sort(m_vOrder.begin(), m_vOrder.end(), [this](unsigned int a, unsigned int b) {
            return CResult::WEIGHTGREATERonly(m_vResults[a], m_vResults[b]);
        });
    }
    m_vSorted.clear();
    for (unsigned int i : m_vOrder) m_vSorted.push_back(std::move(m_vResults[i]));
    m_vResults.swap(m_vSorted);
    // The leading candidates by score are scored again against the
    // features' spectrum (from the remembered matches), each followed by
    // its feature row: cheaper than keeping every candidate's evidence, and
    // the pick is made among them.
    const size_t depth = features && (mode == 1 || mode == 2 || mode == 3)
                             ? std::min(m_vResults.size(), CFeatures::kDepth) : 0;
    const bool rows = depth > 0;
    if (rows) {
        m_pFeatures->Begin(featureSpec);
        m_pScorer->m_bMatchSums = true;
        for (size_t i = 0; i < depth; ++i) {
            CResult& r = m_vResults[i];
            r.pIonTypes = mode == 2 ? &c.m_vETDIonTypes : &c.m_vHCDIonTypes;
            m_pScorer->Score(r, featureSpec);
            m_pFeatures->Add(r, *m_pScorer, c);
        }
        m_pScorer->m_bMatchSums = false;
        m_pFeatures->Finish(m_vResults);
        if (model != nullptr) {
            // The leading candidates in the model's order, then the rest as
            // they were (the whole list stays, as without a model: the answer
            // trace reads ranks beyond the written ones).
            m_pFeatures->Rerank(*model, m_vOrder);
            m_vSorted.clear();
            for (size_t i = 0; i < m_vResults.size(); ++i)
                m_vSorted.push_back(std::move(m_vResults[i < depth ? m_vOrder[i] : i]));
            m_vResults.swap(m_vSorted);
            m_pFeatures->Permute(m_vOrder);
            // The confidence is the model's calibrated probability (0 below
            // the candidates it ranked).
            for (size_t i = 0; i < m_vResults.size(); ++i)
                m_vResults[i].lfConfidence = i < depth ? m_pFeatures->Confidence(i) : 0.0;
        }
    }
    if (c.m_bConfidence && !m_vResults.empty()) {
        // The share of the spectrum explained, times how clearly the peptide
        // beats the runner-up: m / (1 + m) for a score margin m, so a tie
        // gives 0 and only the first peptide can be confident.
        // A re-ranking model has set its calibrated probability instead.
        if (!(rows && model != nullptr)) {
            const double margin = m_vResults.size() > 1 ? m_vResults[0].lfScore - m_vResults[1].lfScore
                                                        : std::max(0.0, m_vResults[0].lfScore);
            m_vResults[0].lfConfidence *= margin / (1.0 + margin);
            for (size_t i = 1; i < m_vResults.size(); ++i) m_vResults[i].lfConfidence = 0.0;
        }
        // Residue sides of the peptides written: scored again (from the
        // remembered matches), which is cheaper than keeping every
        // candidate's sites.
        for (long long i = 0; i < shown; ++i) {
            CResult& r = m_vResults[static_cast<size_t>(i)];
            const size_t len = r.strPeptide.size();
            m_vCovered.assign(len > 0 ? len - 1 : 0, 0);
            if (mode == 1 || mode == 3) {
                r.pIonTypes = &c.m_vHCDIonTypes;
                m_pScorer->Score(r, m_ScoreSpecA);
                m_pScorer->MarkCoveredSites(len, m_vCovered);
            }
            if (mode == 2 || mode == 3) {
                r.pIonTypes = &c.m_vETDIonTypes;
                m_pScorer->Score(r, m_ScoreSpecB);
                m_pScorer->MarkCoveredSites(len, m_vCovered);
            }
            r.vResidueSides.assign(len, 0);
            for (size_t k = 0; k < len; ++k)
                r.vResidueSides[k] =
                    static_cast<unsigned char>((k == 0 || m_vCovered[k - 1]) + (k + 1 == len || m_vCovered[k]));
        }
    }
    m_pScorer->ForgetSpectra();

    // The record is built whole and written in one call, so a record is
    // never interleaved or half-written.
    std::string& rec = m_strRecord;
    rec.clear();
    rec += 'S';
    AppendInt(rec, x + 1);
    rec += '\t';
    rec += first.m_strTitle;
    rec += '\t';
    if (!c.m_mapAnswers.empty()) {
        auto it = c.m_mapAnswers.find(first.m_strTitle);
        if (it != c.m_mapAnswers.end()) {
            rec += it->second.strSequence;
            rec += '\t';
        }
    }
    rec += '\n';
    for (long long i = 0; i < shown; ++i) {
        const CResult& r = m_vResults[static_cast<size_t>(i)];
        rec += 'P';
        AppendInt(rec, i + 1);
        rec += '\t';
        if (std::fabs(r.lfNTermShift) > kSmallestShift) rec += 'n';
        if (c.m_vVarMods.empty())
            rec += r.strPeptide;
        else
            AppendProForma(rec, r.strPeptide, c);
        if (std::fabs(r.lfCTermShift) > kSmallestShift) rec += 'c';
        rec += '\t';
        AppendScore(rec, r.lfScore);
        if (c.m_bConfidence) {
            // Confidence, then the residues' confidences, comma-separated.
            rec += '\t';
            AppendScore(rec, r.lfConfidence);
            rec += '\t';
            for (size_t k = 0; k < r.vResidueSides.size(); ++k) {
                if (k) rec += ',';
                rec += r.vResidueSides[k] == 2 ? "1" : r.vResidueSides[k] == 1 ? "0.5" : "0";
            }
        }
        if (c.m_bRerankFeatures && static_cast<size_t>(i) < depth) {
            // For vemra train: the candidate's features, exactly.
            rec += "\tF";
            const double* row = m_pFeatures->Row(static_cast<size_t>(i));
            for (size_t k = 0; k < CFeatures::kCount; ++k) {
                char buf[40];
                const int n = std::snprintf(buf, sizeof buf, "%.17g", row[k]);
                if (k) rec += ',';
                if (n > 0) rec.append(buf, static_cast<size_t>(std::min(n, static_cast<int>(sizeof buf) - 1)));
            }
        }
        rec += "\t\n";
    }
    rec += '\n';
    out.write(rec.data(), static_cast<std::streamsize>(rec.size()));
    out.flush();
}
