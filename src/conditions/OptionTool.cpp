#include "conditions/OptionTool.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

void Trim(const std::string& s, size_t& begin, size_t& end) {
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
}

// Takes surrounding quotes and a trailing remark off value[begin, end).
void CleanValue(const std::string& line, size_t begin, size_t end, CKeyLine& out) {
    Trim(line, begin, end);
    const char q = begin < end ? line[begin] : '\0';
    if (q == '"' || q == '\'') {
        // A quoted value may hold '#' and ';'; only what follows its
        // closing quote can be a remark.
        const size_t close = line.find(q, begin + 1);
        if (close != std::string::npos && close < end) {
            size_t rest = close + 1, restEnd = end;
            Trim(line, rest, restEnd);
            if (rest == restEnd || line[rest] == '#' || line[rest] == ';') {
                out.strValue.assign(line, begin + 1, close - begin - 1);
                out.bQuoted = true;
                out.strRemark.assign(line, rest, restEnd - rest);
                return;
            }
        }
    }
    for (size_t i = begin + 1; i < end; ++i) {
        if ((line[i] == '#' || line[i] == ';') && IsBlank(line[i - 1])) {
            out.strRemark.assign(line, i, end - i);
            end = i;
            Trim(line, begin, end);
            break;
        }
    }
    out.strValue.assign(line, begin, end - begin);
}

}  // namespace

COptionTool::COptionTool(const std::string& fileName) : m_strFileName(fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        const int err = errno;
        throw std::runtime_error("cannot open the parameter file " + fileName + ": " + std::strerror(err));
    }
    _Load(in);
    if (in.bad()) throw std::runtime_error("cannot read the parameter file " + fileName);
}

COptionTool::COptionTool(const std::string& name, const std::string& text) : m_strFileName(name) {
    std::istringstream in(text);
    _Load(in);
}

void COptionTool::_Load(std::istream& in) {
    std::string line;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        // Editors that write a byte-order mark would otherwise hide the
        // first header.
        if (m_vLines.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        m_vLines.push_back(line);
    }
    m_vHeaders.resize(m_vLines.size());
    for (size_t k = 0; k < m_vLines.size(); ++k) {
        std::string name;
        bool closed = false;
        if (ParseHeader(m_vLines[k], name, closed) && closed) m_vHeaders[k] = name;
    }
}

bool COptionTool::ParseHeader(const std::string& line, std::string& name, bool& closed) {
    size_t begin = 0, end = line.size();
    Trim(line, begin, end);
    if (begin == end || line[begin] != '[') return false;
    const size_t close = line.find(']', begin + 1);
    closed = close != std::string::npos;
    size_t nb = begin + 1, ne = closed ? close : end;
    Trim(line, nb, ne);
    name.assign(line, nb, ne - nb);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return true;
}

bool COptionTool::ParseKeyLine(const std::string& line, CKeyLine& out) {
    size_t i = 0;
    const size_t n = line.size();
    while (i < n && IsBlank(line[i])) ++i;
    const size_t keyBegin = i;
    while (i < n && line[i] != '=' && !IsBlank(line[i])) ++i;
    const size_t keyEnd = i;
    while (i < n && IsBlank(line[i])) ++i;
    if (keyEnd == keyBegin || i >= n || line[i] != '=') return false;
    out.strKey.assign(line, keyBegin, keyEnd - keyBegin);
    out.bBlanked = keyBegin != 0 || i != keyEnd || (i + 1 < n && IsBlank(line[i + 1]));
    out.bQuoted = false;
    out.strRemark.clear();
    CleanValue(line, i + 1, n, out);
    return true;
}

bool COptionTool::SplitKeyLine(const std::string& line, std::string& key, std::string& value, bool* blanked) {
    CKeyLine k;
    if (!ParseKeyLine(line, k)) return false;
    key = std::move(k.strKey);
    value = std::move(k.strValue);
    if (blanked) *blanked = k.bBlanked;
    return true;
}

int COptionTool::_FindLine(const std::string& section, const std::string& key) const {
    size_t k = 0;
    while (k < m_vLines.size() && m_vHeaders[k] != section) ++k;
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

