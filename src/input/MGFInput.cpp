#include "input/MGFInput.h"
// stub
unsigned int CMGFInput::Browse(std::vector<CSpectrum>&, unsigned int) { return 0; }
unsigned int CMGFInput::Count(const std::string&) { return 0; }
bool CMGFInput::Close() { return true; }
CMGFInput::~CMGFInput() {}
