#pragma once
// Reader of a folder of DTA files (one spectrum per .dta/.DTA file), listed
// in byte order of the file names.
//
// A DTA file holds "[M+H]+ charge" (Da, taken as written) and then one
// "m/z intensity" peak per line; peaks stay in file order. A byte-order mark
// before the first line is skipped. Titles are the file names in lower case.
// Only regular files (or links to them) are read: any other entry with a DTA
// name (a pipe, a socket, a device, a folder) would block or fail the read,
// so it is reported with a warning and not counted. A file that cannot be
// read is reported, skipped, and marks the reader Failed(). A charge that is
// missing, negative or above INT_MAX is read as 0 (an impossible precursor)
// with a warning.

#include <string>
#include <vector>

#include "input/Input.h"

class CDTAInput : public CInput {
public:
    unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) override;
    unsigned int Count(const std::string& path) override;
    bool Close() override;
    ~CDTAInput() override;

private:
    // Reads one DTA file into s; false when the file cannot be read.
    // problem receives what is wrong with its first line, if anything.
    static bool _ReadFile(const std::string& path, CSpectrum& s, std::string& problem);

    std::vector<std::string> m_vNames;  // DTA file names of the folder, byte order
    size_t m_nNext = 0;                 // next entry of m_vNames to read
    std::string m_strFolder;            // folder path, always ending in '/'
    unsigned int m_nTotal = 0;
    unsigned int m_nCurrent = 0;
};
