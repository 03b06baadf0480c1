#include "pairing/Pairing.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// ASCII comparison without regard to case.
bool EqualNoCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Distances of the two tie-breaking measures; not known on either side sorts
// after every known distance.
constexpr long long kNoScanDist = std::numeric_limits<long long>::max();
constexpr double kNoRtDist = std::numeric_limits<double>::infinity();

bool RtKnown(double rt) { return rt >= 0.0; }  // false for NaN too

}  // namespace

CPairRecord CPairRecord::FromSpectrum(const CSpectrum& s, int list, unsigned int index) {
    CPairRecord r;
    r.nList = list;
    r.nIndex = index;
    r.lfPrecursorMH = s.m_lfPrecursorMH;
    r.nCharge = s.m_nCharge;
    r.nScan = s.m_nScan;
    r.lfRetentionTime = s.m_lfRetentionTime;
    r.strActivation = s.m_strActivationRead;
    r.strTitle = s.m_strTitle;
    return r;
}

int CPairing::ActivationSide(std::string_view activation) {
    if (EqualNoCase(activation, "HCD") || EqualNoCase(activation, "CID")) return 0;
    if (EqualNoCase(activation, "ETD") || EqualNoCase(activation, "ECD") || EqualNoCase(activation, "EThcD")) return 1;
    return -1;
}

bool CPairing::ParseMode(std::string_view text, EPairingMode& mode) {
    if (EqualNoCase(text, "precursor")) {
        mode = EPairingMode::PRECURSOR;
        return true;
    }
    if (EqualNoCase(text, "order")) {
        mode = EPairingMode::ORDER;
        return true;
    }
    return false;
}

bool CPairing::Close(double a, double b) const {
    // The same half-width as the engine's precursor tolerance, and the same
    // rule as for any two masses: distance at most the mean of the two.
    const double tol = m_Settings.lfPrecursorTol;
    const double devA = m_Settings.bPrecursorTolPpm ? a * tol * 1e-6 : tol;
    const double devB = m_Settings.bPrecursorTolPpm ? b * tol * 1e-6 : tol;
    return std::fabs(a - b) <= (devA + devB) / 2;
}

CPairingResult CPairing::Pair(const std::vector<CPairRecord>& records) {
    CPairingResult result;
    _Sides(records, result);
    _SortByTitle(records, m_vHcd);
    _SortByTitle(records, m_vEtd);
    m_vHcdPartner.assign(m_vHcd.size(), -1);
    m_vEtdPartner.assign(m_vEtd.size(), -1);

    bool linedUp = m_vHcd.size() == m_vEtd.size() && !m_vHcd.empty();
    for (size_t i = 0; linedUp && i < m_vHcd.size(); ++i) linedUp = _Agree(records[m_vHcd[i]], records[m_vEtd[i]]);

    if (m_Settings.eMode == EPairingMode::ORDER || linedUp) {
        _MatchByPosition(records, result);
    } else {
        _MatchByPrecursor(records, result);
    }
    _Emit(result);

    std::string how;
    if (m_Settings.eMode == EPairingMode::ORDER) {
        how = "pairs by position: the i-th HCD with the i-th ETD spectrum in title order";
    } else if (linedUp) {
        how = "pairs by position: the HCD and ETD spectra line up in title order (same charge and precursor)";
    } else {
        how = "pairs by precursor: same charge, precursor within the tolerance, nearest scan or retention time";
    }
    result.vNotes.push_back(how + "; " + std::to_string(result.nPairs) + " pairs, " +
                            std::to_string(result.nLoneHcd) + " HCD and " + std::to_string(result.nLoneEtd) +
                            " ETD spectra alone");
    if (result.nRejected > 0)
        result.vNotes.push_back(std::to_string(result.nRejected) +
                                " positional pairs differ in charge or precursor; their spectra are sequenced alone");
    if (result.nOutsideWindow > 0)
        result.vNotes.push_back(std::to_string(result.nOutsideWindow) +
                                " HCD spectra have ETD spectra of the same charge and precursor only outside the "
                                "scan / retention-time window and stay alone");
    return result;
}

// Splits the records into the two sides and says when recorded activations
// overrode the files' positions.
void CPairing::_Sides(const std::vector<CPairRecord>& records, CPairingResult& result) {
    m_vHcd.clear();
    m_vEtd.clear();
    // moved[l]: records of list 0 / of the other lists recorded with the
    // other side's activation; kept[l]: recorded with their own list's side.
    size_t moved[2] = {0, 0}, kept[2] = {0, 0}, unknown = 0;
    bool oneList = true;
    for (size_t k = 0; k < records.size(); ++k) {
        const CPairRecord& r = records[k];
        const int listSide = r.nList == 0 ? 0 : 1;
        const int recorded = ActivationSide(r.strActivation);
        if (r.nList != records[0].nList) oneList = false;
        if (recorded < 0) {
            ++unknown;
        } else if (recorded == listSide) {
            ++kept[listSide];
        } else {
            ++moved[listSide];
        }
        const int side = recorded < 0 ? listSide : recorded;
        (side == 0 ? m_vHcd : m_vEtd).push_back(static_cast<unsigned int>(k));
    }
    if (records.empty()) return;
    if (oneList) {
        if (moved[0] + moved[1] + kept[0] + kept[1] > 0)
            result.vNotes.push_back("one list split by recorded activation: " + std::to_string(m_vHcd.size()) +
                                    " HCD-side and " + std::to_string(m_vEtd.size()) + " ETD-side spectra" +
                                    (unknown ? ", " + std::to_string(unknown) + " without activation kept on the " +
                                                   (records[0].nList == 0 ? "HCD" : "ETD") + " side"
                                             : std::string()));
    } else if (moved[0] > 0 && moved[1] > 0 && kept[0] == 0 && kept[1] == 0) {
        result.vNotes.push_back("the first file holds ETD and the second HCD spectra by their recorded activation "
                                "(the files are given in swapped order); they are paired as recorded");
    } else if (moved[0] + moved[1] > 0) {
        result.vNotes.push_back(std::to_string(moved[0] + moved[1]) +
                                " spectra record the other file's activation; their recorded activation decides "
                                "their side");
    }
}

void CPairing::_SortByTitle(const std::vector<CPairRecord>& records, std::vector<unsigned int>& side) const {
    std::sort(side.begin(), side.end(), [&records](unsigned int a, unsigned int b) {
        const CPairRecord& x = records[a];
        const CPairRecord& y = records[b];
        if (const int c = x.strTitle.compare(y.strTitle); c != 0) return c < 0;
        if (x.nList != y.nList) return x.nList < y.nList;
        if (x.nIndex != y.nIndex) return x.nIndex < y.nIndex;
        return a < b;
    });
}

bool CPairing::_Agree(const CPairRecord& h, const CPairRecord& e) const {
    return h.nCharge == e.nCharge && Close(h.lfPrecursorMH, e.lfPrecursorMH);
}

void CPairing::_MatchByPosition(const std::vector<CPairRecord>& records, CPairingResult& result) {
    result.bByPosition = true;
    const size_t n = std::min(m_vHcd.size(), m_vEtd.size());
    for (size_t i = 0; i < n; ++i) {
        if (_Agree(records[m_vHcd[i]], records[m_vEtd[i]])) {
            m_vHcdPartner[i] = static_cast<int>(i);
            m_vEtdPartner[i] = static_cast<int>(i);
        } else {
            result.vRejected.push_back({static_cast<int>(m_vHcd[i]), static_cast<int>(m_vEtd[i])});
        }
    }
    result.nRejected = static_cast<unsigned int>(result.vRejected.size());
}

bool CPairing::_InWindow(const CKey& h, const CKey& e) const {
    if (h.nScan >= 0 && e.nScan >= 0) {
        const long long d = std::llabs(static_cast<long long>(h.nScan) - e.nScan);
        return m_Settings.nScanWindow < 0 || d <= m_Settings.nScanWindow;
    }
    if (RtKnown(h.lfRt) && RtKnown(e.lfRt))
        return m_Settings.lfRtWindow < 0 || std::fabs(h.lfRt - e.lfRt) <= m_Settings.lfRtWindow;
    return true;
}

void CPairing::_MatchByPrecursor(const std::vector<CPairRecord>& records, CPairingResult& result) {
    auto fill = [&records](const std::vector<unsigned int>& side, std::vector<CKey>& keys) {
        keys.clear();
        keys.reserve(side.size());
        for (unsigned int rank = 0; rank < side.size(); ++rank) {
            const CPairRecord& r = records[side[rank]];
            if (!std::isfinite(r.lfPrecursorMH)) continue;
            keys.push_back({r.lfPrecursorMH, r.lfRetentionTime, r.nCharge, r.nScan, side[rank], rank});
        }
    };
    fill(m_vHcd, m_vHcdKeys);
    fill(m_vEtd, m_vEtdKeys);
    const auto byChargeMass = [](const CKey& a, const CKey& b) {
        if (a.nCharge != b.nCharge) return a.nCharge < b.nCharge;
        if (a.lfMass != b.lfMass) return a.lfMass < b.lfMass;
        return a.nRank < b.nRank;
    };
    std::sort(m_vEtdKeys.begin(), m_vEtdKeys.end(), byChargeMass);

    // Sweep: every ETD spectrum close to a HCD precursor lies inside
    // mass +- 2 half-widths (the exact test follows), so each HCD spectrum
    // looks at one contiguous run of the charge-and-mass order.
    const double tol = m_Settings.lfPrecursorTol;
    const bool ppm = m_Settings.bPrecursorTolPpm;
    const bool unbounded = ppm && tol * 1e-6 >= 1.0;
    std::vector<char> outside(m_vHcd.size(), 0);
    m_vCandidates.clear();
    for (const CKey& h : m_vHcdKeys) {
        const double span = unbounded ? std::numeric_limits<double>::infinity() : 2 * (ppm ? h.lfMass * tol * 1e-6 : tol);
        const CKey lo{h.lfMass - span, 0.0, h.nCharge, 0, 0, 0};
        auto it = std::lower_bound(m_vEtdKeys.begin(), m_vEtdKeys.end(), lo, [](const CKey& a, const CKey& b) {
            if (a.nCharge != b.nCharge) return a.nCharge < b.nCharge;
            return a.lfMass < b.lfMass;
        });
        const double hi = h.lfMass + span;
        for (; it != m_vEtdKeys.end() && it->nCharge == h.nCharge && it->lfMass <= hi; ++it) {
            const CKey& e = *it;
            if (!Close(h.lfMass, e.lfMass)) continue;
            if (!_InWindow(h, e)) {
                outside[h.nRank] = 1;
                continue;
            }
            const bool scans = h.nScan >= 0 && e.nScan >= 0;
            const bool rts = RtKnown(h.lfRt) && RtKnown(e.lfRt);
            m_vCandidates.push_back({scans ? std::llabs(static_cast<long long>(h.nScan) - e.nScan) : kNoScanDist,
                                     rts ? std::fabs(h.lfRt - e.lfRt) : kNoRtDist, std::fabs(h.lfMass - e.lfMass),
                                     h.nRank, e.nRank});
        }
    }

    // Nearest first; ranks are title ranks, so the order does not depend on
    // the order the records came in.
    std::sort(m_vCandidates.begin(), m_vCandidates.end(), [](const CCandidate& a, const CCandidate& b) {
        if (a.nScanDist != b.nScanDist) return a.nScanDist < b.nScanDist;
        if (a.lfRtDist != b.lfRtDist) return a.lfRtDist < b.lfRtDist;
        if (a.lfMassDist != b.lfMassDist) return a.lfMassDist < b.lfMassDist;
        if (a.nHcdRank != b.nHcdRank) return a.nHcdRank < b.nHcdRank;
        return a.nEtdRank < b.nEtdRank;
    });
    for (const CCandidate& c : m_vCandidates) {
        if (m_vHcdPartner[c.nHcdRank] >= 0 || m_vEtdPartner[c.nEtdRank] >= 0) continue;
        m_vHcdPartner[c.nHcdRank] = static_cast<int>(c.nEtdRank);
        m_vEtdPartner[c.nEtdRank] = static_cast<int>(c.nHcdRank);
    }
    for (size_t i = 0; i < m_vHcd.size(); ++i)
        if (outside[i] && m_vHcdPartner[i] < 0) ++result.nOutsideWindow;
}

void CPairing::_Emit(CPairingResult& result) const {
    result.vUnits.clear();
    result.vUnits.reserve(m_vHcd.size() + m_vEtd.size());
    for (size_t i = 0; i < m_vHcd.size(); ++i) {
        const int partner = m_vHcdPartner[i];
        result.vUnits.push_back({static_cast<int>(m_vHcd[i]), partner >= 0 ? static_cast<int>(m_vEtd[partner]) : -1});
        if (partner >= 0) {
            ++result.nPairs;
        } else {
            ++result.nLoneHcd;
        }
    }
    for (size_t i = 0; i < m_vEtd.size(); ++i) {
        if (m_vEtdPartner[i] >= 0) continue;
        result.vUnits.push_back({-1, static_cast<int>(m_vEtd[i])});
        ++result.nLoneEtd;
    }
}
