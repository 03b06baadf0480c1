#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "../TestUtil.h"
#include "input/MzMLInput.h"
#include "InputTestUtil.h"
#include "XmlTestUtil.h"

using xmltest::kSource;
using xmlwriter::CCoding;
using NP = CArrayEncoding;

namespace {

const std::string kExample = kSource + "/examples/hcd_example.mgf";

std::string ExampleMzML(const CCoding& mz, const CCoding& in, bool indexed = false) {
    std::vector<xmlwriter::CSpec> specs;
    xmltest::ReadMgf(kExample, &specs);
    return xmlwriter::MzML(specs, mz, in, indexed);
}

// Offset of the n-th (0-based) occurrence of what in s.
size_t Nth(const std::string& s, const std::string& what, int n) {
    size_t at = s.find(what);
    for (int i = 0; i < n && at != std::string::npos; ++i) at = s.find(what, at + 1);
    return at;
}

// The first two tab-separated fields of every line of a result file.
std::string PeptideColumns(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        const size_t t1 = line.find('\t');
        out += line.substr(0, t1 == std::string::npos ? t1 : line.find('\t', t1 + 1)) + "\n";
        at = end + 1;
    }
    return out;
}

}  // namespace

TEST(MzMLInput, ExampleInEveryCoding_SameSpectraAsMgf) {
    const auto want = xmltest::ReadMgf(kExample);
    ASSERT_EQ(want.size(), 10u);
    struct Row {
        const char* name;
        CCoding mz, in;
        bool indexed, gz;
        double relMz, relIn, absIn;
    } rows[] = {
        {"64-bit", {64}, {64}, false, false, 0, 0, 0},
        {"64-bit zlib, indexed, gzip file", {64, true}, {64, true}, true, true, 0, 0, 0},
        {"32-bit zlib", {32, true}, {32, true}, false, false, 1e-7, 1e-7, 0},
        {"numpress linear + slof", {64, false, NP::LINEAR}, {64, false, NP::SLOF}, true, false, 1e-9, 5e-4, 0},
        {"numpress linear + pic, zlib", {64, true, NP::LINEAR}, {64, true, NP::PIC}, false, false, 1e-9, 0, 0.5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTempDir dir;
        const std::string text = ExampleMzML(r.mz, r.in, r.indexed);
        const std::string path =
            r.gz ? dir.Write("x.mzML.gz", xmlwriter::Gzip(text)) : dir.Write("x.mzML", text);
        CMzMLInput in;
        ASSERT_EQ(in.Count(path), 10u);
        std::vector<CSpectrum> got;
        // Batches keep the position between calls.
        EXPECT_EQ(in.Browse(got, 3), 3u);
        EXPECT_EQ(in.Browse(got, 3), 3u);
        EXPECT_EQ(in.Browse(got, CInput::ALL), 4u);
        EXPECT_EQ(in.Browse(got, CInput::ALL), 0u);
        EXPECT_FALSE(in.Failed());
        xmltest::ExpectSame(got, want, r.relMz, r.relIn, r.absIn);
    }
}

TEST(MzMLInput, SpectrumFields_ReadAsWritten) {
    using xmlwriter::CSpec;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<CSpec> v(6);
    v[0] = {"ms1", "", 1, 0, 0, 1.0, "", {100, 200}, {1, 2}};
    v[1] = {"", "controllerType=0 controllerNumber=1 scan=42", 2, 500.25, 0, 12.5, "ETD", {100, nan, 300}, {1, 2, 3}};
    v[2] = {"t2_index=7", "index=7", 2, 400.0, 3, -1, "EThcD", {150}, {5}};
    v[3] = {"", "", 2, 300.0, 1, -1, "HCD", {}, {}};
    v[4] = {"t4", "", 3, 300.0, 2, -1, "CID", {1}, {1}};  // MS3: skipped
    v[5] = {"t5", "", 2, 300.0, 2, 60, "CID", {120, 110}, {7, 6}};
    std::string text = xmlwriter::MzML(v, {64}, {32});
    // The last spectrum's time in minutes; the fourth's title as a user parameter.
    const size_t rt = Nth(text, "value=\"60\"", 0);
    text.replace(rt, 10, "value=\"1.5\"");
    const std::string second = "unitAccession=\"UO:0000010\" unitName=\"second\"";
    text.replace(text.find(second, rt), second.size(), "unitAccession=\"UO:0000031\" unitName=\"minute\"");
    const size_t sp3 = Nth(text, "<spectrum ", 3);
    text.insert(text.find('>', sp3) + 1, "<userParam name=\"TITLE\" value=\"from user param\"/>");
    CTempDir dir;
    CMzMLInput in;
    auto got = xmltest::ReadBatches(in, dir.Write("f.mzML", text), 2);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_FALSE(in.Failed());
    // Id as title when none is given; scan from the id; charge 2 by default.
    EXPECT_EQ(got[0].m_strTitle, "controllerType=0 controllerNumber=1 scan=42");
    EXPECT_EQ(got[0].m_nScan, 42);
    EXPECT_EQ(got[0].m_nCharge, 2);
    EXPECT_EQ(got[0].m_lfPrecursorMH, 2 * 500.25 - 1.00727647012);
    EXPECT_EQ(got[0].m_lfRetentionTime, 12.5);
    EXPECT_EQ(got[0].m_strActivationRead, "ETD");
    ASSERT_EQ(got[0].m_vPeaks.size(), 2u);  // the NaN peak is dropped
    EXPECT_EQ(got[0].m_vPeaks[1].lfMz, 300.0);
    // A converter's "_<id>" suffix is dropped; no scan in "index=7".
    EXPECT_EQ(got[1].m_strTitle, "t2");
    EXPECT_EQ(got[1].m_nScan, -1);
    EXPECT_EQ(got[1].m_nCharge, 3);
    EXPECT_EQ(got[1].m_lfPrecursorMH, 3 * 400.0 - 2 * 1.00727647012);
    EXPECT_EQ(got[1].m_lfRetentionTime, -1.0);
    EXPECT_EQ(got[1].m_strActivationRead, "EThcD");
    EXPECT_EQ(got[2].m_strTitle, "from user param");
    EXPECT_TRUE(got[2].m_vPeaks.empty());
    EXPECT_EQ(got[2].m_lfPrecursorMH, 300.0);
    EXPECT_EQ(got[3].m_lfRetentionTime, 90.0);
    EXPECT_EQ(got[3].m_vPeaks[0].lfMz, 120.0);  // file order
    EXPECT_EQ(CMzMLInput::ScanFromId("subscan=3 scan=x"), -1);
}

// Damage to one spectrum's content skips that spectrum only; damage to the
// file (cut, malformed XML) ends the reading there.
TEST(MzMLInput, DamagedFiles_SkipTheSpectrumOrKeepThoseBefore) {
    const std::string plain = ExampleMzML({64}, {32});
    const std::string zlib = ExampleMzML({64, true}, {32, true});
    struct Row {
        const char* name;
        std::string text;
        int skipped;  // the one spectrum skipped, or -1: reading ends
        size_t keep;  // spectra kept when reading ends
    } rows[] = {
        {"cut inside a spectrum", plain.substr(0, Nth(plain, "<spectrum ", 4) + 300), -1, 4},
        {"cut between spectra", plain.substr(0, Nth(plain, "</spectrum>", 5) + 12), -1, 6},
        {"bad base64", std::string(plain).replace(Nth(plain, "<binary>", 4) + 8, 1, "!"), 2, 0},
        {"zlib error", std::string(zlib).replace(Nth(zlib, "<binary>", 5) + 20, 1,
                                                 zlib[Nth(zlib, "<binary>", 5) + 20] == 'A' ? "B" : "A"), 2, 0},
        {"missing attribute", std::string(plain).replace(Nth(plain, "defaultArrayLength", 7), 18, "length"), 7, 0},
        {"arrays of another length", std::string(plain).replace(Nth(plain, "defaultArrayLength=\"", 3) + 20, 0, "1"), 3, 0},
        {"length no data can fill", std::string(zlib).replace(Nth(zlib, "defaultArrayLength=\"", 6) + 20,
                                                              zlib.find('"', Nth(zlib, "defaultArrayLength=\"", 6) + 20) -
                                                                  Nth(zlib, "defaultArrayLength=\"", 6) - 20, "2147483647"), 6, 0},
        {"unclosed element", std::string(plain).erase(Nth(plain, "</binaryDataArrayList>", 1), 22), -1, 1},
        {"lost closing tag", std::string(plain).erase(Nth(plain, "</spectrum>", 8), 11), -1, 8},
        {"gzip file cut", xmlwriter::Gzip(plain).substr(0, xmlwriter::Gzip(plain).size() / 2), -1, 0},
        {"empty file", "", -1, 0},
        {"not XML", "BEGIN IONS\nPEPMASS=500\nEND IONS\n", -1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CTempDir dir;
        const std::string path = dir.Write("d.mzML", r.text);
        CMzMLInput in;
        testing::internal::CaptureStderr();
        auto got = xmltest::ReadBatches(in, path, 4);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(in.Failed());
        EXPECT_EQ(in.Browse(got, CInput::ALL), 0u);
        // One error line naming the file and the damaged element.
        const std::string said = r.skipped >= 0 ? ": spectrum element " + std::to_string(r.skipped) + " (byte "
                                                : ": reading stopped at spectrum element ";
        EXPECT_EQ(err.rfind("[error]\t" + path + said, 0), 0u) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        std::vector<std::string> want;
        for (int i = 1; i <= 10; ++i) want.push_back((i < 10 ? "hcd_example.00" : "hcd_example.0") + std::to_string(i));
        if (r.skipped >= 0) want.erase(want.begin() + r.skipped);
        else want.resize(r.keep);
        EXPECT_EQ(in.Skipped(), r.skipped >= 0 ? 1u : 0u);
        if (std::string(r.name) == "gzip file cut") {
            EXPECT_GT(got.size(), 0u);
            EXPECT_LT(got.size(), 10u);
            continue;
        }
        ASSERT_EQ(got.size(), want.size()) << err;
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].m_strTitle, want[i]);
    }
}

// A claimed length far beyond what the data can hold used to be zero-filled
// before inflating (2^31 values: gigabytes); the output now grows only as
// far as the data inflate.
TEST(MzMLInput, HugeClaimedLength_NoMemoryBeyondTheData) {
    std::vector<unsigned char> bytes(3 << 20);
    unsigned state = 7;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
    const std::vector<unsigned char> packed = xmlwriter::Zlib(bytes);
    const std::string text = CBinaryDecoder::Base64(packed.data(), packed.size());
    CBinaryDecoder decoder;
    std::vector<double> out;
    CArrayEncoding enc;
    enc.nBits = 64;
    enc.bZlib = true;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const std::string why = decoder.Decode(text.data(), text.size(), enc, 2147483647, out);
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(why, "array holds 3145728 bytes, 17179869176 expected");
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 200 * 1024);  // kB
}

TEST(MzMLInput, SharedConvertedFiles_SameAsTheirMgf) {
    const std::string dir = kSource + "/../shared/data/real/hcd-mouse/";
    if (!testutil::Exists(dir + "converted/spectra.mzML")) GTEST_SKIP() << "shared test data not present";
    const auto want = xmltest::ReadMgf(dir + "spectra.mgf");
    struct Row {
        const char* file;
        double relMz, relIn;
    } rows[] = {{"spectra.mzML", 1e-12, 1e-6}, {"spectra.numpress.mzML", 1e-8, 5e-4}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        CMzMLInput in;
        unsigned count = 0;
        auto got = xmltest::ReadBatches(in, dir + "converted/" + r.file, 50, &count);
        EXPECT_EQ(count, want.size());
        EXPECT_FALSE(in.Failed());
        xmltest::ExpectSame(got, want, r.relMz, r.relIn);
    }
}

// The vemra binary on the HCD example written as mzML gives the golden
// result file of the MGF run, byte for byte.
TEST(MzMLInput, EndToEnd_ExampleAsMzML_SameResultAsMgf) {
    const std::string golden = testutil::ReadFile(kSource + "/tests/e2e/golden/hcd_example.txt");
    ASSERT_FALSE(golden.empty());
    // Numpress is lossy (m/z within about 1e-9 relative), so its run is held
    // to the same peptides in the same order; scores may move in the last digit.
    struct Row {
        const char* name;
        CCoding mz, in;
        bool gz, exact;
    } rows[] = {{"64-bit zlib, gzip file", {64, true}, {64, true}, true, true},
                {"numpress linear zlib", {64, true, NP::LINEAR}, {64}, false, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        testutil::TempDir dir;
        const std::string text = ExampleMzML(r.mz, r.in, true);
        const std::string spec = dir / (r.gz ? "hcd_example.mzML.gz" : "hcd_example.mzML");
        testutil::WriteFile(spec, r.gz ? xmlwriter::Gzip(text) : text);
        std::string param = testutil::ReadFile(kSource + "/tests/e2e/params/hcd.param");
        auto set = [&param](const std::string& key, const std::string& value) {
            const size_t at = param.find("\n" + key + "=");
            param.replace(at + 1, param.find('\n', at + 1) - at - 1, key + "=" + value);
        };
        set("spec_path1", spec);
        set("spec_type", "mzml");
        set("out_path", dir.path() + "/out");
        set("ans_path", kSource + "/examples/answers.txt");
        testutil::WriteFile(dir / "run.param", param);
        const auto res = testutil::RunVemra({"run.param"}, dir.path());
        EXPECT_EQ(res.status, 0) << res.out << res.err;
        // A compressed file is named after what it holds.
        const std::string got = testutil::ReadFile(dir / "out/vemra+/hcd_example.txt");
        if (r.exact) EXPECT_EQ(got, golden) << res.out;
        else EXPECT_EQ(PeptideColumns(got), PeptideColumns(golden));
    }
}

TEST(MzMLInput, ParameterGroups_CountAsWrittenWhereReferred) {
    std::vector<xmlwriter::CSpec> specs;
    const auto want = xmltest::ReadMgf(kExample, &specs);
    specs[1].msLevel = 1;  // skipped, its level given by a group
    std::string text = xmlwriter::MzML(specs, {64}, {64});
    auto replaceAll = [&text](const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    };
    replaceAll(xmlwriter::CodingTerms({64}), "<referenceableParamGroupRef ref=\"f64\"/>\n");
    for (int level : {1, 2})
        replaceAll(xmlwriter::Cv("MS:1000511", "ms level", std::to_string(level)),
                   "<referenceableParamGroupRef ref='ms" + std::to_string(level) + "'/>\n");
    text.insert(text.find("<run"), "<referenceableParamGroupList count=\"3\">\n<referenceableParamGroup id=\"f64\">" +
                                       xmlwriter::CodingTerms({64}) + "</referenceableParamGroup>\n" +
                                       "<referenceableParamGroup id=\"ms1\">" + xmlwriter::Cv("MS:1000511", "", "1") +
                                       "</referenceableParamGroup>\n<referenceableParamGroup id=\"ms2\">" +
                                       xmlwriter::Cv("MS:1000511", "", "2") +
                                       "</referenceableParamGroup>\n</referenceableParamGroupList>\n");
    ASSERT_EQ(text.find("MS:1000523\" name=\"float\"/>\n<cvParam cvRef=\"MS\" accession=\"MS:1000576"),
              text.rfind("MS:1000523\" name=\"float\"/>\n<cvParam cvRef=\"MS\" accession=\"MS:1000576"));
    CTempDir dir;
    CMzMLInput in;
    unsigned count = 0;
    auto got = xmltest::ReadBatches(in, dir.Write("g.mzML", text), 4, &count);
    EXPECT_EQ(count, 9u);
    EXPECT_FALSE(in.Failed());
    std::vector<CSpectrum> ms2 = want;
    ms2.erase(ms2.begin() + 1);
    xmltest::ExpectSame(got, ms2, 0, 0);
}

// A parameter-group list opened in a damaged place (here after the run of a
// first document, another document following): the counting pass and the
// reading pass must pass over the same text, and no spectrum before the
// list may be lost.
TEST(MzMLInput, MisplacedGroupList_CountAndReadAgree) {
    std::vector<xmlwriter::CSpec> specs;
    xmltest::ReadMgf(kExample, &specs);
    std::string first = xmlwriter::MzML({specs[0]}, {64}, {64});
    first.erase(first.find("<run"), first.find(">", first.find("<run")) + 1 - first.find("<run"));
    first.insert(first.find("</run>") + 6, "<referenceableParamGroupList count=\"1\">\n");
    const std::string text = first + xmlwriter::MzML(specs, {64}, {64});
    CTempDir dir;
    CMzMLInput in;
    in.SetQuiet(true);
    unsigned count = 0;
    const auto got = xmltest::ReadBatches(in, dir.Write("d.mzML", text), 1, &count);
    EXPECT_EQ(got.size() + in.Skipped(), count);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].m_strTitle, specs[0].title);
}
