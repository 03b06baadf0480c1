#pragma once
// Sequences batches of work units (a spectrum, or an HCD + ETD pair) on
// the run's worker threads. The workers and their buffers live as long as
// the sequencer, so a dataset of many batches costs per spectrum what one
// batch does. Units are handed out in small chunks as workers free up, so a
// batch sorted by difficulty still keeps every worker busy; each unit's
// texts are kept in its own slot, so they come out in unit order whatever
// the thread count. Workers also format their units' output (the writers
// are read-only and shared).

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conditions/Condition.h"
#include "graph/CandidateGen.h"
#include "records/WorkUnit.h"

class CNativeWriter;
class CMzTabWriter;
class CTsvWriter;

// What the workers make of each unit besides its status: the texts of the
// dataset's files (null writer: that file is not written), trace rows, for
// `vemra train` the features of its leading peptides, and for the benchmark
// the time each stage took.
struct CBatchOptions {
    const CNativeWriter* pNative = nullptr;
    const CMzTabWriter* pMzTab = nullptr;
    const CTsvWriter* pTsv = nullptr;
    bool bTrace = false;       // trace rows (trace=1 with answers)
    bool bFeatures = false;    // feature rows and the native text of their peptides
    bool bStageTimes = false;  // per-stage wall-clock time of every worker
};

class CBatchSequencer {
public:
    CBatchSequencer(const CCondition& c, const CBatchOptions& options);
    ~CBatchSequencer();
    CBatchSequencer(const CBatchSequencer&) = delete;
    CBatchSequencer& operator=(const CBatchSequencer&) = delete;

    // Sequences every unit with the condition's thread count. On the
    // calling thread, onUnit(i) is called for every unit in unit order as
    // soon as it and the units before it are done (its slots are read there
    // and freed afterwards, so a batch's texts are not all held at once), and
    // onProgress(done) about four times a second. Workers stop taking units
    // once *stop is non-zero; the units not done are Stopped (onUnit still
    // sees them, with empty slots).
    template <class F, class G>
    void Run(const std::vector<CWorkUnit>& units, const std::atomic<int>* stop, F onProgress, G onUnit) {
        _Start(units, stop);
        size_t handed = 0;
        for (bool finished = false; !finished;) {
            finished = _WaitSome();
            for (; handed < units.size() && m_pDone[handed].load(std::memory_order_acquire) != 0; ++handed) {
                onUnit(handed);
                _Release(handed);
            }
            onProgress(m_nDone.load());
        }
        for (; handed < units.size(); ++handed) {
            onUnit(handed);
            _Release(handed);
        }
    }

    // With stage times: the workers' times so far, summed (thread-seconds);
    // call between batches.
    CStageTimes StageTimes() const;

    // Slots of the batch, read in onUnit (freed once it returns). Texts are ""
    // where a unit has none (no record, or the file is not written).
    std::vector<std::string> m_vRecords, m_vMzTabRows, m_vTsvRows;
    std::vector<EUnitStatus> m_vStatus;
    // With trace rows: each unit's row ("" without a known peptide) and its
    // stage (-1 without one).
    std::vector<std::string> m_vTraceRows;
    std::vector<signed char> m_vTraceStage;
    // With feature rows: each unit's rows (CUnitResult layout) and the
    // native text of the peptide of each row.
    std::vector<std::vector<double>> m_vFeatures;
    std::vector<std::vector<std::string>> m_vFeaturePeptides;

private:
    void _Start(const std::vector<CWorkUnit>& units, const std::atomic<int>* stop);
    // Waits until a unit is done or a moment passed; true once every worker
    // has finished the batch.
    bool _WaitSome();
    void _Release(size_t i);  // frees unit i's slots once handed on
    void _Serve();           // a worker's life: one batch after another
    class CWorker;
    void _Work(CWorker& w);  // takes chunks of the current batch until none is left
    // Sequences unit i and fills its slots; an error inside the engine makes
    // it a failed unit.
    void _SequenceOne(size_t i, const CWorkUnit& unit, CWorker& w);
    void _Output(size_t i, const CUnitResult& r);  // unit i's texts, into its slots

    const CCondition& m_cond;
    const CBatchOptions m_options;
    const std::vector<CWorkUnit>* m_pUnits = nullptr;
    const std::atomic<int>* m_pStop = nullptr;
    std::atomic<size_t> m_nNext{0};
    std::atomic<size_t> m_nDone{0};
    size_t m_nSeenDone = 0;  // m_nDone when the calling thread last looked
    // Per unit of the batch: done (its slots are filled).
    std::unique_ptr<std::atomic<unsigned char>[]> m_pDone;
    size_t m_nDoneCapacity = 0;
    size_t m_nChunk = 1;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // a new batch, or the end
    std::condition_variable m_idle;  // a worker finished the batch
    unsigned m_nBatch = 0;           // batches started; guarded by m_mutex
    bool m_bQuit = false;            // guarded by m_mutex
    bool m_bNoMoreWorkers = false;   // a thread could not start: the pool stays as it is
    int m_nRunning = 0;              // workers still on the batch; guarded by m_mutex
    std::vector<std::thread> m_vWorkers;
    std::vector<CWorker*> m_vWorkerBuffers;  // each worker's, for the stage times; guarded by m_mutex
    std::unique_ptr<CWorker> m_pInline;  // the buffers of the calling thread, when no worker could start
};
