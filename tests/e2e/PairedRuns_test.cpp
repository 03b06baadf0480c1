// Paired HCD + ETD runs through the vemra binary: pairs found by precursor
// survive a shuffled or thinned ETD file, and spectra left alone get the
// answers a single-mode run gives them.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "../TestUtil.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kIons =
    "HCDIONTYPE=4\nHCDIONTYPE1=b 1 1 0 0\nHCDIONTYPE2=y 1 0 0 18.0105647\nHCDIONTYPE3=b 2 1 0 0\n"
    "HCDIONTYPE4=y 2 0 0 18.0105647\nETDIONTYPE=4\nETDIONTYPE1=c 1 1 0 17.026549105\n"
    "ETDIONTYPE2=z 1 0 0 1.9929378\nETDIONTYPE3=c 2 1 0 17.026549105\nETDIONTYPE4=z 2 0 0 1.9929378\n";

std::vector<std::string> Blocks(const std::string& mgf) {
    std::vector<std::string> blocks;
    for (size_t p = 0; (p = mgf.find("BEGIN IONS", p)) != std::string::npos;) {
        const size_t e = mgf.find("END IONS", p) + 9;
        blocks.push_back(mgf.substr(p, e - p) + "\n");
        p = e;
    }
    return blocks;
}

// Title -> the record's ranked peptides and scores (the S number may differ).
std::map<std::string, std::string> Records(const std::string& text) {
    std::map<std::string, std::string> out;
    for (const CResultRecord& r : testutil::ReadRecords(text)) {
        std::string& peptides = out[r.strTitle];
        for (const CResultPeptide& p : r.vPeptides) peptides += p.strPeptide + "\t" + std::to_string(p.lfScore) + "\n";
    }
    return out;
}

std::map<std::string, std::string> RunFiles(const TempDir& dir, const std::vector<std::string>& files,
                                       const std::string& activation = "HCD") {
    std::string params = "[meta]\nthread=2\nC=160.03065\nenzyme=trypsin KR C\nactivation_type=" + activation + "\n" +
                         kIons + "[file]\nspec_type=MGF\nout_path=out\nspec_path=" + std::to_string(files.size()) + "\n";
    for (size_t k = 0; k < files.size(); ++k) params += "spec_path" + std::to_string(k + 1) + "=" + files[k] + "\n";
    WriteFile(dir / "run.param", params);
    const auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string base = files[0].substr(0, files[0].find('.'));
    return Records(ReadFile(dir / ("out/vemra+/" + base + ".txt")));
}

}  // namespace

TEST(PairedRuns, ShuffledAndThinnedEtdFile_SamePairsLoneSpectraAsSingleMode) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "shared test data absent";
    TempDir dir;
    const std::string hcd = ReadFile(data + "/simulated/paired100_hcd.mgf");
    std::vector<std::string> etd = Blocks(ReadFile(data + "/simulated/paired100_etd.mgf"));
    WriteFile(dir / "h.mgf", hcd);
    std::string all;
    for (const std::string& b : etd) all += b;
    WriteFile(dir / "e.mgf", all);
    const auto base = RunFiles(dir, {"h.mgf", "e.mgf"});
    ASSERT_EQ(base.size(), 100u);

    // Every tenth ETD spectrum deleted, the rest in reverse order.
    std::vector<std::string> kept;
    std::vector<std::string> dropped;
    for (size_t k = 0; k < etd.size(); ++k) (k % 10 == 3 ? dropped : kept).push_back(etd[k]);
    std::reverse(kept.begin(), kept.end());
    all.clear();
    for (const std::string& b : kept) all += b;
    WriteFile(dir / "e.mgf", all);
    const auto thinned = RunFiles(dir, {"h.mgf", "e.mgf"});
    const auto alone = RunFiles(dir, {"h.mgf"});
    ASSERT_EQ(thinned.size(), 100u);
    size_t same = 0, lone = 0;
    for (const auto& [title, rec] : thinned) {
        // An HCD title "sim2.000001.hcd" lost its partner when "...etd" was dropped.
        const std::string etdTitle = title.substr(0, title.size() - 3) + "etd";
        const bool lost = std::any_of(dropped.begin(), dropped.end(),
                                      [&](const std::string& b) { return b.find("TITLE=" + etdTitle + "\n") != std::string::npos; });
        if (lost) {
            EXPECT_EQ(rec, alone.at(title)) << title;
            ++lone;
        } else {
            EXPECT_EQ(rec, base.at(title)) << title;
            ++same;
        }
    }
    EXPECT_EQ(lone, 10u);
    EXPECT_EQ(same, 90u);
}

TEST(PairedRuns, FilesOfDifferentRuns_WarnedAndEverySpectrumSequencedAlone) {
    TempDir dir;
    const std::string src = VEMRA_SOURCE_DIR "/examples/";
    WriteFile(dir / "h.mgf", ReadFile(src + "paired_hcd.mgf"));
    // Every ETD precursor moved by 2 Da: no spectrum has a partner.
    std::string etd = ReadFile(src + "paired_etd.mgf");
    for (size_t p = 0; (p = etd.find("PEPMASS=", p)) != std::string::npos; p += 8) {
        const size_t end = etd.find('\n', p);
        etd.replace(p + 8, end - p - 8, std::to_string(std::stod(etd.substr(p + 8, end - p - 8)) + 2.0));
    }
    WriteFile(dir / "e.mgf", etd);
    WriteFile(dir / "run.param", "[meta]\nthread=2\n[file]\nspec_type=MGF\nout_path=out\nspec_path=2\n"
                                 "spec_path1=h.mgf\nspec_path2=e.mgf\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("only 0 of 10 possible pairs agree"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("paired by precursor: 0 pairs, 10 HCD and 10 ETD spectra alone"), std::string::npos) << r.err;
    EXPECT_EQ(Records(ReadFile(dir / "out/vemra+/h.txt")).size(), 20u);
}

TEST(PairedRuns, InterleavedFileOrSwappedFiles_SameAnswersAsTwoFiles) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "shared test data absent";
    TempDir dir;
    // The spectra record their activation, as an instrument's export does.
    auto tagged = [](const std::string& mgf, const std::string& activation) {
        std::vector<std::string> blocks = Blocks(mgf);
        for (std::string& b : blocks) b.insert(b.find('\n') + 1, "ACTIVATION=" + activation + "\n");
        return blocks;
    };
    const auto hcd = tagged(ReadFile(data + "/simulated/paired100_hcd.mgf"), "HCD");
    const auto etd = tagged(ReadFile(data + "/simulated/paired100_etd.mgf"), "ETD");
    std::string h, e, mixed;
    for (size_t k = 0; k < hcd.size(); ++k) {
        h += hcd[k];
        e += etd[k];
        mixed += hcd[k] + etd[k];
    }
    WriteFile(dir / "h.mgf", h);
    WriteFile(dir / "e.mgf", e);
    WriteFile(dir / "m.mgf", mixed);
    const auto two = RunFiles(dir, {"h.mgf", "e.mgf"});
    ASSERT_EQ(two.size(), 100u);
    EXPECT_EQ(RunFiles(dir, {"e.mgf", "h.mgf"}), two);  // swapped: the recorded activation wins
    EXPECT_EQ(RunFiles(dir, {"m.mgf"}), two);           // one file, HCD and ETD scans interleaved
}

// Converters seldom write the activation: swapped files are told apart by
// their fragment ions, and every pair comes out as in the ordered run.
TEST(PairedRuns, SwappedFilesWithoutActivation_TakenByTheirIons_SamePairs) {
    const std::string data = testutil::SharedData();
    if (data.empty()) GTEST_SKIP() << "shared test data absent";
    TempDir dir;
    WriteFile(dir / "h.mgf", ReadFile(data + "/simulated/paired100_hcd.mgf"));
    WriteFile(dir / "e.mgf", ReadFile(data + "/simulated/paired100_etd.mgf"));
    const auto ordered = RunFiles(dir, {"h.mgf", "e.mgf"});
    ASSERT_EQ(ordered.size(), 100u);
    EXPECT_EQ(RunFiles(dir, {"e.mgf", "h.mgf"}), ordered);
}
