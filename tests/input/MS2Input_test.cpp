#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "input/MS2Input.h"
#include "InputTestUtil.h"

namespace {

std::vector<CSpectrum> ReadAll(const std::string& path) {
    CMS2Input in;
    in.SetQuiet(true);
    in.Count(path);
    std::vector<CSpectrum> out;
    in.Browse(out, CInput::ALL);
    return out;
}

}  // namespace

TEST(MS2Input, BaseName_FolderAndExtensionRemoved) {
    EXPECT_EQ(CMS2Input::BaseName("/x/y/run1.ms2"), "run1");
    EXPECT_EQ(CMS2Input::BaseName("run1.ms2"), "run1");
    EXPECT_EQ(CMS2Input::BaseName("noext"), "noext");
    EXPECT_EQ(CMS2Input::BaseName("/x.d/noext"), "noext");
    EXPECT_EQ(CMS2Input::BaseName("a.b.ms2"), "a.b");
}

TEST(MS2Input, ScanAndZLine_ComposeTitle) {
    CTempDir dir;
    std::string path = dir.Write("run1.ms2", "H\tCreator\tx\nS\t1234\t1234\t567.8\nI\tRTime\t1.5\nZ\t2\t1134.6\n"
                                             "200.5 10\n150.25 5\n");
    CMS2Input in;
    EXPECT_EQ(in.Count(path), 1u);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 1u);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].m_strTitle, "run1.1234.1234.2.dta");
    EXPECT_EQ(out[0].m_nCharge, 2);
    EXPECT_EQ(out[0].m_lfPrecursorMH, 1134.6);
    ASSERT_EQ(out[0].m_vPeaks.size(), 2u);
    EXPECT_EQ(out[0].m_vPeaks[0].lfMz, 150.25);  // sorted by m/z
    EXPECT_EQ(out[0].m_vPeaks[1].lfIntensity, 10.0);
    EXPECT_FALSE(in.Failed());
}

TEST(MS2Input, NameWithoutExtension_Kept) {
    CTempDir dir;
    auto out = ReadAll(dir.Write("noext", "S 7 7 400\nZ 1 400\n"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].m_strTitle, "noext.7.7.1.dta");
}

// Two Z lines used to leave only the last charge: each Z line is now a
// spectrum of its own, counted the same way, in batches of any size.
TEST(MS2Input, TwoZLines_OneSpectrumEach_CountAgrees) {
    CTempDir dir;
    const std::string path = dir.Write("r.ms2", "S 5 5 600\nZ 2 1199.5\nZ 3 1798.7\n300 1\nS 6 6 700\nZ 2 1399.5\n200 2\n");
    for (unsigned batch : {1u, CInput::ALL}) {
        CMS2Input in;
        ASSERT_EQ(in.Count(path), 3u);
        std::vector<CSpectrum> out;
        while (in.Browse(out, batch) > 0) {
        }
        ASSERT_EQ(out.size(), 3u);
        const char* titles[] = {"r.5.5.2.dta", "r.5.5.3.dta", "r.6.6.2.dta"};
        const double mh[] = {1199.5, 1798.7, 1399.5};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(out[i].m_strTitle, titles[i]);
            EXPECT_EQ(out[i].m_lfPrecursorMH, mh[i]);
            EXPECT_EQ(out[i].m_nScan, i < 2 ? 5 : 6);
            ASSERT_EQ(out[i].m_vPeaks.size(), 1u);
        }
        EXPECT_EQ(out[1].m_vPeaks[0].lfMz, 300.0);
    }
}

// A scan without a usable Z line used to take the charge and mass of the
// scan before it; numbers beyond int's range used to wrap. Each row is one
// scan after a good one.
TEST(MS2Input, BadZOrScanLines_ImpossiblePrecursorWithWarning) {
    struct Row {
        const char* scan;
        const char* title;
        int charge;
        bool mh;  // [M+H]+ 999.5 kept (else NaN)
        const char* warning;
    } rows[] = {
        {"S 2 2 700\n100 1\n", "r.2.2.0.dta", 0, false, "spectrum 2 (r.2.2.0.dta): the scan has no Z line with a charge"},
        {"S 2 2 700\nZ abc\n", "r.2.2.0.dta", 0, false, "the Z line \"Z abc\" holds no charge and is ignored"},
        {"S 2 2 700\nZ\n", "r.2.2.0.dta", 0, false, "the scan has no Z line with a charge"},
        {"S 2 2 700\nZ 4 x\n", "r.2.2.4.dta", 4, false, "the Z line \"Z 4 x\" holds no [M+H]+"},
        {"S 2 2 700\nZ -2 999.5\n", "r.2.2.0.dta", 0, true, "holds a negative charge"},
        {"S 2 2 700\nZ 4294967298 999.5\n", "r.2.2.0.dta", 0, true, "holds a charge out of range"},
        {"S\t4294967306\t4294967306\t500\nZ\t2\t999.5\n", "r.-1.-1.2.dta", 2, true, "the S line holds no scan number"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.scan);
        CTempDir dir;
        const std::string path = dir.Write("r.ms2", std::string("S 1 1 600\nZ 2 1199.5\n") + r.scan);
        CMS2Input in;
        testing::internal::CaptureStderr();
        EXPECT_EQ(in.Count(path), 2u);
        std::vector<CSpectrum> out;
        EXPECT_EQ(in.Browse(out, CInput::ALL), 2u);
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[1].m_strTitle, r.title);
        EXPECT_EQ(out[1].m_nCharge, r.charge);
        EXPECT_TRUE(r.mh ? out[1].m_lfPrecursorMH == 999.5 : std::isnan(out[1].m_lfPrecursorMH));
        EXPECT_EQ(err.rfind("[warning]\t" + path + ": spectrum 2", 0), 0u) << err;
        EXPECT_NE(err.find(r.warning), std::string::npos) << err;
    }
}

TEST(MS2Input, UnsortedPeaks_SortedEmptyAndOtherLinesSkipped) {
    CTempDir dir;
    auto out = ReadAll(dir.Write("r.ms2", "S 1 1 600\r\nZ 2 1199.5\r\n\r\n500 5\r\n\n100 1\r\nD\tx\n300 3\n400\nnan 2\n"));
    ASSERT_EQ(out.size(), 1u);
    const auto& p = out[0].m_vPeaks;
    ASSERT_EQ(p.size(), 4u);
    const double mz[] = {100, 300, 400, 500};
    const double in[] = {1, 3, 0, 5};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p[i].lfMz, mz[i]);
        EXPECT_EQ(p[i].lfIntensity, in[i]);
    }
}

TEST(MS2Input, TenSpectraBatchesOfFour_Return4_4_2_Then0) {
    CTempDir dir;
    std::string content = "H header\n";
    for (int i = 1; i <= 10; ++i) content += "S " + std::to_string(i) + " " + std::to_string(i) + " 500\nZ 2 999\n100 1\n";
    std::string path = dir.Write("ten.ms2", content);
    CMS2Input in;
    ASSERT_EQ(in.Count(path), 10u);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, 4), 4u);
    EXPECT_EQ(in.Browse(out, 4), 4u);
    EXPECT_EQ(in.Browse(out, 4), 2u);
    EXPECT_EQ(in.Browse(out, 4), 0u);
    ASSERT_EQ(out.size(), 10u);
    EXPECT_EQ(out[9].m_strTitle, "ten.10.10.2.dta");
}

TEST(MS2Input, LongBaseName_TitleCutAt299) {
    CTempDir dir;
    std::string name(250, 'n');
    auto out = ReadAll(dir.Write(name + ".ms2", "S 123456 123456 1\nZ 2 3\n"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].m_strTitle, (name + ".123456.123456.2.dta").substr(0, 299));
}

TEST(MS2Input, UnopenableFile_ZeroSpectraAndFailed) {
    CMS2Input in;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Count("/nonexistent/r.ms2"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error]\tcannot open spectrum file /nonexistent/r.ms2: No such file or directory\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(in.Failed());
}

TEST(MS2Input, InfoLines_ScanRetentionTimeActivation) {
    CTempDir dir;
    std::string path = dir.Write("r.ms2", "S\t7\t7\t500\nI\tRTime\t1.5\nI\tActivationType\tETD\r\nZ\t2\t999\n100 1\n"
                                          "S\t8\t8\t500\nI\tRTimeX\t3\n100 1\n");
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].m_nScan, 7);
    EXPECT_EQ(out[0].m_lfRetentionTime, 90.0);  // minutes in the file
    EXPECT_EQ(out[0].m_strActivationRead, "ETD");
    EXPECT_EQ(out[1].m_nScan, 8);
    EXPECT_EQ(out[1].m_lfRetentionTime, -1.0);  // not carried over
    EXPECT_EQ(out[1].m_strActivationRead, "");
}
