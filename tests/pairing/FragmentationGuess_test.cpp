// Telling a file's fragmentation from its spectra: the example files,
// hand-made b/y and c/z. spectra at high and low resolution, spectra without
// fragments, and the shared simulated files.

#include "pairing/FragmentationGuess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/Masses.h"
#include "input/MGFInput.h"

namespace {

const std::string kExamples = VEMRA_SOURCE_DIR "/examples/";
const std::string kSim = VEMRA_SOURCE_DIR "/../shared/data/simulated/";

std::vector<CSpectrum> ReadMgf(const std::string& path) {
    CMGFInput in;
    in.Count(path);
    std::vector<CSpectrum> spectra;
    in.Browse(spectra, CInput::ALL);
    return spectra;
}

CPeak Peak(double mz, double intensity) {
    CPeak p;
    p.lfMz = mz;
    p.lfIntensity = intensity;
    return p;
}

// Doubly charged, from 2+ precursors: every prefix of the peptide gives its
// N-terminal and C-terminal ion (b/y or c/z.), weaker 13C peaks beside
// them, and noise peaks; m/z rounded to 0.1 for low resolution.
std::vector<CSpectrum> MakeSpectra(bool etd, bool lowRes, unsigned int seed) {
    const std::vector<std::string> peptides = {"LVNELTEFAK", "YLYEIAR", "HPYFYAPELLYYANK", "DDSPDLPK",
                                               "QTALVELLK", "AEFVEVTK", "GLVLLAFSQYLQQCPFDEHVK", "SLHTLFGDELCK"};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<CSpectrum> out;
    for (const std::string& pep : peptides) {
        const auto residue = [](char aa) {
            switch (aa) {
                case 'A': return 71.03711; case 'C': return 160.03065; case 'D': return 115.02694;
                case 'E': return 129.04259; case 'F': return 147.06841; case 'G': return 57.02146;
                case 'H': return 137.05891; case 'K': return 128.09496; case 'L': return 113.08406;
                case 'N': return 114.04293; case 'P': return 97.05276; case 'Q': return 128.05858;
                case 'R': return 156.10111; case 'S': return 87.03203; case 'T': return 101.04768;
                case 'V': return 99.06841; case 'W': return 186.07931; default: return 163.06333;  // Y
            }
        };
        double mh = mass::kWater + mass::kProton;
        for (char aa : pep) mh += residue(aa);
        CSpectrum s;
        s.m_lfPrecursorMH = mh;
        s.m_nCharge = 2;
        const auto add = [&](double mz, double intensity) {
            s.m_vPeaks.push_back(Peak(lowRes ? std::round(mz * 10.0) / 10.0 : mz * (1.0 + (unit(rng) - 0.5) * 1e-5),
                                      intensity));
        };
        double prefix = 0.0;
        for (size_t k = 0; k + 1 < pep.size(); ++k) {
            prefix += residue(pep[k]);
            const double n = etd ? prefix + 18.03383 : prefix + mass::kProton;
            const double c = etd ? mh - prefix - 16.01872 : mh - prefix;
            for (double ion : {n, c}) {
                const double intensity = 1e4 + 1e6 * unit(rng);
                add(ion, intensity);
                add(ion + mass::kIsotopeSpacing, intensity * 0.4);
            }
        }
        for (size_t k = 0; k < pep.size(); ++k) add(60.0 + (mh - 60.0) * unit(rng), 1e3 + 1e5 * unit(rng));
        out.push_back(s);
    }
    return out;
}

TEST(FragmentationGuess, ExampleFiles_ClassifiedAsMade) {
    const struct {
        const char* file;
        EFragmentation expect;
    } cases[] = {
        {"hcd_example.mgf", EFragmentation::HCD_LIKE},
        {"paired_hcd.mgf", EFragmentation::HCD_LIKE},
        {"etd_example.mgf", EFragmentation::ETD_LIKE},
        {"paired_etd.mgf", EFragmentation::ETD_LIKE},
    };
    for (const auto& c : cases) {
        const std::vector<CSpectrum> spectra = ReadMgf(kExamples + c.file);
        ASSERT_EQ(spectra.size(), 10u) << c.file;
        for (bool ppm : {true, false}) {
            CFragmentationGuess guess(ppm ? 20.0 : 0.5, ppm);
            const CFragmentationVerdict v = guess.Guess(spectra);
            EXPECT_EQ(v.eFragmentation, c.expect) << c.file << (ppm ? " 20 ppm" : " 0.5 Da") << " score " << v.lfScore;
            EXPECT_EQ(v.evidence.nSpectra, 10u);
        }
    }
}

TEST(FragmentationGuess, HandMadeComplements_HighAndLowResolution) {
    for (bool etd : {false, true}) {
        for (bool lowRes : {false, true}) {
            const std::vector<CSpectrum> spectra = MakeSpectra(etd, lowRes, 7);
            CFragmentationGuess guess(lowRes ? 0.5 : 20.0, !lowRes);
            const CFragmentationVerdict v = guess.Guess(spectra);
            const std::string what = std::string(etd ? "c/z." : "b/y") + (lowRes ? " 0.5 Da" : " 20 ppm");
            EXPECT_EQ(v.eFragmentation, etd ? EFragmentation::ETD_LIKE : EFragmentation::HCD_LIKE)
                << what << " score " << v.lfScore;
            // Every spectrum leans the right way on its own.
            EXPECT_EQ(etd ? v.nSpectraEtd : v.nSpectraHcd, spectra.size()) << what;
        }
    }
}

TEST(FragmentationGuess, Evidence_IndependentOfPeakOrderAndIntensityScale) {
    std::vector<CSpectrum> spectra = MakeSpectra(true, false, 3);
    CFragmentationGuess guess(20.0, true);
    const CFragmentationVerdict before = guess.Guess(spectra);
    for (CSpectrum& s : spectra) {
        std::reverse(s.m_vPeaks.begin(), s.m_vPeaks.end());
        for (CPeak& p : s.m_vPeaks) p.lfIntensity *= 1e-7;  // relative intensities, as after normalisation
    }
    const CFragmentationVerdict after = guess.Guess(spectra);
    EXPECT_EQ(after.lfScore, before.lfScore);
    EXPECT_EQ(after.evidence.lfPairsCZ, before.evidence.lfPairsCZ);
}

TEST(FragmentationGuess, NoFragments_Undecided) {
    // Spectra without peaks, with one peak, without a precursor, and many
    // spectra of noise peaks only (chance pairs, however many, decide
    // nothing), at high and low resolution.
    std::vector<CSpectrum> unusable(3);
    unusable[0].m_lfPrecursorMH = 1200.0;
    unusable[1].m_lfPrecursorMH = 1200.0;
    unusable[1].m_vPeaks = {Peak(300.0, 10.0), Peak(900.0, 0.0), Peak(901.0, -1.0)};
    unusable[2].m_lfPrecursorMH = std::numeric_limits<double>::quiet_NaN();
    unusable[2].m_vPeaks = {Peak(300.0, 10.0), Peak(901.0, 10.0)};
    CFragmentationGuess guess(20.0, true);
    const CFragmentationVerdict none = guess.Guess(unusable);
    EXPECT_EQ(none.eFragmentation, EFragmentation::UNDECIDED);
    EXPECT_EQ(none.evidence.nSpectra, 0u);
    EXPECT_EQ(none.lfScore, 0.0);

    for (bool lowRes : {false, true}) {
        std::mt19937 rng(lowRes ? 5 : 6);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::vector<CSpectrum> noise(200);
        for (CSpectrum& s : noise) {
            s.m_lfPrecursorMH = 800.0 + 2200.0 * unit(rng);
            s.m_nCharge = 2 + static_cast<int>(rng() % 3);
            for (int k = 0; k < 150; ++k) s.m_vPeaks.push_back(Peak(60.0 + (s.m_lfPrecursorMH - 60.0) * unit(rng), 1.0 + 1e4 * unit(rng)));
        }
        CFragmentationGuess g(lowRes ? 0.5 : 20.0, !lowRes);
        const CFragmentationVerdict v = g.Guess(noise);
        EXPECT_EQ(v.eFragmentation, EFragmentation::UNDECIDED) << "low res " << lowRes << " score " << v.lfScore;
        EXPECT_LT(std::fabs(v.lfScore), 3.0);
        EXPECT_EQ(v.evidence.nSpectra, 200u);
    }
}

TEST(FragmentationGuess, SharedSimulatedFiles_Right) {
    if (!std::filesystem::exists(kSim)) GTEST_SKIP() << "shared data absent";
    const struct {
        const char* file;
        EFragmentation expect;
    } cases[] = {
        {"hcd100_hcd.mgf", EFragmentation::HCD_LIKE},
        {"etd100_etd.mgf", EFragmentation::ETD_LIKE},
        {"paired100_hcd.mgf", EFragmentation::HCD_LIKE},
        {"paired100_etd.mgf", EFragmentation::ETD_LIKE},
    };
    CFragmentationGuess guess(20.0, true);
    for (const auto& c : cases) {
        const std::vector<CSpectrum> spectra = ReadMgf(kSim + c.file);
        EXPECT_EQ(guess.Guess(spectra).eFragmentation, c.expect) << c.file;
        // The first 20 spectra already tell, as a driver's first look would.
        guess.Clear();
        for (size_t i = 0; i < 20 && i < spectra.size(); ++i) guess.Add(spectra[i]);
        EXPECT_EQ(guess.Verdict().eFragmentation, c.expect) << c.file << ", first 20 spectra";
    }
}

}  // namespace
