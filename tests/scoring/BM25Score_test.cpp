#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ResidueTable.h"
#include "records/Result.h"
#include "scoring/BM25Score.h"

namespace {

constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;
constexpr double kG = 57.02146, kA = 71.03711, kS = 87.03203, kQ = 128.05858;
constexpr double kWeightLow = 0.9969173338382431, kFactorLow = 1.0030921983770593;
constexpr double kPiUsed = 3.1415926;

// Saturation term written out from its definition, for expected values.
double Sat(double intensity, double lengthRatio) {
    return intensity * 1.02 / (intensity + 0.02 * (0.95 * lengthRatio + 0.050000000000000044));
}

CPeak Peak(double mz, double intensity) {
    CPeak p;
    p.lfMz = mz;
    p.lfKeyMz = mz;
    p.lfIntensity = intensity;
    return p;
}

CSpectrum Spectrum(std::vector<CPeak> peaks, double mh, const std::string& activation, int charge = 2) {
    CSpectrum s;
    s.m_strTitle = "t";
    s.m_lfPrecursorMH = mh;
    s.m_nCharge = charge;
    s.m_vPeaks = std::move(peaks);
    s.m_strActivation = activation;
    s.Create_Hash_Table();
    return s;
}

using testing_residues::Ion;

class BM25Test : public ::testing::Test {
protected:
    BM25Test() : scorer(&cond) {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_bFragTolPpm = false;
        cond.m_lfFragTol = 0.05;
    }
    // Resets the tables for the candidate without matching any ion.
    void Reset(CResult& cand, const CSpectrum& spec) {
        scorer._ComputeMZandMatch(cand, {}, spec);
    }
    CCondition cond;
    CBM25Score scorer;
};

TEST_F(BM25Test, FindAndMatch_ErrorWeights_ThreeBranches) {
    struct Case { double peak; double e; double f; };
    const double mid = std::cos(10.0 / 20 * kPiUsed * 0.5);
    const Case cases[] = {{1000.0005, 0.9969173338382431, 1.0030921983770593},
                          {1000.01, mid, 1 / mid},
                          {1000.025, 2.6794896585028633e-8, 37320539.63435483}};
    for (const Case& c : cases) {
        CSpectrum spec = Spectrum({Peak(c.peak, 0.8)}, 2000.0, "ETD");
        CResult cand;
        cand.strPeptide = "GGGG";
        Reset(cand, spec);
        EXPECT_TRUE(scorer._find_and_match(1000.0, cand, spec, 1, true));
        // A factor above the not-matched marker leaves the marker in place.
        EXPECT_NEAR(scorer.m_vPeakError[0], std::min(c.f, 10000.0), c.f * 1e-9);
        const double expect = c.e * Sat(0.8, scorer.m_lfLengthRatio);
        EXPECT_NEAR(scorer.m_vBScore[1], expect, expect * 1e-9) << c.peak;
        for (size_t k = 0; k < scorer.m_vBScore.size(); ++k) {
            if (k != 1) {
                EXPECT_EQ(scorer.m_vBScore[k], 0.0);
            }
        }
    }
}

TEST_F(BM25Test, FindAndMatch_SuffixSite_StoredFromTheCTerminus) {
    CSpectrum spec = Spectrum({Peak(500.0, 0.5)}, 1000.0, "ETD");
    CResult cand;
    cand.strPeptide = "GGGGG";  // sites 0..3; site 0 is counted from the C terminus as 3
    Reset(cand, spec);
    EXPECT_TRUE(scorer._find_and_match(500.0, cand, spec, 0, false));
    EXPECT_DOUBLE_EQ(scorer.m_vYScore[3], kWeightLow * Sat(0.5, scorer.m_lfLengthRatio));
    EXPECT_EQ(scorer.m_vYScore[0], 0.0);
    EXPECT_EQ(scorer.m_vBScore[0], 0.0);
}

TEST_F(BM25Test, Match_SeveralPeaksInWindow_StrongestThenLowerMz) {
    CResult cand;
    CSpectrum spec = Spectrum({Peak(499.90, 0.9), Peak(500.00, 0.4), Peak(500.01, 0.7), Peak(500.2, 1.0)}, 1000, "");
    EXPECT_EQ(scorer._Match(500.005, spec), 2);
    spec = Spectrum({Peak(500.00, 0.7), Peak(500.01, 0.7)}, 1000, "");
    EXPECT_EQ(scorer._Match(500.005, spec), 0);
    spec = Spectrum({Peak(500.00, 0.0), Peak(500.01, 0.0)}, 1000, "");
    EXPECT_EQ(scorer._Match(500.005, spec), CBM25Score::NO_PEAK);
    spec = Spectrum({Peak(400.0, 1.0)}, 1000, "");
    EXPECT_EQ(scorer._Match(500.0, spec), CBM25Score::NO_PEAK);   // beyond the table
    EXPECT_EQ(scorer._Match(390.0, spec), CBM25Score::NO_PEAK);   // nothing in the window
    EXPECT_EQ(scorer._Match(-5.0, spec), CBM25Score::NO_PEAK);    // negative bucket
    EXPECT_EQ(scorer._Match(400.04, spec), 0);
    spec = Spectrum({}, 1000, "");
    EXPECT_EQ(scorer._Match(400.0, spec), CBM25Score::NO_PEAK);
}

TEST_F(BM25Test, PeakMatchedTwice_KeepsSmallerFactorAndCountsOnce) {
    CSpectrum spec = Spectrum({Peak(1000.0, 0.6)}, 2000.0, "ETD");
    CResult cand;
    cand.strPeptide = "GGGG";
    Reset(cand, spec);
    scorer._find_and_match(1000.0 - 0.01, cand, spec, CBM25Score::MARKER, true);  // ~10 ppm
    scorer._find_and_match(1000.0 - 0.0002, cand, spec, CBM25Score::MARKER, true);  // < 1 ppm
    scorer._find_and_match(1000.0 + 0.03, cand, spec, CBM25Score::MARKER, true);  // > 20 ppm
    EXPECT_EQ(scorer.m_vPeakError[0], kFactorLow);
    EXPECT_DOUBLE_EQ(scorer._BM25(cand, spec, 0, nullptr), Sat(0.6, scorer.m_lfLengthRatio) / kFactorLow);
}

// GQG with b ions: b1 matches, and with it the a ion, both neutral losses,
// the glutamine-shifted b1 and (HCD only) an internal fragment and its CO
// loss. Only the b1 match reaches the site tables.
TEST_F(BM25Test, SecondaryMatches_TouchOnlyPeakErrors_InternalOnlyForHCD) {
    const double b1 = kG + kProton;
    const double internalQ = kQ + kProton;
    std::vector<CPeak> peaks = {Peak(b1 - 27.99491463, 0.3), Peak(b1 - 18.0105647, 0.3),
                                Peak(b1 - 17.026549105, 0.3), Peak(b1, 1.0),
                                Peak(b1 + 17.026549105, 0.3), Peak(internalQ - 12 - 15.99491463, 0.3),
                                Peak(internalQ, 0.3)};
    const double mh = kG + kQ + kG + kWater + kProton;
    const std::vector<CIonType> ions = {Ion("b", 1, true, 0.0)};
    for (const std::string act : {"HCD", "ETD"}) {
        CSpectrum spec = Spectrum(peaks, mh, act);
        CResult cand;
        cand.strPeptide = "GQG";
        scorer._ComputeMZandMatch(cand, ions, spec);
        const double lr = 9.0 / ((mh / 110) * (mh / 110));
        EXPECT_DOUBLE_EQ(scorer.m_lfLengthRatio, lr);
        EXPECT_DOUBLE_EQ(scorer.m_vBScore[0], kWeightLow * Sat(1.0, lr));
        for (size_t k = 1; k < scorer.m_vBScore.size(); ++k) EXPECT_EQ(scorer.m_vBScore[k], 0.0);
        for (double y : scorer.m_vYScore) EXPECT_EQ(y, 0.0);
        for (size_t j = 0; j < 5; ++j) EXPECT_LT(scorer.m_vPeakError[j], 2.0) << act << " peak " << j;
        for (size_t j = 5; j < 7; ++j) {
            if (act == "HCD")
                EXPECT_LT(scorer.m_vPeakError[j], 2.0) << "peak " << j;
            else
                EXPECT_EQ(scorer.m_vPeakError[j], 10000.0) << "peak " << j;
        }
    }
}

TEST_F(BM25Test, GlutamineRule_AppliesWithoutTheBMatch) {
    const double b1 = kG + kProton;
    CSpectrum spec = Spectrum({Peak(b1 + 17.026549105, 0.5)}, kG + kQ + kG + kWater + kProton, "ETD");
    const std::vector<CIonType> ions = {Ion("b", 1, true, 0.0)};
    CResult cand;
    cand.strPeptide = "GQG";
    scorer._ComputeMZandMatch(cand, ions, spec);
    EXPECT_EQ(scorer.m_vPeakError[0], kFactorLow);
    // A non-b ion type gets no glutamine shift.
    const std::vector<CIonType> cions = {Ion("c", 1, true, 0.0)};
    scorer._ComputeMZandMatch(cand, cions, spec);
    EXPECT_EQ(scorer.m_vPeakError[0], 10000.0);
}

TEST_F(BM25Test, EnzymeTerm_ByTerminusWord) {
    CSpectrum spec = Spectrum({Peak(100.0, 1.0), Peak(200.0, 0.5)}, 400.0, "ETD");
    cond.m_strEnzymeSites = "KR";
    CResult ck, kc;
    ck.strPeptide = "GK";
    kc.strPeptide = "KG";
    const double lr = 4.0 / ((400.0 / 110) * (400.0 / 110));
    const double bonus = Sat(0.75, lr);
    cond.m_strEnzymeTerm = "C";
    EXPECT_DOUBLE_EQ(scorer.Score(ck, {}, spec), bonus);
    EXPECT_EQ(scorer.Score(kc, {}, spec), 0.0);
    cond.m_strEnzymeTerm = "N";
    EXPECT_EQ(scorer.Score(ck, {}, spec), 0.0);
    EXPECT_DOUBLE_EQ(scorer.Score(kc, {}, spec), bonus);
    cond.m_strEnzymeSites.clear();
    EXPECT_EQ(scorer.Score(kc, {}, spec), 0.0);
}

TEST_F(BM25Test, RunBonus_SixAndSevenConsecutiveSites) {
    CSpectrum empty = Spectrum({}, 1000.0, "");
    CResult cand;
    cand.strPeptide = std::string(20, 'G');  // sites 0 .. 18
    Reset(cand, empty);
    for (int k = 10; k < 16; ++k) scorer.m_vBScore[k] = 0.02;
    EXPECT_DOUBLE_EQ(scorer._BM25(cand, empty, 0, nullptr), 0.02 * 6 / 6);
    scorer.m_vBScore[16] = 0.05;
    EXPECT_DOUBLE_EQ(scorer._BM25(cand, empty, 0, nullptr), (0.02 * 6) / 6 + (0.02 * 5 + 0.05) / 6);
    scorer.m_vBScore[13] = 0.0099;  // breaks both windows
    EXPECT_EQ(scorer._BM25(cand, empty, 0, nullptr), 0.0);
    // Suffix windows count independently; with 101 residues the last window
    // ends at entry 99.
    cand.strPeptide = std::string(101, 'G');
    for (int k = 94; k < 100; ++k) scorer.m_vYScore[k] = 0.03;
    EXPECT_NEAR(scorer._BM25(cand, empty, 0, nullptr), 0.03, 1e-15);
}

TEST_F(BM25Test, Score_SpectrumWithoutPeaks_FiniteZero) {
    CSpectrum empty = Spectrum({}, 1000.0, "HCD");
    empty.m_strActivation = "HCD";
    const std::vector<CIonType> ions = {Ion("b", 1, true, 0.0), Ion("y", 1, false, kWater)};
    cond.m_strEnzymeSites = "K";
    CResult cand;
    cand.strPeptide = "PEPTIDEK";
    const double s = scorer.Score(cand, ions, empty);
    EXPECT_TRUE(std::isfinite(s));
    EXPECT_EQ(s, 0.0);
}

// Three-residue peptide, b and y ions, three peaks; expected value written out
// from the definition of the score.
TEST_F(BM25Test, Score_TinyPeptide_HandComputed) {
    const double b1 = kG + kProton, b2 = kG + kA + kProton, y1 = kS + kWater + kProton;
    const double yPeak = y1 + 0.0005;
    const double mh = kG + kA + kS + kWater + kProton;
    CSpectrum spec = Spectrum({Peak(b1, 1.0), Peak(yPeak, 0.25), Peak(b2, 0.5)}, mh, "HCD");
    const std::vector<CIonType> ions = {Ion("b", 1, true, 0.0), Ion("y", 1, false, kWater)};
    cond.m_strEnzymeSites = "KR";
    CResult cand;
    cand.strPeptide = "GAS";
    const double s = scorer.Score(cand, ions, spec);

    const double lr = 9.0 / ((mh / 110) * (mh / 110));
    const double ppmY = 0.0005 / y1 * 1e6;
    const double eY = std::cos(ppmY / 20 * kPiUsed * 0.5);
    EXPECT_DOUBLE_EQ(scorer.m_vBScore[0], kWeightLow * Sat(1.0, lr));
    EXPECT_DOUBLE_EQ(scorer.m_vBScore[1], kWeightLow * Sat(0.5, lr));
    EXPECT_EQ(scorer.m_vYScore[0], 0.0);
    EXPECT_NEAR(scorer.m_vYScore[1], eY * Sat(0.25, lr), 1e-12);
    const double expect = Sat(1.0, lr) / kFactorLow + Sat(0.25, lr) * eY + Sat(0.5, lr) / kFactorLow;
    EXPECT_NEAR(s, expect, 1e-12);

    // A charge-2 ion type is skipped for a singly charged precursor.
    const std::vector<CIonType> doubly = {Ion("b", 2, true, 0.0)};
    spec.m_nCharge = 1;
    EXPECT_EQ(scorer.Score(cand, doubly, spec), 0.0);
}

TEST_F(BM25Test, Score_TerminalShifts_AppliedAboveOneTenth) {
    const double shift = 42.010565;
    const double b1 = kG + shift + kProton;
    const double mh = kG + kA + kS + shift + kWater + kProton;
    CSpectrum spec = Spectrum({Peak(b1, 1.0)}, mh, "ETD");
    const std::vector<CIonType> ions = {Ion("b", 1, true, 0.0)};
    CResult cand;
    cand.strPeptide = "GAS";
    cand.lfNTermShift = shift;
    scorer._ComputeMZandMatch(cand, ions, spec);
    EXPECT_GT(scorer.m_vBScore[0], 0.0);
    cand.lfNTermShift = 0.05;
    scorer._ComputeMZandMatch(cand, ions, spec);
    EXPECT_EQ(scorer.m_vBScore[0], 0.0);
}

// Tables grow: a 150-residue candidate and a spectrum of 7,149 peaks whose
// matched peaks lie beyond index 6000; every b site counts and the run bonus
// windows cover the whole candidate.
TEST_F(BM25Test, Score_LongCandidateManyPeaks_TablesGrow) {
    const size_t len = 150, fillers = 7000;
    std::vector<CPeak> peaks;
    for (size_t k = 0; k < fillers; ++k) peaks.push_back(Peak(1.0 + 0.001 * double(k), 0.001));
    for (size_t l = 1; l < len; ++l) peaks.push_back(Peak(kG * double(l) + kProton, 1.0));
    const double mh = kG * double(len) + kWater + kProton;
    CSpectrum spec = Spectrum(peaks, mh, "ETD");
    const std::vector<CIonType> ions = {Ion("b", 1, true, 0.0)};
    CResult cand;
    cand.strPeptide = std::string(len, 'G');
    const double s = scorer.Score(cand, ions, spec);
    ASSERT_GE(scorer.m_vBScore.size(), len - 1);
    ASSERT_GE(scorer.m_vPeakError.size(), peaks.size());
    for (size_t site = 0; site + 1 < len; ++site) EXPECT_GT(scorer.m_vBScore[site], 0.0) << site;
    EXPECT_EQ(scorer.m_vPeakError[fillers + 100], kFactorLow);

    const double lr = double(len) * double(len) / ((mh / 110) * (mh / 110));
    const double t = Sat(1.0, lr);
    // 149 matched peaks; windows of six over sites 0..148: 144 windows.
    const double expect = 149 * t / kFactorLow + 144 * (kWeightLow * t);
    EXPECT_NEAR(s, expect, expect * 1e-12);

    // A short candidate afterwards: the grown tables are reset entirely.
    cand.strPeptide = "GG";
    scorer.Score(cand, ions, spec);
    for (size_t site = 1; site < scorer.m_vBScore.size(); ++site) EXPECT_EQ(scorer.m_vBScore[site], 0.0);
}

}  // namespace
