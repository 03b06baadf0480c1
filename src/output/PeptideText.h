#pragma once
// How every writer spells a scored peptide, and the masses it reports.

#include <string>

#include "conditions/Condition.h"
#include "records/Result.h"

enum class EPeptideText {
    // The native result file: residue letters, variable modifications as
    // three-decimal deltas (M[+15.995], [+42.011]-A), a terminal modification
    // of n-term / c-term as the mark n (leading) or c (trailing).
    Native,
    // ProForma 2.0: residue masses that differ from the built-in ones and
    // variable modifications as deltas on the residue (C[+57.0215],
    // M[+15.9949]), terminal modifications as [+42.0106]-PEPTIDE /
    // PEPTIDE-[-0.984] (four decimals, trailing zeros dropped).
    ProForma,
};

// Appends the peptide in the given form.
void AppendPeptide(std::string& out, const CResult& r, const CCondition& c, EPeptideText form);
// The residues of a result as plain letters (modifications dropped).
std::string PlainSequence(const CResult& r, const CCondition& c);
// [M+H]+ of a result (residues, terminal shifts, water, proton), Da.
double ResultMH(const CResult& r, const CCondition& c);
// A mass delta as "+57.0215" (four decimals, trailing zeros dropped).
std::string Delta(double mass);
// The per-residue confidences, comma-separated ("1,0.5,1"): 1 for both
// sides of a residue seen, 0.5 for one, 0 for none.
std::string ResidueScores(const CResult& r);
// Candidates per spectrum the tables write (table_rows, else report_pep).
size_t TableRows(const CCondition& c);
