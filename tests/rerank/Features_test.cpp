// The evidence features beyond the linear thirteen, on a spectrum made from
// the candidate's own ions: each change to the spectrum moves the features
// that should see it, and only as far as it should.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "../scoring/ResidueTable.h"
#include "rerank/Features.h"
#include "rerank/FragmentModel.h"
#include "rerank/ResiduePairs.h"
#include "scoring/BM25Score.h"

namespace {

constexpr double kProton = 1.00727647012, kWater = 18.0105647, kIsotope = 1.0033499999999993;
const std::string kPeptide = "LVNELTEFAK";

CPeak Peak(double mz, double intensity) {
    CPeak p;
    p.lfMz = p.lfKeyMz = mz;
    p.lfIntensity = intensity;
    return p;
}

struct CFeatureRun {
    CCondition cond;
    CSpectrum spec;
    std::vector<double> vPrefix;  // b ion m/z, sites 0 .. len-2
    std::vector<double> vSuffix;  // y ion m/z of the same sites

    CFeatureRun() {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_bFragTolPpm = false;
        cond.m_lfFragTol = 0.02;
        cond.m_bPepTolPpm = false;
        cond.m_lfPepTol = 0.02;
        cond.m_vHCDIonTypes = {testing_residues::Ion("b", 1, true, 0.0), testing_residues::Ion("y", 1, false, kWater)};
        double total = 0.0;
        for (char c : kPeptide) total += cond.m_lfAAMass[c - 'A'];
        double run = 0.0;
        for (size_t k = 0; k + 1 < kPeptide.size(); ++k) {
            run += cond.m_lfAAMass[kPeptide[k] - 'A'];
            vPrefix.push_back(run + kProton);
            vSuffix.push_back(total - run + kWater + kProton);
        }
        spec.m_lfPrecursorMH = total + kWater + kProton;
        spec.m_nCharge = 2;
        spec.m_strActivation = "HCD";
    }

    // The row of the peptide against the spectrum of these peaks.
    std::vector<double> Row(std::vector<CPeak> peaks, const CFragmentModel* model) {
        std::sort(peaks.begin(), peaks.end(), CPeak::Mz_Less);
        spec.m_vPeaks = peaks;
        spec.Create_Hash_Table();
        CResult r;
        r.strPeptide = kPeptide;
        CBM25Score scorer(&cond);
        CPeptideMatch match;
        scorer.Match(r, cond.m_vHCDIonTypes, spec, kMatchSites | kMatchSums | kMatchIons, match);
        CFeatures f;
        CResiduePairs pairs;
        f.Begin(spec, cond.m_vHCDIonTypes, model, &pairs);
        f.Add(r, match, cond);
        f.Finish({r});
        return std::vector<double>(f.Row(0), f.Row(0) + CFeatures::kCount);
    }
};

}  // namespace

TEST(Features, IonEvidence_FollowsWhatTheSpectrumShows) {
    CFeatureRun run;
    const size_t sites = kPeptide.size() - 1;
    // Every b and y ion at intensity 1 with its 13C peak at 0.3, changed by
    // each case.
    auto ions = [&](double shift, bool isotopes) {
        std::vector<CPeak> p;
        for (size_t k = 0; k < sites; ++k)
            for (double mz : {run.vPrefix[k], run.vSuffix[k]}) {
                p.push_back(Peak(mz + shift, 1.0));
                if (isotopes) p.push_back(Peak(mz + shift + kIsotope, 0.3));
            }
        return p;
    };
    const double nan = std::nan("");
    struct Case {
        const char* szName;
        std::function<std::vector<CPeak>()> peaks;
        double lfIonShare, lfErrorMean, lfErrorSpread, lfIsotopeSupport, lfShadowed;
    };
    const Case cases[] = {
        {"exact", [&] { return ions(0.0, true); }, 1.0, 0.0, 0.0, 1.0, 0.0},
        {"all 0.01 Da heavy", [&] { return ions(0.01, true); }, 1.0, 0.5, 0.0, 1.0, 0.0},
        {"no 13C peaks", [&] { return ions(0.0, false); }, 1.0, 0.0, 0.0, 0.0, 0.0},
        {"a stronger peak one 13C below each",
         [&] {
             auto p = ions(0.0, false);
             for (size_t k = 0, n = p.size(); k < n; ++k) p.push_back(Peak(p[k].lfMz - kIsotope, 2.0));
             return p;
         },
         1.0, 0.0, 0.0, 0.0, 1.0},
        {"half the sites' y ions +0.01, the rest -0.01",
         [&] {
             std::vector<CPeak> p;
             for (size_t k = 0; k < sites; ++k) p.push_back(Peak(run.vSuffix[k] + (k % 2 ? 0.01 : -0.01), 1.0));
             return p;
         },
         0.5, (sites % 2 ? -0.5 : 0.0) / sites, nan, nan, nan},
    };
    for (const Case& k : cases) {
        const std::vector<double> row = run.Row(k.peaks(), nullptr);
        EXPECT_NEAR(row[CFeatures::kIonShare], k.lfIonShare, 1e-12) << k.szName;
        EXPECT_NEAR(row[CFeatures::kMassErrorMean], k.lfErrorMean, 1e-9) << k.szName;
        if (!std::isnan(k.lfErrorSpread)) {
            EXPECT_NEAR(row[CFeatures::kMassErrorSpread], k.lfErrorSpread, 1e-9) << k.szName;
        }
        if (!std::isnan(k.lfIsotopeSupport)) {
            EXPECT_NEAR(row[CFeatures::kIsotopeSupport], k.lfIsotopeSupport, 1e-12) << k.szName;
            EXPECT_NEAR(row[CFeatures::kIsotopeShadowed], k.lfShadowed, 1e-12) << k.szName;
        }
        EXPECT_NEAR(row[CFeatures::kPrecursorError], 0.0, 1e-6) << k.szName;
        // No fragment model: no intensity evidence, rather than a made-up one.
        EXPECT_TRUE(std::isnan(row[CFeatures::kIntensityCosine])) << k.szName;
        EXPECT_TRUE(std::isnan(row[CFeatures::kUnexplainedTopPeaks])) << k.szName;
    }
    // Alternating errors of +-0.5 of the tolerance spread by 0.5.
    const std::vector<double> alternating = run.Row(cases[4].peaks(), nullptr);
    const double mean = alternating[CFeatures::kMassErrorMean];
    EXPECT_NEAR(alternating[CFeatures::kMassErrorSpread], std::sqrt(0.25 - mean * mean), 1e-9);

    // The flat model expects every ion equally: all seen at one intensity is
    // full agreement; the 13C peaks among the strongest are unexplained.
    const CFragmentModel flat(EFragmentKind::HCD);
    const std::vector<double> row = run.Row(ions(0.0, true), &flat);
    EXPECT_NEAR(row[CFeatures::kIntensityCosine], 1.0, 1e-6);
    EXPECT_NEAR(row[CFeatures::kPredictedMissedShare], 0.0, 1e-12);
    const double iso = std::sqrt(0.3), strongest = 2.0 * kPeptide.size();
    EXPECT_NEAR(row[CFeatures::kUnexplainedTopPeaks], (strongest - 2 * sites) * iso / (2 * sites + (strongest - 2 * sites) * iso),
                1e-9);
    // Half the ions gone: half the predicted intensity missed.
    std::vector<CPeak> half;
    for (size_t k = 0; k < sites; ++k) half.push_back(Peak(run.vPrefix[k], 1.0));
    EXPECT_NEAR(run.Row(half, &flat)[CFeatures::kPredictedMissedShare], 0.5, 1e-6);
}

TEST(ResiduePairs, PairsSeenOftenAreLikelier_TextRoundTrips) {
    CResiduePairs pairs;
    pairs.Fit({"PEPTIDEK", "PEPTIDEK", "AAKPEAAR", "LLSKR", "GGIPR"});
    // PE twice in distinct peptides (PEPTIDEK counts once), EA never.
    const double pe = pairs.MeanLogOdds("PE", 2), ea = pairs.MeanLogOdds("EA", 2);
    EXPECT_GT(pe, 0.0);
    EXPECT_LT(ea, pe);
    EXPECT_EQ(pairs.MeanLogOdds("IP", 2), pairs.MeanLogOdds("LP", 2));  // I is L
    EXPECT_EQ(pairs.MeanLogOdds("P", 1), 0.0);
    std::string text = pairs.Text();
    std::vector<std::pair<int, std::string>> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    for (int n = 2; std::getline(in, line); ++n) rows.emplace_back(n, line);
    CResiduePairs read;
    std::string error;
    ASSERT_TRUE(read.ParseRows(rows, error)) << error;
    EXPECT_EQ(read.Text(), text);
    rows[3].second += " 1";
    EXPECT_FALSE(read.ParseRows(rows, error));
    EXPECT_NE(error.find("line 5:"), std::string::npos) << error;
    // A value is read as strtod reads a whole word: with a sign, in
    // hexadecimal, an exact zero whatever its exponent, the smallest normal
    // double; not one that underflows to a subnormal or has junk after it.
    struct Case {
        const char* szWord;
        bool bRead;
        double lfValue;
    } cases[] = {
        {"+0.5", true, 0.5},   {"0x1p-1", true, 0.5},  {"-0", true, -0.0},
        {"0e-400", true, 0.0}, {"2.2250738585072014e-308", true, 2.2250738585072014e-308},
        {"1e-320", false, 0},  {"0.5x", false, 0},     {"1e309", false, 0},
    };
    const std::string others = rows[2].second.substr(rows[2].second.find(' '));  // a row's values but its first
    for (const auto& c : cases) {
        rows[3].second = c.szWord + others;
        ASSERT_EQ(read.ParseRows(rows, error), c.bRead) << c.szWord << ": " << error;
        if (c.bRead) {
            EXPECT_EQ(read.m_lfLogOdds[3][0], c.lfValue) << c.szWord;
            EXPECT_EQ(std::signbit(read.m_lfLogOdds[3][0]), std::signbit(c.lfValue)) << c.szWord;
        } else {
            EXPECT_NE(error.find(std::string("\"") + c.szWord + "\" is not a number"), std::string::npos) << error;
        }
    }
}
