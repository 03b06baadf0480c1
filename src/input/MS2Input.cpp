#include "input/MS2Input.h"
// stub
unsigned int CMS2Input::Browse(std::vector<CSpectrum>&, unsigned int) { return 0; }
unsigned int CMS2Input::Count(const std::string&) { return 0; }
bool CMS2Input::Close() { return true; }
CMS2Input::~CMS2Input() {}
