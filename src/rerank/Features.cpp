#include "rerank/Features.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/Masses.h"
#include "rerank/FragmentModel.h"
#include "rerank/IntensityAgreement.h"
#include "rerank/PortableMath.h"
#include "rerank/RerankModel.h"
#include "rerank/ResiduePairs.h"

const char* const CFeatures::kNames[kCount] = {
    "score_gap",          "y_site_share",       "b_site_share",            "intensity_explained",
    "sites_without_fragment", "longest_supported_run", "match_error_weight", "proline_sites_without_y",
    "cterm_k_or_r",       "prefix_agreement",   "both_ions_share",         "modifications",
    "path_weight_gap",    "intensity_cosine",   "intensity_pearson",       "predicted_missed_share",
    "intensity_agreement", "agreement_gap",     "detection_likelihood",    "unexplained_top_peaks",
    "ion_share",          "isotope_support",    "isotope_shadowed",        "mass_error_spread",
    "mass_error_mean",    "precursor_error",    "residue_pairs",           "length",
    "charge",             "precursor_mass",     "score",                   "score_rank",
    "longest_gap",        "shifted_precursor",  "cosine_gap",              "detection_gap",
    "missed_share_gap",   "unexplained_gap",    "ion_share_gap",           "immonium_support",
    "immonium_absent",
};

namespace {

using mass::kSmallestShift;
constexpr double kBinWidth = 0.01;      // Da
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Ions predicted below this share of the mean explain no peak: a model
// that expects nothing there does not vouch for the peak.
constexpr double kExplainingShare = 0.1;
// The strongest peaks judged per residue of the candidate.
constexpr size_t kPeaksPerResidue = 2;
// Isotope peaks are told apart from their monoisotopic peak only when the
// tolerance is below this share of their spacing.
constexpr double kIsotopeResolution = 0.3;
// Detection probabilities are kept this far from 0 and 1, so one ion
// cannot decide the likelihood.
constexpr double kDetectionFloor = 1e-3;
// Calibration inputs: margins beyond this say nothing more.
constexpr double kMarginCap = 10.0;

double ResidueMass(const CCondition& c, char code) {
    if (code >= 'A' && code <= 'Z') return c.m_lfAAMass[code - 'A'];
    const unsigned char u = static_cast<unsigned char>(code);
    return u < 128 ? c.m_lfResidueMassByCode[u] : 0.0;
}

char ResidueLetter(const CCondition& c, char code) {
    if (const CVarMod* mod = c.VarMod(code)) return mod->cResidue;
    return code;
}

}  // namespace

int CFeatures::IndexOf(const std::string& name) {
    for (size_t k = 0; k < kCount; ++k)
        if (name == kNames[k]) return static_cast<int>(k);
    return -1;
}

void CFeatures::Begin(const CSpectrum& spec, const std::vector<CIonType>& ions, const CFragmentModel* fragments,
                      const CResiduePairs* pairs) {
    m_nRows = 0;
    m_vBins.clear();
    m_vBinFirst.clear();
    m_vBinCount.clear();
    m_lfTotalIntensity = 0.0;
    for (const CPeak& p : spec.m_vPeaks) m_lfTotalIntensity += p.lfIntensity;
    m_pSpec = &spec;
    m_pIons = &ions;
    m_pFragments = fragments;
    m_pPairs = pairs;
    m_vIonKind.resize(ions.size());
    for (size_t t = 0; t < ions.size(); ++t) {
        const int z = ions[t].nNumber;
        m_vIonKind[t] = z == 1 || z == 2 ? (ions[t].bFlag1 ? 0 : 2) + (z - 1) : -1;
        // A second type of the same kind would count its ions twice.
        for (size_t u = 0; u < t; ++u)
            if (m_vIonKind[u] == m_vIonKind[t]) m_vIonKind[t] = -1;
    }
    const size_t n = spec.m_vPeaks.size();
    m_vStrongest.resize(n);
    for (size_t i = 0; i < n; ++i) m_vStrongest[i] = static_cast<unsigned int>(i);
    std::sort(m_vStrongest.begin(), m_vStrongest.end(), [&spec](unsigned int a, unsigned int b) {
        const double x = spec.m_vPeaks[a].lfIntensity, y = spec.m_vPeaks[b].lfIntensity;
        return x != y ? x > y : a < b;
    });
    if (m_vPeakMark.size() < n) m_vPeakMark.resize(n, 0);
    m_lfLowestMz = HUGE_VAL;
    for (const CPeak& p : spec.m_vPeaks) m_lfLowestMz = std::min(m_lfLowestMz, p.lfMz);
}

bool CFeatures::OwnFeature(int index) {
    constexpr Index kFromList[] = {kScoreGap,   kPathWeightGap, kPrefixAgreement, kAgreementGap,  kCosineGap,
                                   kDetectionGap, kMissedShareGap, kUnexplainedGap, kIonShareGap};
    if (index < 0 || index >= static_cast<int>(kCount)) return false;
    for (const Index k : kFromList)
        if (index == k) return false;
    return true;
}

void CFeatures::Add(const CResult& r, const CPeptideMatch& match, const CCondition& c, bool evidence) {
    m_vRows.resize((m_nRows + 1) * kCount);
    if (m_vIndex.size() <= m_nRows) m_vIndex.resize(m_nRows + 1);
    m_vIndex[m_nRows] = static_cast<unsigned int>(m_nRows);
    double* row = m_vRows.data() + m_nRows * kCount;
    std::fill(row, row + kCount, 0.0);
    ++m_nRows;
    const std::string& pep = r.strPeptide;
    const size_t len = pep.size();
    const size_t sites = std::min(len > 0 ? len - 1 : 0, match.vSites.size());

    int withY = 0, withB = 0, both = 0, without = 0, run = 0, longest = 0, prolineWithoutY = 0;
    for (size_t k = 0; k < sites; ++k) {
        const bool y = (match.vSites[k] & CPeptideMatch::kSuffixIon) != 0;
        const bool b = (match.vSites[k] & CPeptideMatch::kPrefixIon) != 0;
        withY += y;
        withB += b;
        if (!y && !b) ++without;
        both += y && b;
        run = y || b ? run + 1 : 0;
        longest = std::max(longest, run);
        if (!y && ResidueLetter(c, pep[k + 1]) == 'P') ++prolineWithoutY;
    }
    if (sites > 0) {
        row[kYSiteShare] = static_cast<double>(withY) / static_cast<double>(sites);
        row[kBSiteShare] = static_cast<double>(withB) / static_cast<double>(sites);
        row[kBothIonsShare] = static_cast<double>(both) / static_cast<double>(sites);
    }
    row[kSitesWithoutFragment] = without;
    row[kLongestSupportedRun] = longest;
    row[kProlineSitesWithoutY] = prolineWithoutY;

    if (m_lfTotalIntensity > 0.0) row[kIntensityExplained] = match.lfMatchedIntensity / m_lfTotalIntensity;
    if (match.nMatchedPeaks > 0) row[kMatchErrorWeight] = match.lfMatchWeights / match.nMatchedPeaks;
    int mods = 0;
    for (const char code : pep) mods += c.VarMod(code) != nullptr;
    row[kModifications] = mods;
    if (len > 0) {
        const char last = ResidueLetter(c, pep.back());
        row[kCTermKOrR] = last == 'K' || last == 'R';
    }
    row[kScoreRank] = static_cast<double>(m_nRows - 1);
    if (evidence) _AddEvidence(r, match, c, row);

    // Prefix masses at the cleavage sites, binned; increasing, so equal
    // neighbours are the only repeats.
    m_vBinFirst.push_back(static_cast<unsigned int>(m_vBins.size()));
    double mass = std::fabs(r.lfNTermShift) > kSmallestShift ? r.lfNTermShift : 0.0;
    for (size_t k = 0; k + 1 < len; ++k) {
        mass += ResidueMass(c, pep[k]);
        // Rounded to the nearest bin (masses are positive).
        const int64_t bin = static_cast<int64_t>(mass / kBinWidth + 0.5);
        if (m_vBins.size() == m_vBinFirst.back() || m_vBins.back() != bin) m_vBins.push_back(bin);
    }
    m_vBinCount.push_back(static_cast<unsigned int>(m_vBins.size()) - m_vBinFirst.back());
}

void CFeatures::_AddEvidence(const CResult& r, const CPeptideMatch& match, const CCondition& c, double* row) {
    const std::string& pep = r.strPeptide;
    const int len = static_cast<int>(pep.size());
    const CSpectrum& spec = *m_pSpec;
    int gap = 0, longestGap = 0;
    for (size_t k = 0; k < match.vSites.size(); ++k) {
        gap = match.vSites[k] == 0 ? gap + 1 : 0;
        longestGap = std::max(longestGap, gap);
    }
    row[kLongestGap] = longestGap;
    row[kLength] = len;
    row[kCharge] = spec.m_nCharge;
    row[kPrecursorMass] = spec.m_lfPrecursorMH;
    row[kScore] = r.lfScore;
    row[kShiftedPrecursor] = r.bShifted;

    _Spell(r, c);
    // The precursor error of the candidate's mass, against the precursor
    // it was completed for.
    double mh = mass::kWater + mass::kProton;
    for (int k = 0; k < len; ++k) mh += ResidueMass(c, pep[static_cast<size_t>(k)]);
    if (std::fabs(r.lfNTermShift) > kSmallestShift) mh += r.lfNTermShift;
    if (std::fabs(r.lfCTermShift) > kSmallestShift) mh += r.lfCTermShift;
    const double precursor = spec.m_lfPrecursorMH - (r.bShifted ? mass::kIsotopeSpacing : 0.0);
    const double pepTol = c.CalcPeptideMassDeviation(precursor);
    row[kPrecursorError] = pepTol > 0.0 ? (precursor - mh) / pepTol : kNaN;
    row[kResiduePairs] = m_pPairs != nullptr ? m_pPairs->MeanLogOdds(m_strLetters.data(), len) : kNaN;
    _AddIonErrors(r, match, c, row);
    _AddIntensity(match, len, row);
    _AddImmonium(r, c, row);
}

void CFeatures::_AddImmonium(const CResult& r, const CCondition& c, double* row) {
    // Residue types by letter (unmodified) and by code (modified residues
    // have immonium ions of their own mass).
    bool has[128] = {};
    for (const char code : r.strPeptide) has[static_cast<unsigned char>(code) & 127] = true;
    int types = 0, seen = 0;
    double absent = 0.0;
    const CSpectrum& spec = *m_pSpec;
    for (int u = 0; u < 128; ++u) {
        const char code = static_cast<char>(u);
        // Glycine and alanine immonium ions lie below every instrument's range.
        if (code == 'G' || code == 'A' || code == 'I') continue;
        const bool letter = code >= 'A' && code <= 'Z';
        if (!letter && c.VarMod(code) == nullptr) continue;
        const double m = ResidueMass(c, code);
        if (!(m > 0.0)) continue;
        const double mz = m - mass::kCO + mass::kProton;
        const double tol = c.CalcFragmentMassDeviation(mz);
        if (mz < m_lfLowestMz - tol) continue;
        const int peak = _PeakNear(mz, tol);
        if (has[u]) {
            ++types;
            seen += peak >= 0;
        } else if (peak >= 0 && letter) {
            absent = std::max(absent, spec.m_vPeaks[static_cast<size_t>(peak)].lfIntensity);
        }
    }
    row[kImmoniumSupport] = types > 0 ? static_cast<double>(seen) / types : kNaN;
    row[kImmoniumAbsent] = absent;
}

void CFeatures::_Spell(const CResult& r, const CCondition& c) {
    const std::string& pep = r.strPeptide;
    m_strLetters.resize(pep.size());
    m_vDeltas.resize(pep.size());
    m_lfNTermDelta = std::fabs(r.lfNTermShift) > kSmallestShift ? r.lfNTermShift : 0.0;
    for (size_t k = 0; k < pep.size(); ++k) {
        const CVarMod* mod = c.VarMod(pep[k]);
        const char letter = mod != nullptr ? mod->cResidue : pep[k];
        m_strLetters[k] = letter;
        const double builtIn = CCondition::BuiltInMass(letter);
        // Fixed masses (carbamidomethyl C, labelled K) are deltas too.
        double delta = letter >= 'A' && letter <= 'Z' && builtIn > 0.0 ? c.m_lfAAMass[letter - 'A'] - builtIn : 0.0;
        if (mod != nullptr && mod->bNTerm && (letter == 'K' || letter == 'M')) {
            // On K or M the model reads a delta as a label or an oxidation;
            // an N-terminal group is neither.
            m_lfNTermDelta += mod->lfDelta;
        } else if (mod != nullptr) {
            delta += mod->lfDelta;
        }
        m_vDeltas[k] = delta;
    }
    if (!pep.empty() && std::fabs(r.lfCTermShift) > kSmallestShift) m_vDeltas.back() += r.lfCTermShift;
}

void CFeatures::_AddIonErrors(const CResult& r, const CPeptideMatch& match, const CCondition& c, double* row) {
    const std::string& pep = r.strPeptide;
    const size_t len = pep.size();
    const size_t sites = len > 0 ? len - 1 : 0;
    const std::vector<CIonType>& ions = *m_pIons;
    const CSpectrum& spec = *m_pSpec;
    const int slots = CFragmentModel::IonCount(static_cast<int>(len));
    m_vObserved.assign(static_cast<size_t>(slots), 0.0);
    m_vIonMz.assign(static_cast<size_t>(slots), 0.0);
    // Prefix masses as the scorer builds them.
    m_vPrefix.resize(len);
    double run = 0.0;
    for (size_t k = 0; k < len; ++k) {
        double m = ResidueMass(c, pep[k]);
        if (k == 0 && std::fabs(r.lfNTermShift) > kSmallestShift) m += r.lfNTermShift;
        if (k + 1 == len && std::fabs(r.lfCTermShift) > kSmallestShift) m += r.lfCTermShift;
        run += m;
        m_vPrefix[k] = run;
    }
    int possible = 0, matched = 0, errors = 0;
    double errorSum = 0.0, intensity = 0.0, supported = 0.0, shadowed = 0.0;
    bool isotopes = true;
    for (size_t t = 0; t < ions.size(); ++t) {
        const int kind = m_vIonKind[t];
        const int z = ions[t].nNumber;
        if (kind < 0 || z > spec.m_nCharge || slots == 0) continue;
        for (size_t k = 0; k < sites; ++k) {
            const double neutral = ions[t].bFlag1 ? m_vPrefix[k] : m_vPrefix[len - 1] - m_vPrefix[k];
            const double mz = (neutral + z * mass::kProton + ions[t].lfValue) / z;
            const size_t slot = k * CFragmentModel::kKinds + static_cast<size_t>(kind);
            m_vIonMz[slot] = mz;
            ++possible;
            const size_t at = t * sites + k;
            const int peak = at < match.vIonPeaks.size() ? match.vIonPeaks[at] : -1;
            if (peak < 0 || static_cast<size_t>(peak) >= spec.m_vPeaks.size()) continue;
            const CPeak& p = spec.m_vPeaks[static_cast<size_t>(peak)];
            m_vObserved[slot] = p.lfIntensity;
            ++matched;
            const double tol = c.CalcFragmentMassDeviation(mz);
            if (tol > 0.0) {
                errorSum += (p.lfMz - mz) / tol;
                ++errors;
            }
            const double spacing = mass::kIsotopeSpacing / z;
            if (!(tol < kIsotopeResolution * spacing)) {
                isotopes = false;
                continue;
            }
            intensity += p.lfIntensity;
            if (_PeakNear(p.lfMz + spacing, tol) >= 0) supported += p.lfIntensity;
            const int below = _PeakNear(p.lfMz - spacing, tol);
            if (below >= 0 && spec.m_vPeaks[static_cast<size_t>(below)].lfIntensity > p.lfIntensity)
                shadowed += p.lfIntensity;
        }
    }
    row[kIonShare] = possible > 0 ? static_cast<double>(matched) / possible : 0.0;
    row[kIsotopeSupport] = isotopes && intensity > 0.0 ? supported / intensity : kNaN;
    row[kIsotopeShadowed] = isotopes && intensity > 0.0 ? shadowed / intensity : kNaN;
    const double mean = errors > 0 ? errorSum / errors : kNaN;
    row[kMassErrorMean] = mean;
    if (errors < 2) {
        row[kMassErrorSpread] = kNaN;
        return;
    }
    // Second pass: the spread about the mean, summed in the same order.
    double squares = 0.0;
    for (size_t t = 0; t < ions.size(); ++t) {
        const int kind = m_vIonKind[t];
        if (kind < 0 || ions[t].nNumber > spec.m_nCharge) continue;
        for (size_t k = 0; k < sites; ++k) {
            const size_t at = t * sites + k;
            const int peak = at < match.vIonPeaks.size() ? match.vIonPeaks[at] : -1;
            if (peak < 0 || static_cast<size_t>(peak) >= spec.m_vPeaks.size()) continue;
            const double mz = m_vIonMz[k * CFragmentModel::kKinds + static_cast<size_t>(kind)];
            const double tol = c.CalcFragmentMassDeviation(mz);
            if (!(tol > 0.0)) continue;
            const double d = (spec.m_vPeaks[static_cast<size_t>(peak)].lfMz - mz) / tol - mean;
            squares += d * d;
        }
    }
    row[kMassErrorSpread] = std::sqrt(squares / errors);
}

void CFeatures::_AddIntensity(const CPeptideMatch& match, int length, double* row) {
    for (const Index k : {kIntensityCosine, kIntensityPearson, kPredictedMissedShare, kIntensityAgreement,
                          kDetectionLikelihood, kUnexplainedTopPeaks})
        row[k] = kNaN;
    const int slots = CFragmentModel::IonCount(length);
    if (m_pFragments == nullptr || slots == 0) return;
    const CSpectrum& spec = *m_pSpec;
    m_vShares.resize(static_cast<size_t>(slots));
    m_pFragments->Predict(m_strLetters.data(), m_vDeltas.data(), length, m_lfNTermDelta, spec.m_nCharge,
                          m_vShares.data());
    // Slots the scored ion types do not cover count as neither predicted
    // nor seen.
    int covered = 0;
    for (int i = 0; i < slots; ++i) {
        if (m_vIonMz[static_cast<size_t>(i)] == 0.0) m_vShares[static_cast<size_t>(i)] = 0.0f;
        covered += m_vShares[static_cast<size_t>(i)] > 0.0f;
    }
    if (covered == 0) return;
    const CIntensityAgreement a = CIntensityAgreement::Of(m_vShares.data(), m_vObserved.data(), slots);
    row[kIntensityCosine] = a.lfCosine;
    row[kIntensityPearson] = a.lfPearson;
    row[kPredictedMissedShare] = a.lfMissedShare;
    row[kIntensityAgreement] = a.lfCosine * (1.0 - a.lfMissedShare);

    double predicted = 0.0;
    for (int i = 0; i < slots; ++i) predicted += m_vShares[static_cast<size_t>(i)];
    double likelihood = 0.0;
    const double floor = kExplainingShare * predicted / covered;
    if (++m_nMark == 0) {
        std::fill(m_vPeakMark.begin(), m_vPeakMark.end(), 0u);
        m_nMark = 1;
    }
    for (int i = 0; i < slots; ++i) {
        const float share = m_vShares[static_cast<size_t>(i)];
        if (!(share > 0.0f)) continue;
        const bool seen = m_vObserved[static_cast<size_t>(i)] > 0.0;
        const double p = std::clamp(static_cast<double>(m_pFragments->Detection(i % CFragmentModel::kKinds, share,
                                                                                covered)),
                                    kDetectionFloor, 1.0 - kDetectionFloor);
        likelihood += portable::Log(seen ? p : 1.0 - p);
        if (!seen || share < floor) continue;
        // The peak this ion matched is explained.
        const int cleavage = i / CFragmentModel::kKinds, kind = i % CFragmentModel::kKinds;
        const size_t sites = static_cast<size_t>(length - 1);
        for (size_t t = 0; t < m_vIonKind.size(); ++t) {
            if (m_vIonKind[t] != kind) continue;
            const size_t at = t * sites + static_cast<size_t>(cleavage);
            if (at < match.vIonPeaks.size() && match.vIonPeaks[at] >= 0)
                m_vPeakMark[static_cast<size_t>(match.vIonPeaks[at])] = m_nMark;
        }
    }
    row[kDetectionLikelihood] = likelihood / covered;
    const size_t strongest = std::min(m_vStrongest.size(), kPeaksPerResidue * static_cast<size_t>(length));
    double all = 0.0, unexplained = 0.0;
    for (size_t j = 0; j < strongest; ++j) {
        const unsigned int peak = m_vStrongest[j];
        const double v = std::sqrt(spec.m_vPeaks[peak].lfIntensity);
        all += v;
        if (m_vPeakMark[peak] != m_nMark) unexplained += v;
    }
    row[kUnexplainedTopPeaks] = all > 0.0 ? unexplained / all : kNaN;
}

int CFeatures::_PeakNear(double mz, double tol) const {
    const CSpectrum& spec = *m_pSpec;
    const double lo = mz - tol, hi = mz + tol;
    const std::vector<int>& hash = spec.m_vHashTable;
    if (!(lo > -1.0) || !(lo < static_cast<double>(hash.size()))) return -1;
    const std::vector<CPeak>& peaks = spec.m_vPeaks;
    size_t i = static_cast<size_t>(std::max(hash[static_cast<size_t>(static_cast<long long>(lo))], 0));
    while (i < peaks.size() && peaks[i].lfMz < lo) ++i;
    int best = -1;
    double bestIntensity = 0.0;
    for (; i < peaks.size() && peaks[i].lfMz <= hi; ++i)
        if (peaks[i].lfIntensity > bestIntensity) {
            bestIntensity = peaks[i].lfIntensity;
            best = static_cast<int>(i);
        }
    return best;
}

void CFeatures::Permute(const std::vector<unsigned int>& order) {
    const size_t n = std::min(order.size(), m_nRows);
    // Rows stay where they are; their index follows.
    auto permute = [&](auto& v, auto& scratch) {
        if (v.size() < n) return;
        scratch.resize(n);
        for (size_t i = 0; i < n; ++i) scratch[i] = v[order[i]];
        std::copy_n(scratch.data(), n, v.data());
    };
    permute(m_vIndex, m_vUintScratch);
    permute(m_vScore, m_vDoubleScratch);
    permute(m_vConfidence, m_vDoubleScratch);
}

void CFeatures::Finish(const std::vector<CResult>& results) {
    const size_t n = std::min(results.size(), m_nRows);
    if (n == 0) return;
    double best = results[0].lfScore;
    for (size_t i = 0; i < n; ++i) best = std::max(best, results[i].lfScore);
    for (size_t i = 0; i < n; ++i) _Row(i)[kScoreGap] = results[i].lfScore - best;
    double heaviest = results[0].lfPathWeight;
    for (size_t i = 0; i < n; ++i) heaviest = std::max(heaviest, results[i].lfPathWeight);
    for (size_t i = 0; i < n; ++i) _Row(i)[kPathWeightGap] = results[i].lfPathWeight - heaviest;
    double agreement = -HUGE_VAL;
    for (size_t i = 0; i < n; ++i)
        if (_Row(i)[kIntensityAgreement] > agreement) agreement = _Row(i)[kIntensityAgreement];
    for (size_t i = 0; i < n; ++i) _Row(i)[kAgreementGap] = _Row(i)[kIntensityAgreement] - agreement;
    constexpr Index kGaps[][2] = {{kIntensityCosine, kCosineGap},
                                  {kDetectionLikelihood, kDetectionGap},
                                  {kPredictedMissedShare, kMissedShareGap},
                                  {kUnexplainedTopPeaks, kUnexplainedGap},
                                  {kIonShare, kIonShareGap}};
    for (const auto& g : kGaps) {
        double largest = -HUGE_VAL;
        for (size_t i = 0; i < n; ++i) largest = std::max(largest, std::isnan(_Row(i)[g[0]]) ? -HUGE_VAL : _Row(i)[g[0]]);
        for (size_t i = 0; i < n; ++i) _Row(i)[g[1]] = _Row(i)[g[0]] - largest;
    }

    // How many of the leading candidates (the candidate itself left out)
    // pass through each of its prefix masses, averaged over them.
    const size_t lead = std::min(n, kDepth);
    size_t leadBins = 0;
    for (size_t i = 0; i < lead; ++i) leadBins += m_vBinCount[m_vIndex[i]];
    size_t slots = 64;
    while (slots < 4 * leadBins) slots *= 2;
    if (m_vLead.size() < slots) m_vLead.resize(slots);
    if (++m_nGeneration == 0) {
        std::fill(m_vLead.begin(), m_vLead.end(), CLeadBin{});
        m_nGeneration = 1;
    }
    m_nLeadMask = slots - 1;
    for (size_t i = 0; i < lead; ++i) {
        const unsigned int row = m_vIndex[i];
        for (unsigned int k = m_vBinFirst[row]; k < m_vBinFirst[row] + m_vBinCount[row]; ++k) {
            size_t at = static_cast<size_t>(static_cast<uint64_t>(m_vBins[k]) * 0x9E3779B97F4A7C15ull >> 40) & m_nLeadMask;
            while (m_vLead[at].nGeneration == m_nGeneration && m_vLead[at].nBin != m_vBins[k]) at = (at + 1) & m_nLeadMask;
            if (m_vLead[at].nGeneration != m_nGeneration) m_vLead[at] = CLeadBin{m_vBins[k], 0, m_nGeneration};
            ++m_vLead[at].nCount;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        const bool inLead = i < lead;
        const double others = static_cast<double>(lead) - (inLead ? 1.0 : 0.0);
        const unsigned int first = m_vBinFirst[m_vIndex[i]], count = m_vBinCount[m_vIndex[i]];
        if (count == 0 || others <= 0.0) continue;
        double sum = 0.0;
        for (unsigned int k = first; k < first + count; ++k)
            sum += static_cast<double>(_LeadCount(m_vBins[k])) - (inLead ? 1.0 : 0.0);
        _Row(i)[kPrefixAgreement] = sum / count / others;
    }
}

unsigned int CFeatures::_LeadCount(int64_t bin) const {
    size_t at = static_cast<size_t>(static_cast<uint64_t>(bin) * 0x9E3779B97F4A7C15ull >> 40) & m_nLeadMask;
    while (m_vLead[at].nGeneration == m_nGeneration) {
        if (m_vLead[at].nBin == bin) return m_vLead[at].nCount;
        at = (at + 1) & m_nLeadMask;
    }
    return 0;
}

void CFeatures::Rerank(const CRerankModel& model, std::vector<unsigned int>& order) {
    const size_t n = m_nRows;
    m_vScore.resize(n);
    m_vConfidence.resize(n);
    order.resize(n);
    if (n == 0) return;
    if (model.Version() == 2 && !model.FallsBack(Row(0))) {
        _RerankBoosted(model, order);
        return;
    }
    const CRerankModel& linear = model.Version() == 2 ? *model.Fallback() : model;
    double top = -HUGE_VAL, second = -HUGE_VAL;
    for (size_t i = 0; i < n; ++i) {
        const double s = linear.Score(Row(i));
        m_vScore[i] = s;
        if (s > top) {
            second = top;
            top = s;
        } else if (s > second) {
            second = s;
        }
    }
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += std::exp(m_vScore[i] - top);
    for (size_t i = 0; i < n; ++i) {
        const double s = m_vScore[i];
        // Margin over the best other candidate (the runner-up for the best).
        const double other = s == top ? second : top;
        const double margin = n == 1 ? kMarginCap : std::clamp(s - other, -kMarginCap, kMarginCap);
        m_vConfidence[i] = linear.Confidence(std::exp(s - top) / sum, margin, Row(i));
    }
    _SortByScore(order);
}

void CFeatures::_SortByScore(std::vector<unsigned int>& order) const {
    for (size_t i = 0; i < m_nRows; ++i) order[i] = static_cast<unsigned int>(i);
    std::sort(order.begin(), order.end(), [this](unsigned int a, unsigned int b) {
        if (m_vScore[a] != m_vScore[b]) return m_vScore[a] > m_vScore[b];
        return a < b;
    });
}

void CFeatures::_RerankBoosted(const CRerankModel& model, std::vector<unsigned int>& order) {
    const size_t n = m_nRows;
    for (size_t i = 0; i < n; ++i) m_vScore[i] = model.Score(Row(i));
    _SortByScore(order);
    const CListInputs in = ListInputs(m_vScore.data(), n);
    const double first = model.FirstRight(in.lfShare, in.lfMargin, m_vScore[in.nBest], Row(in.nBest));
    // The others share what the first leaves, by their softmax shares, and
    // none is surer than the first.
    const double top = m_vScore[in.nBest];
    for (size_t i = 0; i < n; ++i) {
        if (i == in.nBest) {
            m_vConfidence[i] = first;
            continue;
        }
        const double share = portable::Exp(m_vScore[i] - top) / in.lfSum;
        m_vConfidence[i] = in.lfShare < 1.0 ? std::min(first, (1.0 - first) * share / (1.0 - in.lfShare)) : 0.0;
    }
}

CFeatures::CListInputs CFeatures::ListInputs(const double* scores, size_t n) {
    CListInputs in;
    if (n == 0) return in;
    double second = -HUGE_VAL;
    for (size_t i = 1; i < n; ++i) {
        if (scores[i] > scores[in.nBest]) {
            second = scores[in.nBest];
            in.nBest = i;
        } else if (scores[i] > second) {
            second = scores[i];
        }
    }
    const double top = scores[in.nBest];
    in.lfSum = 0.0;
    for (size_t i = 0; i < n; ++i) in.lfSum += portable::Exp(scores[i] - top);
    in.lfShare = 1.0 / in.lfSum;
    in.lfMargin = n == 1 ? kMarginCap : std::min(top - second, kMarginCap);
    return in;
}
