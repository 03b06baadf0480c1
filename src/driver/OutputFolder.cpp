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

bool COutputFolder::Open(const std::string& folder, bool own) {
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
    m_nLockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
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
    if (own) RemoveLeftovers();
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
    // The folder's lock is held: no live run writes here, so every temporary
    // file is what a killed run left (NAME.tmp.PID[.XXXXXX], and the
    // per-worker files of earlier versions).
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_strFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!base.empty() && name.rfind(base + ".", 0) != 0) continue;
        bool stale = false;
        const size_t tmp = name.rfind(".tmp.");
        if (tmp != std::string::npos) {
            const size_t digits = tmp + 5;
            const size_t end = name.find_first_not_of("0123456789", digits);
            stale = end != digits && (end == std::string::npos || (name[end] == '.' && name.size() - end == 7));
        }
        const size_t worker = name.find("Vemra+_Result.txt.");
        if (worker != std::string::npos && name.size() > worker + 18)
            stale = stale || name.find_first_not_of("0123456789", worker + 18) == std::string::npos;
        if (stale && entry.is_regular_file(ec)) std::filesystem::remove(entry.path(), ec);
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
