#pragma once
// One result file of a dataset, written under a temporary name in its
// folder and renamed onto its final name only when it is complete, so a file
// with the final name is always whole.

#include <fstream>
#include <string>

class CResultFile {
public:
    // Opens TARGET.tmp.PID; false (after an "[error]" line) when it cannot.
    bool Open(const std::string& target);
    bool IsOpen() const { return m_out.is_open(); }
    void Write(const std::string& text) { m_out.write(text.data(), static_cast<std::streamsize>(text.size())); }
    // Closes and renames onto the target (saying when earlier results are
    // replaced). False, after an "[error]" line, when writing or renaming failed.
    bool Commit();
    // Closes and removes the temporary file.
    void Discard();
    ~CResultFile() { if (m_out.is_open()) Discard(); }

    const std::string& Target() const { return m_strTarget; }

private:
    std::string m_strTarget, m_strTemp;
    std::ofstream m_out;
};
