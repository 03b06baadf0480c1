#include "driver/BatchSequencer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>

#include "graph/AnswerTrace.h"
#include "graph/CandidateGen.h"
#include "output/MzTabWriter.h"
#include "output/TsvWriter.h"
#include "preprocess/PreprocessONE.h"

const char* StatusName(EUnitStatus s) {
    switch (s) {
        case EUnitStatus::Sequenced: return "sequenced";
        case EUnitStatus::NoCandidate: return "no_candidate";
        case EUnitStatus::NoPeaks: return "no_peaks_after_cleaning";
        case EUnitStatus::OutsideWindow: return "outside_mass_window";
        case EUnitStatus::BadPrecursor: return "impossible_precursor";
        case EUnitStatus::Stopped: break;
    }
    return "stopped";
}

// A worker's own buffers, built once on its thread and reused for every
// spectrum of every batch.
class CBatchSequencer::CWorker {
public:
    CWorker(const CCondition& c, int index) : pre(&c), graph(&c, index) {
        if (c.m_bTrace && !c.m_mapAnswers.empty()) trace = std::make_unique<CAnswerTrace>(&c);
    }
    CPreprocessONE pre;
    CNCGraph graph;
    CSpectrum first, second;
    std::ostringstream out;
    std::unique_ptr<CAnswerTrace> trace;  // with trace=1 and an answer file
};

CBatchSequencer::CBatchSequencer(const CCondition& c) : m_cond(c) {}

CBatchSequencer::~CBatchSequencer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
    }
    m_wake.notify_all();
    for (std::thread& th : m_vWorkers) th.join();
}

void CBatchSequencer::_Start(const std::vector<CWorkUnit>& units, const std::atomic<int>* stop) {
    const size_t n = units.size();
    // Slots keep their storage from batch to batch: a long run does not
    // allocate its records afresh for every batch.
    if (m_vRecords.size() < n) m_vRecords.resize(n);
    if (m_pMzTab != nullptr && m_vMzTabRows.size() < n) m_vMzTabRows.resize(n);
    if (m_pTsv != nullptr && m_vTsvRows.size() < n) m_vTsvRows.resize(n);
    m_vStatus.assign(n, EUnitStatus::Stopped);
    const bool trace = m_cond.m_bTrace && !m_cond.m_mapAnswers.empty();
    m_vTraceRows.assign(trace ? n : 0, std::string());
    m_vTraceStage.assign(trace ? n : 0, -1);
    const size_t threads = std::max<size_t>(1, m_cond.m_vThreads.size());
    // Small chunks keep the workers even; a chunk is still large enough that
    // taking one costs nothing next to sequencing it.
    m_nChunk = std::clamp<size_t>(n / (threads * 8), 1, 16);
    // Workers start once, on the first batch, and wait for each batch after.
    for (size_t t = m_vWorkers.size(); t < threads && !m_bNoMoreWorkers; ++t) {
        try {
            m_vWorkers.emplace_back(&CBatchSequencer::_Serve, this, static_cast<int>(t));
        } catch (const std::system_error& e) {
            // A worker that cannot be started: its share is taken by the others.
            std::cerr << "\n[warning]\tcannot start worker " << t << " (" << e.what() << ")" << std::endl;
            m_bNoMoreWorkers = true;
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pUnits = &units;
        m_pStop = stop;
        m_nNext.store(0);
        m_nDone.store(0);
        ++m_nBatch;
        m_nRunning = static_cast<int>(m_vWorkers.size());
    }
    m_wake.notify_all();
    if (m_vWorkers.empty()) {
        // Not a single thread could start: this one does the work.
        if (!m_pInline) m_pInline = std::make_unique<CWorker>(m_cond, 0);
        _Work(*m_pInline);
    }
}

bool CBatchSequencer::_WaitSome() {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_nRunning == 0; });
}

void CBatchSequencer::_Serve(int index) {
    CWorker w(m_cond, index);
    unsigned seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [&] { return m_bQuit || m_nBatch != seen; });
            if (m_bQuit) return;
            seen = m_nBatch;
        }
        _Work(w);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_nRunning;
        }
        m_idle.notify_all();
    }
}

void CBatchSequencer::_Work(CWorker& w) {
    const CCondition& c = m_cond;
    const std::vector<CWorkUnit>& units = *m_pUnits;
    CPreprocessONE& pre = w.pre;
    CNCGraph& graph = w.graph;
    CSpectrum& first = w.first;
    CSpectrum& second = w.second;
    std::ostringstream& out = w.out;
    CAnswerTrace* trace = w.trace.get();
    for (;;) {
        if (m_pStop != nullptr && m_pStop->load() != 0) break;
        const size_t begin = m_nNext.fetch_add(m_nChunk);
        if (begin >= units.size()) break;
        const size_t end = std::min(units.size(), begin + m_nChunk);
        for (size_t i = begin; i < end; ++i) {
            const CWorkUnit& u = units[i];
            const CSpectrum& a = *u.pFirst;
            const int mode = u.nMode;
            EUnitStatus status;
            bool graphed = false;
            const TRUESQ* answer = nullptr;
            if (trace) {
                const auto it = c.m_mapAnswers.find(a.m_strTitle);
                if (it != c.m_mapAnswers.end()) answer = &it->second;
            }
            if (a.m_nCharge <= 0 || !std::isfinite(a.m_lfPrecursorMH) || !(a.m_lfPrecursorMH > 0.0)) {
                status = EUnitStatus::BadPrecursor;
                if (answer) trace->Outside(answer->strSequence, a.m_lfPrecursorMH, "impossible charge or precursor");
            } else {
                // The copy the activation does not use stays as normalised;
                // it is only read, so the unit's spectrum stands in for it.
                const CSpectrum* pFirst = &first;
                const CSpectrum* pSecond = &second;
                bool peaks = true;
                switch (mode) {
                    case 1:
                        first = a;
                        pre.PreProcess(first);
                        pSecond = &a;
                        peaks = !first.m_vPeaks.empty();
                        break;
                    case 2:
                        second = a;
                        pre.PreProcess(second);
                        pFirst = &a;
                        peaks = !second.m_vPeaks.empty();
                        break;
                    default:
                        first = a;
                        pre.PreProcess(first);
                        second = *u.pSecond;
                        pre.PreProcess(second);
                        peaks = !first.m_vPeaks.empty() || !second.m_vPeaks.empty();
                        break;
                }
                const double mh = pFirst->m_lfPrecursorMH;
                if (!(c.m_lfMassLowerBound <= mh && mh <= c.m_lfMassUpperBound)) {
                    status = EUnitStatus::OutsideWindow;
                    if (answer) trace->Outside(answer->strSequence, mh, "outside the precursor window");
                } else {
                    if (answer) {
                        trace->Begin(answer->strSequence, mh, mode == 2 ? nullptr : &a,
                                     mode == 2 ? &a : mode == 3 ? u.pSecond : nullptr, mode == 2 ? nullptr : &first,
                                     mode == 1 ? nullptr : &second);
                        graph.m_pTrace = trace;
                    }
                    graph.m_pScoreFirst = mode == 2 ? nullptr : &a;
                    graph.m_pScoreSecond = mode == 2 ? &a : mode == 3 ? u.pSecond : nullptr;
                    graph.m_nRecordNumber = u.nRecord;
                    graph.m_nMode = mode;
                    // The record is written straight into its slot's
                    // storage (kept from earlier batches): no copy, and no
                    // buffer regrown for every spectrum.
                    std::string& slot = m_vRecords[i];
                    slot.clear();
                    out.str(std::move(slot));
                    graph.ConstructGraph(*pFirst, *pSecond, out);
                    slot = std::move(out).str();
                    graph.m_pTrace = nullptr;
                    graphed = true;
                    status = !graph.m_vResults.empty() ? EUnitStatus::Sequenced
                             : peaks                   ? EUnitStatus::NoCandidate
                                                       : EUnitStatus::NoPeaks;
                }
            }
            if (!graphed) m_vRecords[i].clear();
            m_vStatus[i] = status;
            if (answer) {
                // title, stage, detail
                std::string& row = m_vTraceRows[i];
                row = a.m_strTitle;
                row += '\t';
                row += TraceStageName(trace->Stage());
                row += '\t';
                row += trace->Detail();
                row += '\n';
                m_vTraceStage[i] = static_cast<signed char>(trace->Stage());
            }
            if (m_pMzTab != nullptr || m_pTsv != nullptr) {
                COutputUnit o;
                o.pFirst = u.pFirst;
                o.pSecond = u.pSecond;
                o.nFirstRun = u.nFirstRun;
                o.nSecondRun = u.nSecondRun;
                o.nRecord = u.nRecord;
                o.szStatus = StatusName(status);
                o.pResults = graphed ? &graph.m_vResults : nullptr;
                o.nShown = static_cast<size_t>(std::max(0, c.m_nReportPep));
                if (m_pMzTab != nullptr) m_vMzTabRows[i].clear(), m_pMzTab->Rows(o, m_vMzTabRows[i]);
                if (m_pTsv != nullptr) m_vTsvRows[i].clear(), m_pTsv->Rows(o, m_vTsvRows[i]);
            }
        }
        m_nDone.fetch_add(end - begin);
    }
}
