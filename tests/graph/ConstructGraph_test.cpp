#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../scoring/ResidueTable.h"
#include "graph/CandidateGen.h"

namespace {

constexpr double kProton = 1.00727647012;
constexpr double kWater = 18.0105647;

CSpectrum Spectrum(const char* title, double mh, const std::vector<double>& mzs, const char* activation) {
    CSpectrum s;
    s.m_strTitle = title;
    s.m_lfPrecursorMH = mh;
    s.m_nCharge = 2;
    s.m_strActivation = activation;
    for (double mz : mzs) {
        CPeak p;
        p.lfMz = mz;
        p.lfKeyMz = mz;
        p.lfIntensity = 1.0;
        p.lfLogIntensity = 1.0;
        p.nCharge = 1;
        s.m_vPeaks.push_back(p);
    }
    return s;
}

class ConstructGraphTest : public ::testing::Test {
protected:
    ConstructGraphTest() {
        testing_residues::FillBuiltInResidues(cond);
        cond.m_vAminoAcids.clear();
        cond.InitMods();
        cond.CreateEdgeList();
        cond.m_lfPepTol = 0.05;
        cond.m_bPepTolPpm = false;
        cond.m_nMaxNode = 300;
        cond.m_nReportPath = 5;
        cond.m_nReportTemp = 5;
        cond.m_nReportPep = 1;
    }
    // mode 1: the first spectrum's peaks; 2: the second's; the precursor
    // is the first's.
    void Run(const CSpectrum& first, const CSpectrum& second) {
        CGraphInput in;
        in.pHcd = mode == 1 ? &first : nullptr;
        in.pEtd = mode == 2 ? &second : nullptr;
        in.lfPrecursorMH = first.m_lfPrecursorMH;
        list.Reset(cond.m_nReportTemp);
        graph.ConstructGraph(in, list);
    }
    CCondition cond;
    CNCGraph graph{&cond};
    CCandidateList list;
    int mode = 1;
};

}  // namespace

TEST_F(ConstructGraphTest, Constants_PpmFragmentTolerance_FromFirstPrecursor) {
    cond.m_lfFragTol = 20.0;
    cond.m_bFragTolPpm = true;
    mode = 2;
    // Mode 2: precursor from the first spectrum, peaks from the second.
    const CSpectrum first = Spectrum("first", 1500.0, {}, "ETD");
    const CSpectrum second = Spectrum("second", 1600.0, {400.0}, "ETD");
    Run(first, second);
    EXPECT_DOUBLE_EQ(graph.m_lfTolerance, 0.03);
    const double r = 1500.0 - kWater - kProton;
    EXPECT_EQ(graph.m_lfResidueMass, r);
    ASSERT_GE(graph.m_vNodes.size(), 2u);
    EXPECT_EQ(graph.m_vNodes.front().lfMass, 0.0);
    EXPECT_EQ(graph.m_vNodes.back().lfMass, r);
    EXPECT_DOUBLE_EQ(graph.m_vNodes.back().lfTolerance, 0.05);
    // c-type nodes of the ETD peak (about 382); its complements are taken
    // against the precursor of the spectrum the peaks come from.
    EXPECT_EQ(graph.m_vNodes.size(), 6u);
    EXPECT_NEAR(graph.m_vNodes[1].lfMass, 400.0 - 18.033825575119998, 1e-9);
    EXPECT_NEAR(graph.m_vNodes[4].lfMass, 1600.0 - 400.0 - 15.010899035, 1e-9);
}

TEST_F(ConstructGraphTest, Constants_ToleranceCappedAtHalfDalton) {
    cond.m_lfFragTol = 1.0;
    cond.m_bFragTolPpm = false;
    const CSpectrum s = Spectrum("s", 1500.0, {}, "HCD");
    Run(s, s);
    EXPECT_EQ(graph.m_lfTolerance, 0.5);

    cond.m_lfFragTol = 400.0;  // ppm: 0.6 Da at 1500
    cond.m_bFragTolPpm = true;
    Run(s, s);
    EXPECT_EQ(graph.m_lfTolerance, 0.5);
}
