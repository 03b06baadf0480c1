#include "preprocess/PreprocessONE.h"

#include <algorithm>
#include <cmath>

#include "common/Masses.h"

namespace {
using mass::kIsotopeSpacing;
using mass::kProton;
using mass::kWater;
// Highest charge tried for an isotope cluster. Peptide precursors carry a few
// charges; the bound only keeps an absurd charge from a damaged file (say
// 2^31) from turning the per-peak charge loop into a hang.
constexpr int kMaxClusterCharge = 1000;
}  // namespace

void CPreprocessONE::PreProcess(CSpectrum& spec) {
    _Deisotope(spec);
    std::sort(spec.m_vPeaks.begin(), spec.m_vPeaks.end(), CPeak::Mz_Less);
    _Merge(spec);
    _DelectProcorse(spec);
    std::sort(spec.m_vPeaks.begin(), spec.m_vPeaks.end(), CPeak::Mz_Less);
}

void CPreprocessONE::_Deisotope(CSpectrum& spec) {
    const unsigned int n = static_cast<unsigned int>(spec.m_vPeaks.size());
    m_vChargeOf.assign(n, 0);
    m_work.m_vPeaks.clear();
    const bool bHCD = spec.m_strActivation == "HCD";

    for (unsigned int p = 0; p < n; ++p) {
        if (m_vChargeOf[p] > 0) continue;  // isotope peak of an earlier cluster
        for (int z = std::min(spec.m_nCharge, kMaxClusterCharge); z >= 1; --z) {
            // With wide (low-resolution) tolerances, an isotope spacing within
            // twice the tolerance would see a cluster in any two neighbours.
            if (m_pCondition->m_bScaleToFragTol &&
                kIsotopeSpacing / z <= 2 * m_pCondition->CalcFragmentMassDeviation(spec.m_vPeaks[p].lfMz))
                continue;
            if (_DeisotopeChargeHCD(spec, p, m_work, z, m_vChargeOf)) break;
        }
        if (m_vChargeOf[p] == 0) {
            // No cluster: the charge is unknown. HCD fragments are often doubly
            // charged, so such a peak is offered under both readings.
            const int index = static_cast<int>(p);
            _TranslateCharge(spec, index, m_work, 1, 1.0);
            if (bHCD) _TranslateCharge(spec, index, m_work, 2, 1.0);
        }
    }
    // Swap rather than copy: both buffers keep their capacity for the next spectrum.
    spec.m_vPeaks.swap(m_work.m_vPeaks);
}

bool CPreprocessONE::_DeisotopeChargeHCD(const CSpectrum& spec, const unsigned int& start, CSpectrum& out,
                                         const int& charge, std::vector<int>& chargeOf) {
    const std::vector<CPeak>& peaks = spec.m_vPeaks;
    const unsigned int n = static_cast<unsigned int>(peaks.size());
    const double step = kIsotopeSpacing / charge;
    unsigned int previous = start;
    double expected = peaks[start].lfMz + step;
    bool found = false;

    // Members are added in ascending index order (start first), so the vector
    // is the ordered set of the cluster.
    m_vMembers.clear();
    m_vMembers.push_back(start);
    for (unsigned int j = start + 1; j < n; ++j) {
        const double mz = peaks[j].lfMz;
        const double w = (m_pCondition->CalcFragmentMassDeviation(peaks[previous].lfMz) +
                          m_pCondition->CalcFragmentMassDeviation(mz)) * 0.5;
        if (expected - w <= mz && mz <= expected + w) {
            chargeOf[j] = charge;
            chargeOf[start] = charge;
            m_vMembers.push_back(j);
            expected = mz + step;
            previous = j;
            found = true;
        } else if (mz > expected + w) {
            break;
        }
    }
    if (!found) return false;

    const double startIntensity = peaks[start].lfIntensity;
    for (std::size_t k = 0; k < m_vMembers.size(); ++k) {
        const unsigned int m = m_vMembers[k];
        // A weaker isotope peak carries no information of its own.
        if (k == 0 || peaks[m].lfIntensity >= startIntensity)
            _TranslateCharge(spec, static_cast<int>(m), out, charge, 1.0);
    }
    return true;
}

void CPreprocessONE::_TranslateCharge(const CSpectrum& src, const int& index, CSpectrum& dst, const int& charge,
                                      const double& factor) {
    CPeak peak = src.m_vPeaks[static_cast<std::size_t>(index)];
    peak.lfLogIntensity *= factor;
    peak.lfMz = charge * peak.lfMz - (charge - 1) * kProton;
    peak.nCharge = charge;
    dst.m_vPeaks.push_back(peak);
}

void CPreprocessONE::_Merge(CSpectrum& spec) {
    std::vector<CPeak>& peaks = spec.m_vPeaks;
    const unsigned int n = static_cast<unsigned int>(peaks.size());

    // In place: a group is written at or before its first member, and only
    // peaks of later groups are read after that.
    std::size_t kept = 0;
    unsigned int first = 0;
    while (first < n) {
        CPeak merged = peaks[first];
        double sumMz = peaks[first].lfMz;
        unsigned int j = first + 1;
        // Neighbour test: a chain of close peaks is one group.
        while (j < n && m_pCondition->CanMerge(peaks, j - 1, j)) {
            sumMz += peaks[j].lfMz;
            merged.lfIntensity += peaks[j].lfIntensity;
            if (peaks[j].lfLogIntensity > merged.lfLogIntensity) merged.lfLogIntensity = peaks[j].lfLogIntensity;
            ++j;
        }
        merged.lfMz = sumMz / static_cast<double>(j - first);
        peaks[kept++] = merged;
        first = j;
    }
    peaks.resize(kept);
}

void CPreprocessONE::_DelectProcorse(CSpectrum& spec) {
    const CCondition& c = *m_pCondition;
    const double P = spec.m_lfPrecursorMH;
    const double tP = c.CalcFragmentMassDeviation(P);
    std::vector<CPeak>& peaks = spec.m_vPeaks;

    std::size_t kept = 0;
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        const double x = peaks[i].lfMz;
        bool remove = std::fabs(P - x) <= (tP + c.CalcFragmentMassDeviation(x)) * 0.5;
        if (!remove) {
            const double y = x + kWater;
            remove = std::fabs(P - y) <= (tP + c.CalcFragmentMassDeviation(y)) * 0.5;
        }
        if (!remove) {
            if (kept != i) peaks[kept] = peaks[i];
            ++kept;
        }
    }
    peaks.resize(kept);
}
