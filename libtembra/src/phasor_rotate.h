/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The rotation of every phasor of an oscillator bank at full vector width
// (phasor_rotate.cpp).
#ifndef TEMBRA_PHASOR_ROTATE_H
#define TEMBRA_PHASOR_ROTATE_H

#include "simd_path.h"

// The phasor's squared modulus may leave 1 by this much before it is
// pulled back (see phasor_rotate in phasor_kernels.h).
constexpr float kPhasorDrift = 0x1p-10f;

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_PHASOR_ROTATE 1

// Z <- Z * W, then the pull back onto the unit circle, for oscillators
// 0 .. count - 1 (count a multiple of 4) on the given path, each lane with
// the operations of the scalar form in phasor_kernels.h. Audio thread: no
// allocation.
void phasor_rotate_n(tembra_simd::Path path, int count, float* zc, float* zs, const float* wc, const float* ws,
                     const float* wcps) noexcept;
#endif

#endif  // TEMBRA_PHASOR_ROTATE_H
