#include "graph/CandidateGen.h"

#include <chrono>

namespace {
constexpr double kWater = 18.0105647;
constexpr double kProton = 1.00727647012;

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }
}  // namespace

CNCGraph::CNCGraph(const CCondition* pCondition, int threadId)
    : m_pDP(std::make_unique<CKlongestPathDP>()),
      m_pScorer(std::make_unique<CBM25Score>(pCondition)),
      m_pCondition(pCondition),
      m_nThreadId(threadId) {}

CNCGraph::~CNCGraph() = default;

void CNCGraph::ConstructGraph(const CSpectrum& first, const CSpectrum& second, std::ostream& out) {
    const CCondition& c = *m_pCondition;
    // The object is reused between spectra: start from a clean state but keep
    // the buffers' capacity.
    m_vPaths.clear();
    m_vResults.clear();
    while (!m_qCandidates.empty()) m_qCandidates.pop();

    const double mh = first.m_lfPrecursorMH;
    m_lfResidueMass = mh - kWater - kProton;
    m_lfTolerance = c.m_bFragTolPpm ? mh * c.m_lfFragTol * 1e-6 : c.m_lfFragTol;
    if (m_lfTolerance > 0.5) m_lfTolerance = 0.5;

    auto t0 = Clock::now();
    _Merge_HCDETD(first, second);
    if (m_pTimes) { m_pTimes->lfNodes += SecondsSince(t0); t0 = Clock::now(); }
    _ConstructEdges(first);
    if (m_pTimes) { m_pTimes->lfEdges += SecondsSince(t0); t0 = Clock::now(); }
    const int n = static_cast<int>(m_vNodes.size());
    m_pDP->DPKlongestPath(n, c.m_nReportPath, m_vSuccessors, m_vEdgeWeights, m_vPaths);
    if (m_pTimes) { m_pTimes->lfPaths += SecondsSince(t0); t0 = Clock::now(); }
    GenerateCandidatePeptidevvPath();
    if (m_pTimes) { m_pTimes->lfCandidates += SecondsSince(t0); t0 = Clock::now(); }
    Report_unknowResult(out, first, second, first.m_lfPrecursorMH, first.m_nCharge);
    if (m_pTimes) m_pTimes->lfScoring += SecondsSince(t0);
}
