#include "conditions/OptionTool.h"
// stub
void COptionTool::_GetPrivateProfileString(const std::string&, const char*, const char* def, char* out, int size,
                                           const std::string&) const {
    if (size > 0) { std::string d(def); d.resize(std::min<size_t>(d.size(), size - 1)); d.copy(out, d.size()); out[d.size()] = 0; }
}
int COptionTool::_GetPrivateProfileInt(const std::string&, const char*, int& def, const std::string&) const { return def; }
