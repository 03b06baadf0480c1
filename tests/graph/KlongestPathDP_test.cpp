#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <vector>

#include "graph/KlongestPathDP.h"

namespace {

using Rows = std::vector<std::vector<unsigned int>>;
using Weights = std::vector<std::vector<int>>;

struct Graph {
    int n = 0;
    Rows succ;
    Weights w;

    explicit Graph(int nodes) : n(nodes), succ(nodes), w(nodes) {}
    // Edges must be added with ascending targets per source.
    void Add(unsigned int a, unsigned int b, int weight) {
        succ[a].push_back(b);
        w[a].push_back(weight);
    }
    // Weight of a node list, or false when a step is not an edge.
    bool PathWeight(const std::vector<unsigned int>& path, long long& total) const {
        total = 0;
        for (std::size_t x = 1; x < path.size(); ++x) {
            const auto& row = succ[path[x - 1]];
            auto it = std::find(row.begin(), row.end(), path[x]);
            if (it == row.end()) return false;
            total += w[path[x - 1]][static_cast<std::size_t>(it - row.begin())];
        }
        return true;
    }
};

Rows Search(CKlongestPathDP& dp, const Graph& g, int k) {
    Rows out;
    dp.DPKlongestPath(g.n, k, g.succ, g.w, out);
    return out;
}

// Every path weight from 0 to n-1, heaviest first.
std::vector<long long> AllPathWeights(const Graph& g) {
    std::vector<long long> weights;
    std::function<void(unsigned int, long long)> walk = [&](unsigned int v, long long sum) {
        if (static_cast<int>(v) == g.n - 1) {
            weights.push_back(sum);
            return;
        }
        for (std::size_t x = 0; x < g.succ[v].size(); ++x) walk(g.succ[v][x], sum + g.w[v][x]);
    };
    walk(0, 0);
    std::sort(weights.begin(), weights.end(), std::greater<>());
    return weights;
}

// Checks a search result against brute-force enumeration.
void ExpectMatchesBruteForce(CKlongestPathDP& dp, const Graph& g, int k, const Rows& paths) {
    const std::vector<long long> all = AllPathWeights(g);
    const std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(std::max(k, 0)), all.size());
    ASSERT_EQ(paths.size(), want);
    std::set<std::vector<unsigned int>> distinct;
    for (std::size_t r = 0; r < paths.size(); ++r) {
        const auto& p = paths[r];
        ASSERT_GE(p.size(), 2u);
        EXPECT_EQ(p.front(), 0u);
        EXPECT_EQ(p.back(), static_cast<unsigned int>(g.n - 1));
        long long total = 0;
        ASSERT_TRUE(g.PathWeight(p, total)) << "path " << r << " uses a missing edge";
        EXPECT_EQ(total, all[r]) << "rank " << r + 1;
        const std::optional<int> q = dp.Query(g.n - 1, static_cast<int>(r) + 1);
        ASSERT_TRUE(q.has_value());
        EXPECT_EQ(*q, total);
        distinct.insert(p);
    }
    EXPECT_EQ(distinct.size(), paths.size());
}

Graph ExampleGraph() {
    Graph g(4);
    g.Add(0, 1, 5);
    g.Add(0, 2, 4);
    g.Add(1, 2, 0);
    g.Add(1, 3, 1);
    g.Add(2, 3, 3);
    return g;
}

Graph RandomDag(std::mt19937& rng, int n, double density, int lo, int hi) {
    Graph g(n);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    std::uniform_int_distribution<int> weight(lo, hi);
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            if (coin(rng) < density) g.Add(static_cast<unsigned int>(a), static_cast<unsigned int>(b), weight(rng));
    return g;
}

}  // namespace

TEST(KlongestPathDP, Search_FourNodeExample_ThreePathsHeaviestFirstThenStops) {
    CKlongestPathDP dp;
    const Rows paths = Search(dp, ExampleGraph(), 5);
    const Rows expected = {{0, 1, 2, 3}, {0, 2, 3}, {0, 1, 3}};
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(dp.Query(3, 1), 8);
    EXPECT_EQ(dp.Query(3, 2), 7);
    EXPECT_EQ(dp.Query(3, 3), 6);
    EXPECT_FALSE(dp.Query(3, 4).has_value());
    EXPECT_EQ(dp.Query(2, 1), 5);  // 0-1-2
    EXPECT_EQ(dp.Query(2, 2), 4);  // 0-2
}

TEST(KlongestPathDP, Search_SmallCases_ExpectedPaths) {
    CKlongestPathDP dp;
    {
        SCOPED_TRACE("end node unreachable");
        Graph g(4);
        g.Add(0, 1, 3);
        g.Add(0, 2, 1);
        g.Add(1, 2, 2);
        EXPECT_TRUE(Search(dp, g, 5).empty());
        EXPECT_FALSE(dp.Query(3, 1).has_value());
    }
    {
        SCOPED_TRACE("single edge");
        Graph g(2);
        g.Add(0, 1, 7);
        EXPECT_EQ(Search(dp, g, 10), (Rows{{0, 1}}));
    }
    {
        SCOPED_TRACE("k = 0 and negative k leave the output as it was");
        Rows out = {{42}};
        dp.DPKlongestPath(4, 0, ExampleGraph().succ, ExampleGraph().w, out);
        dp.DPKlongestPath(4, -3, ExampleGraph().succ, ExampleGraph().w, out);
        EXPECT_EQ(out, (Rows{{42}}));
        // The object still switched to the new graph.
        Graph other(2);
        other.Add(0, 1, 9);
        dp.DPKlongestPath(other.n, 0, other.succ, other.w, out);
        EXPECT_EQ(dp.Query(1, 1), 9);
        EXPECT_FALSE(dp.Query(3, 1).has_value());
    }
    {
        SCOPED_TRACE("output is appended to");
        Rows out = {{42}};
        const Graph g = ExampleGraph();
        dp.DPKlongestPath(g.n, 1, g.succ, g.w, out);
        EXPECT_EQ(out, (Rows{{42}, {0, 1, 2, 3}}));
    }
    {
        SCOPED_TRACE("one node: no path to a distinct end node");
        Graph g(1);
        EXPECT_EQ(Search(dp, g, 3), (Rows{{0}}));
    }
}

// Equal totals: predecessors are offered highest index first and the heap
// keeps the earlier of two equal entries on top.
TEST(KlongestPathDP, Search_EqualWeights_HigherPredecessorFirst) {
    Graph g(4);
    g.Add(0, 1, 1);
    g.Add(0, 2, 1);
    g.Add(1, 3, 1);
    g.Add(2, 3, 1);
    CKlongestPathDP dp;
    EXPECT_EQ(Search(dp, g, 3), (Rows{{0, 2, 3}, {0, 1, 3}}));
}

// A weight of -1 is a weight like any other, not "no path": a prefix path of
// weight -1 must not hide the paths through it.
TEST(KlongestPathDP, Search_PathOfWeightMinusOne_Found) {
    CKlongestPathDP dp;
    Graph two(2);
    two.Add(0, 1, -1);
    EXPECT_EQ(Search(dp, two, 3), (Rows{{0, 1}}));
    EXPECT_EQ(dp.Query(1, 1), -1);

    Graph three(3);
    three.Add(0, 1, -1);
    three.Add(0, 2, -5);
    three.Add(1, 2, -1);
    EXPECT_EQ(Search(dp, three, 5), (Rows{{0, 1, 2}, {0, 2}}));
    EXPECT_EQ(dp.Query(2, 1), -2);
    EXPECT_EQ(dp.Query(2, 2), -5);

    // Second-rank prefix of weight exactly -1.
    Graph four(4);
    four.Add(0, 1, 0);
    four.Add(0, 2, 2);
    four.Add(1, 2, -1);
    four.Add(2, 3, -3);
    EXPECT_EQ(Search(dp, four, 5), (Rows{{0, 2, 3}, {0, 1, 2, 3}}));
    EXPECT_EQ(dp.Query(2, 2), -1);
    EXPECT_EQ(dp.Query(3, 2), -4);
}

TEST(KlongestPathDP, Search_ExtremeWeights_SumsSaturate) {
    const int hi = std::numeric_limits<int>::max(), lo = std::numeric_limits<int>::min();
    CKlongestPathDP dp;
    Graph up(3);
    up.Add(0, 1, hi);
    up.Add(0, 2, 5);
    up.Add(1, 2, hi);
    EXPECT_EQ(Search(dp, up, 5), (Rows{{0, 1, 2}, {0, 2}}));
    EXPECT_EQ(dp.Query(2, 1), hi);
    Graph down(3);
    down.Add(0, 1, lo);
    down.Add(0, 2, -5);
    down.Add(1, 2, lo);
    EXPECT_EQ(Search(dp, down, 5), (Rows{{0, 2}, {0, 1, 2}}));
    EXPECT_EQ(dp.Query(2, 2), lo);
}

TEST(KlongestPathDP, Search_RandomSmallDags_MatchBruteForce) {
    std::mt19937 rng(20240601);
    CKlongestPathDP dp;  // shared: every search must start from a clean state
    for (int trial = 0; trial < 400; ++trial) {
        const int n = 2 + static_cast<int>(rng() % 9);
        const double density = 0.2 + 0.7 * (rng() % 100) / 100.0;
        // Narrow weight ranges give many ties; some trials are all negative.
        const int lo = trial % 3 == 0 ? -3 : -2;
        const int hi = trial % 3 == 0 ? -1 : 3;
        const Graph g = RandomDag(rng, n, density, lo, hi);
        const int k = static_cast<int>(rng() % 40);
        const Rows paths = Search(dp, g, k);
        SCOPED_TRACE("trial " + std::to_string(trial));
        ExpectMatchesBruteForce(dp, g, k, paths);
        if (HasFatalFailure()) return;
    }
}

TEST(KlongestPathDP, Search_ReusedObject_SameAsFreshObject) {
    std::mt19937 rng(7);
    const Graph big = RandomDag(rng, 40, 0.3, -5, 20);
    const Graph small = RandomDag(rng, 6, 0.6, -2, 2);
    CKlongestPathDP reused;
    const Rows firstBig = Search(reused, big, 60);
    const Rows thenSmall = Search(reused, small, 10);
    const Rows againBig = Search(reused, big, 25);
    CKlongestPathDP fresh1, fresh2, fresh3;
    EXPECT_EQ(firstBig, Search(fresh1, big, 60));
    EXPECT_EQ(thenSmall, Search(fresh2, small, 10));
    EXPECT_EQ(againBig, Search(fresh3, big, 25));
    EXPECT_EQ(firstBig.size(), 60u);
}

// Node indices and ranks above 10000, far beyond any fixed table size.
TEST(KlongestPathDP, Search_TwentyThousandNodeStar_AllRanksCorrect) {
    const int n = 20000;
    Graph g(n);
    std::vector<long long> totals;
    for (int i = 1; i < n - 1; ++i) g.Add(0, static_cast<unsigned int>(i), i % 97);
    for (int i = 1; i < n - 1; ++i) {
        g.Add(static_cast<unsigned int>(i), static_cast<unsigned int>(n - 1), (i * 7) % 13 - 6);
        totals.push_back(i % 97 + (i * 7) % 13 - 6);
    }
    std::sort(totals.begin(), totals.end(), std::greater<>());
    CKlongestPathDP dp;
    const int k = 12000;
    const Rows paths = Search(dp, g, k);
    ASSERT_EQ(paths.size(), static_cast<std::size_t>(k));
    std::set<unsigned int> middles;
    for (int r = 0; r < k; ++r) {
        ASSERT_EQ(paths[r].size(), 3u);
        long long total = 0;
        ASSERT_TRUE(g.PathWeight(paths[r], total));
        ASSERT_EQ(total, totals[static_cast<std::size_t>(r)]) << "rank " << r + 1;
        middles.insert(paths[r][1]);
    }
    EXPECT_EQ(middles.size(), static_cast<std::size_t>(k));
}

// A long chain of diamonds: paths of thousands of nodes.
TEST(KlongestPathDP, Search_LongDiamondChain_HeaviestThenOneLowerStep) {
    const int diamonds = 1500;
    const int n = 3 * diamonds + 1;
    Graph g(n);
    for (int d = 0; d < diamonds; ++d) {
        const auto base = static_cast<unsigned int>(3 * d);
        g.Add(base, base + 1, 1);  // upper route
        g.Add(base, base + 2, 0);  // lower route
        g.Add(base + 1, base + 3, 0);
        g.Add(base + 2, base + 3, 0);
    }
    CKlongestPathDP dp;
    const Rows paths = Search(dp, g, 30);
    ASSERT_EQ(paths.size(), 30u);
    std::set<std::vector<unsigned int>> distinct(paths.begin(), paths.end());
    EXPECT_EQ(distinct.size(), 30u);
    for (std::size_t r = 0; r < paths.size(); ++r) {
        ASSERT_EQ(paths[r].size(), static_cast<std::size_t>(2 * diamonds + 1));
        long long total = 0;
        ASSERT_TRUE(g.PathWeight(paths[r], total));
        EXPECT_EQ(total, r == 0 ? diamonds : diamonds - 1) << "rank " << r + 1;
    }
}
