#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "conditions/Condition.h"
#include "graph/CandidateGen.h"

namespace {

constexpr double kMH = 1000.5;
constexpr double kR = 981.48215882988;  // 1000.5 - water - proton

CPeak NodePeak(double mass, int code, double w) {
    CPeak p;
    p.lfMz = mass;
    p.nType = code;
    p.lfLogIntensity = w;
    return p;
}

CPeak RawPeak(double mz, double logIntensity) {
    CPeak p;
    p.lfMz = mz;
    p.lfKeyMz = mz;
    p.lfIntensity = 1.0;
    p.lfLogIntensity = logIntensity;
    p.nCharge = 1;
    return p;
}

CSpectrum MakeSpectrum(double mh, const std::vector<CPeak>& peaks, const char* activation = "HCD") {
    CSpectrum s;
    s.m_strTitle = "t";
    s.m_lfPrecursorMH = mh;
    s.m_nCharge = 2;
    s.m_vPeaks = peaks;
    s.m_strActivation = activation;
    return s;
}

class NodesTest : public ::testing::Test {
protected:
    void SetUp() override {
        cond.m_lfFragTol = 0.02;
        cond.m_bFragTolPpm = false;
        cond.m_lfPepTol = 0.05;
        cond.m_bPepTolPpm = false;
        cond.m_nMaxNode = 300;
        cond.m_lfAAMass['K' - 'A'] = 128.09496;
        cond.m_lfAAMass['R' - 'A'] = 156.10111;
        cond.m_lfAAMass['D' - 'A'] = 115.02694;
    }
    // What the graph sets before building its nodes.
    CNCGraph& Graph(double mh = kMH) {
        graph.m_lfResidueMass = mh - 18.0105647 - 1.00727647012;
        graph.m_lfTolerance = 0.02;
        return graph;
    }
    // The nodes of the spectra the mode uses (1 HCD: first, 2 ETD: second,
    // 3 both, 0 neither).
    void Merge(const CSpectrum& first, const CSpectrum& second) {
        CGraphInput in;
        in.pHcd = mode == 1 || mode == 3 ? &first : nullptr;
        in.pEtd = mode == 2 || mode == 3 ? &second : nullptr;
        in.lfPrecursorMH = first.m_lfPrecursorMH;
        Graph()._Merge_HCDETD(in, nullptr);
    }
    CCondition cond;
    CNCGraph graph{&cond};
    int mode = 1;
};

}  // namespace

TEST_F(NodesTest, ConstructNodesHCD_OnePeak_BAndComplementSorted) {
    std::vector<CPeak> out{NodePeak(1, 1, 1)};  // stale content is replaced
    Graph()._ConstructNodesHCD(MakeSpectrum(kMH, {RawPeak(800.0, 1.0), RawPeak(300.0, 2.0)}), kMH, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_DOUBLE_EQ(out[0].lfMz, 200.5);
    EXPECT_EQ(out[0].nType, 2);
    EXPECT_DOUBLE_EQ(out[1].lfMz, 298.99272352988);
    EXPECT_EQ(out[1].nType, 1);
    EXPECT_DOUBLE_EQ(out[1].lfLogIntensity, 2.0);
    EXPECT_DOUBLE_EQ(out[2].lfMz, 700.5);
    EXPECT_DOUBLE_EQ(out[3].lfMz, 798.99272352988);
}

TEST_F(NodesTest, ConstructNodesETD_OnePeak_FourCodesSorted) {
    std::vector<CPeak> out;
    Graph()._ConstructNodesETD(MakeSpectrum(kMH, {RawPeak(300.0, 1.0)}, "ETD"), kMH, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].nType, 3);
    EXPECT_NEAR(out[0].lfMz, 281.96617442488, 1e-9);
    EXPECT_EQ(out[1].nType, 6);
    EXPECT_NEAR(out[1].lfMz, 282.97399945988, 1e-9);
    EXPECT_EQ(out[2].nType, 4);
    EXPECT_NEAR(out[2].lfMz, 684.48237305976, 1e-9);
    EXPECT_EQ(out[3].nType, 5);
    EXPECT_NEAR(out[3].lfMz, 685.489100965, 1e-9);
}

TEST_F(NodesTest, Merge_NAndCPeakWithinTolerance_WeightedMeanAndLargestDeviation) {
    Graph()._Merge({NodePeak(300.000, 1, 2.0), NodePeak(300.010, 2, 1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);
    const CNode& n = graph.m_vNodes[0];
    EXPECT_NEAR(n.lfMass, 300.0033333333333, 1e-9);
    EXPECT_DOUBLE_EQ(n.lfNWeight, 2.0);
    EXPECT_DOUBLE_EQ(n.lfCWeight, 1.0);
    EXPECT_EQ(n.cSupport, 3);
    EXPECT_EQ(n.nPeakCount, 2);
    EXPECT_NEAR(n.lfTolerance, 0.035, 1e-12);
}

TEST_F(NodesTest, Merge_ChainOfCloseNeighbours_OneNode) {
    cond.m_lfFragTol = 0.04;
    Graph()._Merge({NodePeak(100.00, 1, 1.0), NodePeak(100.03, 1, 1.0), NodePeak(100.06, 1, 1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);
    EXPECT_EQ(graph.m_vNodes[0].nPeakCount, 3);
    EXPECT_NEAR(graph.m_vNodes[0].lfMass, 100.03, 1e-9);

    Graph()._Merge({NodePeak(100.00, 1, 1.0), NodePeak(100.05, 1, 1.0), NodePeak(100.05, 1, 1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 2u);  // equal masses always join
    EXPECT_EQ(graph.m_vNodes[1].nPeakCount, 2);
}

TEST_F(NodesTest, Merge_FirstCTermPeakTakesFullDeviation_LaterOnesHalf) {
    // First: 0.05 + 0.02 = 0.07; second: 0.035; mean 0.0525 covers the gap 0.05.
    Graph()._Merge({NodePeak(300.00, 2, 1.0), NodePeak(300.05, 2, 1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);
    EXPECT_NEAR(graph.m_vNodes[0].lfTolerance, 0.07, 1e-12);
    // An N-terminal first peak (0.02) with a C-terminal follower (0.035): mean 0.0275.
    Graph()._Merge({NodePeak(300.00, 1, 1.0), NodePeak(300.05, 2, 1.0)}, kMH);
    EXPECT_EQ(graph.m_vNodes.size(), 2u);
}

TEST_F(NodesTest, Merge_RangeTests_AroundGlycineFromBothEnds) {
    Graph()._Merge({NodePeak(57.0, 1, 1.0), NodePeak(57.01, 1, 1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);  // the two are 0.01 apart: one node at 57.005 (kept)
    Graph()._Merge({NodePeak(57.0, 1, 1.0)}, kMH);
    EXPECT_TRUE(graph.m_vNodes.empty());
    Graph()._Merge({NodePeak(57.01, 1, 1.0)}, kMH);
    EXPECT_EQ(graph.m_vNodes.size(), 1u);
    Graph()._Merge({NodePeak(kR - 57.0, 1, 1.0)}, kMH);
    EXPECT_TRUE(graph.m_vNodes.empty());
    Graph()._Merge({NodePeak(kR - 57.01, 1, 1.0)}, kMH);
    EXPECT_EQ(graph.m_vNodes.size(), 1u);
    Graph()._Merge({NodePeak(kR + 0.03, 1, 1.0), NodePeak(kR + 100.0, 1, 1.0)}, kMH);
    EXPECT_TRUE(graph.m_vNodes.empty());
}

TEST_F(NodesTest, Merge_SingleSeriesGroups_OneSupportBit) {
    Graph()._Merge({NodePeak(200.0, 2, 1.5), NodePeak(200.01, 4, 0.5), NodePeak(400.0, 3, 1.0),
                    NodePeak(400.01, 6, 2.0)},
                   kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 2u);
    EXPECT_EQ(graph.m_vNodes[0].cSupport, 1);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[0].lfNWeight, 0.0);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[0].lfCWeight, 2.0);
    EXPECT_EQ(graph.m_vNodes[1].cSupport, 2);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[1].lfCWeight, 0.0);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[1].lfNWeight, 3.0);
}

TEST_F(NodesTest, Merge_ZeroTotalWeight_PlainMean) {
    Graph()._Merge({NodePeak(300.00, 1, 0.0), NodePeak(300.01, 1, 0.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);
    EXPECT_NEAR(graph.m_vNodes[0].lfMass, 300.005, 1e-9);
    // Weights cancelling out count as zero as well.
    Graph()._Merge({NodePeak(300.00, 1, 1.0), NodePeak(300.01, 1, -1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);
    EXPECT_NEAR(graph.m_vNodes[0].lfMass, 300.005, 1e-9);
}

TEST_F(NodesTest, MergeHCDETD_EmptySpectrum_StartAndEndOnly) {
    const CSpectrum s = MakeSpectrum(kMH, {});
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 2u);
    const CNode& start = graph.m_vNodes[0];
    const CNode& end = graph.m_vNodes[1];
    EXPECT_EQ(start.lfMass, 0.0);
    EXPECT_EQ(start.cSupport, 3);
    EXPECT_EQ(start.lfTolerance, 0.0);
    EXPECT_EQ(start.nPeakCount, 0);
    EXPECT_DOUBLE_EQ(end.lfMass, kR);
    EXPECT_EQ(end.cSupport, 3);
    EXPECT_DOUBLE_EQ(end.lfTolerance, 0.05);
    EXPECT_EQ(graph.m_vNodeWeights, (std::vector<double>{0.0, 0.0}));
}

TEST_F(NodesTest, MergeHCDETD_TrypsinSites_PseudoNodesBeforeFinalResidue) {
    cond.m_strEnzymeSites = "KR";
    cond.m_bEnzymeNTerm = false;
    // b node at 198.99 and y node at 800.5, both weight 5.
    const CSpectrum s = MakeSpectrum(kMH, {RawPeak(200.0, 5.0)});
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 6u);
    EXPECT_NEAR(graph.m_vNodes[1].lfMass, 198.99272352988, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[2].lfMass, 800.5, 1e-9);
    const CNode& afterR = graph.m_vNodes[3];
    const CNode& afterK = graph.m_vNodes[4];
    EXPECT_NEAR(afterR.lfMass, 825.38104882988, 1e-9);  // R - 156.10111
    EXPECT_NEAR(afterK.lfMass, 853.38719882988, 1e-9);  // R - 128.09496
    EXPECT_EQ(afterK.cSupport, 1);
    EXPECT_DOUBLE_EQ(afterK.lfCWeight, 5.0);
    EXPECT_DOUBLE_EQ(afterK.lfNWeight, 0.0);
    EXPECT_EQ(graph.m_vNodeWeights.size(), 6u);
    EXPECT_DOUBLE_EQ(graph.m_vNodeWeights[3], 5.0);
}

TEST_F(NodesTest, MergeHCDETD_NTermSite_PseudoNodeAtResidueMass) {
    cond.m_strEnzymeSites = "D";
    cond.m_bEnzymeNTerm = true;
    const CSpectrum s = MakeSpectrum(kMH, {RawPeak(200.0, 3.0)});
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 5u);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[1].lfMass, 115.02694);
    EXPECT_EQ(graph.m_vNodes[1].cSupport, 2);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[1].lfNWeight, 3.0);
}

TEST_F(NodesTest, MergeHCDETD_SiteWithoutResidueMass_Skipped) {
    cond.m_strEnzymeSites = "K*1r\x01" "B";  // only K has a residue mass
    const CSpectrum s = MakeSpectrum(kMH, {});
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 3u);
    EXPECT_NEAR(graph.m_vNodes[1].lfMass, 853.38719882988, 1e-9);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[1].lfCWeight, 0.0);  // no peaks: weight 0
}

TEST_F(NodesTest, MergeHCDETD_NodeCap_KeepsHeaviest) {
    // m/z 60, 65, 70: b nodes 58.99, 63.99, 68.99; their complements lie
    // within a glycine of the end and are dropped.
    const CSpectrum s = MakeSpectrum(kMH, {RawPeak(60.0, 1.0), RawPeak(65.0, 3.0), RawPeak(70.0, 2.0)});
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 5u);

    cond.m_nMaxNode = 2;
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 4u);
    EXPECT_NEAR(graph.m_vNodes[1].lfMass, 63.99272352988, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[2].lfMass, 68.99272352988, 1e-9);
    EXPECT_EQ(graph.m_vNodeWeights, (std::vector<double>{0.0, 3.0, 2.0, 0.0}));

    cond.m_nMaxNode = 0;
    Merge(s, s);
    ASSERT_EQ(graph.m_vNodes.size(), 2u);
    EXPECT_EQ(graph.m_vNodes[0].lfMass, 0.0);
    EXPECT_DOUBLE_EQ(graph.m_vNodes[1].lfMass, kR);

    cond.m_nMaxNode = -1;  // compared as unsigned: no cap
    Merge(s, s);
    EXPECT_EQ(graph.m_vNodes.size(), 5u);
}

TEST_F(NodesTest, MergeHCDETD_ByMode_PeaksFromTheRightSpectrum) {
    const CSpectrum first = MakeSpectrum(kMH, {RawPeak(300.0, 1.0)});
    const CSpectrum second = MakeSpectrum(kMH, {RawPeak(400.0, 1.0)}, "ETD");

    mode = 2;
    Merge(first, second);
    ASSERT_EQ(graph.m_vNodes.size(), 6u);
    EXPECT_NEAR(graph.m_vNodes[1].lfMass, 381.96617442488, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[2].lfMass, 382.97399945988, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[3].lfMass, 584.48237305976, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[4].lfMass, 585.489100965, 1e-9);

    mode = 1;
    Merge(first, second);
    ASSERT_EQ(graph.m_vNodes.size(), 4u);
    EXPECT_NEAR(graph.m_vNodes[1].lfMass, 298.99272352988, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[2].lfMass, 700.5, 1e-9);

    mode = 3;
    Merge(first, second);
    EXPECT_EQ(graph.m_vNodes.size(), 8u);

    mode = 0;
    Merge(first, second);
    EXPECT_EQ(graph.m_vNodes.size(), 2u);
}

TEST_F(NodesTest, Merge_DeviationIsRunningMax_WidensLaterGaps) {
    // N (0.02), then C (0.035, d becomes 0.035), then N 0.027 above the C
    // peak: (0.035 + 0.02) / 2 = 0.0275 admits it; the first peak's own 0.02
    // would not.
    Graph()._Merge({NodePeak(300.000, 1, 1.0), NodePeak(300.010, 2, 1.0), NodePeak(300.037, 1, 1.0)}, kMH);
    ASSERT_EQ(graph.m_vNodes.size(), 1u);
    EXPECT_EQ(graph.m_vNodes[0].nPeakCount, 3);
    EXPECT_NEAR(graph.m_vNodes[0].lfTolerance, 0.035, 1e-12);
}

TEST_F(NodesTest, MergeHCDETD_AllLogIntensitiesNegative_PseudoPeakWeightZero) {
    // Relative intensities below 1 give negative weights; the strongest
    // weight starts from 0, so the pseudo-peak weighs 0, not -0.5.
    cond.m_strEnzymeSites = "K";
    const CSpectrum s = MakeSpectrum(kMH, {RawPeak(200.0, -0.5), RawPeak(300.0, -2.0)});
    Merge(s, s);
    const double afterK = kR - 128.09496;
    const CNode* pseudo = nullptr;
    for (const CNode& n : graph.m_vNodes)
        if (std::fabs(n.lfMass - afterK) < 1e-6) pseudo = &n;
    ASSERT_NE(pseudo, nullptr);
    EXPECT_EQ(pseudo->lfCWeight, 0.0);
    EXPECT_EQ(pseudo->cSupport, 1);
}

TEST_F(NodesTest, RankWeights_LnOnePlusPeaksOverRank_EqualIntensitiesShareRank) {
    // Intensities 0.5, 1, 0.5, 0.25: ranks 2, 1, 2, 4 of n = 4 peaks.
    std::vector<CPeak> peaks = {RawPeak(100, 0), RawPeak(200, 0), RawPeak(300, 0), RawPeak(400, 0)};
    const double intensity[] = {0.5, 1.0, 0.5, 0.25};
    for (size_t i = 0; i < peaks.size(); ++i) peaks[i].lfIntensity = intensity[i];
    const CSpectrum s = MakeSpectrum(kMH, peaks);
    std::vector<CPeak> nodePeaks;
    graph._ConstructNodesHCD(s, s.m_lfPrecursorMH, nodePeaks);
    graph._RankWeights(s, nodePeaks);
    for (const CPeak& p : nodePeaks) {
        const double rank = p.lfIntensity == 1.0 ? 1 : p.lfIntensity == 0.5 ? 2 : 4;
        EXPECT_DOUBLE_EQ(p.lfLogIntensity, std::log(1.0 + 4.0 / rank)) << p.lfMz;
    }
}
