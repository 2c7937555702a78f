/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The shake stages' per-resonator loops at full vector width, on a chosen
 * vector path (shake_vec.cpp): the same float and double operations as the
 * scalar forms in shake.cpp, shake_time.cpp and filter_time.cpp, lane by lane.
 * Every count is a multiple of 4. Audio thread: no allocation. */
#ifndef QUIVEX_SHAKE_VEC_H
#define QUIVEX_SHAKE_VEC_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define QUIVEX_SHAKE_VEC 1

namespace quivex_shake_vec {

/* buf[k] = (1 - amount) buf[k] + (amount lfo_val) buf[k]: the first term and
 * the sum in double, the second product in float, left to right. */
void apply_amount_n(tembra_simd::Path path, float amount, float lfo_val, float* buf, int count) noexcept;

/* ai[k] = dry[k] (1 - amount) + amount ai[k]: the wet product in float, the
 * rest in double. */
void mix_n(tembra_simd::Path path, float amount, const float* dry, float* ai, int count) noexcept;

/* The time filter: y = (1 - a) x + a prev, the input's weight and product
 * in double, the memory term a prev a float product; prev = x = y. */
void filter_time_n(tembra_simd::Path path, const float* alphas, float* prev, float* x, int count) noexcept;

}  // namespace quivex_shake_vec

#endif

#endif /* QUIVEX_SHAKE_VEC_H */
