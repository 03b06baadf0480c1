#include "graph/CandidateGen.h"
// stub
void CNCGraph::_ConstructEdges(const CSpectrum&) {
    m_vSuccessors.assign(m_vNodes.size(), {}); m_vEdgeWeights.assign(m_vNodes.size(), {}); m_vGraphEdges.assign(m_vNodes.size(), {}); m_vLabels.clear();
}
std::string CNCGraph::SwapString(const std::string& s) { return s.size() == 2 ? std::string{s[1], s[0]} : std::string(); }
const CGraphEdge* CNCGraph::FindEdge(unsigned int, unsigned int, unsigned int*) const { return nullptr; }
