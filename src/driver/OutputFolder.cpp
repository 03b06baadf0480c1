#include "driver/OutputFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "common/Console.h"

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

COutputFolder::~COutputFolder() {
    if (m_nLockFd >= 0) close(m_nLockFd);
}

bool COutputFolder::Open(const std::string& folder) {
    m_strFolder = folder;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        console::Error() << "cannot create the output folder " << folder << ": " << ec.message();
        return false;
    }
    // Two runs writing one folder would interleave their records; the lock
    // lives as long as this process (the kernel drops it even on a crash).
    const std::string lockPath = folder + ".vemra.lock";
    m_nLockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_nLockFd < 0) {
        console::Error() << "cannot create the lock file " << lockPath << ": " << std::strerror(errno);
        return false;
    }
    if (flock(m_nLockFd, LOCK_EX | LOCK_NB) != 0) {
        console::Error() << "another vemra run is writing into " << folder
                         << "; wait for it to end or give this run another output name";
        close(m_nLockFd);
        m_nLockFd = -1;
        return false;
    }
    return true;
}

std::string COutputFolder::UniqueBase(const std::string& base, const std::string& source) {
    std::string name = base;
    for (int k = 2; m_setUsed.count(Upper(name)) || Upper(name) == "TIME"; ++k) name = base + "_" + std::to_string(k);
    m_setUsed.insert(Upper(name));
    if (name != base)
        console::Info() << "the results of " << source << " are named " << name << " (the name " << base
                        << " is taken in this run)";
    return name;
}

void COutputFolder::RemoveLeftovers(const std::string& base) const {
    std::error_code ec;
    const std::string temp = base + ".txt.tmp.";
    const std::string worker = base + "Vemra+_Result.txt.";
    for (const auto& entry : std::filesystem::directory_iterator(m_strFolder, ec)) {
        const std::string name = entry.path().filename().string();
        const bool stale = name.rfind(temp, 0) == 0 ||
                           (name.rfind(worker, 0) == 0 && name.size() > worker.size() &&
                            name.find_first_not_of("0123456789", worker.size()) == std::string::npos);
        if (stale) std::filesystem::remove(entry.path(), ec);
    }
}

std::string COutputFolder::TempName(const std::string& target) {
    return target + ".tmp." + std::to_string(getpid());
}

bool COutputFolder::Commit(const std::string& temp, const std::string& target) {
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        console::Error() << "cannot rename " << temp << " to " << target << ": " << std::strerror(errno)
                         << "; the results are kept under the first name";
        return false;
    }
    return true;
}
