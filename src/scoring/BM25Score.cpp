#include "scoring/BM25Score.h"
#include "graph/CandidateGen.h"
// stub
CBM25Score::CBM25Score(const CCondition* p) : m_pCondition(p) {}
double CBM25Score::Score(CResult&, const CSpectrum&) { return 0; }
void CBM25Score::_ComputeMZandMatch(CResult&, const CSpectrum&) {}
double CBM25Score::_BM25(CResult&, const CSpectrum&) { return 0; }
bool CBM25Score::_find_and_match(const double&, CResult&, const CSpectrum&, const unsigned int&, const bool&) { return false; }
int CBM25Score::_Match(const double&, CResult&, const CSpectrum&) { return NO_PEAK; }
