#include "graph/CandidateGen.h"

#include <chrono>

#include "graph/AnswerTrace.h"

namespace {
constexpr double kWater = 18.0105647;
constexpr double kProton = 1.00727647012;
constexpr double kIsotopeSpacing = 1.0033499999999993;  // 13C - 12C

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

    _SequenceGraph(first, second, false);
    if (c.m_bIsotopeError) {
        // The instrument may have picked the precursor's 13C peak: sequence
        // once more for a precursor one 13C lighter, into the same candidates.
        m_ShiftFirst = first;
        m_ShiftSecond = second;
        m_ShiftFirst.m_lfPrecursorMH -= kIsotopeSpacing;
        m_ShiftSecond.m_lfPrecursorMH -= kIsotopeSpacing;
        m_lfResidueMass = mh - kIsotopeSpacing - kWater - kProton;
        _SequenceGraph(m_ShiftFirst, m_ShiftSecond, true);
        m_lfResidueMass = mh - kWater - kProton;
    }
    auto t0 = Clock::now();
    Report_unknowResult(out, first, second, first.m_lfPrecursorMH, first.m_nCharge);
    if (m_pTimes) m_pTimes->lfScoring += SecondsSince(t0);
    if (m_pTrace) m_pTrace->AfterReport(m_vResults);
}

void CNCGraph::_SequenceGraph(const CSpectrum& first, const CSpectrum& second, bool shifted) {
    const CCondition& c = *m_pCondition;
    m_bShiftedGraph = shifted;
    m_vPaths.clear();
    auto t0 = Clock::now();
    _Merge_HCDETD(first, second);
    if (m_pTimes) { m_pTimes->lfNodes += SecondsSince(t0); t0 = Clock::now(); }
    _ConstructEdges(first);
    if (m_pTimes) { m_pTimes->lfEdges += SecondsSince(t0); t0 = Clock::now(); }
    const int n = static_cast<int>(m_vNodes.size());
    m_pDP->DPKlongestPath(n, c.m_nReportPath, m_vSuccessors, m_vEdgeWeights, m_vPaths);
    if (m_pTimes) { m_pTimes->lfPaths += SecondsSince(t0); t0 = Clock::now(); }
    GenerateCandidatePeptidevvPath();
    if (m_pTimes) m_pTimes->lfCandidates += SecondsSince(t0);
    if (m_pTrace) m_pTrace->AfterPaths(*this, shifted);
}
