#pragma once
// Sequences batches of work units (a spectrum, or an HCD + ETD pair) on
// the run's worker threads. The workers and their buffers (preprocessor,
// graph, spectrum copies) live as long as the sequencer, so a dataset of
// many batches costs per spectrum what one batch does. Units are handed out
// in small chunks as workers free up, so a batch sorted by difficulty still
// keeps every worker busy; each unit's record is kept in its own slot, so
// the records come out in unit order whatever the thread count.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conditions/Condition.h"
#include "input/Spectrum.h"

class CMzTabWriter;
class CTsvWriter;

// One unit of work. The spectra are as read and normalised; they are not
// changed (workers clean copies).
struct CWorkUnit {
    const CSpectrum* pFirst = nullptr;   // HCD side of a pair, or the lone spectrum
    const CSpectrum* pSecond = nullptr;  // ETD side of a pair
    long long nRecord = 0;               // 0-based; the record header shows S<nRecord + 1>
    int nMode = 1;                       // 1 HCD, 2 ETD (pFirst is the ETD spectrum), 3 pair
    int nFirstRun = 1;                   // 1-based number of the file pFirst comes from
    int nSecondRun = 2;                  // and pSecond
};

// What became of a unit.
enum class EUnitStatus : unsigned char { Sequenced, NoCandidate, NoPeaks, OutsideWindow, BadPrecursor, Stopped };
// The status as the summary and the tables name it ("sequenced", "no_candidate", ...).
const char* StatusName(EUnitStatus s);

class CBatchSequencer {
public:
    explicit CBatchSequencer(const CCondition& c);
    ~CBatchSequencer();
    CBatchSequencer(const CBatchSequencer&) = delete;
    CBatchSequencer& operator=(const CBatchSequencer&) = delete;

    // Sequences every unit with the condition's thread count. vRecords[i]
    // receives unit i's record text ("" when it has none), vStatus[i] its
    // status. onProgress is called on the calling thread about four times a
    // second with the number of units done. Workers stop taking units once
    // *stop is non-zero; the units not done are Stopped.
    template <class F>
    void Run(const std::vector<CWorkUnit>& units, const std::atomic<int>* stop, F onProgress) {
        _Start(units, stop);
        while (!_WaitSome()) onProgress(m_nDone.load());
        onProgress(m_nDone.load());
    }

    // Slots of the last batch; only the first units.size() are meaningful
    // (the rest keep their storage for the next batch).
    std::vector<std::string> m_vRecords;
    std::vector<EUnitStatus> m_vStatus;
    // Table rows of each unit, when a writer is set (every unit has rows).
    const CMzTabWriter* m_pMzTab = nullptr;
    const CTsvWriter* m_pTsv = nullptr;
    std::vector<std::string> m_vMzTabRows, m_vTsvRows;
    // With trace=1 and answers: each unit's trace row ("" without a known
    // peptide) and its stage (-1 without one).
    std::vector<std::string> m_vTraceRows;
    std::vector<signed char> m_vTraceStage;

private:
    void _Start(const std::vector<CWorkUnit>& units, const std::atomic<int>* stop);
    bool _WaitSome();  // true once every worker has finished the batch
    void _Serve(int index);  // a worker's life: one batch after another
    class CWorker;
    void _Work(CWorker& w);  // takes chunks of the current batch until none is left

    const CCondition& m_cond;
    const std::vector<CWorkUnit>* m_pUnits = nullptr;
    const std::atomic<int>* m_pStop = nullptr;
    std::atomic<size_t> m_nNext{0};
    std::atomic<size_t> m_nDone{0};
    size_t m_nChunk = 1;
    std::mutex m_mutex;
    std::condition_variable m_wake;  // a new batch, or the end
    std::condition_variable m_idle;  // a worker finished the batch
    unsigned m_nBatch = 0;           // batches started; guarded by m_mutex
    bool m_bQuit = false;            // guarded by m_mutex
    bool m_bNoMoreWorkers = false;   // a thread could not start: the pool stays as it is
    int m_nRunning = 0;              // workers still on the batch; guarded by m_mutex
    std::vector<std::thread> m_vWorkers;
    std::unique_ptr<CWorker> m_pInline;  // the buffers of the calling thread, when no worker could start
};
