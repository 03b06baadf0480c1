#include "graph/AnswerTrace.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "conditions/Condition.h"
#include "graph/CandidateGen.h"
#include "graph/IonOffsets.h"

namespace {

using namespace ionmass;
using mass::kIsotopeSpacing;
constexpr long long kNoChain = std::numeric_limits<long long>::min();
// Most variable modifications tried on one answer.
constexpr int kMaxMods = 3;

std::string Format(const char* fmt, double a, double b = 0.0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

// True when the edge label spells want[0 .. len): its plain codes equal,
// a pair group "[XY/YX]" in either order, a composition "[XYZ]" in any.
bool LabelSpellsCodes(const std::string& label, const char* want, size_t len) {
    size_t k = 0;
    for (size_t i = 0; i < label.size();) {
        if (label[i] != '[') {
            if (k >= len || label[i] != want[k]) return false;
            ++i, ++k;
            continue;
        }
        const size_t end = std::min(CNCGraph::GroupEnd(label, i), label.size());
        if (i + 3 < label.size() && label[i + 3] == '/') {
            if (k + 2 > len || end != i + 7) return false;
            const bool first = label[i + 1] == want[k] && label[i + 2] == want[k + 1];
            const bool second = label[i + 4] == want[k] && label[i + 5] == want[k + 1];
            if (!first && !second) return false;
            k += 2;
        } else {
            const size_t m = end - i - 2;
            if (k + m > len) return false;
            std::string a(label, i + 1, m), b(want + k, m);
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            if (a != b) return false;
            k += m;
        }
        i = end;
    }
    return k == len;
}

}  // namespace

const char* TraceStageName(ETraceStage s) {
    switch (s) {
        case ETraceStage::OutsideWindow: return "outside_mass_window";
        case ETraceStage::MassMismatch: return "answer_mass_mismatch";
        case ETraceStage::NodeNoPeak: return "node_no_peak";
        case ETraceStage::NodeCleaned: return "node_peak_cleaned";
        case ETraceStage::NodeMerged: return "node_not_formed";
        case ETraceStage::NodeLimit: return "node_limit";
        case ETraceStage::GapBridged: return "gap_bridged";
        case ETraceStage::EdgeMissing: return "edge_missing";
        case ETraceStage::PathNotInK: return "path_not_in_k";
        case ETraceStage::CandidateCut: return "candidate_cut";
        case ETraceStage::RankedBelow: return "ranked_below_1";
        case ETraceStage::Rank1: return "rank_1";
        case ETraceStage::Count: break;
    }
    return "?";
}

void CAnswerTrace::_Set(ETraceStage s, const std::string& detail) {
    m_eStage = s;
    m_strDetail = detail;
}

void CAnswerTrace::Outside(const std::string& answer, double precursorMH, const char* why) {
    m_strCodes = answer;
    m_bDone = true;
    _Set(ETraceStage::OutsideWindow, std::string(why) + Format(" (MH+ %.4f)", precursorMH));
}

void CAnswerTrace::Begin(const std::string& answer, double precursorMH, const CSpectrum* rawHcd,
                         const CSpectrum* rawEtd, const CSpectrum* cleanHcd, const CSpectrum* cleanEtd,
                         bool lighterRead) {
    m_bLighterRead = lighterRead;
    m_pRawHcd = rawHcd;
    m_pRawEtd = rawEtd;
    m_pCleanHcd = cleanHcd;
    m_pCleanEtd = cleanEtd;
    m_lfPrecursorMH = precursorMH;
    m_vUncapped.clear();
    m_bDone = false;
    m_bPathFound = false;
    m_bViaGap = false;
    // Until a graph says more, the answer's nodes are taken as missing.
    _Set(ETraceStage::NodeNoPeak, "no graph");
    if (!_Resolve(answer, precursorMH)) m_bDone = true;
}

bool CAnswerTrace::_Resolve(const std::string& answer, double precursorMH) {
    const CCondition& c = *m_pCondition;
    m_strCodes.clear();
    double plain = 0.0;
    for (char ch : answer) {
        if (ch == 'I') ch = 'L';
        if (ch < 'A' || ch > 'Z' || c.m_lfResidueMassByCode[static_cast<unsigned char>(ch)] == 0.0) {
            m_strCodes = answer;
            _Set(ETraceStage::MassMismatch, std::string("residue ") + ch + " unknown to the run");
            return false;
        }
        m_strCodes += ch;
        plain += c.m_lfResidueMassByCode[static_cast<unsigned char>(ch)];
    }
    const double residueMass = precursorMH - kWater - kProton;
    const double window = std::max(0.02, c.CalcPeptideMassDeviation(precursorMH));
    // Each position: unmodified or one of the modifications of its residue;
    // the fit with fewest modifications, then smallest error, wins.
    const std::string plainCodes = m_strCodes;
    std::string best;
    int bestMods = kMaxMods + 1;
    double bestErr = 0.0;
    bool bestShifted = false;
    std::string work = plainCodes;
    int shifts = m_bLighterRead ? 2 : 1;
    auto consider = [&](double mass, int mods) {
        for (int shift = 0; shift < shifts; ++shift) {
            const double err = std::fabs(mass - (residueMass - shift * kIsotopeSpacing));
            if (err > window) continue;
            if (mods < bestMods || (mods == bestMods && err < bestErr)) {
                best = work;
                bestMods = mods;
                bestErr = err;
                bestShifted = shift == 1;
            }
        }
    };
    // Depth-first over positions, at most kMaxMods modified.
    auto recurse = [&](auto&& self, size_t pos, double mass, int mods) -> void {
        if (pos == work.size()) {
            consider(mass, mods);
            return;
        }
        self(self, pos + 1, mass, mods);
        if (mods >= kMaxMods) return;
        for (const CVarMod& m : c.m_vVarMods) {
            if (m.cResidue != plainCodes[pos] || (m.bNTerm && pos != 0)) continue;
            const char keep = work[pos];
            work[pos] = m.cCode;
            self(self, pos + 1, mass + m.lfDelta, mods + 1);
            work[pos] = keep;
        }
    };
    recurse(recurse, 0, plain, 0);
    if (bestMods > kMaxMods) {
        std::string detail = Format("unmodified answer off the precursor by %+.4f Da", plain - residueMass);
        if (shifts == 1 && c.m_bIsotopeError) {
            // Say so when the lighter precursor would have fitted: the pairs'
            // test is what lost the answer.
            shifts = 2;
            recurse(recurse, 0, plain, 0);
            if (bestMods <= kMaxMods) detail += "; it fits the precursor one 13C lighter, which isotope_pairs did not read";
        }
        _Set(ETraceStage::MassMismatch, detail);
        return false;
    }
    m_strCodes = best;
    m_bFitsShifted = bestShifted;
    const double end = residueMass - (bestShifted ? kIsotopeSpacing : 0.0);
    m_vPrefix.assign(1, 0.0);
    double sum = 0.0;
    for (size_t k = 0; k + 1 < m_strCodes.size(); ++k) {
        sum += c.m_lfResidueMassByCode[static_cast<unsigned char>(m_strCodes[k])];
        m_vPrefix.push_back(sum);
    }
    m_vPrefix.push_back(end);
    return true;
}

bool CAnswerTrace::_PeakFor(const CSpectrum* spec, bool etd, double prefix, bool raw) const {
    if (spec == nullptr) return false;
    const CCondition& c = *m_pCondition;
    const double P = m_lfPrecursorMH;
    const double pepDev = c.CalcPeptideMassDeviation(P);
    // Singly charged m/z of the ions that give a node of this prefix mass,
    // and whether they are complements (carry the precursor's error too).
    double ions[4];
    bool complement[4];
    int n = 0;
    if (!etd) {
        ions[n] = prefix + kProton, complement[n++] = false;
        ions[n] = P - prefix, complement[n++] = true;
    } else {
        ions[n] = prefix + kCOffset, complement[n++] = false;
        ions[n] = P - prefix - kZOffset, complement[n++] = true;
        ions[n] = P - prefix - kZPlusOffset, complement[n++] = true;
        ions[n] = prefix + kCMinusOffset, complement[n++] = false;
    }
    for (const CPeak& p : spec->m_vPeaks) {
        for (int i = 0; i < n; ++i) {
            const double tol = c.CalcFragmentMassDeviation(ions[i]) + (complement[i] ? pepDev : 0.0);
            if (std::fabs(p.lfMz - ions[i]) <= tol) return true;
            // Raw spectra: a doubly charged ion counts as a peak as well.
            if (raw && std::fabs(p.lfMz - (ions[i] + kProton) * 0.5) <= tol * 0.5) return true;
        }
    }
    return false;
}

size_t CAnswerTrace::_LongestStep() const {
    return m_pCondition->m_nGapResidues > 2 ? static_cast<size_t>(m_pCondition->m_nGapResidues) : 2;
}

bool CAnswerTrace::_StepAllowed(size_t from, size_t to) const {
    const size_t len = to - from;
    if (len <= 2) return true;
    if (len > _LongestStep()) return false;
    const double maxMass = m_pCondition->m_lfGapMaxMass;
    return !(maxMass > 0.0) || m_vPrefix[to] - m_vPrefix[from] <= maxMass;
}

bool CAnswerTrace::_Chain(const std::vector<char>& present, bool gaps) const {
    // present[0] and present.back() are the start and end nodes: each run
    // of missing prefixes must lie inside one step the graph can take.
    size_t last = 0;
    for (size_t k = 1; k < present.size(); ++k) {
        if (!present[k]) continue;
        if (k - last > 2 && (!gaps || !_StepAllowed(last, k))) return false;
        last = k;
    }
    return true;
}

bool CAnswerTrace::_LabelSpells(const CNCGraph& g, unsigned int a, unsigned int b, size_t k, size_t gap,
                                double* dev) const {
    const CGraphEdge* e = g.FindEdge(a, b);
    if (e == nullptr) return false;
    const char* want = m_strCodes.data() + k;
    for (unsigned int l = 0; l < e->nLabelCount; ++l) {
        const CEdgeLabel& label = g.m_vLabels[e->nFirstLabel + l];
        if (LabelSpellsCodes(label.strLabel, want, gap)) {
            if (dev) *dev = label.lfDeviation;
            return true;
        }
    }
    return false;
}

void CAnswerTrace::AfterPaths(const CNCGraph& g, bool shifted) {
    if (m_bDone || shifted != m_bFitsShifted) return;
    ETraceStage stage;
    std::string detail;
    bool viaGap = false;
    if (!_NodeStage(g, stage, detail, &viaGap)) _GraphStage(g, stage, detail);
    if (stage > m_eStage || m_strDetail == "no graph") {
        _Set(stage, detail);
        m_bViaGap = viaGap;
    }
}

bool CAnswerTrace::_NodeStage(const CNCGraph& g, ETraceStage& stage, std::string& detail, bool* viaGap) const {
    const CCondition& c = *m_pCondition;
    const size_t L = m_strCodes.size();
    const double tol = g.m_lfTolerance;
    // The enzyme's terminal residue gives a node without any peak.
    std::vector<char> pseudo(L + 1, 0);
    for (const char site : c.m_strEnzymeSites) {
        if (c.m_bEnzymeNTerm && L > 1 && m_strCodes[0] == site) pseudo[1] = 1;
        if (!c.m_bEnzymeNTerm && L > 1 && m_strCodes[L - 1] == site) pseudo[L - 1] = 1;
    }
    auto presence = [&](auto has) {
        std::vector<char> p(L + 1, 1);
        for (size_t k = 1; k < L; ++k) p[k] = pseudo[k] || has(m_vPrefix[k]);
        return p;
    };
    auto inNodes = [&](const std::vector<CNode>& nodes) {
        return [&nodes, tol](double m) {
            for (const CNode& n : nodes)
                if (std::fabs(n.lfMass - m) <= tol) return true;
            return false;
        };
    };
    const std::vector<char> raw = presence([&](double m) {
        return _PeakFor(m_pRawHcd, false, m, true) || _PeakFor(m_pRawEtd, true, m, true);
    });
    const std::vector<char> clean = presence([&](double m) {
        return _PeakFor(m_pCleanHcd, false, m, false) || _PeakFor(m_pCleanEtd, true, m, false);
    });
    const std::vector<char> formed = presence(inNodes(m_vUncapped.empty() ? g.m_vNodes : m_vUncapped));
    const std::vector<char> kept = presence(inNodes(g.m_vNodes));
    auto missing = [&](const std::vector<char>& p) {
        std::string s = "missing prefixes:";
        for (size_t k = 1; k < L; ++k)
            if (!p[k]) s += " " + std::to_string(k);
        return s;
    };
    const std::pair<const std::vector<char>*, ETraceStage> steps[] = {{&raw, ETraceStage::NodeNoPeak},
                                                                      {&clean, ETraceStage::NodeCleaned},
                                                                      {&formed, ETraceStage::NodeMerged},
                                                                      {&kept, ETraceStage::NodeLimit}};
    for (const auto& [present, s] : steps) {
        if (_Chain(*present, true)) continue;
        stage = s;
        detail = missing(*present);
        return true;
    }
    // Every step keeps a chain, but one needs a gap edge.
    for (const auto& [present, s] : steps) {
        if (_Chain(*present, false)) continue;
        *viaGap = true;
        break;
    }
    return false;
}

void CAnswerTrace::_GraphStage(const CNCGraph& g, ETraceStage& stage, std::string& detail) {
    // Graph nodes of each prefix, then the heaviest chain of edges that
    // spell the answer.
    const size_t L = m_strCodes.size();
    const double tol = g.m_lfTolerance;
    const unsigned int n = static_cast<unsigned int>(g.m_vNodes.size());
    std::vector<std::vector<unsigned int>> at(L + 1);
    at[0].push_back(0);
    at[L].push_back(n - 1);
    for (size_t k = 1; k < L; ++k)
        for (unsigned int i = 1; i + 1 < n; ++i)
            if (std::fabs(g.m_vNodes[i].lfMass - m_vPrefix[k]) <= tol) at[k].push_back(i);
    std::vector<std::vector<long long>> best(L + 1);
    for (size_t k = 0; k <= L; ++k) best[k].assign(at[k].size(), kNoChain);
    best[0][0] = 0;
    size_t furthest = 0;
    for (size_t k = 1; k <= L; ++k) {
        for (size_t j = 0; j < at[k].size(); ++j) {
            for (size_t gap = 1; gap <= _LongestStep() && gap <= k; ++gap) {
                const size_t from = k - gap;
                if (!_StepAllowed(from, k)) continue;
                for (size_t i = 0; i < at[from].size(); ++i) {
                    if (best[from][i] == kNoChain) continue;
                    unsigned int pos = 0;
                    if (!_LabelSpells(g, at[from][i], at[k][j], from, gap, nullptr)) continue;
                    g.FindEdge(at[from][i], at[k][j], &pos);
                    const long long w = best[from][i] + g.m_vEdgeWeights[at[from][i]][pos];
                    if (w > best[k][j]) best[k][j] = w;
                }
            }
            if (best[k][j] != kNoChain) furthest = k;
        }
    }
    if (best[L][0] == kNoChain) {
        stage = ETraceStage::EdgeMissing;
        detail = _EdgeDetail(g, at, best, furthest);
    } else {
        _PathStage(g, best[L][0], stage, detail);
    }
}

std::string CAnswerTrace::_EdgeDetail(const CNCGraph& g, const std::vector<std::vector<unsigned int>>& at,
                                      const std::vector<std::vector<long long>>& best, size_t furthest) const {
    // The first step beyond the furthest prefix reached: how far its gap is
    // off the answer's residues.
    const size_t L = m_strCodes.size();
    std::string detail = "reached prefix " + std::to_string(furthest);
    double bestOff = 1e9, allowed = 0.0;
    for (size_t gap = 1; gap <= _LongestStep() && furthest + gap <= L; ++gap) {
        if (!_StepAllowed(furthest, furthest + gap)) continue;
        const double want = m_vPrefix[furthest + gap] - m_vPrefix[furthest];
        for (size_t i = 0; i < at[furthest].size(); ++i) {
            if (best[furthest][i] == kNoChain) continue;
            const CNode& a = g.m_vNodes[at[furthest][i]];
            for (const unsigned int j : at[furthest + gap]) {
                const CNode& b = g.m_vNodes[j];
                const double off = b.lfMass - a.lfMass - want;
                if (std::fabs(off) < std::fabs(bestOff)) {
                    bestOff = off;
                    allowed = std::min(0.5, (a.lfTolerance + b.lfTolerance) * 0.5);
                }
            }
        }
    }
    if (bestOff < 1e8) detail += Format("; next gap off by %+.4f Da (allowed %.4f)", bestOff, allowed);
    return detail;
}

void CAnswerTrace::_PathStage(const CNCGraph& g, long long answerWeight, ETraceStage& stage, std::string& detail) {
    // Is one of the searched paths the answer's?
    const size_t L = m_strCodes.size();
    const double tol = g.m_lfTolerance;
    int found = -1;
    bool drifted = false;
    for (size_t p = 0; p < g.m_vPaths.size() && found < 0; ++p) {
        const std::vector<unsigned int>& path = g.m_vPaths[p];
        size_t k = 0;
        double drift = 0.0;
        bool ok = path.size() >= 2 && path.front() == 0;
        bool driftOk = true;
        for (size_t u = 1; u < path.size() && ok; ++u) {
            const bool last = u + 1 == path.size();
            ok = false;
            for (size_t gap = 1; gap <= _LongestStep() && k + gap <= L; ++gap) {
                const size_t to = k + gap;
                if (!_StepAllowed(k, to)) continue;
                if (last != (to == L)) continue;
                if (!last && std::fabs(g.m_vNodes[path[u]].lfMass - m_vPrefix[to]) > tol) continue;
                double dev = 0.0;
                if (!_LabelSpells(g, path[u - 1], path[u], k, gap, &dev)) continue;
                drift += dev;
                if (!(std::fabs(drift) <= tol)) driftOk = false;
                k = to;
                ok = true;
                break;
            }
        }
        if (ok && k == L) {
            found = static_cast<int>(p);
            drifted = !driftOk;
        }
    }
    if (found < 0) {
        stage = ETraceStage::PathNotInK;
        long long last = 0;
        if (!g.m_vPaths.empty()) {
            const std::vector<unsigned int>& path = g.m_vPaths.back();
            for (size_t u = 1; u < path.size(); ++u) {
                unsigned int pos = 0;
                if (g.FindEdge(path[u - 1], path[u], &pos)) last += g.m_vEdgeWeights[path[u - 1]][pos];
            }
        }
        detail = "answer's path weight " + std::to_string(answerWeight) + ", path " +
                 std::to_string(g.m_vPaths.size()) + " weighs " + std::to_string(last);
    } else {
        stage = ETraceStage::CandidateCut;
        m_bPathFound = true;
        detail = "path " + std::to_string(found + 1) +
                 (drifted ? ": residue masses drift beyond the tolerance" : ": cut with the candidate list");
    }
}

void CAnswerTrace::AfterReport(const std::vector<CResult>& ranked) {
    if (m_bDone) return;
    // The answer file does not say where a modification sits: a peptide with
    // the same residues and the same modifications elsewhere counts as it.
    const CCondition& c = *m_pCondition;
    auto same = [&](const std::string& pep) {
        if (pep.size() != m_strCodes.size()) return false;
        double delta = 0.0;
        for (size_t k = 0; k < pep.size(); ++k) {
            const CVarMod* a = c.VarMod(pep[k]);
            const CVarMod* b = c.VarMod(m_strCodes[k]);
            if ((a ? a->cResidue : pep[k]) != (b ? b->cResidue : m_strCodes[k])) return false;
            delta += (a ? a->lfDelta : 0.0) - (b ? b->lfDelta : 0.0);
        }
        return std::fabs(delta) < 0.01;
    };
    for (size_t i = 0; i < ranked.size(); ++i) {
        if (ranked[i].strPeptide != m_strCodes && !same(ranked[i].strPeptide)) continue;
        if (i == 0)
            _Set(ETraceStage::Rank1, "");
        else
            _Set(ETraceStage::RankedBelow, "rank " + std::to_string(i + 1));
        break;
    }
    // A peptide that only a gap edge let past the node steps counts as
    // bridged, whatever became of it afterwards (the detail says what).
    if (m_bViaGap && m_eStage > ETraceStage::NodeLimit) {
        std::string then = std::string("then ") + TraceStageName(m_eStage);
        if (!m_strDetail.empty()) then += " (" + m_strDetail + ")";
        _Set(ETraceStage::GapBridged, then);
    }
}
