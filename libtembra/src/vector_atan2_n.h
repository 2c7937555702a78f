/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Arc tangents over arrays on a chosen vector path (vector_atan2.cpp).
#ifndef TEMBRA_VECTOR_ATAN2_N_H
#define TEMBRA_VECTOR_ATAN2_N_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_VECTOR_ATAN2_N 1

namespace tembra_vmath {
// out[k] = (float)atan2((double)y[k], (double)x[k]) for count (a multiple
// of 4) entries, bit for bit. Audio thread: no allocation.
void atan2_n(tembra_simd::Path path, const float* y, const float* x, float* out, int count) noexcept;
}  // namespace tembra_vmath
#endif

#endif  // TEMBRA_VECTOR_ATAN2_N_H
