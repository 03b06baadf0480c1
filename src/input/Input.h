#pragma once
// Abstract spectrum reader. A reader serves one path: Count opens the source
// and resets the cursor, Browse delivers the next spectra, Close releases it.
// A reader is used by one thread.

#include <string>
#include <vector>

#include "input/Spectrum.h"

class CInput {
public:
    // Browse's batch size meaning "all remaining spectra".
    static constexpr unsigned int ALL = static_cast<unsigned int>(-1);

    // Appends up to n further spectra to out (never clears it) and returns
    // how many it appended. Fewer than n only when the source has no more
    // (then every further call returns 0). Spectra the reader had to skip
    // (Skipped()) are passed over, so Count() - Skipped() come out in all
    // when the source is whole.
    virtual unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) = 0;
    // Opens the source, counts its spectra and prepares Browse.
    virtual unsigned int Count(const std::string& path) = 0;
    // Releases the source; also reports how many problems of single spectra
    // were not shown (see _Warn).
    virtual bool Close() = 0;
    virtual ~CInput() = default;

    // True once the reader met a source it could not read (a file that could
    // not be opened, a file cut short, a damaged spectrum, ...). The reader
    // has reported it on the console; the run goes on and ends with a
    // failure status.
    bool Failed() const { return m_bFailed; }
    // Spectra that Count counted but Browse skipped because they were
    // damaged (each reported with an "[error]" line).
    unsigned int Skipped() const { return m_nSkipped; }
    // Quiet: problems of single spectra and of the file's contents (a file
    // cut short) are not shown, for a file read again after a first pass
    // that showed them; Failed() and Skipped() still count. A file that
    // cannot be opened or read is always reported.
    void SetQuiet(bool quiet) { m_bQuiet = quiet; }

protected:
    // Reports a problem of one spectrum: "[warning]\tPATH: spectrum N
    // (TITLE): text" ("[error]" when error), N counted from 1 in file order
    // as the result file's records are (number 0: the text names what is
    // meant, "PATH: text"). Only the first kShownProblems of a
    // source are shown; _EndProblems says how many more there were.
    void _Warn(const std::string& path, unsigned long long number, const std::string& title, const std::string& text,
               bool error = false);
    // The count of problems not shown, once, when reading ends; resets.
    void _EndProblems(const std::string& path);

    bool _Quiet() const { return m_bQuiet; }

    static constexpr unsigned int kShownProblems = 20;

    bool m_bFailed = false;
    unsigned int m_nSkipped = 0;

private:
    bool m_bQuiet = false;
    unsigned long long m_nProblems = 0;  // problems of single spectra met since Count
};
