#pragma once
// Temporary folders and files for the reader tests.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class CTempDir {
public:
    CTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vemra_input_XXXXXX").string();
        char* p = mkdtemp(tmpl.data());
        if (p != nullptr) m_strPath = p;
    }
    ~CTempDir() {
        std::error_code ec;
        if (!m_strPath.empty()) std::filesystem::remove_all(m_strPath, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }

    // Writes content (binary, as given) to name inside the folder; returns the full path.
    std::string Write(const std::string& name, const std::string& content) const {
        std::string full = m_strPath + "/" + name;
        std::ofstream out(full, std::ios::binary);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return full;
    }

private:
    std::string m_strPath;
};
