// The fragment-intensity model: its file is refused when damaged, its fast
// prediction is the softmax of the features the fit sees, the fit is
// deterministic and learns a proline cleavage, and the shipped model agrees
// with the labelled corpus far better than a flat prediction.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "../TestUtil.h"
#include "rerank/FragmentModel.h"
#include "rerank/FragmentModelTrainer.h"
#include "rerank/FragmentValidation.h"
#include "rerank/IntensityAgreement.h"
#include "rerank/PortableMath.h"
#include "rerank/TrainingCorpus.h"

namespace {

const std::string kSrc = VEMRA_SOURCE_DIR;

CFragmentModel ShippedHcd() {
    CFragmentModel m;
    std::string error;
    EXPECT_TRUE(m.Load(kSrc + "/models/fragment_hcd.model", error)) << error;
    return m;
}

// Spectra of peptides with a proline, whose y ion N-terminal to the
// proline is five times as intense as every other b and y ion.
CTrainingCorpus ProlineCorpus() {
    CTrainingCorpus corpus;
    CCorpusSet set;
    set.strName = "proline";
    for (const char* seq : {"AGLPSVTK", "LEAPGSVK", "VSPLAGEK", "TLGSAPVR", "GEVLPTSK", "SAVTEPLR", "PLGASVEK",
                            "EGLSVAPK"}) {
        CCorpusSpectrum s;
        s.strTitle = seq;
        s.nCharge = 2;
        CTrainingCorpus::ParsePeptide(seq, s.peptide);
        const int L = static_cast<int>(s.peptide.strResidues.size());
        std::vector<double> mz(static_cast<size_t>(CFragmentModel::IonCount(L)));
        CFragmentModel::FragmentMz(seq, s.peptide.vDeltas.data(), L, 0.0, EFragmentKind::HCD, mz.data());
        std::vector<std::pair<double, float>> peaks;
        for (int site = 1; site < L; ++site) {
            peaks.push_back({mz[static_cast<size_t>((site - 1) * 4)], 0.2f});
            peaks.push_back({mz[static_cast<size_t>((site - 1) * 4 + 2)], seq[site] == 'P' ? 1.0f : 0.2f});
        }
        std::sort(peaks.begin(), peaks.end());
        for (const auto& p : peaks) {
            s.vMz.push_back(p.first);
            s.vIntensity.push_back(p.second);
        }
        set.vSpectra.push_back(s);
    }
    corpus.m_vSets.push_back(set);
    return corpus;
}

std::vector<float> Predict(const CFragmentModel& m, const std::string& peptide, int charge) {
    CLabelledPeptide p;
    EXPECT_TRUE(CTrainingCorpus::ParsePeptide(peptide, p)) << peptide;
    const int L = static_cast<int>(p.strResidues.size());
    std::vector<float> out(static_cast<size_t>(CFragmentModel::IonCount(L)));
    m.Predict(p.strResidues.data(), p.vDeltas.data(), L, p.lfNTermDelta, charge, out.data());
    return out;
}

}  // namespace

TEST(FragmentModel, TextRoundTrip_DamagedFilesRefusedWithTheLine) {
    const CFragmentModel good = ShippedHcd();
    const std::string text = good.Text("a comment");
    CFragmentModel again;
    std::string error;
    ASSERT_TRUE(again.Parse(text, error)) << error;
    EXPECT_EQ(again.Text("a comment"), text);
    EXPECT_EQ(again.Fragmentation(), EFragmentKind::HCD);

    // "line N: " of the first line starting with `start`, `below` lines further.
    auto lineOf = [&text](const std::string& start, int below = 0) {
        const auto at = static_cast<std::ptrdiff_t>(text.find("\n" + start)) + 1;
        return "line " + std::to_string(1 + below + std::count(text.begin(), text.begin() + at, '\n')) + ": ";
    };
    auto edit = [&text](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const size_t pairRow = text.find('\n', text.find("table pair 23 23")) + 1;
    std::string shortRow = text;
    shortRow.erase(pairRow, shortRow.find(' ', pairRow) + 1 - pairRow);
    struct Case {
        const char* szName;
        std::string strText, strError;
    };
    const Case cases[] = {
        {"empty", "", "at the end: not a fragment model"},
        {"other header", edit("vemra fragment model 1", "vemra rerank model 1"), "line 1: not a fragment model"},
        {"other version", edit("vemra fragment model 1", "vemra fragment model 2"),
         "line 1: fragment model version \"2\"; this program reads version 1"},
        {"fragmentation", edit("fragmentation HCD", "fragmentation EThcD"), lineOf("fragmentation") + "expected"},
        {"alphabet", edit("alphabet ACDEF", "alphabet CADEF"), lineOf("alphabet") + "expected \"alphabet"},
        {"table name", edit("table pair 23", "table pairs 23"), lineOf("table pair") + "expected \"table pair 23 23\""},
        {"table size", edit("table pair 23 23", "table pair 23 22"), lineOf("table pair") + "expected"},
        {"short row", shortRow, lineOf("table pair", 1) + "table pair: 22 values, expected 23"},
        {"not a number", edit("detection 4 2\n", "detection 4 2\nx"), lineOf("detection", 1) + "detection: \"x"},
        {"not finite", edit("detection 4 2\n", "detection 4 2\ninf"), "is not a number"},
        {"cut short", text.substr(0, text.find("detection")), "at the end: \"detection 4 2\" is missing"},
        {"left over", text + "table extra 1 1\n", "unexpected \"table extra 1 1\""},
    };
    for (const Case& k : cases) {
        CFragmentModel m;
        std::string e;
        EXPECT_FALSE(m.Parse(k.strText, e)) << k.szName;
        EXPECT_NE(e.find(k.strError), std::string::npos) << k.szName << ": " << e;
    }
    CFragmentModel m;
    EXPECT_FALSE(m.Load(kSrc + "/models/no_such.model", error));
    EXPECT_NE(error.find("cannot open the model file"), std::string::npos) << error;
}

// A value is read as the C library's strtof reads a whole word: with a
// sign, in hexadecimal, an exact zero whatever its exponent, the smallest
// normal float; not one that underflows to a subnormal or has junk after it.
TEST(FragmentModel, ValuesAreReadAsStrtofReadsThem) {
    const std::string text = ShippedHcd().Text("");
    const size_t at = text.find("detection 4 2\n") + 14;
    const size_t end = text.find(' ', at);
    struct Case {
        const char* szWord;
        bool bRead;
        float fValue;
    } cases[] = {
        {"+0.5", true, 0.5f},   {"0x1p-1", true, 0.5f},           {"-0", true, -0.0f},
        {"0e-400", true, 0.0f}, {"1.17549435e-38", true, 1.17549435e-38f}, {"1e-40", false, 0.0f},
        {"0.5x", false, 0.0f},  {"1e39", false, 0.0f},            {"nan", false, 0.0f},
    };
    for (const auto& c : cases) {
        std::string t = text;
        t.replace(at, end - at, c.szWord);
        CFragmentModel m;
        std::string e;
        ASSERT_EQ(m.Parse(t, e), c.bRead) << c.szWord << ": " << e;
        if (c.bRead) {
            EXPECT_EQ(m.m_vDetection[0], c.fValue) << c.szWord;
            EXPECT_EQ(std::signbit(m.m_vDetection[0]), std::signbit(c.fValue)) << c.szWord;
        } else {
            EXPECT_NE(e.find(std::string("detection: \"") + c.szWord + "\" is not a number"), std::string::npos) << e;
        }
    }
}

TEST(FragmentModel, CorpusPeptideNotationsAndIonMasses) {
    struct Case {
        const char* szText;
        bool bParses;
        const char* szResidues;
        double lfNTerm;
        std::vector<double> vDeltas;
    };
    const Case cases[] = {
        {"PEPTIDE", true, "PEPTIDE", 0, {0, 0, 0, 0, 0, 0, 0}},
        {"C[+57.021]AK", true, "CAK", 0, {57.021, 0, 0}},
        {"[+229.162932]-IM[+15.995]EK[+229.163]", true, "IMEK", 229.162932, {0, 15.995, 0, 229.163}},
        {"[+144.102063]-K[+144.102]", true, "K", 144.102063, {144.102}},
        {"M[+15.995][+1.0]K-[-0.5]", true, "MK", 0, {16.995, -0.5}},
        {"", false, "", 0, {}},
        {"[+229.16]PEPK", false, "", 0, {}},  // an N-terminal delta needs its '-'
        {"PEP[15.995]", false, "", 0, {}},    // a delta needs its sign
        {"PEP[+x]", false, "", 0, {}},
        {"PEP[+1.0", false, "", 0, {}},
        {"PEBK", false, "", 0, {}},  // B is no residue
        {"pepk", false, "", 0, {}},
        {"PEPK-[+1]X", false, "", 0, {}},
    };
    for (const Case& k : cases) {
        CLabelledPeptide p;
        ASSERT_EQ(CTrainingCorpus::ParsePeptide(k.szText, p), k.bParses) << k.szText;
        if (!k.bParses) continue;
        EXPECT_EQ(p.strResidues, k.szResidues) << k.szText;
        EXPECT_DOUBLE_EQ(p.lfNTermDelta, k.lfNTerm) << k.szText;
        ASSERT_EQ(p.vDeltas.size(), k.vDeltas.size()) << k.szText;
        for (size_t i = 0; i < k.vDeltas.size(); ++i) EXPECT_NEAR(p.vDeltas[i], k.vDeltas[i], 1e-9) << k.szText;
    }
    // Slots of PEPTIDE's first site and last site, by hand from residue masses.
    double mz[24];
    ASSERT_EQ(CFragmentModel::FragmentMz("PEPTIDE", nullptr, 7, 0.0, EFragmentKind::HCD, mz), 24);
    EXPECT_NEAR(mz[0], 98.06004, 1e-4);              // b1
    EXPECT_NEAR(mz[1], 49.53366, 1e-4);              // b1 2+
    EXPECT_NEAR(mz[20 + 2], 148.06043, 1e-4);        // y1
    EXPECT_NEAR(mz[2], 703.31448, 1e-4);             // y6
    ASSERT_EQ(CFragmentModel::FragmentMz("PEPTIDE", nullptr, 7, 0.0, EFragmentKind::ETD, mz), 24);
    EXPECT_NEAR(mz[0], 115.08659, 1e-4);             // c1
    EXPECT_NEAR(mz[20 + 2], 132.04171, 1e-4);        // z+1 1
    const double deltas[2] = {0.0, 229.162932};
    double labelled[4];
    CFragmentModel::FragmentMz("AK", deltas, 2, 229.162932, EFragmentKind::HCD, labelled);
    EXPECT_NEAR(labelled[0], 71.03711 + 229.162932 + 1.00728, 1e-4);  // b1 carries the N-terminal label
    EXPECT_NEAR(labelled[2], 128.09496 + 229.162932 + 19.01784, 1e-4);
}

TEST(FragmentModel, PredictionIsTheSoftmaxOfTheFittedFeatures) {
    const CFragmentModel m = ShippedHcd();
    struct Case {
        const char* szPeptide;
        int nCharge;
    };
    const Case cases[] = {{"PEPTIDEK", 2}, {"AK", 1}, {"[+229.162932]-SYC[+57.021]GHGIHK[+229.163]", 4},
                          {"M[+15.995]LQRSTVWYNHK", 3}, {"GGGGGGGGGGGGGGGGGGGGGGGGGR", 5}, {"XBPK", 2}};
    for (const Case& k : cases) {
        CLabelledPeptide p;
        if (!CTrainingCorpus::ParsePeptide(k.szPeptide, p)) {
            p.strResidues = k.szPeptide;  // letters that are no residue still get a prediction
            p.vDeltas.assign(p.strResidues.size(), 0.0);
        }
        const int L = static_cast<int>(p.strResidues.size());
        const int n = CFragmentModel::IonCount(L);
        std::vector<float> out(static_cast<size_t>(n));
        std::vector<int32_t> f(static_cast<size_t>(n * CFragmentModel::kFeaturesPerIon));
        ASSERT_EQ(m.Predict(p.strResidues.data(), p.vDeltas.data(), L, p.lfNTermDelta, k.nCharge, out.data()), n);
        ASSERT_EQ(CFragmentModel::Features(p.strResidues.data(), p.vDeltas.data(), L, p.lfNTermDelta, k.nCharge, f.data()),
                  n);
        std::vector<double> e(static_cast<size_t>(n), 0.0);
        double total = 0.0;
        for (int i = 0; i < n; ++i) {
            const int32_t* idx = f.data() + i * CFragmentModel::kFeaturesPerIon;
            if (idx[0] < 0) continue;
            double z = 0.0;
            for (int j = 0; j < CFragmentModel::kFeaturesPerIon; ++j) z += m.m_vWeights[static_cast<size_t>(idx[j])];
            total += e[static_cast<size_t>(i)] = std::exp(z);
        }
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(out[static_cast<size_t>(i)], e[static_cast<size_t>(i)] / total, 2e-6) << k.szPeptide << " " << i;
            if (k.nCharge == 1 && i % 2) {
                EXPECT_EQ(out[static_cast<size_t>(i)], 0.0f) << "2+ fragment of a 1+ precursor";
            }
        }
    }
    // Lengths the model does not take write nothing.
    std::string tooLong(CFragmentModel::kMaxLength + 1, 'A');
    float sentinel = 7.0f;
    EXPECT_EQ(m.Predict("A", nullptr, 1, 0.0, 2, &sentinel), 0);
    EXPECT_EQ(m.Predict(tooLong.data(), nullptr, static_cast<int>(tooLong.size()), 0.0, 2, &sentinel), 0);
    EXPECT_EQ(sentinel, 7.0f);
}

TEST(FragmentModel, ProlineCleavageRanksAboveItsNeighbours_FitIsDeterministic) {
    const CTrainingCorpus corpus = ProlineCorpus();
    CFragmentFitOptions options;
    const CFragmentModel fitted = CFragmentModelTrainer::Fit(corpus, options);
    EXPECT_EQ(CFragmentModelTrainer::Fit(corpus, options).Text(""), fitted.Text(""));
    CFragmentModel reread;
    std::string error;
    ASSERT_TRUE(reread.Parse(fitted.Text("x"), error)) << error;
    EXPECT_EQ(Predict(reread, "LVAEPGTR", 2), Predict(fitted, "LVAEPGTR", 2));  // bit for bit

    // y ions of sites 3, 4 (E|P) and 5 of a peptide neither model has seen.
    const CFragmentModel shipped = ShippedHcd();
    for (const CFragmentModel* m : {&fitted, &shipped}) {
        const std::vector<float> v = Predict(*m, "LVAEPGTR", 2);
        const float y3 = v[(3 - 1) * 4 + 2], y4 = v[(4 - 1) * 4 + 2], y5 = v[(5 - 1) * 4 + 2];
        EXPECT_GT(y4, y3) << (m == &fitted ? "fitted" : "shipped");
        EXPECT_GT(y4, y5) << (m == &fitted ? "fitted" : "shipped");
    }
}

TEST(FragmentModel, IntensityAgreementCases) {
    struct Case {
        const char* szName;
        std::vector<float> vPredicted;
        std::vector<double> vObserved;
        double lfCosine, lfPearson, lfMissed;
        int nMatched;
    };
    const Case cases[] = {
        {"same pattern (observed on the linear scale)", {0.1f, 0.2f, 0.7f}, {1, 4, 49}, 1.0, 1.0, 0.0, 3},
        {"any intensity unit", {0.1f, 0.2f, 0.7f}, {100, 400, 4900}, 1.0, 1.0, 0.0, 3},
        {"nothing matched", {0.5f, 0.5f}, {0, 0}, 0.0, 0.0, 1.0, 0},
        {"flat prediction", {0.25f, 0.25f, 0.25f, 0.25f}, {1, 0, 1, -3}, 0.70710678, 0.0, 0.5, 2},
        {"opposite", {0.9f, 0.1f}, {0, 1}, 0.11043153, -1.0, 0.9, 1},
        {"no slots", {}, {}, 0.0, 0.0, 0.0, 0},
    };
    for (const Case& k : cases) {
        const CIntensityAgreement a =
            CIntensityAgreement::Of(k.vPredicted.data(), k.vObserved.data(), static_cast<int>(k.vPredicted.size()));
        EXPECT_NEAR(a.lfCosine, k.lfCosine, 1e-6) << k.szName;
        EXPECT_NEAR(a.lfPearson, k.lfPearson, 1e-6) << k.szName;
        EXPECT_NEAR(a.lfMissedShare, k.lfMissed, 1e-6) << k.szName;
        EXPECT_EQ(a.nMatched, k.nMatched) << k.szName;
    }
}

TEST(FragmentModel, PortableExpAndLogMatchTheLibrary) {
    for (double x : {-700.0, -30.5, -1.0, -0.34657, 0.0, 1e-9, 0.5, 2.0, 88.7, 700.0})
        EXPECT_NEAR(portable::Exp(x) / std::exp(x), 1.0, 1e-15) << x;
    for (double x : {1e-300, 1e-5, 0.5, 0.70710678, 1.0, 1.0 + 1e-12, 3.0, 1e10, 1e300})
        EXPECT_NEAR(portable::Log(x), std::log(x), 1e-15 * std::max(1.0, std::fabs(std::log(x)))) << x;
    for (float x : {-86.0f, -20.0f, -1.0f, -0.3f, -1e-6f, 0.0f})
        EXPECT_NEAR(portable::ExpNonPositive(x) / std::exp(x), 1.0, 3e-7) << x;
    EXPECT_EQ(portable::Exp(-800.0), 0.0);
    EXPECT_EQ(portable::ExpNonPositive(-90.0f), 0.0f);
    EXPECT_EQ(portable::Log(0.0), -HUGE_VAL);
}

// The shared corpus: every set read and profiled, and the shipped model
// agreeing with its HCD spectra far better than the flat prediction.
TEST(FragmentModel, SharedCorpus_ProfilesAndShippedModel) {
    const std::string data = testutil::SharedData();
    if (data.empty() || !testutil::Exists(data + "/train")) GTEST_SKIP() << "no shared training corpus";
    CTrainingCorpus corpus;
    std::string error;
    ASSERT_TRUE(corpus.Load(data + "/train", error)) << error;
    EXPECT_EQ(corpus.m_vSets.size(), 32u);
    EXPECT_EQ(corpus.SpectrumCount(), 3689u);
    EXPECT_EQ(corpus.m_nSkipped, 0);
    std::vector<CSetAgreement> hcd;
    const CFragmentModel model = ShippedHcd(), flat;
    for (const CCorpusSet& set : corpus.m_vSets) {
        EXPECT_TRUE(set.bListed) << set.strName;
        CCorpusSet inferred = set;
        CTrainingCorpus::InferProfile(inferred);
        // Two sets are measured finer than they were searched: a well
        // calibrated Q-TOF, and a mix of instruments searched as ion trap.
        const bool finer = set.strName == "identipy_ups2_maxis_qtof" || set.strName == "spectracluster_pride_clusters";
        EXPECT_EQ(inferred.lfFragmentTol < set.lfFragmentTol, finer) << set.strName;
        if (!finer) {
            EXPECT_EQ(inferred.eFragmentation, set.eFragmentation) << set.strName;
        }
        if (set.eFragmentation == EFragmentKind::HCD) hcd.push_back(CFragmentValidation::MeasureSet(model, flat, set));
    }
    const CSetAgreement pooled = CSetAgreement::Pool(hcd, "HCD");
    EXPECT_GT(pooled.Median(&CSpectrumAgreement::lfCosine), 0.85);
    EXPECT_LT(pooled.Median(&CSpectrumAgreement::lfCosineFlat), 0.6);
    EXPECT_GT(pooled.WinRate(1, kAgreeCombined, false), pooled.WinRate(1, kAgreeCombined, true));
}
