#pragma once
// The tab-separated result table: a header line, then one row per written
// candidate, and one row (empty peptide, status saying why) for every
// spectrum without a written candidate, so every spectrum read appears.
// Columns: file, spectrum_index (0-based, in its file), title, scan,
// retention_time (s), precursor_mz, charge, rank, peptide, proforma, score,
// ppm_error (precursor, (observed - calculated) / calculated), status,
// paired_file, paired_index. Empty cells are empty; no cell holds a tab.

#include <string>
#include <vector>

#include "conditions/Condition.h"
#include "records/WorkUnit.h"

class CTsvWriter {
public:
    CTsvWriter(const CCondition& c, std::vector<std::string> runs) : m_cond(c), m_vRuns(std::move(runs)) {}

    std::string Header() const;
    // Appends the unit's rows.
    void Rows(const CUnitResult& r, std::string& out) const;

private:
    const CCondition& m_cond;
    std::vector<std::string> m_vRuns;  // spectrum file paths, by run number - 1
};
