/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The oscillator bank's record, shared between its source and its tests.
#ifndef TEMBRA_OSCILLATOR_BANK_VEC_INTERNAL_H
#define TEMBRA_OSCILLATOR_BANK_VEC_INTERNAL_H

#include "oscillator_bank_vec.h"
#include "simd_path.h"

// Parallel arrays of _num_oscillators floats each, index i = oscillator i.
struct _oscillator_bank_vec {
  tembra_simd::Path _path;  // vector path of the rotation, chosen at creation
  float _samplerate;      // Hz
  int _num_oscillators;   // N
  float* _amplitude;      // linear amplitude, replaced by every update
  float* _omega;          // radians per sample, -2*pi*f / samplerate
  float* _Zc;             // state phasor Z, real part
  float* _Zs;             // state phasor Z, imaginary part
  float* _Wc;             // rotation W = cos(omega)
  float* _Ws;             //              sin(omega)
  float* _Wcps;           // _Wc + _Ws, for the three-multiplication product
  float* _dpc;            // cos of the output phase offset
  float* _dps;            // sin of the output phase offset
  float* _frequency;      // last frequency given to update, Hz
  float _two_pi_inv;      // 1/(2*pi)
  float _sample_rate_inv; // 1/samplerate
};

// Returns the oscillators to the state creation gives them with these
// amplitudes and frequencies (N values each): phasors at 1 + 0i, no phase
// offset. Not exported: the plug-in's activate reaches it through
// libtembra_restart.
void oscillator_bank_vec_restart(oscillator_bank_vec o, const float* amplitudes,
                                 const float* frequencies) noexcept;

// Makes o's oscillators (same size) what from's are. Audio thread: no
// allocation. Not exported: reached through libtembra_copy_state.
void oscillator_bank_vec_copy_state(oscillator_bank_vec o, oscillator_bank_vec from) noexcept;

#endif  // TEMBRA_OSCILLATOR_BANK_VEC_INTERNAL_H
