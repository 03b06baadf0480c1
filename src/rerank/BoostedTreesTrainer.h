#pragma once
// Fits a CBoostedTrees ensemble by gradient boosting: each round takes the
// objective's first and second derivatives at the current scores, grows
// one tree level by level on histograms of quantile bins (each feature cut
// at up to nMaxBins - 1 of its own values), and adds the tree's Newton leaf
// values -G / (H + lambda), times the learning rate. A split must leave at
// least lfMinChildWeight of hessian on each side and gain more than
// lfMinSplitGain; missing values (NaN) go to whichever side gains more, and
// that side is the split's default (left when the node has none).
//
// Objectives (labels):
//   SquaredError   any finite value; loss: mean squared error
//   Logistic       0..1 (a probability or a 0/1 answer); loss: mean log loss
//   RankSoftmax    >= 0 relevance within a group; loss: cross-entropy of
//                  the group's softmax against the relevance shares (one
//                  relevant row: minus the log of its softmax share), mean
//                  over groups with any relevance
//   RankPairwise   >= 0; loss: logistic loss of every pair of rows of a
//                  group with different labels, mean over pairs
//   RankNdcg       >= 0; the pairs weighted by how much swapping them
//                  changes the group's NDCG at the current scores
//                  (gain 2^label - 1); loss as RankPairwise
// Ranking rows come in groups (one spectrum's candidates): vGroups holds
// each group's first row. The rankers' hessians are the diagonal bounds
// 2 p (1 - p) (softmax) and 2 r (1 - r) per pair, so a leaf's Newton step
// never overshoots; the pairwise ones cost the square of the group size.
//
// Deterministic: the same data and parameters give the same model bit for
// bit on every machine (one thread, sums in row order, its own random
// generator and exp/log). Not thread-safe; one trainer per thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rerank/BoostedTrees.h"

class CBoostedTreesTrainer {
public:
    using EObjective = CBoostedTrees::EObjective;

    struct SData {
        size_t nFeatures = 0;
        std::vector<double> vRows;    // row-major, labels.size() x nFeatures; NaN = missing
        std::vector<double> vLabels;  // one per row
        std::vector<size_t> vGroups;  // ranking: first row of each group, 0 first, ascending
    };

    struct SParams {
        EObjective eObjective = EObjective::SquaredError;
        int nRounds = 100;
        double lfLearningRate = 0.1;
        int nMaxDepth = 6;  // 0..16
        double lfLambda = 1.0;  // L2 penalty on leaf values
        double lfMinChildWeight = 1.0;
        double lfMinSplitGain = 0.0;
        int nMaxBins = 255;        // per feature, 2..255
        double lfSubsample = 1.0;  // share of rows each tree is grown on
        uint64_t nSeed = 1;
        // Stop when the validation loss has not fallen for this many rounds
        // and keep the trees up to its lowest; 0: all rounds.
        int nEarlyStopping = 0;
        // Base score: the label mean (SquaredError), its log-odds
        // (Logistic), 0 (ranking); or lfBaseScore when not bAutoBaseScore.
        bool bAutoBaseScore = true;
        double lfBaseScore = 0.0;
    };

    explicit CBoostedTreesTrainer(const SParams& params) : m_params(params) {}

    // Fits a model over the named features on train; pValid (may be null)
    // is scored after every round. False, with why, when the parameters or
    // data do not fit (sizes, labels outside the objective's range,
    // infinite values, groups).
    bool Fit(const SData& train, const SData* pValid, const std::vector<std::string>& names, CBoostedTrees& model,
             std::string& error);

    // Loss with the first k trees at [k], k = 0 (base score) .. trees grown;
    // empty validation loss without a validation set.
    const std::vector<double>& TrainLoss() const { return m_vTrainLoss; }
    const std::vector<double>& ValidLoss() const { return m_vValidLoss; }
    // The tree count with the lowest validation loss (the first such), or
    // every tree without a validation set; with early stopping the model
    // keeps just those.
    size_t BestTrees() const { return m_nBest; }

    // The objective's loss (see above) of scores, one per row of data.
    static double Loss(EObjective objective, const SData& data, const std::vector<double>& scores);
    // Share of groups with any relevance whose highest-scored row has the
    // group's highest label (ties in score go to the earlier row).
    static double TopOne(const SData& data, const std::vector<double>& scores);

private:
    struct SGradient {
        double lfG;
        double lfH;
    };
    struct SSplit {
        double lfGain = 0.0;
        int nFeature = -1;
        int nBin = 0;  // rows with a bin below it go left
        bool bDefaultLeft = true;
    };
    struct SGrowing;

    bool _Check(const SData& data, const char* what, std::string& error) const;
    void _MakeBins(const SData& train);
    void _Gradients(const SData& data, const std::vector<double>& scores);
    void _Histogram(const uint32_t* rows, size_t count, SGradient* hist) const;
    SSplit _BestSplit(const SGradient* hist, double g, double h) const;
    // Grows a tree on rows (reordered, leaf by leaf) and adds each leaf's
    // value to the scores of its rows.
    std::vector<CBoostedTrees::SNode> _GrowTree(std::vector<uint32_t>& rows, std::vector<double>& scores);

    SParams m_params;
    size_t m_nFeatures = 0;
    size_t m_nRows = 0;  // training rows
    // Per feature: its cuts (bin b holds cut[b-1] <= x < cut[b]) and where
    // its histogram starts; its last bin is for missing values.
    std::vector<std::vector<double>> m_vCuts;
    std::vector<uint32_t> m_vOffset;
    uint32_t m_nHistSize = 0;
    // Each training row's bin per feature (missing: the feature's last),
    // row by row for the histograms and feature by feature for the
    // partitions, which read one feature of rows in ascending order.
    std::vector<uint8_t> m_vBins;
    std::vector<uint8_t> m_vColumns;
    std::vector<SGradient> m_vGradients;
    std::vector<double> m_vTrainLoss;
    std::vector<double> m_vValidLoss;
    size_t m_nBest = 0;
};
