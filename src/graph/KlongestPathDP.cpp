#include "graph/KlongestPathDP.h"

#include <algorithm>
#include <cstddef>
#include <limits>

void CKlongestPathDP::insert(std::vector<AdjLinkDP>& pool, int& used, int head, int node, int weight) {
    if (static_cast<std::size_t>(used) >= pool.size()) pool.resize(static_cast<std::size_t>(used) + 1);
    AdjLinkDP& link = pool[static_cast<std::size_t>(used)];
    link.nNext = pool[static_cast<std::size_t>(head)].nNext;
    link.nWeight = weight;
    link.nNode = node;
    pool[static_cast<std::size_t>(head)].nNext = used;
    ++used;
}

void CKlongestPathDP::DPKlongestPath(const int& n, const int& k,
                                     const std::vector<std::vector<unsigned int>>& successors,
                                     const std::vector<std::vector<int>>& weights,
                                     std::vector<std::vector<unsigned int>>& out,
                                     std::vector<std::vector<unsigned int>>* spare) {
    m_nNodes = 0;
    if (n <= 0) return;
    const auto nodes = static_cast<std::size_t>(n);

    // Size the pools once for this graph: the first n links are list heads.
    std::size_t edgeCount = 0;
    const std::size_t rows = std::min(nodes, successors.size());
    for (std::size_t s = 0; s < rows; ++s) edgeCount += successors[s].size();
    if (m_fwd.size() < nodes + edgeCount) m_fwd.resize(nodes + edgeCount);
    if (m_bwd.size() < nodes + edgeCount) m_bwd.resize(nodes + edgeCount);
    if (m_que.size() < nodes) {
        m_que.resize(nodes);
        m_vDist.resize(nodes);
        m_vFrom.resize(nodes);
        m_bDone.resize(nodes);
    }

    for (std::size_t v = 0; v < nodes; ++v) {
        m_fwd[v].nNext = -1;
        m_bwd[v].nNext = -1;
    }
    m_nFwdUsed = n;
    m_nBwdUsed = n;
    // Rows in order and head insertion: each backward list visits its
    // predecessors from the highest index to the lowest, which decides ties.
    for (std::size_t s = 0; s < rows; ++s) {
        const std::vector<unsigned int>& row = successors[s];
        const std::size_t count = s < weights.size() ? std::min(row.size(), weights[s].size()) : 0;
        for (std::size_t x = 0; x < count; ++x) {
            const unsigned int t = row[x];
            // Only edges that go forward inside the graph keep it acyclic.
            if (t >= nodes || t <= s) continue;
            const int w = weights[s][x];
            insert(m_fwd, m_nFwdUsed, static_cast<int>(s), static_cast<int>(t), w);
            insert(m_bwd, m_nBwdUsed, static_cast<int>(t), static_cast<int>(s), w);
        }
    }

    for (std::size_t v = 0; v < nodes; ++v) {
        m_vDist[v].clear();
        m_vFrom[v].clear();
        // Popping keeps the heap's storage for the next search.
        while (!m_que[v].empty()) m_que[v].pop();
        m_bDone[v] = 0;
    }
    m_nNodes = n;

    // k <= 0 asks for nothing: no query at all.
    for (int r = 1; r <= k; ++r) {
        if (!Query(n - 1, r)) break;
        out.push_back(spare != nullptr ? TakeRow(*spare) : std::vector<unsigned int>());
        ShowPath(n - 1, r, out.back());
    }
}

bool CKlongestPathDP::_SettleNext(int v) {
    const auto vi = static_cast<std::size_t>(v);
    if (m_bDone[vi]) return false;
    std::priority_queue<QueNodeDP>& que = m_que[vi];
    const int head = m_bwd[vi].nNext;

    if (m_vDist[vi].empty()) {
        if (head == -1) {
            // Only the start node owns a path without edges: the empty one.
            if (v == 0) {
                const QueNodeDP empty{0, 0, -1, 0};
                que.push(empty);
                m_vDist[vi].push_back(0);
                m_vFrom[vi].push_back(empty);
                return true;
            }
            m_bDone[vi] = 1;
            return false;
        }
        for (int l = head; l != -1; l = m_bwd[static_cast<std::size_t>(l)].nNext) {
            const AdjLinkDP& link = m_bwd[static_cast<std::size_t>(l)];
            const std::optional<int> d = Query(link.nNode, 1);
            if (d) que.push({AddWeight(*d, link.nWeight), link.nWeight, link.nNode, 1});
        }
    } else {
        if (que.empty() || head == -1) {
            m_bDone[vi] = 1;
            return false;
        }
        // The top gave the last settled rank; its successor candidate is the
        // same predecessor's next path.
        const QueNodeDP used = que.top();
        que.pop();
        const std::optional<int> d = Query(used.nPred, used.nRank + 1);
        if (d) que.push({AddWeight(*d, used.nWeight), used.nWeight, used.nPred, used.nRank + 1});
    }

    if (que.empty()) {
        m_bDone[vi] = 1;
        return false;
    }
    m_vDist[vi].push_back(que.top().nTotal);
    m_vFrom[vi].push_back(que.top());
    return true;
}

std::optional<int> CKlongestPathDP::Query(int v, int r) {
    if (v < 0 || v >= m_nNodes || r <= 0) return std::nullopt;
    const auto vi = static_cast<std::size_t>(v);
    // Ranks are settled in order; a request beyond the next one settles the
    // ones in between first.
    while (m_vDist[vi].size() < static_cast<std::size_t>(r)) {
        if (!_SettleNext(v)) return std::nullopt;
    }
    return m_vDist[vi][static_cast<std::size_t>(r) - 1];
}

void CKlongestPathDP::ShowPath(int v, int r, std::vector<unsigned int>& out) {
    const std::size_t start = out.size();
    // Follow the back pointers to node 0, then put the nodes in path order.
    while (v >= 0 && v < m_nNodes && r >= 1 &&
           static_cast<std::size_t>(r) <= m_vFrom[static_cast<std::size_t>(v)].size()) {
        out.push_back(static_cast<unsigned int>(v));
        const QueNodeDP& from = m_vFrom[static_cast<std::size_t>(v)][static_cast<std::size_t>(r) - 1];
        v = from.nPred;
        r = from.nRank;
    }
    std::reverse(out.begin() + static_cast<std::ptrdiff_t>(start), out.end());
}
