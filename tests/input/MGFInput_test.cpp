#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "input/MGFInput.h"
#include "InputTestUtil.h"

using namespace std::string_literals;

namespace {

constexpr double kProton = 1.00727647012;

std::string Block(const std::string& title, const std::string& pepmass, const std::string& body) {
    std::string s = "BEGIN IONS\n";
    if (!title.empty()) s += "TITLE=" + title + "\n";
    if (!pepmass.empty()) s += "PEPMASS=" + pepmass + "\n";
    return s + body + "END IONS\n";
}

std::vector<CSpectrum> ReadAll(const std::string& path, unsigned int* count = nullptr) {
    CMGFInput in;
    unsigned int c = in.Count(path);
    if (count) *count = c;
    std::vector<CSpectrum> out;
    in.Browse(out, CInput::ALL);
    in.Close();
    return out;
}

}  // namespace

TEST(MGFInput, ThreeBlocks_AllRemaining_DeliversThree) {
    CTempDir dir;
    std::string path = dir.Write("a.mgf", "COM=header\n" + Block("t1", "400", "100 1\n") + Block("t2", "500", "") +
                                               Block("t3", "600", "200 2\n"));
    CMGFInput in;
    EXPECT_EQ(in.Count(path), 3u);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 3u);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].m_strTitle, "t3");
    EXPECT_TRUE(out[1].m_vPeaks.empty());
    EXPECT_TRUE(in.Close());
    EXPECT_FALSE(in.Failed());
}

TEST(MGFInput, BatchOfTwo_FiveSpectra_Returns2_2_1_Then0) {
    CTempDir dir;
    std::string content;
    for (int i = 0; i < 5; ++i) content += Block("s" + std::to_string(i), "300", "100 1\n");
    std::string path = dir.Write("b.mgf", content);
    CMGFInput in;
    ASSERT_EQ(in.Count(path), 5u);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, 2), 2u);
    EXPECT_EQ(in.Browse(out, 2), 2u);
    EXPECT_EQ(in.Browse(out, 2), 1u);
    EXPECT_EQ(in.Browse(out, 2), 0u);
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    ASSERT_EQ(out.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i].m_strTitle, "s" + std::to_string(i));
}

TEST(MGFInput, ChargeAndPepmassLines_ConvertToMH) {
    CTempDir dir;
    std::string path = dir.Write("c.mgf", Block("nocharge", "500.25", "") +
                                              Block("three", "500.25 12345.6", "CHARGE=3+\n") +
                                              Block("one", "700.5", "CHARGE=1+\n") +
                                              Block("com", "800", "COM=some comment\n"));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].m_nCharge, 2);
    EXPECT_DOUBLE_EQ(out[0].m_lfPrecursorMH, 999.49272352988);
    EXPECT_EQ(out[0].m_lfPrecursorMH, 2 * 500.25 - kProton);
    EXPECT_EQ(out[1].m_nCharge, 3);
    EXPECT_DOUBLE_EQ(out[1].m_lfPrecursorMH, 1498.73544705976);
    EXPECT_EQ(out[2].m_nCharge, 1);
    EXPECT_EQ(out[2].m_lfPrecursorMH, 700.5);
    // Only the first character decides: COM= is a charge line without digits.
    EXPECT_EQ(out[3].m_nCharge, 0);
    EXPECT_EQ(out[3].m_lfPrecursorMH, kProton);
}

// A title-less block used to take the previous block's title; it now gets
// one of its own from the file name and its position.
TEST(MGFInput, BlockWithoutTitleOrPepmass_PrecursorCarriesTitleMade) {
    CTempDir dir;
    std::string path = dir.Write("d.mgf", Block("first", "400", "") + Block("", "", "CHARGE=1\n") + Block("", "", ""));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 3u);
    const double mh1 = 2 * 400.0 - kProton;
    EXPECT_EQ(out[1].m_strTitle, "d.index.1");
    EXPECT_EQ(out[2].m_strTitle, "d.index.2");
    EXPECT_EQ(out[1].m_lfPrecursorMH, mh1);             // charge 1 keeps the carried value
    EXPECT_EQ(out[2].m_lfPrecursorMH, 2 * mh1 - kProton);  // the carried [M+H]+ read as m/z
}

TEST(MGFInput, TitleLine_TrailingControlCharsDroppedSpacesKept) {
    CTempDir dir;
    std::string path = dir.Write("e.mgf", "BEGIN IONS\r\nTITLE=scan 7 \r\nPEPMASS=300\r\nEND IONS\r\n"
                                          "BEGIN IONS\nTITLE=\x01\x02\nEND IONS\n"
                                          "BEGIN IONS\nT\nEND IONS\n"
                                          "BEGIN IONS\nTITLE=ab\0cd\nEND IONS\n"s);
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].m_strTitle, "scan 7 ");
    EXPECT_EQ(out[1].m_strTitle, "e.index.1");  // an empty title is no title
    EXPECT_EQ(out[2].m_strTitle, "e.index.2");
    EXPECT_EQ(out[3].m_strTitle, "ab");  // C string rules: a NUL ends the text
}

TEST(MGFInput, PeakLines_KeptInFileOrderWithDuplicates) {
    CTempDir dir;
    std::string path = dir.Write("f.mgf", Block("t", "300", "500.5 10\n100.25\t3e2\n500.5 10\n200\n7.5 8 9 junk\n"));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 1u);
    const auto& p = out[0].m_vPeaks;
    ASSERT_EQ(p.size(), 5u);
    const double mz[] = {500.5, 100.25, 500.5, 200, 7.5};
    const double in[] = {10, 300, 10, 0, 8};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(p[i].lfMz, mz[i]) << i;
        EXPECT_EQ(p[i].lfIntensity, in[i]) << i;
        EXPECT_EQ(p[i].lfLogIntensity, 0.0);
        EXPECT_EQ(p[i].nCharge, 0);
    }
    EXPECT_TRUE(out[0].m_vHashTable.empty());
    EXPECT_TRUE(out[0].m_strActivation.empty());
}

TEST(MGFInput, NonFiniteValues_PeakDroppedPrecursorKept) {
    CTempDir dir;
    std::string path = dir.Write("g.mgf", Block("t", "nan", "100 nan\ninf 5\n1e400 3\n200 -INF\n300 4\n0x10 2\n"));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(std::isnan(out[0].m_lfPrecursorMH));
    ASSERT_EQ(out[0].m_vPeaks.size(), 2u);
    EXPECT_EQ(out[0].m_vPeaks[0].lfMz, 300.0);
    EXPECT_EQ(out[0].m_vPeaks[1].lfMz, 16.0);  // hex floats read as the C library reads them
}

TEST(MGFInput, FileEndsInsideBlock_DeliversSpectraBefore) {
    CTempDir dir;
    std::string path = dir.Write("h.mgf", Block("a", "300", "") + Block("b", "300", "") + "BEGIN IONS\nTITLE=c\n100 1\n");
    CMGFInput in;
    EXPECT_EQ(in.Count(path), 3u);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 2u);
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].m_strTitle, "b");
}

TEST(MGFInput, UnopenableFile_ZeroSpectraAndFailed) {
    CMGFInput in;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Count("/nonexistent/x.mgf"), 0u);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[error]\tcannot open spectrum file /nonexistent/x.mgf\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(in.Failed());
}

TEST(MGFInput, LineLongerThanBuffer_ReadInPieces) {
    // 81,959 characters make one piece; the rest of the line is a line of its own.
    CTempDir dir;
    std::string title(81959 - 6, 'a');
    std::string path = dir.Write("i.mgf", "BEGIN IONS\nTITLE=" + title + "150.5 20\nEND IONS\n" +
                                              "BEGIN IONS\n" + std::string(200000, ' ') + "\nEND IONS\n");
    unsigned int count = 0;
    auto out = ReadAll(path, &count);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].m_strTitle, title);
    ASSERT_EQ(out[0].m_vPeaks.size(), 1u);
    EXPECT_EQ(out[0].m_vPeaks[0].lfMz, 150.5);
    EXPECT_EQ(out[0].m_vPeaks[0].lfIntensity, 20.0);
}

TEST(MGFInput, ShortKeyLines_ReadAsEmpty) {
    CTempDir dir;
    std::string path = dir.Write("j.mgf", "BEGIN IONS\nPEPMASS=400\nCHARGE\nEND IONS\nBEGIN IONS\nP\nEND");
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].m_nCharge, 0);
    EXPECT_EQ(out[1].m_lfPrecursorMH, 2 * 0.0 - kProton);
}

TEST(MGFInput, FolderGivenAsFile_ZeroSpectraAndFailed) {
    CTempDir dir;
    CMGFInput in;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Count(dir.Path()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error]\tcannot read spectrum file " + dir.Path() + "\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(in.Failed());
}

TEST(MGFInput, ChargeBeyondInt_ReadAsAtoiReadsIt) {
    // atoi gives (int)strtol: 4294967298 = 2^32 + 2 comes out as 2.
    CTempDir dir;
    std::string path = dir.Write("k.mgf", Block("big", "400", "CHARGE=4294967298+\n") +
                                              Block("huge", "400", "CHARGE=99999999999999999999\n"));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].m_nCharge, 2);
    EXPECT_EQ(out[0].m_lfPrecursorMH, 2 * 400.0 - kProton);
    EXPECT_EQ(out[1].m_nCharge, -1);  // LONG_MAX cut to 32 bits
    EXPECT_EQ(out[1].m_lfPrecursorMH, -1 * 400.0 - (-1 - 1) * kProton);
}

TEST(MGFInput, ScansRtActivationLines_KeptPerBlockOnly) {
    CTempDir dir;
    std::string path = dir.Write("g.mgf", Block("a", "300", "SCANS=17-18\nRTINSECONDS=12.5\nACTIVATION=hcd\n") +
                                              Block("b", "300", "SCAN=3\nRT=9\nACT=ETD\n") +
                                              Block("c", "300", "ACTIVATION=ETHCD\r\n"));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].m_nScan, 17);
    EXPECT_EQ(out[0].m_lfRetentionTime, 12.5);
    EXPECT_EQ(out[0].m_strActivationRead, "HCD");
    // Other keys with the same first letter are not these fields, and
    // nothing carries over from the block before.
    EXPECT_EQ(out[1].m_nScan, -1);
    EXPECT_EQ(out[1].m_lfRetentionTime, -1.0);
    EXPECT_EQ(out[1].m_strActivationRead, "");
    EXPECT_EQ(out[2].m_strActivationRead, "EThcD");
}
