/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tracking bank's per-sample update at full vector width
// (tracking_update.cpp).
#ifndef TEMBRA_TRACKING_UPDATE_H
#define TEMBRA_TRACKING_UPDATE_H

#include "simd_path.h"
#include "tracking_resonator_bank_vec.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_TRACKING_UPDATE 1

// tracking_resonator_bank_vec_update on the given path: the same values as
// the one-by-one form, bit for bit. Audio thread: no allocation.
void tracking_update(tembra_simd::Path path, tracking_resonator_bank_vec t, float sample) noexcept;
#endif

#endif  // TEMBRA_TRACKING_UPDATE_H
