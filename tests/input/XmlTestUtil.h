#pragma once
// Shared by the mzML / mzXML reader tests: the example MGF as spectrum
// values to write, reading a file in batches, and comparing spectra.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "input/MGFInput.h"
#include "XmlSpectrumWriter.h"

namespace xmltest {

inline const std::string kSource = VEMRA_SOURCE_DIR;

// The MGF file's spectra as read, and as values to write (precursor m/z from
// the PEPMASS lines, so that the readers make the same [M+H]+).
inline std::vector<CSpectrum> ReadMgf(const std::string& path, std::vector<xmlwriter::CSpec>* specs = nullptr) {
    CMGFInput in;
    in.Count(path);
    std::vector<CSpectrum> out;
    in.Browse(out, CInput::ALL);
    if (specs != nullptr) {
        std::ifstream f(path);
        std::string line;
        std::vector<double> pepmass;
        while (std::getline(f, line))
            if (line.rfind("PEPMASS=", 0) == 0) pepmass.push_back(std::stod(line.substr(8)));
        specs->clear();
        for (size_t k = 0; k < out.size(); ++k) {
            xmlwriter::CSpec x;
            x.title = out[k].m_strTitle;
            x.precursorMz = pepmass.at(k);
            x.charge = out[k].m_nCharge;
            for (const CPeak& p : out[k].m_vPeaks) {
                x.mz.push_back(p.lfMz);
                x.intensity.push_back(p.lfIntensity);
            }
            specs->push_back(x);
        }
    }
    return out;
}

// Count, then Browse in batches of `batch` until it returns 0.
inline std::vector<CSpectrum> ReadBatches(CInput& in, const std::string& path, unsigned batch,
                                          unsigned* count = nullptr) {
    const unsigned n = in.Count(path);
    if (count != nullptr) *count = n;
    std::vector<CSpectrum> out;
    for (int guard = 0; guard < 100000 && in.Browse(out, batch) > 0; ++guard) {
    }
    return out;
}

// Same titles, charges and [M+H]+; peaks equal within rel * |want| + abs.
inline void ExpectSame(const std::vector<CSpectrum>& got, const std::vector<CSpectrum>& want, double relMz,
                       double relIn, double absIn = 0.0) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].m_strTitle, want[i].m_strTitle) << i;
        EXPECT_EQ(got[i].m_nCharge, want[i].m_nCharge) << i;
        EXPECT_NEAR(got[i].m_lfPrecursorMH, want[i].m_lfPrecursorMH, 1e-9 * want[i].m_lfPrecursorMH) << i;
        ASSERT_EQ(got[i].m_vPeaks.size(), want[i].m_vPeaks.size()) << i;
        for (size_t j = 0; j < got[i].m_vPeaks.size(); ++j) {
            const CPeak &g = got[i].m_vPeaks[j], &w = want[i].m_vPeaks[j];
            ASSERT_NEAR(g.lfMz, w.lfMz, relMz * std::fabs(w.lfMz)) << i << " peak " << j;
            ASSERT_NEAR(g.lfIntensity, w.lfIntensity, relIn * std::fabs(w.lfIntensity) + absIn) << i << " peak " << j;
        }
    }
}

}  // namespace xmltest
