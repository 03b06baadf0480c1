// The path search against a plain array-based reference: fixed tables, back
// pointers packed as rank * 10000 + predecessor, -1 for "no path". The
// reference is only valid where no path weight is -1 and n < 10000, so the
// graphs here are chosen that way. Equal weights are frequent on purpose:
// the order of equal-weight paths depends on every push and pop of every
// node's heap and on the order predecessors are offered in, and all of that
// must match, not just the weights.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <queue>
#include <random>
#include <set>
#include <vector>

#include "graph/CandidateGen.h"
#include "graph/KlongestPathDP.h"

namespace {

using Rows = std::vector<std::vector<unsigned int>>;
using Weights = std::vector<std::vector<int>>;

constexpr int kNodes = 1010;
constexpr int kRanks = 1009;
constexpr int kLinks = 100010;

struct RefQue {
    int nTotal;
    int nWeight;
    int nCode;
};
bool operator<(const RefQue& a, const RefQue& b) { return a.nTotal < b.nTotal; }

struct RefLink {
    int nNode;
    int nWeight;
    int nNext;
};

class RefSearch {
public:
    RefSearch() {
        for (int v = 0; v < kNodes; ++v) {
            dist[v] = new int[kNodes];
            from[v] = new int[kNodes];
        }
    }
    ~RefSearch() {
        for (int v = 0; v < kNodes; ++v) {
            delete[] dist[v];
            delete[] from[v];
        }
    }

    void Insert(RefLink* pool, int& used, int head, int node, int weight) {
        pool[used].nNext = pool[head].nNext;
        pool[used].nWeight = weight;
        pool[used].nNode = node;
        pool[head].nNext = used;
        ++used;
    }

    void Run(int n, int k, const Rows& succ, const Weights& w, Rows& out) {
        for (int v = 0; v < n; ++v) {
            fwd[v].nNext = -1;
            bwd[v].nNext = -1;
        }
        fwdUsed = bwdUsed = n;
        for (std::size_t s = 0; s < succ.size(); ++s) {
            for (std::size_t j = 0; j < succ[s].size(); ++j) {
                const int t = static_cast<int>(succ[s][j]);
                Insert(fwd, fwdUsed, static_cast<int>(s), t, w[s][j]);
                Insert(bwd, bwdUsed, t, static_cast<int>(s), w[s][j]);
            }
        }
        for (int v = 0; v < n; ++v) {
            dist[v][0] = 0;
            from[v][0] = 0;
            while (!que[v].empty()) que[v].pop();
        }
        for (bool& d : done) d = false;
        for (int r = 1; r <= k; ++r) {
            if (Query(n - 1, r) == -1) break;
            std::vector<unsigned int> path;
            Show(n - 1, r, path);
            out.push_back(path);
        }
    }

    int Query(int v, int r) {
        const int c = dist[v][0];
        if (c >= r) return dist[v][r];
        if (done[v]) return -1;
        if (c == 0) {
            if (bwd[v].nNext == -1) {
                if (v == 0) {
                    que[0].push(RefQue{0, 0, -1});
                    dist[0][0] = 1;
                    dist[0][1] = 0;
                    from[0][0] = 1;
                    from[0][1] = -1;
                    return 0;
                }
                done[v] = true;
                return -1;
            }
            for (int l = bwd[v].nNext; l != -1; l = bwd[l].nNext) {
                const int u = bwd[l].nNode, w = bwd[l].nWeight;
                const int d = Query(u, 1);
                if (d != -1) que[v].push(RefQue{d + w, w, 10000 + u});
            }
            if (!que[v].empty()) {
                dist[v][1] = que[v].top().nTotal;
                from[v][1] = que[v].top().nCode;
                dist[v][0] = from[v][0] = 1;
                return dist[v][1];
            }
            done[v] = true;
            return -1;
        }
        if (que[v].empty() || bwd[v].nNext == -1) {
            done[v] = true;
            return -1;
        }
        const RefQue top = que[v].top();
        que[v].pop();
        const int u = top.nCode % 10000, q = top.nCode / 10000;
        const int d = Query(u, q + 1);
        if (d != -1) que[v].push(RefQue{d + top.nWeight, top.nWeight, (q + 1) * 10000 + u});
        if (!que[v].empty()) {
            dist[v][c + 1] = que[v].top().nTotal;
            from[v][c + 1] = que[v].top().nCode;
            dist[v][0] = from[v][0] = c + 1;
            return dist[v][c + 1];
        }
        done[v] = true;
        return -1;
    }

    void Show(int v, int r, std::vector<unsigned int>& out) {
        const int code = from[v][r];
        if (code != -1) Show(code % 10000, code / 10000, out);
        out.push_back(static_cast<unsigned int>(v));
    }

    int Settled(int v) const { return dist[v][0]; }

private:
    std::priority_queue<RefQue> que[kNodes];
    int* dist[kNodes];
    int* from[kNodes];
    RefLink fwd[kLinks];
    RefLink bwd[kLinks];
    int fwdUsed = 0, bwdUsed = 0;
    bool done[kNodes];
};

struct Graph {
    int n;
    Rows succ;
    Weights w;
    explicit Graph(int nodes) : n(nodes), succ(nodes), w(nodes) {}
};

// True when some path from node 0 to any node weighs exactly -1 (the
// reference cannot represent that weight). Exhaustive; small graphs only.
bool HasPathOfMinusOne(const Graph& g) {
    std::vector<std::set<long long>> sums(static_cast<std::size_t>(g.n));
    sums[0].insert(0);
    for (int v = 0; v < g.n; ++v)
        for (std::size_t x = 0; x < g.succ[v].size(); ++x)
            for (long long s : sums[v]) sums[g.succ[v][x]].insert(s + g.w[v][x]);
    for (const auto& s : sums)
        if (s.count(-1)) return true;
    return false;
}

// Random DAG; when local > 0 edges only reach the next `local` nodes, as in
// a spectrum graph. Weights are drawn from `choices`.
Graph RandomDag(std::mt19937& rng, int n, double density, int local, const std::vector<int>& choices) {
    Graph g(n);
    std::uniform_real_distribution<double> coin(0.0, 1.0);
    for (int a = 0; a < n; ++a) {
        const int top = local > 0 ? std::min(n, a + 1 + local) : n;
        for (int b = a + 1; b < top; ++b) {
            if (coin(rng) >= density) continue;
            g.succ[a].push_back(static_cast<unsigned int>(b));
            g.w[a].push_back(choices[rng() % choices.size()]);
        }
    }
    return g;
}

// Runs both searches, compares the path lists, then asks both for further
// ranks of random nodes in the same order (never skipping a rank) and
// compares every answer and every path.
void Compare(RefSearch& ref, CKlongestPathDP& dp, const Graph& g, int k, std::mt19937& rng,
             std::size_t* found = nullptr) {
    Rows want, got;
    ref.Run(g.n, k, g.succ, g.w, want);
    dp.DPKlongestPath(g.n, k, g.succ, g.w, got);
    ASSERT_EQ(got, want);
    if (found) *found += want.size();

    std::vector<int> asked(static_cast<std::size_t>(g.n), 0);
    for (int step = 0; step < 3 * g.n; ++step) {
        const int v = static_cast<int>(rng() % static_cast<unsigned>(g.n));
        const int r = std::max(asked[v], ref.Settled(v)) + 1;
        if (r > kRanks - 1) continue;
        const int a = ref.Query(v, r);
        const std::optional<int> b = dp.Query(v, r);
        ASSERT_EQ(b.has_value(), a != -1) << "node " << v << " rank " << r;
        if (a == -1) continue;
        asked[v] = r;
        ASSERT_EQ(*b, a) << "node " << v << " rank " << r;
        std::vector<unsigned int> pa, pb;
        ref.Show(v, r, pa);
        dp.ShowPath(v, r, pb);
        ASSERT_EQ(pb, pa) << "node " << v << " rank " << r;
    }
}

}  // namespace

TEST(KlongestPathReference, Search_SmallDagsWithTies_SamePathsSameOrder) {
    std::mt19937 rng(90210);
    auto ref = std::make_unique<RefSearch>();
    CKlongestPathDP dp;
    const std::vector<std::vector<int>> weightSets = {
        {0, 1}, {1, 1, 2}, {0, 1, 2, 3}, {-3, -2, 0, 1, 2}, {-2, 0, 2}, {5}, {0}};
    int compared = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int n = 1 + static_cast<int>(rng() % 11);
        const double density = 0.2 + 0.8 * (rng() % 100) / 100.0;
        const Graph g = RandomDag(rng, n, density, 0, weightSets[trial % weightSets.size()]);
        if (HasPathOfMinusOne(g)) continue;
        const int k = static_cast<int>(rng() % 60);
        SCOPED_TRACE("trial " + std::to_string(trial));
        Compare(*ref, dp, g, k, rng);
        if (HasFatalFailure()) return;
        ++compared;
    }
    EXPECT_GT(compared, 2000);
}

// Spectrum-graph shapes: a few hundred nodes, edges to near nodes only,
// weights from a handful of values (even ones when negative, so that no
// sum is -1), and the usual 200 paths.
TEST(KlongestPathReference, Search_LargeLocalDagsWithTies_SamePathsSameOrder) {
    std::mt19937 rng(4711);
    auto ref = std::make_unique<RefSearch>();
    CKlongestPathDP dp;
    const std::vector<std::vector<int>> weightSets = {{0, 1, 2}, {-4, -2, 0, 2, 4}, {3, 3, 6}, {100, 190, 570}};
    for (int trial = 0; trial < 60; ++trial) {
        const int n = 20 + static_cast<int>(rng() % 280);
        const int local = 2 + static_cast<int>(rng() % 12);
        const Graph g = RandomDag(rng, n, 0.3 + 0.5 * (rng() % 100) / 100.0, local, weightSets[trial % weightSets.size()]);
        const int k = trial % 5 == 0 ? kRanks : 200;
        SCOPED_TRACE("trial " + std::to_string(trial));
        Compare(*ref, dp, g, k, rng);
        if (HasFatalFailure()) return;
    }
}

// Whole graphs as the edge builder makes them: residue walks plus noise over
// the default residues, node weights of a few whole values so that many
// edges weigh the same.
TEST(KlongestPathReference, Search_BuiltSpectrumGraphs_SamePathsSameOrder) {
    CCondition cond;
    cond.InitMods();
    cond.CreateEdgeList();
    ASSERT_FALSE(cond.m_vEdges.empty());
    CNCGraph graph(&cond);
    auto ref = std::make_unique<RefSearch>();
    CKlongestPathDP dp;
    std::mt19937 rng(1234);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::size_t found = 0;
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<CNode> nodes;
        double walk = 0.0;
        for (int x = 0; x < 120; ++x) {
            CNode node;
            if (rng() % 3) {
                walk += cond.m_vEdges[rng() % 19].lfMass + (unit(rng) - 0.5) * 0.004;
                node.lfMass = walk;
            } else {
                node.lfMass = 57.0 + 1500.0 * unit(rng);
            }
            node.lfNWeight = static_cast<double>(rng() % 3);
            node.lfCWeight = static_cast<double>(rng() % 2);
            node.cSupport = static_cast<char>(rng() % 4);
            node.lfTolerance = 0.02;
            nodes.push_back(node);
        }
        const double top = walk + 0.001;
        std::erase_if(nodes, [&](const CNode& node) { return node.lfMass >= top; });
        CNode start;
        start.cSupport = 3;
        nodes.push_back(start);
        CNode end;
        end.lfMass = top;
        end.cSupport = 3;
        end.lfTolerance = 0.02;
        nodes.push_back(end);
        std::sort(nodes.begin(), nodes.end(), CNode::Mz_Less);
        graph.m_vNodes = nodes;
        graph._ConstructEdges();

        Graph g(static_cast<int>(nodes.size()));
        g.succ = graph.m_vSuccessors;
        g.w = graph.m_vEdgeWeights;
        SCOPED_TRACE("trial " + std::to_string(trial));
        Compare(*ref, dp, g, 200, rng, &found);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(found, 40u * 100u);  // the walks give most graphs 200 paths
}
