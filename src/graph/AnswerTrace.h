#pragma once
// Where a known peptide was lost: for a spectrum whose answer is known, the
// first step of the pipeline after which the answer could no longer come out
// first. A worker owns one trace and hands it to its graph for the spectra
// with an answer; the graph calls it after building each graph and after the
// report, so nothing of this runs when the trace is off.
//
// The answer file writes plain letters. The peptide is turned into residue
// codes with the run's variable modifications that make it fit the
// precursor (fewest modifications first), so its prefix masses are the
// masses the graph's nodes should have.

#include <string>
#include <vector>

#include "graph/CandidateGen.h"
#include "input/Spectrum.h"
#include "records/Result.h"

class CCondition;

// The stages, in pipeline order; a spectrum counts in the first one that lost it.
enum class ETraceStage : unsigned char {
    OutsideWindow,    // precursor outside mass_lower_bound..mass_upper_bound (or impossible)
    MassMismatch,     // the answer does not fit the precursor with the run's residues and modifications
    NodeNoPeak,       // two prefix nodes in a row without any fragment peak
    NodeCleaned,      // ... their peaks were removed by the spectrum cleaning
    NodeMerged,       // ... peaks there, but no node of that mass after grouping
    NodeLimit,        // ... nodes cut by max_node
    GapBridged,       // the nodes leave a run of missing prefixes that only a gap edge spans
                      // (gap_edges): counted here whatever became of the peptide afterwards
    EdgeMissing,      // nodes present, but no edge with the answer's residues between them
    PathNotInK,       // a path spelling the answer exists, but not among the report_path heaviest
    CandidateCut,     // such a path was searched, but its peptide did not reach the scored list
    RankedBelow,      // scored, below rank 1
    Rank1,            // first
    Count
};
const char* TraceStageName(ETraceStage s);
constexpr int kTraceStages = static_cast<int>(ETraceStage::Count);

class CAnswerTrace {
public:
    explicit CAnswerTrace(const CCondition* pCondition) : m_pCondition(pCondition) {}

    // A new spectrum with known peptide `answer` (plain letters). The raw and
    // cleaned spectra of each side (null when the mode has no such side);
    // lighterRead: it is also sequenced for the precursor one 13C lighter
    // (isotope_error, and with isotope_pairs its pairs' test).
    void Begin(const std::string& answer, double precursorMH, const CSpectrum* rawHcd, const CSpectrum* rawEtd,
               const CSpectrum* cleanHcd, const CSpectrum* cleanEtd, bool lighterRead);
    // The spectrum is not sequenced: its precursor lies outside the window.
    void Outside(const std::string& answer, double precursorMH, const char* why);

    // Hooks: the nodes before the cap, each graph after its path search,
    // the ranked list.
    void NodesBeforeCap(const std::vector<CNode>& nodes) { m_vUncapped = nodes; }
    void AfterPaths(const CNCGraph& g, bool shifted);
    void AfterReport(const std::vector<CResult>& ranked);

    ETraceStage Stage() const { return m_eStage; }
    const std::string& Detail() const { return m_strDetail; }
    const std::string& Codes() const { return m_strCodes; }

private:
    // Answer -> residue codes fitting the precursor; false (stage set) when none.
    bool _Resolve(const std::string& answer, double precursorMH);
    // A fragment peak of the given prefix mass in the spectrum (raw: singly or doubly charged).
    bool _PeakFor(const CSpectrum* spec, bool etd, double prefix, bool raw) const;
    // A chain from the start to the end over the prefixes marked present,
    // with steps of one or two residues, and with gaps the longer steps
    // the run's gap edges take.
    bool _Chain(const std::vector<char>& present, bool gaps) const;
    // The longest step (residues) the graph takes; whether the answer's
    // residues from .. to fit one step.
    size_t _LongestStep() const;
    bool _StepAllowed(size_t from, size_t to) const;
    bool _LabelSpells(const CNCGraph& g, unsigned int a, unsigned int b, size_t k, size_t gap, double* dev) const;
    // The stages of a built graph: nodes (true when one lost the answer;
    // *viaGap when the nodes pass only with a gap edge), then edges and paths.
    bool _NodeStage(const CNCGraph& g, ETraceStage& stage, std::string& detail, bool* viaGap) const;
    void _GraphStage(const CNCGraph& g, ETraceStage& stage, std::string& detail);
    std::string _EdgeDetail(const CNCGraph& g, const std::vector<std::vector<unsigned int>>& at,
                            const std::vector<std::vector<long long>>& best, size_t furthest) const;
    void _PathStage(const CNCGraph& g, long long answerWeight, ETraceStage& stage, std::string& detail);
    void _Set(ETraceStage s, const std::string& detail);

    const CCondition* m_pCondition;
    std::string m_strCodes;          // the answer as residue codes
    std::vector<double> m_vPrefix;   // prefix residue masses 0 .. L (P[L] = residue mass)
    double m_lfPrecursorMH = 0.0;
    bool m_bFitsShifted = false;     // fits the precursor lowered by one 13C only
    bool m_bLighterRead = false;     // this spectrum is also read for the lighter precursor
    const CSpectrum *m_pRawHcd = nullptr, *m_pRawEtd = nullptr, *m_pCleanHcd = nullptr, *m_pCleanEtd = nullptr;
    std::vector<CNode> m_vUncapped;
    ETraceStage m_eStage = ETraceStage::OutsideWindow;
    std::string m_strDetail;
    bool m_bDone = false;            // stage final (lost before the graph)
    bool m_bPathFound = false;       // a searched path spells the answer
    bool m_bViaGap = false;          // the answer's nodes pass only with a gap edge
};
