// The evaluate subcommand's metrics on a tiny case checked by hand.

#include <gtest/gtest.h>

#include "../TestUtil.h"
#include "evaluate/Evaluate.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

CEvalPeptide Parse(const std::string& text) {
    CEvalPeptide p;
    EXPECT_TRUE(CEvaluate::ParsePeptide(text, p)) << text;
    return p;
}

}  // namespace

TEST(Evaluate, ExactMatch_ModificationRules_AsDocumented) {
    struct Case { const char* result; const char* truth; bool equal; };
    const Case cases[] = {
        {"PEPTIDEK", "PEPTLDEK", true},                          // I = L
        {"CGHK", "C[+57.021]GHK", true},                         // carbamidomethyl is fixed
        {"M[+15.995]PK", "M[+15.994915]PK", true},               // deltas within 0.01 Da
        {"MPK", "M[+15.994915]PK", false},                       // unmodified never matches a variable mod
        {"M[+15.995]PK", "MPK", false},
        {"[+42.011]-APK", "[+42.010565]-APK", true},
        {"nAPK", "[+42.010565]-APK", true},                      // "n" mark: terminal mod of unknown mass
        {"Q[-17.027]AK", "[-17.026549]-QAK", true},              // N-terminal delta belongs to residue 1
        {"N[+0.984]AK", "D AK", false},
    };
    for (const Case& c : cases) {
        CEvalPeptide truth;
        if (!CEvaluate::ParsePeptide(c.truth, truth)) {
            EXPECT_FALSE(c.equal) << c.truth;  // "D AK" is no peptide
            continue;
        }
        EXPECT_EQ(CEvaluate::ExactMatch(Parse(c.result), truth), c.equal) << c.result << " vs " << c.truth;
    }
}

TEST(Evaluate, Compute_TinyCase_RecallPrecisionAndCurve) {
    // s1: exact. s2: GG for N (prefix masses meet again after GG/N: the
    // residues G, G don't match N, the rest do): 2 of 4 predicted residues
    // match; s3: one residue wrong (K for R): 3 of 4. s4: no result.
    TempDir dir;
    WriteFile(dir / "truth.tsv",
              "title\tpeptide\n"
              "s1\tPEPTIDEK\n"
              "s2\tNAEK\n"
              "s3\tLLAR\n"
              "s4\tAAAK\n");
    WriteFile(dir / "res.txt",
              "S1\ts1\t\nP1\tPEPTLDEK\t10\t\nP2\tPEPTLDKE\t9\t\n\n"
              "S2\ts2\t\nP1\tGGAEK\t30\t\n\n"
              "S3\ts3\t\nP1\tLLAK\t20\t\n\n"
              "S4\ts4\t\n\n");
    CEvaluate ev;
    ASSERT_TRUE(ev.ReadTruth(dir / "truth.tsv"));
    ASSERT_TRUE(ev.ReadResults(dir / "res.txt"));
    const CEvalFigures f = ev.Compute();
    EXPECT_EQ(f.nTruth, 4);
    EXPECT_EQ(f.nWithResult, 3);
    EXPECT_EQ(f.nExact, 1);
    EXPECT_EQ(f.nMass, 1);
    EXPECT_EQ(f.nPredictedAA, 8 + 5 + 4);
    EXPECT_EQ(f.nTruthAA, 8 + 4 + 4 + 4);
    EXPECT_EQ(f.nMatchedAA, 8 + 3 + 3);  // GGAEK: A, E, K match
    // Score order s2 (wrong), s3 (wrong), s1 (right): precision 0, 0, 1/3
    // at coverage 1/4, 2/4, 3/4; area = (1/3) / 4.
    ASSERT_EQ(f.vPrecision.size(), 3u);
    EXPECT_DOUBLE_EQ(f.vPrecision[2], 1.0 / 3);
    EXPECT_DOUBLE_EQ(f.vCoverage[2], 0.75);
    EXPECT_DOUBLE_EQ(f.lfArea, 1.0 / 12);
    // Half of the 4 spectra are covered at the second point. With 7 known
    // peptides and 3 results half is never reached.
    EXPECT_DOUBLE_EQ(f.lfPrecisionAtHalf, 0.0);
    WriteFile(dir / "more.tsv", ReadFile(dir / "truth.tsv") + "s5\tAAK\ns6\tGGK\ns7\tGAK\n");
    CEvaluate fewer;
    ASSERT_TRUE(fewer.ReadTruth(dir / "more.tsv"));
    ASSERT_TRUE(fewer.ReadResults(dir / "res.txt"));
    EXPECT_LT(fewer.Compute().lfPrecisionAtHalf, 0.0);
    EXPECT_TRUE(CEvaluate::WriteSvg(f, dir / "curve.svg"));
}
