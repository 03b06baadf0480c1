#include <gtest/gtest.h>

#include <regex>

#include <cmath>

#include "../TestUtil.h"
#include "conditions/Condition.h"
#include "driver/denovo.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {


}  // namespace

TEST(Driver, Run_WrongArgumentCount_UsageAndStatus2AndNoFiles) {
    TempDir dir;
    auto r = RunVemra({}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
    EXPECT_EQ(r.out, "");
    r = RunVemra({"a", "b", "c"}, dir.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(Exists(dir / "denovo.log"));
}

TEST(Driver, Run_MissingParameterFile_MessageAndStatus1) {
    TempDir dir;
    auto r = RunVemra({"nope.param"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("[error]\tcannot open the parameter file nope.param: "), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir / "denovo.log"));
}

TEST(Driver, Run_BannerTimeLineTimeFileAndRunLog) {
    TempDir dir;
    WriteFile(dir / "x.mgf", "BEGIN IONS\nTITLE=t\nPEPMASS=500\n100 4\nEND IONS\n");
    WriteFile(dir / "run.param", "[meta]\nthread=2\n[file]\nspec_path=1\nspec_path1=x.mgf\nspec_type=MGF\nout_path=res\n");
    WriteFile(dir / "denovo.log", "time=1.5\r\nolder entry\n");
    auto r = RunVemra({"run.param", "myrun"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    // No terminal: no banner, nothing on stdout (a run prints no results
    // there); the time is a diagnostic line.
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("Welcome"), std::string::npos);
    EXPECT_TRUE(std::regex_search(r.err, std::regex("\\[info\\]\ttime: [0-9]+\\.[0-9]{2} seconds\n"))) << r.err;
    const std::string timeTxt = ReadFile(dir / "res/myrun/time.txt");
    EXPECT_EQ(timeTxt.rfind("time : ", 0), 0u);
    EXPECT_NE(timeTxt.find("seconds\n"), std::string::npos);
    EXPECT_EQ(timeTxt.find(" seconds"), std::string::npos);
    const std::string log = ReadFile(dir / "denovo.log");
    EXPECT_EQ(log.rfind("dataset=x.mgf\tread=1\tsequenced=0\t", 0), 0u) << log;
    EXPECT_NE(log.find("\ntime="), std::string::npos);
    EXPECT_NE(log.find("\ntime=1.5\nolder entry\n"), std::string::npos) << log;
}

// Every earlier line is kept, however long (a long line once ended the
// history); a link planted in its place is never written through.
TEST(Driver, WriteRunLog_LongLinesKept_LinkNotFollowed) {
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string old = "a\n" + std::string(100000, 'x') + "\nb\n";
    WriteFile("denovo.log", old);
    EXPECT_TRUE(WriteRunLog("time=2\n"));
    EXPECT_EQ(ReadFile("denovo.log"), "time=2\n" + old);
    std::filesystem::remove("denovo.log");
    WriteFile("elsewhere.txt", "keep\n");
    std::filesystem::create_symlink("elsewhere.txt", "denovo.log");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(WriteRunLog("time=3\n"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("[warning]\tcannot write the run log"), std::string::npos);
    EXPECT_EQ(ReadFile("elsewhere.txt"), "keep\n");
    std::filesystem::current_path(cwd);
}

// The base name is the text after the last '/': a DTA folder given with a
// trailing '/' gives an empty base name (the results file is then ".txt").
TEST(Driver, Run_DtaFolderWithTrailingSlash_EmptyBaseNameWarned) {
    TempDir dir;
    WriteFile(dir / "scans/a.dta", "1000.5 2\n300.1 55\n");
    WriteFile(dir / "run.param", "[meta]\nthread=1\n[file]\nspec_path=1\nspec_path1=scans/\nspec_type=dta\nout_path=res\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ends in '/', so the dataset's results are named \"vemra+/.txt\""), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir / "res/vemra+/.txt").rfind("S1\ta.dta\t\n", 0), 0u);
}
