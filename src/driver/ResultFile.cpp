#include "driver/ResultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/Console.h"
#include "driver/OutputFolder.h"

namespace {

// Bytes gathered before they are handed to the system: few calls, and a
// buffer per output file that stays small beside a worker.
constexpr size_t kBufferBytes = 1 << 18;

}  // namespace

bool CResultFile::Open(const std::string& target) {
    Discard();
    m_strTarget = target;
    m_strTemp = COutputFolder::TempName(target) + ".XXXXXX";
    m_bFailed = false;
    // mkstemp creates the file exclusively, so nothing planted under the
    // name (a link to elsewhere) is ever written through.
    m_nFd = mkostemp(m_strTemp.data(), O_CLOEXEC);
    if (m_nFd < 0) {
        console::Error() << "cannot create the result file " << m_strTemp << ": " << std::strerror(errno);
        return false;
    }
    // The file gets the permissions an ordinary new file would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(m_nFd, 0666 & ~mask);
    return true;
}

void CResultFile::Write(const std::string& text) {
    if (m_nFd < 0 || m_bFailed) return;
    m_buffer += text;
    if (m_buffer.size() >= kBufferBytes) _Flush();
}

bool CResultFile::_Flush() {
    for (size_t done = 0; done < m_buffer.size();) {
        const ssize_t n = ::write(m_nFd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A partial file helps nobody and may be what fills the disk for
            // the next dataset: it goes at once.
            console::Error() << "writing the result file " << m_strTemp << " failed: "
                             << std::strerror(n < 0 ? errno : ENOSPC) << "; it is removed";
            m_bFailed = true;
            close(m_nFd);
            m_nFd = -1;
            std::remove(m_strTemp.c_str());
            m_buffer.clear();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    m_buffer.clear();
    return true;
}

bool CResultFile::Commit(bool quiet) {
    if (m_nFd < 0) return false;
    bool ok = _Flush();
    if (ok && fsync(m_nFd) != 0 && errno != EINVAL) {
        console::Error() << "writing the result file " << m_strTemp << " failed: " << std::strerror(errno);
        ok = false;
    }
    if (m_nFd >= 0 && close(m_nFd) != 0 && ok) {
        console::Error() << "writing the result file " << m_strTemp << " failed: " << std::strerror(errno);
        ok = false;
    }
    m_nFd = -1;
    if (!ok) {
        std::remove(m_strTemp.c_str());
        return false;
    }
    std::error_code ec;
    if (!quiet && std::filesystem::exists(std::filesystem::symlink_status(m_strTarget, ec)))
        console::Info() << "the earlier results " << m_strTarget << " are replaced";
    // A failed rename keeps the whole file under its temporary name.
    return COutputFolder::Commit(m_strTemp, m_strTarget);
}

void CResultFile::Discard() {
    if (m_nFd >= 0) {
        close(m_nFd);
        m_nFd = -1;
        std::remove(m_strTemp.c_str());
    }
    m_buffer.clear();
}

bool CResultFile::WriteWhole(const std::string& target, const std::string& text) {
    CResultFile f;
    if (!f.Open(target)) return false;
    f.Write(text);
    return f.Commit(true);
}
