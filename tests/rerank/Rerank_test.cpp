// The re-ranking model: a model file that cannot be used refuses the run and
// names its line; a linear model file of the first version still ranks as it
// did; vemra train gives the same files every time, from the spectra or from
// the rows it kept, and the model ranks the same whatever the threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "../TestUtil.h"
#include "driver/ParamTemplate.h"
#include "rerank/Features.h"
#include "rerank/RerankModel.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSrc = VEMRA_SOURCE_DIR;

// The recommended HCD settings on the example spectra, with the given
// re-ranking model and thread count.
std::string HcdParams(const std::string& model, int threads, const std::string& answers = "") {
    CTemplateFiles files;
    files.vSpecPaths = {kSrc + "/examples/hcd_example.mgf"};
    files.strOutPath = "out";
    files.strAnsPath = answers;
    std::string p = ParamTemplate("hcd", &files);
    auto replace = [&p](const std::string& from, const std::string& to) {
        const size_t at = p.find(from);
        if (at != std::string::npos) p.replace(at, from.size(), to);
    };
    const size_t at = p.find("rerank_model=");
    if (at != std::string::npos) p.replace(at, p.find('\n', at) - at, "rerank_model=" + model);
    replace("thread=0", "thread=" + std::to_string(threads));
    return p + "output_format=native,mztab,tsv\n";
}

// title<TAB>peptide of the example's HCD answers, every other one (parity
// 0 or 1).
std::string ExampleTruth(int parity) {
    std::istringstream in(ReadFile(kSrc + "/examples/answers.txt"));
    std::string out, line;
    for (int k = 0; std::getline(in, line);) {
        std::istringstream f(line);
        std::string w[10];
        for (auto& x : w) f >> x;
        if (w[7] == "hcd" && k++ % 2 == parity) out += w[1] + "\t" + w[6] + "\n";
    }
    return out;
}

// A small version 2 model: two features, an empty residue-pair table, a flat
// fragment model, a ranker of one split and a calibration of one leaf.
std::string SmallBoostedModel() {
    CRerankModel m;
    m.SetFeatures({"score_gap", "intensity_cosine"});
    m.SetPairs(CResiduePairs());
    m.AddFragments(CFragmentModel(EFragmentKind::HCD));
    CBoostedTrees ranker, calibration;
    ranker.Reset({"score_gap", "intensity_cosine"}, CBoostedTrees::EObjective::RankSoftmax, 0.0);
    std::string error;
    std::vector<CBoostedTrees::SNode> tree(3);
    tree[0].nFeature = 1;
    tree[0].lfThreshold = 0.5;
    tree[0].nLeft = 1;
    tree[0].nRight = 2;
    tree[1].lfValue = -1.0;
    tree[2].lfValue = 1.0;
    EXPECT_TRUE(ranker.AddTree(tree, error)) << error;
    calibration.Reset(m.CalibrationInputs(), CBoostedTrees::EObjective::Logistic, 0.5);
    m.SetRanker(ranker, calibration);
    return m.Text("test");
}

// "line N: " of the first line of text holding what, or of a later line.
std::string LineOf(const std::string& text, const std::string& what, int later = 0) {
    const size_t at = text.find(what);
    const long n = 1 + later + std::count(text.begin(), text.begin() + static_cast<long>(at), '\n');
    return "line " + std::to_string(n) + ": ";
}

}  // namespace

TEST(Rerank, DamagedMissingOrOtherVersionModel_RefusesTheRunNamingTheLine) {
    CRerankModel builtin;
    std::string error;
    ASSERT_TRUE(builtin.Load(CRerankModel::kBuiltinHcd, error)) << error;
    ASSERT_TRUE(builtin.Load(CRerankModel::kBuiltinHcdBoosted, error)) << error;
    EXPECT_EQ(builtin.Version(), 2);
    const std::string linear = ReadFile(kSrc + "/tests/rerank/golden/linear_v1.model");
    const std::string boosted = SmallBoostedModel();
    const std::string fallback = boosted + "fallback detection_likelihood -0.75 " +
                                 std::to_string(std::count(linear.begin(), linear.end(), '\n')) + "\n" + linear;
    auto edit = [](const std::string& text, const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    struct Case {
        const char* szName;
        std::string strModel;  // file text; empty: no file
        std::string strError;  // expected in stderr; empty: the run works
    };
    const Case cases[] = {
        {"missing", "", "rerank_model=m.model: cannot open the model file"},
        {"bad header", edit(linear, "vemra rerank model 1", "weights 1"), "line 1: not a re-ranking model"},
        {"other version", edit(boosted, "vemra rerank model 2", "vemra rerank model 3"), "line 1: re-ranking model "
                                                                                          "version \"3\""},
        {"v1 bad number", edit(linear, "score_gap ", "score_gap x"), "is not a number"},
        {"v1 wrong feature count", edit(linear, "features 13", "features 10"), "expected \"features 13\""},
        {"v1 not finite", edit(linear, "margin ", "margin inf"), "is not a number"},
        {"v1 cut short", linear.substr(0, linear.find("calibration")), "\"calibration 16\" is missing"},
        {"v2 unknown feature", edit(boosted, "\nintensity_cosine\n", "\nintensity_kosine\n"),
         LineOf(boosted, "intensity_cosine") + "\"intensity_kosine\" is no feature"},
        {"v2 damaged fragment table", edit(boosted, "table pair 23 23\n0 ", "table pair 23 23\nx "),
         LineOf(boosted, "table pair 23 23", 1) + "table pair: \"x\" is not a number"},
        {"v2 trees over other features", edit(boosted, "features 2\nscore_gap\nintensity_cosine\nbase",
                                              "features 2\nscore_gap\nion_share\nbase"),
         "feature 1 is \"ion_share\", this program's is \"intensity_cosine\""},
        {"v2 no calibration", boosted.substr(0, boosted.find("calibration\n")), "\"calibration\" is missing"},
        {"v2 fallback by an unknown feature", edit(fallback, "fallback detection_likelihood", "fallback detection"),
         LineOf(fallback, "fallback ") + "expected \"fallback FEATURE VALUE LINES\""},
        {"v2 fallback cut short", fallback.substr(0, fallback.rfind("margin")), "the fallback model ends early"},
        {"v2 damaged fallback", edit(fallback, "score_gap ", "score_gap x"), "the fallback model from line"},
        {"v2 fallback before the calibration", edit(fallback, "calibration\n", "fallback x 1 1\n"),
         "the fallback comes after the calibration"},
        {"v1 beside the parameter file", linear, ""},
        {"v2 with a fallback beside the parameter file", fallback, ""},
        {"v2 beside the parameter file", boosted, ""},
    };
    for (const Case& k : cases) {
        TempDir dir;
        // The parameter file lives in a folder of its own: a relative model
        // path is found beside it, not in the folder the run starts from.
        WriteFile(dir / "p/run.param", HcdParams("m.model", 1));
        if (!k.strModel.empty()) WriteFile(dir / "p/m.model", k.strModel);
        const auto r = RunVemra({"p/run.param"}, dir.path());
        if (k.strError.empty()) {
            EXPECT_EQ(r.status, 0) << k.szName << r.err;
            continue;
        }
        EXPECT_EQ(r.status, 1) << k.szName;
        EXPECT_NE(r.err.find("[error]"), std::string::npos) << k.szName << r.err;
        EXPECT_NE(r.err.find(k.strError), std::string::npos) << k.szName << ": " << k.strError << "\n" << r.err;
        EXPECT_FALSE(testutil::Exists(dir / "out")) << k.szName;
    }
    // Named by an absolute path, the damaged file is named once: the key's
    // value is the path the loader read.
    TempDir dir;
    const std::string model = dir / "m.model";
    WriteFile(dir / "m.model", edit(linear, "vemra rerank model 1", "weights 1"));
    WriteFile(dir / "run.param", HcdParams(model, 1));
    const auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("rerank_model=" + model + ": line 1: not a re-ranking model"), std::string::npos) << r.err;
}

// Line ends of another system: "\r\n" throughout reads as "\n". The lines
// of a fragment model or fallback block were always handed on with one
// '\r' dropped and dropped one again when read, so there even "\r\r\n" is
// a line end.
TEST(Rerank, CarriageReturnsBeforeLineEnds_SameModel) {
    const std::string linear = ReadFile(kSrc + "/tests/rerank/golden/linear_v1.model");
    const std::string plain = SmallBoostedModel() + "fallback detection_likelihood -0.75 " +
                              std::to_string(std::count(linear.begin(), linear.end(), '\n')) + "\n" + linear;
    // end after every line, or (blocks) after the lines of the blocks only.
    auto ends = [&plain](const std::string& end, bool blocks) {
        std::istringstream in(plain);
        std::string t, line;
        for (long inBlock = 0; std::getline(in, line);) {
            t += line + (!blocks || inBlock-- > 0 ? end : "") + "\n";
            if (blocks && (line.rfind("fragment_model ", 0) == 0 || line.rfind("fallback ", 0) == 0))
                inBlock = std::stol(line.substr(line.rfind(' ')));
        }
        return t;
    };
    CRerankModel m;
    std::string error;
    ASSERT_TRUE(m.Parse(plain, error)) << error;
    const std::string text = m.Text("");
    for (const std::string& variant : {ends("\r", false), ends("\r", true), ends("\r\r", true)}) {
        CRerankModel read;
        ASSERT_TRUE(read.Parse(variant, error)) << error;
        EXPECT_EQ(read.Text(""), text);
    }
}

// The linear model of version 1 (a frozen copy of the shipped builtin:hcd),
// named as a file, ranks exactly as the built-in one does.
TEST(Rerank, LinearModelFile_RanksAsBuiltin) {
    TempDir dir;
    const std::string answers = kSrc + "/examples/answers.txt";
    WriteFile(dir / "file.param", HcdParams(kSrc + "/tests/rerank/golden/linear_v1.model", 2, answers));
    WriteFile(dir / "builtin.param", HcdParams("builtin:hcd", 2, answers));
    ASSERT_EQ(RunVemra({"file.param", "file"}, dir.path()).status, 0);
    ASSERT_EQ(RunVemra({"builtin.param", "builtin"}, dir.path()).status, 0);
    const std::string file = ReadFile(dir / "out/file/hcd_example.txt");
    EXPECT_FALSE(file.empty());
    EXPECT_EQ(file, ReadFile(dir / "out/builtin/hcd_example.txt"));
}

// A boosted model whose fallback always ranks gives what the linear model
// gives alone, and not what its trees give; the fallback survives writing
// and reading the file.
TEST(Rerank, Fallback_RanksExactlyAsTheLinearModelWhereItIsChosen) {
    std::string error;
    CRerankModel fallback, plain;
    ASSERT_TRUE(fallback.Parse(ReadFile(kSrc + "/tests/rerank/golden/linear_v1.model"), error)) << error;
    ASSERT_TRUE(plain.Load(CRerankModel::kBuiltinHcdBoosted, error)) << error;
    auto gated = [&](double below) {
        CRerankModel m = plain;
        m.SetFallback(fallback, CFeatures::IndexOf("detection_likelihood"), below);
        return m.Text("");
    };
    CRerankModel read;
    ASSERT_TRUE(read.Parse(gated(-0.75), error)) << error;
    EXPECT_EQ(read.Text(""), gated(-0.75));
    ASSERT_NE(read.Fallback(), nullptr);
    EXPECT_EQ(read.GateBelow(), -0.75);

    TempDir dir;
    // name: a run whose model is the text given, or (empty text) the
    // built-in model of that name.
    auto run = [&](const std::string& name, const std::string& model, const std::string& text) {
        if (!text.empty()) WriteFile(dir / (name + ".model"), text);
        WriteFile(dir / (name + ".param"), HcdParams(text.empty() ? model : dir / (name + ".model"), 2));
        EXPECT_EQ(RunVemra({name + ".param", name}, dir.path()).status, 0) << name;
        return ReadFile(dir / ("out/" + name + "/hcd_example.txt"));
    };
    const std::string always = run("always", "", gated(1e300)), never = run("never", "", gated(-1e300));
    EXPECT_EQ(always, run("linear", CRerankModel::kBuiltinHcd, ""));
    EXPECT_NE(always, never);
}

// The shipped boosted model ranks the example alike with one and two
// threads and gives every first peptide a probability.
TEST(Rerank, ShippedBoostedModel_ThreadsAgree) {
    TempDir dir;
    WriteFile(dir / "one.param", HcdParams(CRerankModel::kBuiltinHcdBoosted, 1));
    WriteFile(dir / "two.param", HcdParams(CRerankModel::kBuiltinHcdBoosted, 2));
    ASSERT_EQ(RunVemra({"one.param", "one"}, dir.path()).status, 0);
    ASSERT_EQ(RunVemra({"two.param", "two"}, dir.path()).status, 0);
    const std::string one = ReadFile(dir / "out/one/hcd_example.txt");
    EXPECT_EQ(one, ReadFile(dir / "out/two/hcd_example.txt"));
    std::istringstream in(one);
    int firsts = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("P1\t", 0) != 0) continue;
        std::istringstream f(line);
        std::string field[4];
        for (auto& x : field) std::getline(f, x, '\t');
        const double p = std::stod(field[3]);
        EXPECT_TRUE(p > 0.0 && p < 1.0) << line;
        ++firsts;
    }
    EXPECT_GT(firsts, 0);
}

TEST(Rerank, TrainTwoSets_SameFilesEveryTimeAndFromRows_ThreadsAgree_ConfidenceInEveryTable) {
    TempDir dir;
    WriteFile(dir / "a/truth.tsv", ExampleTruth(0));
    WriteFile(dir / "b/truth.tsv", ExampleTruth(1));
    WriteFile(dir / "train.param", HcdParams("", 2));
    const std::vector<std::string> sets = {"train", "train.param", "a/truth.tsv", "train.param", "b/truth.tsv"};
    for (const char* name : {"1.model", "2.model"}) {
        std::vector<std::string> args = sets;
        args.insert(args.end(), {"-o", name, "--save-rows", std::string(name) + ".rows", "--per-set"});
        const auto r = RunVemra(args, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("  a\t5\t"), std::string::npos) << r.err;  // the per-set figures
    }
    const auto again = RunVemra({"train", "--rows", "1.model.rows", "-o", "3.model"}, dir.path());
    ASSERT_EQ(again.status, 0) << again.err;
    // A fallback goes into the file; only a linear model can be one, and one
    // that ranks every list leaves nothing to calibrate.
    const auto gated = RunVemra({"train", "--rows", "1.model.rows", "-o", "4.model", "--fallback", "builtin:hcd",
                                 "--fallback-below", "-1.5"}, dir.path());
    ASSERT_EQ(gated.status, 0) << gated.err;
    EXPECT_NE(ReadFile(dir / "4.model").find("\nfallback detection_likelihood -1.5 "), std::string::npos);
    const auto all = RunVemra({"train", "--rows", "1.model.rows", "-o", "6.model", "--fallback", "builtin:hcd",
                               "--fallback-below", "-0.5"}, dir.path());
    EXPECT_EQ(all.status, 1);
    EXPECT_NE(all.err.find("nothing is left to calibrate"), std::string::npos) << all.err;
    const auto notLinear = RunVemra({"train", "--rows", "1.model.rows", "-o", "5.model", "--fallback", "1.model"},
                                    dir.path());
    EXPECT_EQ(notLinear.status, 1);
    EXPECT_NE(notLinear.err.find("--fallback: 1.model is not a linear model"), std::string::npos) << notLinear.err;
    const std::string model = ReadFile(dir / "1.model");
    EXPECT_EQ(model, ReadFile(dir / "2.model"));
    EXPECT_EQ(ReadFile(dir / "1.model.rows"), ReadFile(dir / "2.model.rows"));
    EXPECT_EQ(model, ReadFile(dir / "3.model"));
    CRerankModel parsed;
    std::string error;
    ASSERT_TRUE(parsed.Parse(model, error)) << error;
    EXPECT_EQ(parsed.Version(), 2);
    EXPECT_NE(parsed.Fragments(false, false), nullptr);

    WriteFile(dir / "one.param", HcdParams("1.model", 1));
    WriteFile(dir / "two.param", HcdParams("1.model", 2));
    ASSERT_EQ(RunVemra({"one.param", "one"}, dir.path()).status, 0);
    ASSERT_EQ(RunVemra({"two.param", "two"}, dir.path()).status, 0);
    for (const char* ext : {".txt", ".tsv"})
        EXPECT_EQ(ReadFile(dir / ("out/one/hcd_example" + std::string(ext))),
                  ReadFile(dir / ("out/two/hcd_example" + std::string(ext))))
            << ext;

    // Every record's first confidence is a probability no later candidate
    // exceeds, and the tables carry the native file's.
    std::istringstream native(ReadFile(dir / "out/one/hcd_example.txt"));
    std::string line, pep, score, confidence;
    double first = -1.0;
    while (std::getline(native, line)) {
        if (line.rfind("P", 0) != 0) continue;
        std::istringstream f(line);
        std::string rank, p, s, c;
        std::getline(f, rank, '\t');
        std::getline(f, p, '\t');
        std::getline(f, s, '\t');
        std::getline(f, c, '\t');
        const double v = std::stod(c);
        if (rank == "P1") {
            first = v;
            if (pep.empty()) pep = p, score = s, confidence = c;
            EXPECT_GT(v, 0.0);
            EXPECT_LT(v, 1.0);
        } else {
            EXPECT_LE(v, first) << line;
        }
    }
    const std::string tsv = ReadFile(dir / "out/one/hcd_example.tsv");
    EXPECT_NE(tsv.find("\tscore\tconfidence\taa_scores\tppm_error\t"), std::string::npos);
    EXPECT_NE(tsv.find("\t" + pep + "\t" + pep + "\t" + score + "\t" + confidence + "\t"), std::string::npos) << tsv;
    const std::string mztab = ReadFile(dir / "out/one/hcd_example.mztab");
    EXPECT_NE(mztab.find("\t" + score + "\t" + confidence + "\t"), std::string::npos);
}
