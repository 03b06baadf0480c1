#include "driver/BatchSequencer.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "common/Console.h"
#include "graph/AnswerTrace.h"
#include "output/MzTabWriter.h"
#include "output/NativeWriter.h"
#include "output/PeptideText.h"
#include "output/TsvWriter.h"
#include "report/SequenceUnit.h"

// A worker's own buffers, built once on its thread and reused for every
// unit of every batch.
class CBatchSequencer::CWorker {
public:
    CWorker(const CCondition& c, const CBatchOptions& options) : m_buffers(c, options.bFeatures) {
        if (options.bStageTimes) m_buffers.m_pTimes = &m_times;
    }
    CWorkerBuffers m_buffers;
    CStageTimes m_times;
};

CBatchSequencer::CBatchSequencer(const CCondition& c, const CBatchOptions& options) : m_cond(c), m_options(options) {}

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
    // Slots are freed as their units are handed on; the vectors of slots keep
    // their size from batch to batch.
    for (auto* slots : {&m_vRecords, &m_vMzTabRows, &m_vTsvRows})
        if (slots->size() < n) slots->resize(n);
    m_vStatus.assign(n, EUnitStatus::Stopped);
    if (m_nDoneCapacity < n) {
        m_pDone = std::make_unique<std::atomic<unsigned char>[]>(n);
        m_nDoneCapacity = n;
    }
    for (size_t i = 0; i < n; ++i) m_pDone[i].store(0, std::memory_order_relaxed);
    m_nSeenDone = 0;
    m_vTraceRows.assign(m_options.bTrace ? n : 0, std::string());
    m_vTraceStage.assign(m_options.bTrace ? n : 0, -1);
    if (m_options.bFeatures && m_vFeatures.size() < n) {
        m_vFeatures.resize(n);
        m_vFeaturePeptides.resize(n);
    }
    const size_t threads = std::max<size_t>(1, m_cond.m_nThreadNum);
    // Small chunks keep the workers even; a chunk is still large enough that
    // taking one costs nothing next to sequencing it.
    m_nChunk = std::clamp<size_t>(n / (threads * 8), 1, 16);
    // Workers start once, on the first batch, and wait for each batch after.
    for (size_t t = m_vWorkers.size(); t < threads && !m_bNoMoreWorkers; ++t) {
        try {
            m_vWorkers.emplace_back(&CBatchSequencer::_Serve, this);
        } catch (const std::system_error& e) {
            // A worker that cannot be started: its share is taken by the others.
            console::Warning() << "cannot start worker " << t << " (" << e.what() << ")";
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
        if (!m_pInline) {
            m_pInline = std::make_unique<CWorker>(m_cond, m_options);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_vWorkerBuffers.push_back(m_pInline.get());
        }
        _Work(*m_pInline);
    }
}

bool CBatchSequencer::_WaitSome() {
    std::unique_lock<std::mutex> lock(m_mutex);
    const size_t seen = m_nSeenDone;
    m_idle.wait_for(lock, std::chrono::milliseconds(250), [&] { return m_nRunning == 0 || m_nDone.load() != seen; });
    m_nSeenDone = m_nDone.load();
    return m_nRunning == 0;
}

void CBatchSequencer::_Release(size_t i) {
    // Handed on: the memory goes back now rather than at the batch's end.
    for (auto* slots : {&m_vRecords, &m_vMzTabRows, &m_vTsvRows, &m_vTraceRows})
        if (i < slots->size()) std::string().swap((*slots)[i]);
    if (i < m_vFeatures.size()) {
        std::vector<double>().swap(m_vFeatures[i]);
        std::vector<std::string>().swap(m_vFeaturePeptides[i]);
    }
}

void CBatchSequencer::_Serve() {
    CWorker w(m_cond, m_options);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vWorkerBuffers.push_back(&w);
    }
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
    const std::vector<CWorkUnit>& units = *m_pUnits;
    for (;;) {
        if (m_pStop != nullptr && m_pStop->load() != 0) break;
        const size_t begin = m_nNext.fetch_add(m_nChunk);
        if (begin >= units.size()) break;
        const size_t end = std::min(units.size(), begin + m_nChunk);
        for (size_t i = begin; i < end; ++i) {
            _SequenceOne(i, units[i], w);
            m_pDone[i].store(1, std::memory_order_release);
        }
        m_nDone.fetch_add(end - begin);
        // The calling thread writes finished units out while others run.
        m_idle.notify_all();
    }
}

void CBatchSequencer::_SequenceOne(size_t i, const CWorkUnit& unit, CWorker& w) {
    try {
        _Output(i, SequenceUnit(m_cond, unit, w.m_buffers));
        return;
    } catch (const std::exception& e) {
        // One spectrum's failure (memory, say) must not end the run: it is
        // recorded as failed, and the others are still sequenced.
        console::Error() << "spectrum " << unit.pFirst->m_strTitle << " failed: " << e.what();
    }
    try {
        CUnitResult failed;
        failed.pUnit = &unit;
        failed.eStatus = EUnitStatus::Failed;
        _Output(i, failed);
    } catch (const std::exception&) {
        m_vStatus[i] = EUnitStatus::Failed;
    }
}

void CBatchSequencer::_Output(size_t i, const CUnitResult& r) {
    m_vStatus[i] = r.eStatus;
    m_vRecords[i].clear();
    m_vMzTabRows[i].clear();
    m_vTsvRows[i].clear();
    if (m_options.pNative != nullptr) m_options.pNative->Record(r, m_vRecords[i]);
    if (m_options.pMzTab != nullptr) m_options.pMzTab->Rows(r, m_vMzTabRows[i]);
    if (m_options.pTsv != nullptr) m_options.pTsv->Rows(r, m_vTsvRows[i]);
    if (m_options.bFeatures) {
        m_vFeatures[i].assign(r.vFeatures.begin(), r.vFeatures.end());
        m_vFeaturePeptides[i].resize(r.nFeatureRows);
        for (size_t k = 0; k < r.nFeatureRows; ++k) {
            m_vFeaturePeptides[i][k].clear();
            AppendPeptide(m_vFeaturePeptides[i][k], r.vPeptides[k], m_cond, EPeptideText::Native);
        }
    }
    if (m_options.bTrace && r.nTraceStage >= 0) {
        // title, stage, detail
        std::string& row = m_vTraceRows[i];
        row = r.pUnit->pFirst->m_strTitle;
        row += '\t';
        row += TraceStageName(static_cast<ETraceStage>(r.nTraceStage));
        row += '\t';
        row += r.strTraceDetail;
        row += '\n';
        m_vTraceStage[i] = static_cast<signed char>(r.nTraceStage);
    }
}

CStageTimes CBatchSequencer::StageTimes() const {
    CStageTimes sum;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const CWorker* w : m_vWorkerBuffers) sum.Add(w->m_times);
    return sum;
}
