/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The resynthesis phase offsets at full vector width (phase_offsets.cpp).
#ifndef TEMBRA_PHASE_OFFSETS_H
#define TEMBRA_PHASE_OFFSETS_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_PHASE_OFFSETS 1

// dpc[k] = cos(phases[k]), dps[k] = sin(phases[k]) for k < count (a
// multiple of 4) on the given path, with the bits of the C library's 4-lane
// vector sine and cosine. Audio thread: no allocation.
void phase_offsets_n(tembra_simd::Path path, int count, const float* phases, float* dpc, float* dps) noexcept;
#endif

#endif  // TEMBRA_PHASE_OFFSETS_H
