#include "pairing/FragmentationGuess.h"

#include <algorithm>
#include <cmath>

#include "common/Masses.h"

namespace {

constexpr double kElectron = 0.000548579909;
constexpr double kHydrogen = mass::kProton + kElectron;  // the atom
// Sums of a complementary pair over the precursor [M+H]+.
// b = P + H+ and y = MH - P; c = P + NH3 + H+ and z. = MH - P - (NH3 - H)
// (y less its NH2), z+1 = z. + H.
constexpr double kSumBY = mass::kProton;
constexpr double kSumCZ = mass::kProton + kHydrogen;
constexpr double kSumCZ1 = kSumCZ + kHydrogen;
// Control sums: past the 13C peaks of every pair above, before any other
// ion pair; same fractional part, so the chance pairs have the same density.
constexpr double kControls[] = {7.015, 8.015, 9.015, 10.015};
// Sum windows stay this narrow at most, so the windows 1 Da apart stay apart.
constexpr double kWidestSumWindow = 0.45;

// Low-mass ions, m/z. Collisional: immonium ions (residue - CO + H+) of P,
// V, L/I, H, F, Y and the y1 ions of K and R; electron transfer: z.1 and
// z+1 of K and R. Immonium W (159.092) lies too close to z.1 of R to count.
constexpr double kLowMassHcd[] = {70.06512, 72.08077, 86.09642, 110.07127, 120.08077, 136.07569, 147.11280, 175.11895};
constexpr double kLowMassEtd[] = {131.09408, 132.10191, 159.10023, 160.10806};
// A low-mass ion counts from this share of the strongest peak on, and only
// where the tolerance at 150 m/z is this narrow (Da).
constexpr double kLowMassFloor = 0.01;
constexpr double kLowMassTol = 0.05;
// The charge-reduced precursor counts among this many strongest peaks.
constexpr size_t kReducedRank = 20;

}  // namespace

const char* FragmentationName(EFragmentation f) {
    switch (f) {
        case EFragmentation::HCD_LIKE: return "HCD-like";
        case EFragmentation::ETD_LIKE: return "ETD-like";
        default: return "undecided";
    }
}

void CFragmentationEvidence::Add(const CFragmentationEvidence& o) {
    nSpectra += o.nSpectra;
    lfPairsBY += o.lfPairsBY;
    lfPairsCZ += o.lfPairsCZ;
    lfPairsCZ1 += o.lfPairsCZ1;
    lfPairsChance += o.lfPairsChance;
    nReduced += o.nReduced;
    nReducible += o.nReducible;
    nLowMassHcd += o.nLowMassHcd;
    nLowMassEtd += o.nLowMassEtd;
    lfPrecursorLeft += o.lfPrecursorLeft;
}

unsigned int CFragmentationGuess::_PairsWithin(double lo, double hi) const {
    // Pairs i < j with sum <= x, by two pointers over the ascending m/z;
    // the pairs within [lo, hi] are those up to hi less those below lo.
    const auto upTo = [this](double x, bool below) {
        unsigned int n = 0;
        size_t j = m_vTop.size();
        for (size_t i = 0; i < m_vTop.size(); ++i) {
            while (j > i + 1) {
                const double sum = m_vTop[i].lfMz + m_vTop[j - 1].lfMz;
                if (below ? sum < x : sum <= x) break;
                --j;
            }
            if (j <= i + 1) break;
            n += static_cast<unsigned int>(j - i - 1);
        }
        return n;
    };
    return upTo(hi, false) - upTo(lo, true);
}

unsigned int CFragmentationGuess::_CrossPairsWithin(double lo, double hi) const {
    // For ascending a, the partners in [lo - a, hi - a] move down: two
    // pointers over m_vTwo from its top.
    unsigned int n = 0;
    size_t first = m_vTwo.size(), last = m_vTwo.size();  // the partners of a are [first, last)
    for (const CMz& a : m_vTop) {
        while (last > 0 && a.lfMz + m_vTwo[last - 1].lfMz > hi) --last;
        while (first > 0 && a.lfMz + m_vTwo[first - 1].lfMz >= lo) --first;
        if (first > last) first = last;
        n += static_cast<unsigned int>(last - first);
    }
    return n;
}

bool CFragmentationGuess::_Has(double mz, double minIntensity) const {
    const double tol = _Tol(mz);
    auto it = std::lower_bound(m_vTop.begin(), m_vTop.end(), mz - tol,
                               [](const CMz& p, double x) { return p.lfMz < x; });
    for (; it != m_vTop.end() && it->lfMz <= mz + tol; ++it)
        if (it->lfIntensity >= minIntensity) return true;
    return false;
}

void CFragmentationGuess::_LowMass(const CSpectrum& s, double strongest, CFragmentationEvidence& e) const {
    const int z = s.m_nCharge > 0 ? s.m_nCharge : 1;
    const double precursorMz = mass::MzOfMH(s.m_lfPrecursorMH, z);
    const double precursorTol = _Tol(precursorMz);
    // Low-mass ions count only where a tolerance window cannot catch noise
    // peaks at will (ion traps cut the low masses off anyway).
    const bool lowMass = _Tol(150.0) <= kLowMassTol;
    bool seenHcd[std::size(kLowMassHcd)] = {}, seenEtd[std::size(kLowMassEtd)] = {};
    for (const CMz& p : m_vTop) {
        if (std::fabs(p.lfMz - precursorMz) <= precursorTol)
            e.lfPrecursorLeft = std::max(e.lfPrecursorLeft, p.lfIntensity / strongest);
        if (!lowMass || p.lfMz > 180.0 || p.lfIntensity < kLowMassFloor * strongest) continue;
        const double tol = _Tol(p.lfMz);
        for (size_t k = 0; k < std::size(kLowMassHcd); ++k)
            if (std::fabs(p.lfMz - kLowMassHcd[k]) <= tol) seenHcd[k] = true;
        for (size_t k = 0; k < std::size(kLowMassEtd); ++k)
            if (std::fabs(p.lfMz - kLowMassEtd[k]) <= tol) seenEtd[k] = true;
    }
    e.nLowMassHcd = static_cast<unsigned int>(std::count(std::begin(seenHcd), std::end(seenHcd), true));
    e.nLowMassEtd = static_cast<unsigned int>(std::count(std::begin(seenEtd), std::end(seenEtd), true));
}

void CFragmentationGuess::_Pairs(double mh, int z, CFragmentationEvidence& e) {
    // Precursors of charge 3 and more also split into a doubly and a singly
    // charged fragment: every peak is tried as doubly charged too.
    m_vTwo.clear();
    if (z >= 3)
        for (const CMz& p : m_vTop)
            if (2.0 * p.lfMz - mass::kProton < mh) m_vTwo.push_back({2.0 * p.lfMz - mass::kProton, p.lfIntensity});
    // A sum carries the error of both peaks: twice the tolerance at half
    // the precursor.
    const double w = std::min(2.0 * _Tol(mh / 2.0), kWidestSumWindow);
    const auto count = [&](double sum) {
        const double lo = mh + sum - w, hi = mh + sum + w;
        return static_cast<double>(_PairsWithin(lo, hi) + (m_vTwo.empty() ? 0u : _CrossPairsWithin(lo, hi)));
    };
    e.lfPairsBY = count(kSumBY);
    e.lfPairsCZ = count(kSumCZ);
    e.lfPairsCZ1 = count(kSumCZ1);
    double chance = 0.0;
    for (double c : kControls) chance += count(c);
    e.lfPairsChance = chance / static_cast<double>(std::size(kControls));
}

CFragmentationEvidence CFragmentationGuess::Look(const CSpectrum& s) {
    CFragmentationEvidence e;
    const double mh = s.m_lfPrecursorMH;
    if (!std::isfinite(mh) || mh <= 0.0) return e;
    m_vTop.clear();
    double strongest = 0.0;
    for (const CPeak& p : s.m_vPeaks) {
        if (!(p.lfIntensity > 0.0) || !std::isfinite(p.lfIntensity) || !std::isfinite(p.lfMz) || p.lfMz <= 0.0) continue;
        m_vTop.push_back({p.lfMz, p.lfIntensity});
        strongest = std::max(strongest, p.lfIntensity);
    }
    if (m_vTop.size() < 2) return e;
    e.nSpectra = 1;
    _LowMass(s, strongest, e);

    // The strongest peaks; ties in intensity by m/z, so the choice does not
    // depend on the file's peak order.
    const auto stronger = [](const CMz& a, const CMz& b) {
        return a.lfIntensity != b.lfIntensity ? a.lfIntensity > b.lfIntensity : a.lfMz < b.lfMz;
    };
    if (m_vTop.size() > kTopPeaks) {
        std::nth_element(m_vTop.begin(), m_vTop.begin() + kTopPeaks, m_vTop.end(), stronger);
        m_vTop.resize(kTopPeaks);
    }
    double reducedFloor = 0.0;  // intensity of the kReducedRank-th strongest peak
    if (m_vTop.size() > kReducedRank) {
        std::nth_element(m_vTop.begin(), m_vTop.begin() + (kReducedRank - 1), m_vTop.end(), stronger);
        reducedFloor = m_vTop[kReducedRank - 1].lfIntensity;
    }
    std::sort(m_vTop.begin(), m_vTop.end(), [](const CMz& a, const CMz& b) { return a.lfMz < b.lfMz; });

    const int z = s.m_nCharge;
    _Pairs(mh, z, e);
    // [M+zH]^(z-1)+. and, from charge 3, [M+zH]^(z-2)+..: the precursor
    // with one or two electrons taken up, among the strongest peaks.
    if (z >= 2) {
        e.nReducible = 1;
        for (int k = z - 1; k >= std::max(1, z - 2) && e.nReduced == 0; --k)
            if (_Has((mh + (z - 1) * mass::kProton + (z - k) * kElectron) / k, reducedFloor)) e.nReduced = 1;
    }
    return e;
}

void CFragmentationGuess::Add(const CSpectrum& s) {
    const CFragmentationEvidence e = Look(s);
    if (e.nSpectra == 0) return;
    m_Pooled.Add(e);
    switch (Decide(e, nullptr, kLeaning)) {
        case EFragmentation::HCD_LIKE: ++m_nSpectraHcd; break;
        case EFragmentation::ETD_LIKE: ++m_nSpectraEtd; break;
        default: ++m_nSpectraUndecided; break;
    }
}

CFragmentationVerdict CFragmentationGuess::Verdict() const {
    CFragmentationVerdict v;
    v.evidence = m_Pooled;
    v.eFragmentation = Decide(m_Pooled, &v.lfScore);
    v.nSpectraHcd = m_nSpectraHcd;
    v.nSpectraEtd = m_nSpectraEtd;
    v.nSpectraUndecided = m_nSpectraUndecided;
    return v;
}

void CFragmentationGuess::Clear() {
    m_Pooled = CFragmentationEvidence();
    m_nSpectraHcd = m_nSpectraEtd = m_nSpectraUndecided = 0;
}

CFragmentationVerdict CFragmentationGuess::Guess(const std::vector<CSpectrum>& spectra, unsigned int nMax) {
    Clear();
    const size_t n = spectra.size();
    if (nMax == 0 || n <= nMax) {
        for (const CSpectrum& s : spectra) Add(s);
    } else {
        for (size_t i = 0; i < nMax; ++i) Add(spectra[i * n / nMax]);
    }
    return Verdict();
}

namespace {

// The log-likelihood of pair counts n (one per sum window) when each window
// holds Poisson chance pairs at rate b plus its share p of S ion pairs, at
// the best S >= 0.
double ProfileLogLikelihood(const double n[3], double b, const double p[3]) {
    const auto slope = [&](double S) {  // d/dS of sum n log(b + S p) - S
        double d = -1.0;
        for (int k = 0; k < 3; ++k) d += n[k] * p[k] / (b + S * p[k]);
        return d;
    };
    double S = 0.0;
    const double total = n[0] + n[1] + n[2];
    if (b <= 0.0) {
        S = total;
    } else if (slope(0.0) > 0.0) {
        // The slope falls with S and is negative by S = total: bisection.
        double lo = 0.0, hi = total;
        for (int it = 0; it < 60; ++it) {
            const double mid = 0.5 * (lo + hi);
            (slope(mid) > 0.0 ? lo : hi) = mid;
        }
        S = 0.5 * (lo + hi);
    }
    double ll = -S;
    for (int k = 0; k < 3; ++k)
        if (n[k] > 0.0) ll += n[k] * std::log(b + S * p[k]);
    return ll;
}

}  // namespace

EFragmentation CFragmentationGuess::Decide(const CFragmentationEvidence& e, double* score, double threshold) {
    // Complementary pairs: the ion pairs above chance fall on the three
    // sums (b + y, c + z., c + z+1) with these shares. Collisional spectra
    // put their 13C pairs on the two higher sums; electron-transfer spectra
    // keep a tenth at b + y (low-resolution peaks, precursors picked at a
    // 13C peak). Each hypothesis takes its best number of ion pairs, so
    // chance pairs alone, however many, decide nothing.
    constexpr double kHcdShare[3] = {0.35, 0.45, 0.20};
    constexpr double kEtdShare[3] = {0.10, 0.45, 0.45};
    const double pairs[3] = {e.lfPairsBY, e.lfPairsCZ, e.lfPairsCZ1};
    const double llrPairs = ProfileLogLikelihood(pairs, e.lfPairsChance, kEtdShare) -
                            ProfileLogLikelihood(pairs, e.lfPairsChance, kHcdShare);

    // Low-mass ions: each one found is an immonium / y1 ion or a z ion;
    // the odd immonium ion of an ETD spectrum blurs the two.
    constexpr double kEtdIonHcd = 0.15, kEtdIonEtd = 0.60;  // share of z ions among the ions found
    const double llrLow = e.nLowMassEtd * std::log(kEtdIonEtd / kEtdIonHcd) +
                          e.nLowMassHcd * std::log((1.0 - kEtdIonEtd) / (1.0 - kEtdIonHcd));

    // Charge-reduced precursors: frequent in ETD spectra, rare by chance.
    // Converters often remove them from ETD spectra, so their absence says
    // nothing: the ratio only counts when the rate speaks for ETD.
    constexpr double kReducedHcd = 0.03, kReducedEtd = 0.5;
    const double k = e.nReduced, n = e.nReducible;
    const double llrReduced = std::max(0.0, k * std::log(kReducedEtd / kReducedHcd) +
                                                (n - k) * std::log((1.0 - kReducedEtd) / (1.0 - kReducedHcd)));

    // Pairs and low-mass ions of one spectrum share their peaks (13C peaks,
    // both charges), so they count half.
    const double llr = 0.5 * llrPairs + 0.5 * llrLow + llrReduced;
    if (score) *score = llr;
    if (llr >= threshold) return EFragmentation::ETD_LIKE;
    if (llr <= -threshold) return EFragmentation::HCD_LIKE;
    return EFragmentation::UNDECIDED;
}
