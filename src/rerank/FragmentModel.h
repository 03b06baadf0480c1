#pragma once
// Predicted fragment-ion intensities of a peptide, for telling apart
// candidates that match as many peaks as the right peptide but with an
// intensity pattern the peptide would not produce.
//
// The model is log-linear: every ion gets a score that is the sum of a
// handful of table entries (the residues on both sides of its cleavage and
// one further out, the pair at the cleavage, the fragment's length and the
// complement's, the basic residues in each, the precursor charge, an
// N-terminal label, the peptide's C-terminal residue, the ion's m/z and its
// ratio to the precursor's m/z), and the ions of a peptide share its
// fragment intensity by the softmax of their scores. One model serves one
// fragmentation; models/fragment_hcd.model (HCD and beam-type CID),
// fragment_cid.model (ion-trap and TOF/TOF CID) and fragment_etd.model
// (c and z+1 ions; fitted on 29 spectra of one run) are fitted by
// bench/fit_fragment_models.sh.
//
// Ion layout, shared by Predict, FragmentMz and Features: for a peptide of
// L residues, site s = 1 .. L-1 is the cleavage between residues s-1 and s
// (0-based). Slot (s-1) * kKinds + k holds ion kind k of that site:
//   k = 0 prefix ion 1+, 1 prefix ion 2+, 2 suffix ion 1+, 3 suffix ion 2+
// (b and y for HCD and CID, c and z+1 for ETD). The prefix ion of site s
// holds residues 0 .. s-1, the suffix ion residues s .. L-1.
//
// What Predict gives: the share of the peptide's fragment intensity that
// each ion is expected to carry, on a square-root scale: observed values to
// compare it with are sqrt(intensity of the most intense peak within the
// fragment tolerance of the ion), 0 for an ion without a peak. The shares
// of a peptide add up to 1. Square roots because on a linear scale a
// handful of dominant suffix ions would decide every comparison. Detection
// turns a share into the probability that the ion's peak is there at all,
// for likelihood-style uses.
//
// Peptide input (a caller with its own codes for modified residues spells
// them as letter + delta): residue letters A-Z (I is read as L), per-residue
// mass deltas in Da relative to the unmodified residue (nullptr: none; a C is a
// carbamidomethyl cysteine whatever its delta, an M or K with a delta above
// 0.1 Da is oxidised methionine / labelled lysine; other deltas change the
// masses only), the N-terminal delta (a label such as TMT when above
// 0.1 Da), and the precursor charge (1 and above; 2+ fragments get share 0
// for a 1+ precursor).
//
// Threads: a loaded model is read-only; Predict may run on any number of
// threads at once. Nothing allocates after Parse; results are the same bit
// for bit on every machine.
//
// Text file ('#' lines and blank lines are comments):
//   vemra fragment model 1
//   fragmentation HCD                 HCD, CID or ETD
//   alphabet ACDEFGHKLMNPQRSTVWYmkx-  the residue codes the tables index
//   table bias 4 4                    name, rows, columns; then one line of
//   0.1 -0.2 ...                      numbers per row
//   ... every table of TableName order ...
//   detection 4 2                     per ion kind: intercept, slope
// A missing file, another header or version, another alphabet, a table with
// another name or size, a row of the wrong length, a value that is not a
// finite number or lines left over are refused with the line number.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class EFragmentKind : unsigned char { HCD, CID, ETD };

const char* FragmentKindName(EFragmentKind e);
// False when text is none of "HCD", "CID", "ETD".
bool ParseFragmentKind(std::string_view text, EFragmentKind& out);

class CFragmentModel {
public:
    static constexpr int kKinds = 4;
    static constexpr int kMaxLength = 128;
    // Table entries summed per ion; Features writes this many per ion.
    static constexpr int kFeaturesPerIon = 13;
    static constexpr int kTables = 13;
    static const char* const kHeader;
    // Residue codes: the 19 residues (I = L), oxidised M, labelled K, any
    // other letter, and "beyond the terminus".
    static const char* const kAlphabet;

    // Table k: its name in the file, rows, columns and first entry in the
    // flat weight vector.
    static const char* TableName(int k);
    static int TableRows(int k);
    static int TableColumns(int k);
    static int TableOffset(int k);
    static int WeightCount();

    // All weights zero: every possible ion of a peptide gets the same share
    // (the flat prediction the model is measured against).
    explicit CFragmentModel(EFragmentKind e = EFragmentKind::HCD);

    // Reads a model file; false with the reason (and line) in error.
    bool Load(const std::string& path, std::string& error);
    // firstLine: the number of the text's first line (a model inside a
    // larger file names the file's lines).
    bool Parse(std::string_view text, std::string& error, int firstLine = 1);
    // The model as file text; comment lines (without '#') go after the header.
    std::string Text(const std::string& comment) const;

    EFragmentKind Fragmentation() const { return m_eFragmentation; }

    // Slots of a peptide of this length: (length - 1) * kKinds, 0 when the
    // length is below 2 or above kMaxLength.
    static int IonCount(int length);

    // Writes IonCount(length) shares into out (layout above) and returns
    // that count; 0 (nothing written) for a length out of range.
    int Predict(const char* residues, const double* deltas, int length, double nTermDelta, int charge,
                float* out) const;
    // Probability that an ion of kind k whose predicted share is `share`
    // has a peak, `ions` being the peptide's slots that can carry intensity
    // (IonCount, less the 2+ slots of a 1+ precursor).
    float Detection(int kind, float share, int ions) const;

    // m/z of every slot for the given fragmentation (built-in monoisotopic
    // residue masses plus the deltas); returns the count as IonCount.
    static int FragmentMz(const char* residues, const double* deltas, int length, double nTermDelta, EFragmentKind e,
                          double* out);
    // For fitting: the kFeaturesPerIon weight indices whose sum is each
    // slot's score, slot after slot; a slot that cannot carry intensity
    // (2+ fragment of a 1+ precursor) gets -1 in its first index. Returns
    // the slot count as IonCount.
    static int Features(const char* residues, const double* deltas, int length, double nTermDelta, int charge,
                        int32_t* out);

    std::vector<float> m_vWeights;    // WeightCount() entries, tables in TableName order, rows first
    std::vector<float> m_vDetection;  // kKinds x (intercept, slope of ln(share x ions))

private:
    EFragmentKind m_eFragmentation;
};
