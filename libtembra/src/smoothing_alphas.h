/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The smoothing law of every resonator coefficient, at full vector width:
//   alpha(f) = 1 - exp(-(f dt) / ln(1 + f)), and 0 for f not above 1e-15,
// with f dt a float product, its negation widened to double, ln(1 + f) and
// the exponential of the quotient the C library's 4-lane routines (their
// bits, without their table gathers: vector_exp_log.h), 1 - exp in double
// and one rounding to float.
#ifndef TEMBRA_SMOOTHING_ALPHAS_H
#define TEMBRA_SMOOTHING_ALPHAS_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_SMOOTHING_ALPHAS 1

// alphas[k] = alpha(frequencies[k]) for k < count, a multiple of 4, on the
// given path. dt is 1 / samplerate in float. Audio thread: no allocation.
void smoothing_alphas(tembra_simd::Path path, const float* frequencies, float dt, float* alphas, int count) noexcept;
#endif

#endif  // TEMBRA_SMOOTHING_ALPHAS_H
