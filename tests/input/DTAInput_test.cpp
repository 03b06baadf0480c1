#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "input/DTAInput.h"
#include "InputTestUtil.h"

namespace {

std::vector<CSpectrum> ReadFolder(const std::string& path, CDTAInput& in, unsigned int* count = nullptr,
                                  bool quiet = true) {
    in.SetQuiet(quiet);
    unsigned int c = in.Count(path);
    if (count) *count = c;
    std::vector<CSpectrum> out;
    in.Browse(out, CInput::ALL);
    return out;
}

std::vector<std::pair<double, double>> Peaks(const CSpectrum& s) {
    std::vector<std::pair<double, double>> v;
    for (const auto& p : s.m_vPeaks) v.emplace_back(p.lfMz, p.lfIntensity);
    return v;
}

using PV = std::vector<std::pair<double, double>>;

}  // namespace

TEST(DTAInput, MixedNames_OnlyExactExtensionsInByteOrder) {
    CTempDir dir;
    dir.Write("a.dta", "1000.5 2\n100 1\n");
    dir.Write("B.DTA", "900.25 3\n");
    dir.Write("c.Dta", "800 2\n");
    dir.Write("notes.txt", "x\n");
    CDTAInput in;
    unsigned int count = 0;
    auto out = ReadFolder(dir.Path(), in, &count);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(out.size(), 2u);
    // "B.DTA" sorts before "a.dta" by bytes; titles are lower-cased.
    EXPECT_EQ(out[0].m_strTitle, "b.dta");
    EXPECT_EQ(out[0].m_lfPrecursorMH, 900.25);
    EXPECT_EQ(out[0].m_nCharge, 3);
    EXPECT_EQ(out[1].m_strTitle, "a.dta");
    EXPECT_EQ(out[1].m_lfPrecursorMH, 1000.5);  // taken as written
    EXPECT_EQ(Peaks(out[1]), (PV{{100, 1}}));
    EXPECT_FALSE(in.Failed());
    EXPECT_TRUE(in.Close());
}

TEST(DTAInput, FolderPathWithOrWithoutSlash_Same) {
    CTempDir dir;
    dir.Write("x.dta", "500 1\n");
    CDTAInput a, b;
    auto outA = ReadFolder(dir.Path(), a);
    auto outB = ReadFolder(dir.Path() + "/", b);
    ASSERT_EQ(outA.size(), 1u);
    ASSERT_EQ(outB.size(), 1u);
    EXPECT_EQ(outA[0].m_lfPrecursorMH, outB[0].m_lfPrecursorMH);
}

TEST(DTAInput, PeakLines_NumericReadQuirks) {
    CTempDir dir;
    dir.Write("1.dta", "1000 2\n300.1 55.0 extra words\n\n\n400.2 10\n");  // extra words, blank lines
    dir.Write("2.dta", "1000 2\n300.1\n400.2 10 20\n500 5\n");            // one number: next line's first
    dir.Write("3.dta", "1000 2\nabc\n100 1\nsome text\n200 2");           // non-numeric line repeats the record
    dir.Write("4.dta", "1000 2\n100 1 " + std::string(300, 'x') + "\n");   // remainder over 198 characters
    dir.Write("5.dta", "garbage\n100 1\n");                                // unreadable first line
    dir.Write("6.dta", "1000 2\n100 nan\ninf 2\n300 3\n");                 // non-finite peaks dropped
    dir.Write("7.dta", "");
    CDTAInput in;
    auto out = ReadFolder(dir.Path(), in);
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(Peaks(out[0]), (PV{{300.1, 55.0}, {400.2, 10}}));
    EXPECT_EQ(Peaks(out[1]), (PV{{300.1, 400.2}, {500, 5}}));
    EXPECT_EQ(Peaks(out[2]), (PV{{0, 0}, {100, 1}, {100, 1}, {200, 2}}));
    EXPECT_EQ(Peaks(out[3]), (PV{{100, 1}, {100, 1}}));
    EXPECT_EQ(out[4].m_lfPrecursorMH, 0.0);
    EXPECT_EQ(out[4].m_nCharge, 0);
    EXPECT_EQ(Peaks(out[4]), (PV{{0, 0}, {100, 1}}));
    EXPECT_EQ(Peaks(out[5]), (PV{{300, 3}}));
    EXPECT_EQ(out[6].m_lfPrecursorMH, 0.0);
    EXPECT_TRUE(out[6].m_vPeaks.empty());
}

// Only regular files are read: a pipe named x.dta used to hang the run in
// fopen. Other entries are reported and not counted; a file that vanishes
// after the count is an error that fails the run, the rest is still read.
TEST(DTAInput, EntriesThatAreNoRegularFile_SkippedWithWarning) {
    CTempDir dir;
    dir.Write("a.dta", "500 1\n");
    dir.Write("c.dta", "600 1\n");
    dir.Write("g.dta", "700 1\n");
    ASSERT_EQ(symlink((dir.Path() + "/missing").c_str(), (dir.Path() + "/b.dta").c_str()), 0);
    ASSERT_EQ(symlink((dir.Path() + "/c.dta").c_str(), (dir.Path() + "/f.dta").c_str()), 0);
    std::filesystem::create_directory(dir.Path() + "/d.dta");
    ASSERT_EQ(mkfifo((dir.Path() + "/e.dta").c_str(), 0600), 0);
    CDTAInput in;
    testing::internal::CaptureStderr();
    ASSERT_EQ(in.Count(dir.Path()), 4u);
    std::string msg = testing::internal::GetCapturedStderr();
    for (const char* name : {"b.dta", "d.dta", "e.dta"})
        EXPECT_NE(msg.find("[warning]\t" + dir.Path() + "/" + name + " is not a regular file"), std::string::npos) << msg;
    std::filesystem::remove(dir.Path() + "/g.dta");
    std::vector<CSpectrum> out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Browse(out, CInput::ALL), 3u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error]\tcannot read the DTA file " + dir.Path() + "/g.dta: No such file or directory\n");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].m_strTitle, "f.dta");
    EXPECT_EQ(out[2].m_lfPrecursorMH, 600.0);
    EXPECT_TRUE(in.Failed());
    EXPECT_EQ(in.Skipped(), 1u);
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
}

// The first line: a byte-order mark before it is skipped; a charge that is
// missing, negative or beyond int's range is refused (0) with a warning.
TEST(DTAInput, FirstLine_BomSkipped_BadChargeRefused) {
    struct Row {
        const char* text;
        double mh;
        int charge;
        const char* warning;
    } rows[] = {
        {"\xEF\xBB\xBF" "1000.5 2\n100 1\n", 1000.5, 2, ""},
        {"1000.5 -2\n100 1\n", 1000.5, 0, "the charge -2 is negative"},
        {"1000.5 2-\n100 1\n", 1000.5, 0, "the charge 2- is negative"},
        {"1000.5 4294967298\n100 1\n", 1000.5, 0, "the charge 4294967298 is out of range"},
        {"1000.5 x\n100 1\n", 1000.5, 0, "the first line holds no charge"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        CTempDir dir;
        dir.Write("a.dta", r.text);
        CDTAInput in;
        testing::internal::CaptureStderr();
        auto out = ReadFolder(dir.Path(), in, nullptr, false);
        in.Close();
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].m_lfPrecursorMH, r.mh);
        EXPECT_EQ(out[0].m_nCharge, r.charge);
        EXPECT_EQ(Peaks(out[0]).back(), (std::pair<double, double>{100, 1}));
        if (*r.warning) {
            EXPECT_EQ(err.rfind("[warning]\t" + dir.Path() + "/a.dta: spectrum 1: " + r.warning, 0), 0u) << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
}

TEST(DTAInput, UnopenableFolder_MessageZeroAndFailed) {
    CDTAInput in;
    testing::internal::CaptureStderr();
    EXPECT_EQ(in.Count("/nonexistent/folder"), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error]\tcannot open the DTA folder /nonexistent/folder: No such file or directory\n");
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), 0u);
    EXPECT_TRUE(in.Failed());
}

TEST(DTAInput, Batches_FollowByteOrder) {
    CTempDir dir;
    for (const char* n : {"s10.dta", "s9.dta", "s1.dta"}) dir.Write(n, "500 2\n");
    CDTAInput in;
    ASSERT_EQ(in.Count(dir.Path()), 3u);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, 2), 2u);
    EXPECT_EQ(in.Browse(out, 2), 1u);
    EXPECT_EQ(in.Browse(out, 2), 0u);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].m_strTitle, "s1.dta");
    EXPECT_EQ(out[1].m_strTitle, "s10.dta");
    EXPECT_EQ(out[2].m_strTitle, "s9.dta");
}
