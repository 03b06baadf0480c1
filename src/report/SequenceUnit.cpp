#include "report/SequenceUnit.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "common/Masses.h"
#include "preprocess/ComplementPairs.h"

namespace {

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// The known peptide of the unit, when a trace follows it.
const TRUESQ* TracedAnswer(const CCondition& c, const CWorkUnit& unit, const CWorkerBuffers& w) {
    if (!w.m_pTrace) return nullptr;
    const auto it = c.m_mapAnswers.find(unit.pFirst->m_strTitle);
    return it == c.m_mapAnswers.end() ? nullptr : &it->second;
}

// Cleans the copies the mode uses; true when any peak is left.
bool CleanSpectra(const CWorkUnit& unit, CWorkerBuffers& w) {
    const CSpectrum& a = *unit.pFirst;
    switch (unit.eMode) {
        case EMode::HCD:
            w.m_first = a;
            w.m_pre.PreProcess(w.m_first);
            return !w.m_first.m_vPeaks.empty();
        case EMode::ETD:
            w.m_second = a;
            w.m_pre.PreProcess(w.m_second);
            return !w.m_second.m_vPeaks.empty();
        case EMode::Paired:
            w.m_first = a;
            w.m_pre.PreProcess(w.m_first);
            w.m_second = *unit.pSecond;
            w.m_pre.PreProcess(w.m_second);
            return !w.m_first.m_vPeaks.empty() || !w.m_second.m_vPeaks.empty();
    }
    return false;
}

// Leading peptides anything after the report reads: the native file's, the
// tables', the re-ranker's and the confidence's (the runner-up).
size_t RankedLead(const CCondition& c) {
    const size_t written = static_cast<size_t>(std::max({0, c.m_nReportPep, c.m_nTableRows}));
    return std::max({written, CFeatures::kDepth, size_t{2}});
}

// Whether to sequence for the precursor one 13C lighter as well. With
// isotope_pairs the HCD side decides: the instrument may have picked the
// 13C peak when at least as many complementary pairs (and one at least) add
// up to the lighter precursor as to the measured one; a tie is read both
// ways. A unit without an HCD side has no such test.
bool SequenceLighter(const CCondition& c, const CWorkUnit& unit, const CWorkerBuffers& w) {
    if (!c.m_bIsotopeError) return false;
    if (!c.m_bIsotopePairs || unit.eMode == EMode::ETD) return true;
    const std::vector<CPeak>& peaks = w.m_first.m_vPeaks;
    const double sum = w.m_first.m_lfPrecursorMH + mass::kProton;
    const double tol = c.CalcFragmentMassDeviation(sum);
    const int lighter = ComplementPairs(peaks, sum - mass::kIsotopeSpacing, tol);
    return lighter > 0 && lighter >= ComplementPairs(peaks, sum, tol);
}

// The graph(s) and the report of a unit inside the precursor window.
void Sequence(const CCondition& c, const CWorkUnit& unit, CWorkerBuffers& w, const TRUESQ* answer) {
    const CSpectrum& a = *unit.pFirst;
    const EMode mode = unit.eMode;
    CAnswerTrace* trace = answer ? w.m_pTrace.get() : nullptr;
    const bool lighter = SequenceLighter(c, unit, w);
    if (trace) {
        trace->Begin(answer->strSequence, a.m_lfPrecursorMH, mode == EMode::ETD ? nullptr : &a,
                     mode == EMode::ETD ? &a : mode == EMode::Paired ? unit.pSecond : nullptr,
                     mode == EMode::ETD ? nullptr : &w.m_first, mode == EMode::HCD ? nullptr : &w.m_second, lighter);
    }
    CGraphInput in;
    in.pHcd = mode == EMode::ETD ? nullptr : &w.m_first;
    in.pEtd = mode == EMode::HCD ? nullptr : &w.m_second;
    in.lfPrecursorMH = a.m_lfPrecursorMH;
    w.m_candidates.Reset(c.m_nReportTemp);
    w.m_graph.ConstructGraph(in, w.m_candidates, trace, w.m_pTimes);
    if (lighter) {
        // The instrument may have picked the precursor's 13C peak: sequence
        // once more for a precursor one 13C lighter, into the same candidates.
        in.bShifted = true;
        w.m_graph.ConstructGraph(in, w.m_candidates, trace, w.m_pTimes);
    }
    const auto t0 = Clock::now();
    w.m_candidates.Drain(w.m_vCandidates);
    // The writers, the confidence and the features read the leading
    // peptides only; the answer trace looks for the known one in the whole list.
    w.m_report.SetRankedLead(trace ? 0 : RankedLead(c));
    w.m_report.Report_unknowResult(unit, w.m_vCandidates, w.m_bFeatures, w.m_result);
    if (w.m_pTimes) w.m_pTimes->lfScoring += SecondsSince(t0);
    if (trace) trace->AfterReport(w.m_result.vPeptides);
}

}  // namespace

CWorkerBuffers::CWorkerBuffers(const CCondition& c, bool withFeatures)
    : m_pre(&c), m_graph(&c), m_report(&c), m_bFeatures(withFeatures) {
    if (c.m_bTrace && !c.m_mapAnswers.empty()) m_pTrace = std::make_unique<CAnswerTrace>(&c);
}

const CUnitResult& SequenceUnit(const CCondition& c, const CWorkUnit& unit, CWorkerBuffers& w) {
    CUnitResult& r = w.m_result;
    r.pUnit = &unit;
    r.bGraphed = false;
    r.vPeptides.clear();
    r.vFeatures.clear();
    r.nFeatureRows = 0;
    r.nTraceStage = -1;
    r.strTraceDetail.clear();
    const CSpectrum& a = *unit.pFirst;
    const TRUESQ* answer = TracedAnswer(c, unit, w);
    if (a.m_nCharge <= 0 || !std::isfinite(a.m_lfPrecursorMH) || !(a.m_lfPrecursorMH > 0.0)) {
        r.eStatus = EUnitStatus::BadPrecursor;
        if (answer) w.m_pTrace->Outside(answer->strSequence, a.m_lfPrecursorMH, "impossible charge or precursor");
    } else {
        const auto t0 = Clock::now();
        const bool peaks = CleanSpectra(unit, w);
        if (w.m_pTimes) w.m_pTimes->lfPreprocess += SecondsSince(t0);
        const double mh = a.m_lfPrecursorMH;
        if (!(c.m_lfMassLowerBound <= mh && mh <= c.m_lfMassUpperBound)) {
            r.eStatus = EUnitStatus::OutsideWindow;
            if (answer) w.m_pTrace->Outside(answer->strSequence, mh, "outside the precursor window");
        } else {
            Sequence(c, unit, w, answer);
            r.bGraphed = true;
            r.eStatus = !r.vPeptides.empty() ? EUnitStatus::Sequenced
                        : peaks              ? EUnitStatus::NoCandidate
                                             : EUnitStatus::NoPeaks;
        }
    }
    if (answer) {
        r.nTraceStage = static_cast<int>(w.m_pTrace->Stage());
        r.strTraceDetail = w.m_pTrace->Detail();
    }
    return r;
}
