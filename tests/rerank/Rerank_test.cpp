// The re-ranking model: a model that cannot be read refuses the run, and a
// model fitted by vemra train is the same file every time and ranks the
// same whatever the threads, its confidence in every table.

#include <gtest/gtest.h>

#include <sstream>

#include "../TestUtil.h"
#include "driver/ParamTemplate.h"
#include "rerank/RerankModel.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSrc = VEMRA_SOURCE_DIR;

// The recommended HCD settings on the example spectra, with the given
// re-ranking model and thread count.
std::string HcdParams(const std::string& model, int threads) {
    CTemplateFiles files;
    files.vSpecPaths = {kSrc + "/examples/hcd_example.mgf"};
    files.strOutPath = "out";
    std::string p = ParamTemplate("hcd", &files);
    auto replace = [&p](const std::string& from, const std::string& to) {
        const size_t at = p.find(from);
        if (at != std::string::npos) p.replace(at, from.size(), to);
    };
    replace("rerank_model=builtin:hcd", "rerank_model=" + model);
    replace("thread=0", "thread=" + std::to_string(threads));
    return p + "output_format=native,mztab,tsv\n";
}

// title<TAB>peptide of the example's HCD answers.
std::string ExampleTruth() {
    std::istringstream in(ReadFile(kSrc + "/examples/answers.txt"));
    std::string out, line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string w[10];
        for (auto& x : w) f >> x;
        if (w[7] == "hcd") out += w[1] + "\t" + w[6] + "\n";
    }
    return out;
}

}  // namespace

TEST(Rerank, DamagedOrMissingModel_RefusesTheRun) {
    CRerankModel builtin;
    std::string error;
    ASSERT_TRUE(builtin.Load(CRerankModel::kBuiltinHcd, error)) << error;
    const std::string good = builtin.Text("test");
    auto edit = [&good](const std::string& from, const std::string& to) {
        std::string t = good;
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
        {"bad header", edit("vemra rerank model 1", "weights 1"), "not a re-ranking model"},
        {"bad number", edit("score_gap ", "score_gap x"), "is not a number"},
        {"wrong feature count", edit("features 13", "features 10"), "expected \"features 13\""},
        {"wrong feature name", edit("y_site_share", "y_share"), "expected y_site_share"},
        {"not finite", edit("margin ", "margin inf"), "is not a number"},
        {"cut short", good.substr(0, good.find("calibration")), "\"calibration 16\" is missing"},
        {"good, beside the parameter file", good, ""},
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
        EXPECT_NE(r.err.find(k.strError), std::string::npos) << k.szName << r.err;
        EXPECT_FALSE(testutil::Exists(dir / "out")) << k.szName;
    }
}

TEST(Rerank, TrainThenApply_SameModelSameResults_ConfidenceInEveryTable) {
    TempDir dir;
    WriteFile(dir / "truth.tsv", ExampleTruth());
    WriteFile(dir / "train.param", HcdParams("", 2));
    for (const char* name : {"a.model", "b.model"}) {
        const auto r = RunVemra({"train", "train.param", "truth.tsv", "-o", name}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const std::string model = ReadFile(dir / "a.model");
    EXPECT_EQ(model, ReadFile(dir / "b.model"));
    CRerankModel parsed;
    std::string error;
    EXPECT_TRUE(parsed.Parse(model, error)) << error;

    WriteFile(dir / "one.param", HcdParams("a.model", 1));
    WriteFile(dir / "two.param", HcdParams("a.model", 2));
    ASSERT_EQ(RunVemra({"one.param", "one"}, dir.path()).status, 0);
    ASSERT_EQ(RunVemra({"two.param", "two"}, dir.path()).status, 0);
    for (const char* ext : {".txt", ".tsv"})
        EXPECT_EQ(ReadFile(dir / ("out/one/hcd_example" + std::string(ext))),
                  ReadFile(dir / ("out/two/hcd_example" + std::string(ext))))
            << ext;

    // The first candidate's confidence, as the native file gives it, is in
    // the tsv's confidence column and the mzTab's second score.
    const std::string native = ReadFile(dir / "out/one/hcd_example.txt");
    const size_t p1 = native.find("\nP1\t");
    ASSERT_NE(p1, std::string::npos);
    std::istringstream line(native.substr(p1 + 1, native.find('\n', p1 + 1) - p1 - 1));
    std::string rank, pep, score, confidence;
    std::getline(line, rank, '\t');
    std::getline(line, pep, '\t');
    std::getline(line, score, '\t');
    std::getline(line, confidence, '\t');
    const double c = std::stod(confidence);
    EXPECT_GT(c, 0.0);
    EXPECT_LT(c, 1.0);
    const std::string tsv = ReadFile(dir / "out/one/hcd_example.tsv");
    EXPECT_NE(tsv.find("\tscore\tconfidence\taa_scores\tppm_error\t"), std::string::npos);
    EXPECT_NE(tsv.find("\t" + pep + "\t" + pep + "\t" + score + "\t" + confidence + "\t"), std::string::npos) << tsv;
    const std::string mztab = ReadFile(dir / "out/one/hcd_example.mztab");
    EXPECT_NE(mztab.find("MTD\tpsm_search_engine_score[2]\t"), std::string::npos);
    EXPECT_NE(mztab.find("\tsearch_engine_score[1]\tsearch_engine_score[2]\tmodifications\t"), std::string::npos);
    EXPECT_NE(mztab.find("\t" + score + "\t" + confidence + "\t"), std::string::npos);
}
