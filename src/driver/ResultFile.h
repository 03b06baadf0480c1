#pragma once
// One output file of a run, written under a temporary name in its folder and
// renamed onto its final name only when it is complete, so a file with the
// final name is always whole. The temporary is created exclusively (a name
// of its own, never through a link planted there), and renaming replaces a
// link at the final name instead of writing through it. A write that fails
// (a full disk) removes the temporary at once and names the cause; the file
// then stays as it was.

#include <string>

class CResultFile {
public:
    CResultFile() = default;
    CResultFile(const CResultFile&) = delete;
    CResultFile& operator=(const CResultFile&) = delete;
    ~CResultFile() { Discard(); }

    // Creates TARGET.tmp.PID.XXXXXX; false (after an "[error]" line) when it cannot.
    bool Open(const std::string& target);
    bool IsOpen() const { return m_nFd >= 0; }
    // False once a write has failed.
    bool Good() const { return !m_bFailed; }
    void Write(const std::string& text);
    // Writes out, syncs, closes and renames onto the target (saying when
    // earlier results are replaced unless quiet). False, after an "[error]"
    // line, when writing or renaming failed; the target is then untouched.
    bool Commit(bool quiet = false);
    // Closes and removes the temporary file.
    void Discard();

    const std::string& Target() const { return m_strTarget; }

    // Writes a whole small file the same way (the summary, the timing file).
    static bool WriteWhole(const std::string& target, const std::string& text);

private:
    bool _Flush();
    std::string m_strTarget, m_strTemp;
    std::string m_buffer;
    int m_nFd = -1;
    bool m_bFailed = false;
};
