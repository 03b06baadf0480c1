#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../scoring/ResidueTable.h"
#include "graph/CandidateGen.h"

namespace {

constexpr double G = 57.02146, A = 71.03711, K = 128.09496, R = 156.10111, N = 114.04293;

using Labels = std::vector<std::pair<std::string, double>>;

// Graph with n nodes and no edges; edges are added in ascending target order
// per source, labels in ascending byte order, as the edge builder stores them.
void Reset(CNCGraph& g, CCandidateList& list, size_t n) {
    g.m_vSuccessors.assign(n, {});
    g.m_vEdgeWeights.assign(n, {});
    g.m_vGraphEdges.assign(n, {});
    g.m_vLabels.clear();
    g.m_vPaths.clear();
    list.Reset(200);
}

void AddEdge(CNCGraph& g, unsigned a, unsigned b, int weight, const Labels& labels) {
    CGraphEdge e;
    e.nFirstLabel = static_cast<unsigned>(g.m_vLabels.size());
    e.nLabelCount = static_cast<unsigned>(labels.size());
    for (const auto& [text, dev] : labels) g.m_vLabels.push_back({text, dev});
    g.m_vSuccessors[a].push_back(b);
    g.m_vEdgeWeights[a].push_back(weight);
    g.m_vGraphEdges[a].push_back(e);
}

std::vector<CCandidate> Drain(CCandidateList& list) {
    std::vector<CCandidate> out;
    list.Drain(out);
    return out;
}

class CandidatesTest : public ::testing::Test {
protected:
    CandidatesTest() : g(&cond) {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_nReportTemp = 200;
        g.m_lfTolerance = 0.02;
    }
    CCondition cond;
    CNCGraph g;
    CCandidateList list;
};

TEST_F(CandidatesTest, GeneratePeptideForOnePath_BracketAndPairLabels_OneTextTwoPeptides) {
    Reset(g, list, 10);
    AddEdge(g, 0, 3, 100, {{"G", 0.003}});
    AddEdge(g, 3, 7, 20, {{"[AG/GA]", -0.004}});
    AddEdge(g, 7, 9, 3, {{"KR", 0.002}});
    g.m_lfResidueMass = G + A + G + K + R;
    g.m_vPaths = {{0, 3, 7, 9}};
    g.GenerateCandidatePeptidevvPath(list);

    auto got = Drain(list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strText, "G[AG/GA](KR)");
    EXPECT_EQ(got[0].lfPathWeight, 123.0);
    EXPECT_EQ(got[0].nDoubleSteps, 2);

    std::set<std::string> peps;
    CNCGraph::transferPep(got[0].strText, 0, "", peps);
    EXPECT_EQ(peps, (std::set<std::string>{"GAGKR", "GGAKR"}));
}

TEST_F(CandidatesTest, GeneratePeptideForOnePath_DriftOverTolerance_Pruned) {
    // After +0.01, only the label with -0.015 keeps |drift| within 0.02;
    // G(GG) would pass the completion test, so only the drift test drops it.
    Reset(g, list, 3);
    AddEdge(g, 0, 1, 5, {{"G", 0.01}});
    AddEdge(g, 1, 2, 5, {{"GG", 0.015}, {"N", -0.015}});
    g.m_lfResidueMass = G + N;
    g.GeneratePeptideForOnePath({0, 1, 2}, list);
    auto got = Drain(list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strText, "GN");
    EXPECT_EQ(got[0].nDoubleSteps, 0);
}

TEST_F(CandidatesTest, GeneratePeptideForOnePath_MassOffBy0011_DroppedEvenWithWideTolerance) {
    Reset(g, list, 2);
    AddEdge(g, 0, 1, 5, {{"G", 0.0}});
    g.m_lfTolerance = 0.5;
    g.m_lfResidueMass = G + 0.011;
    g.GeneratePeptideForOnePath({0, 1}, list);
    EXPECT_TRUE(list.Empty());
    g.m_lfResidueMass = G - 0.011;
    g.GeneratePeptideForOnePath({0, 1}, list);
    EXPECT_TRUE(list.Empty());
    g.m_lfResidueMass = G + 0.009;
    g.GeneratePeptideForOnePath({0, 1}, list);
    EXPECT_EQ(list.Size(), 1u);
}

TEST_F(CandidatesTest, GeneratePeptideForOnePath_PairOnStartEndPath_ParenthesisedOneDoubleStep) {
    Reset(g, list, 2);
    AddEdge(g, 0, 1, 7, {{"GG", 0.0}});
    g.m_lfResidueMass = G + G;
    g.GeneratePeptideForOnePath({0, 1}, list);
    auto got = Drain(list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strText, "(GG)");
    EXPECT_EQ(got[0].nDoubleSteps, 1);
    EXPECT_EQ(got[0].lfPathWeight, 7.0);
}

TEST_F(CandidatesTest, GeneratePeptideForOnePath_UnknownResidueCode_TextDropped) {
    Reset(g, list, 2);
    AddEdge(g, 0, 1, 7, {{"G", 0.0}, {"X", 0.0}});
    g.m_lfResidueMass = G;
    g.GeneratePeptideForOnePath({0, 1}, list);
    auto got = Drain(list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strText, "G");
}

TEST_F(CandidatesTest, GeneratePeptideForOnePath_ModifiedResidueCodes_MassFromCodeTable) {
    testing_residues::SetResidue(cond, 'g', G + 42.010565);
    testing_residues::SetResidue(cond, char(11), K + 0.984);
    Reset(g, list, 3);
    AddEdge(g, 0, 1, 1, {{"g", 0.0}});
    AddEdge(g, 1, 2, 1, {{std::string(1, char(11)), 0.0}});
    g.m_lfResidueMass = G + 42.010565 + K + 0.984;
    g.GeneratePeptideForOnePath({0, 1, 2}, list);
    auto got = Drain(list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strText, std::string("g") + char(11));
}

TEST(Candidates, GetPeptideLength_BracketsAndParentheses_CountResidues) {
    EXPECT_EQ(CNCGraph::GetPeptideLength(""), 0);
    EXPECT_EQ(CNCGraph::GetPeptideLength("PEPTIDE"), 7);
    EXPECT_EQ(CNCGraph::GetPeptideLength("(GG)"), 2);
    EXPECT_EQ(CNCGraph::GetPeptideLength("G[AG/GA](KR)"), 5);
    EXPECT_EQ(CNCGraph::GetPeptideLength("[AG/GA][KR/RK]"), 4);
}

TEST(Candidates, TransferPep_TextsSpellingSamePeptide_MergeInSet) {
    std::set<std::string> peps;
    CNCGraph::transferPep("(GG)A", 0, "", peps);
    CNCGraph::transferPep("G(GA)", 0, "", peps);
    EXPECT_EQ(peps, (std::set<std::string>{"GGA"}));
    peps.clear();
    CNCGraph::transferPep("[AG/GA][KR/RK]", 0, "", peps);
    EXPECT_EQ(peps, (std::set<std::string>{"AGKR", "AGRK", "GAKR", "GARK"}));
}

// The bounded queue keeps the same (double steps, weight) keys as a full sort
// of every candidate would put first: fewest double steps, then heaviest.
TEST_F(CandidatesTest, CandidateQueue_Bounded_MatchesFullSortOnRandomPaths) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        const unsigned paths = 1 + rng() % 15;
        const unsigned end = paths + 1;
        Reset(g, list, end + 1);
        const Labels choices[] = {{{"GG", 0.0}}, {{"N", 0.0}}, {{"GG", 0.0}, {"N", 0.0}}};
        // Edges 0 -> k in ascending k, then k -> end.
        std::vector<int> w1(paths + 1), w2(paths + 1);
        std::vector<int> c1(paths + 1), c2(paths + 1);
        for (unsigned k = 1; k <= paths; ++k) {
            w1[k] = static_cast<int>(rng() % 50);
            w2[k] = static_cast<int>(rng() % 50);
            c1[k] = static_cast<int>(rng() % 3);
            c2[k] = static_cast<int>(rng() % 3);
            AddEdge(g, 0, k, w1[k], choices[c1[k]]);
        }
        for (unsigned k = 1; k <= paths; ++k) AddEdge(g, k, end, w2[k], choices[c2[k]]);
        for (unsigned k = 1; k <= paths; ++k) g.m_vPaths.push_back({0, k, end});
        g.m_lfResidueMass = 2 * G + 2 * G;

        list.Reset(1000);
        g.GenerateCandidatePeptidevvPath(list);
        std::vector<std::pair<int, double>> all;
        for (const CCandidate& r : Drain(list)) all.push_back({r.nDoubleSteps, r.lfPathWeight});
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second > b.second;
        });

        for (int bound : {1, 2, 5}) {
            list.Reset(bound);
            g.GenerateCandidatePeptidevvPath(list);
            ASSERT_LE(list.Size(), static_cast<size_t>(bound));
            std::vector<std::pair<int, double>> kept;
            for (const CCandidate& r : Drain(list)) kept.push_back({r.nDoubleSteps, r.lfPathWeight});
            std::reverse(kept.begin(), kept.end());  // strongest first
            const size_t expect = std::min(all.size(), static_cast<size_t>(bound));
            ASSERT_EQ(kept.size(), expect);
            for (size_t i = 0; i < expect; ++i) {
                EXPECT_EQ(kept[i].first, all[i].first) << "round " << round << " bound " << bound;
                EXPECT_EQ(kept[i].second, all[i].second) << "round " << round << " bound " << bound;
            }
        }
    }
}

TEST_F(CandidatesTest, CandidateQueue_ReportTempOne_FewestDoubleStepsThenHeaviest) {
    Reset(g, list, 4);
    AddEdge(g, 0, 1, 50, {{"G", 0.0}});
    AddEdge(g, 0, 2, 30, {{"G", 0.0}});
    AddEdge(g, 0, 3, 900, {{"GG", 0.0}});  // heaviest, but a double step
    AddEdge(g, 1, 3, 1, {{"G", 0.0}});
    AddEdge(g, 2, 3, 5, {{"G", 0.0}});
    list.Reset(1);
    g.m_lfResidueMass = G + G;
    g.m_vPaths = {{0, 3}, {0, 2, 3}, {0, 1, 3}};
    g.GenerateCandidatePeptidevvPath(list);
    auto got = Drain(list);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].strText, "GG");
    EXPECT_EQ(got[0].nDoubleSteps, 0);
    EXPECT_EQ(got[0].lfPathWeight, 51.0);
}

// Edge weights may be saturated to the int range; their sum along a path
// saturates too (as in the path search) instead of overflowing.
TEST_F(CandidatesTest, PathWeight_SaturatedEdgeWeights_SumSaturates) {
    const int top = std::numeric_limits<int>::max(), bottom = std::numeric_limits<int>::min();
    struct Case { int w1, w2, w3; double want; };
    const Case cases[] = {{top, top, -5, static_cast<double>(top) - 5},
                          {bottom, bottom, 7, static_cast<double>(bottom) + 7},
                          {100, -30, 4, 74.0}};
    for (const Case& c : cases) {
        Reset(g, list, 4);
        AddEdge(g, 0, 1, c.w1, {{"G", 0.0}});
        AddEdge(g, 1, 2, c.w2, {{"G", 0.0}});
        AddEdge(g, 2, 3, c.w3, {{"G", 0.0}});
        g.m_lfResidueMass = 3 * G;
        g.m_vPaths = {{0, 1, 2, 3}};
        g.GenerateCandidatePeptidevvPath(list);
        auto got = Drain(list);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].lfPathWeight, c.want);
    }
}

}  // namespace
