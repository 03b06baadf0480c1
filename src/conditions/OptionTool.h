#pragma once
// Line-by-line reader of the parameter file ("[section]" headers and
// key=value lines). Every lookup reopens and rescans the file: no cache.
//
// Lookup rules: the section header must start in column 1 and is compared
// case-sensitively (text after its ']' is ignored); the key search starts on
// the line after the header and runs on to the end of the file, past later
// headers. A line holds key K when its first strlen(K) characters equal K and
// the next one is '='. CR/LF at the line end are dropped; the rest of the
// value is taken verbatim (spaces, quotes, '#' and ';' included).

#include <string>

class COptionTool {
public:
    // Bytes of the line buffer; one read takes at most kLineBufferSize - 2
    // characters, so a longer physical line is seen as several lines.
    static constexpr int kLineBufferSize = 81960;

    COptionTool(std::string fileName, std::string section)
        : m_strFileName(std::move(fileName)), m_strSection(std::move(section)) {}

    // Writes the value of `key` (or `def`) NUL-terminated into out[0..size-1];
    // a longer value is truncated to size - 1 characters.
    // Throws std::runtime_error (CErrInfo text) when the file cannot be opened.
    void _GetPrivateProfileString(const std::string& section, const char* key, const char* def,
                                  char* out, int size, const std::string& fileName) const;
    // Empty value or missing key: def; otherwise atoi of the value.
    int _GetPrivateProfileInt(const std::string& section, const char* key, int& def,
                              const std::string& fileName) const;

    std::string m_strFileName;
    std::string m_strSection;
};
