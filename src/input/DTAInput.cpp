#include "input/DTAInput.h"
// stub
unsigned int CDTAInput::Browse(std::vector<CSpectrum>&, unsigned int) { return 0; }
unsigned int CDTAInput::Count(const std::string&) { return 0; }
bool CDTAInput::Close() { return true; }
CDTAInput::~CDTAInput() {}
