#include "preprocess/PreprocessONE.h"
// stub
void CPreprocessONE::PreProcess(CSpectrum&) {}
void CPreprocessONE::_Deisotope(CSpectrum&) {}
bool CPreprocessONE::_DeisotopeChargeHCD(const CSpectrum&, const unsigned int&, CSpectrum&, const int&, std::vector<int>&) { return false; }
void CPreprocessONE::_TranslateCharge(const CSpectrum&, const int&, CSpectrum&, const int&, const double&) {}
void CPreprocessONE::_Merge(CSpectrum&) {}
void CPreprocessONE::_DelectProcorse(CSpectrum&) {}
