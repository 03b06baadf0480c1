#pragma once
// The physical constants every stage shares, in Da (monoisotopic). Each value
// is written once here: the result files depend on their exact bits.

namespace mass {

inline constexpr double kProton = 1.00727647012;
inline constexpr double kWater = 18.0105647;
inline constexpr double kAmmonia = 17.026549105;
inline constexpr double kCO = 27.99491463;        // b ion to a ion
inline constexpr double kCarbon = 12;
inline constexpr double kOxygen = 15.99491463;
// 13C - 12C, with the bits the isotope-cluster search was tuned on.
inline constexpr double kIsotopeSpacing = 1.0033499999999993;
// Residue masses and terminal shifts smaller than this are no modification.
inline constexpr double kSmallestShift = 0.1;
// A residue mass this far from the built-in one carries a modification.
inline constexpr double kModifiedResidue = 0.001;
inline constexpr double kCarbamidomethyl = 57.021464;

// Precursor m/z at charge z as [M+H]+ (z x mz - (z - 1) protons), and back.
inline double MHOfMz(double mz, int z) { return static_cast<double>(z) * mz - (static_cast<double>(z) - 1.0) * kProton; }
inline double MzOfMH(double mh, int z) { return z > 0 ? (mh + (z - 1) * kProton) / z : mh; }

}  // namespace mass
