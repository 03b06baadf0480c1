#pragma once
// k heaviest paths from node 0 to node n-1 of a DAG with integer edge
// weights, by lazy recursive enumeration: each node keeps a max-heap of
// candidate continuations and the ranks it has settled. Tables grow with the
// graph and are reused between searches; nothing is fixed-size.

#include <cstddef>
#include <limits>
#include <optional>
#include <queue>
#include <vector>

// Sum of path and edge weights, saturated to the int range: edge weights may
// themselves be saturated, and an int sum of two such weights would
// overflow. Equal to the plain sum whenever that fits in an int.
inline int AddWeight(int total, int weight) {
    const long long sum = static_cast<long long>(total) + weight;
    if (sum > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (sum < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(sum);
}

// A worker's tables of rows (edge rows, paths) keep their storage from one
// spectrum to the next: rows a smaller graph does not need wait in a spare
// pool, and new rows are taken from it before any is made.
template <class T>
void ParkRows(std::vector<std::vector<T>>& rows, std::vector<std::vector<T>>& spare, std::size_t keep) {
    while (rows.size() > keep) {
        spare.push_back(std::move(rows.back()));
        rows.pop_back();
    }
}
// An empty row, with the storage of a spare one where there is one.
template <class T>
std::vector<T> TakeRow(std::vector<std::vector<T>>& spare) {
    if (spare.empty()) return {};
    std::vector<T> row = std::move(spare.back());
    spare.pop_back();
    row.clear();
    return row;
}

struct QueNodeDP {
    int nTotal = 0;    // weight of the whole path from node 0
    int nWeight = 0;   // weight of the last edge
    int nPred = -1;    // predecessor node, -1 for the empty path of node 0
    int nRank = 0;     // rank of the predecessor's path used

    // The heap orders by total weight only.
    bool operator<(const QueNodeDP& o) const { return nTotal < o.nTotal; }
};

struct AdjLinkDP {
    int nNode = 0;     // other end of the edge
    int nWeight = 0;
    int nNext = -1;    // pool index of the next link, -1 ends the list
};

class CKlongestPathDP {
public:
    // Appends up to k paths (node lists 0 .. n-1), heaviest first, to out;
    // a path's list is taken from spare (emptied) while it has one.
    // successors[i] ascending, weights[i] parallel to it; an edge must lead
    // to a higher index below n (others are ignored, so the graph stays
    // acyclic). Ties between equal weights follow the per-node heaps and the
    // order predecessors are offered in (highest index first).
    void DPKlongestPath(const int& n, const int& k, const std::vector<std::vector<unsigned int>>& successors,
                        const std::vector<std::vector<int>>& weights, std::vector<std::vector<unsigned int>>& out,
                        std::vector<std::vector<unsigned int>>* spare = nullptr);
    // Weight of the r-th heaviest path from node 0 to v; nullopt when v has
    // fewer than r paths (or v, r out of range). Any int is a valid weight
    // (-1 included). Answers for the graph of the last DPKlongestPath; settles ranks
    // lazily and caches them.
    std::optional<int> Query(int v, int r);
    // Appends the nodes of the r-th path to v, from node 0 to v.
    void ShowPath(int v, int r, std::vector<unsigned int>& out);
    // Links a new entry (node, weight) right behind pool[head] and advances
    // used; a list thus runs in reverse order of insertion. Grows the pool
    // when it is full.
    void insert(std::vector<AdjLinkDP>& pool, int& used, int head, int node, int weight);

private:
    // Settles the next rank of v from its queue; false when v has no more paths.
    bool _SettleNext(int v);

    int m_nNodes = 0;  // node count of the current search
    // Per node, reused between searches (sized to the largest graph seen).
    std::vector<std::priority_queue<QueNodeDP>> m_que;
    std::vector<std::vector<int>> m_vDist;        // settled weights, rank r at [r-1]
    std::vector<std::vector<QueNodeDP>> m_vFrom;  // continuation that settled rank r at [r-1]
    std::vector<AdjLinkDP> m_fwd, m_bwd;
    int m_nFwdUsed = 0, m_nBwdUsed = 0;
    std::vector<char> m_bDone;
};
