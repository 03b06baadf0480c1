#pragma once
// The de novo sequencing of one spectrum (or one HCD + ETD pair): node list,
// residue-labelled edges, k heaviest paths, candidate texts, scored report.
// A worker owns one CNCGraph and reuses it (and its buffers, path-search
// tables and scorer) from one spectrum to the next; every ConstructGraph call
// starts from a clean state.

#include <memory>
#include <ostream>
#include <queue>
#include <set>
#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "graph/KlongestPathDP.h"
#include "input/Spectrum.h"
#include "scoring/BM25Score.h"

class CAnswerTrace;

// One node: a candidate prefix residue mass.
struct CNode {
    double lfMass = 0.0;       // weighted mean of its node peaks' masses, Da
    int nPeakCount = 0;
    double lfNWeight = 0.0;    // summed log intensity of N-terminal-series peaks (codes 1, 3, 6)
    double lfCWeight = 0.0;    // summed log intensity of C-terminal-series peaks (codes 2, 4, 5)
    char cSupport = 0;         // bit 1: C-terminal series seen, bit 2: N-terminal series seen
    double lfTolerance = 0.0;  // Da
    bool bSupported = false;   // node_select=support: both series, or a node one residue away

    static bool WeightGreater(const CNode& a, const CNode& b) {
        return a.lfNWeight + a.lfCWeight > b.lfNWeight + b.lfCWeight;
    }
    static bool Mz_Less(const CNode& a, const CNode& b) { return a.lfMass < b.lfMass; }
};

// One residue label of an edge and its mass deviation (observed gap minus
// the label's mass). Labels: "G", "GA", or the bracket form "[AG/GA]".
struct CEdgeLabel {
    std::string strLabel;
    double lfDeviation = 0.0;
};

// The labels of one edge (i, j), i < j: m_vLabels[nFirstLabel ..
// nFirstLabel + nLabelCount), in ascending byte order of the label texts.
// Only node pairs that carry labels are stored (sparse), one entry per
// successor, parallel to m_vSuccessors[i].
struct CGraphEdge {
    unsigned int nFirstLabel = 0;
    unsigned int nLabelCount = 0;
};

// A candidate (text and path weight) or, in the report, a scored peptide.
struct CResult {
    std::string strReserved;
    double lfReserved = 0.0;
    std::string strPeptide;
    double lfScore = 0.0;          // path weight for candidates; matching score in the report
    double lfNTermShift = 0.0;     // N-terminal modification mass, 0 if none
    double lfCTermShift = 0.0;     // C-terminal modification mass, 0 if none
    int nDoubleSteps = 0;          // residues in the text minus edges on the path
    bool bShifted = false;         // candidate of the precursor lowered by one 13C (isotope_error)
    std::vector<unsigned int> vReserved;
    const std::vector<CIonType>* pIonTypes = nullptr;  // ion types to score with
    // Report evidence (filled only when a setting asks for it): cleavage
    // sites without any matched prefix or suffix ion, those of them right
    // before a proline, and the heaviest path weight that spelled the peptide.
    int nMissingSites = 0;
    int nMissingBeforeP = 0;
    double lfPathWeight = 0.0;
    // Confidence (only with confidence=1), 0..1: the score over what the
    // spectrum could give at best, times m / (1 + m) for the score margin m
    // over the runner-up (0 below rank 1); per residue the share of its two sides (the
    // termini count as seen) with a matched fragment ion: 0, 1 or 2 halves.
    double lfConfidence = 0.0;
    std::vector<unsigned char> vResidueSides;

    static bool WEIGHTGREATERonly(const CResult& a, const CResult& b) { return a.lfScore > b.lfScore; }
    // Score, then evidence, then the sequence: a total order, so equal
    // scores always come out in the same order.
    static bool EvidenceGreater(const CResult& a, const CResult& b) {
        if (a.lfScore != b.lfScore) return a.lfScore > b.lfScore;
        if (a.nMissingSites != b.nMissingSites) return a.nMissingSites < b.nMissingSites;
        if (a.nMissingBeforeP != b.nMissingBeforeP) return a.nMissingBeforeP < b.nMissingBeforeP;
        if (a.lfPathWeight != b.lfPathWeight) return a.lfPathWeight > b.lfPathWeight;
        if (a.strPeptide != b.strPeptide) return a.strPeptide < b.strPeptide;
        return a.lfNTermShift < b.lfNTermShift;
    }
};

// Candidate queue order: the top is the weakest candidate (most two-residue
// steps, then lowest path weight).
struct PriorityQueueResultNode_CMP {
    bool operator()(const CResult& a, const CResult& b) const {
        if (a.nDoubleSteps != b.nDoubleSteps) return a.nDoubleSteps < b.nDoubleSteps;
        return a.lfScore > b.lfScore;
    }
};

// Optional per-stage wall-clock accounting (seconds), for the benchmark.
struct CStageTimes {
    double lfNodes = 0, lfEdges = 0, lfPaths = 0, lfCandidates = 0, lfScoring = 0;
};

class CFeatures;

class CNCGraph {
public:
    CNCGraph(const CCondition* pCondition, int threadId);
    ~CNCGraph();
    CNCGraph(const CNCGraph&) = delete;
    CNCGraph& operator=(const CNCGraph&) = delete;

    // The whole pipeline for one spectrum; appends its record to out.
    // first supplies MH+ and the title; which spectrum gives the node peaks
    // depends on the activation mode (1: first, 2: second, 3: both).
    void ConstructGraph(const CSpectrum& first, const CSpectrum& second, std::ostream& out);

    // --- nodes (graph nodes and HCD/ETD pooling) ---
    void _ConstructNodesHCD(const CSpectrum& spec, std::vector<CPeak>& out);
    void _ConstructNodesETD(const CSpectrum& spec, std::vector<CPeak>& out);
    void _Merge(const std::vector<CPeak>& nodePeaks, const double& precursorMH);
    void _Merge_HCDETD(const CSpectrum& first, const CSpectrum& second);
    // Replaces the weight (lfLogIntensity) of node peaks made from spec by
    // ln(1 + n / rank of their peak's intensity), n = spec's peak count.
    void _RankWeights(const CSpectrum& spec, std::vector<CPeak>& nodePeaks);
    // Sets bSupported of every node (nodes in mass order).
    void _MarkSupport();

    // --- edges ---
    void _ConstructEdges(const CSpectrum& spec);
    static std::string SwapString(const std::string& s);
    // The edge (a, b), or null when the pair has none; *pos receives b's
    // position in m_vSuccessors[a].
    const CGraphEdge* FindEdge(unsigned int a, unsigned int b, unsigned int* pos = nullptr) const;

    // --- candidates ---
    void GenerateCandidatePeptidevvPath();
    void GeneratePeptideForOnePath(const std::vector<unsigned int>& path, const int& rank);
    static int GetPeptideLength(const std::string& text);
    static void transferPep(const std::string& text, unsigned int pos, std::string built,
                            std::set<std::string>& out);

    // --- report ---
    void Report_unknowResult(std::ostream& out, const CSpectrum& first, const CSpectrum& second,
                             const double& precursorMH, const int& charge);
    // Right after r was scored: its missing cleavage sites (pooled with
    // m_vCoveredOther in paired mode), the path weight, and the penalty for
    // each missing site subtracted from its score.
    void _WeighEvidence(CResult& r, const std::string& code, double pathWeight);

    std::unique_ptr<CKlongestPathDP> m_pDP;
    std::unique_ptr<CBM25Score> m_pScorer;
    const CCondition* m_pCondition;
    int m_nThreadId;
    std::vector<CNode> m_vNodes;
    std::vector<double> m_vNodeWeights;
    std::vector<std::vector<int>> m_vEdgeWeights;        // parallel to m_vSuccessors
    std::vector<std::vector<CGraphEdge>> m_vGraphEdges;  // parallel to m_vSuccessors
    std::vector<CEdgeLabel> m_vLabels;                   // label pool of all edges
    std::priority_queue<CResult, std::vector<CResult>, PriorityQueueResultNode_CMP> m_qCandidates;
    std::vector<std::vector<unsigned int>> m_vPaths;
    std::vector<std::vector<unsigned int>> m_vSuccessors;
    std::vector<CResult> m_vResults;
    double m_lfResidueMass = 0.0;   // MH+ - water - proton; the end node's mass
    double m_lfTolerance = 0.0;     // graph tolerance, Da, at most 0.5

    CStageTimes* m_pTimes = nullptr;  // null: no timing
    // Re-ranking features of the report's candidates (made when first needed).
    std::shared_ptr<CFeatures> m_pFeatures;
    // Set for a spectrum whose known peptide is traced (null: no trace).
    CAnswerTrace* m_pTrace = nullptr;

    // Set by a caller that hands the spectra over itself: the spectra as read
    // and normalised that candidates are scored against (null: not used by
    // the mode) and the record's number (S<number>). When m_nRecordNumber is
    // negative, both are looked up in the condition's spectrum lists at this
    // worker's progress position instead.
    const CSpectrum* m_pScoreFirst = nullptr;
    const CSpectrum* m_pScoreSecond = nullptr;
    long long m_nRecordNumber = -1;
    // Activation mode of the next spectrum (1 HCD, 2 ETD, 3 HCD + ETD pair),
    // for datasets that mix lone spectra with pairs; 0: the condition's mode.
    int m_nMode = 0;
    int _Mode() const { return m_nMode != 0 ? m_nMode : m_pCondition->m_nActivationMode; }

private:
    // Scratch reused between spectra.
    std::vector<CPeak> m_vHCDPeaks, m_vETDPeaks, m_vPool;
    std::vector<double> m_vRankScratch;

    // Candidate expansion: one level of the breadth-first label expansion
    // (text, summed label deviation); the live entries are the first
    // m_nFifoCur / m_nFifoNext, the rest keep their string capacity.
    std::vector<std::pair<std::string, double>> m_vFifoCur, m_vFifoNext;
    size_t m_nFifoCur = 0, m_nFifoNext = 0;

    // Report: drained candidates, copies of the spectra as read (rebuilt
    // hash tables) and the record text, reused from spectrum to spectrum.
    std::vector<CResult> m_vDrained;
    std::vector<unsigned int> m_vOrder;  // ranking permutation of m_vResults
    std::vector<CResult> m_vSorted;
    CSpectrum m_ScoreSpecA, m_ScoreSpecB;
    std::string m_strRecord;
    std::vector<unsigned char> m_vCovered, m_vCoveredOther;  // per cleavage site
    // Peptides spelled by the candidates with their path weights; the first
    // m_nSpelled entries are live (the rest keep their capacity).
    struct SSpelled {
        std::string strPeptide;
        double lfPathWeight = 0.0;
        bool bShifted = false;  // from the graph of the precursor lowered by one 13C
    };
    std::vector<SSpelled> m_vSpelled;
    size_t m_nSpelled = 0;
    std::vector<unsigned int> m_vSpellOrder;
    void _Spell(const std::string& text, double pathWeight, bool shifted);
    // Isotope error: copies of the spectra with the precursor one 13C lower.
    CSpectrum m_ShiftFirst, m_ShiftSecond;
    bool m_bShiftedGraph = false;
    void _SequenceGraph(const CSpectrum& first, const CSpectrum& second, bool shifted);

    // Edge construction scratch: one node pair's labels before and after
    // folding mirror pairs. pSecond is null for a plain label; otherwise the
    // pair is the bracket label "[" + pFirst + "/" + pSecond + "]". The
    // pointers refer to entries of the run's residue-gap table.
    struct SCellLabel {
        const CEdge* pFirst = nullptr;
        const CEdge* pSecond = nullptr;
        double lfDeviation = 0.0;
    };
    std::vector<SCellLabel> m_vCellScratch, m_vFoldScratch;
};
