// The orders a gap edge's residues are written in: a composition has up to
// 24 orders and the spectrum saw no cleavage inside it, so each candidate
// text keeps only its gap_orders likeliest orders (the report spells each).
// Likeliest: fragment evidence inside the gap first (a peak of the graph's
// ion series, a-ion or neutral loss at an inner prefix mass, which the node
// cut or the cleaning may have left without a node), then how often the
// residues follow each other in known peptides.

#include <algorithm>
#include <cmath>

#include "graph/CandidateGen.h"
#include "graph/GapPairStats.h"
#include "graph/IonOffsets.h"

namespace {

using namespace ionmass;
constexpr double kCO = 27.99491462;      // a ion = b ion - CO
constexpr double kAmmonia = 17.026549105;
// An inner prefix seen directly by a node peak weighs two pair statistics,
// a secondary ion one: fragment evidence outweighs the sequence prior.
constexpr double kDirectEvidence = 2.0;
constexpr double kSecondaryEvidence = 1.0;

// Index of a residue code for the pair statistics, -1 when it has none.
int PairIndex(const CCondition& c, char code) {
    if (code >= 'A' && code <= 'Z') return code - 'A';
    if (code >= 'a' && code <= 'z') return code - 'a';  // N-terminal modification
    if (code >= 1 && code <= 26) return code - 1;       // C-terminal modification
    const CVarMod* mod = c.VarMod(code);
    return mod ? mod->cResidue - 'A' : -1;
}

}  // namespace

bool CNCGraph::_PrefixSeen(double prefix) const {
    // m_vPool: every node peak of the graph, by mass (a b-type entry is a
    // peak's m/z minus a proton, a y-type one the precursor minus its m/z).
    // A peak of either series at the prefix counts, so one search serves
    // both.
    const double t = m_lfTolerance;
    auto it = std::lower_bound(m_vPool.begin(), m_vPool.end(), prefix - t,
                               [](const CPeak& p, double m) { return p.lfMz < m; });
    for (; it != m_vPool.end() && it->lfMz <= prefix + t; ++it)
        if (it->lfIntensity > 0.0) return true;
    return false;
}

void CNCGraph::_ScoreGapOrders(unsigned int label, double prefix) {
    // The inside of each order: pairs within it, and evidence at its inner
    // prefix masses (the lead residue of an N-terminal gap comes first and
    // counts in the prefix).
    const CCondition& c = *m_pCondition;
    const std::string& text = m_vLabels[label].strLabel;
    const size_t open = text.find('['), close = text.find(']');
    std::string residues = text.substr(open + 1, close - open - 1);
    std::sort(residues.begin(), residues.end());
    double start = prefix;
    int lead = -1;
    for (size_t k = 0; k < open; ++k) {
        start += c.m_lfResidueMassByCode[static_cast<unsigned char>(text[k])];
        lead = PairIndex(c, text[k]);
    }
    const int tail = close + 1 < text.size() ? PairIndex(c, text[close + 1]) : -1;
    if (m_vOrderIndex.size() <= label) m_vOrderIndex.resize(label + 1, {0, 0});
    m_vOrderIndex[label].first = static_cast<unsigned int>(m_vOrderPool.size());
    // The orders come in byte order, so neighbours share leading residues:
    // an inner prefix the previous order had (summed the same way, to the
    // same mass) keeps its evidence.
    double evidence[kMaxGapOrderLength] = {};
    const size_t begin = m_vOrderPool.size();
    do {
        COrder o;
        o.nLength = static_cast<unsigned char>(residues.size());
        std::copy(residues.begin(), residues.end(), o.szOrder);
        size_t shared = 0;
        if (m_vOrderPool.size() > begin)
            while (shared < residues.size() && m_vOrderPool.back().szOrder[shared] == o.szOrder[shared]) ++shared;
        int last = lead;
        double mass = start;
        for (size_t k = 0; k < residues.size(); ++k) {
            const int index = PairIndex(c, residues[k]);
            if (last >= 0 && index >= 0) o.lfScore += GapPairLogOdds(last, index);
            last = index;
            if (k + 1 == residues.size()) break;
            mass += c.m_lfResidueMassByCode[static_cast<unsigned char>(residues[k])];
            if (k >= shared) {
                evidence[k] = 0.0;
                if (_PrefixSeen(mass)) {
                    evidence[k] = kDirectEvidence;
                } else if (_PrefixSeen(mass - kCO) || _PrefixSeen(mass - kWater) || _PrefixSeen(mass - kAmmonia) ||
                           _PrefixSeen(mass + kWater) || _PrefixSeen(mass + kAmmonia)) {
                    // b-type entries below the prefix are a ions or b ions
                    // that lost water or ammonia; y-type entries above it,
                    // y ions that lost them.
                    evidence[k] = kSecondaryEvidence;
                }
            }
            if (evidence[k] != 0.0) o.lfScore += evidence[k];
        }
        if (last >= 0 && tail >= 0) o.lfScore += GapPairLogOdds(last, tail);
        m_vOrderPool.push_back(o);
    } while (std::next_permutation(residues.begin(), residues.end()));
    m_vOrderIndex[label].second = static_cast<unsigned int>(m_vOrderPool.size()) - m_vOrderIndex[label].first;
}

void CNCGraph::_WriteGapOrders(const std::vector<unsigned int>& labels, size_t u, double prefix,
                               std::string& text) {
    const CCondition& c = *m_pCondition;
    const unsigned int label = labels[u];
    const std::string& l = m_vLabels[label].strLabel;
    const size_t open = l.find('['), close = l.find(']');
    if (close - open - 1 > static_cast<size_t>(kMaxGapOrderLength)) {
        text += l;
        return;
    }
    if (label >= m_vOrderIndex.size() || m_vOrderIndex[label].second == 0) _ScoreGapOrders(label, prefix);
    const auto [first, count] = m_vOrderIndex[label];
    // The neighbours outside the gap, where the text fixes them.
    auto plainEnd = [&](size_t v, bool last) {
        const std::string& n = m_vLabels[labels[v]].strLabel;
        if (n.find('[') != std::string::npos) return -1;
        return PairIndex(c, last ? n.back() : n.front());
    };
    const int before = open > 0 ? -1 : u == 0 ? kPairStart : plainEnd(u - 1, true);
    const int after = close + 1 < l.size() ? -1 : u + 1 == labels.size() ? kPairEnd : plainEnd(u + 1, false);
    m_vOrders.assign(m_vOrderPool.begin() + first, m_vOrderPool.begin() + first + count);
    for (COrder& o : m_vOrders) {
        if (before >= 0) o.lfScore += GapPairLogOdds(before, PairIndex(c, o.szOrder[0]));
        if (after >= 0) o.lfScore += GapPairLogOdds(PairIndex(c, o.szOrder[o.nLength - 1]), after);
    }
    // Stable: equal scores keep the byte order of the orders. An insertion
    // sort (a gap has at most 24 orders) gives what a stable sort gives,
    // without the temporary buffer a stable sort allocates on every call.
    for (size_t i = 1; i < m_vOrders.size(); ++i) {
        const COrder o = m_vOrders[i];
        size_t j = i;
        for (; j > 0 && o.lfScore > m_vOrders[j - 1].lfScore; --j) m_vOrders[j] = m_vOrders[j - 1];
        m_vOrders[j] = o;
    }
    const size_t keep = std::min(m_vOrders.size(), static_cast<size_t>(std::max(1, c.m_nGapOrders)));
    text.append(l, 0, open);
    if (keep > 1) text += '[';
    for (size_t k = 0; k < keep; ++k) {
        if (k > 0) text += '/';
        text.append(m_vOrders[k].szOrder, m_vOrders[k].nLength);
    }
    if (keep > 1) text += ']';
    text.append(l, close + 1, std::string::npos);
}
