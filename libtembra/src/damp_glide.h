/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The glide of a damped oscillator bank at full vector width (damp_glide.cpp).
#ifndef TEMBRA_DAMP_GLIDE_H
#define TEMBRA_DAMP_GLIDE_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_DAMP_GLIDE 1

// The arrays of one damped bank that a glide step reads and writes.
struct damp_glide_arrays {
  const float* alphas;       // fraction of the remaining distance per sample
  const float* target_amp;   // amplitudes glided towards
  const float* target_freq;  // frequencies glided towards, Hz
  float* amplitude;          // current amplitudes
  float* frequency;          // current frequencies, Hz
  float* omega;              // radians per sample of the current frequencies
  float* wc;                 // rotation W: cos omega,
  float* ws;                 //             sin omega,
  float* wcps;               //             and their sum
};

// One glide step of oscillators 0 .. count - 1 (count a multiple of 4) on
// the given path: amplitude and frequency move the fraction alpha towards
// their targets (in double, the product by 1 - alpha fused with the
// addition, one rounding to float), the frequency starting from the one
// omega stands for; omega and W follow the frequency where it moved by more
// than 1e-15 Hz. omega_to_freq = samplerate / (2 pi) and freq_to_omega =
// -2 pi / samplerate, both in float. Audio thread: no allocation.
void damp_glide(tembra_simd::Path path, const damp_glide_arrays& a, int count, float omega_to_freq,
                float freq_to_omega) noexcept;
#endif

#endif  // TEMBRA_DAMP_GLIDE_H
