/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tracking bank's amplitude readout at full vector width
// (tracking_readouts.cpp).
#ifndef TEMBRA_TRACKING_READOUTS_H
#define TEMBRA_TRACKING_READOUTS_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_TRACKING_READOUTS 1

// out[k] = sqrt(p) where (double)p > 1e-15, else 0, with p = re[k]^2 +
// im[k]^2 in float, for k < count (a multiple of 4) on the given path.
// Audio thread: no allocation.
void tracking_amplitudes_n(tembra_simd::Path path, const float* re, const float* im, float* out, int count) noexcept;
#endif

#endif  // TEMBRA_TRACKING_READOUTS_H
