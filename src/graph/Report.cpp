#include "graph/CandidateGen.h"
// stub
void CNCGraph::Report_unknowResult(std::ostream&, const CSpectrum&, const CSpectrum&, const double&, const int&) {}
