#pragma once
// The run's output folder: created, locked against a second run for as long
// as this one lives, and the place where dataset result files are written
// under a temporary name and renamed once whole.

#include <set>
#include <string>

class COutputFolder {
public:
    COutputFolder() = default;
    ~COutputFolder();
    COutputFolder(const COutputFolder&) = delete;
    COutputFolder& operator=(const COutputFolder&) = delete;

    // Creates the folder (with its parents) and takes its lock. False, after
    // an "[error]" line, when the folder cannot be made or another run holds
    // the lock. In a folder of the engine's own (own), what killed runs left
    // is removed at once; elsewhere only a dataset's own leftovers, as it
    // starts (RemoveLeftovers(base)).
    bool Open(const std::string& folder, bool own = true);

    // A dataset base name that no earlier dataset of this run took and that
    // does not name the timing file ("time"); compared without regard to
    // case, so that x.mgf and x.MGF do not share one result file on any file
    // system. A changed name is announced on the console.
    std::string UniqueBase(const std::string& base, const std::string& source);

    // Removes what killed earlier runs left in the folder: every kind of
    // temporary file, or only those of files named base.* (base given).
    void RemoveLeftovers(const std::string& base = std::string()) const;

    // Temporary name of a result file in this folder.
    static std::string TempName(const std::string& target);
    // Renames the whole temporary file onto target. False, after an
    // "[error]" line, when that fails (the temporary file is then kept).
    static bool Commit(const std::string& temp, const std::string& target);

private:
    std::string m_strFolder;
    int m_nLockFd = -1;
    std::set<std::string> m_setUsed;  // bases taken, upper-cased
};
