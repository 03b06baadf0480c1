// Boosted tree speed: scoring one row of 30 features through 200 full trees
// of depth 6 (with a tenth of the values missing) and through a fitted
// ranker of 200 trees, and fitting 200 rounds of depth 6 on 100,000 rows x
// 30 features (5,000 groups of 20 for ranking).

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "rerank/BoostedTreesTrainer.h"

namespace {

constexpr size_t kFeatures = 30;

std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (size_t f = 0; f < kFeatures; ++f) names.push_back("f" + std::to_string(f));
    return names;
}

// A full tree of the given depth, breadth first, random splits.
std::vector<CBoostedTrees::SNode> FullTree(int depth, std::mt19937& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int inner = (1 << depth) - 1, total = (1 << (depth + 1)) - 1;
    std::vector<CBoostedTrees::SNode> nodes(total);
    for (int i = 0; i < total; ++i) {
        if (i < inner) {
            nodes[i].nFeature = static_cast<int>(rng() % kFeatures);
            nodes[i].lfThreshold = u(rng);
            nodes[i].nLeft = 2 * i + 1;
            nodes[i].nRight = 2 * i + 2;
            nodes[i].bDefaultLeft = rng() % 2;
        } else {
            nodes[i].lfValue = u(rng) * 0.1;
        }
    }
    return nodes;
}

// A spectrum's candidates at a time, as the engine scores them.
constexpr size_t kRows = 20;

void BM_ScoreRow(benchmark::State& state) {
    std::mt19937 rng(5);
    CBoostedTrees model;
    model.Reset(Names(), CBoostedTrees::EObjective::RankSoftmax, 0.0);
    std::string error;
    for (int t = 0; t < 200; ++t) model.AddTree(FullTree(6, rng), error);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> rows(kRows * kFeatures);
    for (double& x : rows) x = rng() % 10 == 0 ? NAN : u(rng);
    size_t r = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.Score(&rows[r * kFeatures]));
        r = (r + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScoreRow);

// Rows whose label depends on a few features, not linearly.
CBoostedTreesTrainer::SData MakeData(size_t n, bool ranking, std::mt19937& rng) {
    std::normal_distribution<double> g(0.0, 1.0);
    CBoostedTreesTrainer::SData d;
    d.nFeatures = kFeatures;
    d.vRows.resize(n * kFeatures);
    for (double& x : d.vRows) x = g(rng);
    for (size_t r = 0; r < n; ++r) {
        const double* x = &d.vRows[r * kFeatures];
        const double signal = std::sin(x[0]) + x[1] * x[2] + (x[3] > 0.5 ? 1.0 : 0.0);
        d.vLabels.push_back(ranking ? 0.0 : signal + 0.3 * g(rng));
    }
    if (ranking)
        for (size_t b = 0; b < n; b += 20) {
            d.vGroups.push_back(b);
            size_t best = b;
            for (size_t r = b; r < b + 20; ++r) {
                const double* x = &d.vRows[r * kFeatures];
                if (std::sin(x[0]) + x[1] * x[2] > std::sin(d.vRows[best * kFeatures]) +
                                                       d.vRows[best * kFeatures + 1] * d.vRows[best * kFeatures + 2])
                    best = r;
            }
            d.vLabels[best] = 1.0;
        }
    return d;
}

// The same with a fitted ranker (200 rounds of depth 6 on 20,000 rows):
// its trees are rarely full.
void BM_ScoreFittedRow(benchmark::State& state) {
    std::mt19937 rng(9);
    const CBoostedTreesTrainer::SData d = MakeData(20000, true, rng);
    CBoostedTreesTrainer::SParams p;
    p.eObjective = CBoostedTrees::EObjective::RankSoftmax;
    p.nRounds = 200;
    p.lfMinChildWeight = 0.01;
    CBoostedTreesTrainer trainer(p);
    CBoostedTrees model;
    std::string error;
    trainer.Fit(d, nullptr, Names(), model, error);
    size_t r = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.Score(&d.vRows[r * kFeatures]));
        r = (r + 1) % kRows;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScoreFittedRow);

void BM_Fit(benchmark::State& state) {
    std::mt19937 rng(7);
    const auto objective = static_cast<CBoostedTrees::EObjective>(state.range(0));
    const CBoostedTreesTrainer::SData d = MakeData(100000, objective >= CBoostedTrees::EObjective::RankSoftmax, rng);
    CBoostedTreesTrainer::SParams p;
    p.eObjective = objective;
    p.nRounds = 200;
    p.nMaxDepth = 6;
    p.lfMinChildWeight = objective >= CBoostedTrees::EObjective::RankSoftmax ? 0.01 : 1.0;
    for (auto _ : state) {
        CBoostedTreesTrainer trainer(p);
        CBoostedTrees model;
        std::string error;
        benchmark::DoNotOptimize(trainer.Fit(d, nullptr, Names(), model, error));
    }
}
BENCHMARK(BM_Fit)
    ->Arg(static_cast<int>(CBoostedTrees::EObjective::SquaredError))
    ->Arg(static_cast<int>(CBoostedTrees::EObjective::RankSoftmax))
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
