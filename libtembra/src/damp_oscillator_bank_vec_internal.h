/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The damped oscillator bank's record, shared between its source and its
// tests.
#ifndef TEMBRA_DAMP_OSCILLATOR_BANK_VEC_INTERNAL_H
#define TEMBRA_DAMP_OSCILLATOR_BANK_VEC_INTERNAL_H

#include "damp_oscillator_bank_vec.h"
#include "simd_path.h"

// Parallel arrays of _num_oscillators floats each, index i = oscillator i.
struct _damp_oscillator_bank_vec {
  tembra_simd::Path _path;  // vector path of the glide, chosen at creation
  float _samplerate;      // Hz
  int _num_oscillators;   // N
  float* _amplitude;      // current (gliding) linear amplitude, the one heard
  float* _target_amp;     // amplitude glided towards
  float* _target_freq;    // frequency glided towards, Hz
  float* _alphas;         // fraction of the remaining distance covered per sample
  float* _omega;          // radians per sample for the current frequency
  float* _Zc;             // state phasor Z, real part
  float* _Zs;             // state phasor Z, imaginary part
  float* _Wc;             // rotation W = cos(omega)
  float* _Ws;             //              sin(omega)
  float* _Wcps;           // _Wc + _Ws, for the three-multiplication product
  float* _dpc;            // cos of the output phase offset
  float* _dps;            // sin of the output phase offset
  float* _frequency;      // current (gliding) frequency from the last glide step, Hz
  float _two_pi_inv;      // 1/(2*pi)
  float _sample_rate_inv; // 1/samplerate
  float* _memo_phase;     // phase offsets _dpc and _dps were last computed from
  unsigned _memo_mode;    // the floating-point mode they were computed in
  int _memo_rest;         // calls the memory still rests (see memo.h)
};

// Returns the oscillators to the state creation gives them with these
// amplitudes, frequencies and glide coefficients (N values each): at rest
// on them, phasors at 1 + 0i, no phase offset, the phase memory empty. Not
// exported: the plug-in's activate reaches it through libtembra_restart.
void damp_oscillator_bank_vec_restart(damp_oscillator_bank_vec d, const float* amplitudes,
                                      const float* frequencies, const float* alphas) noexcept;

// Makes d's oscillators (same size) what from's are: amplitudes,
// frequencies, targets, coefficients, phasors and phase offsets. Audio
// thread: no allocation. Not exported: reached through libtembra_copy_state.
void damp_oscillator_bank_vec_copy_state(damp_oscillator_bank_vec d, damp_oscillator_bank_vec from) noexcept;

#endif  // TEMBRA_DAMP_OSCILLATOR_BANK_VEC_INTERNAL_H
