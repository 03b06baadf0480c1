#include "input/DTAInput.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/Console.h"
#include "input/TextScan.h"

namespace {

// Exactly ".dta" or ".DTA" at the end; mixed case does not count.
bool IsDtaName(const std::string& name) {
    if (name.size() < 4) return false;
    const char* e = name.c_str() + name.size() - 4;
    return std::char_traits<char>::compare(e, ".dta", 4) == 0 ||
           std::char_traits<char>::compare(e, ".DTA", 4) == 0;
}

// Opens a regular file for reading without ever blocking: a pipe would
// wait in open() for a writer that never comes.
FILE* OpenRegular(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE* fp = fdopen(fd, "r");
    if (fp == nullptr) close(fd);
    return fp;
}

}  // namespace

unsigned int CDTAInput::Count(const std::string& path) {
    Close();
    m_nTotal = 0;
    m_nCurrent = 0;
    m_nSkipped = 0;
    m_strFolder = path;

    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(path, ec);
    if (ec || path.empty()) {
        console::Error() << "cannot open the DTA folder " << textscan::Where(path) << ": " << std::strerror(errno);
        m_bFailed = true;
        return 0;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!IsDtaName(name)) continue;
        // The status of what a link points to: a link to a DTA file is read.
        std::error_code sec;
        if (!it->is_regular_file(sec)) {
            console::Warning() << it->path().string()
                               << " is not a regular file (a pipe, socket, device, folder or broken link); it is skipped";
            continue;
        }
        m_vNames.push_back(std::move(name));
    }
    if (ec) {
        // The listing broke off: keep what was listed, but report it.
        console::Error() << "cannot list folder " << textscan::Where(path) << ": " << std::strerror(errno);
        m_bFailed = true;
    }
    // The file system's order is arbitrary; byte order makes runs repeatable.
    std::sort(m_vNames.begin(), m_vNames.end());
    if (m_strFolder.back() != '/') m_strFolder += '/';
    m_nTotal = static_cast<unsigned int>(m_vNames.size());
    return m_nTotal;
}

bool CDTAInput::_ReadFile(const std::string& path, CSpectrum& s, std::string& problem) {
    FILE* fp = OpenRegular(path);
    if (fp == nullptr) return false;
    char bom[3];
    if (std::fread(bom, 1, 3, fp) != 3 || !textscan::StartsWithBom(bom, 3)) std::rewind(fp);
    // An unreadable first line leaves [M+H]+ and charge at 0.
    s.m_lfPrecursorMH = 0.0;
    s.m_nCharge = 0;
    if (std::fscanf(fp, "%lf", &s.m_lfPrecursorMH) != 1) {
        problem = "the first line holds no [M+H]+ and charge";
    } else {
        // The charge as text, so that a huge or negative one is refused
        // rather than wrapped ("%d" would overflow).
        char text[64] = "";
        if (std::fscanf(fp, " %63[-+0-9]", text) == 1 && std::strlen(text) == 63) (void)std::fscanf(fp, "%*[-+0-9]");
        int z = 0;
        switch (textscan::ReadCharge(text, text + std::strlen(text), z)) {
            case textscan::ECharge::OK: s.m_nCharge = z; break;
            case textscan::ECharge::NONE: problem = "the first line holds no charge"; break;
            case textscan::ECharge::NEGATIVE: problem = std::string("the charge ") + text + " is negative"; break;
            case textscan::ECharge::RANGE: problem = std::string("the charge ") + text + " is out of range"; break;
        }
    }
    if (!problem.empty()) problem += ": the precursor is unknown, so the spectrum is not sequenced";
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
    std::string problem;
    while (m_nCurrent < limit && m_nNext < m_vNames.size()) {
        const std::string& name = m_vNames[m_nNext++];
        const std::string path = m_strFolder + name;
        CSpectrum s;
        s.m_strTitle = name;
        for (char& c : s.m_strTitle)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        problem.clear();
        if (!_ReadFile(path, s, problem)) {
            // Skip the file; the spectra read so far stay, the run ends failed.
            console::Error() << "cannot read the DTA file " << textscan::Where(path) << ": " << std::strerror(errno);
            m_bFailed = true;
            ++m_nSkipped;
            continue;
        }
        if (!problem.empty()) _Warn(path, m_nCurrent + 1, "", problem);
        out.push_back(std::move(s));
        ++m_nCurrent;
    }
    return m_nCurrent - start;
}

bool CDTAInput::Close() {
    _EndProblems(m_strFolder);
    m_vNames.clear();
    m_nNext = 0;
    return true;
}

CDTAInput::~CDTAInput() = default;
