#include "conditions/OptionTool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

COptionTool::COptionTool(const std::string& fileName) : m_strFileName(fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        const int err = errno;
        throw std::runtime_error("cannot open the parameter file " + fileName + ": " + std::strerror(err));
    }
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        m_vLines.push_back(line);
    }
    if (in.bad()) throw std::runtime_error("cannot read the parameter file " + fileName);
}

bool COptionTool::SplitKeyLine(const std::string& line, std::string& key, std::string& value, bool* blanked) {
    size_t i = 0;
    const size_t n = line.size();
    while (i < n && IsBlank(line[i])) ++i;
    const size_t keyBegin = i;
    while (i < n && line[i] != '=' && !IsBlank(line[i])) ++i;
    const size_t keyEnd = i;
    while (i < n && IsBlank(line[i])) ++i;
    if (keyEnd == keyBegin || i >= n || line[i] != '=') return false;
    key.assign(line, keyBegin, keyEnd - keyBegin);
    const bool blanks = keyBegin != 0 || i != keyEnd || (i + 1 < n && IsBlank(line[i + 1]));
    size_t vBegin = i + 1, vEnd = n;
    if (blanks) {
        while (vBegin < vEnd && IsBlank(line[vBegin])) ++vBegin;
        while (vEnd > vBegin && IsBlank(line[vEnd - 1])) --vEnd;
    }
    value.assign(line, vBegin, vEnd - vBegin);
    if (blanked) *blanked = blanks;
    return true;
}

int COptionTool::_FindLine(const std::string& section, const std::string& key) const {
    const std::string header = "[" + section + "]";
    size_t k = 0;
    while (k < m_vLines.size() && m_vLines[k].compare(0, header.size(), header) != 0) ++k;
    if (k == m_vLines.size()) return 0;
    std::string lineKey, value;
    for (++k; k < m_vLines.size(); ++k) {
        const std::string& line = m_vLines[k];
        // The exact form first: it is what almost every line looks like.
        if (line.size() > key.size() && line[key.size()] == '=' && line.compare(0, key.size(), key) == 0)
            return static_cast<int>(k + 1);
        if (SplitKeyLine(line, lineKey, value) && lineKey == key) return static_cast<int>(k + 1);
    }
    return 0;
}

std::string COptionTool::_GetPrivateProfileString(const std::string& section, const std::string& key,
                                                  const std::string& def, int* line) const {
    const int found = _FindLine(section, key);
    if (line) *line = found;
    if (found == 0) return def;
    std::string k, value;
    SplitKeyLine(m_vLines[static_cast<size_t>(found - 1)], k, value);
    return value;
}

int COptionTool::_GetPrivateProfileInt(const std::string& section, const std::string& key, int def) const {
    const std::string value = _GetPrivateProfileString(section, key, "");
    if (value.empty()) return def;
    // atoi semantics without its undefined behaviour on overflow: strtol, then
    // the same narrowing to int that the C library's atoi performs.
    return static_cast<int>(std::strtol(value.c_str(), nullptr, 10));
}

bool COptionTool::Has(const std::string& section, const std::string& key) const {
    return _FindLine(section, key) != 0;
}
