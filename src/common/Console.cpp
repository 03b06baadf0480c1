#include "common/Console.h"

#include <cstdio>
#include <mutex>

namespace console {

namespace {
std::mutex g_lineLock;
}

void Say(ELevel level, const std::string& text) {
    const char* prefix = level == ELevel::Info ? "[info]\t" : level == ELevel::Warning ? "[warning]\t" : "[error]\t";
    std::string line = prefix;
    line += text;
    line += '\n';
    std::lock_guard<std::mutex> lock(g_lineLock);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace console
