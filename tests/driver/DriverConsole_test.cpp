// What a run shows on the console and which spectra it sequences, checked on
// the vemra binary as a user runs it.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "../TestUtil.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

// One MGF block; the peaks are those of a small tryptic peptide.
std::string Block(const std::string& title, const std::string& pepmass, const std::string& charge) {
    return "BEGIN IONS\nTITLE=" + title + "\nPEPMASS=" + pepmass + "\nCHARGE=" + charge +
           "\n114.09131 894099.7\n147.11284 72730.3\n213.15904 88927.5\n365.21905 308615.0\n"
           "456.24507 4817404.4\n494.26080 9337079.1\n569.33054 7136172.3\nEND IONS\n";
}

// Titles of the records in a result file, in file order.
std::vector<std::string> RecordTitles(const std::string& text) {
    std::vector<std::string> titles;
    for (const CResultRecord& r : testutil::ReadRecords(text)) titles.push_back(r.strTitle);
    return titles;
}

}  // namespace

TEST(DriverConsole, FolderMode_DatasetLinesSummariesAndTimeInOrder) {
    TempDir dir;
    WriteFile(dir / "spec/a.mgf", Block("a1", "582.31861", "2+") + Block("a2", "582.31861", "2+") +
                                      Block("a3", "582.31861", "2+"));
    WriteFile(dir / "spec/b.mgf", Block("b1", "582.31861", "2+"));
    WriteFile(dir / "run.param", "[meta]\nthread=1\n[file]\nspec_path=1\nspec_path1=" + dir.path() +
                                     "/spec\nfolder=yes\nspec_type=MGF\nout_path=res\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    // Diagnostics on stderr, in the order things happened.
    const std::string expected =
        "[info]\toutput: res/vemra+/a\n[info]\tDATASET 1\n[info]\tFILE1 " + dir.path() + "/spec/a.mgf: 3 spectra.\n" +
        "[info]\t3 spectra read: 3 sequenced\n[info]\tresults: res/vemra+/a.txt (summary: res/vemra+/a.summary.json)\n"
        "[info]\toutput: res/vemra+/b\n[info]\tDATASET 2\n[info]\tFILE1 " + dir.path() + "/spec/b.mgf: 1 spectra.\n" +
        "[info]\t1 spectra read: 1 sequenced\n[info]\tresults: res/vemra+/b.txt (summary: res/vemra+/b.summary.json)\n";
    const std::string err = r.err.substr(r.err.find("[info]\toutput: "));
    ASSERT_EQ(err.substr(0, expected.size()), expected) << r.err;
    EXPECT_TRUE(std::regex_search(err.substr(expected.size()),
                                  std::regex("^\\[info\\]\ttime: [0-9]+\\.[0-9]{2} seconds\n\\[info\\]\trun: 4 spectra read: 4 sequenced\n")))
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(RecordTitles(ReadFile(dir / "res/vemra+/a.txt")), (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(RecordTitles(ReadFile(dir / "res/vemra+/b.txt")), (std::vector<std::string>{"b1"}));
}

TEST(DriverConsole, PrecursorWindow_BothBoundsIncluded) {
    TempDir dir;
    // Singly charged: [M+H]+ is the PEPMASS value itself (exact binary values).
    WriteFile(dir / "w.mgf", Block("below", "500.125", "1+") + Block("low", "500.25", "1+") +
                                 Block("high", "700.5", "1+") + Block("above", "700.625", "1+"));
    WriteFile(dir / "run.param", "[meta]\nthread=3\nmass_lower_bound=500.25\nmass_upper_bound=700.5\n[file]\n"
                                 "spec_path=1\nspec_path1=" + dir.path() + "/w.mgf\nspec_type=MGF\nout_path=res\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RecordTitles(ReadFile(dir / "res/vemra+/w.txt")), (std::vector<std::string>{"low", "high"}));
}
