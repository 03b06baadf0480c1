// From paths to candidate texts: every admissible choice of one label per
// edge along a path, kept when its residues add up to the precursor's
// residue mass, in the bounded candidate list.

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

// Residue mass spelled by a candidate text, summed left to right; false when
// a code is unknown.
bool TextMass(const CCondition& cond, const std::string& text, double& total) {
    double m = 0.0;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '(' || c == ')') {
            ++i;
        } else if (c == '[') {
            // "[XY/YX]": both orders weigh the same, count the first.
            if (i + 2 >= n) return false;
            double a = 0.0, b = 0.0;
            if (!ResidueMass(cond, text[i + 1], a) || !ResidueMass(cond, text[i + 2], b)) return false;
            m += a;
            m += b;
            i += 7;
        } else {
            double a = 0.0;
            if (!ResidueMass(cond, c, a)) return false;
            m += a;
            ++i;
        }
    }
    total = m;
    return true;
}

}  // namespace

void CNCGraph::GenerateCandidatePeptidevvPath(CCandidateList& candidates) {
    for (const std::vector<unsigned int>& path : m_vPaths) GeneratePeptideForOnePath(path, candidates);
}

void CNCGraph::GeneratePeptideForOnePath(const std::vector<unsigned int>& path, CCandidateList& candidates) {
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

    // Breadth-first expansion, one edge per level. Levels are processed in
    // queue order, so two buffers (current, next) give exactly the order of
    // a first-in-first-out queue while keeping the strings' capacity.
    auto push = [](std::vector<std::pair<std::string, double>>& buf, size_t& used) -> std::pair<std::string, double>& {
        if (used == buf.size()) buf.emplace_back();
        return buf[used++];
    };
    m_nFifoCur = 0;
    {
        auto& e = push(m_vFifoCur, m_nFifoCur);
        e.first.clear();
        e.second = 0.0;
    }
    for (size_t u = 1; u < p; ++u) {
        const CGraphEdge* edge = FindEdge(path[u - 1], path[u]);
        if (edge == nullptr) return;
        m_nFifoNext = 0;
        for (size_t k = 0; k < m_nFifoCur; ++k) {
            const std::string& text = m_vFifoCur[k].first;
            const double drift = m_vFifoCur[k].second;
            for (unsigned int l = 0; l < edge->nLabelCount; ++l) {
                const CEdgeLabel& label = m_vLabels[edge->nFirstLabel + l];
                const double d = label.lfDeviation;
                if (!(std::fabs(d + drift) <= m_lfTolerance)) continue;
                auto& next = push(m_vFifoNext, m_nFifoNext);
                next.first.assign(text);
                if (label.strLabel.size() == 2) {
                    next.first += '(';
                    next.first += label.strLabel;
                    next.first += ')';
                } else {
                    next.first += label.strLabel;
                }
                next.second = drift + d;
            }
        }
        m_vFifoCur.swap(m_vFifoNext);
        std::swap(m_nFifoCur, m_nFifoNext);
        if (m_nFifoCur == 0) return;
    }

    // Completion against the precursor's residue mass.
    const int edges = static_cast<int>(p) - 1;
    const double window = m_pCondition->m_bCompletionWithPepTol
                              ? m_pCondition->CalcPeptideMassDeviation(m_lfResidueMass + kWaterProton)
                              : kCompletionWindow;
    for (size_t k = 0; k < m_nFifoCur; ++k) {
        const std::string& text = m_vFifoCur[k].first;
        double mass = 0.0;
        if (!TextMass(*m_pCondition, text, mass)) continue;
        if (!(std::fabs(mass - m_lfResidueMass) <= window)) continue;
        CCandidate r;
        r.strText = text;
        r.lfPathWeight = pathWeight;
        r.nDoubleSteps = GetPeptideLength(text) - edges;
        r.bShifted = m_bShiftedGraph;
        candidates.Push(std::move(r));
    }
}

int CNCGraph::GetPeptideLength(const std::string& text) {
    int n = 0;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '[') {
            n += 2;
            i += 7;
        } else {
            if (c != '(' && c != ')') ++n;
            ++i;
        }
    }
    return n;
}

void CNCGraph::transferPep(const std::string& text, unsigned int pos, std::string built, std::set<std::string>& out) {
    // A position past the end (only a truncated bracket group can cause it)
    // ends the text like the exact end does.
    if (pos >= text.size()) {
        out.insert(std::move(built));
        return;
    }
    const char c = text[pos];
    if (c == '[' && pos + 5 < text.size()) {
        std::string other = built;
        built += text[pos + 1];
        built += text[pos + 2];
        transferPep(text, pos + 7, std::move(built), out);
        other += text[pos + 4];
        other += text[pos + 5];
        transferPep(text, pos + 7, std::move(other), out);
    } else if (c == '(' || c == ')') {
        transferPep(text, pos + 1, std::move(built), out);
    } else {
        built += c;
        transferPep(text, pos + 1, std::move(built), out);
    }
}
