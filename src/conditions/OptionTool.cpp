#include "conditions/OptionTool.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "conditions/ErrInfo.h"

namespace {

// Copies at most size - 1 characters of src and terminates; nothing when the
// buffer has no room at all.
void CopyBounded(char* out, int size, const char* src, std::size_t len) {
    if (out == nullptr || size <= 0) return;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    if (len > room) len = room;
    std::memcpy(out, src, len);
    out[len] = '\0';
}

void CopyBounded(char* out, int size, const char* src) { CopyBounded(out, size, src, std::strlen(src)); }

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void COptionTool::_GetPrivateProfileString(const std::string& section, const char* key, const char* def,
                                           char* out, int size, const std::string& fileName) const {
    CopyBounded(out, size, "");
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "r"));
    if (!file) {
        CopyBounded(out, size, def);
        CErrInfo info;
        info.m_strClassName = "COptionTool";
        info.m_strMethodName = "_GetPrivateProfileString";
        info.m_strDetail = "cannot find the file.";
        throw std::runtime_error(info.Get());
    }

    const std::string header = "[" + section + "]";
    const std::size_t keyLen = std::strlen(key);
    std::vector<char> line(kLineBufferSize, '\0');
    char* buf = line.data();
    // fgets stores at most n - 1 characters: kLineBufferSize - 2 per read.
    const int readSize = kLineBufferSize - 1;

    bool inSection = false;
    while (std::fgets(buf, readSize, file.get()) != nullptr) {
        if (std::strncmp(buf, header.c_str(), header.size()) == 0) {
            inSection = true;
            break;
        }
    }
    if (!inSection) {
        CopyBounded(out, size, def);
        return;
    }

    while (std::fgets(buf, readSize, file.get()) != nullptr) {
        // strncmp succeeding guarantees buf holds at least keyLen characters,
        // so buf[keyLen] is inside the string just read (possibly its NUL).
        if (std::strncmp(buf, key, keyLen) != 0 || buf[keyLen] != '=') continue;
        std::size_t len = std::strlen(buf);
        while (len > 0 && (buf[len - 1] == '\r' || buf[len - 1] == '\n')) buf[--len] = '\0';
        CopyBounded(out, size, buf + keyLen + 1, len - keyLen - 1);
        return;
    }
    CopyBounded(out, size, def);
}

int COptionTool::_GetPrivateProfileInt(const std::string& section, const char* key, int& def,
                                       const std::string& fileName) const {
    std::vector<char> value(kLineBufferSize, '\0');
    _GetPrivateProfileString(section, key, "", value.data(), kLineBufferSize, fileName);
    if (value[0] == '\0') return def;
    // atoi semantics without its undefined behaviour on overflow: strtol, then
    // the same narrowing to int that the C library's atoi performs.
    return static_cast<int>(std::strtol(value.data(), nullptr, 10));
}
