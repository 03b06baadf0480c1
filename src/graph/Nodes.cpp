// Graph nodes: node peaks per ion series, their grouping into weighted nodes,
// HCD/ETD pooling, enzyme-terminal pseudo-peaks, node cap, start and end node.
#include <algorithm>
#include <cmath>
#include <functional>

#include "graph/AnswerTrace.h"
#include "graph/CandidateGen.h"
#include "graph/IonOffsets.h"

namespace {
using namespace ionmass;
using mass::kIsotopeSpacing;
constexpr double kGlycine = 57.02146;  // smallest residue: nearest a node may lie to either end
}  // namespace

void CNCGraph::_RankWeights(const CSpectrum& spec, std::vector<CPeak>& nodePeaks) {
    // ln(1 + n / r): r is the peak's rank by intensity (1 = most intense;
    // equal intensities share the best rank of their group). Only the order
    // of the intensities counts, so the weights do not depend on their unit,
    // and the strongest peak weighs ln(1 + n) whatever the spectrum's scale.
    std::vector<double>& sorted = m_vRankScratch;
    sorted.clear();
    for (const CPeak& p : spec.m_vPeaks) sorted.push_back(p.lfIntensity);
    std::sort(sorted.begin(), sorted.end(), std::greater<double>());
    const double n = static_cast<double>(sorted.size());
    for (CPeak& p : nodePeaks) {
        const auto r = std::lower_bound(sorted.begin(), sorted.end(), p.lfIntensity, std::greater<double>()) -
                       sorted.begin() + 1;
        p.lfLogIntensity = std::log(1.0 + n / static_cast<double>(r));
    }
}

void CNCGraph::_ConstructNodesHCD(const CSpectrum& spec, const double mh, std::vector<CPeak>& out) {
    out.clear();
    out.reserve(2 * spec.m_vPeaks.size());
    for (const CPeak& p : spec.m_vPeaks) {
        CPeak b = p;
        b.lfMz = p.lfMz - kBOffset;
        b.nType = kNodeB;
        out.push_back(b);
        CPeak y = p;
        y.lfMz = mh - p.lfMz;
        y.nType = kNodeY;
        out.push_back(y);
    }
    std::sort(out.begin(), out.end(), CPeak::Mz_Less);
}

void CNCGraph::_ConstructNodesETD(const CSpectrum& spec, const double mh, std::vector<CPeak>& out) {
    out.clear();
    out.reserve(4 * spec.m_vPeaks.size());
    for (const CPeak& p : spec.m_vPeaks) {
        CPeak q = p;
        q.lfMz = p.lfMz - kCOffset;
        q.nType = kNodeC;
        out.push_back(q);
        q.lfMz = mh - p.lfMz - kZOffset;
        q.nType = kNodeZ;
        out.push_back(q);
        q.lfMz = mh - p.lfMz - kZPlusOffset;
        q.nType = kNodeZPlus1;
        out.push_back(q);
        q.lfMz = p.lfMz - kCMinusOffset;
        q.nType = kNodeCMinus1;
        out.push_back(q);
    }
    std::sort(out.begin(), out.end(), CPeak::Mz_Less);
}

void CNCGraph::_Merge(const std::vector<CPeak>& nodePeaks, const double& precursorMH) {
    const CCondition& c = *m_pCondition;
    const double P = precursorMH;
    const double T = m_lfTolerance;
    const double R = m_lfResidueMass;
    const double pepDev = c.CalcPeptideMassDeviation(P);
    const std::size_t n = nodePeaks.size();

    m_vNodes.clear();
    m_vNodes.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        const CPeak& p0 = nodePeaks[i];
        CNode node;
        node.nPeakCount = 1;
        double S = p0.lfMz * p0.lfLogIntensity;
        double d;
        if (IsCTermNodePeak(p0.nType)) {
            node.lfCWeight = p0.lfLogIntensity;
            node.cSupport |= 1;
            // A complement mass carries the precursor's error as well as the fragment's.
            d = pepDev + c.CalcFragmentMassDeviation(P - p0.lfMz);
        } else {
            node.lfNWeight = p0.lfLogIntensity;
            node.cSupport |= 2;
            d = c.CalcFragmentMassDeviation(p0.lfMz);
        }

        std::size_t j = i + 1;
        for (; j < n; ++j) {
            const CPeak& pj = nodePeaks[j];
            const bool cTerm = IsCTermNodePeak(pj.nType);
            const double dj = cTerm ? (pepDev + c.CalcFragmentMassDeviation(P - pj.lfMz)) * 0.5
                                    : c.CalcFragmentMassDeviation(pj.lfMz);
            if (pj.lfMz - nodePeaks[j - 1].lfMz > (d + dj) * 0.5) break;
            d = std::max(d, dj);
            if (cTerm) {
                node.lfCWeight += pj.lfLogIntensity;
                node.cSupport |= 1;
            } else {
                node.lfNWeight += pj.lfLogIntensity;
                node.cSupport |= 2;
            }
            node.nPeakCount += 1;
            S += pj.lfMz * pj.lfLogIntensity;
        }

        const double weight = node.lfNWeight + node.lfCWeight;
        if (weight == 0.0) {
            // No weighted mean exists (all members of raw intensity 1, or
            // weights cancelling out): take the plain mean of the members.
            double sum = 0.0;
            for (std::size_t k = i; k < j; ++k) sum += nodePeaks[k].lfMz;
            node.lfMass = sum / static_cast<double>(j - i);
        } else {
            node.lfMass = S / weight;
        }
        node.lfTolerance = d;

        const double margin = kGlycine - T;
        if (node.lfMass >= margin && node.lfMass <= R + T && std::fabs(node.lfMass - R) >= margin)
            m_vNodes.push_back(node);
        i = j;
    }
}

void CNCGraph::_MarkSupport() {
    // A node is supported when both ion series saw it, or when another node
    // lies one residue away (a ladder step); an isolated one-series node is
    // most often a noise peak, however intense. The nodes are in mass order.
    const CCondition& c = *m_pCondition;
    const size_t n = m_vNodes.size();
    for (CNode& node : m_vNodes) node.bSupported = node.cSupport == 3;
    for (size_t i = 0; i < n; ++i) {
        const double mi = m_vNodes[i].lfMass;
        size_t j = i + 1;
        for (const AminoAcid& aa : c.m_vAminoAcids) {
            if (aa.cModSite != 0) continue;
            const double want = mi + aa.lfMass;
            const double tol = std::min(0.5, m_vNodes[i].lfTolerance + m_lfTolerance);
            // Upper neighbours only: marking both ends covers the lower ones.
            auto it = std::lower_bound(m_vNodes.begin() + static_cast<std::ptrdiff_t>(j), m_vNodes.end(), want - tol,
                                       [](const CNode& x, double m) { return x.lfMass < m; });
            if (it != m_vNodes.end() && it->lfMass <= want + tol) {
                m_vNodes[i].bSupported = true;
                it->bSupported = true;
            }
        }
    }
}

void CNCGraph::_Merge_HCDETD(const CGraphInput& in, CAnswerTrace* trace) {
    const CCondition& c = *m_pCondition;
    // Each side's ions are read against its own spectrum's precursor (the two
    // measurements of a pair differ within the tolerance).
    const double shift = in.bShifted ? kIsotopeSpacing : 0.0;
    const double P = in.lfPrecursorMH - shift;

    m_vHCDPeaks.clear();
    m_vETDPeaks.clear();
    if (in.pHcd != nullptr) _ConstructNodesHCD(*in.pHcd, in.pHcd->m_lfPrecursorMH - shift, m_vHCDPeaks);
    if (in.pEtd != nullptr) _ConstructNodesETD(*in.pEtd, in.pEtd->m_lfPrecursorMH - shift, m_vETDPeaks);
    if (c.m_bRankNodeWeights) {
        if (!m_vHCDPeaks.empty()) _RankWeights(*in.pHcd, m_vHCDPeaks);
        if (!m_vETDPeaks.empty()) _RankWeights(*in.pEtd, m_vETDPeaks);
    }

    m_vPool.clear();
    m_vPool.reserve(m_vHCDPeaks.size() + m_vETDPeaks.size() + c.m_strEnzymeSites.size());
    double wmax = 0.0;
    for (const CPeak& p : m_vHCDPeaks) {
        m_vPool.push_back(p);
        if (p.lfLogIntensity > wmax) wmax = p.lfLogIntensity;
    }
    for (const CPeak& p : m_vETDPeaks) {
        m_vPool.push_back(p);
        if (p.lfLogIntensity > wmax) wmax = p.lfLogIntensity;
    }

    // The terminal residue fixed by the enzyme gives a node without fragment
    // evidence, weighted as strongly as the best peak of the spectrum.
    for (const char site : c.m_strEnzymeSites) {
        if (site < 'A' || site > 'Z') continue;
        const double residue = c.m_lfAAMass[site - 'A'];
        if (!(residue >= 0.1)) continue;  // letter without a residue mass
        CPeak pseudo;
        pseudo.lfLogIntensity = wmax;
        pseudo.lfIntensity = 0.0;
        pseudo.nCharge = 1;
        if (c.m_bEnzymeNTerm) {
            pseudo.lfMz = residue;
            pseudo.nType = kNodeB;
        } else {
            pseudo.lfMz = P - kWater - kProton - residue;
            pseudo.nType = kNodeY;
        }
        m_vPool.push_back(pseudo);
    }

    std::sort(m_vPool.begin(), m_vPool.end(), CPeak::Mz_Less);
    _Merge(m_vPool, P);

    if (trace) trace->NodesBeforeCap(m_vNodes);
    // Compared as unsigned: a negative setting means no cap.
    const unsigned int maxNode = static_cast<unsigned int>(c.m_nMaxNode);
    if (maxNode < m_vNodes.size()) {
        if (c.m_bSupportedNodesFirst) {
            _MarkSupport();
            // Stable: equal keys keep their mass order, so the cut is the
            // same on every platform.
            std::stable_sort(m_vNodes.begin(), m_vNodes.end(), [](const CNode& a, const CNode& b) {
                if (a.bSupported != b.bSupported) return a.bSupported;
                return CNode::WeightGreater(a, b);
            });
        } else {
            std::sort(m_vNodes.begin(), m_vNodes.end(), CNode::WeightGreater);
        }
        m_vNodes.resize(maxNode);
    }

    CNode start;
    start.lfMass = 0.0;
    start.nPeakCount = 0;
    start.cSupport = 3;
    start.lfTolerance = 0.0;
    m_vNodes.push_back(start);
    CNode end;
    end.lfMass = P - kWater - kProton;
    end.nPeakCount = 0;
    end.cSupport = 3;
    end.lfTolerance = c.CalcPeptideMassDeviation(P);
    m_vNodes.push_back(end);

    std::sort(m_vNodes.begin(), m_vNodes.end(), CNode::Mz_Less);

    m_vNodeWeights.clear();
    m_vNodeWeights.reserve(m_vNodes.size());
    for (const CNode& node : m_vNodes) m_vNodeWeights.push_back(node.lfNWeight + node.lfCWeight);
}
