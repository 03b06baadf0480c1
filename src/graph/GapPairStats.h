#pragma once
// How much more often one residue follows another in known peptides than
// their frequencies alone would make it: ln of the observed over the expected
// count of the ordered pair, learned from labelled peptides by
// tools/gap_pair_stats.py (GapPairStats.cpp is its output). The spectrum graph
// uses it to order the residues of a gap edge, where the spectrum itself
// says nothing about their order.

// Residue indices: 0..25 the letters A..Z (I counts as L), and these two
// for the peptide's ends.
inline constexpr int kPairStart = 26;  // as the first of a pair: before the first residue
inline constexpr int kPairEnd = 27;    // as the second of a pair: after the last residue

// The log-odds of `second` right after `first`; 0 for an index out of range
// or a letter the statistics never saw.
double GapPairLogOdds(int first, int second);
