#pragma once
// Masses by which a fragment peak lies above its prefix (or suffix) residue
// mass, as the spectrum graph reads peaks into nodes. One table, so the
// graph and the answer trace (which asks where the graph should have found
// a node) cannot drift apart.

namespace ionmass {
inline constexpr double kProton = 1.00727647012;
inline constexpr double kWater = 18.0105647;
// HCD: b = prefix + proton (code 1).
inline constexpr double kBOffset = kProton;
// ETD: c = prefix + ammonia + proton (code 3); z (4), z+1 (5), c-1 (6).
inline constexpr double kCOffset = 18.033825575119998;
inline constexpr double kZOffset = 16.01762694024;
inline constexpr double kZPlusOffset = 15.010899035;
inline constexpr double kCMinusOffset = 17.026000540120002;
}  // namespace ionmass
