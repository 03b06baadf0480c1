#include "rerank/BoostedTreesTrainer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "rerank/PortableMath.h"

namespace {

using EObjective = CBoostedTrees::EObjective;
using SData = CBoostedTreesTrainer::SData;

constexpr double kLn2 = 0.69314718055994530942;
// A split must gain at least this much besides lfMinSplitGain, so rounding
// noise in the histogram sums never grows a tree.
constexpr double kMinGain = 1e-6;
constexpr double kMinHessian = 1e-16;

bool IsRanking(EObjective e) {
    return e == EObjective::RankSoftmax || e == EObjective::RankPairwise || e == EObjective::RankNdcg;
}

// splitmix64: the same sequence from a seed with every compiler and
// library, unlike the standard distributions.
class CSplitMix {
public:
    explicit CSplitMix(uint64_t seed) : m_nState(seed) {}
    double Uniform() {  // [0, 1)
        uint64_t z = (m_nState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * 0x1.0p-53;
    }

private:
    uint64_t m_nState;
};

size_t GroupEnd(const SData& d, size_t k) { return k + 1 < d.vGroups.size() ? d.vGroups[k + 1] : d.vLabels.size(); }

// log(1 + e^x) without overflow.
double Softplus(double x) { return std::max(x, 0.0) + portable::Log(1.0 + portable::Exp(-std::fabs(x))); }

// The same walk as CBoostedTrees::Score, on the nodes being built.
double TreeValue(const std::vector<CBoostedTrees::SNode>& nodes, const double* row) {
    int n = 0;
    while (nodes[n].nFeature >= 0) {
        const CBoostedTrees::SNode& node = nodes[n];
        const double x = row[node.nFeature];
        const bool left = x != x ? node.bDefaultLeft : x < node.lfThreshold;
        n = left ? node.nLeft : node.nRight;
    }
    return nodes[n].lfValue;
}

// Discount of rank r (0 first) in a DCG, 1 / log2(r + 2).
double Discount(size_t r) { return kLn2 / portable::Log(static_cast<double>(r) + 2.0); }

// The order of a group's rows by score, highest first, ties by position.
void RankOrder(const double* scores, size_t n, std::vector<size_t>& order) {
    order.resize(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return scores[a] > scores[b]; });
}

}  // namespace

// One node waiting to be split: its rows [nBegin, nEnd) of the row list,
// their sums, and its histogram.
struct CBoostedTreesTrainer::SGrowing {
    size_t nBegin = 0;
    size_t nEnd = 0;
    double lfG = 0.0;
    double lfH = 0.0;
    int nNode = 0;
    std::vector<SGradient> vHist;
};

bool CBoostedTreesTrainer::_Check(const SData& d, const char* what, std::string& error) const {
    const std::string w = std::string(what) + ": ";
    const size_t n = d.vLabels.size();
    if (d.nFeatures != m_nFeatures) return error = w + "rows of another feature count", false;
    if (d.vRows.size() != n * d.nFeatures) return error = w + "rows and labels differ in number", false;
    if (n > UINT32_MAX) return error = w + "more than 2^32 rows", false;
    for (const double x : d.vRows)
        if (std::isinf(x)) return error = w + "an infinite feature value (missing values are NaN)", false;
    for (const double y : d.vLabels) {
        if (!std::isfinite(y)) return error = w + "a label that is not a finite number", false;
        if (m_params.eObjective == EObjective::Logistic && (y < 0.0 || y > 1.0))
            return error = w + "a logistic label outside 0..1", false;
        if (IsRanking(m_params.eObjective) && y < 0.0) return error = w + "a negative relevance", false;
    }
    if (!IsRanking(m_params.eObjective)) return true;
    if (n > 0 && (d.vGroups.empty() || d.vGroups[0] != 0)) return error = w + "the first group must start at row 0", false;
    for (size_t k = 1; k < d.vGroups.size(); ++k)
        if (d.vGroups[k] <= d.vGroups[k - 1] || d.vGroups[k] >= n)
            return error = w + "group starts must ascend within the rows", false;
    return true;
}

void CBoostedTreesTrainer::_MakeBins(const SData& train) {
    const size_t n = m_nRows = train.vLabels.size(), nf = m_nFeatures;
    const size_t maxBins = static_cast<size_t>(m_params.nMaxBins);
    m_vCuts.assign(nf, {});
    m_vOffset.assign(nf, 0);
    m_nHistSize = 0;
    std::vector<double> values, distinct;
    for (size_t f = 0; f < nf; ++f) {
        values.clear();
        for (size_t r = 0; r < n; ++r)
            if (const double x = train.vRows[r * nf + f]; x == x) values.push_back(x);
        std::sort(values.begin(), values.end());
        distinct.assign(values.begin(), values.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        std::vector<double>& cuts = m_vCuts[f];
        if (distinct.size() <= maxBins) {
            if (!distinct.empty()) cuts.assign(distinct.begin() + 1, distinct.end());
        } else {
            // Equal-count quantiles of the values; a value that fills
            // several quantiles becomes one bin.
            for (size_t i = 1; i < maxBins; ++i) {
                const double v = values[i * values.size() / maxBins];
                if (v > distinct[0] && (cuts.empty() || v > cuts.back())) cuts.push_back(v);
            }
        }
        m_vOffset[f] = m_nHistSize;
        m_nHistSize += static_cast<uint32_t>(cuts.size() + 2);  // value bins, then missing
    }
    m_vBins.resize(n * nf);
    m_vColumns.resize(n * nf);
    for (size_t r = 0; r < n; ++r)
        for (size_t f = 0; f < nf; ++f) {
            const double x = train.vRows[r * nf + f];
            const std::vector<double>& cuts = m_vCuts[f];
            const size_t bin = x != x ? cuts.size() + 1 : std::upper_bound(cuts.begin(), cuts.end(), x) - cuts.begin();
            m_vBins[r * nf + f] = m_vColumns[f * n + r] = static_cast<uint8_t>(bin);
        }
}

void CBoostedTreesTrainer::_Gradients(const SData& d, const std::vector<double>& s) {
    const size_t n = d.vLabels.size();
    const std::vector<double>& y = d.vLabels;
    m_vGradients.assign(n, SGradient{0.0, 0.0});
    switch (m_params.eObjective) {
        case EObjective::SquaredError:
            for (size_t r = 0; r < n; ++r) m_vGradients[r] = {s[r] - y[r], 1.0};
            return;
        case EObjective::Logistic:
            for (size_t r = 0; r < n; ++r) {
                const double p = portable::Sigmoid(s[r]);
                m_vGradients[r] = {p - y[r], std::max(p * (1.0 - p), kMinHessian)};
            }
            return;
        default: break;
    }
    std::vector<size_t> order;
    std::vector<double> e, gain, discount;
    for (size_t k = 0; k < d.vGroups.size(); ++k) {
        const size_t b = d.vGroups[k], m = GroupEnd(d, k) - b;
        const double* sg = &s[b];
        const double* yg = &y[b];
        SGradient* gg = &m_vGradients[b];
        if (m_params.eObjective == EObjective::RankSoftmax) {
            double sumY = 0.0, top = sg[0];
            for (size_t i = 0; i < m; ++i) sumY += yg[i], top = std::max(top, sg[i]);
            if (!(sumY > 0.0)) continue;
            e.resize(m);
            double z = 0.0;
            for (size_t i = 0; i < m; ++i) z += e[i] = portable::Exp(sg[i] - top);
            // 2 p (1 - p) bounds the softmax's Hessian from above (its rows
            // sum to that in absolute value), so the Newton leaf steps of
            // rows of one group sharing leaves do not overshoot.
            for (size_t i = 0; i < m; ++i) {
                const double p = e[i] / z;
                gg[i] = {p - yg[i] / sumY, std::max(2.0 * p * (1.0 - p), kMinHessian)};
            }
            continue;
        }
        // Pairwise: every pair with different labels, the better row first;
        // the 2 bounds each pair's Hessian as above.
        const bool ndcg = m_params.eObjective == EObjective::RankNdcg;
        double ideal = 0.0;
        if (ndcg) {
            // Each row's 2^label and the discount of its place by score,
            // once per group rather than per pair.
            gain.resize(m);
            discount.resize(m);
            for (size_t i = 0; i < m; ++i) gain[i] = portable::Exp(yg[i] * kLn2);
            RankOrder(sg, m, order);
            for (size_t i = 0; i < m; ++i) discount[order[i]] = Discount(i);
            RankOrder(yg, m, order);
            for (size_t i = 0; i < m; ++i) ideal += (gain[order[i]] - 1.0) * Discount(i);
            if (!(ideal > 0.0)) continue;
        }
        for (size_t i = 0; i < m; ++i)
            for (size_t j = 0; j < m; ++j) {
                if (!(yg[i] > yg[j])) continue;
                const double w = ndcg ? std::fabs((gain[i] - gain[j]) * (discount[i] - discount[j])) / ideal : 1.0;
                const double rho = portable::Sigmoid(sg[j] - sg[i]);
                const double h = 2.0 * w * rho * (1.0 - rho);
                gg[i].lfG -= w * rho;
                gg[j].lfG += w * rho;
                gg[i].lfH += h;
                gg[j].lfH += h;
            }
    }
}

double CBoostedTreesTrainer::Loss(EObjective objective, const SData& d, const std::vector<double>& s) {
    const size_t n = d.vLabels.size();
    const std::vector<double>& y = d.vLabels;
    double sum = 0.0;
    size_t count = 0;
    if (objective == EObjective::SquaredError || objective == EObjective::Logistic) {
        for (size_t r = 0; r < n; ++r)
            sum += objective == EObjective::SquaredError ? (s[r] - y[r]) * (s[r] - y[r])
                                                         : Softplus(s[r]) - y[r] * s[r];
        return n ? sum / static_cast<double>(n) : 0.0;
    }
    for (size_t k = 0; k < d.vGroups.size(); ++k) {
        const size_t b = d.vGroups[k], m = GroupEnd(d, k) - b;
        if (objective == EObjective::RankSoftmax) {
            double sumY = 0.0, top = s[b];
            for (size_t i = b; i < b + m; ++i) sumY += y[i], top = std::max(top, s[i]);
            if (!(sumY > 0.0)) continue;
            double z = 0.0;
            for (size_t i = b; i < b + m; ++i) z += portable::Exp(s[i] - top);
            const double logZ = top + portable::Log(z);
            for (size_t i = b; i < b + m; ++i)
                if (y[i] > 0.0) sum += y[i] / sumY * (logZ - s[i]);
            ++count;
            continue;
        }
        for (size_t i = b; i < b + m; ++i)
            for (size_t j = b; j < b + m; ++j)
                if (y[i] > y[j]) sum += Softplus(s[j] - s[i]), ++count;
    }
    return count ? sum / static_cast<double>(count) : 0.0;
}

double CBoostedTreesTrainer::TopOne(const SData& d, const std::vector<double>& s) {
    size_t groups = 0, right = 0;
    for (size_t k = 0; k < d.vGroups.size(); ++k) {
        const size_t b = d.vGroups[k], e = GroupEnd(d, k);
        size_t first = b, best = b;
        for (size_t i = b; i < e; ++i) {
            if (s[i] > s[first]) first = i;
            if (d.vLabels[i] > d.vLabels[best]) best = i;
        }
        if (!(d.vLabels[best] > 0.0)) continue;
        ++groups;
        right += d.vLabels[first] == d.vLabels[best];
    }
    return groups ? static_cast<double>(right) / static_cast<double>(groups) : 0.0;
}

void CBoostedTreesTrainer::_Histogram(const uint32_t* rows, size_t count, SGradient* hist) const {
    std::fill(hist, hist + m_nHistSize, SGradient{0.0, 0.0});
    const size_t nf = m_nFeatures;
    for (size_t k = 0; k < count; ++k) {
        const SGradient gr = m_vGradients[rows[k]];
        const uint8_t* bins = &m_vBins[static_cast<size_t>(rows[k]) * nf];
        for (size_t f = 0; f < nf; ++f) {
            SGradient& cell = hist[m_vOffset[f] + bins[f]];
            cell.lfG += gr.lfG;
            cell.lfH += gr.lfH;
        }
    }
}

CBoostedTreesTrainer::SSplit CBoostedTreesTrainer::_BestSplit(const SGradient* hist, double g, double h) const {
    const double lambda = m_params.lfLambda, minChild = m_params.lfMinChildWeight;
    const double parent = g * g / (h + lambda);
    SSplit best;
    best.lfGain = std::max(m_params.lfMinSplitGain, kMinGain);
    auto consider = [&](double gl, double hl, size_t f, size_t b, bool defaultLeft) {
        const double gr = g - gl, hr = h - hl;
        if (hl < minChild || hr < minChild) return;
        const double gain = gl * gl / (hl + lambda) + gr * gr / (hr + lambda) - parent;
        if (gain > best.lfGain) best = {gain, static_cast<int>(f), static_cast<int>(b), defaultLeft};
    };
    for (size_t f = 0; f < m_nFeatures; ++f) {
        const SGradient* fh = hist + m_vOffset[f];
        const size_t nb = m_vCuts[f].size() + 1;
        const SGradient missing = fh[nb];
        const bool anyMissing = missing.lfH != 0.0 || missing.lfG != 0.0;
        double gl = 0.0, hl = 0.0;
        for (size_t b = 1; b < nb; ++b) {
            gl += fh[b - 1].lfG;
            hl += fh[b - 1].lfH;
            // Missing values left first: with none in the node both ways
            // are equal and left is the default.
            consider(gl + missing.lfG, hl + missing.lfH, f, b, true);
            if (anyMissing) consider(gl, hl, f, b, false);
        }
    }
    return best;
}

std::vector<CBoostedTrees::SNode> CBoostedTreesTrainer::_GrowTree(std::vector<uint32_t>& rows,
                                                                   std::vector<double>& scores) {
    const double eta = m_params.lfLearningRate, lambda = m_params.lfLambda;
    std::vector<CBoostedTrees::SNode> nodes(1);
    std::vector<SGrowing> level(1), next;
    SGrowing& root = level[0];
    root.nEnd = rows.size();
    for (const uint32_t r : rows) root.lfG += m_vGradients[r].lfG, root.lfH += m_vGradients[r].lfH;
    root.vHist.resize(m_nHistSize);
    _Histogram(rows.data(), rows.size(), root.vHist.data());
    std::vector<uint32_t> right;
    for (int depth = 0; !level.empty(); ++depth) {
        next.clear();
        for (SGrowing& node : level) {
            const SSplit split = depth < m_params.nMaxDepth ? _BestSplit(node.vHist.data(), node.lfG, node.lfH) : SSplit{};
            if (split.nFeature < 0) {
                const double denominator = node.lfH + lambda;
                const double value = denominator > 0.0 ? -node.lfG / denominator * eta : 0.0;
                nodes[node.nNode].lfValue = value;
                for (size_t k = node.nBegin; k < node.nEnd; ++k) scores[rows[k]] += value;
                continue;
            }
            // Stable partition: each side keeps row order, so sums stay in
            // the same order every time.
            const uint8_t* column = &m_vColumns[static_cast<size_t>(split.nFeature) * m_nRows];
            const uint32_t missing = static_cast<uint32_t>(m_vCuts[split.nFeature].size() + 1);
            const uint32_t below = static_cast<uint32_t>(split.nBin);
            SGrowing left, other;
            size_t out = node.nBegin, nRight = 0;
            right.resize(node.nEnd - node.nBegin);
            // Without branches: which way a row goes is a coin toss to the
            // processor. Adding 0 leaves a sum as it is.
            for (size_t k = node.nBegin; k < node.nEnd; ++k) {
                const uint32_t r = rows[k];
                const uint32_t slot = column[r];
                const bool goLeft = slot == missing ? split.bDefaultLeft : slot < below;
                const SGradient gr = m_vGradients[r];
                left.lfG += goLeft ? gr.lfG : 0.0;
                left.lfH += goLeft ? gr.lfH : 0.0;
                other.lfG += goLeft ? 0.0 : gr.lfG;
                other.lfH += goLeft ? 0.0 : gr.lfH;
                rows[out] = r;
                right[nRight] = r;
                out += goLeft;
                nRight += !goLeft;
            }
            std::copy(right.begin(), right.begin() + static_cast<std::ptrdiff_t>(nRight),
                      rows.begin() + static_cast<std::ptrdiff_t>(out));
            left.nBegin = node.nBegin, left.nEnd = out;
            other.nBegin = out, other.nEnd = node.nEnd;
            CBoostedTrees::SNode& parent = nodes[node.nNode];
            parent.nFeature = split.nFeature;
            parent.lfThreshold = m_vCuts[split.nFeature][split.nBin - 1];
            parent.bDefaultLeft = split.bDefaultLeft;
            parent.nLeft = left.nNode = static_cast<int>(nodes.size());
            parent.nRight = other.nNode = left.nNode + 1;
            nodes.resize(nodes.size() + 2);
            next.push_back(std::move(left));
            next.push_back(std::move(other));
            if (depth + 1 >= m_params.nMaxDepth) continue;  // the children will be leaves
            // The smaller child's histogram from its rows, the larger's as
            // the parent's less it.
            SGrowing& l = next[next.size() - 2];
            SGrowing& o = next.back();
            SGrowing& small = l.nEnd - l.nBegin <= o.nEnd - o.nBegin ? l : o;
            SGrowing& large = &small == &l ? o : l;
            small.vHist.resize(m_nHistSize);
            _Histogram(rows.data() + small.nBegin, small.nEnd - small.nBegin, small.vHist.data());
            large.vHist = std::move(node.vHist);
            for (uint32_t i = 0; i < m_nHistSize; ++i) {
                large.vHist[i].lfG -= small.vHist[i].lfG;
                large.vHist[i].lfH -= small.vHist[i].lfH;
            }
        }
        level.swap(next);
    }
    return nodes;
}

bool CBoostedTreesTrainer::Fit(const SData& train, const SData* pValid, const std::vector<std::string>& names,
                               CBoostedTrees& model, std::string& error) {
    const SParams& p = m_params;
    m_vTrainLoss.clear();
    m_vValidLoss.clear();
    m_nBest = 0;
    m_nFeatures = names.size();
    if (names.empty() || names.size() > CBoostedTrees::kMaxFeatures) return error = "1 to " + std::to_string(CBoostedTrees::kMaxFeatures) + " features", false;
    for (size_t k = 0; k < names.size(); ++k) {
        if (names[k].empty() || names[k].find_first_of(" \t\r\n#") != std::string::npos)
            return error = "feature " + std::to_string(k) + ": a name must be one word", false;
        if (std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(k), names[k]) != names.begin() + k)
            return error = "feature \"" + names[k] + "\" named twice", false;
    }
    if (p.nRounds < 0 || !(p.lfLearningRate > 0.0) || p.nMaxDepth < 0 || p.nMaxDepth > 16 || !(p.lfLambda >= 0.0) ||
        !(p.lfMinChildWeight >= 0.0) || !(p.lfMinSplitGain >= 0.0) || p.nMaxBins < 2 || p.nMaxBins > 255 ||
        !(p.lfSubsample > 0.0 && p.lfSubsample <= 1.0) || p.nEarlyStopping < 0 || !std::isfinite(p.lfBaseScore))
        return error = "parameters out of range", false;
    if (train.vLabels.empty()) return error = "no training rows", false;
    if (!_Check(train, "training rows", error) || (pValid && !_Check(*pValid, "validation rows", error))) return false;

    double base = p.lfBaseScore;
    if (p.bAutoBaseScore) {
        double mean = 0.0;
        for (const double y : train.vLabels) mean += y;
        mean /= static_cast<double>(train.vLabels.size());
        base = 0.0;
        if (p.eObjective == EObjective::SquaredError) base = mean;
        if (p.eObjective == EObjective::Logistic) {
            const double q = std::clamp(mean, 1e-6, 1.0 - 1e-6);
            base = portable::Log(q / (1.0 - q));
        }
    }
    CBoostedTrees fitted;
    fitted.Reset(names, p.eObjective, base);
    _MakeBins(train);
    const size_t n = train.vLabels.size(), nf = m_nFeatures;
    std::vector<double> scores(n, base), validScores(pValid ? pValid->vLabels.size() : 0, base);
    m_vTrainLoss.push_back(Loss(p.eObjective, train, scores));
    if (pValid) m_vValidLoss.push_back(Loss(p.eObjective, *pValid, validScores));
    CSplitMix random(p.nSeed);
    std::vector<uint32_t> rows;
    std::vector<char> sampled(n);
    for (int round = 0; round < p.nRounds; ++round) {
        _Gradients(train, scores);
        rows.clear();
        for (uint32_t r = 0; r < n; ++r) {
            sampled[r] = p.lfSubsample >= 1.0 || random.Uniform() < p.lfSubsample;
            if (sampled[r]) rows.push_back(r);
        }
        // The rows the tree grew on get their leaf's value as it is made
        // (bins below a cut are exactly values below its threshold), the
        // others by a walk down the tree.
        const std::vector<CBoostedTrees::SNode> tree = _GrowTree(rows, scores);
        if (!fitted.AddTree(tree, error)) return false;
        for (size_t r = 0; r < n; ++r)
            if (!sampled[r]) scores[r] += TreeValue(tree, &train.vRows[r * nf]);
        m_vTrainLoss.push_back(Loss(p.eObjective, train, scores));
        if (!pValid) continue;
        for (size_t r = 0; r < validScores.size(); ++r) validScores[r] += TreeValue(tree, &pValid->vRows[r * nf]);
        m_vValidLoss.push_back(Loss(p.eObjective, *pValid, validScores));
        if (m_vValidLoss.back() < m_vValidLoss[m_nBest]) m_nBest = m_vValidLoss.size() - 1;
        if (p.nEarlyStopping > 0 && m_vValidLoss.size() - 1 - m_nBest >= static_cast<size_t>(p.nEarlyStopping)) break;
    }
    if (!pValid) m_nBest = fitted.TreeCount();
    if (pValid && p.nEarlyStopping > 0) fitted.Truncate(m_nBest);
    model = std::move(fitted);
    return true;
}
