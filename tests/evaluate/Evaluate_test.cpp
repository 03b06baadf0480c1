// The evaluate subcommand: its metrics on a tiny case checked by hand, and
// the command as a user runs it (every result format, several runs, the
// failure of results that match no known title).

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "../TestUtil.h"
#include "evaluate/Evaluate.h"
#include "evaluate/EvaluateCommand.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

CEvalPeptide Parse(const std::string& text) {
    CEvalPeptide p;
    EXPECT_TRUE(CEvaluate::ParsePeptide(text, p)) << text;
    return p;
}

}  // namespace

TEST(Evaluate, ExactMatch_ModificationRules_AsDocumented) {
    struct Case { const char* result; const char* truth; bool equal; };
    const Case cases[] = {
        {"PEPTIDEK", "PEPTLDEK", true},                          // I = L
        {"CGHK", "C[+57.021]GHK", true},                         // carbamidomethyl is fixed
        {"M[+15.995]PK", "M[+15.994915]PK", true},               // deltas within 0.01 Da
        {"MPK", "M[+15.994915]PK", false},                       // unmodified never matches a variable mod
        {"M[+15.995]PK", "MPK", false},
        {"[+42.011]-APK", "[+42.010565]-APK", true},
        {"nAPK", "[+42.010565]-APK", true},                      // "n" mark: terminal mod of unknown mass
        {"Q[-17.027]AK", "[-17.026549]-QAK", true},              // N-terminal delta belongs to residue 1
        {"N[+0.984]AK", "D AK", false},
    };
    for (const Case& c : cases) {
        CEvalPeptide truth;
        if (!CEvaluate::ParsePeptide(c.truth, truth)) {
            EXPECT_FALSE(c.equal) << c.truth;  // "D AK" is no peptide
            continue;
        }
        EXPECT_EQ(CEvaluate::ExactMatch(Parse(c.result), truth), c.equal) << c.result << " vs " << c.truth;
    }
}

TEST(Evaluate, Compute_TinyCase_RecallPrecisionAndCurve) {
    // s1: exact. s2: GG for N (prefix masses meet again after GG/N: the
    // residues G, G don't match N, the rest do): 2 of 4 predicted residues
    // match; s3: one residue wrong (K for R): 3 of 4. s4: no result.
    TempDir dir;
    WriteFile(dir / "truth.tsv",
              "title\tpeptide\n"
              "s1\tPEPTIDEK\n"
              "s2\tNAEK\n"
              "s3\tLLAR\n"
              "s4\tAAAK\n");
    WriteFile(dir / "res.txt",
              "S1\ts1\t\nP1\tPEPTLDEK\t10\t\nP2\tPEPTLDKE\t9\t\n\n"
              "S2\ts2\t\nP1\tGGAEK\t30\t\n\n"
              "S3\ts3\t\nP1\tLLAK\t20\t\n\n"
              "S4\ts4\t\n\n");
    CEvaluate ev;
    std::string error;
    ASSERT_TRUE(ev.ReadTruth(dir / "truth.tsv"));
    ASSERT_TRUE(ev.ReadResults(dir / "res.txt", error)) << error;
    const CEvalFigures f = ev.Compute();
    EXPECT_EQ(f.nTruth, 4);
    EXPECT_EQ(f.nWithResult, 3);
    EXPECT_EQ(f.nExact, 1);
    EXPECT_EQ(f.nMass, 1);
    EXPECT_EQ(f.nPredictedAA, 8 + 5 + 4);
    EXPECT_EQ(f.nTruthAA, 8 + 4 + 4 + 4);
    EXPECT_EQ(f.nMatchedAA, 8 + 3 + 3);  // GGAEK: A, E, K match
    // Score order s2 (wrong), s3 (wrong), s1 (right): precision 0, 0, 1/3
    // at coverage 1/4, 2/4, 3/4; area = (1/3) / 4.
    ASSERT_EQ(f.vPrecision.size(), 3u);
    EXPECT_DOUBLE_EQ(f.vPrecision[2], 1.0 / 3);
    EXPECT_DOUBLE_EQ(f.vCoverage[2], 0.75);
    EXPECT_DOUBLE_EQ(f.lfArea, 1.0 / 12);
    // Half of the 4 spectra are covered at the second point. With 7 known
    // peptides and 3 results half is never reached.
    EXPECT_DOUBLE_EQ(f.lfPrecisionAtHalf, 0.0);
    WriteFile(dir / "more.tsv", ReadFile(dir / "truth.tsv") + "s5\tAAK\ns6\tGGK\ns7\tGAK\n");
    CEvaluate fewer;
    ASSERT_TRUE(fewer.ReadTruth(dir / "more.tsv"));
    ASSERT_TRUE(fewer.ReadResults(dir / "res.txt", error)) << error;
    EXPECT_LT(fewer.Compute().lfPrecisionAtHalf, 0.0);
}

TEST(Evaluate, RunLabels_NamesStayApart) {
    struct Case { std::vector<std::string> paths, given, labels; };
    const Case cases[] = {
        {{"out/a/run.txt"}, {}, {"run"}},
        {{"a/x.txt", "b/x.txt"}, {}, {"a/x", "b/x"}},           // the usual comparison: two output folders
        {{"o/x.txt", "o/x.tsv", "o/y.txt"}, {}, {"x.txt", "x.tsv", "y"}},  // one run, two formats
        {{"a/x.txt", "b/x.txt"}, {"new"}, {"new", "b/x"}},      // --label names by position
    };
    for (const Case& c : cases) EXPECT_EQ(RunLabels(c.paths, c.given), c.labels) << c.paths[0];
}

namespace {

// The HCD example sequenced with the recommended settings into dir, in all
// three formats; the truth file of its known peptides beside it.
void SequenceExample(const TempDir& dir) {
    std::string param = ReadFile(VEMRA_SOURCE_DIR "/examples/hcd.param");
    param = std::regex_replace(param, std::regex("=examples/"), std::string("=") + VEMRA_SOURCE_DIR + "/examples/");
    param = testutil::SetKey(param, "out_path", dir.path());
    param = testutil::SetKey(param, "output_format", "native,mztab,tsv");
    WriteFile(dir / "hcd.param", param);
    ASSERT_EQ(RunVemra({"hcd.param"}, dir.path()).status, 0);
    std::string truth;
    std::istringstream answers(ReadFile(VEMRA_SOURCE_DIR "/examples/answers.txt"));
    for (std::string line; std::getline(answers, line);) {
        std::istringstream f(line);
        std::string pair, title, a, b, c, d, peptide;
        f >> pair >> title >> a >> b >> c >> d >> peptide;
        if (title.rfind("hcd_", 0) == 0) truth += title + "\t" + peptide + "\n";
    }
    WriteFile(dir / "truth.tsv", truth);
}

}  // namespace

TEST(Evaluate, Command_EveryFormatGivesTheSameFigures) {
    TempDir dir;
    SequenceExample(dir);
    const testutil::RunResult native = RunVemra({"evaluate", "vemra+/hcd_example.txt", "truth.tsv"}, dir.path());
    ASSERT_EQ(native.status, 0) << native.err;
    EXPECT_NE(native.err.find("[info]\t10 of 10 known spectra have a result"), std::string::npos) << native.err;
    EXPECT_NE(native.out.find("spectra with a result\t10\n"), std::string::npos) << native.out;
    for (const char* table : {"vemra+/hcd_example.tsv", "vemra+/hcd_example.mztab"}) {
        const testutil::RunResult r = RunVemra({"evaluate", "-r", table, "--truth", "truth.tsv"}, dir.path());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, native.out) << table;
    }
}

TEST(Evaluate, Command_TwoRunsPerSpectrumAndNoMatchingTitles) {
    TempDir dir;
    SequenceExample(dir);
    // A second "run" whose rank 1 is wrong for one spectrum (and carries no
    // confidence, so its score orders the curve).
    WriteFile(dir / "other.txt",
              "S1\thcd_example.001\t\nP1\tLVNELTEFKA\t12\t\n\nS2\thcd_example.002\t\nP1\tYLYELAR\t9\t\n\n");
    const testutil::RunResult two = RunVemra({"evaluate", "vemra+/hcd_example.txt", "other.txt", "truth.tsv", "--label",
                                              "engine", "--plot", "c.svg", "--per-spectrum", "p.tsv"}, dir.path());
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_NE(two.out.find("results\tengine\tvemra+/hcd_example.txt\n"), std::string::npos) << two.out;
    EXPECT_NE(two.out.find("results\tother\tother.txt\n"), std::string::npos) << two.out;
    EXPECT_NE(two.err.find("other: 2 of 10 known spectra have a result"), std::string::npos) << two.err;
    const std::string svg = ReadFile(dir / "c.svg");
    size_t curves = 0;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) ++curves;
    EXPECT_EQ(curves, 2u);
    EXPECT_NE(svg.find(">engine: area"), std::string::npos);
    EXPECT_NE(svg.find(">other: area"), std::string::npos);
    EXPECT_NE(svg.find("N = 10 spectra with a known peptide"), std::string::npos);
    // The per-spectrum table: a row per known spectrum and run; the other
    // run's rows: one wrong, one right, eight without a result.
    const std::string table = ReadFile(dir / "p.tsv");
    EXPECT_EQ(table.rfind("run\ttitle\ttruth\tprediction\tcorrect\tconfidence\n", 0), 0u);
    EXPECT_NE(table.find("other\thcd_example.001\tLVNELTEFAK\tLVNELTEFKA\t0\t12\n"), std::string::npos) << table;
    EXPECT_NE(table.find("other\thcd_example.002\tYLYELAR\tYLYELAR\t1\t9\n"), std::string::npos) << table;
    EXPECT_NE(table.find("other\thcd_example.010\tVPQVSTPTLVEVSR\t\t0\t\n"), std::string::npos) << table;
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 21);

    // Results of other spectra used to print zeros and exit 0.
    WriteFile(dir / "wrong.tsv", "x.1\tPEPTIDE\n");
    const testutil::RunResult none = RunVemra({"evaluate", "vemra+/hcd_example.txt", "wrong.tsv"}, dir.path());
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("[error]\tnone of the 1 titles of wrong.tsv has a record"), std::string::npos) << none.err;
    EXPECT_EQ(RunVemra({"evaluate", "vemra+/hcd_example.txt"}, dir.path()).status, 2);
}
