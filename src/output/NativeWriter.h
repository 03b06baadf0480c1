#pragma once
// The native result file: one record per unit that reached the graph,
//   S<number>\t<title>\t[<known answer>\t]
//   P<rank>\t<peptide>\t<score>\t[<confidence>\t<residue confidences>\t]
//   (one P line per written peptide, at most report_pep)
// and an empty line. Scores and confidences as a default-state stream
// writes doubles (general notation, six significant digits).

#include <string>

#include "conditions/Condition.h"
#include "records/WorkUnit.h"

class CNativeWriter {
public:
    explicit CNativeWriter(const CCondition& c) : m_cond(c) {}
    // Appends the unit's record (nothing for a unit without one).
    void Record(const CUnitResult& r, std::string& out) const;

private:
    const CCondition& m_cond;
};
