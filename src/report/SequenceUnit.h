#pragma once
// One unit of work (a spectrum or an HCD + ETD pair) from its spectra as read
// to its result record: cleaning, the precursor window, the spectrum graph
// and its candidates (twice with isotope_error), the report, and the trace
// of a known peptide. Every caller that sequences spectra (the batch
// sequencer of a run, `vemra train`, the benchmark) goes through
// SequenceUnit, so they all measure and learn from the same pipeline.

#include <memory>
#include <vector>

#include "conditions/Condition.h"
#include "graph/AnswerTrace.h"
#include "graph/CandidateGen.h"
#include "preprocess/PreprocessONE.h"
#include "records/WorkUnit.h"
#include "report/Report.h"

// A worker's buffers, built once and reused for every unit; two threads must
// not use one at the same time.
class CWorkerBuffers {
public:
    // withFeatures: every result also carries the re-ranking features of its
    // leading peptides (what `vemra train` learns from).
    explicit CWorkerBuffers(const CCondition& c, bool withFeatures = false);

    CPreprocessONE m_pre;
    CNCGraph m_graph;
    CReport m_report;
    CSpectrum m_first, m_second;                // cleaned copies of the unit's spectra
    std::unique_ptr<CAnswerTrace> m_pTrace;     // with trace=1 and an answer file
    CCandidateList m_candidates;
    std::vector<CCandidate> m_vCandidates;      // the drained list, weakest first
    CUnitResult m_result;
    bool m_bFeatures = false;
    CStageTimes* m_pTimes = nullptr;            // set by the benchmark: per-stage wall-clock time
};

// Sequences `unit`; the record lives in buffers.m_result until the next call.
const CUnitResult& SequenceUnit(const CCondition& c, const CWorkUnit& unit, CWorkerBuffers& buffers);
