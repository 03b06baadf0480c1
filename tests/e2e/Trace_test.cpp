// The trace of known peptides (trace=1): the example HCD spectra plus a
// spectrum made with almost no fragment peaks, an answer that cannot fit its
// precursor and a window that leaves some spectra out. Each stage must agree
// with what the run did, and the results must not depend on the trace.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "../TestUtil.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::SetKey;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSource = VEMRA_SOURCE_DIR;


// title -> peptides of the record, rank order (I written as L).
std::map<std::string, std::vector<std::string>> Records(const std::string& text) {
    std::map<std::string, std::vector<std::string>> out;
    for (const CResultRecord& r : testutil::ReadRecords(text)) {
        std::vector<std::string>& peptides = out[r.strTitle];
        for (CResultPeptide p : r.vPeptides) {
            for (char& ch : p.strPeptide)
                if (ch == 'I') ch = 'L';
            peptides.push_back(p.strPeptide);
        }
    }
    return out;
}

}  // namespace

TEST(Trace, StagesAgreeWithTheRunAndLeaveResultsAlone) {
    TempDir dir;
    // AEFVEVTK (MH+ 922.488) with only b2 and b3: four prefixes in a row
    // without any peak.
    std::string mgf = ReadFile(kSource + "/examples/hcd_example.mgf");
    mgf += "BEGIN IONS\nTITLE=synth.1\nPEPMASS=461.747462\nCHARGE=2+\n201.08698 1000\n348.15539 800\nEND IONS\n";
    // The same, written one 13C heavier: without complementary pairs the
    // lighter precursor is not read, and the trace says so.
    mgf += "BEGIN IONS\nTITLE=synth.2\nPEPMASS=462.249139\nCHARGE=2+\n201.08698 1000\n348.15539 800\nEND IONS\n";
    WriteFile(dir / "spectra.mgf", mgf);
    std::string answers = ReadFile(kSource + "/examples/answers.txt");
    answers = std::regex_replace(answers, std::regex("(hcd_example.003\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\t)AEFVEVTK"),
                                 "$1GGGGGGGGGGGGK");
    answers = std::regex_replace(answers, std::regex("(etd_example.003\t[^\t]*\t[^\t]*\t[^\t]*\t[^\t]*\t)AEFVEVTK"),
                                 "$1GGGGGGGGGGGGK");
    answers += "90\tsynth.1\t922.488\t2\t1\tgen\tAEFVEVTK\thcd\t0\tYES\n";
    answers += "90\tsynth.1\t922.488\t2\t1\tgen\tAEFVEVTK\thcd\t0\tYES\n";
    answers += "91\tsynth.2\t923.491\t2\t1\tgen\tAEFVEVTK\thcd\t0\tYES\n";
    answers += "91\tsynth.2\t923.491\t2\t1\tgen\tAEFVEVTK\thcd\t0\tYES\n";
    WriteFile(dir / "answers.txt", answers);

    std::string param = ReadFile(kSource + "/examples/hcd.param");
    param = SetKey(param, "spec_path1", dir / "spectra.mgf");
    param = SetKey(param, "ans_path", dir / "answers.txt");
    param = SetKey(param, "out_path", dir / "out");
    param = SetKey(param, "thread", "2");
    param = SetKey(param, "mass_upper_bound", "1150");
    WriteFile(dir / "on.param", SetKey(param, "trace", "1"));
    WriteFile(dir / "off.param", SetKey(param, "trace", "0"));
    for (const char* run : {"on", "off"}) {
        auto r = RunVemra({std::string(run) + ".param", run}, dir.path());
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    const std::string results = ReadFile(dir / "out/on/spectra.txt");
    EXPECT_EQ(results, ReadFile(dir / "out/off/spectra.txt"));
    EXPECT_FALSE(testutil::Exists(dir / "out/off/spectra.trace.tsv"));

    const auto records = Records(results);
    std::map<std::string, std::string> answer;  // title -> peptide
    {
        std::istringstream in(answers);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string id, title, m, z, n, gen, pep;
            f >> id >> title >> m >> z >> n >> gen >> pep;
            answer[title] = pep;
        }
    }
    std::istringstream trace(ReadFile(dir / "out/on/spectra.trace.tsv"));
    std::string line;
    std::getline(trace, line);
    EXPECT_EQ(line, "title\tstage\tdetail");
    std::map<std::string, int> counts;
    std::map<std::string, std::string> stageOf, detailOf;
    while (std::getline(trace, line)) {
        const size_t a = line.find('\t'), b = line.find('\t', a + 1);
        const std::string title = line.substr(0, a), stage = line.substr(a + 1, b - a - 1), detail = line.substr(b + 1);
        ++counts[stage];
        stageOf[title] = stage;
        detailOf[title] = detail;
        SCOPED_TRACE(line);
        ASSERT_TRUE(answer.count(title));
        const auto rec = records.find(title);
        // Outside the window exactly when the run wrote no record.
        EXPECT_EQ(stage == "outside_mass_window", rec == records.end());
        if (stage == "rank_1") {
            ASSERT_FALSE(rec->second.empty());
            EXPECT_EQ(rec->second[0], answer[title]);
        } else if (stage == "ranked_below_1") {
            const size_t rank = std::stoul(detail.substr(detail.find(' ') + 1));
            ASSERT_LE(rank, rec->second.size());
            EXPECT_GT(rank, 1u);
            EXPECT_EQ(rec->second[rank - 1], answer[title]);
        } else if (rec != records.end()) {
            // Lost before the scored list: not among the written peptides.
            for (const std::string& p : rec->second) EXPECT_NE(p, answer[title]);
        }
    }
    // Every hcd_example title with an answer and the made-up spectrum.
    EXPECT_EQ(stageOf.size(), 12u);
    EXPECT_EQ(stageOf["synth.1"], "node_no_peak");
    EXPECT_EQ(stageOf["synth.2"], "answer_mass_mismatch");
    EXPECT_NE(detailOf["synth.2"].find("fits the precursor one 13C lighter"), std::string::npos) << detailOf["synth.2"];
    EXPECT_EQ(stageOf["hcd_example.003"], "answer_mass_mismatch");
    EXPECT_EQ(stageOf["hcd_example.001"], "outside_mass_window");
    EXPECT_GE(counts["rank_1"], 1);
    // The summary counts the same rows.
    const std::string json = ReadFile(dir / "out/on/spectra.summary.json");
    for (const auto& [stage, n] : counts) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(json, m, std::regex("\"" + stage + "\": ([0-9]+)"))) << stage;
        EXPECT_EQ(std::stoi(m[1]), n) << stage;
    }
}
