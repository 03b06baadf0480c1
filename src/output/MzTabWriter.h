#pragma once
// mzTab 1.0.0, Summary mode, Identification type: the metadata block (MTD),
// the PSM header (PSH) and one PSM row per written candidate. A spectrum
// without a written candidate appears as a comment line (COM) saying why,
// since a PSM row must have a sequence. Empty values are "null"; columns
// beyond the standard ones start with "opt_".

#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "records/WorkUnit.h"

class CMzTabWriter {
public:
    // runs: the dataset's spectrum files (ms_run[1], ms_run[2]); byScan:
    // spectra are referred to by scan number (mzML, mzXML) rather than by
    // their 0-based index in the file.
    CMzTabWriter(const CCondition& c, std::vector<std::string> runs, bool byScan)
        : m_cond(c), m_vRuns(std::move(runs)), m_bByScan(byScan) {}

    // MTD lines and the PSH line.
    std::string Header(const std::string& description) const;
    // Appends the unit's PSM rows (or its COM line).
    void Rows(const CUnitResult& r, std::string& out) const;

private:
    std::string _SpectraRef(const CSpectrum& s, int run) const;

    const CCondition& m_cond;
    std::vector<std::string> m_vRuns;
    bool m_bByScan;
};
