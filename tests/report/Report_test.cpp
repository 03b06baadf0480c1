#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../scoring/ResidueTable.h"
#include "output/NativeWriter.h"
#include "report/Report.h"
#include "scoring/BM25Score.h"

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

std::string Fmt(double v) {
    std::ostringstream os;
    os << v;
    return os.str();
}

// Record 12 (index 11). The spectra are as read: no hash table built.
class ReportTest : public ::testing::Test {
protected:
    ReportTest() {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_bFragTolPpm = false;
        cond.m_lfFragTol = 0.05;
        cond.m_nReportPep = 10;
        cond.m_vHCDIonTypes = {Ion("b", 1, true, 0.0), Ion("y", 1, false, kWater)};
        cond.m_vETDIonTypes = {Ion("c", 1, true, 17.026549105), Ion("z", 1, false, kWater - 16.018724)};
        const double mh = kG + kA + kS + kWater + kProton;
        hcd.m_strTitle = "scan 12";
        hcd.m_lfPrecursorMH = mh;
        hcd.m_nCharge = 2;
        hcd.m_strActivation = "HCD";
        hcd.m_vPeaks = {Peak(kG + kProton, 1.0), Peak(kS + kWater + kProton, 0.25), Peak(kG + kA + kProton, 0.5)};
        etd = hcd;
        etd.m_strActivation = "ETD";
        etd.m_vPeaks = {Peak(kG + kProton + 17.026549105, 0.8)};
    }
    void Add(const std::string& text) {
        CCandidate c;
        c.strText = text;
        cands.push_back(c);
    }
    // The report of the candidates added, as its native record.
    std::string Run(EMode mode = EMode::HCD) {
        unit = CWorkUnit{mode == EMode::ETD ? &etd : &hcd, mode == EMode::Paired ? &etd : nullptr, 11, mode, 1, 2};
        CReport report(&cond);
        result = CUnitResult();
        result.pUnit = &unit;
        result.bGraphed = true;
        report.Report_unknowResult(unit, cands, false, result);
        std::string rec;
        CNativeWriter(cond).Record(result, rec);
        return rec;
    }
    // The scorer's own score of a plain peptide against a spectrum.
    double Raw(const std::string& pep, const CSpectrum& spec, const std::vector<CIonType>& ions) {
        CSpectrum s = spec;
        s.Create_Hash_Table();
        CBM25Score scorer(&cond);
        CResult r;
        r.strPeptide = pep;
        return scorer.Score(r, ions, s);
    }
    const std::vector<CResult>& Results() const { return result.vPeptides; }
    CCondition cond;
    CSpectrum hcd, etd;
    std::vector<CCandidate> cands;
    CWorkUnit unit;
    CUnitResult result;
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

TEST_F(ReportTest, Record_NoCandidates_HeaderAndEmptyLine) { EXPECT_EQ(Run(), "S12\tscan 12\t\n\n"); }

TEST_F(ReportTest, Record_KnownAnswer_FourFieldHeader) {
    TRUESQ ans;
    ans.strTitle = "scan 12";
    ans.strSequence = "GAS";
    cond.m_mapAnswers["scan 12"] = ans;
    cond.m_mapAnswers["scan 13"] = ans;
    EXPECT_EQ(Run(), "S12\tscan 12\tGAS\t\n\n");
    cond.m_mapAnswers.erase("scan 12");
    EXPECT_EQ(Run(), "S12\tscan 12\t\n\n");
}

TEST_F(ReportTest, Record_CandidatesExpandedScoredAndRanked) {
    Add("G[AG/GA]K");
    Add("GGAK");
    Add("GAS");
    const std::string rec = Run();
    ASSERT_EQ(Results().size(), 3u);  // GAGK, GAS, GGAK, each once
    std::string expect = "S12\tscan 12\t\n";
    for (size_t i = 0; i < 3; ++i)
        expect += "P" + std::to_string(i + 1) + "\t" + Results()[i].strPeptide + "\t" + Fmt(Results()[i].lfScore) + "\t\n";
    expect += "\n";
    EXPECT_EQ(rec, expect);
    // The true peptide explains the spectrum best; the others share b1.
    EXPECT_EQ(Results()[0].strPeptide, "GAS");
    EXPECT_GT(Results()[0].lfScore, Results()[1].lfScore);
    EXPECT_GE(Results()[1].lfScore, Results()[2].lfScore);
    // The score is the scorer's against the as-read spectrum with its hash table.
    EXPECT_EQ(Results()[0].lfScore, Raw("GAS", hcd, cond.m_vHCDIonTypes));
    EXPECT_GT(Results()[0].lfScore, 0.0);
}

TEST_F(ReportTest, Record_ReportPepLimits_ZeroWritesNoLine) {
    cond.m_nReportPep = 0;
    Add("GAS");
    Add("GSA");
    EXPECT_EQ(Run(), "S12\tscan 12\t\n\n");
    EXPECT_EQ(Results().size(), 2u);

    cond.m_nReportPep = 1;
    const std::string rec = Run();
    EXPECT_EQ(rec.find("P2"), std::string::npos);
    EXPECT_NE(rec.find("P1\tGAS\t"), std::string::npos);
}

TEST_F(ReportTest, Record_TerminalModifications_MarkedAboveOneTenth) {
    // 'g' is G with an N-terminal modification, code 19 is S with a
    // C-terminal one.
    Add(std::string("gA") + char(19));
    cond.m_vNTermMass = {42.010565, 28.0};
    cond.m_vCTermMass = {0.984016};
    std::string rec = Run();
    EXPECT_EQ(rec, "S12\tscan 12\t\nP1\tnGASc\t" + Fmt(Results()[0].lfScore) + "\t\n\n");
    EXPECT_EQ(Results()[0].lfNTermShift, 42.010565);
    EXPECT_EQ(Results()[0].lfCTermShift, 0.984016);

    cond.m_vNTermMass = {0.05};
    cond.m_vCTermMass = {0.05};
    rec = Run();
    EXPECT_EQ(rec, "S12\tscan 12\t\nP1\tGAS\t" + Fmt(Results()[0].lfScore) + "\t\n\n");
    // Shifts under 0.1 are not applied: the plain peptide's score.
    EXPECT_EQ(Results()[0].lfScore, Raw("GAS", hcd, cond.m_vHCDIonTypes));

    // No modification listed at all: converted, unmarked, no crash.
    cond.m_vNTermMass.clear();
    cond.m_vCTermMass.clear();
    rec = Run();
    ASSERT_EQ(Results().size(), 1u);
    EXPECT_EQ(rec, "S12\tscan 12\t\nP1\tGAS\t" + Fmt(Results()[0].lfScore) + "\t\n\n");
}

TEST_F(ReportTest, Record_OneResidueCTermCode_NotTakenForNTerminal) {
    cond.m_vNTermMass = {42.010565};
    cond.m_vCTermMass = {0.984016};
    Add(std::string(1, char(11)));
    const std::string rec = Run();
    EXPECT_NE(rec.find("P1\tKc\t"), std::string::npos) << rec;
}

TEST_F(ReportTest, Record_PairedMode_SumOfHCDAndETDScores) {
    Add("GAS");
    Run(EMode::Paired);
    ASSERT_EQ(Results().size(), 1u);
    const double sa = Raw("GAS", hcd, cond.m_vHCDIonTypes);
    const double sb = Raw("GAS", etd, cond.m_vETDIonTypes);
    EXPECT_GT(sb, 0.0);
    EXPECT_EQ(Results()[0].lfScore, sa + sb);
    // An ETD spectrum alone: its own score.
    Run(EMode::ETD);
    EXPECT_EQ(Results()[0].lfScore, sb);
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
    for (const char* text : {"GAS", "AGS", "GA!", "\"AS"}) Add(text);
    const std::string rec = Run();
    auto raw = [&](const char* pep) { return Raw(pep, hcd, cond.m_vHCDIonTypes); };
    std::map<std::string, const CResult*> by;
    for (const CResult& r : Results()) by[r.strPeptide] = &r;
    ASSERT_EQ(by.size(), 4u);
    EXPECT_EQ(by["GAS"]->nMissingSites, 0);
    EXPECT_EQ(by["GAS"]->lfScore, raw("GAS"));
    EXPECT_EQ(by["AGS"]->nMissingSites, 1);
    EXPECT_EQ(by["AGS"]->lfScore, raw("AGS") - 1.5);
    EXPECT_EQ(by["GA!"]->lfScore, raw("GA!") - 2 - 1.5 * by["GA!"]->nMissingSites);
    EXPECT_NE(rec.find("\tGAS[+15.995]\t"), std::string::npos) << rec;
    EXPECT_NE(rec.find("\t[+42.011]-GAS\t"), std::string::npos) << rec;
    EXPECT_EQ(Results()[0].strPeptide, "GAS");
}

// Ranking only the leading peptides gives exactly the whole ranking's head,
// ties of the score included (the orders of a composition tie often).
TEST_F(ReportTest, RankedLead_SameHeadAsTheWholeList) {
    cond.m_bEvidenceTies = true;
    for (const char* text : {"[GASGA]", "[GGSAA]", "G[AS]", "[SAG]", "AGS", "[AAGGS]"}) Add(text);
    unit = CWorkUnit{&hcd, nullptr, 11, EMode::HCD, 1, 2};
    CUnitResult whole, head;
    CReport all(&cond);
    all.Report_unknowResult(unit, cands, false, whole);
    ASSERT_GT(whole.vPeptides.size(), 30u);
    for (const size_t lead : {1, 2, 7, 25, 1000}) {
        CReport some(&cond);
        some.SetRankedLead(lead);
        some.Report_unknowResult(unit, cands, false, head);
        ASSERT_EQ(head.vPeptides.size(), std::min(lead, whole.vPeptides.size())) << lead;
        for (size_t i = 0; i < head.vPeptides.size(); ++i) {
            EXPECT_EQ(head.vPeptides[i].strPeptide, whole.vPeptides[i].strPeptide) << lead << " " << i;
            EXPECT_EQ(head.vPeptides[i].lfScore, whole.vPeptides[i].lfScore);
        }
    }
}

// A spectrum whose texts spell more peptides than max_spelled keeps those of
// its strongest texts: the list comes weakest first, and a weak text of 2^11
// readings must not crowd out the strongest one.
TEST_F(ReportTest, SpelledCap_KeepsTheStrongestTexts) {
    cond.m_bEvidenceTies = true;
    cond.m_nMaxSpelled = 1000;
    std::string weak;
    for (int k = 0; k < 11; ++k) weak += "[AG/GA]";
    Add(weak);
    Add("GAS");
    unit = CWorkUnit{&hcd, nullptr, 11, EMode::HCD, 1, 2};
    CReport report(&cond);
    report.SetRankedLead(3);
    report.Report_unknowResult(unit, cands, false, result);
    ASSERT_FALSE(Results().empty());
    EXPECT_EQ(Results()[0].strPeptide, "GAS");
}

// A peptide of the graph for the precursor one 13C lighter says so in its
// record (the re-ranker's features read it) and pays the isotope penalty.
TEST_F(ReportTest, ShiftedCandidate_MarkedAndPenalised) {
    cond.m_bEvidenceTies = true;
    cond.m_lfIsotopeErrorPenalty = 1.0;
    Add("GAS");
    Add("AGS");
    cands[1].bShifted = true;
    Run();
    ASSERT_EQ(Results().size(), 2u);
    for (const CResult& r : Results()) {
        EXPECT_EQ(r.bShifted, r.strPeptide == "AGS") << r.strPeptide;
        const double raw = Raw(r.strPeptide, hcd, cond.m_vHCDIonTypes);
        if (r.bShifted) {
            EXPECT_EQ(r.lfScore, raw - 1.0);
        }
    }
}

TEST_F(ReportTest, Confidence_ExplainedShareTimesMargin_ResidueSides) {
    cond.m_bConfidence = true;
    cond.m_lfMissingSitePenalty = 1;  // AGS's internal G ion ties its raw score with GAS
    for (const char* text : {"GAS", "AGS"}) Add(text);
    const std::string rec = Run();
    ASSERT_EQ(Results().size(), 2u);
    const CResult& top = Results()[0];
    ASSERT_EQ(top.strPeptide, "GAS");
    // Best possible: every peak matched exactly, plus the enzyme term (no
    // enzyme here); T(I) = I * 1.02 / (I + 0.02 * (0.95 * ratio + 0.05)).
    const double ratio = 9.0 / std::pow(hcd.m_lfPrecursorMH / 110, 2);
    double total = 0.0;
    for (double i : {1.0, 0.25, 0.5}) total += i * 1.02 / (i + 0.02 * (0.95 * ratio + 0.050000000000000044));
    const double m = top.lfScore - Results()[1].lfScore;
    EXPECT_GT(m, 0.0);
    EXPECT_NEAR(top.lfConfidence, top.lfScore / total * m / (1 + m), 1e-12);
    EXPECT_EQ(Results()[1].lfConfidence, 0.0);
    // GAS: both sites seen; AGS: site 0 unseen, so A and G have one seen side.
    EXPECT_NE(rec.find("\tGAS\t" + Fmt(top.lfScore) + "\t" + Fmt(top.lfConfidence) + "\t1,1,1\t\n"),
              std::string::npos) << rec;
    EXPECT_NE(rec.find("\tAGS\t" + Fmt(Results()[1].lfScore) + "\t0\t0.5,0.5,1\t\n"), std::string::npos) << rec;
}
