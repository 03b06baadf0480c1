#pragma once
// Test helpers: the built-in residue masses filled into a condition record by
// hand (letter table, code map and flat code table), as the residue set-up
// of a parameter read would leave them; ion types.

#include <string>
#include <utility>

#include "conditions/Condition.h"

namespace testing_residues {

inline void SetResidue(CCondition& c, char code, double mass) {
    if (code >= 'A' && code <= 'Z') c.m_lfAAMass[code - 'A'] = mass;
    c.m_mapResidueMass[code] = mass;
    c.m_lfResidueMassByCode[static_cast<unsigned char>(code)] = mass;
}

inline void FillBuiltInResidues(CCondition& c) {
    const std::pair<char, double> table[] = {
        {'A', 71.03711},  {'C', 103.00919}, {'D', 115.02694}, {'E', 129.04259}, {'F', 147.06841},
        {'G', 57.02146},  {'H', 137.05891}, {'K', 128.09496}, {'L', 113.08406}, {'M', 131.04049},
        {'N', 114.04293}, {'P', 97.05276},  {'Q', 128.05858}, {'R', 156.10111}, {'S', 87.03203},
        {'T', 101.04768}, {'V', 99.06841},  {'W', 186.07931}, {'Y', 163.06333}};
    for (const auto& [code, mass] : table) SetResidue(c, code, mass);
}

// An ion type as a parameter line "name charge prefix-flag 0 offset" gives it.
inline CIonType Ion(const std::string& name, int z, bool prefix, double offset) {
    CIonType t;
    t.strName = name;
    t.nNumber = z;
    t.bFlag1 = prefix;
    t.lfValue = offset;
    return t;
}

}  // namespace testing_residues
