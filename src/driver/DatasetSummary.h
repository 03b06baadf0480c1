#pragma once
// What became of every spectrum of a dataset (or of a whole run): read,
// sequenced, and not sequenced by reason. The counts add up to the spectra
// read. Written to the console, to "<dataset>.summary.json" beside the
// results and to the run log.

#include <string>

#include "graph/AnswerTrace.h"

struct CDatasetSummary {
    std::string strDataset;     // spectrum path(s), " + "-joined in paired mode
    std::string strResultFile;  // "" when no result file was written
    std::string strMode;        // "HCD", "ETD" or "HCD+ETD"
    long long nRead = 0;
    long long nSequenced = 0;      // a record with at least one candidate
    long long nNoPeaks = 0;        // a record without candidate: no peak left after cleaning
    long long nNoCandidate = 0;    // a record without candidate: no path spelled the precursor's mass
    long long nOutsideWindow = 0;  // no record: precursor outside mass_lower_bound..mass_upper_bound
    long long nBadPrecursor = 0;   // no record: charge 0 or below, precursor not a positive number
    long long nFailed = 0;         // no record: an error inside the engine (reported with its title)
    long long nSkipped = 0;        // counted in the file, but too damaged to be read (reported)
    long long nPeaksReduced = 0;   // sequenced with only the max_peaks strongest peaks (per m/z window)
    double lfSeconds = 0.0;
    // Paired datasets: how the work units were formed ("" when not paired).
    // Lone spectra are sequenced alone in their own mode.
    std::string strPairing;        // "precursor" or "order"
    long long nPairs = 0;
    long long nLoneHcd = 0;
    long long nLoneEtd = 0;
    long long nRejected = 0;       // "order": positional pairs whose precursors disagree
    // trace=1 with answers: spectra with a known peptide by the stage that lost it.
    bool bTrace = false;
    long long vTrace[kTraceStages] = {};

    long long NotSequenced() const { return nNoPeaks + nNoCandidate + nOutsideWindow + nBadPrecursor + nFailed; }
    void Add(const CDatasetSummary& other);

    // "N spectra read: S sequenced; not sequenced: ..." (one line, no prefix).
    std::string Text() const;
    // "known peptides N: S1 stage1, ..." (one line, no prefix); "" without a trace.
    std::string TraceText() const;
    // One line of key=value pairs for the run log.
    std::string LogLine() const;
    std::string Json() const;
};
