/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The engine asks in several places whether a float x lies above 1e-15 in
// double precision ((double)x > 1e-15: a power loud enough to read, a
// frequency that moved). For every float x that holds exactly when
// x >= kFemtoFloor, the smallest float above 1e-15 (and both are false for
// NaN), so float lanes can answer it without widening.
#ifndef TEMBRA_FEMTO_FLOOR_H
#define TEMBRA_FEMTO_FLOOR_H

#include <bit>
#include <cstdint>

namespace tembra_floor {

constexpr float smallest_float_above_1e_15() {
  float f = static_cast<float>(1e-15);
  if (static_cast<double>(f) <= 1e-15) f = std::bit_cast<float>(std::bit_cast<std::uint32_t>(f) + 1u);
  return f;
}

inline constexpr float kFemtoFloor = smallest_float_above_1e_15();
static_assert(static_cast<double>(kFemtoFloor) > 1e-15 &&
              static_cast<double>(std::bit_cast<float>(std::bit_cast<std::uint32_t>(kFemtoFloor) - 1u)) <= 1e-15);

}  // namespace tembra_floor

#endif  // TEMBRA_FEMTO_FLOOR_H
