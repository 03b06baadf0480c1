#pragma once
// Reader of the parameter file ("[section]" headers and key=value lines).
// The file is read once, whole; lookups search its lines.
//
// A UTF-8 byte-order mark before the first line is dropped, and so are CR/LF
// at line ends. A section header is a line whose first non-blank character
// is '['; its name, up to ']' and trimmed of blanks, is compared without
// regard to case ("[Meta]" opens [meta]); text after the ']' is ignored. The
// key search starts on the line after the section's first header and runs
// on to the end of the file, past later headers.
//
// A key line is optional blanks, the key (no blank, no '='), optional
// blanks, '=' and the value. Keys are compared exactly (case matters). The
// value is cleaned of what a user does not mean to be part of it:
// - blanks, tabs and CRs at both ends are trimmed;
// - a remark, a '#' or ';' after a blank ("x.mgf  # HCD run"), is cut off
//   with the blanks before it;
// - surrounding quotes ("..." or '...') are taken off.
// Otherwise the value is taken verbatim, whatever its length. ParseKeyLine
// tells which of these happened, so that the caller can point them out.

#include <iosfwd>
#include <string>
#include <vector>

// One key line as ParseKeyLine reads it.
struct CKeyLine {
    std::string strKey;
    std::string strValue;   // the cleaned value
    bool bBlanked = false;  // blanks before the key or around '=' were skipped
    bool bQuoted = false;   // surrounding quotes were taken off
    std::string strRemark;  // the remark cut off the value ("# HCD run"); empty: none
};

class COptionTool {
public:
    // Reads the file. Throws std::runtime_error naming the file when it
    // cannot be read.
    explicit COptionTool(const std::string& fileName);
    // The same for a text in memory; name stands for the file in messages.
    COptionTool(const std::string& name, const std::string& text);

    // Value of key in section, or def. *line (when given) receives the
    // 1-based line number of the value, or 0 when def was returned.
    std::string _GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                         int* line = nullptr) const;
    const std::string& FileName() const { return m_strFileName; }
    // The file's lines without their line ends (and the first without a
    // byte-order mark); line n is m_vLines[n - 1].
    const std::vector<std::string>& Lines() const { return m_vLines; }

    // Reads a key line (see above); false when the line is no key line.
    static bool ParseKeyLine(const std::string& line, CKeyLine& out);
    // Splits a key line into key and cleaned value; *blanked tells whether
    // blanks before the key or around '=' were skipped.
    static bool SplitKeyLine(const std::string& line, std::string& key, std::string& value, bool* blanked = nullptr);
    // Reads a section header: false when the line is none. name receives
    // the name in small letters, closed whether a ']' ends it.
    static bool ParseHeader(const std::string& line, std::string& name, bool& closed);

private:
    void _Load(std::istream& in);
    int _FindLine(const std::string& section, const std::string& key) const;

    std::string m_strFileName;
    std::vector<std::string> m_vLines;
    std::vector<std::string> m_vHeaders;  // per line: the section it opens (small letters), or ""
};
