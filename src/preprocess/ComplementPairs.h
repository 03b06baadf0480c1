#pragma once
// Complementary fragment pairs of a cleaned spectrum: a b ion and the y ion
// of the same cleavage add up to the precursor's MH+ plus a proton. Counting
// the pairs that add up to that sum, and to the sum one 13C lower, tells
// whether the instrument picked the precursor's 13C peak.

#include <vector>

#include "input/Spectrum.h"

// Singly charged peaks (peaks in m/z order) that have a singly charged
// partner with which they add up to `sum` within tol; each lighter peak of
// a pair counts once. The doubly charged readings of peaks of unknown charge
// are left out: they double the peaks with guesses, and chance pairs with
// them.
int ComplementPairs(const std::vector<CPeak>& peaks, double sum, double tol);
