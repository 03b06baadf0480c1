#include "graph/CandidateGen.h"
// stub
void CNCGraph::GenerateCandidatePeptidevvPath() { for (size_t i = 0; i < m_vPaths.size(); ++i) GeneratePeptideForOnePath(m_vPaths[i], int(i + 1)); }
void CNCGraph::GeneratePeptideForOnePath(const std::vector<unsigned int>&, const int&) {}
int CNCGraph::GetPeptideLength(const std::string&) { return 0; }
void CNCGraph::transferPep(const std::string&, unsigned int, std::string, std::set<std::string>&) {}
