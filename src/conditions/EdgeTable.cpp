// Residue alphabet (plain and terminally modified residues) and the
// mass-sorted table of one- and two-residue gaps with its integer-mass index.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>

#include "common/Console.h"
#include "conditions/Condition.h"

namespace {

// A residue heavier than this (or not a finite number) can only come from a
// typing error in the parameter file; it would blow the integer-mass index up
// to gigabytes, so it is left out with a warning.
constexpr double kMaxResidueMass = 100000.0;

bool Plausible(double mass) { return std::isfinite(mass) && std::fabs(mass) <= kMaxResidueMass; }

// Gap compositions of more residues grow combinatorially and are seldom
// needed: a fragment series rarely misses four cleavages in a row.
constexpr int kMaxGapResidues = 4;

// Entry v: smallest position whose truncated mass is at least v. Written
// from that definition so that gaps lighter than 0 Da (strongly negative
// modifications) cannot shift the buckets.
void BuildMassIndex(const std::vector<CEdge>& edges, std::vector<int>& index) {
    index.clear();
    if (edges.empty()) return;
    auto key = [&edges](std::size_t j) { return static_cast<long long>(edges[j].lfMass); };  // truncation
    const long long top = key(edges.size() - 1);
    if (top < 0) return;
    index.reserve(static_cast<std::size_t>(top) + 1);
    std::size_t j = 0;
    for (long long v = 0; v <= top; ++v) {
        while (key(j) < v) ++j;
        index.push_back(static_cast<int>(j));
    }
}

// Bin floor(m * 256) of every mass (the scaling is exact, so a mass inside
// a window falls in one of the window's bins); left empty when a mass is
// negative or not finite, or the table too heavy to be worth it.
void BuildMassBins(const std::vector<CEdge>& edges, std::vector<uint64_t>& bins) {
    bins.clear();
    constexpr double kMaxMass = 100000.0;
    double top = 0.0;
    for (const CEdge& e : edges) {
        if (!(e.lfMass >= 0.0 && e.lfMass <= kMaxMass)) return;
        top = std::max(top, e.lfMass);
    }
    if (edges.empty()) return;
    bins.assign(static_cast<size_t>(top * CCondition::kEdgeBinsPerDa) / 64 + 1, 0);
    for (const CEdge& e : edges) {
        const size_t b = static_cast<size_t>(e.lfMass * CCondition::kEdgeBinsPerDa);
        bins[b >> 6] |= uint64_t{1} << (b & 63);
    }
}

// Ranks of texts in byte order, equal texts sharing theirs.
void RankTexts(const std::vector<const std::string*>& texts, std::vector<uint32_t>& rank) {
    std::vector<uint32_t> order(texts.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(), [&texts](uint32_t a, uint32_t b) { return *texts[a] < *texts[b]; });
    rank.assign(texts.size(), 0);
    uint32_t r = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && *texts[order[k]] != *texts[order[k - 1]]) ++r;
        rank[order[k]] = r;
    }
}

void WarnImplausible(char letter, double mass) {
    console::Warning() << "residue " << letter << " with mass " << mass << " is left out.";
}

bool Contains(const std::string& sites, char letter) { return sites.find(letter) != std::string::npos; }

}  // namespace

void CCondition::InitMods() {
    m_vAminoAcids.clear();
    auto add = [this](char code, double mass, char modSite) {
        m_vAminoAcids.push_back(AminoAcid{std::string(1, code), mass, modSite});
        m_mapResidueMass[code] = mass;
        m_lfResidueMassByCode[static_cast<unsigned char>(code)] = mass;
    };

    for (int k = 1; k <= 26; ++k) {
        const char letter = static_cast<char>('A' + k - 1);
        const double mass = m_lfAAMass[k - 1];
        // Isoleucine has leucine's mass: one letter stands for both.
        if (mass < 0.1 || letter == 'I') continue;
        if (!Plausible(mass)) { WarnImplausible(letter, mass); continue; }
        add(letter, mass, 0);
    }
    for (std::size_t i = 0; i < m_vNTermMass.size(); ++i) {
        for (int k = 1; k <= 26; ++k) {
            const char letter = static_cast<char>('A' + k - 1);
            if (m_lfAAMass[k - 1] < 0.1 || !Contains(m_vNTermSites[i], letter)) continue;
            const double mass = m_lfAAMass[k - 1] + m_vNTermMass[i];
            if (!Plausible(mass)) { WarnImplausible(letter, mass); continue; }
            add(static_cast<char>('a' + k - 1), mass, 2);
        }
    }
    // Variable modifications: a residue of their own; the N-terminal ones only
    // as a peptide's first residue, like the N-terminal modifications.
    for (const CVarMod& mod : m_vVarMods) {
        const double mass = m_lfAAMass[mod.cResidue - 'A'] + mod.lfDelta;
        if (!Plausible(mass) || mass < 0.1) { WarnImplausible(mod.cResidue, mass); continue; }
        add(mod.cCode, mass, mod.bNTerm ? 2 : 0);
    }
    for (std::size_t i = 0; i < m_vCTermMass.size(); ++i) {
        for (int k = 1; k <= 26; ++k) {
            const char letter = static_cast<char>('A' + k - 1);
            if (m_lfAAMass[k - 1] < 0.1 || !Contains(m_vCTermSites[i], letter)) continue;
            const double mass = m_lfAAMass[k - 1] + m_vCTermMass[i];
            if (!Plausible(mass)) { WarnImplausible(letter, mass); continue; }
            add(static_cast<char>(k), mass, 1);
        }
    }
}

void CCondition::CreateEdgeList() {
    m_vEdges.clear();
    for (const AminoAcid& aa : m_vAminoAcids) m_vEdges.push_back(CEdge{aa.strName, aa.lfMass, aa.cModSite, 1});

    // X then Y is a valid step unless X must end the peptide (C-terminal
    // mod) or Y must start it (N-terminal mod).
    auto addOrdered = [this](const AminoAcid& x, const AminoAcid& y, double mass) {
        if (x.cModSite == 1 || y.cModSite == 2) return;
        const char flag = y.cModSite == 1 ? 1 : (x.cModSite == 2 ? 2 : 0);
        m_vEdges.push_back(CEdge{x.strName + y.strName, mass, flag, 2});
    };
    for (std::size_t i = 0; i < m_vAminoAcids.size(); ++i) {
        const AminoAcid& p = m_vAminoAcids[i];
        if (p.cModSite == 0) m_vEdges.push_back(CEdge{p.strName + p.strName, 2 * p.lfMass, 0, 2});
        for (std::size_t j = i + 1; j < m_vAminoAcids.size(); ++j) {
            const AminoAcid& q = m_vAminoAcids[j];
            if (p.cModSite != 0 && q.cModSite != 0) continue;
            const double mass = p.lfMass + q.lfMass;
            addOrdered(p, q, mass);
            addOrdered(q, p, mass);
        }
    }
    std::sort(m_vEdges.begin(), m_vEdges.end(), CEdge::MassLess);
    Create_Hash_Table();
    CreateGapTable();
}

void CCondition::Create_Hash_Table() {
    BuildMassIndex(m_vEdges, m_vEdgeIndex);
    BuildMassBins(m_vEdges, m_vEdgeBins);
    std::vector<const std::string*> texts;
    for (const CEdge& e : m_vEdges) texts.push_back(&e.strLabel);
    RankTexts(texts, m_vEdgeLabelRank);
}

void CCondition::CreateGapTable() {
    m_vGapEdges.clear();
    m_vGapIndex.clear();
    m_vGapBins.clear();
    m_vGapLabelText.clear();
    m_vGapLabelRank.clear();
    if (m_nGapResidues == 0) return;
    if (m_nGapResidues < 3) {
        // One- and two-residue gaps are the ordinary edges.
        std::cerr << "[warning]	gap_edges=" << m_nGapResidues << " is not 0, 3 or 4; no gap edges are made.\n";
        m_nGapResidues = 0;
        return;
    }
    if (m_nGapResidues > kMaxGapResidues) {
        std::cerr << "[warning]	gap_edges=" << m_nGapResidues << " is lowered to " << kMaxGapResidues << ".\n";
        m_nGapResidues = kMaxGapResidues;
    }
    const double maxMass = m_lfGapMaxMass > 0.0 ? m_lfGapMaxMass : std::numeric_limits<double>::infinity();
    // Every multiset of three to m_nGapResidues residues, once: positions
    // never decrease along the composition. A gap holds at most one
    // terminally modified residue (it sits at the gap's end that touches the
    // peptide's terminus).
    const std::size_t n = m_vAminoAcids.size();
    std::vector<std::size_t> pick;
    int size = 0;
    auto add = [&](int depth, std::size_t from, double mass, int terminal, auto&& self) -> void {
        if (mass > maxMass) return;
        if (depth == size) {
            // The label: the codes in byte order, except that a terminally
            // modified residue stands where it must sit (first for an
            // N-terminal, last for a C-terminal modification).
            CEdge e;
            char fixed = 0;
            for (const std::size_t k : pick) {
                if (m_vAminoAcids[k].cModSite != 0) fixed = m_vAminoAcids[k].strName[0];
                else e.strLabel += m_vAminoAcids[k].strName;
            }
            std::sort(e.strLabel.begin(), e.strLabel.end(),
                      [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
            if (terminal == 2) e.strLabel.insert(e.strLabel.begin(), fixed);
            if (terminal == 1) e.strLabel.push_back(fixed);
            e.lfMass = mass;
            e.cModSite = static_cast<char>(terminal);
            e.nResidues = size;
            m_vGapEdges.push_back(std::move(e));
            return;
        }
        for (std::size_t k = from; k < n; ++k) {
            const AminoAcid& aa = m_vAminoAcids[k];
            if (aa.cModSite != 0 && terminal != 0) continue;
            pick[static_cast<std::size_t>(depth)] = k;
            self(depth + 1, k, mass + aa.lfMass, aa.cModSite != 0 ? aa.cModSite : terminal, self);
        }
    };
    for (size = 3; size <= m_nGapResidues; ++size) {
        pick.assign(static_cast<std::size_t>(size), 0);
        add(0, 0, 0.0, 0, add);
    }
    // Equal masses keep the order in which they were made, so the table is
    // the same on every platform.
    std::stable_sort(m_vGapEdges.begin(), m_vGapEdges.end(), CEdge::MassLess);
    BuildMassIndex(m_vGapEdges, m_vGapIndex);
    BuildMassBins(m_vGapEdges, m_vGapBins);
    std::vector<const std::string*> texts;
    for (const CEdge& e : m_vGapEdges) {
        // The residues in an open order; a terminally modified one stays at
        // its end of the gap.
        const std::string& codes = e.strLabel;
        const size_t lead = e.cModSite == 2 ? 1 : 0, tail = e.cModSite == 1 ? 1 : 0;
        std::string label(codes, 0, lead);
        label.push_back('[');
        label.append(codes, lead, codes.size() - lead - tail);
        label.push_back(']');
        label.append(codes, codes.size() - tail, tail);
        m_vGapLabelText.push_back(std::move(label));
    }
    for (const std::string& t : m_vGapLabelText) texts.push_back(&t);
    RankTexts(texts, m_vGapLabelRank);
}

void CCondition::QueryEdges(const double& lower, const double& upper, const std::vector<CEdge>& edges,
                            const std::vector<int>& index, unsigned int& first, unsigned int& last) const {
    const unsigned int n = static_cast<unsigned int>(edges.size());
    // The bucket is trunc(lower) read as unsigned: (-1, 0) is bucket 0, while
    // -1 and below wrap to a huge bucket beyond the index (empty result).
    if (index.empty() || !(lower > -1.0) || !(lower < static_cast<double>(index.size()))) {
        first = last = n;
        return;
    }
    unsigned int i = static_cast<unsigned int>(index[static_cast<std::size_t>(lower)]);
    while (i < n && edges[i].lfMass < lower) ++i;
    if (i == n) {
        first = last = i;
        return;
    }
    first = i;
    if (edges[i].lfMass > upper) {
        last = i;
        return;
    }
    while (i + 1 < n && edges[i + 1].lfMass <= upper) ++i;
    last = i + 1;
}
