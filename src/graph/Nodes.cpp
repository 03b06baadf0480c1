#include "graph/CandidateGen.h"
// stub
void CNCGraph::_ConstructNodesHCD(const CSpectrum&, std::vector<CPeak>& out) { out.clear(); }
void CNCGraph::_ConstructNodesETD(const CSpectrum&, std::vector<CPeak>& out) { out.clear(); }
void CNCGraph::_Merge(const std::vector<CPeak>&, const double&) { m_vNodes.clear(); }
void CNCGraph::_Merge_HCDETD(const CSpectrum&, const CSpectrum&) { m_vNodes.clear(); m_vNodeWeights.clear(); }
