// The scorer against a plain implementation of the same rules: the two must
// agree bit for bit on hand-made and on random peptide/spectrum pairs.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PlainScorer.h"
#include "ResidueTable.h"
#include "records/Result.h"
#include "scoring/BM25Score.h"

namespace {

using namespace testing_plain;

using testing_residues::Ion;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class BM25ReferenceTest : public ::testing::Test {
protected:
    BM25ReferenceTest() : scorer(&cond), plain(cond) {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_bFragTolPpm = false;
        cond.m_lfFragTol = 0.02;
        cond.m_strEnzymeSites = "KR";
        cond.m_strEnzymeTerm = "C";
        hcd = {Ion("b", 1, true, 0.0), Ion("y", 1, false, kWater), Ion("b2", 2, true, 0.0),
               Ion("y2", 2, false, kWater)};
        etd = {Ion("c", 1, true, kAmmonia), Ion("z", 1, false, kWater - 16.018724),
               Ion("c2", 2, true, kAmmonia), Ion("z2", 2, false, kWater - 16.018724)};
    }

    // A spectrum that explains part of peptide q: a random share of its
    // prefix/suffix ions and their neutral losses, off by up to about 30 ppm,
    // some internal fragments, and noise; intensities with deliberate ties.
    CSpectrum Make(std::mt19937& rng, const std::string& q, const std::string& activation, double nShift,
                   double cShift) {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<double> A;
        for (char ch : q) A.push_back(Mass(ch));
        if (std::fabs(nShift) > 0.1) A.front() += nShift;
        if (std::fabs(cShift) > 0.1) A.back() += cShift;
        double total = 0;
        for (double a : A) total += a;
        std::vector<double> mzs;
        double pre = 0;
        for (size_t l = 1; l < A.size(); ++l) {
            pre += A[l - 1];
            const double suf = total - pre;
            const double cands[] = {pre + kProton, suf + kWater + kProton, pre + kAmmonia + kProton,
                                    suf + kWater - 16.018724 + kProton, (pre + 2 * kProton) / 2,
                                    pre + kProton - kWater, pre + kProton - 27.99491463,
                                    suf + kWater + kProton - kAmmonia};
            for (double m : cands)
                if (u(rng) < 0.6) mzs.push_back(m * (1 + (u(rng) - 0.5) * 6e-5));
        }
        for (size_t s = 1; s + 1 < A.size(); ++s)
            if (u(rng) < 0.5) mzs.push_back(A[s] + A[s + 1] + kProton + (u(rng) - 0.5) * 0.01);
        for (int k = 0; k < 15; ++k) mzs.push_back(60 + u(rng) * total);
        std::sort(mzs.begin(), mzs.end());
        CSpectrum s;
        s.m_strTitle = "r";
        s.m_lfPrecursorMH = total + kWater + kProton + (u(rng) - 0.5) * 0.01;
        s.m_nCharge = 1 + static_cast<int>(rng() % 3);
        s.m_strActivation = activation;
        const double levels[] = {0.1, 0.25, 0.5, 1.0};
        for (double m : mzs) {
            CPeak p;
            p.lfMz = p.lfKeyMz = m;
            p.lfIntensity = u(rng) < 0.3 ? levels[rng() % 4] : u(rng);
            if (u(rng) < 0.05) p.lfIntensity = 0.0;
            s.m_vPeaks.push_back(p);
        }
        s.Create_Hash_Table();
        return s;
    }

    CCondition cond;
    CBM25Score scorer;
    PlainScorer plain;
    std::vector<CIonType> hcd, etd;
};

TEST_F(BM25ReferenceTest, Score_HandMadePeptides_BitIdenticalToPlainRules) {
    std::mt19937 rng(7);
    struct Case { std::string q; const char* act; double n; double c; };
    const Case cases[] = {{"GAS", "HCD", 0, 0},           {"PEPTIDEK", "HCD", 0, 0},
                          {"AQGQLK", "HCD", 42.010565, 0}, {"QQQ", "ETD", 0, 0},
                          {"SAMPLER", "ETD", 0, 0.984016}, {"GK", "HCD", 0.05, 0.05}};
    for (const Case& c : cases) {
        CSpectrum s = Make(rng, c.q, c.act, c.n, c.c);
        CResult r;
        r.strPeptide = c.q;
        r.lfNTermShift = c.n;
        r.lfCTermShift = c.c;
        const std::vector<CIonType>& ions = std::string(c.act) == "HCD" ? hcd : etd;
        const double want = plain.Score(r, ions, s);
        const double got = scorer.Score(r, ions, s);
        EXPECT_TRUE(SameBits(got, want)) << c.q << " " << got << " vs " << want;
        EXPECT_GT(got, 0.0) << c.q;
    }
}

// Peptides of up to 40 residues so that runs of six matched sites occur;
// both tolerance kinds; both terminus words.
TEST_F(BM25ReferenceTest, Score_RandomPeptides_BitIdenticalToPlainRules) {
    std::mt19937 rng(2024);
    const std::string letters = "ACDEFGHKLMNPQRSTVWY";
    int withRun = 0;
    for (int round = 0; round < 300; ++round) {
        cond.m_bFragTolPpm = round % 3 == 0;
        cond.m_lfFragTol = cond.m_bFragTolPpm ? 20.0 : 0.02;
        cond.m_strEnzymeTerm = round % 4 == 0 ? "N" : "C";
        std::string q;
        const size_t len = 2 + rng() % 39;
        for (size_t k = 0; k < len; ++k) q += letters[rng() % letters.size()];
        const bool isHcd = rng() % 2 == 0;
        const double n = rng() % 5 == 0 ? 42.010565 : 0.0, c = rng() % 7 == 0 ? 0.984016 : 0.0;
        CSpectrum s = Make(rng, q, isHcd ? "HCD" : "ETD", n, c);
        CResult r;
        r.strPeptide = q;
        r.lfNTermShift = n;
        r.lfCTermShift = c;
        const std::vector<CIonType>& ions = isHcd ? hcd : etd;
        const double want = plain.Score(r, ions, s);
        const double got = scorer.Score(r, ions, s);
        ASSERT_TRUE(SameBits(got, want)) << "round " << round << " " << q << " " << got << " vs " << want;
        for (size_t k = 0; k + 6 <= scorer.m_vBScore.size(); ++k) {
            bool all = true;
            for (size_t m = k; m < k + 6; ++m) all = all && scorer.m_vBScore[m] >= 0.01;
            if (all) { ++withRun; break; }
        }
    }
    EXPECT_GT(withRun, 10);  // the run term was exercised
}

}  // namespace

// A report scores a spectrum's peptides in byte order, remembering the
// spectrum: neighbours share prefixes (replayed) and suffix masses (looked
// up). Each score and match must equal the plain rules and a scorer that
// remembers nothing, whatever came before: shared and changed heads, tails,
// terminal shifts and lengths, another ion set on the same spectrum, and
// asking for the ions' peaks in between.
TEST_F(BM25ReferenceTest, RememberedSpectrum_ScoresInByteOrder_BitIdentical) {
  // Da and ppm tolerances: the remembered spectrum's map of where peaks can
  // match is built from either.
  for (const bool ppm : {false, true}) {
    cond.m_bFragTolPpm = ppm;
    cond.m_lfFragTol = ppm ? 20.0 : 0.02;
    std::mt19937 rng(77);
    const std::string letters = "ACDEFGHKLMNPQRSTVWY";
    CBM25Score fresh(&cond);
    for (int round = 0; round < 40; ++round) {
        std::string base;
        const size_t len = 4 + rng() % 30;
        for (size_t k = 0; k < len; ++k) base += letters[rng() % letters.size()];
        CSpectrum s = Make(rng, base, round % 3 == 0 ? "ETD" : "HCD", 0.0, 0.0);
        std::vector<CResult> peptides;
        for (int v = 0; v < 30; ++v) {
            CResult r;
            r.strPeptide = base;
            std::string& q = r.strPeptide;
            const size_t at = rng() % q.size();
            switch (v % 5) {
                case 0: q[at] = letters[rng() % letters.size()]; break;           // one residue
                case 1: q = q.substr(0, at) + q.substr(at, 3 + rng() % 3); break;  // another tail
                case 2: q = q.substr(0, 1 + rng() % 2) + q.substr(at); break;     // another head
                case 3: r.lfNTermShift = 42.010565; break;
                default: r.lfCTermShift = 0.984016; break;
            }
            peptides.push_back(r);
        }
        std::sort(peptides.begin(), peptides.end(),
                  [](const CResult& a, const CResult& b) { return a.strPeptide < b.strPeptide; });
        scorer.RememberSpectra(&s, nullptr);
        for (size_t i = 0; i < peptides.size(); ++i) {
            const CResult& r = peptides[i];
            const std::vector<CIonType>& ions = i % 7 == 3 ? etd : hcd;
            const unsigned detail = kMatchSites | kMatchSums | kMatchTotal | (i % 5 == 2 ? kMatchIons : 0u);
            CPeptideMatch got, want;
            scorer.Match(r, ions, s, detail, got);
            fresh.Match(r, ions, s, detail, want);
            ASSERT_TRUE(SameBits(got.lfScore, plain.Score(r, ions, s))) << round << " " << r.strPeptide;
            ASSERT_TRUE(SameBits(got.lfScore, want.lfScore)) << round << " " << r.strPeptide;
            EXPECT_TRUE(SameBits(got.lfTotalTerm, want.lfTotalTerm));
            EXPECT_TRUE(SameBits(got.lfMatchedIntensity, want.lfMatchedIntensity));
            EXPECT_EQ(got.vSites, want.vSites);
            EXPECT_EQ(got.vIonPeaks, want.vIonPeaks);
        }
        scorer.ForgetSpectra();
    }
  }
}
