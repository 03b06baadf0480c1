#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "input/MGFInput.h"
#include "input/TextScan.h"
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

std::vector<CSpectrum> ReadAll(const std::string& path, unsigned int* count = nullptr, bool quiet = true) {
    CMGFInput in;
    in.SetQuiet(quiet);
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
                                              Block("one", "700.5", "CHARGE=1+\n"));
    auto out = ReadAll(path);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].m_nCharge, 2);
    EXPECT_DOUBLE_EQ(out[0].m_lfPrecursorMH, 999.49272352988);
    EXPECT_EQ(out[0].m_lfPrecursorMH, 2 * 500.25 - kProton);
    EXPECT_EQ(out[1].m_nCharge, 3);
    EXPECT_DOUBLE_EQ(out[1].m_lfPrecursorMH, 1498.73544705976);
    EXPECT_EQ(out[2].m_nCharge, 1);
    EXPECT_EQ(out[2].m_lfPrecursorMH, 700.5);
}

// One block per row: whole key names in any case, every other key ignored,
// and values that cannot be a precursor refused with a warning (charge 0 or
// [M+H]+ NaN, which the sequencer classes as impossible precursors).
TEST(MGFInput, KeyLines_WholeNamesAnyCase_BadValuesRefusedWithWarning) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* body;
        const char* title;
        int charge;
        double mh;
        int scan;
        const char* warning;  // expected on stderr; "" for none
    } rows[] = {
        {"TITLE=t\nPEPMASS=400\nTOLU=ppm\nSEQ=PEPK\nETAG=x\nCOMP=y\nCHARGE=3\nTAG=1\n", "t", 3, 3 * 400 - 2 * kProton, -1, ""},
        {"TITLE=t\nCHARGE=3\nCOMP=y\nPEPMASS=400\n", "t", 3, 3 * 400 - 2 * kProton, -1, ""},
        {"title=low\npepmass=400\ncharge=1+\nscans=17-18\n", "low", 1, 400, 17, ""},
        {" TITLE=t\nPEPMASS = 400\nCHARGE=2+ and 3+\n", "t", 2, 2 * 400 - kProton, -1, ""},
        {"TITLE=t\n", "t", 2, nan, -1, "spectrum 1 (t): no PEPMASS line: the precursor is unknown"},
        {"TITLE=t\nPEPMASS=abc\n", "t", 2, nan, -1, "PEPMASS=abc holds no number"},
        {"TITLE=t\nPEPMASS=400\nCHARGE=2-\n", "t", 0, kProton, -1, "CHARGE=2- is a negative charge"},
        {"TITLE=t\nPEPMASS=400\nCHARGE=-2\n", "t", 0, kProton, -1, "CHARGE=-2 is a negative charge"},
        {"TITLE=t\nPEPMASS=400\nCHARGE=4294967298\n", "t", 0, kProton, -1, "CHARGE=4294967298 is out of range"},
        {"TITLE=t\nPEPMASS=400\nCHARGE=\n", "t", 0, kProton, -1, "CHARGE= holds no charge"},
        {"TITLE=t\nPEPMASS=400\nSCANS=99999999999\n", "t", 2, 2 * 400 - kProton, -1, "SCANS=99999999999 is no scan number"},
        {"TITLE=a\vb\fc \t\v\r\nPEPMASS=400\n", "a b c ", 2, 2 * 400 - kProton, -1, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.body);
        CTempDir dir;
        const std::string path = dir.Write("k.mgf", "BEGIN IONS\n" + std::string(r.body) + "100 1\nEND IONS\n");
        testing::internal::CaptureStderr();
        const auto out = ReadAll(path, nullptr, false);
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].m_strTitle, r.title);
        EXPECT_EQ(out[0].m_nCharge, r.charge);
        if (std::isnan(r.mh)) {
            EXPECT_TRUE(std::isnan(out[0].m_lfPrecursorMH));
        } else {
            EXPECT_EQ(out[0].m_lfPrecursorMH, r.mh);
        }
        EXPECT_EQ(out[0].m_nScan, r.scan);
        EXPECT_EQ(out[0].m_vPeaks.size(), 1u);
        if (*r.warning) {
            EXPECT_EQ(err.rfind("[warning]\t" + path + ": spectrum 1", 0), 0u) << err;
            EXPECT_NE(err.find(r.warning), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
}

// A block without PEPMASS used to take the precursor of the block before it
// (within one Browse call, so the outcome hung on the batch size).
TEST(MGFInput, BlockWithoutPepmass_NeverTakesThePreviousPrecursor) {
    CTempDir dir;
    std::string path = dir.Write("d.mgf", Block("first", "400", "") + Block("", "", "CHARGE=1\n") + Block("", "", ""));
    for (unsigned batch : {1u, CInput::ALL}) {
        CMGFInput in;
        in.SetQuiet(true);
        in.Count(path);
        std::vector<CSpectrum> out;
        while (in.Browse(out, batch) > 0) {
        }
        ASSERT_EQ(out.size(), 3u);
        EXPECT_EQ(out[0].m_lfPrecursorMH, 2 * 400.0 - kProton);
        EXPECT_EQ(out[1].m_strTitle, "d.index.1");
        EXPECT_EQ(out[2].m_strTitle, "d.index.2");
        EXPECT_TRUE(std::isnan(out[1].m_lfPrecursorMH));
        EXPECT_TRUE(std::isnan(out[2].m_lfPrecursorMH));
    }
}

// A block without END IONS used to swallow the next block (ten counted,
// nine read, one holding the peaks of two): it now ends at the next BEGIN
// IONS, so every record keeps its number, in batches of any size.
TEST(MGFInput, MissingEndIons_BlockEndsAtNextBegin_NumbersKept) {
    CTempDir dir;
    std::string text = "\xEF\xBB\xBF";  // a byte-order mark must not cost spectrum 1
    for (int i = 0; i < 5; ++i) {
        std::string b = Block("s" + std::to_string(i), "300", std::to_string(100 + i) + " 1\n");
        if (i == 1) b.erase(b.find("END IONS"));
        text += b;
    }
    const std::string path = dir.Write("m.mgf", text);
    for (unsigned batch : {1u, 2u, CInput::ALL}) {
        CMGFInput in;
        testing::internal::CaptureStderr();
        ASSERT_EQ(in.Count(path), 5u);
        std::vector<CSpectrum> out;
        while (in.Browse(out, batch) > 0) {
        }
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(out.size(), 5u);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(out[i].m_strTitle, "s" + std::to_string(i));
            ASSERT_EQ(out[i].m_vPeaks.size(), 1u);
            EXPECT_EQ(out[i].m_vPeaks[0].lfMz, 100.0 + i);
        }
        EXPECT_EQ(err, "[warning]\t" + path +
                           ": spectrum 2 (s1): BEGIN IONS comes before this block's END IONS; the block ends there\n");
        EXPECT_FALSE(in.Failed());
    }
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

TEST(MGFInput, FileEndsInsideBlock_DeliversSpectraBeforeAndFails) {
    CTempDir dir;
    std::string path = dir.Write("h.mgf", Block("a", "300", "") + Block("b", "300", "") + "BEGIN IONS\nTITLE=c\n100 1\nEND\n");
    CMGFInput in;
    EXPECT_EQ(in.Count(path), 3u);
    std::vector<CSpectrum> out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Browse(out, CInput::ALL), 2u);
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[error]\t" + path + ": the file ends inside spectrum 3 (cut short?); that spectrum is skipped, the 2 before it are kept\n");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].m_strTitle, "b");
    EXPECT_TRUE(in.Failed());
}

TEST(MGFInput, UnopenableFile_ZeroSpectraAndFailed) {
    CMGFInput in;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Count("/nonexistent/x.mgf"), 0u);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[error]\tcannot open spectrum file /nonexistent/x.mgf: No such file or directory\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(in.Failed());
}

// A title longer than the old 81,959-character piece used to go on as a
// line of its own (a peak, or END IONS); lines are now whole up to 1 MiB,
// and a longer one is cut with a warning, its rest ignored.
TEST(MGFInput, LongLines_KeptWholeOrCutNeverParsedOn) {
    CTempDir dir;
    const std::string title(81959 - 6, 'a');
    const std::string huge(textscan::CLineReader::MAX_LINE + 10, 'b');
    std::string path = dir.Write("i.mgf", "BEGIN IONS\nTITLE=" + title + "150.5 20END IONS\nPEPMASS=300\n100 1\nEND IONS\n" +
                                              "BEGIN IONS\nTITLE=" + huge + "END IONS\nPEPMASS=300\nEND IONS\n");
    testing::internal::CaptureStderr();
    unsigned int count = 0;
    auto out = ReadAll(path, &count, false);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].m_strTitle, title + "150.5 20END IONS");
    EXPECT_EQ(out[0].m_lfPrecursorMH, 2 * 300 - kProton);
    ASSERT_EQ(out[0].m_vPeaks.size(), 1u);
    EXPECT_EQ(out[0].m_vPeaks[0].lfMz, 100.0);
    EXPECT_EQ(out[1].m_strTitle, huge.substr(0, textscan::CLineReader::MAX_LINE - 6));
    EXPECT_EQ(out[1].m_lfPrecursorMH, 2 * 300 - kProton);
    EXPECT_NE(err.find("spectrum 2: a line longer than 1048576 characters is cut there"), std::string::npos) << err;
}

TEST(MGFInput, FolderGivenAsFile_ZeroSpectraAndFailed) {
    CTempDir dir;
    CMGFInput in;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Count(dir.Path()), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error]\tcannot read spectrum file " + dir.Path() + ": Is a directory\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(in.Failed());
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
