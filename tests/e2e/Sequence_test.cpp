// vemra sequence, as a user with a spectrum file of their own runs it: the
// same peptides as a parameter-file run, one clear line and a non-zero exit
// for every mistake, tables an independent reader accepts.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../TestUtil.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSource = VEMRA_SOURCE_DIR;

// Rank-1 peptide of every record, by title.
std::map<std::string, std::string> FirstPeptides(const std::string& text) {
    std::map<std::string, std::string> out;
    for (const CResultRecord& r : testutil::ReadRecords(text))
        out[r.strTitle] = r.vPeptides.empty() ? std::string() : r.vPeptides[0].strPeptide;
    return out;
}

bool HavePython() { return std::system("python3 -c 'import re' >/dev/null 2>&1") == 0; }

}  // namespace

TEST(Sequence, Example_SameResultsAsTheParameterFileRun_TablesReadBack) {
    TempDir dir;
    const std::string mgf = kSource + "/examples/hcd_example.mgf";
    auto r = RunVemra({"sequence", mgf, "-o", "seq/", "--top", "3"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    for (const char* f : {"seq/hcd_example.txt", "seq/hcd_example.mztab", "seq/hcd_example.tsv", "seq/hcd_example.summary.json"})
        EXPECT_TRUE(Exists(dir / f)) << f;
    // The recommended example parameters are the preset's.
    std::string params = ReadFile(kSource + "/examples/hcd.param");
    params = testutil::SetKey(params, "spec_path1", mgf);
    params = testutil::SetKey(params, "out_path", "res");
    params = testutil::SetKey(params, "ans_path", "");
    WriteFile(dir / "run.param", params);
    r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto viaSequence = testutil::ReadRecords(ReadFile(dir / "seq/hcd_example.txt"));
    const auto viaParams = testutil::ReadRecords(ReadFile(dir / "res/vemra+/hcd_example.txt"));
    ASSERT_EQ(viaSequence.size(), viaParams.size());
    for (size_t i = 0; i < viaSequence.size(); ++i) {
        ASSERT_EQ(viaSequence[i].vPeptides.size(), viaParams[i].vPeptides.size()) << i;
        for (size_t k = 0; k < viaSequence[i].vPeptides.size(); ++k)
            EXPECT_EQ(viaSequence[i].vPeptides[k].strPeptide, viaParams[i].vPeptides[k].strPeptide) << i << " " << k;
    }
    // --top 3: three rows per spectrum in the tables, the whole list in the native file.
    for (const CResultRecord& rec : testutil::ReadRecords(ReadFile(dir / "seq/hcd_example.tsv")))
        EXPECT_LE(rec.vPeptides.size(), 3u) << rec.strTitle;
    if (!HavePython()) GTEST_SKIP() << "python3 not found: the independent mzTab reader is not run";
    const std::string check = "python3 " + kSource + "/tests/output/check_mztab.py " + dir.path() + "/seq/hcd_example.mztab";
    EXPECT_EQ(std::system((check + " >/dev/null").c_str()), 0) << check;
}

TEST(Sequence, RealMzML_SameFirstPeptidesAsTheParameterFileRun) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "no shared data";
    TempDir dir;
    const std::string mzml = data + "/real/hcd-mouse/converted/spectra.mzML";
    auto r = RunVemra({"sequence", mzml, "-o", "out.mztab", "--set", "C=160.03065", "--quiet"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // --quiet: errors only
    std::string params = ReadFile(kSource + "/examples/hcd.param");
    for (const auto& [k, v] : std::vector<std::pair<std::string, std::string>>{
             {"spec_path1", mzml}, {"spec_type", "mzML"}, {"out_path", "res"}, {"output_format", "mztab"}, {"C", "160.03065"},
             {"ans_path", ""}})
        params = testutil::SetKey(params, k, v);
    WriteFile(dir / "run.param", params);
    r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto a = FirstPeptides(ReadFile(dir / "out.mztab"));
    EXPECT_EQ(a.size(), 128u);
    EXPECT_EQ(a, FirstPeptides(ReadFile(dir / "res/vemra+/spectra.mztab")));
    if (HavePython()) {
        EXPECT_EQ(std::system(("python3 " + kSource + "/tests/output/check_mztab.py " + dir.path() + "/out.mztab >/dev/null").c_str()), 0);
    }
}

TEST(Sequence, Mistakes_OneClearLineAndNonZeroExit) {
    TempDir dir;
    const std::string mgf = ReadFile(kSource + "/examples/hcd_example.mgf");
    WriteFile(dir / "x.mgf", mgf);
    WriteFile(dir / "mzml.mgf", "<?xml version=\"1.0\"?>\n<indexedmzML>\n");
    WriteFile(dir / "x.spectra", mgf);
    WriteFile(dir / "blank.mgf", "\n\n");
    WriteFile(dir / "empty.mgf", "COM=no spectra in here\n");
    struct Case {
        std::vector<std::string> vArgs;
        int nStatus;
        std::string strErr;
    };
    const std::vector<Case> cases = {
        {{"x.mgf"}, 2, "holds MGF spectra, not parameters; to sequence it run: vemra sequence x.mgf"},
        {{"sequence", "mzml.mgf"}, 2, "is named as MGF but holds mzML"},
        {{"sequence", "x.spectra"}, 2, "cannot tell the format of x.spectra from its name"},
        {{"sequence", "nope.mgf"}, 2, "cannot open nope.mgf"},
        {{"sequence", "x.mgf", "-o", "out.xml"}, 2, "give a folder (ending in '/') or a FILE.mztab"},
        {{"sequence", "x.mgf", "x.mgf", "-o", "one.tsv"}, 2, "give -o a folder"},
        {{"sequence", "x.mgf", "--set", "frag_tol"}, 2, "--set frag_tol: give KEY=VALUE"},
        {{"sequence", "x.mgf", "--set", "frag_tol=nan", "-o", "bad/"}, 1, "frag_tol"},
        {{"sequence", "blank.mgf"}, 2, "blank.mgf is named as MGF but holds no spectra of that format"},
        {{"sequence", "empty.mgf", "-o", "e/"}, 1, "no spectrum found in empty.mgf"},
        {{"sequence", "x.mgf", "--preset", "paired", "x.mgf", "x.mgf"}, 2, "--preset paired takes one file"},
    };
    for (const Case& k : cases) {
        const auto r = RunVemra(k.vArgs, dir.path());
        EXPECT_EQ(r.status, k.nStatus) << k.vArgs[1] << r.err;
        EXPECT_NE(r.err.find(k.strErr), std::string::npos) << k.vArgs[1] << "\n" << r.err;
        EXPECT_NE(r.err.find("[error]"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(Exists(dir / "e/empty.txt"));
}
