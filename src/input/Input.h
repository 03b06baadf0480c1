#pragma once
// Abstract spectrum reader. A reader serves one path: Count opens the source
// and resets the cursor, Browse delivers the next spectra, Close releases it.

#include <string>
#include <vector>

#include "input/Spectrum.h"

class CInput {
public:
    // Browse's batch size meaning "all remaining spectra".
    static constexpr unsigned int ALL = static_cast<unsigned int>(-1);

    // Appends up to n further spectra to out (never clears it); returns how
    // many it appended: min(current + n, total) - current, or fewer when the
    // source ends early (then every further call returns 0).
    virtual unsigned int Browse(std::vector<CSpectrum>& out, unsigned int n) = 0;
    // Opens the source, counts its spectra and prepares Browse.
    virtual unsigned int Count(const std::string& path) = 0;
    virtual bool Close() = 0;
    virtual ~CInput() = default;

    // True once the reader met a source it could not read (a file that could
    // not be opened, ...). The reader has reported it on the console; the run
    // goes on and ends with a failure status.
    bool Failed() const { return m_bFailed; }

protected:
    bool m_bFailed = false;
};
