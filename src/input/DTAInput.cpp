#include "input/DTAInput.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace {

// Exactly ".dta" or ".DTA" at the end; mixed case does not count.
bool IsDtaName(const std::string& name) {
    if (name.size() < 4) return false;
    const char* e = name.c_str() + name.size() - 4;
    return std::char_traits<char>::compare(e, ".dta", 4) == 0 ||
           std::char_traits<char>::compare(e, ".DTA", 4) == 0;
}

}  // namespace

unsigned int CDTAInput::Count(const std::string& path) {
    m_vNames.clear();
    m_nNext = 0;
    m_nTotal = 0;
    m_nCurrent = 0;
    m_strFolder = path;

    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec || path.empty()) {
        std::cerr << "[error]\tcannot open the DTA folder " << path << std::endl;
        m_bFailed = true;
        return 0;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (IsDtaName(name)) m_vNames.push_back(std::move(name));
    }
    if (ec) {
        // The listing broke off: keep what was listed, but report it.
        std::cerr << "[error]\tcannot list folder " << path << std::endl;
        m_bFailed = true;
    }
    // The file system's order is arbitrary; byte order makes runs repeatable.
    std::sort(m_vNames.begin(), m_vNames.end());
    if (m_strFolder.back() != '/') m_strFolder += '/';
    m_nTotal = static_cast<unsigned int>(m_vNames.size());
    return m_nTotal;
}

bool CDTAInput::_ReadFile(const std::string& path, CSpectrum& s) {
    FILE* fp = std::fopen(path.c_str(), "r");
    if (fp == nullptr) return false;
    // An unreadable first line leaves [M+H]+ and charge at 0.
    s.m_lfPrecursorMH = 0.0;
    s.m_nCharge = 0;
    std::fscanf(fp, "%lf %d", &s.m_lfPrecursorMH, &s.m_nCharge);
    // One record for the whole file: a line that holds no number appends the
    // previous peak again, as the format's historical readers do.
    CPeak p;
    char rest[200];
    while (std::fscanf(fp, "%lf %lf", &p.lfMz, &p.lfIntensity) != EOF) {
        // Discard the rest of the line; this also consumes a line that does
        // not start with a number, so the loop always advances.
        if (std::fgets(rest, 199, fp) == nullptr && std::ferror(fp)) break;
        if (std::isfinite(p.lfMz) && std::isfinite(p.lfIntensity)) s.m_vPeaks.push_back(p);
    }
    bool ok = !std::ferror(fp);
    std::fclose(fp);
    return ok;
}

unsigned int CDTAInput::Browse(std::vector<CSpectrum>& out, unsigned int n) {
    unsigned int left = m_nTotal - m_nCurrent;
    unsigned int limit = m_nCurrent + (n < left ? n : left);
    const unsigned int start = m_nCurrent;
    while (m_nCurrent < limit && m_nNext < m_vNames.size()) {
        const std::string& name = m_vNames[m_nNext++];
        const std::string path = m_strFolder + name;
        CSpectrum s;
        s.m_strTitle = name;
        for (char& c : s.m_strTitle)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (!_ReadFile(path, s)) {
            // Skip the file; the spectra read so far stay, the run ends failed.
            std::cerr << "[error]\tcannot read the DTA file " << path << std::endl;
            m_bFailed = true;
            continue;
        }
        out.push_back(std::move(s));
        ++m_nCurrent;
    }
    return m_nCurrent - start;
}

bool CDTAInput::Close() {
    m_vNames.clear();
    m_nNext = 0;
    return true;
}

CDTAInput::~CDTAInput() = default;
