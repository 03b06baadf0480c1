#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/MS2Input.h"
#include "InputTestUtil.h"

namespace {

std::vector<CSpectrum> ReadAll(const std::string& path) {
    CMS2Input in;
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

TEST(MS2Input, TwoZLines_KeepLast) {
    CTempDir dir;
    auto out = ReadAll(dir.Write("r.ms2", "S 5 5 600\nZ 2 1199.5\nZ 3 1798.7\n300 1\n"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].m_nCharge, 3);
    EXPECT_EQ(out[0].m_lfPrecursorMH, 1798.7);
    EXPECT_EQ(out[0].m_strTitle, "r.5.5.3.dta");
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

TEST(MS2Input, MissingOrBadZLine_CarriesPreviousValues) {
    CTempDir dir;
    auto out = ReadAll(dir.Write("r.ms2", "S 1 1 600\nZ 2 1199.5\nS 2 2 700\n100 1\nS 3 3 800\nZ abc\nS 4 4 900\nZ 4 x\nZ\n"));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1].m_strTitle, "r.2.2.2.dta");
    EXPECT_EQ(out[1].m_lfPrecursorMH, 1199.5);
    EXPECT_EQ(out[2].m_nCharge, 2);
    EXPECT_EQ(out[2].m_lfPrecursorMH, 1199.5);
    EXPECT_EQ(out[3].m_nCharge, 4);
    EXPECT_EQ(out[3].m_lfPrecursorMH, 1199.5);
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
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error]\tcannot open spectrum file /nonexistent/r.ms2\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(in.Failed());
}

TEST(MS2Input, ScanBeyondInt_ReadAsAtoiReadsIt) {
    // 4294967306 = 2^32 + 10: atoi (that is, (int)strtol) gives 10.
    CTempDir dir;
    auto out = ReadAll(dir.Write("big.ms2", "S\t4294967306\t4294967306\t500\nZ\t2\t999.5\n100 1\n"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].m_strTitle, "big.10.10.2.dta");
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
