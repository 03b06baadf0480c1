// Graph edges: residue-labelled node pairs, successor lists and integer edge
// weights.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "graph/CandidateGen.h"

const CGraphEdge* CNCGraph::FindEdge(unsigned int a, unsigned int b, unsigned int* pos) const {
    if (a >= m_vSuccessors.size()) return nullptr;
    const std::vector<unsigned int>& row = m_vSuccessors[a];
    auto it = std::lower_bound(row.begin(), row.end(), b);
    if (it == row.end() || *it != b) return nullptr;
    const auto k = static_cast<unsigned int>(it - row.begin());
    if (pos) *pos = k;
    return &m_vGraphEdges[a][k];
}

namespace {

// A composition joins the labels of a one- or two-residue edge when it fits
// the gap clearly better than they do, or as well (within kSameMass: GN
// weighs as GGG, AN as AGG): the edge's nodes then say nothing about which
// reading is right.
constexpr double kBetterFit = 0.75;
constexpr double kSameMass = 0.0005;

// True when label is exactly the two characters of two in reverse order.
bool IsMirror(const std::string& label, const std::string& two) {
    return label.size() == 2 && label[0] == two[1] && label[1] == two[0];
}

bool LabelLess(const CEdgeLabel& a, const CEdgeLabel& b) { return a.strLabel < b.strLabel; }

// Truncation toward zero, saturated to the int range. A zero raw intensity
// makes a node weight -inf (its log), and converting that, a NaN or any
// value beyond the int range with a plain cast is undefined.
int TruncToWeight(double x) {
    if (x >= 2147483648.0) return std::numeric_limits<int>::max();
    if (!(x > -2147483649.0)) return std::numeric_limits<int>::min();  // also NaN
    return static_cast<int>(x);
}

// Resizes rows to n, keeping the storage of the rows cut for a larger graph.
template <class T>
void ResizeKeeping(std::vector<std::vector<T>>& rows, std::vector<std::vector<T>>& spare, std::size_t n) {
    ParkRows(rows, spare, n);
    while (rows.size() < n) rows.push_back(TakeRow(spare));
}

}  // namespace

void CNCGraph::_ConstructEdges() {
    const std::size_t n = m_vNodes.size();
    // The graph object serves spectrum after spectrum: keep the inner
    // vectors' capacity, only empty them (rows beyond this graph's nodes wait
    // in a spare pool for a larger one).
    ResizeKeeping(m_vSuccessors, m_vSpareSuccessors, n);
    ResizeKeeping(m_vEdgeWeights, m_vSpareWeights, n);
    ResizeKeeping(m_vGraphEdges, m_vSpareEdges, n);
    for (std::size_t i = 0; i < n; ++i) {
        m_vSuccessors[i].clear();
        m_vEdgeWeights[i].clear();
        m_vGraphEdges[i].clear();
    }
    m_vLabels.clear();
    m_vOrderIndex.clear();
    m_vOrderPool.clear();

    const CCondition& cond = *m_pCondition;
    const std::vector<CEdge>& table = cond.m_vEdges;
    if (table.empty() || n < 2) return;

    double lfLightest = table.front().lfMass, lfHeaviest = table.front().lfMass;
    for (const CEdge& e : table) {
        lfLightest = std::min(lfLightest, e.lfMass);
        lfHeaviest = std::max(lfHeaviest, e.lfMass);
    }

    for (std::size_t i = 0; i < n; ++i) {
        const CNode& a = m_vNodes[i];
        for (std::size_t j = i + 1; j < n; ++j) {
            const CNode& b = m_vNodes[j];
            const double gap = b.lfMass - a.lfMass;
            // The window's half-width never exceeds 0.5 and the nodes ascend
            // in mass, so once the window lies above the heaviest gap in the
            // table no later j can match either.
            if (gap - 0.5 > lfHeaviest) break;
            if (gap + 0.5 < lfLightest) continue;

            double t = (a.lfTolerance + b.lfTolerance) * 0.5;
            if (t > 0.5) t = 0.5;
            if (!CCondition::MayHoldEdge(gap - t, gap + t, cond.m_vEdgeBins)) continue;
            unsigned int first = 0, last = 0;
            cond.QueryEdges(gap - t, gap + t, table, cond.m_vEdgeIndex, first, last);
            if (first >= last) continue;
            const auto nFirstLabel = static_cast<unsigned int>(m_vLabels.size());
            _LabelCell(i, j, gap, first, last);
            if (m_vLabels.size() == nFirstLabel) continue;

            m_vSuccessors[i].push_back(static_cast<unsigned int>(j));
            m_vEdgeWeights[i].push_back(TruncToWeight(_StepWeight(a, b, nFirstLabel)));
            m_vGraphEdges[i].push_back(
                {nFirstLabel, static_cast<unsigned int>(m_vLabels.size()) - nFirstLabel});
        }
    }
    if (cond.m_nGapResidues > 0 && !cond.m_vGapEdges.empty()) _AddGapEdges();
}

double CNCGraph::_StepWeight(const CNode& a, const CNode& b, unsigned int nFirstLabel) const {
    // An accurate mass match, a well-supported target node and a source node
    // sharing an ion series with it all raise the weight.
    const double edgeScale = m_pCondition->m_lfEdgeScale;
    double e = 0.01999;
    for (std::size_t x = nFirstLabel; x < m_vLabels.size(); ++x) {
        const double d = std::fabs(m_vLabels[x].lfDeviation) / edgeScale;
        if (d < e) e = d;
    }
    const double factor = e < 0.001 ? 190.0 : (0.02 - e) * 10000;
    double u = b.lfNWeight + b.lfCWeight;
    const int s = a.cSupport & b.cSupport;
    if (s & 1) u += a.lfCWeight;
    if (s & 2) u += a.lfNWeight;
    return factor * u;
}

void CNCGraph::_AddGapEdges() {
    // A gap edge bridges two nodes that nothing else joins: no one- or
    // two-residue step and no path through nodes between them (where such a
    // path exists the series did see the cleavages inside, and a gap would
    // only add unsupported readings of the same masses). Reachability is
    // kept as one bit set per node, filled from the last node backwards;
    // only the bits within the heaviest gap above a node are ever read.
    const CCondition& cond = *m_pCondition;
    const std::vector<CEdge>& gaps = cond.m_vGapEdges;
    const std::size_t n = m_vNodes.size();
    const std::size_t words = (n + 63) / 64;
    m_vReach.assign(n * words, 0);
    const double lightest = gaps.front().lfMass, heaviest = gaps.back().lfMass;

    std::size_t last = n - 1;  // the last node within reach of i's heaviest gap
    for (std::size_t i = n; i-- > 0;) {
        const CNode& a = m_vNodes[i];
        while (last > i && m_vNodes[last].lfMass - a.lfMass > heaviest + 0.5) --last;
        if (last <= i) continue;
        std::uint64_t* reach = &m_vReach[i * words];
        const std::size_t w0 = (i + 1) / 64, w1 = last / 64;
        auto through = [&](std::size_t k) {
            reach[k / 64] |= std::uint64_t{1} << (k % 64);
            const std::uint64_t* from = &m_vReach[k * words];
            for (std::size_t w = w0; w <= w1; ++w) reach[w] |= from[w];
        };
        for (const unsigned int k : m_vSuccessors[i]) through(k);
        for (size_t x = 0; x < m_vSuccessors[i].size(); ++x) _ExtendCell(i, x);

        m_vGapRow.clear();
        for (std::size_t j = i + 1; j <= last; ++j) {
            if ((reach[j / 64] >> (j % 64)) & 1) continue;
            const CNode& b = m_vNodes[j];
            const double gap = b.lfMass - a.lfMass;
            if (gap + 0.5 < lightest) continue;
            // Most pairs fit no composition: the bins say so before the call.
            double t = (a.lfTolerance + b.lfTolerance) * 0.5;
            if (t > 0.5) t = 0.5;
            if (!CCondition::MayHoldEdge(gap - t, gap + t, cond.m_vGapBins)) continue;
            const auto nFirstLabel = static_cast<unsigned int>(m_vLabels.size());
            const bool distinct = _GapLabels(i, j, 1e9);
            if (m_vLabels.size() == nFirstLabel) continue;
            if (!distinct) std::sort(m_vLabels.begin() + nFirstLabel, m_vLabels.end(), LabelLess);
            const double weight = _StepWeight(a, b, nFirstLabel) * cond.m_lfGapWeight;
            m_vGapRow.push_back({static_cast<unsigned int>(j), TruncToWeight(weight),
                                 {nFirstLabel, static_cast<unsigned int>(m_vLabels.size()) - nFirstLabel}});
            // Nodes beyond that a path through j reaches need no gap of their own.
            through(j);
        }
        if (!m_vGapRow.empty()) _MergeGapRow(i);
    }
}

bool CNCGraph::_GapLabels(std::size_t i, std::size_t j, double within) {
    // The compositions that fit the gap (i, j) better than `within` (Da),
    // as labels at the end of m_vLabels, in byte order.
    const CCondition& cond = *m_pCondition;
    const std::vector<CEdge>& gaps = cond.m_vGapEdges;
    const CNode& a = m_vNodes[i];
    const CNode& b = m_vNodes[j];
    const double gap = b.lfMass - a.lfMass;
    double t = (a.lfTolerance + b.lfTolerance) * 0.5;
    if (t > 0.5) t = 0.5;
    if (!CCondition::MayHoldEdge(gap - t, gap + t, cond.m_vGapBins)) return true;
    unsigned int first = 0, end = 0;
    cond.QueryEdges(gap - t, gap + t, gaps, cond.m_vGapIndex, first, end);
    const size_t n = m_vNodes.size();
    // The entries that fit, sorted by the byte order of their labels (their
    // ranks order as the labels do, so the sort moves them exactly as
    // sorting the labels would), then written in that order.
    m_vGapPicks.clear();
    for (unsigned int x = first; x < end; ++x) {
        const CEdge& e = gaps[x];
        if (e.cModSite == 2 && i != 0) continue;
        if (e.cModSite == 1 && j != n - 1) continue;
        if (!(std::fabs(gap - e.lfMass) < within)) continue;
        m_vGapPicks.push_back({cond.m_vGapLabelRank[x], x});
    }
    std::sort(m_vGapPicks.begin(), m_vGapPicks.end(),
              [](const CGapPick& p, const CGapPick& q) { return p.nRank < q.nRank; });
    bool distinct = true;
    for (size_t k = 0; k < m_vGapPicks.size(); ++k) {
        const CGapPick& p = m_vGapPicks[k];
        if (k > 0 && p.nRank == m_vGapPicks[k - 1].nRank) distinct = false;
        m_vLabels.emplace_back();
        CEdgeLabel& out = m_vLabels.back();
        out.strLabel = cond.m_vGapLabelText[p.nEntry];
        out.lfDeviation = gap - gaps[p.nEntry].lfMass;
    }
    return distinct;
}

void CNCGraph::_ExtendCell(std::size_t i, std::size_t x) {
    // A one- or two-residue edge whose labels all carry a modification, or
    // fit the gap worse than a composition does, is no sure reading of its
    // masses: the compositions join its labels.
    CGraphEdge& edge = m_vGraphEdges[i][x];
    bool plain = false;
    double best = 1e9;
    for (unsigned int l = 0; l < edge.nLabelCount; ++l) {
        const CEdgeLabel& label = m_vLabels[edge.nFirstLabel + l];
        bool mod = false;
        for (const char c : label.strLabel)
            if (c != '[' && c != ']' && c != '/' && (c < 'A' || c > 'Z')) mod = true;
        if (!mod) plain = true;
        best = std::min(best, std::fabs(label.lfDeviation));
    }
    const double within = plain ? best * kBetterFit + kSameMass : 1e9;
    const auto nGap = static_cast<unsigned int>(m_vLabels.size());
    _GapLabels(i, m_vSuccessors[i][x], within);
    const auto added = static_cast<unsigned int>(m_vLabels.size()) - nGap;
    if (added == 0) return;
    // The cell's labels must stay one run in byte order: copy them behind
    // the compositions and sort the whole run.
    for (unsigned int l = 0; l < edge.nLabelCount; ++l) m_vLabels.push_back(m_vLabels[edge.nFirstLabel + l]);
    std::sort(m_vLabels.begin() + nGap, m_vLabels.end(), LabelLess);
    edge.nFirstLabel = nGap;
    edge.nLabelCount += added;
}

void CNCGraph::_MergeGapRow(std::size_t i) {
    // The row stays in ascending successor order (the path search and
    // FindEdge rely on it): merge the gap edges, themselves ascending, in.
    std::vector<unsigned int>& succ = m_vSuccessors[i];
    std::vector<int>& weights = m_vEdgeWeights[i];
    std::vector<CGraphEdge>& edges = m_vGraphEdges[i];
    const std::size_t plain = succ.size();
    succ.resize(plain + m_vGapRow.size());
    weights.resize(plain + m_vGapRow.size());
    edges.resize(plain + m_vGapRow.size());
    std::size_t x = plain, g = m_vGapRow.size(), out = succ.size();
    while (g > 0) {
        const CGapStep& gs = m_vGapRow[g - 1];
        if (x > 0 && succ[x - 1] > gs.nTarget) {
            --x;
            --out;
            succ[out] = succ[x];
            weights[out] = weights[x];
            edges[out] = edges[x];
        } else {
            --g;
            --out;
            succ[out] = gs.nTarget;
            weights[out] = gs.nWeight;
            edges[out] = gs.edge;
        }
    }
}

void CNCGraph::_LabelCell(size_t i, size_t j, double gap, unsigned int first, unsigned int last) {
    const std::vector<CEdge>& table = m_pCondition->m_vEdges;
    // Labels compare as their ranks do.
    const std::vector<uint32_t>& rank = m_pCondition->m_vEdgeLabelRank;
    const size_t n = m_vNodes.size();
    // Labels in table order; a label met twice keeps its first deviation.
    m_vCellScratch.clear();
    for (unsigned int x = first; x < last; ++x) {
        const CEdge& e = table[x];
        if (e.cModSite == 2 && i != 0) continue;      // N-terminal modification: first step only
        if (e.cModSite == 1 && j != n - 1) continue;  // C-terminal modification: last step only
        bool present = false;
        for (const CCellLabel& c : m_vCellScratch) {
            if (rank[c.pFirst - table.data()] == rank[x]) {
                present = true;
                break;
            }
        }
        if (!present) m_vCellScratch.push_back({&e, nullptr, gap - e.lfMass});
    }
    if (m_vCellScratch.empty()) return;

    // Fold mirror pairs (AG and GA) into one label whose residue order is
    // open. Walking in byte order makes the left half the smaller order and
    // the deviation the one of the later label.
    std::sort(m_vCellScratch.begin(), m_vCellScratch.end(), [&](const CCellLabel& x, const CCellLabel& y) {
        return rank[x.pFirst - table.data()] < rank[y.pFirst - table.data()];
    });
    m_vFoldScratch.clear();
    for (const CCellLabel& c : m_vCellScratch) {
        const std::string& label = c.pFirst->strLabel;
        bool folded = false;
        if (label.size() == 2) {
            for (CCellLabel& f : m_vFoldScratch) {
                if (f.pSecond == nullptr && IsMirror(f.pFirst->strLabel, label)) {
                    f.pSecond = c.pFirst;
                    f.lfDeviation = c.lfDeviation;
                    folded = true;
                    break;
                }
            }
        }
        if (!folded) m_vFoldScratch.push_back(c);
    }

    const auto nFirstLabel = static_cast<unsigned int>(m_vLabels.size());
    for (const CCellLabel& f : m_vFoldScratch) {
        m_vLabels.emplace_back();
        CEdgeLabel& out = m_vLabels.back();
        if (f.pSecond == nullptr) {
            out.strLabel = f.pFirst->strLabel;
        } else {
            out.strLabel.push_back('[');
            out.strLabel += f.pFirst->strLabel;
            out.strLabel.push_back('/');
            out.strLabel += f.pSecond->strLabel;
            out.strLabel.push_back(']');
        }
        out.lfDeviation = f.lfDeviation;
    }
    std::sort(m_vLabels.begin() + nFirstLabel, m_vLabels.end(), LabelLess);
}
