#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>

#include "conditions/Condition.h"

namespace {

// A record with the built-in masses (no parameter file) and its tables built.
void Build(CCondition& c) {
    c.InitMods();
    c.CreateEdgeList();
}

std::pair<unsigned, unsigned> Query(const CCondition& c, double lower, double upper) {
    unsigned first = 12345, last = 54321;
    c.QueryEdges(lower, upper, c.m_vEdges, c.m_vEdgeIndex, first, last);
    return {first, last};
}

std::vector<std::string> Labels(const CCondition& c, std::pair<unsigned, unsigned> range) {
    std::vector<std::string> out;
    for (unsigned i = range.first; i < range.second; ++i) out.push_back(c.m_vEdges[i].strLabel);
    return out;
}

const CEdge* FindEdge(const CCondition& c, const std::string& label) {
    for (const CEdge& e : c.m_vEdges)
        if (e.strLabel == label) return &e;
    return nullptr;
}

}  // namespace

TEST(EdgeTable, Residues_Default_NineteenAlphabetical) {
    CCondition c;
    Build(c);
    std::string codes;
    for (const AminoAcid& aa : c.m_vAminoAcids) {
        codes += aa.strName;
        EXPECT_EQ(aa.cModSite, 0);
        EXPECT_EQ(aa.lfMass, c.m_lfAAMass[aa.strName[0] - 'A']);
    }
    EXPECT_EQ(codes, "ACDEFGHKLMNPQRSTVWY");
    EXPECT_EQ(c.m_mapResidueMass.size(), 19u);
    for (int code = 0; code < 128; ++code) {
        auto it = c.m_mapResidueMass.find(static_cast<char>(code));
        EXPECT_EQ(c.m_lfResidueMassByCode[code], it == c.m_mapResidueMass.end() ? 0.0 : it->second) << code;
    }
}

TEST(EdgeTable, Edges_Default_FiguresAndAllOrderedPairs) {
    CCondition c;
    Build(c);
    ASSERT_EQ(c.m_vEdges.size(), 380u);
    EXPECT_EQ(c.m_vEdges.front().strLabel, "G");
    EXPECT_EQ(c.m_vEdges.front().lfMass, 57.02146);
    EXPECT_EQ(c.m_vEdges.back().strLabel, "WW");
    EXPECT_NEAR(c.m_vEdges.back().lfMass, 372.15862, 1e-9);
    EXPECT_TRUE(std::is_sorted(c.m_vEdges.begin(), c.m_vEdges.end(), CEdge::MassLess));

    // Every residue alone and every ordered pair (doubles included), once each.
    const std::string residues = "ACDEFGHKLMNPQRSTVWY";
    std::multiset<std::string> expected, actual;
    for (char p : residues) {
        expected.insert(std::string(1, p));
        for (char q : residues) expected.insert(std::string{p, q});
    }
    for (const CEdge& e : c.m_vEdges) {
        actual.insert(e.strLabel);
        EXPECT_EQ(e.nResidues, static_cast<int>(e.strLabel.size()));
        EXPECT_EQ(e.cModSite, 0);
        double mass = 0;
        for (char r : e.strLabel) mass += c.m_lfAAMass[r - 'A'];
        EXPECT_NEAR(e.lfMass, mass, 1e-9) << e.strLabel;
    }
    EXPECT_EQ(actual, expected);
}

TEST(EdgeTable, Index_Default_373EntriesSmallestPositionAtLeastBucket) {
    CCondition c;
    Build(c);
    ASSERT_EQ(c.m_vEdgeIndex.size(), 373u);
    for (int v = 0; v <= 57; ++v) EXPECT_EQ(c.m_vEdgeIndex[v], 0) << v;
    for (std::size_t v = 0; v < c.m_vEdgeIndex.size(); ++v) {
        std::size_t j = 0;
        while (static_cast<std::size_t>(std::trunc(c.m_vEdges[j].lfMass)) < v) ++j;
        EXPECT_EQ(c.m_vEdgeIndex[v], static_cast<int>(j)) << v;
    }
}

TEST(EdgeTable, Query_WindowExamples) {
    CCondition c;
    Build(c);
    EXPECT_EQ(Labels(c, Query(c, 57.0, 57.1)), std::vector<std::string>{"G"});
    EXPECT_EQ(Labels(c, Query(c, 114.0, 114.1)), (std::vector<std::string>{"GG", "N"}));
    EXPECT_EQ(Labels(c, Query(c, 113.08, 113.09)), std::vector<std::string>{"L"});
    auto mid = Labels(c, Query(c, 128.05, 128.1));
    ASSERT_EQ(mid.size(), 4u);
    EXPECT_EQ(std::set<std::string>(mid.begin(), mid.begin() + 2), (std::set<std::string>{"AG", "GA"}));
    EXPECT_EQ(mid[2], "Q");
    EXPECT_EQ(mid[3], "K");
    auto empty = Query(c, 128.06, 128.09);
    EXPECT_EQ(empty.first, empty.second);
    // Both bounds inclusive.
    EXPECT_EQ(Labels(c, Query(c, 57.02146, 57.02146)), std::vector<std::string>{"G"});
}

TEST(EdgeTable, Query_BoundsOutsideIndex) {
    CCondition c;
    Build(c);
    EXPECT_EQ(Query(c, 400.0, 500.0), std::make_pair(380u, 380u));
    EXPECT_EQ(Query(c, 372.5, 372.9), std::make_pair(380u, 380u));
    EXPECT_EQ(Query(c, -0.5, 57.1), std::make_pair(0u, 1u));
    EXPECT_EQ(Query(c, -1.5, 57.1), std::make_pair(380u, 380u));
    EXPECT_EQ(Query(c, -1.0, 57.1), std::make_pair(380u, 380u));
}

TEST(EdgeTable, Query_RandomWindows_MatchLinearScan) {
    CCondition c;
    c.m_vNTermMass = {42.010565};
    c.m_vNTermSites = {"STY"};
    c.m_vCTermMass = {-0.984016};
    c.m_vCTermSites = {"KR"};
    Build(c);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> lowDist(-0.99, 460.0), width(0.0, 3.0);
    for (int k = 0; k < 5000; ++k) {
        const double lower = lowDist(rng);
        const double upper = lower + width(rng);
        unsigned first = 0, count = 0;
        bool found = false;
        for (unsigned i = 0; i < c.m_vEdges.size(); ++i) {
            if (c.m_vEdges[i].lfMass >= lower && c.m_vEdges[i].lfMass <= upper) {
                if (!found) first = i;
                found = true;
                ++count;
            }
        }
        const auto got = Query(c, lower, upper);
        EXPECT_EQ(got.second - got.first, count) << lower << " " << upper;
        if (found) {
            EXPECT_EQ(got.first, first) << lower << " " << upper;
        }
    }
}

// The mass bins may only say "maybe" too often, never "none" wrongly.
TEST(EdgeTable, MassBins_NeverMissAnEntryOfTheWindow) {
    CCondition c;
    c.m_nGapResidues = 3;
    Build(c);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> lowDist(-2.0, 600.0), width(0.0, 1.0);
    int none = 0;
    for (const auto* table : {&c.m_vEdges, &c.m_vGapEdges}) {
        const std::vector<uint64_t>& bins = table == &c.m_vEdges ? c.m_vEdgeBins : c.m_vGapBins;
        ASSERT_FALSE(bins.empty());
        for (int k = 0; k < 20000; ++k) {
            // Windows around entries (edges exactly at a bound) and anywhere.
            const double at = (*table)[rng() % table->size()].lfMass;
            const double lower = k % 3 == 0 ? at : k % 3 == 1 ? at - width(rng) : lowDist(rng);
            const double upper = k % 3 == 1 ? at : lower + width(rng);
            bool any = false;
            for (const CEdge& e : *table) any = any || (e.lfMass >= lower && e.lfMass <= upper);
            const bool maybe = CCondition::MayHoldEdge(lower, upper, bins);
            if (any) {
                ASSERT_TRUE(maybe) << lower << " " << upper;
            }
            none += !maybe;
        }
    }
    EXPECT_GT(none, 5000);  // and it does answer most empty windows
    EXPECT_TRUE(CCondition::MayHoldEdge(std::nan(""), 1.0, c.m_vEdgeBins));
    EXPECT_FALSE(CCondition::MayHoldEdge(-3.0, -2.0, c.m_vEdgeBins));
    EXPECT_FALSE(CCondition::MayHoldEdge(1e6, 1e6 + 1, c.m_vEdgeBins));
}

TEST(EdgeTable, ModifiedResidues_PairsRespectTermini) {
    CCondition c;
    c.m_vNTermMass = {42};
    c.m_vNTermSites = {"S"};
    c.m_vCTermMass = {1};
    c.m_vCTermSites = {"K"};
    Build(c);
    const std::string cK(1, static_cast<char>(11));
    ASSERT_EQ(c.m_vAminoAcids.size(), 21u);
    EXPECT_EQ(c.m_vAminoAcids[19].strName, "s");
    EXPECT_EQ(c.m_vAminoAcids[19].cModSite, 2);
    EXPECT_EQ(c.m_vAminoAcids[20].strName, cK);
    EXPECT_EQ(c.m_vAminoAcids[20].cModSite, 1);
    EXPECT_EQ(c.m_mapResidueMass.at('s'), 87.03203 + 42);
    EXPECT_EQ(c.m_lfResidueMassByCode[11], 128.09496 + 1);

    ASSERT_NE(FindEdge(c, "sA"), nullptr);
    EXPECT_EQ(FindEdge(c, "sA")->cModSite, 2);
    EXPECT_EQ(FindEdge(c, "As"), nullptr);
    ASSERT_NE(FindEdge(c, "A" + cK), nullptr);
    EXPECT_EQ(FindEdge(c, "A" + cK)->cModSite, 1);
    EXPECT_EQ(FindEdge(c, cK + "A"), nullptr);
    EXPECT_EQ(FindEdge(c, "ss"), nullptr);
    EXPECT_EQ(FindEdge(c, "s" + cK), nullptr);
    EXPECT_EQ(FindEdge(c, "s")->cModSite, 2);
    EXPECT_EQ(FindEdge(c, cK)->cModSite, 1);
    // 21 singles, 19 doubles, 342 plain pairs, 19 pairs per modified residue (one order each).
    EXPECT_EQ(c.m_vEdges.size(), 21u + 19u + 342u + 2 * 19u);
}

TEST(EdgeTable, ModifiedResidues_ListRules) {
    CCondition twoOnS;
    twoOnS.m_vNTermMass = {42, 28};
    twoOnS.m_vNTermSites = {"S", "S"};
    Build(twoOnS);
    ASSERT_EQ(twoOnS.m_vAminoAcids.size(), 21u);
    EXPECT_EQ(twoOnS.m_vAminoAcids[19].strName, "s");
    EXPECT_EQ(twoOnS.m_vAminoAcids[19].lfMass, 87.03203 + 42);
    EXPECT_EQ(twoOnS.m_vAminoAcids[20].strName, "s");
    EXPECT_EQ(twoOnS.m_vAminoAcids[20].lfMass, 87.03203 + 28);
    EXPECT_EQ(twoOnS.m_mapResidueMass.at('s'), 87.03203 + 28);
    EXPECT_EQ(twoOnS.m_lfResidueMassByCode[static_cast<int>('s')], 87.03203 + 28);

    CCondition withI;
    withI.m_lfAAMass['I' - 'A'] = 113.08406;
    withI.m_vNTermMass = {42};
    withI.m_vNTermSites = {"I"};
    withI.m_vCTermMass = {1};
    withI.m_vCTermSites = {"I"};
    Build(withI);
    EXPECT_EQ(withI.m_mapResidueMass.count('I'), 0u);
    EXPECT_EQ(withI.m_mapResidueMass.at('i'), 113.08406 + 42);
    EXPECT_EQ(withI.m_mapResidueMass.at(static_cast<char>(9)), 113.08406 + 1);

    CCondition b005, b01;
    b005.m_lfAAMass['B' - 'A'] = 0.05;
    b01.m_lfAAMass['B' - 'A'] = 0.1;
    Build(b005);
    Build(b01);
    EXPECT_EQ(b005.m_vAminoAcids.size(), 19u);
    EXPECT_EQ(b01.m_vAminoAcids.size(), 20u);
    EXPECT_EQ(b01.m_vAminoAcids[1].strName, "B");

    CCondition all;
    all.m_vNTermMass = {42};
    all.m_vNTermSites = {"ABCDEFGHIJKLMNOPQRSTUVWXYZ"};
    all.m_vCTermMass = {1};
    all.m_vCTermSites = {"NQ"};
    Build(all);
    ASSERT_EQ(all.m_vAminoAcids.size(), 19u + 19u + 2u);
    for (std::size_t i = 0; i < 19; ++i) {
        const AminoAcid& plain = all.m_vAminoAcids[i];
        const AminoAcid& mod = all.m_vAminoAcids[19 + i];
        EXPECT_EQ(mod.strName[0], plain.strName[0] - 'A' + 'a');
        EXPECT_EQ(mod.lfMass, plain.lfMass + 42);
    }
    EXPECT_EQ(all.m_vAminoAcids[38].strName[0], 14);
    EXPECT_EQ(all.m_vAminoAcids[39].strName[0], 17);
}

TEST(EdgeTable, EmptyResidueList_EmptyTableAndIndex) {
    CCondition c;
    for (double& m : c.m_lfAAMass) m = 0;
    Build(c);
    EXPECT_TRUE(c.m_vEdges.empty());
    EXPECT_TRUE(c.m_vEdgeIndex.empty());
    EXPECT_EQ(Query(c, 57.0, 57.1), std::make_pair(0u, 0u));
    EXPECT_EQ(Query(c, -0.5, 57.1), std::make_pair(0u, 0u));
}

TEST(EdgeTable, ImplausibleResidueMass_LeftOut) {
    CCondition c;
    c.m_lfAAMass['W' - 'A'] = 1e12;
    c.m_lfAAMass['Y' - 'A'] = std::nan("");
    testing::internal::CaptureStderr();
    Build(c);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("[warning]"), std::string::npos);
    EXPECT_EQ(c.m_vAminoAcids.size(), 17u);
    EXPECT_EQ(c.m_vEdges.size(), 17u * 18u);
    EXPECT_LT(c.m_vEdgeIndex.size(), 400u);
}

TEST(EdgeTable, NegativeGap_IndexStillByDefinition) {
    CCondition c;
    c.m_vNTermMass = {-200};
    c.m_vNTermSites = {"G"};
    Build(c);
    EXPECT_LT(c.m_vEdges.front().lfMass, 0.0);
    for (std::size_t v = 0; v < c.m_vEdgeIndex.size(); ++v) {
        std::size_t j = 0;
        while (static_cast<long long>(c.m_vEdges[j].lfMass) < static_cast<long long>(v)) ++j;
        EXPECT_EQ(c.m_vEdgeIndex[v], static_cast<int>(j)) << v;
    }
    EXPECT_EQ(Labels(c, Query(c, 57.0, 57.1)), std::vector<std::string>{"G"});
}
