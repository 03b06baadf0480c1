#include "common/Console.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace console {

namespace {
std::mutex g_lineLock;
std::atomic<bool> g_bQuiet{false};
bool g_bProgressShown = false;  // guarded by g_lineLock

// Clears a progress line (held lock).
void ClearProgress() {
    if (!g_bProgressShown) return;
    std::fputs("\r\033[K", stderr);
    g_bProgressShown = false;
}
}  // namespace

void SetQuiet(bool quiet) { g_bQuiet.store(quiet); }
bool Quiet() { return g_bQuiet.load(); }

bool Terminal() {
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    return terminal;
}

void Say(ELevel level, const std::string& text) {
    if (level != ELevel::Error && g_bQuiet.load()) return;
    const char* prefix = level == ELevel::Info ? "[info]\t" : level == ELevel::Warning ? "[warning]\t" : "[error]\t";
    std::string line = prefix;
    line += text;
    line += '\n';
    std::lock_guard<std::mutex> lock(g_lineLock);
    ClearProgress();
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void Progress(const std::string& text) {
    if (!Terminal() || g_bQuiet.load()) return;
    std::lock_guard<std::mutex> lock(g_lineLock);
    // Back to the line's start, the new text, and the rest of the old one
    // erased: a shorter line leaves nothing behind.
    std::fputs("\r", stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputs("\033[K", stderr);
    std::fflush(stderr);
    g_bProgressShown = !text.empty();
}

}  // namespace console
