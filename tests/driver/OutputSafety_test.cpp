// What a run writes, and only that: temporaries of killed runs cleaned up,
// no file written through a link planted in the output folder, and a full
// disk that loses only the file that did not fit.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "../TestUtil.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSource = VEMRA_SOURCE_DIR;
const std::string kParams = "[meta]\nthread=1\nC=160.03065\n[file]\nspec_path=1\nspec_path1=x.mgf\nspec_type=MGF\n"
                            "out_path=res\noutput_format=native,mztab,tsv\n";

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(OutputSafety, LeftoversOfKilledRuns_EveryKindRemoved_OtherFilesKept) {
    TempDir dir;
    WriteFile(dir / "x.mgf", ReadFile(kSource + "/examples/hcd_example.mgf"));
    WriteFile(dir / "run.param", kParams);
    for (const char* name : {"x.txt.tmp.123", "x.mztab.tmp.77", "x.tsv.tmp.9.aB3xY9", "y.summary.json.tmp.5.qwerty",
                             "time.txt.tmp.1", "x.trace.tsv.tmp.42", "xVemra+_Result.txt.3", "notes.tmp.txt",
                             "keep.tmp.12a"})
        WriteFile(dir / ("res/vemra+/" + std::string(name)), "old\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Names(dir / "res/vemra+"),
              (std::vector<std::string>{".vemra.lock", "keep.tmp.12a", "notes.tmp.txt", "time.txt", "x.mztab",
                                        "x.summary.json", "x.tsv", "x.txt"}));
}

TEST(OutputSafety, LinksPlantedInTheOutputFolder_ReplacedNeverWrittenThrough) {
    TempDir dir;
    WriteFile(dir / "x.mgf", ReadFile(kSource + "/examples/hcd_example.mgf"));
    WriteFile(dir / "run.param", kParams);
    std::filesystem::create_directories(dir / "res/vemra+");
    for (const char* name : {"x.summary.json", "time.txt", "x.txt", "x.mztab", "x.tsv"}) {
        WriteFile(dir / ("precious-" + std::string(name)), "precious\n");
        std::filesystem::create_symlink(dir / ("precious-" + std::string(name)), dir / ("res/vemra+/" + std::string(name)));
    }
    const auto r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"x.summary.json", "time.txt", "x.txt", "x.mztab", "x.tsv"}) {
        EXPECT_EQ(ReadFile(dir / ("precious-" + std::string(name))), "precious\n") << name;
        EXPECT_FALSE(std::filesystem::is_symlink(dir / ("res/vemra+/" + std::string(name)))) << name;
        EXPECT_NE(ReadFile(dir / ("res/vemra+/" + std::string(name))), "precious\n") << name;
    }
}

// A disk that fills up: the file that did not fit goes at once with the
// cause named, the smaller dataset after it is still written, exit 1.
TEST(OutputSafety, FullDisk_PartialFileRemovedCauseNamed_LaterDatasetStillWritten) {
    TempDir dir;
    const std::string spectra = ReadFile(kSource + "/examples/hcd_example.mgf");
    std::string many;
    for (int k = 0; k < 40; ++k) many += spectra;
    WriteFile(dir / "spec/a.mgf", many);
    WriteFile(dir / "spec/b.mgf", spectra.substr(0, spectra.find("END IONS") + 9));
    WriteFile(dir / "run.param", "[meta]\nthread=1\nC=160.03065\n[file]\nspec_path=1\nspec_path1=spec\nfolder=yes\n"
                                 "spec_type=MGF\nout_path=res\nreport_pep=5\n");
    const auto r = testutil::WaitVemra(testutil::StartVemra({"run.param"}, dir.path(), -1, 20000), dir.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir / "res/vemra+/a.txt"));
    EXPECT_TRUE(Exists(dir / "res/vemra+/b.txt"));
    for (const std::string& n : Names(dir / "res/vemra+")) EXPECT_EQ(n.find(".tmp."), std::string::npos) << n;
}
