#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "../scoring/ResidueTable.h"
#include "conditions/Condition.h"
#include "graph/CandidateGen.h"
#include "report/Report.h"

namespace {

constexpr double kG = 57.02146, kA = 71.03711, kS = 87.03203, kV = 99.06841, kP = 97.05276, kH = 137.05891,
                 kY = 163.06333;
constexpr double kProton = 1.00727647012, kWater = 18.0105647;

// A record with the built-in residues and its edge and gap tables.
void Build(CCondition& c, int gapResidues, double maxMass = 0.0) {
    c.m_nGapResidues = gapResidues;
    c.m_lfGapMaxMass = maxMass;
    c.InitMods();
    c.CreateEdgeList();
}

CNode Node(double mass) {
    CNode node;
    node.lfMass = mass;
    node.lfNWeight = 1.0;
    node.cSupport = 2;
    node.lfTolerance = 0.005;
    return node;
}

std::vector<std::string> LabelsOf(const CNCGraph& g, unsigned int a, unsigned int b) {
    std::vector<std::string> out;
    const CGraphEdge* e = g.FindEdge(a, b);
    for (unsigned int x = 0; e && x < e->nLabelCount; ++x) out.push_back(g.m_vLabels[e->nFirstLabel + x].strLabel);
    return out;
}

}  // namespace

// One entry per residue multiset, codes in byte order, by mass; the keys'
// bounds and the mass cap.
TEST(GapEdges, Table_CompositionsOncePerMultiset) {
    const struct {
        int nGap;
        double lfMax;
        size_t nExpected;
        int nExpectedGap;
    } cases[] = {
        {0, 0.0, 0, 0},
        {2, 0.0, 0, 0},                // one- and two-residue gaps are the ordinary edges
        {3, 0.0, 1330, 3},             // 19 residues choose 3 with repetition
        {4, 0.0, 1330 + 7315, 4},
        {9, 0.0, 1330 + 7315, 4},      // lowered to four
        {3, 3 * kG + 1e-6, 1, 3},      // GGG alone
    };
    for (const auto& c : cases) {
        CCondition cond;
        Build(cond, c.nGap, c.lfMax);
        EXPECT_EQ(cond.m_vGapEdges.size(), c.nExpected) << c.nGap;
        EXPECT_EQ(cond.m_nGapResidues, c.nExpectedGap) << c.nGap;
        EXPECT_TRUE(std::is_sorted(cond.m_vGapEdges.begin(), cond.m_vGapEdges.end(), CEdge::MassLess));
        std::set<std::string> seen;
        for (const CEdge& e : cond.m_vGapEdges) {
            EXPECT_TRUE(std::is_sorted(e.strLabel.begin(), e.strLabel.end())) << e.strLabel;
            EXPECT_EQ(e.nResidues, static_cast<int>(e.strLabel.size()));
            double mass = 0.0;
            for (const char r : e.strLabel) mass += cond.m_lfAAMass[r - 'A'];
            EXPECT_NEAR(e.lfMass, mass, 1e-9) << e.strLabel;
            EXPECT_TRUE(seen.insert(e.strLabel).second) << e.strLabel;
        }
        if (c.nExpected > 0) {
            EXPECT_EQ(cond.m_vGapEdges.front().strLabel, "GGG");
        }
    }
}

// A gap edge joins two nodes only where nothing else does: no one- or
// two-residue step and no path through a node between them.
TEST(GapEdges, Edges_OnlyWhereNoPathJoinsTheNodes) {
    CCondition cond;
    Build(cond, 3);
    CNCGraph graph(&cond);
    // Neither mass is within 0.03 of one residue or a pair; AAY is also AFS and FGT.
    const double aay = kA + kA + kY, aap = kA + kA + kP;
    // 0 and 1 only: one gap edge with every composition, byte order.
    graph.m_vNodes = {Node(0.0), Node(aay)};
    graph._ConstructEdges();
    EXPECT_EQ(LabelsOf(graph, 0, 1), (std::vector<std::string>{"[AAY]", "[AFS]", "[FGT]"}));
    // A node at A joins them through two plain steps: no gap edge.
    graph.m_vNodes = {Node(0.0), Node(kA), Node(aay)};
    graph._ConstructEdges();
    EXPECT_EQ(LabelsOf(graph, 0, 1), (std::vector<std::string>{"A"}));
    EXPECT_EQ(LabelsOf(graph, 1, 2), (std::vector<std::string>{"[AY/YA]", "[FS/SF]"}));
    EXPECT_EQ(graph.FindEdge(0, 2), nullptr);
    // Without gap edges the pair stays unjoined.
    CCondition plain;
    Build(plain, 0);
    CNCGraph plainGraph(&plain);
    plainGraph.m_vNodes = {Node(0.0), Node(aay)};
    plainGraph._ConstructEdges();
    EXPECT_TRUE(plainGraph.m_vSuccessors[0].empty());
    // A node reached through a gap needs no second gap from the same start
    // to the nodes beyond it; a gap weighs gap_weight times a step.
    cond.m_lfGapWeight = 0.5;
    graph.m_vNodes = {Node(0.0), Node(aap), Node(aap + kG), Node(aap + kG + kA + kA + kH)};
    graph._ConstructEdges();
    EXPECT_EQ(graph.m_vSuccessors[0], (std::vector<unsigned int>{1}));
    EXPECT_EQ(LabelsOf(graph, 0, 1), (std::vector<std::string>{"[AAP]"}));
    EXPECT_EQ(LabelsOf(graph, 2, 3), (std::vector<std::string>{"[AAH]"}));
    EXPECT_EQ(graph.m_vEdgeWeights[0][0], 190);  // 190 * (target 1 + shared series 1) * 0.5
    EXPECT_EQ(graph.m_vEdgeWeights[1][0], 380);  // a plain step
}

// Candidate texts with compositions: lengths and the peptides they spell.
TEST(GapEdges, Texts_CompositionsSpellEveryDistinctOrder) {
    const struct {
        const char* szText;
        int nLength;
        std::set<std::string> peptides;
    } cases[] = {
        {"[GSV]", 3, {"GSV", "GVS", "SGV", "SVG", "VGS", "VSG"}},
        {"K[AAG]", 4, {"KAAG", "KAGA", "KGAA"}},
        {"s[AG]K", 4, {"sAGK", "sGAK"}},
        {"[AG/GA][GGG]", 5, {"AGGGG", "GAGGG"}},
        {"[PAA/APA]K", 4, {"PAAK", "APAK"}},  // a gap's orders kept, likeliest first
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CNCGraph::GetPeptideLength(c.szText), c.nLength) << c.szText;
        std::set<std::string> got;
        CNCGraph::transferPep(c.szText, 0, "", got);
        EXPECT_EQ(got, c.peptides) << c.szText;
    }
}

// The report spells a composition into its orders and scores each one.
TEST(GapEdges, Report_CompositionScoredInEveryOrder) {
    CCondition cond;
    testing_residues::FillBuiltInResidues(cond);
    cond.m_bFragTolPpm = false;
    cond.m_lfFragTol = 0.05;
    cond.m_nReportPep = 10;
    cond.m_vHCDIonTypes = {testing_residues::Ion("b", 1, true, 0.0), testing_residues::Ion("y", 1, false, kWater)};
    CSpectrum hcd;
    hcd.m_strTitle = "scan 1";
    hcd.m_lfPrecursorMH = kG + kS + kV + kWater + kProton;
    hcd.m_nCharge = 2;
    hcd.m_strActivation = "HCD";
    CPeak b1;
    b1.lfMz = b1.lfKeyMz = kS + kProton;
    b1.lfIntensity = 1.0;
    hcd.m_vPeaks = {b1};
    std::vector<CCandidate> cands(1);
    cands[0].strText = "[GSV]";
    CWorkUnit unit{&hcd, nullptr, 0, EMode::HCD, 1, 1};
    CUnitResult result;
    result.pUnit = &unit;
    result.bGraphed = true;
    CReport(&cond).Report_unknowResult(unit, cands, false, result);
    std::set<std::string> got;
    for (const CResult& r : result.vPeptides) got.insert(r.strPeptide);
    EXPECT_EQ(got, (std::set<std::string>{"GSV", "GVS", "SGV", "SVG", "VGS", "VSG"}));
}

// A gap's text lists its gap_orders likeliest orders ("[PAA/APA]"), one
// order bare; the report spells exactly those.
TEST(GapEdges, GapOrders_TextListsTheKeptOrders) {
    CCondition cond;
    testing_residues::FillBuiltInResidues(cond);
    Build(cond, 3);
    CNCGraph graph(&cond);
    graph.m_lfTolerance = 0.02;
    const double aap = kA + kA + kP;
    graph.m_vNodes = {Node(0.0), Node(aap)};
    graph.m_lfResidueMass = aap;
    const struct {
        int nOrders;
        size_t nLength, nPeptides;
    } cases[] = {{1, 3, 1}, {2, 9, 2}, {6, 13, 3}, {0, 3, 1}};
    for (const auto& c : cases) {
        cond.m_nGapOrders = c.nOrders;
        graph._ConstructEdges();  // a new graph: its orders scored afresh
        ASSERT_EQ(LabelsOf(graph, 0, 1), (std::vector<std::string>{"[AAP]"}));
        CCandidateList list;
        list.Reset(10);
        graph.GeneratePeptideForOnePath({0, 1}, list);
        std::vector<CCandidate> got;
        list.Drain(got);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].strText.size(), c.nLength) << got[0].strText;
        EXPECT_EQ(CNCGraph::GetPeptideLength(got[0].strText), 3) << got[0].strText;
        std::set<std::string> peptides;
        CNCGraph::transferPep(got[0].strText, 0, "", peptides);
        EXPECT_EQ(peptides.size(), c.nPeptides) << got[0].strText;
        for (const std::string& p : peptides) EXPECT_TRUE(std::is_permutation(p.begin(), p.end(), "AAP")) << p;
    }
}
