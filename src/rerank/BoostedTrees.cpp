#include "rerank/BoostedTrees.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

const char* const CBoostedTrees::kHeader = "vemra boosted trees 1";

namespace {

constexpr CBoostedTrees::EObjective kObjectives[] = {
    CBoostedTrees::EObjective::SquaredError, CBoostedTrees::EObjective::Logistic,
    CBoostedTrees::EObjective::RankSoftmax, CBoostedTrees::EObjective::RankPairwise,
    CBoostedTrees::EObjective::RankNdcg};

std::string Number(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// from_chars rather than strtod: the decimal point must not follow the locale.
bool ReadNumber(std::string_view word, double& v) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, v);
    return !word.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(v);
}

bool ReadCount(std::string_view word, long long& v) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, v);
    return !word.empty() && r.ec == std::errc() && r.ptr == end && v >= 0;
}

// "ID leaf VALUE" or "ID split FEATURE THRESHOLD LEFT RIGHT left|right",
// with ID the node's place in its tree: the line's count words, of which
// the first 7 (at most) are in w.
bool ReadNode(const std::string_view* w, size_t count, long long i, long long nFeatures, CBoostedTrees::SNode& n) {
    long long id = -1;
    if (count < 2 || !ReadCount(w[0], id) || id != i) return false;
    if (w[1] == "leaf") return count == 3 && ReadNumber(w[2], n.lfValue);
    long long f = -1, l = -1, r = -1;
    if (w[1] != "split" || count != 7 || !ReadCount(w[2], f) || f >= nFeatures || !ReadNumber(w[3], n.lfThreshold) ||
        !ReadCount(w[4], l) || l > INT32_MAX || !ReadCount(w[5], r) || r > INT32_MAX || (w[6] != "left" && w[6] != "right"))
        return false;
    n.nFeature = static_cast<int>(f), n.nLeft = static_cast<int>(l), n.nRight = static_cast<int>(r);
    n.bDefaultLeft = w[6] == "left";
    return true;
}

// ReadNode for the usual node line, read straight off the line without
// splitting it into words first: nearly all of a model's lines are node
// lines, and a node's numbers end where its words do. False for any line it
// does not read (ReadNode then has the last word), never for a line that
// ReadNode would read otherwise: from_chars stops at the first space, so a
// number that reaches a space or the line's end is its word, whole.
class CNodeLine {
public:
    explicit CNodeLine(std::string_view line) : m_p(line.data()), m_end(line.data() + line.size()) {}

    bool Read(long long i, long long nFeatures, CBoostedTrees::SNode& n) {
        long long id = -1;
        if (!Count(id) || id != i) return false;
        if (Word("leaf")) return Number(n.lfValue) && End();
        long long f = -1, l = -1, r = -1;
        if (!Word("split") || !Count(f) || f >= nFeatures || !Number(n.lfThreshold) || !Count(l) || l > INT32_MAX ||
            !Count(r) || r > INT32_MAX)
            return false;
        const bool left = Word("left");
        if ((!left && !Word("right")) || !End()) return false;
        n.nFeature = static_cast<int>(f), n.nLeft = static_cast<int>(l), n.nRight = static_cast<int>(r);
        n.bDefaultLeft = left;
        return true;
    }

private:
    void Skip() {
        while (m_p < m_end && modeltext::IsSpace(*m_p)) ++m_p;
    }
    // Whether the word starting at q ends there.
    bool Boundary(const char* q) const { return q == m_end || modeltext::IsSpace(*q); }
    template <class T>
    bool Parse(T& v) {
        Skip();
        const auto r = std::from_chars(m_p, m_end, v);
        if (r.ec != std::errc() || r.ptr == m_p || !Boundary(r.ptr)) return false;
        m_p = r.ptr;
        return true;
    }
    bool Count(long long& v) {
        // Node numbers are short runs of digits, read here in a few steps;
        // anything else (a sign, a long run) as from_chars reads it.
        Skip();
        const char* q = m_p;
        long long x = 0;
        for (; q < m_end && q - m_p < 9 && static_cast<unsigned char>(*q - '0') < 10; ++q) x = x * 10 + (*q - '0');
        if (q > m_p && Boundary(q)) {
            v = x, m_p = q;
            return true;
        }
        return Parse(v) && v >= 0;
    }
    bool Number(double& v) { return Parse(v) && std::isfinite(v); }
    // The next word is w; only then is it taken.
    bool Word(std::string_view w) {
        Skip();
        if (static_cast<size_t>(m_end - m_p) < w.size() || std::string_view(m_p, w.size()) != w ||
            !Boundary(m_p + w.size()))
            return false;
        m_p += w.size();
        return true;
    }
    bool End() {
        Skip();
        return m_p == m_end;
    }

    const char* m_p;
    const char* m_end;
};

// Checks node i of a tree whose nodes before i passed: its feature, numbers
// and children; parents counts the splits pointing at each node so far.
// Children after their parent and one parent each make the nodes a tree
// with every node reachable from the root.
bool CheckNode(const std::vector<CBoostedTrees::SNode>& nodes, size_t i, size_t nFeatures, std::vector<int>& parents,
               std::string& error) {
    const CBoostedTrees::SNode& n = nodes[i];
    // Every node of a model is checked as it is read: the words of an
    // error are put together only for one.
    auto which = [i]() { return "node " + std::to_string(i) + ": "; };
    if (i > 0 && parents[i] == 0) return error = which() + "not the child of any split", false;
    if (n.nFeature < 0) {
        if (!std::isfinite(n.lfValue)) return error = which() + "the leaf value is not a finite number", false;
        return true;
    }
    if (static_cast<size_t>(n.nFeature) >= nFeatures)
        return error = which() + "feature " + std::to_string(n.nFeature) + " of " + std::to_string(nFeatures), false;
    if (!std::isfinite(n.lfThreshold)) return error = which() + "the threshold is not a finite number", false;
    const long long size = static_cast<long long>(nodes.size());
    for (const int child : {n.nLeft, n.nRight}) {
        if (child <= static_cast<long long>(i) || child >= size)
            return error = which() + "child " + std::to_string(child) + " must come after it, within the tree's " +
                           std::to_string(size) + " nodes",
                   false;
        if (parents[child]++ > 0) return error = which() + "node " + std::to_string(child) + " has two parents", false;
    }
    return true;
}

// Whether a word that from_chars read as zero has no digit but zeros before
// its exponent: then strtod gives an exact zero too, with no range error
// (which it gives where other digits round down to zero).
bool ZeroDigits(std::string_view word) {
    for (const char c : word) {
        if (c == 'e' || c == 'E') break;
        if (c >= '1' && c <= '9') return false;
    }
    return true;
}

// The word read whole by from_chars to a finite value that strtod, too,
// reads whole and without a range error: above the smallest normal number,
// or an exact zero. Both read a decimal to the correctly rounded value.
template <class T>
bool ReadPlainDecimal(std::string_view word, T& v) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, v);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return false;
    return std::fabs(v) > std::numeric_limits<T>::min() || (v == 0 && ZeroDigits(word));
}

// The plain decimal quickly; anything else (hex, a leading '+', values near
// underflow, junk) as the C library reads it, which decides what is refused.
template <class T>
bool ReadNumberAs(std::string_view word, T& v, T (*convert)(const char*, char**)) {
    if (word.empty()) return false;
    if (ReadPlainDecimal(word, v)) return true;
    const std::string copy(word);
    char* end = nullptr;
    errno = 0;
    v = convert(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && std::isfinite(v) && errno != ERANGE;
}

}  // namespace

bool modeltext::ReadStrtod(std::string_view word, double& v) { return ReadNumberAs<double>(word, v, std::strtod); }

bool modeltext::ReadStrtof(std::string_view word, float& v) { return ReadNumberAs<float>(word, v, std::strtof); }

const char* CBoostedTrees::ObjectiveName(EObjective e) {
    switch (e) {
        case EObjective::SquaredError: return "squared_error";
        case EObjective::Logistic: return "logistic";
        case EObjective::RankSoftmax: return "rank_softmax";
        case EObjective::RankPairwise: return "rank_pairwise";
        case EObjective::RankNdcg: return "rank_ndcg";
    }
    return "";
}

void CBoostedTrees::Reset(const std::vector<std::string>& names, EObjective objective, double baseScore) {
    m_vNames = names;
    m_eObjective = objective;
    m_lfBase = baseScore;
    m_vNodes.clear();
    m_vLeafValue.clear();
    m_vRoots.clear();
    m_vDepth.clear();
    m_vBlockDepth.clear();
}

bool CBoostedTrees::AddTree(const std::vector<SNode>& nodes, std::string& error) {
    if (nodes.empty()) return error = "a tree without nodes", false;
    if (m_vNames.size() > kMaxFeatures) return error = "more than " + std::to_string(kMaxFeatures) + " features", false;
    if (nodes.size() > static_cast<size_t>(INT32_MAX) - m_vNodes.size()) return error = "too many nodes", false;
    std::vector<int> parents(nodes.size(), 0);
    for (size_t i = 0; i < nodes.size(); ++i)
        if (!CheckNode(nodes, i, m_vNames.size(), parents, error)) return false;
    std::vector<std::pair<uint32_t, uint32_t>> order;
    return _Append(nodes, order, error);
}

bool CBoostedTrees::_Append(const std::vector<SNode>& nodes, std::vector<std::pair<uint32_t, uint32_t>>& order,
                            std::string& error) {
    if (nodes.size() > static_cast<size_t>(INT32_MAX) - m_vNodes.size()) return error = "too many nodes", false;
    // Breadth first, each node with its depth, so siblings sit side by side.
    order.clear();
    order.emplace_back(0, 0);
    uint32_t deepest = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        const auto [i, depth] = order[k];
        const SNode& n = nodes[i];
        if (n.nFeature < 0) continue;
        deepest = std::max(deepest, depth + 1);
        order.emplace_back(static_cast<uint32_t>(n.nLeft), depth + 1);
        order.emplace_back(static_cast<uint32_t>(n.nRight), depth + 1);
    }
    if (deepest > static_cast<uint32_t>(kMaxDepth))
        return error = "deeper than " + std::to_string(kMaxDepth) + " levels", false;
    const uint32_t root = static_cast<uint32_t>(m_vNodes.size());
    int32_t next = static_cast<int32_t>(root + 1);  // where the next pair of children goes
    const uint32_t nFeatures = static_cast<uint32_t>(m_vNames.size());
    for (const auto& [i, depth] : order) {
        const SNode& n = nodes[i];
        if (n.nFeature < 0) {
            // A leaf points to itself: its place in breadth-first order.
            m_vNodes.push_back({std::numeric_limits<double>::infinity(), static_cast<int32_t>(m_vNodes.size()), 0});
            m_vLeafValue.push_back(n.lfValue);
        } else {
            m_vNodes.push_back({n.lfThreshold, next, static_cast<uint32_t>(n.nFeature) + (n.bDefaultLeft ? 0 : nFeatures)});
            m_vLeafValue.push_back(0.0);
            next += 2;
        }
    }
    m_vRoots.push_back(root);
    m_vDepth.push_back(deepest);
    if (m_vRoots.size() % kBlock == 0)
        m_vBlockDepth.push_back(*std::max_element(m_vDepth.end() - kBlock, m_vDepth.end()));
    return true;
}

void CBoostedTrees::Truncate(size_t n) {
    if (n >= m_vRoots.size()) return;
    m_vNodes.resize(m_vRoots[n]);
    m_vLeafValue.resize(m_vRoots[n]);
    m_vRoots.resize(n);
    m_vDepth.resize(n);
    m_vBlockDepth.resize(n / kBlock);
}

double CBoostedTrees::Score(const double* row) const {
    // AddTree takes no tree over more features, so the copy always fits.
    const size_t nFeatures = m_vRoots.empty() ? 0 : m_vNames.size();
    double slots[2 * kMaxFeatures];
    constexpr double kLow = -std::numeric_limits<double>::infinity();
    constexpr double kHigh = std::numeric_limits<double>::max();
    for (size_t f = 0; f < nFeatures; ++f) {
        const double x = row[f];
        const double high = x > kHigh ? kHigh : x;
        slots[f] = x != x ? kLow : high;
        slots[nFeatures + f] = x != x ? kHigh : high;
    }
    const SFlat* nodes = m_vNodes.data();
    const double* leaf = m_vLeafValue.data();
    auto step = [nodes, &slots](uint32_t n) {
        const SFlat& node = nodes[n];
        return static_cast<uint32_t>(node.nLeft) + !(slots[node.nSlot] < node.lfThreshold);
    };
    // Exactly a block's depth of steps for each of its trees: a leaf
    // reached early keeps the walk where it is, so the steps carry no
    // data-dependent branch, and the trees of a block walk side by side so
    // their memory reads overlap. The leaves are added in tree order all
    // the same.
    double s = m_lfBase;
    const size_t nTrees = m_vRoots.size();
    size_t t = 0;
    for (; t + kBlock <= nTrees; t += kBlock) {
        uint32_t n[kBlock];
        for (size_t j = 0; j < kBlock; ++j) n[j] = m_vRoots[t + j];
        for (uint32_t d = m_vBlockDepth[t / kBlock]; d > 0; --d)
            for (size_t j = 0; j < kBlock; ++j) n[j] = step(n[j]);
        for (size_t j = 0; j < kBlock; ++j) s += leaf[n[j]];
    }
    for (; t < nTrees; ++t) {
        uint32_t n = m_vRoots[t];
        for (uint32_t d = m_vDepth[t]; d > 0; --d) n = step(n);
        s += leaf[n];
    }
    return s;
}

std::vector<CBoostedTrees::SNode> CBoostedTrees::Tree(size_t t) const {
    const uint32_t root = m_vRoots[t];
    const uint32_t end = t + 1 < m_vRoots.size() ? m_vRoots[t + 1] : static_cast<uint32_t>(m_vNodes.size());
    std::vector<SNode> out(end - root);
    for (uint32_t i = root; i < end; ++i) {
        const SFlat& f = m_vNodes[i];
        SNode& n = out[i - root];
        if (f.nLeft == static_cast<int32_t>(i)) {
            n.lfValue = m_vLeafValue[i];
            continue;
        }
        const bool right = f.nSlot >= m_vNames.size();
        n.nFeature = static_cast<int>(right ? f.nSlot - m_vNames.size() : f.nSlot);
        n.lfThreshold = f.lfThreshold;
        n.nLeft = f.nLeft - static_cast<int>(root);
        n.nRight = n.nLeft + 1;
        n.bDefaultLeft = !right;
    }
    return out;
}

std::string CBoostedTrees::Text(const std::string& comment) const {
    std::string t = std::string(kHeader) + "\n";
    std::istringstream in(comment);
    for (std::string line; std::getline(in, line);) t += "# " + line + "\n";
    t += std::string("objective ") + ObjectiveName(m_eObjective) + "\n";
    t += "features " + std::to_string(m_vNames.size()) + "\n";
    for (const std::string& name : m_vNames) t += name + "\n";
    t += "base_score " + Number(m_lfBase) + "\n";
    t += "trees " + std::to_string(m_vRoots.size()) + "\n";
    for (size_t k = 0; k < m_vRoots.size(); ++k) {
        const std::vector<SNode> nodes = Tree(k);
        t += "tree " + std::to_string(k) + " " + std::to_string(nodes.size()) + "\n";
        for (size_t i = 0; i < nodes.size(); ++i) {
            const SNode& n = nodes[i];
            t += std::to_string(i);
            if (n.nFeature < 0)
                t += " leaf " + Number(n.lfValue) + "\n";
            else
                t += " split " + std::to_string(n.nFeature) + " " + Number(n.lfThreshold) + " " +
                     std::to_string(n.nLeft) + " " + std::to_string(n.nRight) + (n.bDefaultLeft ? " left\n" : " right\n");
        }
    }
    return t + "end\n";
}

bool CBoostedTrees::Load(const std::string& path, std::string& error, const std::vector<std::string>& expected) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open the model file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!Parse(text.str(), error, expected)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool CBoostedTrees::Parse(std::string_view text, std::string& error, const std::vector<std::string>& expected) {
    size_t pos = 0;
    int line = 1;
    if (!ParseFrom(text, pos, line, error, expected)) return false;
    // Only comments may follow the model.
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view rest = text.substr(pos, end - pos);
        const size_t first = rest.find_first_not_of(" \t\r");
        if (first != std::string_view::npos && rest[first] != '#') {
            error = "line " + std::to_string(line) + ": unexpected \"" + std::string(rest) + "\" after the model's end";
            return false;
        }
        pos = end + 1;
        ++line;
    }
    return true;
}

bool CBoostedTrees::ParseFrom(std::string_view text, size_t& pos, int& line, std::string& error,
                              const std::vector<std::string>& expected) {
    modeltext::CLines in(text, pos, line - 1);
    const std::string_view& current = in.strLine;
    // The words of the current line: a node line has 7 at most; count is
    // how many the line has in all.
    std::string_view w[8];
    size_t count = 0;
    auto words = [&](size_t max) { return count = modeltext::Words(current, w, max); };
    auto fail = [&](const std::string& what) {
        error = (current.empty() ? std::string("at the end: ") : "line " + std::to_string(in.nLine) + ": ") + what;
        return false;
    };
    auto found = [&]() { return ", found \"" + std::string(current) + "\""; };
    // "KEYWORD N" with a count.
    auto counted = [&](const char* keyword, long long& n) {
        if (!in.Next()) return fail(std::string("\"") + keyword + " N\" is missing");
        if (words(2) != 2 || w[0] != keyword || !ReadCount(w[1], n))
            return fail("expected \"" + std::string(keyword) + " N\"" + found());
        return true;
    };

    if (!in.Next() || current != kHeader)
        return fail(std::string("not a boosted tree model (the first line must be \"") + kHeader + "\")");
    if (!in.Next()) return fail("\"objective NAME\" is missing");
    words(2);
    EObjective objective = EObjective::SquaredError;
    bool known = false;
    for (const EObjective e : kObjectives)
        if (count == 2 && w[0] == "objective" && w[1] == ObjectiveName(e)) objective = e, known = true;
    if (!known) return fail("expected \"objective NAME\" with a known objective" + found());

    long long nFeatures = 0;
    if (!counted("features", nFeatures)) return false;
    if (nFeatures > static_cast<long long>(kMaxFeatures))
        return fail("more than " + std::to_string(kMaxFeatures) + " features");
    if (!expected.empty() && static_cast<size_t>(nFeatures) != expected.size())
        return fail("the model has " + std::to_string(nFeatures) + " features, this program's rows have " +
                    std::to_string(expected.size()));
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(nFeatures));
    for (long long k = 0; k < nFeatures; ++k) {
        if (!in.Next()) return fail("feature " + std::to_string(k) + "'s name is missing");
        if (words(1) != 1) return fail("expected one feature name" + found());
        const std::string_view name = w[0];
        if (!expected.empty() && name != expected[k])
            return fail("feature " + std::to_string(k) + " is \"" + std::string(name) + "\", this program's is \"" +
                        expected[k] + "\"");
        for (const std::string& seen : names)
            if (seen == name) return fail("feature \"" + std::string(name) + "\" named twice");
        names.emplace_back(name);
    }
    if (!in.Next()) return fail("\"base_score VALUE\" is missing");
    double base = 0.0;
    if (words(2) != 2 || w[0] != "base_score" || !ReadNumber(w[1], base))
        return fail("expected \"base_score VALUE\"" + found());

    CBoostedTrees model;
    model.Reset(names, objective, base);
    long long nTrees = 0;
    if (!counted("trees", nTrees)) return false;
    // Room for the trees the file states, but no more than its text can
    // hold (a tree takes two lines of at least 8 characters each), so a
    // damaged count reserves nothing unreasonable.
    const size_t room = std::min(static_cast<size_t>(nTrees), (text.size() - in.nPos) / 16 + 1);
    model.m_vRoots.reserve(room);
    model.m_vDepth.reserve(room);
    model.m_vBlockDepth.reserve(room / kBlock);
    std::vector<SNode> nodes;
    std::vector<int> parents;
    std::vector<std::pair<uint32_t, uint32_t>> order;
    for (long long t = 0; t < nTrees; ++t) {
        if (!in.Next()) return fail("tree " + std::to_string(t) + " is missing");
        long long index = -1, size = 0;
        if (words(3) != 3 || w[0] != "tree" || !ReadCount(w[1], index) || index != t || !ReadCount(w[2], size) ||
            size == 0 || size > INT32_MAX)
            return fail("expected \"tree " + std::to_string(t) + " NODES\"" + found());
        // Every node takes a line of at least 8 characters: a damaged count
        // must not make us reserve memory for nodes the text cannot hold.
        if (static_cast<size_t>(size) > (text.size() - in.nPos) / 8 + 1)
            return fail("tree " + std::to_string(t) + " has more nodes than the text has lines");
        nodes.assign(static_cast<size_t>(size), SNode{});
        parents.assign(static_cast<size_t>(size), 0);
        for (long long i = 0; i < size; ++i) {
            if (!in.Next()) return fail("node " + std::to_string(i) + " of tree " + std::to_string(t) + " is missing");
            if (!CNodeLine(current).Read(i, nFeatures, nodes[i]) && !ReadNode(w, words(7), i, nFeatures, nodes[i]))
                return fail("expected \"" + std::to_string(i) + " leaf VALUE\" or \"" + std::to_string(i) +
                            " split FEATURE THRESHOLD LEFT RIGHT left|right\"" + found());
            std::string why;
            if (!CheckNode(nodes, static_cast<size_t>(i), names.size(), parents, why))
                return fail("tree " + std::to_string(t) + ", " + why);
        }
        // The nodes passed CheckNode as they were read: what AddTree would
        // check again is known to hold.
        std::string why;
        if (!model._Append(nodes, order, why)) return fail("tree " + std::to_string(t) + ": " + why);
    }
    if (!in.Next() || current != "end") return fail("expected \"end\" after the last tree");
    *this = std::move(model);
    pos = in.nPos;
    line = in.nLine + 1;
    return true;
}
