#pragma once
// Reader of the parameter file ("[section]" headers and key=value lines).
// The file is read once, whole; lookups search its lines.
//
// Lookup rules: the section header must start in column 1 and is compared
// case-sensitively (text after its ']' is ignored); the key search starts on
// the line after the header and runs on to the end of the file, past later
// headers. A line holds key K when its first strlen(K) characters equal K and
// the next one is '='. CR/LF at the line end are dropped; the rest of the
// value is taken verbatim (spaces, quotes, '#' and ';' included), whatever
// its length.
//
// Blanks are tolerated where a user is likely to type them: a line holding
// blanks before the key or around '=' ("  spec_path = x.mgf ") also holds
// the key; its value is then trimmed of blanks at both ends. Such lines are
// listed by BlankedLines() so that the caller can point them out.

#include <string>
#include <vector>

class COptionTool {
public:
    // Reads the file. Throws std::runtime_error naming the file when it
    // cannot be read.
    explicit COptionTool(const std::string& fileName);

    // Value of key in section, or def. *line (when given) receives the
    // 1-based line number of the value, or 0 when def was returned.
    std::string _GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                         int* line = nullptr) const;
    // Empty value or missing key: def; otherwise the value read as atoi does.
    int _GetPrivateProfileInt(const std::string& section, const std::string& key, int def) const;

    // True when the key has a line in section (by the rules above).
    bool Has(const std::string& section, const std::string& key) const;

    const std::string& FileName() const { return m_strFileName; }
    // The file's lines without their line ends; line n is m_vLines[n - 1].
    const std::vector<std::string>& Lines() const { return m_vLines; }

    // Splits a line into key and value when it is a key line: optional
    // blanks, the key (no blank, no '='), optional blanks, '='. *blanked
    // tells whether blanks were skipped (the value is then trimmed).
    static bool SplitKeyLine(const std::string& line, std::string& key, std::string& value, bool* blanked = nullptr);

private:
    int _FindLine(const std::string& section, const std::string& key) const;

    std::string m_strFileName;
    std::vector<std::string> m_vLines;
};
