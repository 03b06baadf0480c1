#include "rerank/Features.h"

#include <algorithm>
#include <cmath>

#include "common/Masses.h"
#include "rerank/RerankModel.h"

const char* const CFeatures::kNames[kCount] = {
    "score_gap",          "y_site_share",       "b_site_share",            "intensity_explained",
    "sites_without_fragment", "longest_supported_run", "match_error_weight", "proline_sites_without_y",
    "cterm_k_or_r",       "prefix_agreement",   "both_ions_share",         "modifications",
    "path_weight_gap",
};

namespace {

using mass::kSmallestShift;
constexpr double kBinWidth = 0.01;      // Da
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

void CFeatures::Begin(const CSpectrum& spec) {
    m_nRows = 0;
    m_vBins.clear();
    m_vBinFirst.clear();
    m_vBinCount.clear();
    m_lfTotalIntensity = 0.0;
    for (const CPeak& p : spec.m_vPeaks) m_lfTotalIntensity += p.lfIntensity;
}

void CFeatures::Add(const CResult& r, const CPeptideMatch& match, const CCondition& c) {
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
    double top = -HUGE_VAL, second = -HUGE_VAL;
    for (size_t i = 0; i < n; ++i) {
        const double s = model.Score(Row(i));
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
        m_vConfidence[i] = model.Confidence(std::exp(s - top) / sum, margin, Row(i));
    }
    for (size_t i = 0; i < n; ++i) order[i] = static_cast<unsigned int>(i);
    std::sort(order.begin(), order.end(), [this](unsigned int a, unsigned int b) {
        if (m_vScore[a] != m_vScore[b]) return m_vScore[a] > m_vScore[b];
        return a < b;
    });
}
