// End-to-end: the vemra binary on the examples (compared with golden result
// files) and, when the shared test data is present, on real and simulated
// spectra with known peptides.

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "../TestUtil.h"
#include "output/ResultReader.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::RunVemra;
using testutil::SetKey;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSource = VEMRA_SOURCE_DIR;


// A parameter file (name relative to the project) with its relative example
// paths made absolute, writing into dir, with the given thread count.
std::string ExampleParams(const std::string& name, const std::string& dir, int threads) {
    std::string text = ReadFile(kSource + "/" + name);
    text = std::regex_replace(text, std::regex("=examples/"), "=" + kSource + "/examples/");
    text = SetKey(text, "thread", std::to_string(threads));
    text = SetKey(text, "out_path", dir + "/out");
    return text;
}

struct Ranked {
    std::map<std::string, std::string> top;  // title -> rank-1 peptide
    size_t records = 0;
};

Ranked ParseResults(const std::string& text) {
    Ranked r;
    std::vector<CResultRecord> records;
    std::string error;
    CResultReader reader;
    EXPECT_TRUE(reader.ReadText(text, records, error)) << error;
    EXPECT_TRUE(reader.m_vProblems.empty()) << reader.m_vProblems.front();
    r.records = records.size();
    for (const CResultRecord& rec : records) {
        if (rec.vPeptides.empty() || rec.vPeptides[0].nRank != 1) continue;
        std::string pep = rec.vPeptides[0].strPeptide;
        if (!pep.empty() && pep.front() == 'n') pep.erase(0, 1);
        if (!pep.empty() && pep.back() == 'c') pep.pop_back();
        r.top[rec.strTitle] = pep;
    }
    return r;
}

// Peptides compare with I and L equal and modifications written as [..] dropped.
std::string Canonical(std::string p) {
    p = std::regex_replace(p, std::regex("\\[[^\\]]*\\]"), "");
    for (char& ch : p)
        if (ch == 'I') ch = 'L';
    return p;
}

// title -> peptide from a two-or-more-column TSV (header line skipped if it has no peptide letters).
std::map<std::string, std::string> ReadTruth(const std::string& path) {
    std::map<std::string, std::string> truth;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t a = line.find('\t');
        if (a == std::string::npos) continue;
        size_t b = line.find('\t', a + 1);
        truth[line.substr(0, a)] = line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
    }
    return truth;
}

size_t CountCorrect(const Ranked& r, const std::map<std::string, std::string>& truth) {
    size_t n = 0;
    for (const auto& [title, pep] : r.top) {
        auto it = truth.find(title);
        if (it != truth.end() && Canonical(it->second) == Canonical(pep)) ++n;
    }
    return n;
}

// The result file, checked against the summary beside it: every record is
// accounted for (a pair counts as two spectra and has one record).
std::string ReadChecked(const std::string& path) {
    const std::string text = ReadFile(path);
    const std::string json = ReadFile(path.substr(0, path.size() - 4) + ".summary.json");
    std::smatch m;
    long long withRecord = 0;
    for (const char* key : {"sequenced", "no_peaks_after_cleaning", "no_candidate"})
        if (std::regex_search(json, m, std::regex(std::string("\"") + key + "\": ([0-9]+)"))) withRecord += std::stoll(m[1]);
    const long long pairs = std::regex_search(json, m, std::regex("\"pairs\": ([0-9]+)")) ? std::stoll(m[1]) : 0;
    EXPECT_EQ(static_cast<long long>(ParseResults(text).records), withRecord - pairs) << json;
    return text;
}

// Runs one example with the given thread count (and batch size, and shard
// "K/N" with its own output name); returns the dataset result text. The
// summary beside it must account for every record.
std::string RunExample(const std::string& param, const std::string& resultName, int threads, int batch = 10000,
                       const std::string& shard = "") {
    TempDir dir;
    WriteFile(dir / "run.param", SetKey(ExampleParams(param, dir.path(), threads), "batch_size", std::to_string(batch)));
    std::vector<std::string> args = {"run.param"};
    if (!shard.empty()) args = {"run.param", "vemra+", "--shard", shard};
    auto r = RunVemra(args, dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string path = dir / ("out/vemra+/" + resultName);
    EXPECT_TRUE(Exists(path)) << r.out;
    return ReadChecked(path);
}

// param: relative to the project; golden: relative to tests/e2e/golden.
void CheckGolden(const std::string& param, const std::string& resultName, const std::string& goldenName) {
    const std::string golden = kSource + "/tests/e2e/golden/" + goldenName;
    const std::string one = RunExample(param, resultName, 1);
    if (getenv("VEMRA_UPDATE_GOLDEN")) WriteFile(golden, one);
    ASSERT_TRUE(Exists(golden)) << golden;
    EXPECT_EQ(one, ReadFile(golden)) << "result differs from " << golden;
    EXPECT_EQ(RunExample(param, resultName, 2), one);
    EXPECT_EQ(RunExample(param, resultName, 8), one);
    // Read and sequenced in batches of any size: the same file.
    EXPECT_EQ(RunExample(param, resultName, 2, 1), one);
    EXPECT_EQ(RunExample(param, resultName, 2, 7), one);
    // Three shards joined in order: the whole run's file.
    std::string joined;
    for (const char* shard : {"1/3", "2/3", "3/3"}) joined += RunExample(param, resultName, 2, 10000, shard);
    EXPECT_EQ(joined, one);
}

}  // namespace

// The design's settings (tests/e2e/params: the examples without the keys
// added for accuracy) keep giving the design's results.
TEST(EndToEnd, HcdExample_MatchesGoldenWithOneTwoAndEightThreads) {
    CheckGolden("tests/e2e/params/hcd.param", "hcd_example.txt", "hcd_example.txt");
}
TEST(EndToEnd, EtdExample_MatchesGoldenWithOneTwoAndEightThreads) {
    CheckGolden("tests/e2e/params/etd.param", "etd_example.txt", "etd_example.txt");
}
TEST(EndToEnd, PairedExample_MatchesGoldenWithOneTwoAndEightThreads) {
    CheckGolden("tests/e2e/params/paired.param", "paired_hcd.txt", "paired_hcd.txt");
}

// The recommended settings (examples/*.param) against their own golden files.
TEST(EndToEnd, RecommendedExamples_MatchGoldenWithOneTwoAndEightThreads) {
    CheckGolden("examples/hcd.param", "hcd_example.txt", "recommended/hcd_example.txt");
    CheckGolden("examples/etd.param", "etd_example.txt", "recommended/etd_example.txt");
    CheckGolden("examples/paired.param", "paired_hcd.txt", "recommended/paired_hcd.txt");
}

// Rank-based node weights do not depend on the intensities' unit; and
// scaling to a 20 ppm fragment tolerance is the design itself.
TEST(EndToEnd, RecommendedHcd_IntensitiesTimesPowersOfTen_SameResults) {
    const std::string base = RunExample("examples/hcd.param", "hcd_example.txt", 1);
    const std::string mgf = ReadFile(kSource + "/examples/hcd_example.mgf");
    for (const char* exponent : {"e-3", "e4"}) {
        // Every peak line "m/z intensity" gets its intensity times 10^k.
        const std::string scaled =
            std::regex_replace(mgf, std::regex("(\n[0-9.]+ [0-9.]+)(?=\r?\n)"), std::string("$1") + exponent);
        ASSERT_NE(scaled, mgf);
        TempDir dir;
        WriteFile(dir / "scaled.mgf", scaled);
        std::string text = SetKey(ExampleParams("examples/hcd.param", dir.path(), 1), "spec_path1", dir / "scaled.mgf");
        WriteFile(dir / "run.param", text);
        auto r = RunVemra({"run.param"}, dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadFile(dir / "out/vemra+/scaled.txt"), base) << exponent;
    }
    TempDir dir;
    WriteFile(dir / "run.param",
              SetKey(ExampleParams("tests/e2e/params/hcd.param", dir.path(), 1), "scale_to_frag_tol", "1"));
    auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out/vemra+/hcd_example.txt"), ReadFile(kSource + "/tests/e2e/golden/hcd_example.txt"));
}

// The example spectra with their precursors written one 13C heavier, as an
// instrument that picked the 13C peak writes them: the complementary pairs
// open the second reading, so the same first peptides come out; without
// isotope_error they cannot complete.
// On the spectra as they are, the results do not change (the golden file
// above is the same with isotope_error=0).
TEST(EndToEnd, RecommendedHcd_PrecursorOne13CHeavier_SamePeptidesThroughTheComplementaryPairs) {
    const Ranked base = ParseResults(RunExample("examples/hcd.param", "hcd_example.txt", 1));
    std::string mgf = ReadFile(kSource + "/examples/hcd_example.mgf");
    std::smatch m;
    std::string shifted, rest = mgf;
    while (std::regex_search(rest, m, std::regex("PEPMASS=([0-9.]+)\r?\nCHARGE=([0-9]+)"))) {
        const double z = std::stod(m[2].str());
        char mz[64];
        std::snprintf(mz, sizeof mz, "%.6f", std::stod(m[1].str()) + 1.0033548 / z);
        shifted += m.prefix().str() + "PEPMASS=" + mz + "\nCHARGE=" + m[2].str();
        rest = m.suffix().str();
    }
    shifted += rest;
    TempDir dir;
    WriteFile(dir / "heavy.mgf", shifted);
    const std::string text = SetKey(ExampleParams("examples/hcd.param", dir.path(), 2), "spec_path1", dir / "heavy.mgf");
    for (const char* key : {"1", "0"}) {
        WriteFile(dir / "run.param", SetKey(text, "isotope_error", key));
        ASSERT_EQ(RunVemra({"run.param", key}, dir.path()).status, 0);
        const Ranked heavy = ParseResults(ReadFile(dir / ("out/" + std::string(key) + "/heavy.txt")));
        size_t same = 0;
        for (const auto& [title, pep] : base.top) same += heavy.top.count(title) && heavy.top.at(title) == pep;
        if (key[0] == '1') {
            EXPECT_GE(same, base.top.size() - 1) << "of " << base.top.size();
        } else {
            EXPECT_EQ(same, 0u);
        }
    }
}

namespace {

// Runs a data set of the shared test data; returns the dataset result text.
std::string RunShared(const std::vector<std::string>& specPaths, const std::string& type, const std::string& extra,
                      int threads, const std::string& resultName) {
    TempDir dir;
    std::string text = "[meta]\n" + extra + "thread=" + std::to_string(threads) + "\n[file]\nspec_type=" + type +
                       "\nout_path=" + dir.path() + "\nspec_path=" + std::to_string(specPaths.size()) + "\n";
    for (size_t i = 0; i < specPaths.size(); ++i)
        text += "spec_path" + std::to_string(i + 1) + "=" + specPaths[i] + "\n";
    WriteFile(dir / "run.param", text);
    auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return ReadChecked(dir / ("vemra+/" + resultName));
}

const std::string kHcdIons =
    "HCDIONTYPE=4\nHCDIONTYPE1=b 1 1 0 0\nHCDIONTYPE2=y 1 0 0 18.0105647\nHCDIONTYPE3=b 2 1 0 0\n"
    "HCDIONTYPE4=y 2 0 0 18.0105647\n";
const std::string kEtdIons =
    "ETDIONTYPE=4\nETDIONTYPE1=c 1 1 0 17.026549105\nETDIONTYPE2=z 1 0 0 1.9929378\n"
    "ETDIONTYPE3=c 2 1 0 17.026549105\nETDIONTYPE4=z 2 0 0 1.9929378\n";
const std::string kCommon = "C=160.03065\nenzyme=trypsin KR C\nmass_upper_bound=5000\n";

}  // namespace

TEST(EndToEnd, RealHcdMouse_SameResultsWithOneAndTwoThreads) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "shared test data absent";
    const std::string mgf = data + "/real/hcd-mouse/spectra.mgf";
    const std::string one = RunShared({mgf}, "MGF", kCommon + kHcdIons, 1, "spectra.txt");
    EXPECT_EQ(RunShared({mgf}, "MGF", kCommon + kHcdIons, 2, "spectra.txt"), one);
    Ranked r = ParseResults(one);
    size_t correct = CountCorrect(r, ReadTruth(data + "/real/hcd-mouse/truth.tsv"));
    std::cout << "[ figures ] real HCD mouse: " << correct << " of " << r.records << " records correct at rank 1\n";
    EXPECT_GT(r.records, 0u);
}

TEST(EndToEnd, SimulatedSets_KnownPeptidesAtRankOne) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "shared test data absent";
    const std::string sim = data + "/simulated";
    struct Case {
        std::string name;
        std::vector<std::string> files;
        std::string extra;
        std::string result;
        size_t floor;  // regression floor of correct rank-1 peptides
    };
    const std::vector<Case> cases = {
        {"hcd100", {sim + "/hcd100_hcd.mgf"}, kCommon + kHcdIons, "hcd100_hcd.txt", 40},
        {"etd100", {sim + "/etd100_etd.mgf"}, kCommon + kEtdIons + "activation_type=ETD\n", "etd100_etd.txt", 25},
        {"paired100", {sim + "/paired100_hcd.mgf", sim + "/paired100_etd.mgf"}, kCommon + kHcdIons + kEtdIons,
         "paired100_hcd.txt", 60},
    };
    for (const Case& c : cases) {
        Ranked r = ParseResults(RunShared(c.files, "MGF", c.extra, 2, c.result));
        size_t correct = CountCorrect(r, ReadTruth(sim + "/" + c.name + "_truth.tsv"));
        std::cout << "[ figures ] " << c.name << ": " << correct << " of " << r.records
                  << " records correct at rank 1\n";
        EXPECT_GE(correct, c.floor) << c.name;
    }
}

TEST(EndToEnd, RealDtaFolderAndMs2File_SequencedSameWithOneAndTwoThreads) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "shared test data absent";
    const std::string dta = data + "/real/hcd-mouse/dta";
    const std::string one = RunShared({dta}, "DTA", kCommon + kHcdIons, 1, "dta.txt");
    EXPECT_EQ(RunShared({dta}, "DTA", kCommon + kHcdIons, 2, "dta.txt"), one);
    Ranked r = ParseResults(one);
    // The same 128 spectra as the MGF file, titled by their lower-cased file names.
    EXPECT_EQ(r.records, 128u);
    size_t correct = CountCorrect(r, ReadTruth(data + "/real/hcd-mouse/truth_dta.tsv"));
    std::cout << "[ figures ] real HCD mouse as DTA: " << correct << " of " << r.records
              << " records correct at rank 1\n";

    // Low-resolution ion-trap spectra: a fragment tolerance of 0.5 Da.
    const std::string ms2 = data + "/real/cid-yeast-ms2/spectra.ms2";
    const std::string lowRes = kCommon + kHcdIons + "frag_tol=0.5\nfrag_tol_type_ppm=0\npep_tol=3\npep_tol_type_ppm=0\n";
    const std::string m1 = RunShared({ms2}, "MS2", lowRes, 1, "spectra.txt");
    EXPECT_EQ(RunShared({ms2}, "MS2", lowRes, 2, "spectra.txt"), m1);
    Ranked m = ParseResults(m1);
    EXPECT_GT(m.records, 0u);
    std::cout << "[ figures ] real CID yeast MS2: " << CountCorrect(m, ReadTruth(data + "/real/cid-yeast-ms2/truth.tsv"))
              << " of " << m.records << " records correct at rank 1\n";
}
