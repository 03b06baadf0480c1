// vemra annotate: peptide texts read with the run's masses, the fragment
// ions of a known peptide matched on the HCD example (checked by hand), and
// the picture as a user asks for it.

#include <gtest/gtest.h>

#include <cmath>

#include "../TestUtil.h"
#include "annotate/Annotator.h"
#include "input/MGFInput.h"

using testutil::ReadFile;
using testutil::RunVemra;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kExamples = VEMRA_SOURCE_DIR "/examples/";

// The recommended settings: C = 160.03065, M+15.994915, N-terminal
// 42.010565 and Q-17.026549, 20 ppm.
const CCondition& Recommended() {
    static CCondition* c = [] {
        auto* cond = new CCondition;
        cond->Read(kExamples + "hcd.param");
        return cond;
    }();
    return *c;
}

CSpectrum ExampleSpectrum(const std::string& title) {
    CMGFInput in;
    in.Count(kExamples + "hcd_example.mgf");
    std::vector<CSpectrum> all;
    in.Browse(all, CInput::ALL);
    for (CSpectrum& s : all)
        if (s.m_strTitle == title) return s;
    ADD_FAILURE() << title;
    return CSpectrum();
}

}  // namespace

TEST(Annotate, ParsePeptide_RunMassesAndDeltas) {
    struct Case { const char* szText; double lfMass; };  // summed residue masses; 0: refused
    const double A = 71.03711, C = 160.03065, K = 128.09496, L = 113.08406, M = 131.04049, Q = 128.05858;
    const Case cases[] = {
        {"CK", C + K},
        {"C[+57.0215]K", C + K},             // the tables' form of the run's fixed C
        {"M[+15.995]K", M + 15.994915 + K},  // snapped to the run's exact delta
        {"[+42.011]-AK", A + 42.010565 + K},
        {"[-17.027]-QK", Q - 17.026549 + K},
        {"IK", L + K},
        {"AK-[+0.984]", A + K + 0.984},      // not one of the run's: as written
        {"M[+1.5]K", M + 1.5 + K},
        {"PEXK", 0}, {"PE[+a]K", 0}, {"[+42.011]AK", 0}, {"", 0}, {"K-[+1]A", 0}, {"AK[+1", 0},
    };
    CAnnotator annotator(Recommended());
    for (const Case& c : cases) {
        std::vector<CAnnotResidue> residues;
        std::string error;
        const bool ok = annotator.ParsePeptide(c.szText, residues, error);
        EXPECT_EQ(ok, c.lfMass > 0) << c.szText << ": " << error;
        double sum = 0;
        for (const CAnnotResidue& r : residues) sum += r.lfMass;
        if (ok) {
            EXPECT_NEAR(sum, c.lfMass, 1e-9) << c.szText;
        }
    }
}

TEST(Annotate, KnownPeptide_MatchesTheHandCheckedIons) {
    // LVNELTEFAK on hcd_example.001: b1-b8 and y1-y9 singly charged lie
    // within 20 ppm of a peak, none of the doubly charged ones do.
    struct Ion { const char* szLabel; double lfMz; double lfPeak; };  // lfPeak 0: unmatched
    const Ion ions[] = {
        {"b2", 213.15975, 213.15904}, {"y4", 494.26091, 494.26080}, {"b7", 799.41960, 799.42193},
        {"y9", 1050.54658, 1050.54688}, {"b9", 1017.52512, 0}, {"y5++", 298.15793, 0},
    };
    CAnnotation a;
    std::string error;
    ASSERT_TRUE(CAnnotator(Recommended()).Annotate(ExampleSpectrum("hcd_example.001"), "LVNELTEFAK", "HCD", false, a,
                                                   error)) << error;
    EXPECT_EQ(a.nIons, 36);
    EXPECT_EQ(a.nMatchedIons, 17);
    EXPECT_NEAR(a.lfPeptideMH, 1163.63064, 1e-4);
    for (const Ion& want : ions) {
        const CFragmentIon* got = nullptr;
        for (const CFragmentIon& ion : a.vIons)
            if (ion.Label() == want.szLabel) got = &ion;
        ASSERT_NE(got, nullptr) << want.szLabel;
        EXPECT_NEAR(got->lfMz, want.lfMz, 1e-5) << want.szLabel;
        ASSERT_EQ(got->nPeak >= 0, want.lfPeak > 0) << want.szLabel;
        if (got->nPeak >= 0) {
            EXPECT_NEAR(a.vPeaks[static_cast<size_t>(got->nPeak)].lfMz, want.lfPeak, 1e-9) << want.szLabel;
            EXPECT_NEAR(got->lfError, (want.lfPeak - want.lfMz) / want.lfMz * 1e6, 0.05) << want.szLabel;
        }
    }
    // ETD draws c and z ions of the same sites.
    ASSERT_TRUE(CAnnotator(Recommended()).Annotate(ExampleSpectrum("hcd_example.001"), "LVNELTEFAK", "ETD", false, a,
                                                   error));
    EXPECT_EQ(a.nIons, 36);
    for (const CFragmentIon& ion : a.vIons) EXPECT_TRUE(ion.cSeries == 'c' || ion.cSeries == 'z') << ion.Label();
}

TEST(Annotate, Command_PeptideFromResults_AndRefusals) {
    TempDir dir;
    WriteFile(dir / "r.txt", "S1\thcd_example.001\t\nP1\tLVNELTEFKA\t9\t\nP2\tLVNELTEFAK\t8\t\n\n");
    const std::string mgf = kExamples + "hcd_example.mgf";
    const testutil::RunResult r = RunVemra(
        {"annotate", mgf, "--title", "hcd_example.001", "--results", "r.txt", "--rank", "2", "-o", "a.svg"},
        dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string svg = ReadFile(dir / "a.svg");
    EXPECT_NE(svg.find("LVNELTEFAK, 2+, precursor m/z 582.3186"), std::string::npos);
    EXPECT_NE(svg.find("17 of 36 b/y ions matched"), std::string::npos);
    // Every matched peak has a tooltip naming its ion and m/z; the most
    // intense ones are labelled.
    size_t peaks = 0;
    for (size_t at = svg.find("class=\"peak\""); at != std::string::npos; at = svg.find("class=\"peak\"", at + 1))
        ++peaks;
    EXPECT_EQ(peaks, 17u);
    EXPECT_NE(svg.find("b2 213.1597 (-3.3 ppm)"), std::string::npos);
    EXPECT_NE(svg.find(">y4</text>"), std::string::npos);
    EXPECT_NE(svg.find(">b5</text>"), std::string::npos);

    struct Refusal { std::vector<std::string> args; int nStatus; const char* szSays; };
    const Refusal refusals[] = {
        {{"--title", "nope", "--peptide", "PEK"}, 1, "has no spectrum titled \"nope\""},
        {{"--title", "hcd_example.001", "--results", "r.txt", "--rank", "3"}, 1, "no candidate of rank 3"},
        {{"--title", "hcd_example.001", "--peptide", "PEXK"}, 1, "cannot be annotated"},
        {{"--title", "hcd_example.001"}, 2, "needs --peptide"},
    };
    for (const Refusal& f : refusals) {
        std::vector<std::string> args = {"annotate", mgf, "-o", "b.svg"};
        args.insert(args.end(), f.args.begin(), f.args.end());
        const testutil::RunResult bad = RunVemra(args, dir.path());
        EXPECT_EQ(bad.status, f.nStatus) << f.szSays;
        EXPECT_NE(bad.err.find(f.szSays), std::string::npos) << bad.err;
    }
}
