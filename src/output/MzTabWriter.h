#pragma once
// mzTab 1.0.0, Summary mode, Identification type: the metadata block (MTD),
// the PSM header (PSH) and one PSM row per written candidate. A spectrum
// without a written candidate appears as a comment line (COM) saying why,
// since a PSM row must have a sequence. Empty values are "null"; columns
// beyond the standard ones start with "opt_". Modifications the engine
// knows by mass are named by their UNIMOD accession, others as CHEMMOD mass
// deltas.

#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "records/WorkUnit.h"

class CMzTabWriter {
public:
    // runs: the dataset's spectrum files (ms_run[1], ms_run[2]); specType:
    // their format ("MGF", "mzML", "mzXML", "MS2", "DTA"). A spectrum is
    // referred to by its 0-based index in its file (index=N).
    CMzTabWriter(const CCondition& c, std::vector<std::string> runs, std::string specType);

    // MTD lines and the PSH line.
    std::string Header(const std::string& description) const;
    // Appends the unit's PSM rows (or its COM line).
    void Rows(const CUnitResult& r, std::string& out) const;

    // The mzTab name of a modification of this mass (Da) on this residue (0:
    // the N-terminus): "UNIMOD:35", or "CHEMMOD:+15.9949" for masses of no
    // known entry; *title receives the entry's name ("" for CHEMMOD).
    static std::string ModName(double delta, char residue, std::string* title = nullptr);

private:
    std::string _SpectraRef(const CSpectrum& s, int run) const;
    void _VariableMods(std::string& h, int& count) const;

    const CCondition& m_cond;
    std::vector<std::string> m_vRuns;
    std::string m_strSpecType;
};
