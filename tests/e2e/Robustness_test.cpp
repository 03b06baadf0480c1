// Damaged and absurd inputs, run through the vemra binary: every run ends,
// keeps the results of the good spectra, says what was wrong, and exits with
// the status a script can trust.

#include <gtest/gtest.h>

#include "../TestUtil.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kParams =
    "[meta]\nthread=2\nC=160.03065\nenzyme=trypsin KR C\nHCDIONTYPE=2\nHCDIONTYPE1=b 1 1 0 0\n"
    "HCDIONTYPE2=y 1 0 0 18.0105647\n[file]\nspec_type=MGF\nout_path=out\nspec_path=1\nspec_path1=in.mgf\n";

// A small good spectrum (the b and y ions of PEPTLDEK at charge 1).
const std::string kGood =
    "BEGIN IONS\nTITLE=good\nPEPMASS=472.73\nCHARGE=2+\n98.06 100\n227.10 200\n324.16 150\n425.20 300\n"
    "538.29 250\n653.31 180\n782.36 120\n148.08 90\n263.10 110\n376.19 210\n477.24 260\n574.29 190\n"
    "703.33 140\nEND IONS\n";

testutil::RunResult RunOn(const TempDir& dir, const std::string& mgf, const std::string& params = kParams) {
    WriteFile(dir / "run.param", params);
    WriteFile(dir / "in.mgf", mgf);
    return RunVemra({"run.param"}, dir.path());
}

size_t Records(const std::string& results) { return testutil::ReadRecords(results).size(); }

}  // namespace

TEST(Robustness, DamagedSpectra_GoodOnesSequencedRunEnds) {
    TempDir dir;
    std::string mgf = kGood;
    mgf += "BEGIN IONS\nTITLE=zero and negative intensities\nPEPMASS=472.73\n100 0\n200 -5\n300 nan\nEND IONS\n";
    mgf += "BEGIN IONS\nTITLE=absurd charge\nPEPMASS=472.73\nCHARGE=2147483647\n100 1\n101 2\nEND IONS\n";
    mgf += "BEGIN IONS\nTITLE=absurd masses\nPEPMASS=1e300\n1e300 5\n-7 3\n1e9 4\nEND IONS\n";
    mgf += "BEGIN IONS\nTITLE=" + std::string(200000, 'x') + "\nPEPMASS=abc\n" + std::string(5000, '9') + "\nEND IONS\n";
    mgf += std::string("\x01\x02\xff\xfe garbage \0 more\n", 20);
    mgf += kGood.substr(0, kGood.size() / 2);  // truncated inside a block
    auto r = RunOn(dir, mgf);
    // A file cut short is an input that could not be read whole.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("the file ends inside spectrum 6 (cut short?)"), std::string::npos) << r.err << r.out;
    const std::string results = ReadFile(dir / "out/vemra+/in.txt");
    EXPECT_NE(results.find("S1\tgood\t\n"), std::string::npos);
    EXPECT_NE(results.find("\nP1\t"), std::string::npos);  // the good spectrum has candidates
}

TEST(Robustness, UnreadableSpectrumFile_ClearMessageStatusOne) {
    TempDir dir;
    WriteFile(dir / "run.param", kParams);
    auto r = RunVemra({"run.param"}, dir.path());  // in.mgf does not exist
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("in.mgf"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(dir / "out/vemra+/time.txt"));
}

TEST(Robustness, MalformedParameters_WarnedAndRunEnds) {
    TempDir dir;
    std::string params = kParams;
    params += "[meta]\n";  // a repeated header changes nothing
    params = "garbage line\n\x01\x02\n" + params;
    params.insert(params.find("thread=2"), "thread=four\n");
    params.insert(params.find("C=160"), "frag_tol=20ppm\nmax_node=lots\nW=5000\nHCDIONTYPE3=\n");
    auto r = RunOn(dir, kGood, params);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("thread=four"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("frag_tol=20ppm"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("thread=four: every core is used"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("W=5000 is heavier than any residue"), std::string::npos) << r.err;
    EXPECT_EQ(Records(ReadFile(dir / "out/vemra+/in.txt")), 1u);
}

TEST(Robustness, MalformedAnswerFile_RunEndsWithoutWaiting) {
    TempDir dir;
    WriteFile(dir / "ans.txt", "1 good 1 2 3 x PEPTLDEK y 4 YES\n2 good 1 2 3 x PEPTLDEK y 4 YES\n" +
                                   std::string(3000, 'z') + "\n\x01\x02\n7\n");
    auto r = RunOn(dir, kGood, kParams + "ans_path=ans.txt\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("a pair of lines has two pair numbers, 1 and 2"), std::string::npos) << r.err;
    EXPECT_EQ(Records(ReadFile(dir / "out/vemra+/in.txt")), 1u);
}

// A byte-order mark, small-letter keys, a block without END IONS and one
// without PEPMASS: the good spectra are sequenced under their own record
// numbers and the one without a precursor is counted as impossible.
TEST(Robustness, BrokenMgfBlocks_RecordNumbersKeptImpossiblePrecursorCounted) {
    TempDir dir;
    auto titled = [](const std::string& title) {
        std::string b = kGood;
        return b.replace(b.find("good"), 4, title);
    };
    std::string lower = titled("g4");
    for (const char* key : {"TITLE", "PEPMASS", "CHARGE"}) {
        const size_t at = lower.find(key);
        for (size_t i = 0; key[i]; ++i) lower[at + i] = static_cast<char>(std::tolower(key[i]));
    }
    std::string open = titled("g2");
    open.erase(open.find("END IONS"));
    std::string noMass = titled("g3");
    noMass.erase(noMass.find("PEPMASS"), noMass.find('\n', noMass.find("PEPMASS")) + 1 - noMass.find("PEPMASS"));
    auto r = RunOn(dir, "\xEF\xBB\xBF" + titled("g1") + open + noMass + lower);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("in.mgf: spectrum 2 (g2): BEGIN IONS comes before this block's END IONS"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("in.mgf: spectrum 3 (g3): no PEPMASS line"), std::string::npos) << r.err;
    const std::string results = ReadFile(dir / "out/vemra+/in.txt");
    for (const char* record : {"S1\tg1\t\nP1\t", "S2\tg2\t\nP1\t", "S4\tg4\t\nP1\t"})
        EXPECT_NE(results.find(record), std::string::npos) << record << results;
    EXPECT_EQ(results.find("g3"), std::string::npos);
    const std::string summary = ReadFile(dir / "out/vemra+/in.summary.json");
    EXPECT_NE(summary.find("\"spectra_read\": 4"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\"impossible_precursor\": 1"), std::string::npos) << summary;
}

// One spectrum of a million peaks among ordinary ones: reduced to max_peaks,
// every spectrum sequenced, quickly and in bounded memory.
TEST(Robustness, MillionPeakSpectrum_ReducedEverySpectrumSequenced) {
    TempDir dir;
    std::string mgf = kGood + "BEGIN IONS\nTITLE=huge\nPEPMASS=800.4\nCHARGE=2\n";
    unsigned x = 12345;
    char line[64];
    for (int i = 0; i < 1000000; ++i) {
        x = x * 1103515245u + 12345u;
        std::snprintf(line, sizeof line, "%.4f %u\n", 100.0 + (x >> 8) % 1900000 / 1000.0, 1 + (x >> 4) % 100000);
        mgf += line;
    }
    mgf += "END IONS\n" + kGood;
    const auto r = RunOn(dir, mgf);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("1 spectra reduced to max_peaks peaks"), std::string::npos) << r.err;
    EXPECT_EQ(Records(ReadFile(dir / "out/vemra+/in.txt")), 3u);
}
