#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../TestUtil.h"
#include "input/MzXMLInput.h"
#include "InputTestUtil.h"
#include "XmlTestUtil.h"

using xmltest::kSource;

TEST(MzXMLInput, ExampleAsMzXML_SameSpectraAsMgf) {
    std::vector<xmlwriter::CSpec> specs;
    const auto want = xmltest::ReadMgf(kSource + "/examples/hcd_example.mgf", &specs);
    struct Row {
        int bits;
        bool zlib;
        double rel;
    } rows[] = {{64, false, 0}, {32, true, 1e-7}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bits);
        CTempDir dir;
        CMzXMLInput in;
        unsigned count = 0;
        auto got = xmltest::ReadBatches(in, dir.Write("x.mzXML", xmlwriter::MzXML(specs, r.bits, r.zlib)), 4, &count);
        EXPECT_EQ(count, 10u);
        EXPECT_FALSE(in.Failed());
        xmltest::ExpectSame(got, want, r.rel, r.rel);
        EXPECT_EQ(got[9].m_nScan, 10);
    }
}

TEST(MzXMLInput, NestedScansAndFields_ReadAsWritten) {
    // An MS1 scan holding its MS2 scans, as instrument converters write them.
    const std::string text =
        "<mzXML><msRun scanCount=\"3\">\n"
        "<scan num=\"5\" msLevel=\"1\" peaksCount=\"0\"><peaks precision=\"32\"></peaks>\n"
        "  <scan num=\"6\" msLevel=\"2\" peaksCount=\"1\" retentionTime=\"PT1M30.5S\">"
        "<precursorMz precursorCharge=\"3\" activationMethod=\"ETD\">400.5</precursorMz>"
        "<peaks precision=\"32\" byteOrder=\"network\" contentType=\"m/z-int\">QsgAAEEgAAA=</peaks>"
        "<nameValue name=\"TITLE\" value=\"a_index=1\"/></scan>\n"
        "  <scan num=\"7\" msLevel=\"2\" peaksCount=\"0\"><scanOrigin parentFileID=\"x\" num=\"1\"/>"
        "<precursorMz>300</precursorMz><peaks precision=\"32\"></peaks></scan>\n"
        "</scan>\n</msRun></mzXML>\n";
    CTempDir dir;
    CMzXMLInput in;
    auto got = xmltest::ReadBatches(in, dir.Write("n.mzXML", text), 1);
    EXPECT_FALSE(in.Failed());
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].m_strTitle, "a");  // "_index=<position>" dropped
    EXPECT_EQ(got[0].m_nScan, 6);
    EXPECT_EQ(got[0].m_nCharge, 3);
    EXPECT_EQ(got[0].m_lfPrecursorMH, 3 * 400.5 - 2 * 1.00727647012);
    EXPECT_EQ(got[0].m_lfRetentionTime, 90.5);
    EXPECT_EQ(got[0].m_strActivationRead, "ETD");
    ASSERT_EQ(got[0].m_vPeaks.size(), 1u);
    EXPECT_EQ(got[0].m_vPeaks[0].lfMz, 100.0);
    EXPECT_EQ(got[0].m_vPeaks[0].lfIntensity, 10.0);
    EXPECT_EQ(got[1].m_strTitle, "n.index.1");
    EXPECT_EQ(got[1].m_nCharge, 2);
    EXPECT_EQ(CMzXMLInput::DurationSeconds("-PT1S"), -1.0);
    EXPECT_EQ(CMzXMLInput::DurationSeconds("PT0.5H"), 1800.0);
    EXPECT_EQ(CMzXMLInput::DurationSeconds("12.5"), -1.0);
}

TEST(MzXMLInput, CutFileOrMissingPeaksCount_KeepsScansBefore) {
    std::vector<xmlwriter::CSpec> specs;
    xmltest::ReadMgf(kSource + "/examples/hcd_example.mgf", &specs);
    const std::string text = xmlwriter::MzXML(specs, 32, true);
    std::string noCount = text;
    noCount.erase(noCount.find("peaksCount", noCount.find("<scan num=\"4\"")), 10);
    const struct {
        std::string text;
        size_t keep;
    } rows[] = {{text.substr(0, text.find("<scan num=\"6\"") + 40), 5}, {noCount, 3}};
    for (const auto& r : rows) {
        CTempDir dir;
        CMzXMLInput in;
        testing::internal::CaptureStderr();
        auto got = xmltest::ReadBatches(in, dir.Write("c.mzXML", r.text), CInput::ALL);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("[error]\t"), std::string::npos);
        EXPECT_TRUE(in.Failed());
        EXPECT_EQ(got.size(), r.keep);
    }
}

TEST(MzXMLInput, SharedConvertedFile_SameAsItsMgf) {
    const std::string dir = kSource + "/../shared/data/real/hcd-mouse/";
    if (!testutil::Exists(dir + "converted/spectra.mzXML")) GTEST_SKIP() << "shared test data not present";
    CMzXMLInput in;
    auto got = xmltest::ReadBatches(in, dir + "converted/spectra.mzXML", 100);
    EXPECT_FALSE(in.Failed());
    xmltest::ExpectSame(got, xmltest::ReadMgf(dir + "spectra.mgf"), 1e-7, 1e-7);
}
