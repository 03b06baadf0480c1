#pragma once
// How the spectrum graph reads a fragment peak as a node: the ion it is taken
// for (CPeak::nType of a node peak) and the mass by which that ion lies above
// its prefix (or below the precursor for a suffix ion). One table, so the
// graph and the answer trace (which asks where the graph should have found
// a node) cannot drift apart.

#include "common/Masses.h"

// Interpretation codes of node peaks.
enum ENodePeak : int {
    kNodeB = 1,        // b ion: prefix + proton
    kNodeY = 2,        // y ion: MH+ - prefix
    kNodeC = 3,        // c ion: prefix + ammonia + proton
    kNodeZ = 4,        // z ion
    kNodeZPlus1 = 5,   // z+1 ion
    kNodeCMinus1 = 6,  // c-1 ion
};
// Peaks of the C-terminal series (their node mass is a complement).
inline bool IsCTermNodePeak(int type) { return type == kNodeY || type == kNodeZ || type == kNodeZPlus1; }

namespace ionmass {
using mass::kProton;
using mass::kWater;
inline constexpr double kBOffset = kProton;
inline constexpr double kCOffset = 18.033825575119998;
inline constexpr double kZOffset = 16.01762694024;
inline constexpr double kZPlusOffset = 15.010899035;
inline constexpr double kCMinusOffset = 17.026000540120002;
}  // namespace ionmass
