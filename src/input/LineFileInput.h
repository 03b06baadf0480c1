#pragma once
// Common part of the readers of line-oriented spectrum files (MGF, MS2): the
// open file, its buffered line reader, the count and the cursor.

#include <cstdio>
#include <string>

#include "input/Input.h"
#include "input/TextScan.h"

class CLineFileInput : public CInput {
public:
    bool Close() override;
    ~CLineFileInput() override;

protected:
    // Opens path, counts its spectra with counter and prepares Browse;
    // returns the count (0 and Failed() when the file cannot be read).
    unsigned int _Open(const std::string& path, textscan::CLineCounter& counter);
    // The next line for Browse (see CLineReader::NextLine); a line cut at
    // the reader's limit is reported as a problem of spectrum `number`.
    bool _NextLine(const char*& line, size_t& len, unsigned long long number) {
        bool cut = false;
        if (!m_reader.NextLine(line, len, cut)) return false;
        if (cut) _WarnCut(number);
        return true;
    }
    void _WarnCut(unsigned long long number);
    // Last step of a Browse call that started at cursor `start`: reports a
    // read error, returns the number of spectra delivered.
    unsigned int _EndBrowse(unsigned int start);

    FILE* m_fp = nullptr;
    std::string m_strPath;
    unsigned int m_nTotal = 0;
    unsigned int m_nCurrent = 0;
    textscan::CLineReader m_reader;  // buffered lines of m_fp
};
