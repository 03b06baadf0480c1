#pragma once
// The spectrum graph of one spectrum (or one HCD + ETD pair) and the road
// through it: node list, residue-labelled edges, the k heaviest paths and the
// candidate texts they spell. A worker owns one CNCGraph and reuses it (and
// its buffers and path-search tables) from one spectrum to the next; every
// ConstructGraph call starts from a clean state. The graph scores nothing:
// its candidates go to the report.

#include <cstdint>
#include <memory>
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

// Most residues of a gap composition whose orders the graph ranks (a
// longer one is written as a composition, every order open).
inline constexpr int kMaxGapOrderLength = 4;

// A group of a candidate text, "[" ... "]": residues whose order the
// spectrum leaves open. Either listed orders of equal length separated by
// '/' ("[AG/GA]", the two orders of a two-residue edge; "[DEK/EDK]", the
// orders kept of a gap edge's residues) or one composition without '/'
// ("[DEK]": every distinct order of its residues).
struct CTextGroup {
    size_t nEnd = 0;     // one past ']'; beyond the text when the group is malformed
    size_t nLength = 0;  // residues the group spells
    size_t nOrders = 0;  // listed orders; 0 for a composition
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
// PriorityQueueResultNode_CMP over every graph built for it. The heap holds
// small keys (the two ordering values and the slot of the text), so a
// candidate that is pushed and at once cut again costs no text copy; the
// heap steps are the standard ones on the same keys, so which of equal
// candidates survive is what a priority queue of whole candidates keeps.
class CCandidateList {
public:
    void Reset(long long capacity);
    void Push(CCandidate&& c);
    // What a deferred candidate's text is written from: the path it came
    // from and the label chosen on each of its edges.
    struct CTextRecipe {
        const std::vector<unsigned int>* pPath = nullptr;
        std::vector<unsigned int> vLabels;
        bool bPending = false;
    };
    // The same as Push, with the text left unwritten: the recipe returned
    // (null when the candidate was cut at once) is to be filled by the
    // caller, and WritePending writes the texts of those still in the list.
    // Most candidates pushed are cut again by stronger ones later.
    CTextRecipe* PushDeferred(int doubleSteps, double pathWeight, bool shifted);
    // Writes, by write(const CTextRecipe&, std::string&), the text of every
    // deferred candidate still in the list; the recipes' paths must still
    // be the ones pushed. Drain needs none pending.
    template <class F>
    void WritePending(F&& write);
    // False when a candidate of these keys would be cut at once: the list is
    // full and its weakest is stronger. Skipping such a push keeps the same
    // candidates but may leave equal ones in another heap order, so only
    // runs with gap edges (which differ from the plain graph anyway) skip.
    bool Takes(int doubleSteps, double pathWeight) const {
        if (static_cast<long long>(m_vHeap.size()) < m_nCapacity || m_vHeap.empty()) return true;
        return !_Stronger(m_vHeap.front(), {doubleSteps, pathWeight, 0});
    }
    bool Empty() const { return m_vHeap.empty(); }
    size_t Size() const { return m_vHeap.size(); }
    // The candidates into out (its entries' storage reused), weakest first,
    // leaving the list empty.
    void Drain(std::vector<CCandidate>& out);

private:
    struct CKey {
        int nDoubleSteps = 0;
        double lfPathWeight = 0.0;
        unsigned int nSlot = 0;  // its candidate in m_vSlots
    };
    // The priority queue's order on the keys: true when a is stronger.
    static bool _Stronger(const CKey& a, const CKey& b) {
        if (a.nDoubleSteps != b.nDoubleSteps) return a.nDoubleSteps < b.nDoubleSteps;
        return a.lfPathWeight > b.lfPathWeight;
    }
    unsigned int _Slot();
    // Pushes the key of the candidate in slot; false when it was cut again at once.
    bool _PushKey(int doubleSteps, double pathWeight, unsigned int slot);

    std::vector<CKey> m_vHeap;
    std::vector<CCandidate> m_vSlots;  // texts; free slots keep their capacity
    std::vector<unsigned int> m_vFree;
    std::vector<CTextRecipe> m_vRecipes;  // per slot; pending only for a deferred text
    long long m_nCapacity = 0;
};

template <class F>
void CCandidateList::WritePending(F&& write) {
    for (const CKey& k : m_vHeap) {
        CTextRecipe& r = m_vRecipes[k.nSlot];
        if (!r.bPending) continue;
        r.bPending = false;
        std::string& text = m_vSlots[k.nSlot].strText;
        text.clear();
        write(static_cast<const CTextRecipe&>(r), text);
    }
}

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
    // One past the end of the group "[...]" that starts at text[pos];
    // text.size() + 1 for a group without its closing bracket.
    static size_t GroupEnd(const std::string& text, size_t pos);
    // The group that starts at text[pos] (see CTextGroup).
    static CTextGroup ParseGroup(const std::string& text, size_t pos);
    // True for a gap edge's label: a group without '/' ("[DEK]", "s[AG]").
    static bool IsComposition(const std::string& label);
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
    // Rows and paths of earlier, larger graphs, kept for their storage.
    std::vector<std::vector<unsigned int>> m_vSpareSuccessors, m_vSparePaths;
    std::vector<std::vector<int>> m_vSpareWeights;
    std::vector<std::vector<CGraphEdge>> m_vSpareEdges;
    double m_lfResidueMass = 0.0;   // the end node's mass: MH+ - water - proton (- 13C when shifted)
    double m_lfTolerance = 0.0;     // graph tolerance, Da, at most 0.5
    bool m_bShiftedGraph = false;   // built for the precursor one 13C lighter

private:
    // Scratch reused between spectra.
    std::vector<CPeak> m_vHCDPeaks, m_vETDPeaks, m_vPool;
    std::vector<double> m_vRankScratch;

    // Candidate expansion. Per edge of the path (m_vStepStart[u] .. [u+1]):
    // its labels and the residue masses each adds (m_vStepMasses, filled
    // once per label of the graph: the paths share most edges). Every
    // level of the breadth-first expansion is kept (m_vExpand), an entry
    // pointing at the entry it extends, so a text is written only for a
    // candidate that stays.
    struct CStepLabel {
        unsigned int nLabel = 0;      // in m_vLabels
        unsigned int nFirstMass = 0;  // in m_vStepMasses
        unsigned int nMassCount = 0;  // residues it spells
        bool bKnown = true;           // every code has a residue mass
        bool bComposition = false;    // a gap edge's composition (IsComposition)
    };
    struct CExpansion {
        unsigned int nParent = 0;     // entry of the level before
        unsigned int nStep = 0;       // its label, in m_vStepLabels
        double lfDrift = 0.0;         // summed label deviations
        double lfMass = 0.0;          // residue mass spelled, summed left to right
        int nResidues = 0;
        bool bKnown = true;
    };
    std::vector<CStepLabel> m_vStepLabels;
    std::vector<CStepLabel> m_vLabelSteps;  // per label of m_vLabels once read; nFirstMass ~0u before
    std::vector<double> m_vStepMasses;
    std::vector<size_t> m_vStepStart;
    std::vector<CExpansion> m_vExpand;
    // Gap orders. Per gap label (by its index in m_vLabels, filled on first
    // use for the graph in hand) the distinct orders of its composition with
    // the score of their inside (fragment evidence and the pairs within);
    // a text adds the pairs with its neighbours.
    struct COrder {
        double lfScore = 0.0;
        unsigned char nLength = 0;
        char szOrder[kMaxGapOrderLength] = {};
    };
    std::vector<std::pair<unsigned int, unsigned int>> m_vOrderIndex;  // label -> [first, first + count) in m_vOrderPool
    std::vector<COrder> m_vOrderPool, m_vOrders;
    // Writes label u of a text's labels, a composition starting at prefix
    // mass `prefix`, as its most likely orders (GapOrders.cpp).
    void _WriteGapOrders(const std::vector<unsigned int>& labels, size_t u, double prefix, std::string& text);
    void _ScoreGapOrders(unsigned int label, double prefix);
    bool _PrefixSeen(double prefix) const;
    void _PathLabels(const std::vector<unsigned int>& path);
    // Paths of one graph share the labels' residue masses; a change of the
    // labels must forget them.
    void _ForgetLabelSteps();
    void _GenerateForPath(const std::vector<unsigned int>& path, CCandidateList& candidates);
    // Appends the text of a deferred candidate: its labels along its path.
    void _WriteText(const CCandidateList::CTextRecipe& recipe, std::string& text);
    // The texts of the deferred candidates still in the list.
    void _WritePending(CCandidateList& candidates);

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
    // Weight of the edge a -> b whose labels start at nFirstLabel (the
    // labels of the edge are the last ones in m_vLabels).
    double _StepWeight(const CNode& a, const CNode& b, unsigned int nFirstLabel) const;

    // Gap edges (gap_edges): reachability bits (n words per node, row-major)
    // and one row's gap edges before they are merged into it.
    struct CGapStep {
        unsigned int nTarget = 0;
        int nWeight = 0;
        CGraphEdge edge;
    };
    std::vector<std::uint64_t> m_vReach;
    std::vector<CGapStep> m_vGapRow;
    void _AddGapEdges();
    // True when the labels added are all different (sorting them again
    // changes nothing).
    bool _GapLabels(std::size_t i, std::size_t j, double within);
    struct CGapPick {
        uint32_t nRank, nEntry;
    };
    std::vector<CGapPick> m_vGapPicks;
    void _ExtendCell(std::size_t i, std::size_t x);
    void _MergeGapRow(std::size_t i);
};
