#pragma once
// Small helpers shared by the tests: scratch folders, files, and running the
// vemra binary as a user would.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "output/ResultReader.h"

namespace testutil {

// A fresh folder under the system's temp folder, removed at scope end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vemra-test-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        path_ = mkdtemp(buf.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& text) {
    const auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent);
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out, err;
};

// Starts the vemra binary with args in folder cwd, stdin from /dev/null,
// stdout and stderr to files in cwd (or stdout to outFd when given). With a
// file size limit (bytes), a file cannot grow beyond it, as on a full disk.
inline pid_t StartVemra(const std::vector<std::string>& args, const std::string& cwd, int outFd = -1,
                        rlim_t fileSizeLimit = 0) {
    const std::string outPath = cwd + "/.stdout", errPath = cwd + "/.stderr";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(127);
        if (fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        int in = open("/dev/null", O_RDONLY);
        int out = outFd >= 0 ? outFd : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        std::string bin = VEMRA_BINARY;
        argv.push_back(bin.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

// Waits for a started run and collects its exit status and output.
inline RunResult WaitVemra(pid_t pid, const std::string& cwd) {
    RunResult r;
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    const std::string outPath = cwd + "/.stdout", errPath = cwd + "/.stderr";
    r.out = ReadFile(outPath);
    r.err = ReadFile(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return r;
}

// Runs the vemra binary with args in folder cwd, stdin from /dev/null.
inline RunResult RunVemra(const std::vector<std::string>& args, const std::string& cwd) {
    return WaitVemra(StartVemra(args, cwd), cwd);
}

// Folder of the shared real/simulated test data, or "" when absent.
// Replaces (or adds, to the section it belongs to) key=value in a parameter text.
inline std::string SetKey(std::string text, const std::string& key, const std::string& value) {
    std::regex line("(^|\n)" + key + "=[^\n]*");
    if (std::regex_search(text, line)) return std::regex_replace(text, line, "$1" + key + "=" + value);
    return text + "\n" + key + "=" + value + "\n";
}

// The records of a result text (native, TSV or mzTab), read the way every
// reader of results reads them; a malformed line fails the reading.
inline std::vector<CResultRecord> ReadRecords(const std::string& text) {
    CResultReader reader;
    reader.m_bReport = false;
    std::vector<CResultRecord> records;
    std::string error;
    if (!reader.ReadText(text, records, error) || !reader.m_vProblems.empty()) records.clear();
    return records;
}

inline std::string SharedData() {
    std::string p = std::string(VEMRA_SOURCE_DIR) + "/../shared/data";
    return std::filesystem::exists(p) ? p : std::string();
}

}  // namespace testutil
