#include "rerank/BoostedTrees.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
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
bool ReadNumber(const std::string& word, double& v) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, v);
    return !word.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(v);
}

bool ReadCount(const std::string& word, long long& v) {
    const char* end = word.data() + word.size();
    const auto r = std::from_chars(word.data(), end, v);
    return !word.empty() && r.ec == std::errc() && r.ptr == end && v >= 0;
}

// "ID leaf VALUE" or "ID split FEATURE THRESHOLD LEFT RIGHT left|right",
// with ID the node's place in its tree.
bool ReadNode(const std::vector<std::string>& w, long long i, long long nFeatures, CBoostedTrees::SNode& n) {
    long long id = -1;
    if (w.size() < 2 || !ReadCount(w[0], id) || id != i) return false;
    if (w[1] == "leaf") return w.size() == 3 && ReadNumber(w[2], n.lfValue);
    long long f = -1, l = -1, r = -1;
    if (w[1] != "split" || w.size() != 7 || !ReadCount(w[2], f) || f >= nFeatures || !ReadNumber(w[3], n.lfThreshold) ||
        !ReadCount(w[4], l) || l > INT32_MAX || !ReadCount(w[5], r) || r > INT32_MAX || (w[6] != "left" && w[6] != "right"))
        return false;
    n.nFeature = static_cast<int>(f), n.nLeft = static_cast<int>(l), n.nRight = static_cast<int>(r);
    n.bDefaultLeft = w[6] == "left";
    return true;
}

// Checks node i of a tree whose nodes before i passed: its feature, numbers
// and children; parents counts the splits pointing at each node so far.
// Children after their parent and one parent each make the nodes a tree
// with every node reachable from the root.
bool CheckNode(const std::vector<CBoostedTrees::SNode>& nodes, size_t i, size_t nFeatures, std::vector<int>& parents,
               std::string& error) {
    const CBoostedTrees::SNode& n = nodes[i];
    const std::string which = "node " + std::to_string(i) + ": ";
    if (i > 0 && parents[i] == 0) return error = which + "not the child of any split", false;
    if (n.nFeature < 0) {
        if (!std::isfinite(n.lfValue)) return error = which + "the leaf value is not a finite number", false;
        return true;
    }
    if (static_cast<size_t>(n.nFeature) >= nFeatures)
        return error = which + "feature " + std::to_string(n.nFeature) + " of " + std::to_string(nFeatures), false;
    if (!std::isfinite(n.lfThreshold)) return error = which + "the threshold is not a finite number", false;
    const long long size = static_cast<long long>(nodes.size());
    for (const int child : {n.nLeft, n.nRight}) {
        if (child <= static_cast<long long>(i) || child >= size)
            return error = which + "child " + std::to_string(child) + " must come after it, within the tree's " +
                           std::to_string(size) + " nodes",
                   false;
        if (parents[child]++ > 0) return error = which + "node " + std::to_string(child) + " has two parents", false;
    }
    return true;
}

}  // namespace

std::vector<std::string> CBoostedTrees::Words(const std::string& line) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    std::vector<std::string> w;
    const size_t n = line.size();
    for (size_t i = 0; i < n;) {
        while (i < n && space(line[i])) ++i;
        size_t j = i;
        while (j < n && !space(line[j])) ++j;
        if (j > i) w.emplace_back(line, i, j - i);
        i = j;
    }
    return w;
}

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
    // Breadth first, with the depth of each node, so siblings sit side by side.
    std::vector<size_t> order{0};
    std::vector<uint32_t> depth(nodes.size(), 0);
    uint32_t deepest = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        const SNode& n = nodes[order[k]];
        if (n.nFeature < 0) continue;
        for (const int child : {n.nLeft, n.nRight}) {
            depth[child] = depth[order[k]] + 1;
            deepest = std::max(deepest, depth[child]);
            order.push_back(child);
        }
    }
    if (deepest > static_cast<uint32_t>(kMaxDepth))
        return error = "deeper than " + std::to_string(kMaxDepth) + " levels", false;
    const uint32_t root = static_cast<uint32_t>(m_vNodes.size());
    std::vector<int32_t> at(nodes.size(), 0);
    for (size_t k = 0; k < order.size(); ++k) at[order[k]] = static_cast<int32_t>(root + k);
    int32_t next = static_cast<int32_t>(root + 1);  // where the next pair of children goes
    const uint32_t nFeatures = static_cast<uint32_t>(m_vNames.size());
    for (const size_t i : order) {
        const SNode& n = nodes[i];
        if (n.nFeature < 0) {
            m_vNodes.push_back({std::numeric_limits<double>::infinity(), at[i], 0});
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

bool CBoostedTrees::Parse(const std::string& text, std::string& error, const std::vector<std::string>& expected) {
    size_t pos = 0;
    int line = 1;
    if (!ParseFrom(text, pos, line, error, expected)) return false;
    // Only comments may follow the model.
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string rest = text.substr(pos, end - pos);
        const size_t first = rest.find_first_not_of(" \t\r");
        if (first != std::string::npos && rest[first] != '#') {
            error = "line " + std::to_string(line) + ": unexpected \"" + rest + "\" after the model's end";
            return false;
        }
        pos = end + 1;
        ++line;
    }
    return true;
}

bool CBoostedTrees::ParseFrom(const std::string& text, size_t& pos, int& line, std::string& error,
                              const std::vector<std::string>& expected) {
    size_t at = pos;
    int lineNo = line - 1;  // number of the line last read
    std::string current;
    // The next line that is not blank or a comment; false at the text's end.
    auto next = [&]() {
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            current = text.substr(at, end - at);
            at = end < text.size() ? end + 1 : end;
            ++lineNo;
            if (!current.empty() && current.back() == '\r') current.pop_back();
            const size_t first = current.find_first_not_of(" \t");
            if (first != std::string::npos && current[first] != '#') return true;
        }
        current.clear();
        return false;
    };
    auto fail = [&](const std::string& what) {
        error = (current.empty() ? std::string("at the end: ") : "line " + std::to_string(lineNo) + ": ") + what;
        return false;
    };
    // "KEYWORD N" with a count.
    auto counted = [&](const char* keyword, long long& n) {
        if (!next()) return fail(std::string("\"") + keyword + " N\" is missing");
        const std::vector<std::string> w = Words(current);
        if (w.size() != 2 || w[0] != keyword || !ReadCount(w[1], n))
            return fail("expected \"" + std::string(keyword) + " N\", found \"" + current + "\"");
        return true;
    };

    if (!next() || current != kHeader)
        return fail(std::string("not a boosted tree model (the first line must be \"") + kHeader + "\")");
    if (!next()) return fail("\"objective NAME\" is missing");
    std::vector<std::string> w = Words(current);
    EObjective objective = EObjective::SquaredError;
    bool known = false;
    for (const EObjective e : kObjectives)
        if (w.size() == 2 && w[0] == "objective" && w[1] == ObjectiveName(e)) objective = e, known = true;
    if (!known) return fail("expected \"objective NAME\" with a known objective, found \"" + current + "\"");

    long long nFeatures = 0;
    if (!counted("features", nFeatures)) return false;
    if (nFeatures > static_cast<long long>(kMaxFeatures))
        return fail("more than " + std::to_string(kMaxFeatures) + " features");
    if (!expected.empty() && static_cast<size_t>(nFeatures) != expected.size())
        return fail("the model has " + std::to_string(nFeatures) + " features, this program's rows have " +
                    std::to_string(expected.size()));
    std::vector<std::string> names;
    for (long long k = 0; k < nFeatures; ++k) {
        if (!next()) return fail("feature " + std::to_string(k) + "'s name is missing");
        w = Words(current);
        if (w.size() != 1) return fail("expected one feature name, found \"" + current + "\"");
        if (!expected.empty() && w[0] != expected[k])
            return fail("feature " + std::to_string(k) + " is \"" + w[0] + "\", this program's is \"" + expected[k] +
                        "\"");
        for (const std::string& seen : names)
            if (seen == w[0]) return fail("feature \"" + w[0] + "\" named twice");
        names.push_back(w[0]);
    }
    if (!next()) return fail("\"base_score VALUE\" is missing");
    w = Words(current);
    double base = 0.0;
    if (w.size() != 2 || w[0] != "base_score" || !ReadNumber(w[1], base))
        return fail("expected \"base_score VALUE\", found \"" + current + "\"");

    CBoostedTrees model;
    model.Reset(names, objective, base);
    long long nTrees = 0;
    if (!counted("trees", nTrees)) return false;
    std::vector<SNode> nodes;
    std::vector<int> parents;
    for (long long t = 0; t < nTrees; ++t) {
        if (!next()) return fail("tree " + std::to_string(t) + " is missing");
        w = Words(current);
        long long index = -1, size = 0;
        if (w.size() != 3 || w[0] != "tree" || !ReadCount(w[1], index) || index != t || !ReadCount(w[2], size) ||
            size == 0 || size > INT32_MAX)
            return fail("expected \"tree " + std::to_string(t) + " NODES\", found \"" + current + "\"");
        // Every node takes a line of at least 8 characters: a damaged count
        // must not make us reserve memory for nodes the text cannot hold.
        if (static_cast<size_t>(size) > (text.size() - at) / 8 + 1)
            return fail("tree " + std::to_string(t) + " has more nodes than the text has lines");
        nodes.assign(static_cast<size_t>(size), SNode{});
        parents.assign(static_cast<size_t>(size), 0);
        for (long long i = 0; i < size; ++i) {
            if (!next()) return fail("node " + std::to_string(i) + " of tree " + std::to_string(t) + " is missing");
            if (!ReadNode(Words(current), i, nFeatures, nodes[i]))
                return fail("expected \"" + std::to_string(i) + " leaf VALUE\" or \"" + std::to_string(i) +
                            " split FEATURE THRESHOLD LEFT RIGHT left|right\", found \"" + current + "\"");
            std::string why;
            if (!CheckNode(nodes, static_cast<size_t>(i), names.size(), parents, why))
                return fail("tree " + std::to_string(t) + ", " + why);
        }
        std::string why;
        if (!model.AddTree(nodes, why)) return fail("tree " + std::to_string(t) + ": " + why);
    }
    if (!next() || current != "end") return fail("expected \"end\" after the last tree");
    *this = std::move(model);
    pos = at;
    line = lineNo + 1;
    return true;
}
