#pragma once
// Reader of a folder of DTA files (one spectrum per .dta/.DTA file), listed
// in byte order of the file names.
//
// A DTA file holds "[M+H]+ charge" (Da, taken as written) and then one
// "m/z intensity" peak per line; peaks stay in file order. Titles are the
// file names in lower case. A file that cannot be read is reported on
// standard output, skipped, and marks the reader Failed().

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
    static bool _ReadFile(const std::string& path, CSpectrum& s);

    std::vector<std::string> m_vNames;  // DTA file names of the folder, byte order
    size_t m_nNext = 0;                 // next entry of m_vNames to read
    std::string m_strFolder;            // folder path, always ending in '/'
    unsigned int m_nTotal = 0;
    unsigned int m_nCurrent = 0;
};
