#pragma once
// An ensemble of regression trees over a fixed-length row of doubles: the
// score of a row is the base score plus, tree after tree in file order, the
// value of the leaf the row reaches. At a split the row goes left when
// row[feature] < threshold; a missing value (NaN) goes the split's stored
// default way. The sum runs in one fixed order with plain additions, so a
// row gets the same bits on every machine and with any thread count.
//
// Text file (lines starting with '#' and blank lines are comments):
//   vemra boosted trees 1
//   objective logistic        what the score means (see EObjective)
//   features 2                then one name per line, in row order
//   score_gap
//   peak_share
//   base_score 0.25
//   trees 2
//   tree 0 3                  tree index, node count; node 0 is the root
//   0 split 1 0.5 1 2 left    node, feature index, threshold, left, right,
//   1 leaf -0.125               where a missing value goes (left|right)
//   2 leaf 0.375              node, leaf value
//   tree 1 1
//   0 leaf 0.0625
//   end
// Children come after their parent and every node but the root is the
// child of exactly one split, so a tree is a tree. Text() writes each tree
// breadth first (children side by side); any other numbering is read as
// well and renumbered the same way. Values are written with 17 significant
// digits, so Text() and Parse() round trip bit for bit.
//
// Several models in one file: each model is a block from its header line
// to its "end" line, so a file of its own kind (say a ranker and a
// calibration, each introduced by a line of that file's own) can carry
// several: ParseFrom reads one block at a position of a larger text and
// leaves the position after its "end"; Text() of each model, concatenated
// with such lines between, writes it.
//
// Not thread-safe to change; Score and the other const members may be
// called from any number of threads at once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Reading a model file's text in place. The re-ranking model, the boosted
// trees, the fragment model and the residue pairs read their lines alike:
// a line ends at '\n' with one '\r' before it dropped, a line of spaces
// and tabs only or whose first other character is '#' is a comment, and
// words are split at the C locale's spaces (as a string stream splits
// them). Views into the text rather than a string per line and per word:
// the copies cost most of the time to load a boosted model of a few
// thousand trees.
namespace modeltext {

inline bool IsSpace(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t'; }

// The next word of line from pos on; pos ends just past it. False when
// only spaces are left.
inline bool NextWord(std::string_view line, size_t& pos, std::string_view& word) {
    const size_t n = line.size();
    size_t i = pos;
    while (i < n && IsSpace(line[i])) ++i;
    size_t j = i;
    while (j < n && !IsSpace(line[j])) ++j;
    pos = j;
    word = line.substr(i, j - i);
    return j > i;
}

// The words of line: the first max of them go to out, and the count of all
// is returned, so a line with words to spare is told from one that fits.
inline size_t Words(std::string_view line, std::string_view* out, size_t max) {
    size_t count = 0, pos = 0;
    for (std::string_view w; NextWord(line, pos, w); ++count)
        if (count < max) out[count] = w;
    return count;
}

// A text taken line by line, keeping the line number.
struct CLines {
    // From text[pos], which follows line number line.
    explicit CLines(std::string_view text, size_t pos = 0, int line = 0) : strText(text), nPos(pos), nLine(line) {}

    std::string_view strText;
    size_t nPos = 0;           // where the next line starts
    int nLine = 0;             // number of the line last read
    std::string_view strLine;  // its text; empty after the end

    // The next line as it is; false at the end.
    bool Raw() {
        if (nPos >= strText.size()) {
            strLine = {};
            return false;
        }
        const char* start = strText.data() + nPos;
        const size_t left = strText.size() - nPos;
        const void* nl = std::char_traits<char>::find(start, left, '\n');
        const size_t length = nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - start) : left;
        nPos += length < left ? length + 1 : length;
        ++nLine;
        strLine = std::string_view(start, length > 0 && start[length - 1] == '\r' ? length - 1 : length);
        return true;
    }
    // The next line that is not blank or a comment; false at the end.
    bool Next() {
        while (Raw()) {
            for (const char c : strLine)
                if (c != ' ' && c != '\t') {
                    if (c != '#') return true;
                    break;
                }
        }
        return false;
    }
};

// A whole word read as the C library's strtod and strtof read it in the C
// locale, kept only when finite and without a range error: the linear,
// fragment and residue-pair tables have always been read so. Most words
// are plain decimals, which std::from_chars reads to the same correctly
// rounded value much faster; a word it does not read whole or whose value
// is near the underflow limit (where strtod's range error depends on the
// digits) goes to strtod itself.
bool ReadStrtod(std::string_view word, double& v);
bool ReadStrtof(std::string_view word, float& v);

}  // namespace modeltext

class CBoostedTrees {
public:
    static const char* const kHeader;  // "vemra boosted trees 1"
    // Deepest tree a file may hold (the fitter stays far below).
    static constexpr int kMaxDepth = 32;
    // Score keeps a copy of the row on the stack (16 KiB at most).
    static constexpr size_t kMaxFeatures = 1024;

    // What the fitted score stands for: a regression value, the log-odds
    // of a yes, or a ranking score within a group (softmax over the group,
    // pairwise logistic, or pairwise weighted by the NDCG change).
    enum class EObjective : unsigned char { SquaredError, Logistic, RankSoftmax, RankPairwise, RankNdcg };
    static const char* ObjectiveName(EObjective e);

    // One node as files and the fitter write it; indices within its tree.
    struct SNode {
        int nFeature = -1;  // -1: a leaf
        double lfThreshold = 0.0;
        int nLeft = -1;
        int nRight = -1;
        bool bDefaultLeft = true;
        double lfValue = 0.0;  // a leaf's value
    };

    // An empty model (no trees, base score 0) over these features.
    void Reset(const std::vector<std::string>& names, EObjective objective, double baseScore);
    // Appends a tree (node 0 the root). False, with why, when the nodes do
    // not form a tree over this model's features; the model is unchanged.
    bool AddTree(const std::vector<SNode>& nodes, std::string& error);
    // Keeps the first n trees.
    void Truncate(size_t n);

    // Score of one row of FeatureCount() values. No allocation.
    double Score(const double* row) const;
    // The nodes of tree t, breadth first.
    std::vector<SNode> Tree(size_t t) const;

    // Reads a model from a file; expected, when not empty, are the feature
    // names the caller's rows have, in order: another list refuses the file.
    bool Load(const std::string& path, std::string& error, const std::vector<std::string>& expected = {});
    // One model and nothing else but comments.
    bool Parse(std::string_view text, std::string& error, const std::vector<std::string>& expected = {});
    // One model starting at text[pos], which is line number line (1 for
    // the start of a file); on success pos and line are just past its
    // "end" line. Errors give the line number within the whole text.
    bool ParseFrom(std::string_view text, size_t& pos, int& line, std::string& error,
                   const std::vector<std::string>& expected = {});
    // The model as a block of text; comment lines (without '#') follow the
    // header.
    std::string Text(const std::string& comment = "") const;

    size_t TreeCount() const { return m_vRoots.size(); }
    size_t FeatureCount() const { return m_vNames.size(); }
    const std::vector<std::string>& FeatureNames() const { return m_vNames; }
    EObjective Objective() const { return m_eObjective; }
    double BaseScore() const { return m_lfBase; }

private:
    // Appends a tree whose nodes passed CheckNode one by one (node 0 the
    // root) as AddTree does; order is room for the walk, kept by a caller
    // that appends many.
    bool _Append(const std::vector<SNode>& nodes, std::vector<std::pair<uint32_t, uint32_t>>& order,
                 std::string& error);

    // A node laid out for evaluation: 16 bytes, children side by side
    // (right = left + 1), so a step picks the child with one comparison and
    // no branch. Score reads a copy of the row with two slots per feature:
    // slot f with NaN as -inf (so it goes left) and slot F + f with NaN as
    // the largest double (so it goes right); +inf is the largest double in
    // both, which no finite threshold tells apart from +inf. A split reads
    // the slot of its default direction. A leaf points to itself with an
    // infinite threshold, so steps past it stay; its value is in
    // m_vLeafValue.
    struct SFlat {
        double lfThreshold;
        int32_t nLeft;  // absolute index in m_vNodes
        uint32_t nSlot;
    };

    std::vector<std::string> m_vNames;
    EObjective m_eObjective = EObjective::SquaredError;
    double m_lfBase = 0.0;
    std::vector<SFlat> m_vNodes;
    std::vector<double> m_vLeafValue;  // per node, 0 at splits
    std::vector<uint32_t> m_vRoots;  // per tree, its root in m_vNodes
    std::vector<uint32_t> m_vDepth;  // per tree, splits on its longest path
    // Trees are walked kBlock at a time; per full block, its deepest tree.
    static constexpr size_t kBlock = 16;
    std::vector<uint32_t> m_vBlockDepth;
};
