#include "scoring/BM25Score.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/Masses.h"

namespace {

using namespace mass;
constexpr double kAverageResidue = 110;
constexpr double kPpmHigh = 20;
constexpr double kPpmLow = 1;
constexpr double kPi = 3.1415926;
// Error weight e and its inverse f at the two ppm bounds (the cosine
// formula evaluated at 20 and at 1 ppm).
constexpr double kWeightHigh = 2.6794896585028633e-8;
constexpr double kFactorHigh = 37320539.63435483;
constexpr double kWeightLow = 0.9969173338382431;
constexpr double kFactorLow = 1.0030921983770593;
constexpr double kK1Plus1 = 1.02;
constexpr double kK1 = 0.02;
constexpr double kB = 0.95;
constexpr double kOneMinusB = 0.050000000000000044;
constexpr double kRunThreshold = 0.01;
constexpr size_t kRunWidth = 6;
constexpr double kUnmatched = 10000.0;

// Tables never shrink below the sizes that cover ordinary peptides and
// spectra, so the common case never reallocates.
constexpr size_t kMinSites = 100;
constexpr size_t kMinPeaks = 6000;

// Match memory: 2^14 direct-mapped entries per remembered spectrum.
constexpr int kMemoBits = 14;
// Suffix memory: 2^12 direct-mapped suffix masses per remembered spectrum.
constexpr int kSuffixBits = 12;

double ResidueMass(const CCondition& cond, char c) {
    // After the report's terminal conversion every residue is a capital or
    // the code of a variable modification.
    if (c < 'A' || c > 'Z') {
        const unsigned char u = static_cast<unsigned char>(c);
        return u < 128 ? cond.m_lfResidueMassByCode[u] : 0.0;
    }
    return cond.m_lfAAMass[c - 'A'];
}

}  // namespace

CBM25Score::CBM25Score(const CCondition* pCondition)
    : m_pCondition(pCondition),
      m_vBScore(kMinSites, 0.0),
      m_vYScore(kMinSites, 0.0),
      m_vPeakError(kMinPeaks, 0.0),
      m_vTouched((kMinPeaks + 63) / 64, 0) {}

double CBM25Score::_Saturation(double intensity) const {
    return intensity * kK1Plus1 / (intensity + m_lfSaturationNorm);
}

double CBM25Score::Score(const CResult& peptide, const std::vector<CIonType>& ions, const CSpectrum& spec) {
    _ComputeMZandMatch(peptide, ions, spec);
    return _BM25(peptide, spec, kMatchScore, nullptr);
}

void CBM25Score::Match(const CResult& peptide, const std::vector<CIonType>& ions, const CSpectrum& spec,
                       unsigned detail, CPeptideMatch& out) {
    const size_t sites = peptide.strPeptide.size() > 0 ? peptide.strPeptide.size() - 1 : 0;
    if (detail & kMatchIons) {
        out.vIonPeaks.assign(ions.size() * sites, -1);
        m_pIonPeaks = &out.vIonPeaks;
    }
    _ComputeMZandMatch(peptide, ions, spec);
    m_pIonPeaks = nullptr;
    out.lfScore = _BM25(peptide, spec, detail, &out);
    if (detail & kMatchSites) {
        // A term is positive exactly when an ion matched (a chosen peak has
        // a positive intensity and every error weight is positive).
        const size_t len = peptide.strPeptide.size();
        const size_t sites = std::min({len > 0 ? len - 1 : 0, m_vBScore.size(), m_vYScore.size()});
        out.vSites.assign(len > 0 ? len - 1 : 0, 0);
        // Plain pointers: a store through unsigned char may alias anything,
        // which would reload the tables' data pointers every step.
        const double* b = m_vBScore.data();
        const double* y = m_vYScore.data();
        unsigned char* o = out.vSites.data();
        for (size_t k = 0; k < sites; ++k)
            o[k] = static_cast<unsigned char>((b[k] > 0.0 ? CPeptideMatch::kPrefixIon : 0) |
                                              (y[k] > 0.0 ? CPeptideMatch::kSuffixIon : 0));
    }
}

void CBM25Score::RememberSpectra(const CSpectrum* a, const CSpectrum* b) {
    // A new generation invalidates every remembered match at once.
    if (++m_nMemoGen == 0) {
        for (auto& memo : m_vMemo) std::fill(memo.begin(), memo.end(), CMatchMemo{});
        m_nMemoGen = 1;
    }
    m_pMemoSpec[0] = a;
    m_pMemoSpec[1] = b;
    for (CReplay& r : m_replay) {
        r.bValid = false;
        r.lfIntensitySum = -1.0;
        r.vTotalByLength.clear();
        r.vSuffixEffects.clear();
        r.pSuffixIons = nullptr;
    }
    for (int k = 0; k < 2; ++k)
        if (m_pMemoSpec[k] != nullptr && m_replay[k].vSuffix.empty()) m_replay[k].vSuffix.resize(size_t{1} << kSuffixBits);
    for (int k = 0; k < 2; ++k)
        if (m_pMemoSpec[k] != nullptr && m_vMemo[k].empty()) m_vMemo[k].resize(size_t{1} << kMemoBits);
    for (int k = 0; k < 2; ++k) {
        m_bOccupied[k] = false;
        if (m_pMemoSpec[k] != nullptr) _BuildOccupied(k, *m_pMemoSpec[k]);
    }
}

void CBM25Score::_BuildOccupied(int slot, const CSpectrum& spec) {
    // A peak at p matches a theoretical m/z within the tolerance t of that
    // m/z: m/z in [p - t, p + t] (Da) or in [p / (1 + r), p / (1 - r)] for
    // r = ppm * 1e-6. The bins of that range, widened by a bin on each side
    // against rounding, are set; a clear bin therefore never holds a match.
    const CCondition& c = *m_pCondition;
    const double tol = std::fabs(c.m_lfFragTol);
    const double r = tol * 1e-6;
    if (!std::isfinite(tol) || (c.m_bFragTolPpm && r >= 0.5)) return;  // no map: every m/z is matched in full
    // Beyond this m/z a map would be larger than it is worth.
    constexpr double kMaxMz = 100000.0;
    double top = 0.0;
    for (const CPeak& p : spec.m_vPeaks) {
        if (!std::isfinite(p.lfMz)) continue;
        if (p.lfMz > kMaxMz) return;
        top = std::max(top, p.lfMz);
    }
    const double reach = c.m_bFragTolPpm ? top / (1.0 - r) : top + tol;
    if (!(reach < kMaxMz)) return;
    const size_t bins = static_cast<size_t>(reach * kBinsPerDa) + 2;
    std::vector<uint64_t>& map = m_vOccupied[slot];
    map.assign((bins + 63) / 64, 0);
    const double last = static_cast<double>(map.size() * 64 - 1);
    for (const CPeak& p : spec.m_vPeaks) {
        if (!std::isfinite(p.lfMz)) continue;
        const double lo = (c.m_bFragTolPpm ? p.lfMz / (1.0 + r) : p.lfMz - tol) * kBinsPerDa - 1.0;
        const double hi = (c.m_bFragTolPpm ? p.lfMz / (1.0 - r) : p.lfMz + tol) * kBinsPerDa + 1.0;
        if (hi < 0.0) continue;
        const size_t from = lo > 0.0 ? static_cast<size_t>(lo) : 0;
        const size_t to = static_cast<size_t>(std::min(hi, last));
        for (size_t b = from; b <= to; ++b) map[b >> 6] |= uint64_t{1} << (b & 63);
    }
    m_bOccupied[slot] = true;
}

CBM25Score::CSpecView CBM25Score::_View(const CSpectrum& spec) {
    CSpecView v;
    for (int k = 0; k < 2; ++k)
        if (m_pMemoSpec[k] == &spec) {
            v.pMemo = m_vMemo[k].data();
            v.nSlot = k;
            if (m_bOccupied[k]) {
                v.pOccupied = m_vOccupied[k].data();
                v.lfOccupiedTop = static_cast<double>(m_vOccupied[k].size() * 64) / kBinsPerDa;
            }
        }
    v.pPeaks = spec.m_vPeaks.data();
    v.nPeaks = spec.m_vPeaks.size();
    v.pHash = spec.m_vHashTable.data();
    v.lfHashSize = static_cast<double>(spec.m_vHashTable.size());
    v.bPpm = m_pCondition->m_bFragTolPpm;
    v.lfTol = m_pCondition->m_lfFragTol;
    return v;
}

inline __attribute__((always_inline)) int CBM25Score::_Match(const double mz, const CSpecView& v) {
    // The fragment tolerance at mz, as the conditions compute it.
    const double t = v.bPpm ? mz * v.lfTol * 1e-6 : v.lfTol;
    const double lo = mz - t;
    const double hi = mz + t;
    // Bucket = lo truncated toward zero; a negative bucket (lo <= -1), one
    // past the table, or a NaN window means no peak.
    if (!(lo > -1.0) || !(lo < v.lfHashSize)) return NO_PEAK;
    const size_t bucket = static_cast<size_t>(static_cast<long long>(lo));
    const CPeak* peaks = v.pPeaks;
    const size_t n = v.nPeaks;
    size_t i = static_cast<size_t>(std::max(v.pHash[bucket], 0));
    while (i < n && peaks[i].lfMz < lo) ++i;
    if (i >= n || peaks[i].lfMz > hi) return NO_PEAK;
    int best = NO_PEAK;
    double bestIntensity = 0.0;
    for (; i < n && peaks[i].lfMz <= hi; ++i) {
        // Strictly greater: the first of equal intensities wins, and a peak
        // of intensity 0 is never chosen.
        if (peaks[i].lfIntensity > bestIntensity) {
            bestIntensity = peaks[i].lfIntensity;
            best = static_cast<int>(i);
        }
    }
    return best;
}

inline __attribute__((always_inline)) int CBM25Score::_find_and_match(const double mz, const size_t len,
                                                                     const CSpecView& v, const unsigned int site,
                                                                     const bool prefix) {
    // Negative or NaN m/z take the full path below.
    if (v.pOccupied != nullptr && mz >= 0.0) {
        if (!(mz < v.lfOccupiedTop)) return NO_PEAK;
        // 0 <= mz < top: the signed conversion (one instruction; an unsigned
        // one is several) gives the same bin.
        const auto bin = static_cast<size_t>(static_cast<int64_t>(mz * kBinsPerDa));
        if (((v.pOccupied[bin >> 6] >> (bin & 63)) & 1) == 0) return NO_PEAK;
    }
    int j;
    double e = 0.0, f = 0.0;
    CMatchMemo* slot = nullptr;
    uint64_t bits = 0;
    if (v.pMemo != nullptr) {
        std::memcpy(&bits, &mz, sizeof bits);
        slot = &v.pMemo[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kMemoBits)];
    }
    if (slot != nullptr && slot->nGeneration == m_nMemoGen && slot->nKey == bits) {
        j = slot->nPeak;
        e = slot->lfWeight;
        f = slot->lfFactor;
    } else {
        j = _Match(mz, v);
        if (j != NO_PEAK) {
            const double error = std::fabs(v.pPeaks[j].lfMz - mz);
            double ppm = error / mz * 1000000;
            // Scaled to the tolerance: the error as the share of the
            // tolerance that 20 ppm is of a 20 ppm tolerance.
            if (m_pCondition->m_bScaleToFragTol)
                ppm = v.bPpm ? ppm * m_pCondition->m_lfPpmScale : error / v.lfTol * kPpmHigh;
            if (ppm > kPpmHigh) {
                e = kWeightHigh;
                f = kFactorHigh;
            } else if (ppm < kPpmLow) {
                e = kWeightLow;
                f = kFactorLow;
            } else {
                e = std::cos(ppm / kPpmHigh * kPi * 0.5);
                f = 1 / e;
            }
        }
        if (slot != nullptr) *slot = CMatchMemo{bits, m_nMemoGen, j, e, f};
    }
    if (j == NO_PEAK) return NO_PEAK;
    if (m_pRecord != nullptr) m_pRecord->push_back(CEffect{j, site, e, f});
    const CPeak& peak = v.pPeaks[j];
    if (static_cast<size_t>(j) >= m_vPeakError.size()) {
        m_vPeakError.resize(v.nPeaks, kUnmatched);
        m_vTouched.resize((v.nPeaks + 63) / 64, 0);
    }
    _Mark(static_cast<size_t>(j), f);
    if (site == MARKER) return j;

    const double term = e * _Saturation(peak.lfIntensity);
    if (prefix) {
        if (site >= m_vBScore.size()) return j;
        m_vBScore[site] += term;
    } else {
        const long long idx = static_cast<long long>(len) - 2 - static_cast<long long>(site);
        if (idx < 0 || static_cast<size_t>(idx) >= m_vYScore.size()) return j;
        m_vYScore[static_cast<size_t>(idx)] += term;
    }
    return j;
}

int CBM25Score::_Match(const double& mz, const CSpectrum& spec) { return _Match(double{mz}, _View(spec)); }

bool CBM25Score::_find_and_match(const double& mz, const CResult& peptide, const CSpectrum& spec,
                                 const unsigned int& site, const bool& prefix) {
    return _find_and_match(double{mz}, peptide.strPeptide.size(), _View(spec), unsigned{site}, bool{prefix}) != NO_PEAK;
}

void CBM25Score::_ComputeMZandMatch(const CResult& peptide, const std::vector<CIonType>& ions,
                                    const CSpectrum& spec) {
    const CCondition& cond = *m_pCondition;
    const std::string& pep = peptide.strPeptide;
    const size_t len = pep.size();
    const CSpecView view = _View(spec);

    m_vResidue.resize(len);
    m_vPrefix.resize(len);
    m_vSuffix.resize(len);
    for (size_t k = 0; k < len; ++k) m_vResidue[k] = ResidueMass(cond, pep[k]);
    if (len > 0) {
        if (std::fabs(peptide.lfNTermShift) > kSmallestShift) m_vResidue[0] += peptide.lfNTermShift;
        if (std::fabs(peptide.lfCTermShift) > kSmallestShift) m_vResidue[len - 1] += peptide.lfCTermShift;
    }
    double run = 0.0;
    for (size_t k = 0; k < len; ++k) {
        run += m_vResidue[k];
        m_vPrefix[k] = run;
    }
    // Suffix sums are running totals from the C terminus.
    run = 0.0;
    for (size_t k = 0; k < len; ++k) {
        run += m_vResidue[len - 1 - k];
        m_vSuffix[k] = run;
    }

    // The site tables cover the whole peptide whatever its length; the
    // peak table covers the whole spectrum.
    const size_t sites = std::max(kMinSites, len);
    if (m_vBScore.size() < sites) m_vBScore.resize(sites);
    if (m_vYScore.size() < sites) m_vYScore.resize(sites);
    // Only sites 0 .. len-2 are ever written; clearing what the previous
    // peptide may have written keeps the rest of the tables at 0.
    const size_t dirty = std::min(std::max(m_nDirtySites, len), m_vBScore.size());
    std::fill(m_vBScore.begin(), m_vBScore.begin() + static_cast<std::ptrdiff_t>(dirty), 0.0);
    std::fill(m_vYScore.begin(), m_vYScore.begin() + static_cast<std::ptrdiff_t>(dirty), 0.0);
    m_nDirtySites = len;
    const size_t n = spec.m_vPeaks.size();
    _ResetPeaks(n);

    const double lenD = static_cast<double>(len);
    const double peptides = spec.m_lfPrecursorMH / kAverageResidue;
    m_lfLengthRatio = lenD * lenD / (peptides * peptides);
    m_lfSaturationNorm = kK1 * (kB * m_lfLengthRatio + kOneMinusB);

    if (len < 2) return;
    // Replaying needs the same spectrum (remembered, so unchanged), the same
    // ion types and the same N-terminal shift; groups that touch the last
    // residue (its C-terminal shift, the internal fragments that end there)
    // are never shared.
    CReplay* rp = view.pMemo != nullptr && m_pIonPeaks == nullptr ? &m_replay[view.nSlot] : nullptr;
    size_t shared = 0;
    if (rp != nullptr) {
        if (rp->bValid && rp->pIons == &ions && rp->lfNTermShift == peptide.lfNTermShift) {
            const size_t limit = std::min(len, rp->strPeptide.size()) - 1;
            while (shared < limit && pep[shared] == rp->strPeptide[shared]) ++shared;
        }
        _Replay(*rp, shared, view);
        rp->vEffects.resize(shared > 0 ? rp->vGroupEnd[shared - 1] : 0);
        rp->vGroupEnd.resize(shared);
        m_pRecord = &rp->vEffects;
    }
    const bool internal = spec.m_strActivation == "HCD";
    for (size_t k = shared; k < len; ++k) {
        _MatchPrefixGroup(k, ions, spec, view, internal);
        if (rp != nullptr) rp->vGroupEnd.push_back(static_cast<uint32_t>(rp->vEffects.size()));
    }
    m_pRecord = nullptr;
    if (rp != nullptr) {
        rp->strPeptide = pep;
        rp->pIons = &ions;
        rp->lfNTermShift = peptide.lfNTermShift;
        rp->bValid = true;
    }

    // Glutamine after the site: its side chain cyclises, so the b ion also
    // appears shifted by ammonia.
    const bool glutamine = len > 1 && pep.find('Q', 1) != std::string::npos;
    for (size_t t = 0; glutamine && t < ions.size(); ++t) {
        const CIonType& ion = ions[t];
        const int z = ion.nNumber;
        // A charge of 0 or less names no ion that can be matched.
        if (z > spec.m_nCharge || z <= 0 || ion.strName.empty() || ion.strName[0] != 'b') continue;
        for (size_t l = pep.find('Q', 1); l != std::string::npos && l < len; l = pep.find('Q', l + 1)) {
            const double mz = ion.bFlag1 ? (m_vPrefix[l - 1] + z * kProton + ion.lfValue) / z
                                         : (m_vSuffix[l - 1] + z * kProton + ion.lfValue) / z;
            _find_and_match(mz + kAmmonia / z, len, view, MARKER, true);
        }
    }
    // The suffix memory serves the first ion types it met for this spectrum.
    if (rp != nullptr && rp->pSuffixIons == nullptr) rp->pSuffixIons = &ions;
    CReplay* suffixes = rp != nullptr && rp->pSuffixIons == &ions ? rp : nullptr;
    for (size_t l = 1; l < len; ++l)
        if (suffixes == nullptr || !_ReplaySuffix(l, view, *suffixes)) _MatchSuffixGroup(l, ions, spec, view, suffixes);
}

inline __attribute__((always_inline)) void CBM25Score::_MatchSeriesIon(const CIonType& ion, double mz, size_t len,
                                                                      const CSpecView& view, unsigned int site,
                                                                      bool prefix, size_t slot) {
    const int peak = _find_and_match(mz, len, view, site, prefix);
    if (peak == NO_PEAK) return;
    // Which peak each ion matched, by the cleavage it comes from.
    if (m_pIonPeaks != nullptr) (*m_pIonPeaks)[slot] = peak;
    const int z = ion.nNumber;
    if (z == 1 && !ion.strName.empty() && ion.strName[0] == 'b') _find_and_match(mz - kCO, len, view, MARKER, true);
    _find_and_match(mz - kAmmonia / z, len, view, MARKER, true);
    _find_and_match(mz - kWater / z, len, view, MARKER, true);
}

inline __attribute__((always_inline)) bool CBM25Score::_ReplaySuffix(size_t l, const CSpecView& view,
                                                                     const CReplay& rp) {
    const double m = m_vSuffix[l - 1];
    uint64_t bits;
    std::memcpy(&bits, &m, sizeof bits);
    const CSuffixGroup& group = rp.vSuffix[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kSuffixBits)];
    if (group.nGeneration != m_nMemoGen || group.nKey != bits) return false;
    const size_t target = m_vSuffix.size() - 1 - l;
    for (uint32_t i = group.nFirst; i < group.nFirst + group.nCount; ++i) {
        const CEffect& x = rp.vSuffixEffects[i];
        _Mark(static_cast<size_t>(x.nPeak), x.lfFactor);
        if (x.nSite != MARKER) m_vYScore[target] += x.lfWeight * _Saturation(view.pPeaks[x.nPeak].lfIntensity);
    }
    return true;
}

void CBM25Score::_MatchSuffixGroup(size_t l, const std::vector<CIonType>& ions, const CSpectrum& spec,
                                   const CSpecView& view, CReplay* rp) {
    const size_t len = m_vSuffix.size();
    const size_t target = len - 1 - l;
    const double m = m_vSuffix[l - 1];
    CSuffixGroup* group = nullptr;
    if (rp != nullptr) {
        uint64_t bits;
        std::memcpy(&bits, &m, sizeof bits);
        // The caller replayed the group when rp held it: it is made here.
        group = &rp->vSuffix[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kSuffixBits)];
        *group = CSuffixGroup{bits, m_nMemoGen, static_cast<uint32_t>(rp->vSuffixEffects.size()), 0};
        m_pRecord = &rp->vSuffixEffects;
    }
    const unsigned int site = static_cast<unsigned int>(l - 1);
    for (size_t t = 0; t < ions.size(); ++t) {
        const CIonType& ion = ions[t];
        const int z = ion.nNumber;
        if (ion.bFlag1 || z > spec.m_nCharge || z <= 0) continue;
        _MatchSeriesIon(ion, (m + z * kProton + ion.lfValue) / z, len, view, site, false, t * (len - 1) + target);
    }
    if (group != nullptr) {
        group->nCount = static_cast<uint32_t>(rp->vSuffixEffects.size()) - group->nFirst;
        m_pRecord = nullptr;
    }
}

void CBM25Score::_Replay(const CReplay& rp, size_t groups, const CSpecView& view) {
    if (groups == 0) return;
    const size_t end = rp.vGroupEnd[groups - 1];
    for (size_t i = 0; i < end; ++i) {
        const CEffect& x = rp.vEffects[i];
        _Mark(static_cast<size_t>(x.nPeak), x.lfFactor);
        if (x.nSite != MARKER) m_vBScore[x.nSite] += x.lfWeight * _Saturation(view.pPeaks[x.nPeak].lfIntensity);
    }
}

void CBM25Score::_MatchPrefixGroup(size_t k, const std::vector<CIonType>& ions, const CSpectrum& spec,
                                   const CSpecView& view, bool internal) {
    const size_t len = m_vPrefix.size();
    if (k + 1 < len) {
        for (size_t t = 0; t < ions.size(); ++t) {
            const CIonType& ion = ions[t];
            const int z = ion.nNumber;
            if (!ion.bFlag1 || z > spec.m_nCharge || z <= 0) continue;
            _MatchSeriesIon(ion, (m_vPrefix[k] + z * kProton + ion.lfValue) / z, len, view,
                            static_cast<unsigned int>(k), true, t * (len - 1) + k);
        }
    }
    // Internal fragments (residues s+1 .. k) are an HCD phenomenon. The
    // fragments that end at the last residue are suffix ions already,
    // except the single last residue.
    if (!internal) return;
    // Ending at the last residue, only the fragment of that residue and its
    // neighbour (s = k - 1) is not a suffix ion.
    for (size_t s = k + 1 == len && k > 0 ? k - 1 : 0; s < k; ++s) {
        const double mz = m_vPrefix[k] - m_vPrefix[s] + kProton;
        if (_find_and_match(mz, len, view, MARKER, true) != NO_PEAK)
            _find_and_match(mz - kCarbon - kOxygen, len, view, MARKER, true);
    }
}

void CBM25Score::_ResetPeaks(size_t n) {
    // Every entry below n is unmatched afterwards, as a fill would leave it;
    // only the entries touched since the last reset are written.
    if (m_vPeakError.size() < n) m_vPeakError.resize(n);
    if (m_vTouched.size() * 64 < m_vPeakError.size()) m_vTouched.resize((m_vPeakError.size() + 63) / 64, 0);
    if (n > m_nCleanPeaks) {
        std::fill(m_vPeakError.begin() + static_cast<std::ptrdiff_t>(m_nCleanPeaks),
                  m_vPeakError.begin() + static_cast<std::ptrdiff_t>(n), kUnmatched);
        m_nCleanPeaks = n;
    }
    for (size_t w = 0; w < m_nTouchedWords; ++w) {
        for (uint64_t bits = m_vTouched[w]; bits != 0; bits &= bits - 1)
            m_vPeakError[w * 64 + static_cast<size_t>(__builtin_ctzll(bits))] = kUnmatched;
        m_vTouched[w] = 0;
    }
    m_nTouchedWords = 0;
}

double CBM25Score::_BM25(const CResult& peptide, const CSpectrum& spec, unsigned detail, CPeptideMatch* out) {
    const std::vector<CPeak>& peaks = spec.m_vPeaks;
    const size_t n = peaks.size();

    // Peak term and mean relative intensity. Without peaks both the peak
    // term and the enzyme term are 0 (the mean is undefined).
    double s1 = 0.0, s2 = 0.0;
    const bool sums = out != nullptr && (detail & kMatchSums) != 0;
    const bool total = out != nullptr && (detail & kMatchTotal) != 0;
    if (sums) {
        out->lfMatchedIntensity = out->lfMatchWeights = 0.0;
        out->nMatchedPeaks = 0;
    }
    if (total) out->lfTotalTerm = 0.0;
    CReplay* remembered = nullptr;
    for (int k = 0; k < 2; ++k)
        if (m_pMemoSpec[k] == &spec) remembered = &m_replay[k];
    if (n > 0) {
        double sum = 0.0;
        if (remembered != nullptr && remembered->lfIntensitySum >= 0.0) {
            sum = remembered->lfIntensitySum;
        } else {
            for (size_t i = 0; i < n; ++i) sum += peaks[i].lfIntensity;
            if (remembered != nullptr) remembered->lfIntensitySum = sum;
        }
        // The peaks a match touched, in the order of the peaks.
        for (size_t w = 0; w < m_nTouchedWords && w * 64 < n; ++w) {
            for (uint64_t bits = m_vTouched[w]; bits != 0; bits &= bits - 1) {
                const size_t i = w * 64 + static_cast<size_t>(__builtin_ctzll(bits));
                if (i >= n || m_vPeakError[i] == kUnmatched) continue;
                s1 += _Saturation(peaks[i].lfIntensity) / m_vPeakError[i];
                if (sums) {
                    out->lfMatchedIntensity += peaks[i].lfIntensity;
                    out->lfMatchWeights += 1.0 / m_vPeakError[i];
                    ++out->nMatchedPeaks;
                }
            }
        }
        const double mean = sum / static_cast<double>(n);
        if (total) {
            // The terms saturate by the peptide's length alone.
            const size_t len = peptide.strPeptide.size();
            double* known = nullptr;
            if (remembered != nullptr) {
                if (remembered->vTotalByLength.size() <= len) remembered->vTotalByLength.resize(len + 1, -1.0);
                known = &remembered->vTotalByLength[len];
            }
            if (known != nullptr && *known >= 0.0) {
                out->lfTotalTerm = *known;
            } else {
                double all = m_pCondition->m_strEnzymeSites.empty() ? 0.0 : _Saturation(mean);
                for (size_t i = 0; i < n; ++i) all += _Saturation(peaks[i].lfIntensity);
                out->lfTotalTerm = all;
                if (known != nullptr) *known = all;
            }
        }

        const std::string& pep = peptide.strPeptide;
        if (!pep.empty()) {
            const char terminal = m_pCondition->m_strEnzymeTerm == "N" ? pep.front() : pep.back();
            if (m_pCondition->m_strEnzymeSites.find(terminal) != std::string::npos) s2 = _Saturation(mean);
        }
    }

    // Run bonus: every window of six consecutive sites whose terms all reach
    // the threshold adds its mean, over the whole table.
    // Windows are visited in order, the prefix table's before the suffix
    // table's at each start; a window counts when the run of sites reaching
    // the threshold that ends at its last site is six long.
    double s3 = 0.0;
    auto windowSum = [](const std::vector<double>& v, size_t first) {
        double sum = 0.0;
        for (size_t k = first; k < first + kRunWidth; ++k) sum += v[k];
        return sum;
    };
    // Entries from len - 1 on are 0, so a window reaching them cannot count:
    // only windows inside the peptide's sites are looked at.
    const size_t len = peptide.strPeptide.size();
    const size_t size = std::min({m_vBScore.size(), m_vYScore.size(), len > 0 ? len - 1 : 0});
    size_t runB = 0, runY = 0;
    for (size_t k = 0; k < size; ++k) {
        runB = m_vBScore[k] >= kRunThreshold ? runB + 1 : 0;
        runY = m_vYScore[k] >= kRunThreshold ? runY + 1 : 0;
        if (k + 1 < kRunWidth) continue;
        const size_t first = k + 1 - kRunWidth;
        if (runB >= kRunWidth) s3 += windowSum(m_vBScore, first) / kRunWidth;
        if (runY >= kRunWidth) s3 += windowSum(m_vYScore, first) / kRunWidth;
    }
    return s1 + s2 + s3;
}
