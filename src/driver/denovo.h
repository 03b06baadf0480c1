#pragma once
// The run driver: parameters, datasets read and sequenced batch by batch by
// worker threads, result files written whole, per-dataset summaries, timing
// and the run log.

#include <atomic>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "conditions/Condition.h"
#include "driver/DatasetSummary.h"
#include "driver/OutputFolder.h"
#include "graph/CandidateGen.h"
#include "input/Input.h"
#include "pairing/FragmentationGuess.h"
#include "pairing/Pairing.h"
#include "records/WorkUnit.h"

class CBatchSequencer;
class CResultFile;

// The run's log text; main puts it at the top of "denovo.log".
extern std::ostringstream runLog;

// Puts text at the top of "denovo.log", older entries after it, holding an
// exclusive lock on the file so that concurrent runs keep each other's
// entries. A log that cannot be written is a warning: false, after it.
bool WriteRunLog(const std::string& text);

// Asks a running search to stop: the workers finish the spectrum in hand,
// partial results are removed and DenovoRun returns 128 + signal. Safe to
// call from a signal handler.
void RequestStop(int signal);

// What a run learns and decides while it runs; the parameters stay in the
// CCondition, which the driver never changes once it is read.
struct CRunState {
    std::string strOutDir;               // OUT_PATH/OUTPUT_NAME/
    std::vector<std::string> vPaths;     // the spectrum files of the dataset in hand
    unsigned int nDatasetNumber = 0;     // folder mode: 1-based number of the dataset; 0: none
    std::string strPrefix;               // the dataset's result prefix (folder + unique base name)
    // Set by anyone who could not read an input or write an output; the run
    // finishes all its other work and then exits with a failure status.
    std::atomic<bool> bFailed{false};
    void Fail() { bFailed.store(true); }
    bool Failed() const { return bFailed.load(); }
};

// A dataset once opened: a single file read a batch at a time, or paired
// spectra (two files, or one recording both activations) as pairing units
// over light records, their spectra fetched again per batch.
struct CDatasetInput {
    EMode eMode = EMode::HCD;           // of a single file's spectra without a recorded activation
    bool bPaired = false;
    std::unique_ptr<CInput> pReader;     // single file
    std::vector<CSpectrum> vHead;        // its first spectra, read to look for both activations
    long long nTotal = 0;                // spectra (single) or units (paired) of this share
    std::vector<CPairRecord> vRecords;   // paired: every spectrum's light record
    std::vector<CPairUnit> vUnits;       // paired: this share's units in output order
    long long nFirstUnit = 0;            // record number of the share's first unit
    long long nPeaksReduced = 0;         // paired: spectra reduced to max_peaks
    long long nSkipped = 0;              // paired: damaged spectra the readers passed over
    // Paired files: the side (0 HCD, 1 ETD) of each file's spectra that do not
    // record their activation: the file's position, unless its spectra
    // clearly say otherwise.
    int nFileSide[2] = {0, 1};
};

// Where a run's files go. A parameter-file run keeps the defaults; vemra
// sequence writes where its -o says.
struct COutputPlan {
    std::string strFolder;   // results straight into this folder (ends in '/'); "": OUT_PATH/OUTPUT_NAME/
    std::string strFile;     // the one table asked for, to exactly this path; "": named after the dataset
    bool bTimeFile = true;   // time.txt beside the results
    bool bOwnFolder = true;  // the folder is the engine's own (leftovers of any name are cleaned up)
};

class CDeNovo {
public:
    virtual ~CDeNovo() = default;
    // Runs one whole search. Returns the exit status: 0 when all work was
    // done; 1 when the parameter file has errors (nothing is run), or when
    // the run finished but could not read an input or write an output;
    // 128 + the signal when it was interrupted. Throws std::runtime_error
    // when the parameter file cannot be read.
    int DenovoRun(const std::string& paramFile, const std::string& outputName);

    // Reads the parameters and their models; false when they forbid a run
    // (errors reported).
    bool _ReadData(CCondition& cond, const std::string& paramFile, const std::string& outputName);
    // This run sequences share m_nShard of m_nShards (from 1) of every
    // dataset's work: a contiguous range of its spectra (pairs) in output
    // order, with the record numbers of the whole dataset, so the shards'
    // result files joined in order are the whole run's result file.
    int m_nShard = 1;
    int m_nShards = 1;
    // [first, last) of n units that belong to this share.
    std::pair<size_t, size_t> ShardRange(size_t n) const;
    COutputPlan m_plan;
    // The parameters as text (vemra sequence composes them) instead of the
    // file DenovoRun names; the name then stands for them in messages.
    const std::string* m_pParamText = nullptr;
    // Set by the benchmark: the time of every stage is added here.
    CStageTimes* m_pStageTimes = nullptr;
    // What became of the spectra of the last run, all datasets together.
    const CDatasetSummary& Total() const { return m_total; }

private:
    // Result prefix of the dataset (output folder + unique base name).
    std::string _DatasetPrefix(const std::string& outputName);
    // Opens the j-th spectrum path of the dataset, says so and counts its
    // spectra. Null (run marked failed) when it cannot be read.
    std::unique_ptr<CInput> _OpenSpectra(const CCondition& c, size_t j, unsigned int& count);
    // Opens the dataset: a single file (read its first spectra), or pairs
    // formed over light records. False when nothing could be read.
    bool _OpenDataset(const CCondition& c, CDatasetSummary& summary, CDatasetInput& in);
    // Whether a single file's spectra record both HCD and ETD activations
    // (then it holds pairs); in.vHead holds its first spectra (`asked` were
    // asked for), and does so again afterwards.
    bool _RecordsBothActivations(const CCondition& c, CDatasetInput& in, size_t asked);
    // First pass over a paired dataset: the light record of every spectrum
    // (titles cleaned, peaks dropped), from the dataset's files, or from the
    // single open file `single` whose first spectra are in head.
    void _CollectRecords(const CCondition& c, CDatasetInput& in, CInput* single);
    // Which side two files' spectra belong to, judged from their fragment
    // ions (for spectra that do not record their activation); swaps swapped
    // files back, warns about a file that contradicts its position.
    void _JudgeFileSides(const CFragmentationVerdict verdicts[2], CDatasetInput& in);
    // Warns when a single file's spectra look like another fragmentation
    // than the one they are sequenced as.
    void _CheckFileActivation(const CCondition& c, const CDatasetInput& in);
    // Pairs the records into work units in output order; counts them in the
    // summary and warns when few spectra pair.
    void _PairUnits(const CCondition& c, CDatasetSummary& summary, CDatasetInput& in);
    // Reads the spectra of the records `want` (positions in records, sorted
    // by file and position) again from their files, normalised, into out
    // (parallel to want).
    void _FetchSpectra(const CCondition& c, const CDatasetInput& in, const std::vector<int>& want,
                       std::vector<CSpectrum>& out, long long& reduced);
    // Sequences one dataset into its result files; false when interrupted.
    bool _RunDataset(const CCondition& c, const std::string& outputName, CDatasetSummary& summary);
    // Sequences the batches of a dataset, handing each to `sequence`; false
    // when interrupted.
    template <class F>
    void _SequenceSingle(const CCondition& c, CDatasetInput& in, CDatasetSummary& summary, F sequence);
    template <class F>
    void _SequencePaired(const CCondition& c, CDatasetInput& in, F sequence);
    // Writes the dataset's summary file and its console and log lines.
    void _ReportDataset(const CDatasetSummary& summary);
    // The run's time line and time.txt.
    void _ReportTime(double seconds, const CDatasetSummary& total, size_t datasets);

    COutputFolder m_folder;
    CRunState m_run;
    CDatasetSummary m_total;
};
