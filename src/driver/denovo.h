#pragma once
// The run driver: parameters, datasets read and sequenced batch by batch by
// worker threads, result files written whole, per-dataset summaries, timing
// and the run log.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "conditions/Condition.h"
#include "driver/DatasetSummary.h"
#include "driver/OutputFolder.h"
#include "input/Input.h"
#include "pairing/Pairing.h"

// Guards the driver's wait for the workers of a batch.
extern std::mutex mutex;
extern std::condition_variable cond;
// The run's log text; main puts it at the top of "denovo.log".
extern std::ostringstream runLog;

// Puts text at the top of "denovo.log", older entries after it, holding an
// exclusive lock on the file so that concurrent runs keep each other's
// entries. A log that cannot be written is a warning: false, after it.
bool WriteRunLog(const std::string& text);

// Drops peaks whose intensity is not a positive number (their logarithm is
// undefined), then sets each peak's relative intensity, log intensity, key
// m/z, order and the spectrum's activation label.
void NormaliseSpectrum(CSpectrum& s, const char* label);

// Replaces the characters that would break a result file's layout (tab, CR,
// LF) in a title by spaces.
void CleanTitle(std::string& title);

// Asks a running search to stop: the workers finish the spectrum in hand,
// partial results are removed and DenovoRun returns 128 + signal. Safe to
// call from a signal handler.
void RequestStop(int signal);

class CDeNovo {
public:
    virtual ~CDeNovo() = default;
    // Runs one whole search. Returns the exit status: 0 when all work was
    // done; 1 when the parameter file has errors (nothing is run), or when
    // the run finished but could not read an input or write an output;
    // 128 + the signal when it was interrupted. Throws std::runtime_error
    // when the parameter file cannot be read.
    int DenovoRun(const std::string& paramFile, const std::string& outputName);

    // Reads the parameters; false when they forbid a run (errors reported).
    bool _ReadData(CCondition& cond, const std::string& paramFile, const std::string& outputName);
    // This run sequences share m_nShard of m_nShards (from 1) of every
    // dataset's work: a contiguous range of its spectra (pairs) in output
    // order, with the record numbers of the whole dataset, so the shards'
    // result files joined in order are the whole run's result file.
    int m_nShard = 1;
    int m_nShards = 1;
    // Called with the parameters once they are read and found sound, before
    // anything runs: lets a caller (vemra train) adjust the run.
    std::function<void(CCondition&)> m_fnAdjust;
    // [first, last) of n units that belong to this share.
    std::pair<size_t, size_t> ShardRange(size_t n) const;

private:
    // Result prefix of the dataset (output folder + unique base name); prints
    // the "output: " line in folder mode.
    std::string _DatasetPrefix(CCondition& c, const std::string& outputName, unsigned int datasetNumber);
    // Opens the j-th spectrum path of the dataset, prints its FILE line and
    // counts its spectra. Null (run marked failed) when it cannot be read.
    std::unique_ptr<CInput> _OpenSpectra(CCondition& c, size_t j, unsigned int datasetNumber, unsigned int& count);
    // First pass over a paired dataset: the light record of every spectrum
    // (titles cleaned, peaks dropped), from the dataset's files, or from the
    // single open file `single` whose first spectra are in head.
    void _CollectRecords(CCondition& c, unsigned int datasetNumber, std::vector<CPairRecord>& records, CInput* single,
                         std::vector<CSpectrum>& head);
    // Pairs the records into work units in output order; counts them in the
    // summary and warns when few spectra pair.
    void _PairUnits(CCondition& c, CDatasetSummary& summary, const std::vector<CPairRecord>& records,
                    std::vector<CPairUnit>& units);
    // Reads the spectra of the records `want` (positions in records, sorted
    // by file and position) again from their files, normalised, into out
    // (parallel to want).
    void _FetchSpectra(CCondition& c, const std::vector<CPairRecord>& records, const std::vector<int>& want,
                       std::vector<CSpectrum>& out);
    // Sequences one dataset into its result file; false when interrupted.
    bool _RunDataset(CCondition& c, const std::string& outputName, unsigned int datasetNumber,
                     CDatasetSummary& summary);

    COutputFolder m_folder;
};
