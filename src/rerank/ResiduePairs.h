#pragma once
// How much likelier each ordered pair of neighbouring residues is in real
// peptides than their separate frequencies make it: a prior that tells a
// candidate from a reordering of its own residues (same masses, the same
// fragments matched but one) when the spectrum cannot.
//
// Counted from labelled peptides (`vemra train` counts the truth peptides of
// its sets), each distinct sequence once, so a protein measured a thousand
// times does not teach its own pairs as the rule. Entry (a, b) is
// ln((n_ab + 1) / (N + 19^2)) - ln(p_a) - ln(p_b), p_a and p_b the smoothed
// shares of a as the first and b as the second residue of a pair. I is L;
// modified residues count as their residue; letters that are no residue
// take no part.
//
// Text (inside a re-ranking model file): a line "residue_pairs ALPHABET",
// then one line of 19 numbers per first residue in alphabet order.
//
// Read-only once made: MeanLogOdds may run on any number of threads. The
// same peptides give the same table bit for bit (portable logarithms).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CResiduePairs {
public:
    static constexpr int kLetters = 19;
    static const char* const kAlphabet;  // "ACDEFGHKLMNPQRSTVWY"

    // A table of zeros: every pair as likely as its residues.
    CResiduePairs();

    // Counts the pairs of these peptides (residue letters; other characters
    // are skipped and break the pair).
    void Fit(const std::vector<std::string>& peptides);

    // Mean log-odds over the neighbouring pairs of residues (letters), 0
    // without a pair.
    double MeanLogOdds(const char* letters, int length) const;

    // Reads the kLetters rows of the table (each line's text with its line
    // number in the file). False with "line N: why" in error; the table is
    // unchanged then.
    bool ParseRows(const std::vector<std::pair<int, std::string_view>>& rows, std::string& error);
    bool ParseRows(const std::vector<std::pair<int, std::string>>& rows, std::string& error);
    // The header line and the rows.
    std::string Text() const;

    double m_lfLogOdds[kLetters][kLetters];

private:
    static int _Code(char letter);
};
