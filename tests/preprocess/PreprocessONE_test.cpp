#include <gtest/gtest.h>

#include <vector>

#include "conditions/Condition.h"
#include "preprocess/PreprocessONE.h"

namespace {

constexpr double kProton = 1.00727647012;

// Absolute fragment tolerance of tolDa, everything else unset.
void SetDaltonTolerance(CCondition& c, double tolDa) {
    c.m_lfFragTol = tolDa;
    c.m_bFragTolPpm = false;
    c.m_lfPepTol = tolDa;
    c.m_bPepTolPpm = false;
}

CPeak MakePeak(double mz, double intensity, double logIntensity = 1.0, int order = 0) {
    CPeak p;
    p.lfMz = mz;
    p.lfKeyMz = mz;
    p.lfIntensity = intensity;
    p.lfLogIntensity = logIntensity;
    p.nOrder = order;
    return p;
}

CSpectrum MakeSpectrum(const char* activation, int charge, double mh, const std::vector<CPeak>& peaks) {
    CSpectrum s;
    s.m_strTitle = "t";
    s.m_strActivation = activation;
    s.m_nCharge = charge;
    s.m_lfPrecursorMH = mh;
    s.m_vPeaks = peaks;
    return s;
}

// The merge step relies on the condition's neighbour test; without it the
// merge cases cannot be checked.
bool CanMergeAvailable(const CCondition& c) {
    std::vector<CPeak> two{MakePeak(100.0, 1.0), MakePeak(100.0, 1.0)};
    return c.CanMerge(two, 0, 1);
}

class PreprocessONETest : public ::testing::Test {
protected:
    void SetUp() override { SetDaltonTolerance(cond, 0.02); }
    CCondition cond;
    CPreprocessONE pre{&cond};
};

}  // namespace

TEST_F(PreprocessONETest, Deisotope_Charge3Cluster_KeepsOnlyMonoisotopicPeakAtCharge3) {
    CSpectrum s = MakeSpectrum("HCD", 3, 3000.0,
                               {MakePeak(500.00, 1.0), MakePeak(500.334, 0.8), MakePeak(500.669, 0.3)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 1497.98544705976);  // 3 * 500 - 2 * proton
    EXPECT_EQ(s.m_vPeaks[0].nCharge, 3);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfIntensity, 1.0);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfKeyMz, 500.0);
}

TEST_F(PreprocessONETest, Deisotope_StrongerSecondIsotope_BothKeptAtCharge3) {
    CSpectrum s = MakeSpectrum("ETD", 3, 3000.0,
                               {MakePeak(500.00, 0.8), MakePeak(500.334, 1.0), MakePeak(500.669, 0.3)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 2u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 1497.98544705976);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[1].lfMz, 1498.98744705976);  // 3 * 500.334 - 2 * proton
    EXPECT_EQ(s.m_vPeaks[0].nCharge, 3);
    EXPECT_EQ(s.m_vPeaks[1].nCharge, 3);
}

TEST_F(PreprocessONETest, Deisotope_ChargesTriedDownward_FirstFittingChargeWins) {
    // Spacing 1.00335 / 2: no charge-3 cluster, a charge-2 one.
    CSpectrum s = MakeSpectrum("HCD", 3, 3000.0, {MakePeak(500.0, 1.0), MakePeak(500.50167, 0.5)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 998.99272352988);
    EXPECT_EQ(s.m_vPeaks[0].nCharge, 2);
}

TEST_F(PreprocessONETest, Deisotope_LonePeak_HcdTwoReadingsEtdOne) {
    CSpectrum hcd = MakeSpectrum("HCD", 2, 3000.0, {MakePeak(300.0, 1.0, 4.0)});
    pre.PreProcess(hcd);
    ASSERT_EQ(hcd.m_vPeaks.size(), 2u);
    EXPECT_DOUBLE_EQ(hcd.m_vPeaks[0].lfMz, 300.0);
    EXPECT_EQ(hcd.m_vPeaks[0].nCharge, 1);
    EXPECT_DOUBLE_EQ(hcd.m_vPeaks[1].lfMz, 598.99272352988);  // 2 * 300 - proton
    EXPECT_EQ(hcd.m_vPeaks[1].nCharge, 2);
    EXPECT_DOUBLE_EQ(hcd.m_vPeaks[1].lfLogIntensity, 4.0);

    CSpectrum etd = MakeSpectrum("ETD", 2, 3000.0, {MakePeak(300.0, 1.0)});
    pre.PreProcess(etd);
    ASSERT_EQ(etd.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(etd.m_vPeaks[0].lfMz, 300.0);
    EXPECT_EQ(etd.m_vPeaks[0].nCharge, 1);
}

TEST_F(PreprocessONETest, Deisotope_PrecursorCharge1_OnlyFullSpacing) {
    CSpectrum half = MakeSpectrum("ETD", 1, 3000.0, {MakePeak(500.0, 1.0), MakePeak(500.50167, 0.5)});
    pre.PreProcess(half);
    ASSERT_EQ(half.m_vPeaks.size(), 2u);  // both lone, charge 1
    EXPECT_EQ(half.m_vPeaks[0].nCharge, 1);
    EXPECT_EQ(half.m_vPeaks[1].nCharge, 1);

    CSpectrum full = MakeSpectrum("HCD", 1, 3000.0, {MakePeak(500.0, 1.0), MakePeak(501.00335, 0.5)});
    pre.PreProcess(full);
    ASSERT_EQ(full.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(full.m_vPeaks[0].lfMz, 500.0);
    EXPECT_EQ(full.m_vPeaks[0].nCharge, 1);
}

TEST_F(PreprocessONETest, Deisotope_NoPositiveCharge_EveryPeakLone) {
    CSpectrum s = MakeSpectrum("ETD", 0, 3000.0, {MakePeak(500.0, 1.0), MakePeak(501.00335, 0.5)});
    pre.PreProcess(s);
    EXPECT_EQ(s.m_vPeaks.size(), 2u);
}

TEST_F(PreprocessONETest, Merge_PeaksWithinTolerance_MeanMzSummedIntensityMaxLog) {
    if (!CanMergeAvailable(cond)) GTEST_SKIP() << "neighbour test of the condition not available";
    CSpectrum s = MakeSpectrum("ETD", 1, 3000.0,
                               {MakePeak(400.000, 0.6, 2.0, 7), MakePeak(400.005, 0.3, 3.0, 8)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 400.0025);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfIntensity, 0.9);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfLogIntensity, 3.0);
    EXPECT_EQ(s.m_vPeaks[0].nOrder, 7);
}

TEST_F(PreprocessONETest, Merge_ChainOfNeighbours_OneGroupEvenWhenEndsFarApart) {
    if (!CanMergeAvailable(cond)) GTEST_SKIP() << "neighbour test of the condition not available";
    CSpectrum s = MakeSpectrum("ETD", 1, 3000.0,
                               {MakePeak(400.000, 0.1), MakePeak(400.015, 0.1), MakePeak(400.030, 0.1),
                                MakePeak(400.080, 0.1)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 2u);
    EXPECT_NEAR(s.m_vPeaks[0].lfMz, 400.015, 1e-9);
    EXPECT_NEAR(s.m_vPeaks[0].lfIntensity, 0.3, 1e-12);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[1].lfMz, 400.080);
}

TEST_F(PreprocessONETest, DelectProcorse_PrecursorAndWaterLoss_Removed) {
    const double mh = 1000.0;
    CSpectrum s = MakeSpectrum("ETD", 1, mh,
                               {MakePeak(500.0, 1.0), MakePeak(mh - 18.0105647, 1.0), MakePeak(mh, 1.0),
                                MakePeak(mh + 0.03, 1.0)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 2u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 500.0);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[1].lfMz, 1000.03);  // just outside the tolerance
}

TEST_F(PreprocessONETest, DelectProcorse_NearPrecursor_RemovedOnlyWithinTolerance) {
    CSpectrum s = MakeSpectrum("ETD", 1, 1000.0, {MakePeak(999.985, 1.0), MakePeak(999.97, 1.0)});
    pre._DelectProcorse(s);
    ASSERT_EQ(s.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 999.97);
}

TEST_F(PreprocessONETest, PreProcess_EmptySpectrum_Unchanged) {
    CSpectrum s = MakeSpectrum("", 2, 1234.5, {});
    pre.PreProcess(s);
    EXPECT_TRUE(s.m_vPeaks.empty());
    EXPECT_EQ(s.m_strTitle, "t");
    EXPECT_DOUBLE_EQ(s.m_lfPrecursorMH, 1234.5);
    EXPECT_EQ(s.m_nCharge, 2);
}

TEST_F(PreprocessONETest, PreProcess_ObjectReused_SameResultAsFreshObject) {
    const std::vector<CPeak> a{MakePeak(200.0, 0.2), MakePeak(500.0, 1.0), MakePeak(500.334, 0.8),
                               MakePeak(700.0, 0.5), MakePeak(701.00335, 0.9)};
    const std::vector<CPeak> b{MakePeak(150.0, 1.0), MakePeak(350.0, 0.4)};
    CSpectrum first = MakeSpectrum("HCD", 3, 2000.0, a);
    pre.PreProcess(first);
    CSpectrum second = MakeSpectrum("HCD", 2, 2000.0, b);
    pre.PreProcess(second);

    CPreprocessONE fresh(&cond);
    CSpectrum expected = MakeSpectrum("HCD", 2, 2000.0, b);
    fresh.PreProcess(expected);
    ASSERT_EQ(second.m_vPeaks.size(), expected.m_vPeaks.size());
    for (std::size_t i = 0; i < expected.m_vPeaks.size(); ++i) {
        EXPECT_EQ(second.m_vPeaks[i].lfMz, expected.m_vPeaks[i].lfMz);
        EXPECT_EQ(second.m_vPeaks[i].nCharge, expected.m_vPeaks[i].nCharge);
    }
    // Sorted output.
    for (std::size_t i = 1; i < first.m_vPeaks.size(); ++i)
        EXPECT_LE(first.m_vPeaks[i - 1].lfMz, first.m_vPeaks[i].lfMz);
}

TEST_F(PreprocessONETest, Deisotope_PpmTolerance_WindowFromBothPeaks) {
    cond.m_lfFragTol = 20.0;  // about 0.01 Da at m/z 500
    cond.m_bFragTolPpm = true;
    CSpectrum outside = MakeSpectrum("ETD", 1, 3000.0, {MakePeak(500.0, 1.0), MakePeak(501.01535, 0.5)});
    pre.PreProcess(outside);
    ASSERT_EQ(outside.m_vPeaks.size(), 2u);  // no cluster: both lone
    CSpectrum weak = MakeSpectrum("ETD", 1, 3000.0, {MakePeak(500.0, 1.0), MakePeak(501.01135, 0.5)});
    pre.PreProcess(weak);
    EXPECT_EQ(weak.m_vPeaks.size(), 1u);  // cluster; the weaker isotope is dropped
}

TEST_F(PreprocessONETest, Deisotope_IsotopeChain_FollowsLatestMemberAndStopsAboveWindow) {
    // As read: the monoisotopic peak; a noise peak below the first window; a
    // first isotope 0.015 high (weaker than the start: dropped); a second
    // isotope again 0.015 above the window of that member, 0.03 off the
    // start's grid, so a member only when the window follows the latest
    // member (stronger than the start: kept); a peak above the next window,
    // which ends the scan; a weak peak that would have fitted had the scan
    // gone on. In HCD a lone peak comes out twice (charge 1 and 2), a cluster
    // member once.
    const double first = 501.01835;
    const double second = first + 1.0033499999999993 + 0.015;
    const double late = second + 1.0033499999999993;
    CSpectrum s = MakeSpectrum("HCD", 1, 3000.0,
                               {MakePeak(500.0, 0.6), MakePeak(500.3, 0.2), MakePeak(first, 0.5),
                                MakePeak(second, 0.9), MakePeak(503.5, 0.3), MakePeak(late, 0.1)});
    pre.PreProcess(s);
    std::vector<double> single, twice;
    for (const CPeak& p : s.m_vPeaks) (p.nCharge == 1 ? single : twice).push_back(p.lfMz);
    EXPECT_EQ(single, (std::vector<double>{500.0, 500.3, second, late, 503.5}));
    EXPECT_EQ(twice, (std::vector<double>{2 * 500.3 - kProton, 2 * late - kProton, 2 * 503.5 - kProton}));
    // Not merged with a lone copy of itself.
    double secondIntensity = 0.0;
    for (const CPeak& p : s.m_vPeaks) secondIntensity += p.lfMz == second ? p.lfIntensity : 0.0;
    EXPECT_DOUBLE_EQ(secondIntensity, 0.9);
}

TEST_F(PreprocessONETest, Deisotope_LaterIsotopeAgainstMonoisotopicIntensity_NotAgainstPrevious) {
    // Intensities 1.0, 0.4, 0.7: the third is weaker than the start and is
    // dropped although it is stronger than the member before it.
    CSpectrum s = MakeSpectrum("HCD", 2, 3000.0,
                               {MakePeak(400.0, 1.0), MakePeak(400.0 + 1.0033499999999993 / 2, 0.4),
                                MakePeak(400.0 + 1.0033499999999993, 0.7)});
    pre.PreProcess(s);
    ASSERT_EQ(s.m_vPeaks.size(), 1u);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfMz, 2 * 400.0 - kProton);
    EXPECT_EQ(s.m_vPeaks[0].nCharge, 2);
}
