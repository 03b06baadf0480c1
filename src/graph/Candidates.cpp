// From paths to candidate texts: every admissible choice of one label per
// edge along a path, kept when its residues add up to the precursor's
// residue mass, in the bounded candidate list.

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/Masses.h"
#include "graph/CandidateGen.h"

namespace {

// The completion test is a fixed window, independent of the graph tolerance:
// the labels' own deviations were already bounded by the drift test.
constexpr double kCompletionWindow = 0.01;
// MH+ = residue mass + water + proton.
constexpr double kWaterProton = mass::kWater + mass::kProton;

// Residue mass of code c; false when the code is not in the residue table.
bool ResidueMass(const CCondition& cond, char c, double& mass) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 128 && cond.m_lfResidueMassByCode[u] != 0.0) {
        mass = cond.m_lfResidueMassByCode[u];
        return true;
    }
    // The flat table marks absence with 0; the map is the authority for the
    // (never expected) code whose mass really is 0 or lies outside ASCII.
    auto it = cond.m_mapResidueMass.find(c);
    if (it == cond.m_mapResidueMass.end()) return false;
    mass = it->second;
    return true;
}

}  // namespace

void CNCGraph::GenerateCandidatePeptidevvPath(CCandidateList& candidates) {
    _ForgetLabelSteps();
    for (const std::vector<unsigned int>& path : m_vPaths) _GenerateForPath(path, candidates);
    _WritePending(candidates);
    // A path of many labels per edge can expand to hundreds of thousands of
    // texts; a worker keeps that much only while such a spectrum lasts.
    constexpr size_t kKeptExpansions = size_t{1} << 16;
    if (m_vExpand.capacity() > kKeptExpansions) std::vector<CExpansion>().swap(m_vExpand);
}

void CNCGraph::_PathLabels(const std::vector<unsigned int>& path) {
    // Per edge of the path, its labels with the residue masses they add, in
    // the order the text spells them (a pair group by its first order), so
    // the expansion sums each text's mass exactly as TextMass would.
    m_vStepLabels.clear();
    m_vStepStart.clear();
    if (m_vLabelSteps.size() < m_vLabels.size()) m_vLabelSteps.resize(m_vLabels.size(), CStepLabel{0, ~0u, 0, true, false});
    for (size_t u = 1; u < path.size(); ++u) {
        m_vStepStart.push_back(m_vStepLabels.size());
        const CGraphEdge* edge = FindEdge(path[u - 1], path[u]);
        for (unsigned int l = 0; l < edge->nLabelCount; ++l) {
            const unsigned int index = edge->nFirstLabel + l;
            if (m_vLabelSteps[index].nFirstMass != ~0u) {
                m_vStepLabels.push_back(m_vLabelSteps[index]);
                continue;
            }
            const std::string& text = m_vLabels[index].strLabel;
            CStepLabel sl;
            sl.nLabel = index;
            sl.nFirstMass = static_cast<unsigned int>(m_vStepMasses.size());
            sl.bKnown = true;
            sl.bComposition = IsComposition(text);
            for (size_t i = 0; i < text.size();) {
                size_t stop = i + 1, next = i + 1;
                if (text[i] == '[') {
                    // A label's group: a pair "[XY/YX]" (its first order) or
                    // a composition "[XYZ]".
                    const CTextGroup g = ParseGroup(text, i);
                    next = g.nEnd;
                    stop = i + 1 + g.nLength;
                    ++i;
                }
                for (; i < stop && i < text.size(); ++i) {
                    double m = 0.0;
                    if (!ResidueMass(*m_pCondition, text[i], m)) sl.bKnown = false;
                    m_vStepMasses.push_back(m);
                }
                i = next;
            }
            sl.nMassCount = static_cast<unsigned int>(m_vStepMasses.size()) - sl.nFirstMass;
            m_vLabelSteps[index] = sl;
            m_vStepLabels.push_back(sl);
        }
    }
    m_vStepStart.push_back(m_vStepLabels.size());
}

void CNCGraph::_ForgetLabelSteps() {
    m_vLabelSteps.clear();
    m_vStepMasses.clear();
}

void CNCGraph::GeneratePeptideForOnePath(const std::vector<unsigned int>& path, CCandidateList& candidates) {
    // Alone, a path may follow any change of the labels.
    _ForgetLabelSteps();
    _GenerateForPath(path, candidates);
    _WritePending(candidates);
}

void CNCGraph::_WritePending(CCandidateList& candidates) {
    candidates.WritePending(
        [this](const CCandidateList::CTextRecipe& r, std::string& text) { _WriteText(r, text); });
}

void CNCGraph::_GenerateForPath(const std::vector<unsigned int>& path, CCandidateList& candidates) {
    const size_t p = path.size();

    // Path weight: integer sum of the edge weights, from the start node on.
    // A pair without an edge cannot come from the path search; such a path
    // yields nothing.
    int weight = 0;
    for (size_t u = 1; u < p; ++u) {
        unsigned int pos = 0;
        if (FindEdge(path[u - 1], path[u], &pos) == nullptr) return;
        weight = AddWeight(weight, m_vEdgeWeights[path[u - 1]][pos]);
    }
    const double pathWeight = static_cast<double>(weight);
    _PathLabels(path);

    // Breadth-first expansion, one edge per level, in the order of a
    // first-in-first-out queue: each entry is one label choice on top of an
    // entry of the level before (so no text is built while expanding), with
    // the summed label deviation, residue mass and residue count so far.
    // With gap edges a text is dropped as soon as it has more unsupported
    // cleavages than the list's weakest candidate (a further edge adds none
    // or more, and the path weight is fixed): gap paths spell many texts,
    // nearly all of which would be cut.
    const bool cut = m_pCondition->m_nGapResidues > 0;
    m_vExpand.clear();
    m_vExpand.push_back({0, 0, 0.0, 0.0, 0, true});
    size_t levelStart = 0, levelEnd = 1;
    for (size_t u = 1; u < p; ++u) {
        const size_t first = m_vStepStart[u - 1], last = m_vStepStart[u];
        for (size_t k = levelStart; k < levelEnd; ++k) {
            const CExpansion cur = m_vExpand[k];
            for (size_t l = first; l < last; ++l) {
                const CStepLabel& sl = m_vStepLabels[l];
                const double d = m_vLabels[sl.nLabel].lfDeviation;
                if (!(std::fabs(d + cur.lfDrift) <= m_lfTolerance)) continue;
                const int residues = cur.nResidues + static_cast<int>(sl.nMassCount);
                if (cut && !candidates.Takes(residues - static_cast<int>(u), pathWeight)) continue;
                CExpansion next{static_cast<unsigned int>(k), static_cast<unsigned int>(l), cur.lfDrift + d,
                                cur.lfMass, residues, cur.bKnown && sl.bKnown};
                for (unsigned int x = 0; x < sl.nMassCount; ++x) next.lfMass += m_vStepMasses[sl.nFirstMass + x];
                m_vExpand.push_back(next);
            }
        }
        levelStart = levelEnd;
        levelEnd = m_vExpand.size();
        if (levelStart == levelEnd) return;
    }

    // Completion against the precursor's residue mass.
    const int edges = static_cast<int>(p) - 1;
    const double window = m_pCondition->m_bCompletionWithPepTol
                              ? m_pCondition->CalcPeptideMassDeviation(m_lfResidueMass + kWaterProton)
                              : kCompletionWindow;
    for (size_t k = levelStart; k < levelEnd; ++k) {
        const CExpansion& e = m_vExpand[k];
        if (!e.bKnown || !(std::fabs(e.lfMass - m_lfResidueMass) <= window)) continue;
        if (cut && !candidates.Takes(e.nResidues - edges, pathWeight)) continue;
        // The text is written once the paths are all expanded, and only if
        // the candidate is still in the list then: most are cut again.
        CCandidateList::CTextRecipe* recipe = candidates.PushDeferred(e.nResidues - edges, pathWeight, m_bShiftedGraph);
        if (recipe == nullptr) continue;
        recipe->pPath = &path;
        // The labels chosen, found back from the last level to the first.
        recipe->vLabels.resize(static_cast<size_t>(edges));
        for (size_t u = static_cast<size_t>(edges), entry = k; u-- > 0;) {
            recipe->vLabels[u] = m_vStepLabels[m_vExpand[entry].nStep].nLabel;
            entry = m_vExpand[entry].nParent;
        }
    }
}

void CNCGraph::_WriteText(const CCandidateList::CTextRecipe& recipe, std::string& text) {
    const std::vector<unsigned int>& labels = recipe.vLabels;
    double prefix = 0.0;  // the prefix mass where the label starts
    for (size_t u = 0; u < labels.size(); ++u) {
        const std::string& label = m_vLabels[labels[u]].strLabel;
        if (label.size() == 2) {
            text += '(';
            text += label;
            text += ')';
        } else if (m_vLabelSteps[labels[u]].bComposition) {
            _WriteGapOrders(labels, u, prefix, text);
        } else {
            text += label;
        }
        const unsigned int node = (*recipe.pPath)[u + 1];
        if (node < m_vNodes.size()) prefix = m_vNodes[node].lfMass;
    }
}

bool CNCGraph::IsComposition(const std::string& label) {
    const size_t open = label.find('[');
    return open != std::string::npos && label.find('/', open) == std::string::npos;
}

size_t CNCGraph::GroupEnd(const std::string& text, size_t pos) {
    // Residue codes never include ']' (it is text syntax), so the group ends
    // at the first one; an unterminated group runs to the end.
    const size_t close = text.find(']', pos + 1);
    return close == std::string::npos ? text.size() + 1 : close + 1;
}

CTextGroup CNCGraph::ParseGroup(const std::string& text, size_t pos) {
    CTextGroup g;
    g.nEnd = GroupEnd(text, pos);
    if (g.nEnd > text.size()) return g;  // unterminated: no group
    const size_t inner = g.nEnd - pos - 2;
    const size_t slash = text.find('/', pos + 1);
    if (slash == std::string::npos || slash >= g.nEnd) {
        g.nLength = inner;  // one composition, every order open
        return g;
    }
    g.nLength = slash - pos - 1;
    g.nOrders = g.nLength == 0 ? 0 : (inner + 1) / (g.nLength + 1);
    // Alternatives of unequal length are no group either.
    if (g.nOrders * (g.nLength + 1) != inner + 1) g.nEnd = text.size() + 1;
    return g;
}

int CNCGraph::GetPeptideLength(const std::string& text) {
    int n = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '[') {
            const CTextGroup g = ParseGroup(text, i);
            if (g.nEnd <= text.size()) {
                n += static_cast<int>(g.nLength);
                i = g.nEnd;
                continue;
            }
        }
        if (c != '(' && c != ')') ++n;
        ++i;
    }
    return n;
}

void CNCGraph::transferPep(const std::string& text, unsigned int pos, std::string built, std::set<std::string>& out) {
    if (pos >= text.size()) {
        out.insert(std::move(built));
        return;
    }
    const char c = text[pos];
    const CTextGroup g = c == '[' ? ParseGroup(text, pos) : CTextGroup{};
    if (c == '[' && g.nEnd <= text.size()) {
        const auto end = static_cast<unsigned int>(g.nEnd);
        if (g.nOrders > 0) {
            // "[XY/YX]", "[DEK/EDK]": each listed order.
            for (size_t k = 0; k < g.nOrders; ++k)
                transferPep(text, end, built + text.substr(pos + 1 + k * (g.nLength + 1), g.nLength), out);
        } else {
            // "[DEK]": every distinct order of the residues.
            std::string residues = text.substr(pos + 1, g.nLength);
            std::sort(residues.begin(), residues.end());
            do {
                transferPep(text, end, built + residues, out);
            } while (std::next_permutation(residues.begin(), residues.end()));
        }
    } else if (c == '(' || c == ')') {
        transferPep(text, pos + 1, std::move(built), out);
    } else {
        built += c;
        transferPep(text, pos + 1, std::move(built), out);
    }
}
