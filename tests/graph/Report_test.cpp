#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../scoring/ResidueTable.h"
#include "graph/CandidateGen.h"

namespace {

constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;
constexpr double kG = 57.02146, kA = 71.03711, kS = 87.03203;

CPeak Peak(double mz, double intensity) {
    CPeak p;
    p.lfMz = mz;
    p.lfKeyMz = mz;
    p.lfIntensity = intensity;
    return p;
}

using testing_residues::Ion;

void AddCandidate(CNCGraph& g, const std::string& text) {
    CResult r;
    r.strPeptide = text;
    g.m_qCandidates.push(r);
}

std::string Fmt(double v) {
    std::ostringstream os;
    os << v;
    return os.str();
}

// Worker 0 is at dataset index 11 (spectrum number 12). The spectra in the
// dataset lists are as read: no hash table built.
class ReportTest : public ::testing::Test {
protected:
    ReportTest() {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_bFragTolPpm = false;
        cond.m_lfFragTol = 0.05;
        cond.m_nReportPep = 10;
        cond.m_nActivationMode = 1;
        cond.m_vProgress = std::vector<std::atomic<int>>(1);
        cond.m_vProgress[0] = 11;
        cond.m_vHCDIonTypes = {Ion("b", 1, true, 0.0), Ion("y", 1, false, kWater)};
        cond.m_vETDIonTypes = {Ion("c", 1, true, 17.026549105), Ion("z", 1, false, kWater - 16.018724)};
        const double mh = kG + kA + kS + kWater + kProton;
        CSpectrum s;
        s.m_strTitle = "scan 12";
        s.m_lfPrecursorMH = mh;
        s.m_nCharge = 2;
        s.m_strActivation = "HCD";
        s.m_vPeaks = {Peak(kG + kProton, 1.0), Peak(kS + kWater + kProton, 0.25), Peak(kG + kA + kProton, 0.5)};
        cond.m_vSpectra.assign(2, std::vector<CSpectrum>(12));
        cond.m_vSpectra[0][11] = s;
        s.m_strActivation = "ETD";
        s.m_vPeaks = {Peak(kG + kProton + 17.026549105, 0.8)};
        cond.m_vSpectra[1][11] = s;
        title = cond.m_vSpectra[0][11];
    }
    std::string Run(CNCGraph& g) {
        std::ostringstream out;
        g.Report_unknowResult(out, title, title, title.m_lfPrecursorMH, title.m_nCharge);
        return out.str();
    }
    CCondition cond;
    CSpectrum title;
};

TEST(Report, ScoreText_SnprintfG_MatchesDefaultStream) {
    const double values[] = {12.3456789, 0.5, 3.0, 1234567.0, 123456.0, 999999.5, 0.0001, 0.00001234,
                             -2.5, 0.0, 1e21, 35.27184, 33.907, 1.0 / 3.0, 100.0, 1e-300,
                             std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()};
    for (double v : values) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", v);
        EXPECT_EQ(std::string(buf), Fmt(v)) << v;
    }
    EXPECT_EQ(Fmt(12.3456789), "12.3457");
    EXPECT_EQ(Fmt(1234567.0), "1.23457e+06");
}

TEST_F(ReportTest, Record_NoCandidates_HeaderAndEmptyLine) {
    CNCGraph g(&cond, 0);
    EXPECT_EQ(Run(g), "S12\tscan 12\t\n\n");
}

TEST_F(ReportTest, Record_KnownAnswer_FourFieldHeader) {
    TRUESQ ans;
    ans.strTitle = "scan 12";
    ans.strSequence = "GAS";
    cond.m_mapAnswers["scan 12"] = ans;
    cond.m_mapAnswers["scan 13"] = ans;
    CNCGraph g(&cond, 0);
    EXPECT_EQ(Run(g), "S12\tscan 12\tGAS\t\n\n");
    cond.m_mapAnswers.erase("scan 12");
    CNCGraph g2(&cond, 0);
    EXPECT_EQ(Run(g2), "S12\tscan 12\t\n\n");
}

TEST_F(ReportTest, Record_CandidatesExpandedScoredAndRanked) {
    CNCGraph g(&cond, 0);
    AddCandidate(g, "G[AG/GA]K");
    AddCandidate(g, "GGAK");
    AddCandidate(g, "GAS");
    const std::string rec = Run(g);
    EXPECT_TRUE(g.m_qCandidates.empty());
    ASSERT_EQ(g.m_vResults.size(), 3u);  // GAGK, GAS, GGAK, each once
    std::string expect = "S12\tscan 12\t\n";
    for (size_t i = 0; i < 3; ++i)
        expect += "P" + std::to_string(i + 1) + "\t" + g.m_vResults[i].strPeptide + "\t" +
                  Fmt(g.m_vResults[i].lfScore) + "\t\n";
    expect += "\n";
    EXPECT_EQ(rec, expect);
    // The true peptide explains the spectrum best; the others share b1.
    EXPECT_EQ(g.m_vResults[0].strPeptide, "GAS");
    EXPECT_GT(g.m_vResults[0].lfScore, g.m_vResults[1].lfScore);
    EXPECT_GE(g.m_vResults[1].lfScore, g.m_vResults[2].lfScore);

    // The score is the scorer's against the as-read spectrum with its hash table.
    CSpectrum a = cond.m_vSpectra[0][11];
    a.Create_Hash_Table();
    CBM25Score scorer(&cond);
    CResult r;
    r.strPeptide = "GAS";
    r.pIonTypes = &cond.m_vHCDIonTypes;
    EXPECT_EQ(g.m_vResults[0].lfScore, scorer.Score(r, a));
    EXPECT_GT(g.m_vResults[0].lfScore, 0.0);
}

TEST_F(ReportTest, Record_ReportPepLimits_ZeroWritesNoLine) {
    cond.m_nReportPep = 0;
    CNCGraph g(&cond, 0);
    AddCandidate(g, "GAS");
    AddCandidate(g, "GSA");
    EXPECT_EQ(Run(g), "S12\tscan 12\t\n\n");
    EXPECT_EQ(g.m_vResults.size(), 2u);

    cond.m_nReportPep = 1;
    CNCGraph g1(&cond, 0);
    AddCandidate(g1, "GAS");
    AddCandidate(g1, "GSA");
    const std::string rec = Run(g1);
    EXPECT_EQ(rec.find("P2"), std::string::npos);
    EXPECT_NE(rec.find("P1\tGAS\t"), std::string::npos);
}

TEST_F(ReportTest, Record_TerminalModifications_MarkedAboveOneTenth) {
    // 'g' is G with an N-terminal modification, code 19 is S with a
    // C-terminal one.
    const std::string text = std::string("gA") + char(19);
    cond.m_vNTermMass = {42.010565, 28.0};
    cond.m_vCTermMass = {0.984016};
    {
        CNCGraph g(&cond, 0);
        AddCandidate(g, text);
        const std::string rec = Run(g);
        EXPECT_EQ(rec, "S12\tscan 12\t\nP1\tnGASc\t" + Fmt(g.m_vResults[0].lfScore) + "\t\n\n");
        EXPECT_EQ(g.m_vResults[0].lfNTermShift, 42.010565);
        EXPECT_EQ(g.m_vResults[0].lfCTermShift, 0.984016);
    }
    cond.m_vNTermMass = {0.05};
    cond.m_vCTermMass = {0.05};
    {
        CNCGraph g(&cond, 0);
        AddCandidate(g, text);
        const std::string rec = Run(g);
        EXPECT_EQ(rec, "S12\tscan 12\t\nP1\tGAS\t" + Fmt(g.m_vResults[0].lfScore) + "\t\n\n");
        // Shifts under 0.1 are not applied: the plain peptide's score.
        CSpectrum a = cond.m_vSpectra[0][11];
        a.Create_Hash_Table();
        CBM25Score scorer(&cond);
        CResult r;
        r.strPeptide = "GAS";
        r.pIonTypes = &cond.m_vHCDIonTypes;
        EXPECT_EQ(g.m_vResults[0].lfScore, scorer.Score(r, a));
    }
    // No modification listed at all: converted, unmarked, no crash.
    cond.m_vNTermMass.clear();
    cond.m_vCTermMass.clear();
    {
        CNCGraph g(&cond, 0);
        AddCandidate(g, text);
        const std::string rec = Run(g);
        ASSERT_EQ(g.m_vResults.size(), 1u);
        EXPECT_EQ(rec, "S12\tscan 12\t\nP1\tGAS\t" + Fmt(g.m_vResults[0].lfScore) + "\t\n\n");
    }
}

TEST_F(ReportTest, Record_OneResidueCTermCode_NotTakenForNTerminal) {
    cond.m_vNTermMass = {42.010565};
    cond.m_vCTermMass = {0.984016};
    CNCGraph g(&cond, 0);
    AddCandidate(g, std::string(1, char(11)));
    const std::string rec = Run(g);
    EXPECT_NE(rec.find("P1\tKc\t"), std::string::npos) << rec;
}

TEST_F(ReportTest, Record_PairedMode_SumOfHCDAndETDScores) {
    cond.m_nActivationMode = 3;
    CNCGraph g(&cond, 0);
    AddCandidate(g, "GAS");
    Run(g);
    ASSERT_EQ(g.m_vResults.size(), 1u);
    CSpectrum a = cond.m_vSpectra[0][11], b = cond.m_vSpectra[1][11];
    a.Create_Hash_Table();
    b.Create_Hash_Table();
    CBM25Score scorer(&cond);
    CResult r;
    r.strPeptide = "GAS";
    r.pIonTypes = &cond.m_vHCDIonTypes;
    const double sa = scorer.Score(r, a);
    r.pIonTypes = &cond.m_vETDIonTypes;
    const double sb = scorer.Score(r, b);
    EXPECT_GT(sb, 0.0);
    EXPECT_EQ(g.m_vResults[0].lfScore, sa + sb);

    // ETD-only data lives in the first list.
    cond.m_nActivationMode = 2;
    cond.m_vSpectra[0][11] = cond.m_vSpectra[1][11];
    CNCGraph g2(&cond, 0);
    AddCandidate(g2, "GAS");
    Run(g2);
    EXPECT_EQ(g2.m_vResults[0].lfScore, sb);
}

TEST_F(ReportTest, Record_SecondListShorter_ScoresAgainstNoPeaks) {
    cond.m_nActivationMode = 3;
    cond.m_vSpectra[1].resize(5);
    CNCGraph g(&cond, 0);
    AddCandidate(g, "GAS");
    const std::string rec = Run(g);
    EXPECT_EQ(rec.rfind("S12\tscan 12\t\nP1\tGAS\t", 0), 0u);
}

}  // namespace

TEST(Report, EvidenceGreater_ScoreThenGapsThenProlineGapsThenPathThenSequence) {
    auto R = [](double score, int missing, int beforeP, double path, const char* pep) {
        CResult r;
        r.lfScore = score;
        r.nMissingSites = missing;
        r.nMissingBeforeP = beforeP;
        r.lfPathWeight = path;
        r.strPeptide = pep;
        return r;
    };
    const CResult better[] = {R(2, 5, 5, 0, "Z"), R(1, 0, 5, 0, "Z"), R(1, 1, 0, 0, "Z"), R(1, 1, 1, 9, "Z"),
                              R(1, 1, 1, 1, "A")};
    const CResult worse[] = {R(1, 0, 0, 9, "A"), R(1, 1, 0, 9, "A"), R(1, 1, 1, 9, "A"), R(1, 1, 1, 1, "A"),
                             R(1, 1, 1, 1, "B")};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(CResult::EvidenceGreater(better[i], worse[i])) << i;
        EXPECT_FALSE(CResult::EvidenceGreater(worse[i], better[i])) << i;
    }
}

TEST_F(ReportTest, Evidence_MissingSitePenalty_AndVariableModsWrittenAsDeltas) {
    // AGS has no b1 and no y2: site 0 is missing; GAS has every site.
    cond.m_lfMissingSitePenalty = 1.5;
    cond.m_bEvidenceTies = true;
    // '!' is S[+15.995]; '"' is G with an N-terminal +42.011.
    cond.m_vVarMods = {CVarMod{'!', 'S', 15.995, false}, CVarMod{'"', 'G', 42.0106, true}};
    cond.m_nVarModByCode[static_cast<unsigned char>('!')] = 0;
    cond.m_nVarModByCode[static_cast<unsigned char>('"')] = 1;
    cond.m_lfResidueMassByCode[static_cast<unsigned char>('!')] = kS + 15.995;
    cond.m_lfResidueMassByCode[static_cast<unsigned char>('"')] = kG + 42.0106;
    cond.m_lfVarModPenalty = 2;
    CNCGraph g(&cond, 0);
    for (const char* text : {"GAS", "AGS", "GA!", "\"AS"}) AddCandidate(g, text);
    const std::string rec = Run(g);

    CSpectrum a = cond.m_vSpectra[0][11];
    a.Create_Hash_Table();
    CBM25Score scorer(&cond);
    auto raw = [&](const char* pep) {
        CResult r;
        r.strPeptide = pep;
        r.pIonTypes = &cond.m_vHCDIonTypes;
        return scorer.Score(r, a);
    };
    std::map<std::string, const CResult*> by;
    for (const CResult& r : g.m_vResults) by[r.strPeptide] = &r;
    ASSERT_EQ(by.size(), 4u);
    EXPECT_EQ(by["GAS"]->nMissingSites, 0);
    EXPECT_EQ(by["GAS"]->lfScore, raw("GAS"));
    EXPECT_EQ(by["AGS"]->nMissingSites, 1);
    EXPECT_EQ(by["AGS"]->lfScore, raw("AGS") - 1.5);
    EXPECT_EQ(by["GA!"]->lfScore, raw("GA!") - 2 - 1.5 * by["GA!"]->nMissingSites);
    EXPECT_NE(rec.find("\tGAS[+15.995]\t"), std::string::npos) << rec;
    EXPECT_NE(rec.find("\t[+42.011]-GAS\t"), std::string::npos) << rec;
    EXPECT_EQ(g.m_vResults[0].strPeptide, "GAS");
}

TEST_F(ReportTest, Confidence_ExplainedShareTimesMargin_ResidueSides) {
    cond.m_bConfidence = true;
    cond.m_lfMissingSitePenalty = 1;  // AGS's internal G ion ties its raw score with GAS
    CNCGraph g(&cond, 0);
    for (const char* text : {"GAS", "AGS"}) AddCandidate(g, text);
    const std::string rec = Run(g);
    ASSERT_EQ(g.m_vResults.size(), 2u);
    const CResult& top = g.m_vResults[0];
    ASSERT_EQ(top.strPeptide, "GAS");
    // Best possible: every peak matched exactly, plus the enzyme term (no
    // enzyme here); T(I) = I * 1.02 / (I + 0.02 * (0.95 * ratio + 0.05)).
    const double ratio = 9.0 / std::pow(cond.m_vSpectra[0][11].m_lfPrecursorMH / 110, 2);
    double total = 0.0;
    for (double i : {1.0, 0.25, 0.5}) total += i * 1.02 / (i + 0.02 * (0.95 * ratio + 0.050000000000000044));
    const double m = top.lfScore - g.m_vResults[1].lfScore;
    EXPECT_GT(m, 0.0);
    EXPECT_NEAR(top.lfConfidence, top.lfScore / total * m / (1 + m), 1e-12);
    EXPECT_EQ(g.m_vResults[1].lfConfidence, 0.0);
    // GAS: both sites seen; AGS: site 0 unseen, so A and G have one seen side.
    EXPECT_NE(rec.find("\tGAS\t" + Fmt(top.lfScore) + "\t" + Fmt(top.lfConfidence) + "\t1,1,1\t\n"),
              std::string::npos) << rec;
    EXPECT_NE(rec.find("\tAGS\t" + Fmt(g.m_vResults[1].lfScore) + "\t0\t0.5,0.5,1\t\n"), std::string::npos) << rec;
}
