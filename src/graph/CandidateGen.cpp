#include "graph/CandidateGen.h"

#include <algorithm>
#include <cassert>
#include <chrono>

#include "common/Masses.h"
#include "graph/AnswerTrace.h"

namespace {
using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }
}  // namespace

void CCandidateList::Reset(long long capacity) {
    for (const CKey& k : m_vHeap) m_vFree.push_back(k.nSlot);
    m_vHeap.clear();
    m_nCapacity = capacity;
}

unsigned int CCandidateList::_Slot() {
    if (m_vFree.empty()) {
        m_vSlots.emplace_back();
        m_vRecipes.emplace_back();
        return static_cast<unsigned int>(m_vSlots.size() - 1);
    }
    const unsigned int slot = m_vFree.back();
    m_vFree.pop_back();
    // A slot cut before its text was written is free again.
    m_vRecipes[slot].bPending = false;
    return slot;
}

CCandidateList::CTextRecipe* CCandidateList::PushDeferred(int doubleSteps, double pathWeight, bool shifted) {
    const unsigned int slot = _Slot();
    if (!_PushKey(doubleSteps, pathWeight, slot)) return nullptr;
    CCandidate& c = m_vSlots[slot];
    c.nDoubleSteps = doubleSteps;
    c.lfPathWeight = pathWeight;
    c.bShifted = shifted;
    CTextRecipe& r = m_vRecipes[slot];
    r.bPending = true;
    r.vLabels.clear();
    return &r;
}

bool CCandidateList::_PushKey(int doubleSteps, double pathWeight, unsigned int slot) {
    auto order = [](const CKey& a, const CKey& b) { return _Stronger(a, b); };
    m_vHeap.push_back({doubleSteps, pathWeight, slot});
    std::push_heap(m_vHeap.begin(), m_vHeap.end(), order);
    if (static_cast<long long>(m_vHeap.size()) <= m_nCapacity) return true;
    // The weakest goes, which may be the one just pushed.
    std::pop_heap(m_vHeap.begin(), m_vHeap.end(), order);
    const unsigned int cut = m_vHeap.back().nSlot;
    m_vHeap.pop_back();
    m_vFree.push_back(cut);
    return cut != slot;
}

void CCandidateList::Push(CCandidate&& c) {
    const unsigned int slot = _Slot();
    const int d = c.nDoubleSteps;
    const double w = c.lfPathWeight;
    if (_PushKey(d, w, slot)) m_vSlots[slot] = std::move(c);
}

void CCandidateList::Drain(std::vector<CCandidate>& out) {
    auto order = [](const CKey& a, const CKey& b) { return _Stronger(a, b); };
    const size_t count = m_vHeap.size();
    if (out.size() < count) out.resize(count);
    for (size_t k = 0; k < count; ++k) {
        std::pop_heap(m_vHeap.begin(), m_vHeap.end(), order);
        const unsigned int slot = m_vHeap.back().nSlot;
        m_vHeap.pop_back();
        assert(!m_vRecipes[slot].bPending && "deferred texts are written before the list is drained");
        // Copy-assigned, so out's strings keep their capacity from unit to unit.
        out[k] = m_vSlots[slot];
        m_vFree.push_back(slot);
    }
    out.resize(count);
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
    // The last graph's paths lend their storage to this one's.
    ParkRows(m_vPaths, m_vSparePaths, 0);
    m_pDP->DPKlongestPath(static_cast<int>(m_vNodes.size()), m_pCondition->m_nReportPath, m_vSuccessors,
                          m_vEdgeWeights, m_vPaths, &m_vSparePaths);
}
