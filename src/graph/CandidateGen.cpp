#include "graph/CandidateGen.h"

#include <chrono>

#include "common/Masses.h"
#include "graph/AnswerTrace.h"

namespace {
using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }
}  // namespace

void CCandidateList::Reset(long long capacity) {
    while (!m_q.empty()) m_q.pop();
    m_nCapacity = capacity;
}

void CCandidateList::Push(CCandidate&& c) {
    m_q.push(std::move(c));
    // The weakest goes, which may be the one just pushed.
    if (static_cast<long long>(m_q.size()) > m_nCapacity) m_q.pop();
}

void CCandidateList::Drain(std::vector<CCandidate>& out) {
    out.clear();
    while (!m_q.empty()) {
        out.push_back(m_q.top());
        m_q.pop();
    }
}

CNCGraph::CNCGraph(const CCondition* pCondition)
    : m_pDP(std::make_unique<CKlongestPathDP>()), m_pCondition(pCondition) {}

void CNCGraph::ConstructGraph(const CGraphInput& in, CCandidateList& candidates, CAnswerTrace* trace,
                              CStageTimes* times) {
    const CCondition& c = *m_pCondition;
    // The tolerance follows the precursor as measured, also for a shifted graph.
    const double mh = in.lfPrecursorMH;
    m_lfTolerance = c.m_bFragTolPpm ? mh * c.m_lfFragTol * 1e-6 : c.m_lfFragTol;
    if (m_lfTolerance > 0.5) m_lfTolerance = 0.5;
    m_bShiftedGraph = in.bShifted;
    m_lfResidueMass = mh - (in.bShifted ? mass::kIsotopeSpacing : 0.0) - mass::kWater - mass::kProton;

    auto t0 = Clock::now();
    auto lap = [&](double CStageTimes::*stage) {
        if (times == nullptr) return;
        times->*stage += SecondsSince(t0);
        t0 = Clock::now();
    };
    _Merge_HCDETD(in, trace);
    lap(&CStageTimes::lfNodes);
    _ConstructEdges();
    lap(&CStageTimes::lfEdges);
    _FindPaths();
    lap(&CStageTimes::lfPaths);
    GenerateCandidatePeptidevvPath(candidates);
    lap(&CStageTimes::lfCandidates);
    if (trace) trace->AfterPaths(*this, in.bShifted);
}

void CNCGraph::_FindPaths() {
    m_vPaths.clear();
    m_pDP->DPKlongestPath(static_cast<int>(m_vNodes.size()), m_pCondition->m_nReportPath, m_vSuccessors,
                          m_vEdgeWeights, m_vPaths);
}
