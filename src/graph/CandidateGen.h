#pragma once
// The spectrum graph of one spectrum (or one HCD + ETD pair) and the road
// through it: node list, residue-labelled edges, the k heaviest paths and the
// candidate texts they spell. A worker owns one CNCGraph and reuses it (and
// its buffers and path-search tables) from one spectrum to the next; every
// ConstructGraph call starts from a clean state. The graph scores nothing:
// its candidates go to the report.

#include <memory>
#include <queue>
#include <set>
#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "graph/KlongestPathDP.h"
#include "input/Spectrum.h"
#include "records/Candidate.h"

class CAnswerTrace;

// One node: a candidate prefix residue mass.
struct CNode {
    double lfMass = 0.0;       // weighted mean of its node peaks' masses, Da
    int nPeakCount = 0;
    double lfNWeight = 0.0;    // summed weight of N-terminal-series node peaks (b, c, c-1)
    double lfCWeight = 0.0;    // summed weight of C-terminal-series node peaks (y, z, z+1)
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

// What one graph is built from: the cleaned spectra of the unit (an HCD
// side, an ETD side or both) and its precursor.
struct CGraphInput {
    const CSpectrum* pHcd = nullptr;  // cleaned; null when the unit has no HCD side
    const CSpectrum* pEtd = nullptr;  // cleaned; null when the unit has no ETD side
    double lfPrecursorMH = 0.0;       // [M+H]+ of the unit as measured, Da
    // Sequence for the precursor one 13C lighter (the instrument may have
    // picked the 13C peak): node and end masses move, the tolerance stays.
    bool bShifted = false;
};

// The candidates of one unit: the report_temp best by
// PriorityQueueResultNode_CMP over every graph built for it.
class CCandidateList {
public:
    void Reset(long long capacity);
    void Push(CCandidate&& c);
    bool Empty() const { return m_q.empty(); }
    size_t Size() const { return m_q.size(); }
    // Moves the candidates into out (cleared first), weakest first, and
    // leaves the list empty.
    void Drain(std::vector<CCandidate>& out);

private:
    std::priority_queue<CCandidate, std::vector<CCandidate>, PriorityQueueResultNode_CMP> m_q;
    long long m_nCapacity = 0;
};

// Optional per-stage wall-clock accounting (seconds), for the benchmark: the
// stages of sequencing (per worker), and the driver's reading (counting,
// reading, normalising) and writing.
struct CStageTimes {
    double lfPreprocess = 0, lfNodes = 0, lfEdges = 0, lfPaths = 0, lfCandidates = 0, lfScoring = 0;
    double lfReading = 0, lfWriting = 0;
    void Add(const CStageTimes& o) {
        lfPreprocess += o.lfPreprocess;
        lfNodes += o.lfNodes;
        lfEdges += o.lfEdges;
        lfPaths += o.lfPaths;
        lfCandidates += o.lfCandidates;
        lfScoring += o.lfScoring;
        lfReading += o.lfReading;
        lfWriting += o.lfWriting;
    }
};

class CNCGraph {
public:
    explicit CNCGraph(const CCondition* pCondition);
    CNCGraph(const CNCGraph&) = delete;
    CNCGraph& operator=(const CNCGraph&) = delete;

    // The whole graph stage for one input: nodes, edges, the k heaviest
    // paths and their candidates, added to `candidates`. trace (may be null)
    // follows a known peptide through the graph.
    void ConstructGraph(const CGraphInput& in, CCandidateList& candidates, CAnswerTrace* trace = nullptr,
                        CStageTimes* times = nullptr);

    // The steps of ConstructGraph, in order.
    void _Merge_HCDETD(const CGraphInput& in, CAnswerTrace* trace);  // nodes
    void _ConstructEdges();
    void _FindPaths();
    void GenerateCandidatePeptidevvPath(CCandidateList& candidates);

    // --- nodes (graph nodes and HCD/ETD pooling) ---
    // Node peaks of one spectrum whose precursor is mh (the spectrum's own,
    // lowered by one 13C for a shifted graph).
    static void _ConstructNodesHCD(const CSpectrum& spec, double mh, std::vector<CPeak>& out);
    static void _ConstructNodesETD(const CSpectrum& spec, double mh, std::vector<CPeak>& out);
    void _Merge(const std::vector<CPeak>& nodePeaks, const double& precursorMH);
    // Replaces the weight (lfLogIntensity) of node peaks made from spec by
    // ln(1 + n / rank of their peak's intensity), n = spec's peak count.
    void _RankWeights(const CSpectrum& spec, std::vector<CPeak>& nodePeaks);
    // Sets bSupported of every node (nodes in mass order).
    void _MarkSupport();

    // The edge (a, b), or null when the pair has none; *pos receives b's
    // position in m_vSuccessors[a].
    const CGraphEdge* FindEdge(unsigned int a, unsigned int b, unsigned int* pos = nullptr) const;

    // --- candidates ---
    void GeneratePeptideForOnePath(const std::vector<unsigned int>& path, CCandidateList& candidates);
    static int GetPeptideLength(const std::string& text);
    static void transferPep(const std::string& text, unsigned int pos, std::string built,
                            std::set<std::string>& out);

    // The graph: nodes in mass order (start node first, end node last), the
    // edges of each node as successor lists with parallel weights and
    // labels, and the paths found, heaviest first.
    std::unique_ptr<CKlongestPathDP> m_pDP;
    const CCondition* m_pCondition;
    std::vector<CNode> m_vNodes;
    std::vector<double> m_vNodeWeights;
    std::vector<std::vector<int>> m_vEdgeWeights;        // parallel to m_vSuccessors
    std::vector<std::vector<CGraphEdge>> m_vGraphEdges;  // parallel to m_vSuccessors
    std::vector<CEdgeLabel> m_vLabels;                   // label pool of all edges
    std::vector<std::vector<unsigned int>> m_vPaths;
    std::vector<std::vector<unsigned int>> m_vSuccessors;
    double m_lfResidueMass = 0.0;   // the end node's mass: MH+ - water - proton (- 13C when shifted)
    double m_lfTolerance = 0.0;     // graph tolerance, Da, at most 0.5
    bool m_bShiftedGraph = false;   // built for the precursor one 13C lighter

private:
    // Scratch reused between spectra.
    std::vector<CPeak> m_vHCDPeaks, m_vETDPeaks, m_vPool;
    std::vector<double> m_vRankScratch;

    // Candidate expansion: one level of the breadth-first label expansion
    // (text, summed label deviation); the live entries are the first
    // m_nFifoCur / m_nFifoNext, the rest keep their string capacity.
    std::vector<std::pair<std::string, double>> m_vFifoCur, m_vFifoNext;
    size_t m_nFifoCur = 0, m_nFifoNext = 0;

    // Edge construction scratch: one node pair's labels before and after
    // folding mirror pairs. pSecond is null for a plain label; otherwise the
    // pair is the bracket label "[" + pFirst + "/" + pSecond + "]". The
    // pointers refer to entries of the run's residue-gap table.
    struct CCellLabel {
        const CEdge* pFirst = nullptr;
        const CEdge* pSecond = nullptr;
        double lfDeviation = 0.0;
    };
    std::vector<CCellLabel> m_vCellScratch, m_vFoldScratch;
    void _LabelCell(size_t i, size_t j, double gap, unsigned int first, unsigned int last);
};
