#include "conditions/Condition.h"
// stub
CCondition::CCondition() { for (double& m : m_lfAAMass) m = 0; for (double& m : m_lfResidueMassByCode) m = 0; }
bool CCondition::Read(const std::string&) { return true; }
void CCondition::InitMods() {}
void CCondition::CreateEdgeList() {}
void CCondition::Create_Hash_Table() {}
void CCondition::QueryEdges(const double&, const double&, const std::vector<CEdge>& e, const std::vector<int>&,
                            unsigned int& first, unsigned int& last) const { first = last = e.size(); }
double CCondition::CalcPeptideMassDeviation(const double& m) const { return m_bPepTolPpm ? m * m_lfPepTol * 1e-6 : m_lfPepTol; }
double CCondition::CalcFragmentMassDeviation(const double& m) const { return m_bFragTolPpm ? m * m_lfFragTol * 1e-6 : m_lfFragTol; }
bool CCondition::CanMerge(const std::vector<CPeak>&, unsigned int, unsigned int) const { return false; }
void CCondition::GetCorrectSQ() {}
