// Reading the shared real spectra; skipped when the data folder is absent.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "input/DTAInput.h"
#include "input/MGFInput.h"
#include "input/MS2Input.h"

namespace {

const std::string kData = VEMRA_SOURCE_DIR "/../shared/data/real/";

template <class Reader>
std::vector<CSpectrum> ReadAll(const std::string& path, unsigned int& count) {
    Reader in;
    count = in.Count(path);
    std::vector<CSpectrum> out;
    EXPECT_EQ(in.Browse(out, CInput::ALL), count);
    EXPECT_FALSE(in.Failed());
    in.Close();
    return out;
}

}  // namespace

TEST(RealData, HcdMouse_MgfAndDtaFolder_Agree) {
    const std::string mgf = kData + "hcd-mouse/spectra.mgf";
    const std::string dta = kData + "hcd-mouse/dta";
    if (!std::filesystem::exists(mgf) || !std::filesystem::is_directory(dta)) GTEST_SKIP() << "no shared data";
    unsigned int nMgf = 0, nDta = 0;
    auto fromMgf = ReadAll<CMGFInput>(mgf, nMgf);
    auto fromDta = ReadAll<CDTAInput>(dta, nDta);
    EXPECT_EQ(nMgf, 128u);
    EXPECT_EQ(nDta, 128u);
    ASSERT_EQ(fromMgf.size(), 128u);
    ASSERT_EQ(fromDta.size(), 128u);
    // The first spectrum of the file is the one numbered 0.
    EXPECT_EQ(fromMgf[0].m_strTitle.substr(fromMgf[0].m_strTitle.size() - 2), ".0");
    EXPECT_NEAR(fromMgf[0].m_lfPrecursorMH, 2 * 451.253480 - 1.00727647012, 1e-9);
    EXPECT_EQ(fromMgf[0].m_vPeaks.size(), 25u);

    std::map<std::string, const CSpectrum*> byTitle;
    for (const auto& s : fromDta) byTitle[s.m_strTitle] = &s;
    for (size_t i = 1; i < fromDta.size(); ++i) EXPECT_TRUE(CSpectrum::SCANLESS(fromDta[i - 1], fromDta[i]));
    for (const auto& s : fromMgf) {
        auto it = byTitle.find(s.m_strTitle + ".dta");
        ASSERT_NE(it, byTitle.end()) << s.m_strTitle;
        const CSpectrum& d = *it->second;
        EXPECT_EQ(d.m_nCharge, s.m_nCharge) << s.m_strTitle;
        EXPECT_NEAR(d.m_lfPrecursorMH, s.m_lfPrecursorMH, 1e-4) << s.m_strTitle;
        ASSERT_EQ(d.m_vPeaks.size(), s.m_vPeaks.size()) << s.m_strTitle;
        for (size_t j = 0; j < s.m_vPeaks.size(); ++j) {
            EXPECT_EQ(d.m_vPeaks[j].lfMz, s.m_vPeaks[j].lfMz);
            EXPECT_EQ(d.m_vPeaks[j].lfIntensity, s.m_vPeaks[j].lfIntensity);
        }
    }
}

TEST(RealData, CidYeast_Ms2_SixtyNineSortedSpectra) {
    const std::string ms2 = kData + "cid-yeast-ms2/spectra.ms2";
    if (!std::filesystem::exists(ms2)) GTEST_SKIP() << "no shared data";
    unsigned int n = 0;
    auto out = ReadAll<CMS2Input>(ms2, n);
    EXPECT_EQ(n, 69u);
    ASSERT_EQ(out.size(), 69u);
    EXPECT_EQ(out[0].m_strTitle, "spectra.10.10.2.dta");
    EXPECT_EQ(out[0].m_nCharge, 2);
    EXPECT_EQ(out[0].m_lfPrecursorMH, 1271.6727);
    for (const auto& s : out) {
        EXPECT_FALSE(s.m_vPeaks.empty()) << s.m_strTitle;
        for (size_t j = 1; j < s.m_vPeaks.size(); ++j) EXPECT_LE(s.m_vPeaks[j - 1].lfMz, s.m_vPeaks[j].lfMz);
    }
}
