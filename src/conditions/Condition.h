#pragma once
// The run's parameter record and every table derived from it: tolerances,
// ion types, residue masses and modified residues, the residue-gap edge
// table, the known answers and the learned models. One per run; read-only
// once it has been read (and its models loaded), shared by every worker. The
// run's changing state (output folder, spectra in hand, failures) belongs to
// the driver, not here.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "input/Spectrum.h"

// Loaded by the re-ranking stage (LoadModels), held here as a derived table.
class CRerankModel;
class COptionTool;

// One declared fragment ion type used by scoring:
// "name charge prefix-flag second-flag mass-offset".
struct CIonType {
    double lfValue = 0.0;   // mass offset in Da added to residues + protons
    std::string strName;    // only "starts with 'b'" is consulted
    int nNumber = 0;        // ion charge
    bool bFlag1 = false;    // true: N-terminal (prefix) ion
    std::string strLine;    // the whole line as read
};

// One residue usable in sequences. Codes: 'A'..'Z' plain, 'a'..'z' with an
// N-terminal modification, char 1..26 with a C-terminal modification.
struct AminoAcid {
    std::string strName;    // the code, one character
    double lfMass = 0.0;    // residue mass incl. modification, Da
    char cModSite = 0;      // 0 none, 1 C-terminal mod, 2 N-terminal mod
};

// One variable modification of one residue: sequenced as a residue of its
// own, coded by a character that no other residue or text syntax uses.
struct CVarMod {
    char cCode = 0;         // residue code in sequences
    char cResidue = 0;      // the capital letter it modifies
    double lfDelta = 0.0;   // mass delta, Da
    bool bNTerm = false;    // true: only on the peptide's first residue
};

// One residue gap of one or two residues.
struct CEdge {
    std::string strLabel;   // residue codes in N-to-C order
    double lfMass = 0.0;    // sum of the residue masses, Da
    char cModSite = 0;      // 0 anywhere, 1 last step only, 2 first step only
    int nResidues = 0;      // 1 or 2 (gap compositions: 3 or more)

    static bool MassLess(const CEdge& a, const CEdge& b) { return a.lfMass < b.lfMass; }
};

// One accepted line of the answer file.
struct TRUESQ {
    int nID = 0;
    double lfValue1 = 0.0, lfValue2 = 0.0, lfValue3 = 0.0, lfValue4 = 0.0;
    std::string strTitle, strText1, strSequence, strText2, strVerdict;
};

class CCondition {
public:
    CCondition();
    CCondition(const CCondition&) = delete;
    CCondition& operator=(const CCondition&) = delete;

    // Fills the record from the parameter file. False when folder mode cannot
    // open its folder. Throws std::runtime_error naming the file when it
    // cannot be read. Problems are reported on stderr with the file and line:
    // notes and warnings (the run goes on), errors (counted in
    // m_nParamErrors; the run must not start). The models the file names are
    // loaded afterwards by LoadModels (rerank/).
    bool Read(const std::string& paramFile);
    // The same for parameters composed in memory (vemra sequence); name
    // stands for the file in messages, and relative model paths are taken
    // from its folder.
    bool ReadText(const std::string& name, const std::string& text);

    // The built-in monoisotopic residue mass of a capital letter (Da); 0 for
    // letters that are no residue.
    static double BuiltInMass(char letter);

    // Residue list and code -> mass map from masses and modifications.
    void InitMods();
    // m_vVarMods from the two variable-modification keys.
    void _ParseVarMods();
    // Residue-gap table (sorted by mass) and its integer-mass index.
    void CreateEdgeList();
    void Create_Hash_Table();
    // Gap compositions (m_vGapEdges) and their index, from the gap keys.
    void CreateGapTable();
    // Positions [first, last) of the edges whose mass lies in [lower, upper].
    void QueryEdges(const double& lower, const double& upper, const std::vector<CEdge>& edges,
                    const std::vector<int>& index, unsigned int& first, unsigned int& last) const;
    // False when no entry of the table whose bins these are can lie in
    // [lower, upper]: the graph asks of hundreds of thousands of node
    // pairs, and most windows fall between the tabled masses.
    static constexpr double kEdgeBinsPerDa = 256.0;
    static bool MayHoldEdge(double lower, double upper, const std::vector<uint64_t>& bins) {
        if (bins.empty() || !(lower <= upper)) return true;  // unknown, or a NaN or empty window: asked in full
        if (upper < 0.0) return false;                       // every mass is 0 or above
        const size_t bits = bins.size() * 64;
        const double top = static_cast<double>(bits);
        const double lo = lower > 0.0 ? lower * kEdgeBinsPerDa : 0.0;
        if (!(lo < top)) return false;
        const double hi = upper * kEdgeBinsPerDa;
        // 0 <= lo <= hi < top here: signed conversions (one instruction each)
        // give the same bins as unsigned ones.
        const auto first = static_cast<size_t>(static_cast<int64_t>(lo));
        const size_t last = hi < top ? static_cast<size_t>(static_cast<int64_t>(hi)) : bits - 1;
        const uint64_t* b = bins.data();
        size_t w = first >> 6;
        const size_t lastWord = last >> 6;
        const uint64_t head = ~uint64_t{0} << (first & 63), tail = ~uint64_t{0} >> (63 - (last & 63));
        if (w == lastWord) return (b[w] & head & tail) != 0;
        if ((b[w] & head) != 0) return true;
        while (++w < lastWord)
            if (b[w] != 0) return true;
        return (b[lastWord] & tail) != 0;
    }

    // Tolerance half-widths in Da at mass m (absolute, or m * tol * 1e-6 in ppm).
    // (Inline: they run for every fragment match of every candidate.)
    double CalcPeptideMassDeviation(const double& m) const {
        return m_bPepTolPpm ? m * m_lfPepTol * 1e-6 : m_lfPepTol;
    }
    double CalcFragmentMassDeviation(const double& m) const {
        return m_bFragTolPpm ? m * m_lfFragTol * 1e-6 : m_lfFragTol;
    }
    // |mz_j - mz_i| <= (dev(mz_i) + dev(mz_j)) / 2
    bool CanMerge(const std::vector<CPeak>& peaks, unsigned int i, unsigned int j) const;

    // Loads the known answers from m_strAnsPath.
    void GetCorrectSQ();
    bool _Read(const COptionTool& tool);

    std::string m_strParamFile;      // the parameter file as named
    std::string m_strOutPath;        // "out_path", always ending in '/' (empty: "./")
    std::string m_strAnsPath;        // "ans_path"; empty: no answer file
    unsigned int m_nThreadNum = 0;   // "thread": 1 .. max(8, cores)
    int m_nBatchSize = 10000;        // "batch_size": spectra read and sequenced at a time
    int m_nParamErrors = 0;          // errors found in the parameter file
    std::vector<std::string> m_vSpecPaths;
    std::string m_strSpecType;       // "DTA", "MGF" or "MS2" (as listed in kReaderTypes)

    std::vector<AminoAcid> m_vAminoAcids;
    double m_lfAAMass[26];                 // residue mass by capital letter; 0: not a residue
    std::map<char, double> m_mapResidueMass;
    double m_lfResidueMassByCode[128];     // same as the map, flat, 0 where absent (hot paths)

    double m_lfFragTol = 0.0;
    bool m_bFragTolPpm = true;
    double m_lfPepTol = 0.0;
    bool m_bPepTolPpm = true;
    int m_nMaxNode = 0;
    // "max_peaks": most peaks a spectrum keeps (the strongest of each m/z
    // window); negative: no limit. Real spectra stay far below the default.
    int m_nMaxPeaks = 5000;
    // "max_spelled": most peptides spelled from one spectrum's candidate
    // texts (the strongest texts first); a text of many groups alone can
    // spell hundreds of thousands.
    int m_nMaxSpelled = 100000;
    // "table_rows": candidates per spectrum in the tables (mzTab, TSV); 0:
    // as many as report_pep (the native file always has report_pep).
    int m_nTableRows = 0;
    int m_nReportPath = 0;
    int m_nReportTemp = 0;
    int m_nReportPep = 0;
    double m_lfMassLowerBound = 0.0;
    double m_lfMassUpperBound = 0.0;
    std::vector<CIonType> m_vHCDIonTypes;
    std::vector<CIonType> m_vETDIonTypes;
    std::string m_strActivation;     // "activation_type": "HCD", "ETD" or "CID"
    std::string m_strPairing;        // "pairing": "precursor" or "order"
    std::string m_strOutputFormat;   // "output_format": native, mztab and/or tsv, comma-separated
    bool m_bNative = true, m_bMzTab = false, m_bTsv = false;  // the formats asked for
    int m_nPairScanWindow = 10;      // "pair_scan_window": largest scan distance of a pair; negative: none
    double m_lfPairRtWindow = 10.0;  // "pair_rt_window": largest retention-time distance, s; negative: none

    std::string m_strEnzymeName;
    std::string m_strEnzymeSites;
    std::string m_strEnzymeTerm;
    bool m_bEnzymeNTerm = false;

    std::vector<CEdge> m_vEdges;
    std::vector<int> m_vEdgeIndex;
    // One bit per 1/256 Da of mass, set where a table entry lies (built
    // with the index; empty: not known, every window may hold one).
    std::vector<uint64_t> m_vEdgeBins;
    // Per entry, the place of its label among the table's labels in byte
    // order (equal labels share it): the graph orders labels by these.
    std::vector<uint32_t> m_vEdgeLabelRank;
    std::map<std::string, TRUESQ> m_mapAnswers;
    bool m_bFolder = false;
    std::vector<std::string> m_vFiles;  // datasets, in order
    std::vector<double> m_vNTermMass;
    std::vector<double> m_vCTermMass;
    std::vector<std::string> m_vNTermSites;
    std::vector<std::string> m_vCTermSites;

    // Accuracy settings added to the design; their defaults give the
    // design's behaviour.
    std::string m_strNodeWeight;        // "node_weight": log_intensity (design) or rank
    bool m_bRankNodeWeights = false;    // node_weight=rank
    std::string m_strTieBreak;          // "tie_break": none (design) or evidence
    bool m_bEvidenceTies = false;       // tie_break=evidence
    double m_lfMissingSitePenalty = 0;  // "missing_fragment_penalty": score off per site without b/y ion
    bool m_bCompletionWithPepTol = false;  // "completion_with_pep_tol": residues add up to MH+ within pep_tol
    bool m_bScaleToFragTol = false;     // "scale_to_frag_tol": error weights and edge thresholds relative to frag_tol
    // Derived from scale_to_frag_tol: the scorer's ppm error is multiplied by
    // m_lfPpmScale (ppm tolerances) or replaced by error / tolerance x 20 (Da
    // tolerances); edge deviations are divided by m_lfEdgeScale. 1 and 1: design.
    double m_lfPpmScale = 1.0;
    double m_lfEdgeScale = 1.0;
    // "var_mods" / "var_nterm_mods": "RESIDUES:delta" items separated by
    // blanks or commas ("*" = every residue), e.g. "M:15.994915" and "*:42.010565
    // Q:-17.026549". Each (residue, delta) becomes a residue of its own.
    std::string m_strVarMods, m_strVarNTermMods;
    std::vector<CVarMod> m_vVarMods;
    signed char m_nVarModByCode[128];   // index into m_vVarMods, -1: none
    double m_lfVarModPenalty = 0;       // "var_mod_penalty": score off per modification
    bool m_bConfidence = false;         // "confidence": write peptide and residue confidences
    bool m_bIsotopeError = false;       // "isotope_error": also sequence for MH+ - 1.00335
    double m_lfIsotopeErrorPenalty = 0; // "isotope_error_penalty": score off for such peptides
    // "isotope_pairs": with isotope_error, the lighter precursor only for
    // spectra whose complementary ion pairs add up to it at least as often
    // as to the measured one.
    bool m_bIsotopePairs = false;
    // "rerank_model": a re-ranking model file (relative to the parameter
    // file's folder) or "builtin:hcd"; empty: the score ranks.
    std::string m_strRerankModel;
    std::string m_strRerankModelPath;   // the file to load (the folder prefixed), or the built-in name
    int m_nRerankModelLine = 0;         // its line in the parameter file
    std::shared_ptr<const CRerankModel> m_pRerankModel;  // loaded by LoadModels; null: none
    std::string m_strNodeSelect;        // "node_select": weight (design) or support
    bool m_bSupportedNodesFirst = false; // node_select=support: the node cap keeps supported nodes first
    bool m_bTrace = false;              // "trace": with answers, where each known peptide was lost
    // Gap edges: where no chain of one- and two-residue steps joins two
    // nodes, an edge whose label is a residue composition of m_nGapResidues
    // residues in an open order (0: none, the design), weighed by
    // m_lfGapWeight times an ordinary step's weight.
    int m_nGapResidues = 0;             // "gap_edges"
    double m_lfGapWeight = 0.5;         // "gap_weight"
    double m_lfGapMaxMass = 0.0;        // "gap_max_mass": heaviest gap composition, Da (0 or below: no limit)
    int m_nGapOrders = 3;               // "gap_orders": orders of a gap's residues spelled per candidate (below 1: one)
    // The compositions, by mass, one entry per residue multiset (strLabel:
    // its codes in byte order; nResidues their count), and their
    // integer-mass index (as m_vEdgeIndex). Empty without gap edges.
    std::vector<CEdge> m_vGapEdges;
    std::vector<int> m_vGapIndex;
    std::vector<uint64_t> m_vGapBins;
    // Per entry, the label a gap edge writes ("[codes]", a terminally
    // modified residue outside the brackets) and its place in byte order.
    std::vector<std::string> m_vGapLabelText;
    std::vector<uint32_t> m_vGapLabelRank;
    // The variable modification coded c, or null.
    const CVarMod* VarMod(char c) const {
        const unsigned char u = static_cast<unsigned char>(c);
        return u < 128 && m_nVarModByCode[u] >= 0 ? &m_vVarMods[static_cast<size_t>(m_nVarModByCode[u])] : nullptr;
    }

};
