#pragma once
// The run driver: parameters, datasets, worker threads, merge, timing and
// the run log.

#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>

#include "conditions/Condition.h"

// Guards the progress line, the workers' running flags and the driver's wait.
extern std::mutex mutex;
extern std::condition_variable cond;
// The run's log text; main puts it at the top of "denovo.log".
extern std::ostringstream runLog;

// Puts text at the top of "denovo.log", older entries after it.
// False when the file could not be written.
bool WriteRunLog(const std::string& text);

// Drops peaks whose intensity is not a positive number (their logarithm is
// undefined), then sets each peak's relative intensity, log intensity, key
// m/z, order and the spectrum's activation label.
void NormaliseSpectrum(CSpectrum& s, const char* label);

// Splits the dataset's spectra into contiguous ranges, one per worker
// (chunk = n / T + 1; trailing workers may get empty ranges).
void DivideRanges(CCondition& c);

// Worker thread body; arg is the worker's CThread.
void* _CallBack(void* arg);

class CDeNovo {
public:
    virtual ~CDeNovo() = default;
    // Runs one whole search. Returns false when the run finished but could
    // not read an input or write an output. Throws std::runtime_error when
    // the parameter file cannot be opened.
    bool DenovoRun(const std::string& paramFile, const std::string& outputName);

    void _ReadData(CCondition& cond, const std::string& paramFile, const std::string& outputName);
    void _ReadSpectra(CCondition& cond, const std::string& outputName, const unsigned int& datasetNumber);
};
