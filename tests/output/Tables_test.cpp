// The mzTab and tab-separated result tables, read back as a downstream tool
// would: every spectrum appears, the mandatory mzTab fields are there, and
// the calculated m/z agrees with the peptide's own mass.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "../TestUtil.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kSource = VEMRA_SOURCE_DIR;

std::vector<std::vector<std::string>> Split(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        size_t p = 0;
        for (size_t t; (t = line.find('\t', p)) != std::string::npos; p = t + 1) cells.push_back(line.substr(p, t - p));
        cells.push_back(line.substr(p));
        rows.push_back(cells);
    }
    return rows;
}

// Monoisotopic residue masses (carbamidomethyl C), written out independently.
double PeptideMH(const std::string& seq) {
    static const std::map<char, double> mass = {
        {'G', 57.02146}, {'A', 71.03711}, {'S', 87.03203}, {'P', 97.05276}, {'V', 99.06841}, {'T', 101.04768},
        {'C', 160.03065}, {'L', 113.08406}, {'I', 113.08406}, {'N', 114.04293}, {'D', 115.02694}, {'Q', 128.05858},
        {'K', 128.09496}, {'E', 129.04259}, {'M', 131.04049}, {'H', 137.05891}, {'F', 147.06841}, {'R', 156.10111},
        {'Y', 163.06333}, {'W', 186.07931}};
    double m = 18.0105647 + 1.00727647012;
    for (char aa : seq) m += mass.at(aa);
    return m;
}

}  // namespace

TEST(Tables, HcdExample_MzTabAndTsvHoldEverySpectrum_NativeUnchanged) {
    TempDir dir;
    std::string params = ReadFile(kSource + "/tests/e2e/params/hcd.param");
    params = std::regex_replace(params, std::regex("=examples/"), "=" + kSource + "/examples/");
    params = std::regex_replace(params, std::regex("\nout_path=[^\n]*"), "\nout_path=out");
    // Two spectra more: one outside the mass window, one without peaks.
    WriteFile(dir / "x.mgf", ReadFile(kSource + "/examples/hcd_example.mgf") +
                                 "BEGIN IONS\nTITLE=far\nPEPMASS=4000\nCHARGE=2\n100 1\nEND IONS\n"
                                 "BEGIN IONS\nTITLE=bare\nPEPMASS=600.3\nCHARGE=2\nEND IONS\n");
    params = std::regex_replace(params, std::regex("spec_path1=[^\n]*"), "spec_path1=x.mgf");
    WriteFile(dir / "run.param", params + "\noutput_format=native, mzTab ,TSV\n");
    const auto r = RunVemra({"run.param"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out/vemra+/x.txt"),
              ReadFile(kSource + "/tests/e2e/golden/hcd_example.txt") + "S12\tbare\t\n\n");

    const auto mztab = Split(ReadFile(dir / "out/vemra+/x.mztab"));
    std::map<std::string, std::string> mtd;
    std::vector<std::string> psh;
    size_t psm = 0, com = 0;
    for (const auto& row : mztab) {
        if (row[0] == "MTD") mtd[row[1]] = row[2];
        if (row[0] == "PSH") psh = row;
        if (row[0] == "COM") ++com;
        if (row[0] != "PSM") continue;
        ++psm;
        ASSERT_EQ(row.size(), psh.size());
        std::map<std::string, std::string> cell;
        for (size_t k = 0; k < psh.size(); ++k) cell[psh[k]] = row[k];
        const int z = std::stoi(cell["charge"]);
        const double calc = (PeptideMH(cell["sequence"]) + (z - 1) * 1.00727647012) / z;
        EXPECT_NEAR(std::stod(cell["calc_mass_to_charge"]), calc, 0.001) << cell["sequence"];
        EXPECT_TRUE(std::regex_match(cell["spectra_ref"], std::regex("ms_run\\[1\\]:index=[0-9]+")));
    }
    for (const char* key : {"mzTab-version", "mzTab-mode", "mzTab-type", "description", "ms_run[1]-location",
                            "psm_search_engine_score[1]", "fixed_mod[1]", "variable_mod[1]", "software[1]"})
        EXPECT_TRUE(mtd.count(key)) << key;
    EXPECT_EQ(mtd["mzTab-version"], "1.0.0");
    EXPECT_EQ(mtd["fixed_mod[1]-site"], "C");
    for (const char* col : {"sequence", "PSM_ID", "accession", "unique", "database", "database_version",
                            "search_engine", "search_engine_score[1]", "modifications", "retention_time", "charge",
                            "exp_mass_to_charge", "calc_mass_to_charge", "spectra_ref", "pre", "post", "start", "end"})
        EXPECT_NE(std::find(psh.begin(), psh.end(), col), psh.end()) << col;
    EXPECT_EQ(psm, 100u);  // ten spectra, ten candidates each
    EXPECT_EQ(com, 2u);    // the spectrum outside the window and the one without peaks

    const auto tsv = Split(ReadFile(dir / "out/vemra+/x.tsv"));
    ASSERT_EQ(tsv.size(), 1u + 100u + 2u);
    EXPECT_EQ(tsv[0][0], "file");
    EXPECT_EQ(tsv[101][2], "far");
    EXPECT_EQ(tsv[101][12], "outside_mass_window");
    EXPECT_EQ(tsv[102][12], "no_peaks_after_cleaning");
    for (const auto& row : tsv) EXPECT_EQ(row.size(), tsv[0].size());
}
