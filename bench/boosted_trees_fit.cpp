// Fits a boosted tree ensemble on rows from text files and writes its
// scores of a test file, for bench/compare_boosting.py (which fits a
// reference library on the same files):
//
//   boosted_trees_fit OBJECTIVE TRAIN VALID TEST SCORES [KEY=VALUE ...]
//
// OBJECTIVE: squared_error, logistic, rank_softmax, rank_pairwise or
// rank_ndcg. A data file has one row per line: label, group id (rows of a
// group side by side; ignored unless ranking), then the features; "nan" is
// a missing value. VALID may be "-" (no validation set). Keys: rounds, eta,
// depth, lambda, min_child_weight, gamma, bins, subsample, seed,
// early_stopping, base_score, model (a path to write the model to).
// Prints the fitting time (processor seconds) and the losses, then writes one score per line.

#include <charconv>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "rerank/BoostedTreesTrainer.h"

namespace {

using SData = CBoostedTreesTrainer::SData;

bool ReadData(const std::string& path, SData& d) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line, word;
    double lastGroup = 0.0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<double> v;
        while (fields >> word) {
            double x = 0.0;
            if (std::from_chars(word.data(), word.data() + word.size(), x).ec != std::errc()) return false;
            v.push_back(x);
        }
        if (v.empty()) continue;
        if (v.size() < 3 || (d.nFeatures && v.size() - 2 != d.nFeatures)) return false;
        d.nFeatures = v.size() - 2;
        if (d.vLabels.empty() || v[1] != lastGroup) d.vGroups.push_back(d.vLabels.size());
        lastGroup = v[1];
        d.vLabels.push_back(v[0]);
        d.vRows.insert(d.vRows.end(), v.begin() + 2, v.end());
    }
    return !d.vLabels.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::cerr << "usage: boosted_trees_fit OBJECTIVE TRAIN VALID|- TEST SCORES [KEY=VALUE ...]\n";
        return 2;
    }
    CBoostedTreesTrainer::SParams p;
    bool known = false;
    for (const auto e : {CBoostedTrees::EObjective::SquaredError, CBoostedTrees::EObjective::Logistic,
                         CBoostedTrees::EObjective::RankSoftmax, CBoostedTrees::EObjective::RankPairwise,
                         CBoostedTrees::EObjective::RankNdcg})
        if (argv[1] == std::string(CBoostedTrees::ObjectiveName(e))) p.eObjective = e, known = true;
    if (!known) return std::cerr << "[error]\tunknown objective " << argv[1] << "\n", 2;
    std::string modelPath;
    for (int k = 6; k < argc; ++k) {
        const std::string arg = argv[k];
        const size_t eq = arg.find('=');
        const std::string key = arg.substr(0, eq), value = eq == std::string::npos ? "" : arg.substr(eq + 1);
        const double v = std::atof(value.c_str());
        if (key == "rounds") p.nRounds = static_cast<int>(v);
        else if (key == "eta") p.lfLearningRate = v;
        else if (key == "depth") p.nMaxDepth = static_cast<int>(v);
        else if (key == "lambda") p.lfLambda = v;
        else if (key == "min_child_weight") p.lfMinChildWeight = v;
        else if (key == "gamma") p.lfMinSplitGain = v;
        else if (key == "bins") p.nMaxBins = static_cast<int>(v);
        else if (key == "subsample") p.lfSubsample = v;
        else if (key == "seed") p.nSeed = static_cast<uint64_t>(v);
        else if (key == "early_stopping") p.nEarlyStopping = static_cast<int>(v);
        else if (key == "base_score") p.bAutoBaseScore = false, p.lfBaseScore = v;
        else if (key == "model") modelPath = value;
        else return std::cerr << "[error]\tunknown key " << key << "\n", 2;
    }
    SData train, valid, test;
    if (!ReadData(argv[2], train)) return std::cerr << "[error]\tcannot read " << argv[2] << "\n", 1;
    const bool hasValid = std::string(argv[3]) != "-";
    if (hasValid && !ReadData(argv[3], valid)) return std::cerr << "[error]\tcannot read " << argv[3] << "\n", 1;
    if (!ReadData(argv[4], test)) return std::cerr << "[error]\tcannot read " << argv[4] << "\n", 1;
    std::vector<std::string> names;
    for (size_t f = 0; f < train.nFeatures; ++f) names.push_back("f" + std::to_string(f));

    CBoostedTreesTrainer trainer(p);
    CBoostedTrees model;
    std::string error;
    // Processor time: the machines this runs on are often shared.
    const std::clock_t start = std::clock();
    if (!trainer.Fit(train, hasValid ? &valid : nullptr, names, model, error))
        return std::cerr << "[error]\t" << error << "\n", 1;
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    std::fprintf(stderr, "[info]\t%zu rows x %zu features: %zu trees in %.3f s; train loss %.6g", train.vLabels.size(),
                 train.nFeatures, model.TreeCount(), seconds, trainer.TrainLoss()[model.TreeCount()]);
    if (hasValid) std::fprintf(stderr, ", validation loss %.6g", trainer.ValidLoss()[model.TreeCount()]);
    std::fprintf(stderr, "\n");

    std::vector<double> scores(test.vLabels.size());
    for (size_t r = 0; r < scores.size(); ++r) scores[r] = model.Score(&test.vRows[r * test.nFeatures]);
    std::fprintf(stderr, "[info]\ttest loss %.6g", CBoostedTreesTrainer::Loss(p.eObjective, test, scores));
    if (p.eObjective >= CBoostedTrees::EObjective::RankSoftmax)
        std::fprintf(stderr, ", top-1 %.4f", CBoostedTreesTrainer::TopOne(test, scores));
    std::fprintf(stderr, "\n");
    std::ofstream out(argv[5]);
    char buf[40];
    for (const double s : scores) std::snprintf(buf, sizeof buf, "%.17g\n", s), out << buf;
    if (!modelPath.empty()) std::ofstream(modelPath) << model.Text("fitted by boosted_trees_fit");
    return out ? 0 : 1;
}
