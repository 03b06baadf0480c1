#include <gtest/gtest.h>

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

const char* kBannerTop = "       ####################################\n";

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
    EXPECT_EQ(r.out.rfind(kBannerTop, 0), 0u) << r.out;  // stdout is no terminal: no clearing
    EXPECT_NE(r.out.find("       #       Welcome to Vemra+          #\n"), std::string::npos);
    EXPECT_NE(r.out.find("\r\ntime: "), std::string::npos);
    EXPECT_NE(r.out.find(" seconds\n"), std::string::npos);
    const std::string timeTxt = ReadFile(dir / "res/myrun/time.txt");
    EXPECT_EQ(timeTxt.rfind("time : ", 0), 0u);
    EXPECT_NE(timeTxt.find("seconds\n"), std::string::npos);
    EXPECT_EQ(timeTxt.find(" seconds"), std::string::npos);
    const std::string log = ReadFile(dir / "denovo.log");
    EXPECT_EQ(log.rfind("dataset=x.mgf\tread=1\tsequenced=0\t", 0), 0u) << log;
    EXPECT_NE(log.find("\ntime="), std::string::npos);
    EXPECT_NE(log.find("\ntime=1.5\nolder entry\n"), std::string::npos) << log;
}

TEST(Driver, WriteRunLog_LongLineEndsKeptHistory) {
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    WriteFile("denovo.log", "a\n" + std::string(1000, 'x') + "\nb\n");
    EXPECT_TRUE(WriteRunLog("time=2\n"));
    EXPECT_EQ(ReadFile("denovo.log"), "time=2\na\n");
    std::filesystem::current_path(cwd);
}

TEST(Driver, ReadSpectra_TwoFiles_SortedByTitlePairedAndNormalised) {
    TempDir dir;
    WriteFile(dir / "h.mgf",
              "BEGIN IONS\nTITLE=a.9\nPEPMASS=500\n100 4\n200 0\n300 2\nEND IONS\n"
              "BEGIN IONS\nTITLE=a.10\nPEPMASS=600\n150 8\nEND IONS\n");
    WriteFile(dir / "e.mgf",
              "BEGIN IONS\nTITLE=b.9\nPEPMASS=500\n110 1\nEND IONS\n"
              "BEGIN IONS\nTITLE=b.10\nPEPMASS=600\nEND IONS\n"
              "BEGIN IONS\nTITLE=b.11\nPEPMASS=700\n120 5\nEND IONS\n");
    CCondition c;
    c.m_strSpecType = "MGF";
    c.m_strOutPath = dir.path() + "/";
    c.m_vSpecPaths = {dir / "h.mgf", dir / "e.mgf"};
    CDeNovo d;
    d._ReadSpectra(c, "run", static_cast<unsigned int>(-1));
    EXPECT_EQ(c.m_strOutDir, dir.path() + "/run/h");
    ASSERT_EQ(c.m_vSpectra.size(), 2u);
    EXPECT_EQ(c.m_nActivationMode, 3);
    ASSERT_EQ(c.m_vSpectra[0].size(), 2u);
    EXPECT_EQ(c.m_vSpectra[0][0].m_strTitle, "a.10");  // byte order, not numeric
    EXPECT_EQ(c.m_vSpectra[0][1].m_strTitle, "a.9");
    EXPECT_EQ(c.m_vSpectra[1][1].m_strTitle, "b.11");
    const CSpectrum& s = c.m_vSpectra[0][1];
    EXPECT_EQ(s.m_strActivation, "HCD");
    ASSERT_EQ(s.m_vPeaks.size(), 2u);  // the zero-intensity peak is dropped
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfIntensity, 1.0);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[1].lfIntensity, 0.5);
    EXPECT_DOUBLE_EQ(s.m_vPeaks[0].lfLogIntensity, std::log(4.0));
    EXPECT_DOUBLE_EQ(s.m_vPeaks[1].lfKeyMz, 300.0);
    EXPECT_EQ(s.m_vPeaks[1].nOrder, 1);
    EXPECT_EQ(c.m_vSpectra[1][0].m_strActivation, "");  // no peaks, no label
    EXPECT_EQ(c.m_vSpectra[1][2].m_strActivation, "ETD");
}

TEST(Driver, ReadSpectra_OneFileEtdSetting_ActivationTwoFileOrderKept) {
    TempDir dir;
    WriteFile(dir / "x.y.mgf",
              "BEGIN IONS\nTITLE=z\nPEPMASS=500\n100 4\nEND IONS\nBEGIN IONS\nTITLE=a\nPEPMASS=500\n100 4\nEND IONS\n");
    CCondition c;
    c.m_strSpecType = "MGF";
    c.m_strActivation = "ETD";
    c.m_vSpecPaths = {dir / "x.y.mgf"};
    CDeNovo d;
    d._ReadSpectra(c, "run", 1u);
    EXPECT_EQ(c.m_strOutDir, "run/x.y");
    EXPECT_EQ(c.m_nActivationMode, 2);
    ASSERT_EQ(c.m_vSpectra.size(), 1u);
    ASSERT_EQ(c.m_vSpectra[0].size(), 2u);
    EXPECT_EQ(c.m_vSpectra[0][0].m_strTitle, "z");
    EXPECT_EQ(c.m_vSpectra[0][0].m_strActivation, "ETD");
}

// The base name is the text after the last '/': a folder given with a
// trailing '/' gives an empty base name (the results file is then ".txt").
TEST(Driver, ReadSpectra_DtaFolderWithTrailingSlash_EmptyBaseName) {
    TempDir dir;
    WriteFile(dir / "scans/a.dta", "1000.5 2\n300.1 55\n");
    CCondition c;
    c.m_strSpecType = "DTA";
    c.m_strOutPath = "res/";
    c.m_vSpecPaths = {dir / "scans/"};
    CDeNovo d;
    d._ReadSpectra(c, "run", static_cast<unsigned int>(-1));
    EXPECT_EQ(c.m_strOutDir, "res/run/");
    ASSERT_EQ(c.m_vSpectra.size(), 1u);
    ASSERT_EQ(c.m_vSpectra[0].size(), 1u);
    EXPECT_EQ(c.m_vSpectra[0][0].m_strTitle, "a.dta");
}
