#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "graph/CandidateGen.h"

namespace {

// Installs a residue-gap table with its index and the tables made with it.
void SetTable(CCondition& cond, std::vector<CEdge> edges) {
    std::sort(edges.begin(), edges.end(), CEdge::MassLess);
    cond.m_vEdges = edges;
    cond.Create_Hash_Table();
}

CEdge Gap(const std::string& label, double mass, char modSite = 0) {
    return CEdge{label, mass, modSite, static_cast<int>(label.size())};
}

CNode Node(double mass, double nWeight, double cWeight, char support, double tol) {
    CNode node;
    node.lfMass = mass;
    node.lfNWeight = nWeight;
    node.lfCWeight = cWeight;
    node.cSupport = support;
    node.lfTolerance = tol;
    return node;
}

// A start-like node: mass 0, no weight, both series, no tolerance.
CNode Start() { return Node(0.0, 0, 0, 3, 0.0); }

using Labels = std::vector<std::pair<std::string, double>>;

Labels LabelsOf(const CNCGraph& g, unsigned int a, unsigned int b) {
    Labels out;
    const CGraphEdge* e = g.FindEdge(a, b);
    if (!e) return out;
    for (unsigned int x = 0; x < e->nLabelCount; ++x) {
        const CEdgeLabel& l = g.m_vLabels[e->nFirstLabel + x];
        out.emplace_back(l.strLabel, l.lfDeviation);
    }
    return out;
}

int WeightOf(const CNCGraph& g, unsigned int a, unsigned int b) {
    unsigned int pos = 0;
    EXPECT_NE(g.FindEdge(a, b, &pos), nullptr);
    return g.m_vEdgeWeights[a][pos];
}

class EdgesTest : public ::testing::Test {
protected:
    CCondition cond;
    CNCGraph graph{&cond};

    void Build(std::vector<CNode> nodes) {
        graph.m_vNodes = std::move(nodes);
        graph._ConstructEdges();
    }
};

// Straightforward reading of the edge rules: every pair, a linear scan of
// the table, ordered maps for the labels.
struct BruteEdges {
    std::vector<std::vector<unsigned int>> succ;
    std::vector<std::vector<int>> weights;
    std::vector<std::vector<std::map<std::string, double>>> cells;
};

BruteEdges BruteForce(const std::vector<CNode>& nodes, const std::vector<CEdge>& table) {
    const std::size_t n = nodes.size();
    BruteEdges out;
    out.succ.assign(n, {});
    out.weights.assign(n, {});
    out.cells.assign(n, {});
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            const double gap = nodes[j].lfMass - nodes[i].lfMass;
            double t = (nodes[i].lfTolerance + nodes[j].lfTolerance) * 0.5;
            if (t > 0.5) t = 0.5;
            const double lo = gap - t, hi = gap + t;
            std::map<std::string, double> cell;
            for (const CEdge& e : table) {
                if (e.lfMass < lo || e.lfMass > hi) continue;
                if (e.cModSite == 2 && i != 0) continue;
                if (e.cModSite == 1 && j != n - 1) continue;
                cell.emplace(e.strLabel, gap - e.lfMass);
            }
            std::map<std::string, double> folded;
            for (const auto& [label, dev] : cell) {
                // The mirror of a two-residue label ("" for any other).
                const std::string k = label.size() == 2 ? std::string{label[1], label[0]} : std::string();
                auto it = folded.find(k);
                if (!k.empty() && it != folded.end()) {
                    folded.erase(it);
                    folded.emplace("[" + k + "/" + label + "]", dev);
                } else {
                    folded.emplace(label, dev);
                }
            }
            if (folded.empty()) continue;
            double e = 0.01999;
            for (const auto& kv : folded) e = std::min(e, std::fabs(kv.second));
            const double factor = e < 0.001 ? 190 : (0.02 - e) * 10000;
            double u = nodes[j].lfNWeight + nodes[j].lfCWeight;
            const int s = nodes[i].cSupport & nodes[j].cSupport;
            if (s & 1) u += nodes[i].lfCWeight;
            if (s & 2) u += nodes[i].lfNWeight;
            out.succ[i].push_back(static_cast<unsigned int>(j));
            out.weights[i].push_back(static_cast<int>(factor * u));
            out.cells[i].push_back(std::move(folded));
        }
    }
    return out;
}

// Residue masses for a realistic table, plus two modified residues.
std::vector<CEdge> RealisticTable() {
    const std::vector<std::pair<char, double>> plain = {
        {'G', 57.02146},  {'A', 71.03711},  {'S', 87.03203},  {'P', 97.05276},  {'V', 99.06841},
        {'T', 101.04768}, {'C', 103.00919}, {'L', 113.08406}, {'N', 114.04293}, {'D', 115.02694},
        {'Q', 128.05858}, {'K', 128.09496}, {'E', 129.04259}, {'M', 131.04049}, {'H', 137.05891},
        {'F', 147.06841}, {'R', 156.10111}, {'Y', 163.06333}, {'W', 186.07931}};
    struct Res { std::string code; double mass; char mod; };
    std::vector<Res> all;
    for (const auto& [c, m] : plain) all.push_back({std::string(1, c), m, 0});
    all.push_back({"s", 87.03203 + 42.01057, 2});              // N-terminally modified S
    all.push_back({std::string(1, char(11)), 128.09496 + 0.98402, 1});  // C-terminally modified K
    std::vector<CEdge> table;
    for (const Res& r : all) table.push_back(Gap(r.code, r.mass, r.mod));
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].mod == 0) table.push_back(Gap(all[i].code + all[i].code, 2 * all[i].mass, 0));
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            if (all[i].mod != 0 && all[j].mod != 0) continue;
            const double m = all[i].mass + all[j].mass;
            for (const auto& [x, y] : {std::pair{all[i], all[j]}, std::pair{all[j], all[i]}}) {
                if (x.mod == 1 || y.mod == 2) continue;
                const char flag = y.mod == 1 ? 1 : (x.mod == 2 ? 2 : 0);
                table.push_back(Gap(x.code + y.code, m, flag));
            }
        }
    }
    return table;
}

}  // namespace

TEST_F(EdgesTest, ConstructEdges_GlycineGap_Weight570) {
    SetTable(cond, {Gap("G", 57.02146), Gap("A", 71.03711), Gap("GG", 114.04292)});
    Build({Start(), Node(57.0216, 3.0, 0.0, 2, 0.02)});
    ASSERT_EQ(graph.m_vSuccessors.size(), 2u);
    EXPECT_EQ(graph.m_vSuccessors[0], (std::vector<unsigned int>{1}));
    EXPECT_TRUE(graph.m_vSuccessors[1].empty());
    const Labels labels = LabelsOf(graph, 0, 1);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].first, "G");
    EXPECT_NEAR(labels[0].second, 0.00014, 1e-9);
    EXPECT_EQ(WeightOf(graph, 0, 1), 570);
}

TEST_F(EdgesTest, ConstructEdges_SupportBits_AddSharedSeriesOfSource) {
    SetTable(cond, {Gap("G", 57.02146)});
    // u = 3.5 + C weight of the source (shared series bit 1) = 4.5; 190 * 4.5.
    Build({Node(100.0, 2.0, 1.0, 3, 0.01), Node(157.02146, 3.0, 0.5, 1, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), 855);
    // Bit 2 shared: the N weight of the source instead; 190 * 5.5.
    Build({Node(100.0, 2.0, 1.0, 3, 0.01), Node(157.02146, 3.0, 0.5, 2, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), 1045);
    // Both: 190 * 6.5.
    Build({Node(100.0, 2.0, 1.0, 3, 0.01), Node(157.02146, 3.0, 0.5, 3, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), 1235);
    // No shared series and no weight at the target: weight 0.
    Build({Node(100.0, 2.0, 1.0, 1, 0.01), Node(157.02146, 0.0, 0.0, 2, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), 0);
}

TEST_F(EdgesTest, ConstructEdges_MirrorPair_OneBracketLabelWithDeviationOfLaterOrder) {
    // GA is lighter than AG here so that table order and byte order differ
    // and the two deviations can be told apart.
    SetTable(cond, {Gap("GA", 128.05850), Gap("AG", 128.05857), Gap("Q", 128.05858), Gap("K", 128.09496),
                    Gap("AA", 142.07422), Gap("GG", 114.04292), Gap("N", 114.04293)});
    Build({Start(), Node(128.0586, 1.0, 0.0, 2, 0.02)});
    const Labels labels = LabelsOf(graph, 0, 1);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0].first, "Q");
    EXPECT_EQ(labels[0].second, 128.0586 - 128.05858);
    EXPECT_EQ(labels[1].first, "[AG/GA]");
    EXPECT_EQ(labels[1].second, 128.0586 - 128.05850);

    Build({Start(), Node(142.0742, 1.0, 0.0, 2, 0.02)});
    const Labels same = LabelsOf(graph, 0, 1);
    ASSERT_EQ(same.size(), 1u);
    EXPECT_EQ(same[0].first, "AA");

    Build({Start(), Node(114.0429, 1.0, 0.0, 2, 0.02)});
    const Labels near = LabelsOf(graph, 0, 1);
    ASSERT_EQ(near.size(), 2u);
    EXPECT_EQ(near[0].first, "GG");
    EXPECT_EQ(near[1].first, "N");
}

TEST_F(EdgesTest, ConstructEdges_TerminalModifications_OnlyAtTheirEnds) {
    const std::string cMod(1, char(11));
    SetTable(cond, {Gap("s", 100.0, 2), Gap(cMod, 200.0, 1), Gap("Z", 150.0, 0)});
    // Nodes 0, 100, 200, 300, 350.
    Build({Start(), Node(100.0, 1, 0, 2, 0), Node(200.0, 1, 0, 2, 0), Node(300.0, 1, 0, 2, 0),
           Node(350.0, 1, 0, 2, 0)});
    EXPECT_EQ(LabelsOf(graph, 0, 1), (Labels{{"s", 0.0}}));     // from the start node
    EXPECT_EQ(graph.FindEdge(1, 2), nullptr);                  // s elsewhere: no
    EXPECT_EQ(graph.FindEdge(2, 3), nullptr);
    EXPECT_EQ(graph.FindEdge(0, 2), nullptr);                  // C-mod not into the end: no
    EXPECT_EQ(graph.FindEdge(1, 3), nullptr);
    EXPECT_EQ(LabelsOf(graph, 3, 4), Labels{});                // gap 50: nothing
    EXPECT_EQ(LabelsOf(graph, 2, 4), (Labels{{"Z", 0.0}}));     // plain gap anywhere
    EXPECT_EQ(LabelsOf(graph, 0, 3), Labels{});
    EXPECT_EQ(graph.m_vSuccessors[0], (std::vector<unsigned int>{1}));
    EXPECT_EQ(graph.m_vSuccessors[1], (std::vector<unsigned int>{}));
    EXPECT_EQ(graph.m_vSuccessors[2], (std::vector<unsigned int>{4}));
    EXPECT_TRUE(graph.m_vSuccessors[4].empty());

    // Into the end node the C-terminal one is admitted: 150 -> 350.
    Build({Start(), Node(150.0, 1, 0, 2, 0), Node(350.0, 1, 0, 2, 0)});
    EXPECT_EQ(LabelsOf(graph, 1, 2), (Labels{{cMod, 0.0}}));
    EXPECT_EQ(LabelsOf(graph, 0, 1), (Labels{{"Z", 0.0}}));

    // The pair (start, end) admits both kinds.
    SetTable(cond, {Gap("s", 100.0, 2), Gap(cMod, 100.004, 1)});
    Build({Start(), Node(100.002, 1, 0, 2, 0.02)});
    const Labels both = LabelsOf(graph, 0, 1);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].first, cMod);
    EXPECT_EQ(both[1].first, "s");
}

TEST_F(EdgesTest, ConstructEdges_LabelFromTwoEntries_FirstInTableOrderKept) {
    // Two N-terminal modifications of one residue share a code.
    SetTable(cond, {Gap("s", 129.040, 2), Gap("s", 129.045, 2)});
    Build({Start(), Node(129.043, 1, 0, 2, 0.02)});
    const Labels labels = LabelsOf(graph, 0, 1);
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].second, 129.043 - 129.040);
}

TEST_F(EdgesTest, ConstructEdges_AllDeviationsAtLeast002_FactorFloorsAtPointOne) {
    SetTable(cond, {Gap("G", 57.02146)});
    // Deviation 0.03 (window 0.1): e stays 0.01999, so the factor is
    // (0.02 - 0.01999) * 10000, a hair under 0.1 in doubles; 50 times that
    // truncates to 4. Without the floor the factor would be negative.
    Build({Start(), Node(57.05146, 50.0, 0.0, 2, 0.2)});
    EXPECT_EQ(WeightOf(graph, 0, 1), 4);
    // Deviation about -0.005: factor just over 150; times 2 -> 300.
    Build({Start(), Node(57.01646, 2.0, 0.0, 2, 0.2)});
    EXPECT_EQ(WeightOf(graph, 0, 1), 300);
}

// A zero raw intensity gives a node weight of -inf (its log); the weight
// saturates instead of an undefined conversion.
TEST_F(EdgesTest, ConstructEdges_NonFiniteOrHugeNodeWeight_WeightSaturates) {
    SetTable(cond, {Gap("G", 57.02146)});
    const double inf = std::numeric_limits<double>::infinity();
    Build({Start(), Node(57.02146, -inf, 0.0, 2, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), std::numeric_limits<int>::min());
    Build({Start(), Node(57.02146, std::nan(""), 0.0, 2, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), std::numeric_limits<int>::min());
    Build({Start(), Node(57.02146, 1e12, 0.0, 2, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), std::numeric_limits<int>::max());
    Build({Start(), Node(57.02146, -1.5, 0.0, 2, 0.01)});
    EXPECT_EQ(WeightOf(graph, 0, 1), -285);  // 190 * -1.5, truncated toward zero
}

TEST_F(EdgesTest, ConstructEdges_WindowCappedAtHalfDalton) {
    SetTable(cond, {Gap("G", 57.02146)});
    // Tolerances of 2 Da would give a window of 2; it is capped at 0.5.
    Build({Node(0.0, 0, 0, 3, 2.0), Node(57.5, 1, 0, 2, 2.0), Node(57.6, 1, 0, 2, 2.0)});
    EXPECT_NE(graph.FindEdge(0, 1), nullptr);
    EXPECT_EQ(graph.FindEdge(0, 2), nullptr);
}

// Masses that are exact in binary, so the window bounds are exact too: both
// bounds are inclusive, the half-width is the mean of the two tolerances,
// and ending the scan early at the heaviest or lightest table entry must
// not lose a pair that lies exactly on a bound.
TEST_F(EdgesTest, ConstructEdges_GapOnWindowBound_Included) {
    SetTable(cond, {Gap("G", 57.25), Gap("W", 372.25)});
    const double above = std::nextafter(372.75, 1e9), below = std::nextafter(56.75, 0.0);
    Build({Node(0.0, 0, 0, 3, 1.0), Node(below, 1, 0, 2, 1.0), Node(56.75, 1, 0, 2, 1.0), Node(372.75, 1, 0, 2, 1.0),
           Node(above, 1, 0, 2, 1.0)});
    EXPECT_EQ(graph.m_vSuccessors[0], (std::vector<unsigned int>{2, 3}));
    EXPECT_EQ(LabelsOf(graph, 0, 2), (Labels{{"G", -0.5}}));
    EXPECT_EQ(LabelsOf(graph, 0, 3), (Labels{{"W", 0.5}}));

    // Tolerances 0.125 and 0.375: half-width 0.25 on either side.
    Build({Node(0.0, 0, 0, 3, 0.125), Node(57.0, 1, 0, 2, 0.375), Node(57.5, 1, 0, 2, 0.375),
           Node(std::nextafter(57.5, 1e9), 1, 0, 2, 0.375)});
    EXPECT_EQ(graph.m_vSuccessors[0], (std::vector<unsigned int>{1, 2}));
}

TEST_F(EdgesTest, ConstructEdges_NoFittingGap_NoSuccessor) {
    SetTable(cond, {Gap("G", 57.02146)});
    Build({Start(), Node(60.0, 1, 0, 2, 0.02), Node(500.0, 1, 0, 2, 0.02)});
    for (const auto& row : graph.m_vSuccessors) EXPECT_TRUE(row.empty());
    EXPECT_TRUE(graph.m_vLabels.empty());

    SetTable(cond, {});
    Build({Start(), Node(57.02146, 1, 0, 2, 0.02)});
    EXPECT_TRUE(graph.m_vSuccessors[0].empty());
    Build({});
    EXPECT_TRUE(graph.m_vSuccessors.empty());
}

TEST_F(EdgesTest, FindEdge_PositionInSuccessorList) {
    SetTable(cond, {Gap("G", 57.02146), Gap("A", 71.03711), Gap("GG", 114.04292)});
    Build({Start(), Node(57.02146, 1, 0, 2, 0.01), Node(71.03711, 1, 0, 2, 0.01),
           Node(114.04292, 1, 0, 2, 0.01)});
    EXPECT_EQ(graph.m_vSuccessors[0], (std::vector<unsigned int>{1, 2, 3}));
    unsigned int pos = 99;
    ASSERT_NE(graph.FindEdge(0, 3, &pos), nullptr);
    EXPECT_EQ(pos, 2u);
    ASSERT_NE(graph.FindEdge(1, 3, &pos), nullptr);
    EXPECT_EQ(pos, 0u);
    EXPECT_EQ(LabelsOf(graph, 1, 3), (Labels{{"G", 114.04292 - 57.02146 - 57.02146}}));
    EXPECT_EQ(graph.FindEdge(2, 3), nullptr);
    EXPECT_EQ(graph.FindEdge(3, 0), nullptr);
    EXPECT_EQ(graph.FindEdge(17, 0), nullptr);
}

// Ending the inner loop early and the sparse storage must not change a
// thing compared with querying every pair.
TEST_F(EdgesTest, ConstructEdges_RandomNodeSets_IdenticalToEveryPairBruteForce) {
    const std::vector<CEdge> table = RealisticTable();
    SetTable(cond, table);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 60; ++trial) {
        // Odd trials start the residue walk with an N-terminally modified gap
        // and end it with a C-terminally modified one into the end node.
        const bool modEnds = trial % 2 == 1;
        auto pick = [&](char modSite) {
            for (;;) {
                const CEdge& e = cond.m_vEdges[rng() % cond.m_vEdges.size()];
                if (e.cModSite == modSite) return e.lfMass + (unit(rng) - 0.5) * 0.04;
            }
        };
        auto tolerance = [&]() { return trial % 4 == 0 ? 0.3 + unit(rng) * 0.6 : unit(rng) * 0.05; };
        std::vector<CNode> nodes;
        double walk = 0.0;
        if (modEnds) {
            walk = pick(2);
            nodes.push_back(Node(walk, 5.0 * unit(rng), 5.0 * unit(rng), 2, tolerance()));
        }
        const int count = static_cast<int>(rng() % 80);
        for (int x = 0; x < count; ++x) {
            // Half the nodes continue the residue walk (so gaps match), half land anywhere.
            double m;
            if (rng() % 2) {
                walk += pick(0);
                m = walk;
            } else {
                m = 50.0 + 2300.0 * unit(rng);
            }
            nodes.push_back(Node(m, 5.0 * unit(rng), 5.0 * unit(rng), static_cast<char>(rng() % 4), tolerance()));
        }
        const double top = modEnds ? walk + pick(1) : 300.0 + 2000.0 * unit(rng);
        std::erase_if(nodes, [&](const CNode& node) { return node.lfMass >= top; });
        nodes.push_back(Start());
        nodes.push_back(Node(top, 0, 0, 3, 0.02));
        std::sort(nodes.begin(), nodes.end(), CNode::Mz_Less);

        Build(nodes);
        const BruteEdges expect = BruteForce(nodes, cond.m_vEdges);
        SCOPED_TRACE("trial " + std::to_string(trial));
        ASSERT_EQ(graph.m_vSuccessors, expect.succ);
        ASSERT_EQ(graph.m_vEdgeWeights, expect.weights);
        ASSERT_EQ(graph.m_vGraphEdges.size(), nodes.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            ASSERT_EQ(graph.m_vGraphEdges[i].size(), expect.succ[i].size());
            for (std::size_t k = 0; k < expect.succ[i].size(); ++k) {
                const Labels got = LabelsOf(graph, static_cast<unsigned int>(i), expect.succ[i][k]);
                const Labels want(expect.cells[i][k].begin(), expect.cells[i][k].end());
                ASSERT_EQ(got, want) << "pair " << i << "," << expect.succ[i][k];
            }
        }
    }
}
