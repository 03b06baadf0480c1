// The scorer on simulated spectra of known peptides: the true peptide should
// outscore reorderings of its own residues (same precursor mass) for most
// spectra. Skips when the shared test data is absent.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ResidueTable.h"
#include "records/Result.h"
#include "scoring/BM25Score.h"

namespace {

constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;

// Minimal MGF reading for the test: title, precursor, charge, peaks;
// intensities scaled to the strongest peak as the run driver does.
std::vector<CSpectrum> ReadMgf(const std::string& path, const std::string& activation) {
    std::vector<CSpectrum> out;
    std::ifstream in(path);
    std::string line;
    CSpectrum s;
    double pepmass = 0.0;
    while (std::getline(in, line)) {
        if (line == "BEGIN IONS") {
            s = CSpectrum();
            s.m_nCharge = 2;
        } else if (line.rfind("TITLE=", 0) == 0) {
            s.m_strTitle = line.substr(6);
        } else if (line.rfind("PEPMASS=", 0) == 0) {
            pepmass = std::stod(line.substr(8));
        } else if (line.rfind("CHARGE=", 0) == 0) {
            s.m_nCharge = std::stoi(line.substr(7));
        } else if (line == "END IONS") {
            s.m_lfPrecursorMH = s.m_nCharge * pepmass - (s.m_nCharge - 1) * kProton;
            double top = 0.0;
            for (const CPeak& p : s.m_vPeaks) top = std::max(top, p.lfIntensity);
            for (CPeak& p : s.m_vPeaks) {
                p.lfKeyMz = p.lfMz;
                if (top > 0) p.lfIntensity /= top;
            }
            s.m_strActivation = activation;
            s.Create_Hash_Table();
            out.push_back(s);
        } else if (!line.empty() && (line[0] >= '0' && line[0] <= '9')) {
            std::istringstream ls(line);
            CPeak p;
            ls >> p.lfMz >> p.lfIntensity;
            s.m_vPeaks.push_back(p);
        }
    }
    return out;
}

std::map<std::string, std::string> ReadTruth(const std::string& path) {
    std::map<std::string, std::string> out;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string title, pep;
        ls >> title >> pep;
        std::string plain;
        for (char c : pep)
            if (c >= 'A' && c <= 'Z') plain += c;  // drops "[+57.021]"
        out[title] = plain;
    }
    return out;
}

using testing_residues::Ion;

// Fraction check: the true peptide scores above 20 reorderings of its
// residues (C-terminal residue kept) in at least 80 % of the spectra.
void CheckTrueFirst(const std::string& mgf, const std::string& truthFile, const std::string& activation,
                    const std::vector<CIonType>& ions) {
    const std::string dir = VEMRA_SOURCE_DIR "/../shared/data/simulated/";
    std::vector<CSpectrum> spectra = ReadMgf(dir + mgf, activation);
    if (spectra.empty()) GTEST_SKIP() << "shared test data absent";
    auto truth = ReadTruth(dir + truthFile);

    CCondition cond;
    testing_residues::FillBuiltInResidues(cond);
    testing_residues::SetResidue(cond, 'C', 160.03065);
    cond.m_lfFragTol = 20;
    cond.m_bFragTolPpm = true;
    cond.m_strEnzymeSites = "KR";
    cond.m_strEnzymeTerm = "C";
    CBM25Score scorer(&cond);

    std::mt19937 rng(7);
    int rankOne = 0, total = 0;
    for (const CSpectrum& spec : spectra) {
        auto it = truth.find(spec.m_strTitle);
        if (it == truth.end() || it->second.size() < 4) continue;
        ++total;
        CResult r;
        r.strPeptide = it->second;
        const double trueScore = scorer.Score(r, ions, spec);
        EXPECT_TRUE(std::isfinite(trueScore));
        bool best = true;
        for (int d = 0; d < 20 && best; ++d) {
            std::string decoy = it->second;
            std::shuffle(decoy.begin(), decoy.end() - 1, rng);
            if (decoy == it->second) continue;
            r.strPeptide = decoy;
            if (scorer.Score(r, ions, spec) >= trueScore) best = false;
        }
        rankOne += best;
    }
    ASSERT_GT(total, 50);
    std::cout << "[info]\ttrue peptide first in " << rankOne << " of " << total << " " << mgf << "\n";
    EXPECT_GE(rankOne * 10, total * 8);
}

TEST(BM25Data, SimulatedHCD_TruePeptideOutscoresReorderings) {
    CheckTrueFirst("hcd100_hcd.mgf", "hcd100_truth.tsv", "HCD",
                   {Ion("b", 1, true, 0.0), Ion("y", 1, false, kWater), Ion("b", 2, true, 0.0),
                    Ion("y", 2, false, kWater)});
}

TEST(BM25Data, SimulatedETD_TruePeptideOutscoresReorderings) {
    // c = b + NH3; z-dot = y - NH3 + H; z+1 one hydrogen heavier.
    const double zdot = kWater - 17.026549105 + 1.00782503207;
    CheckTrueFirst("etd100_etd.mgf", "etd100_truth.tsv", "ETD",
                   {Ion("c", 1, true, 17.026549105), Ion("z", 1, false, zdot),
                    Ion("z+1", 1, false, zdot + 1.00782503207), Ion("c", 2, true, 17.026549105)});
}

}  // namespace
