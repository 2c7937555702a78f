/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Internal view of the resonator engine for its tests: the record layout
// and the grid and coefficient helpers of libtembra.cpp. Not installed.
#ifndef TEMBRA_LIBTEMBRA_INTERNAL_H
#define TEMBRA_LIBTEMBRA_INTERNAL_H

#include "damp_oscillator_bank_vec.h"
#include "libtembra.h"
#include "oscillator_bank_vec.h"
#include "simd_path.h"
#include "tracking_resonator_bank_vec.h"

struct _libtembra {
  tembra_simd::Path _path;  // vector path of the per-sample kernels, chosen at creation
  int _srate;
  int _num_resonators;
  float _min_freq;
  float _max_freq;
  float* _frequencies;  // natural frequencies of the grid, Hz
  tracking_resonator_bank_vec _bank;
  float* _ai_buf;  // doubled amplitude readout
  float* _fi_buf;  // frequency readout, Hz
  float* _pi_buf;  // phase readout, radians
  oscillator_bank_vec _obank;
  damp_oscillator_bank_vec _damp_obank;
  float* _damp_alphas;
  // Memory of the resynthesis coefficients: the frequencies of their last
  // evaluation, the coefficients, and the floating-point mode.
  float* _alpha_memo_freq;
  float* _alpha_memo_alpha;
  unsigned _alpha_memo_mode;
  int _alpha_memo_rest;  // calls the memory still rests (see memo.h)
  float* _resynth_amplitudes;
  float* _resynth_frequencies;
  float* _resynth_phases;
  float* _resynth_phase_offsets;  // null unless _rnd_phase_offset
  int _mel_scale;
  int _select_reso;
  int _limit_reso_range;
  int _damp_osc;
  int _rnd_phase_offset;
};

// Returns the engine's signal state (the tracking resonators, both
// oscillator banks' phasors and glides, the resynthesis phases and the
// coefficients' memory) to what libtembra_new left. The grid, the
// coefficients, the options and the random phase offsets stay. Not exported
// (libtembra.so.0 has no such function): the plug-in, which holds both
// engines' objects, calls it from activate.
void libtembra_restart(libtembra lr) noexcept;

// Makes lr's signal state what from's is (an engine built with the same
// arguments): the tracking resonators, both oscillator banks, the last
// readouts and resynthesis input, the glide coefficients. lr's own random
// phase offsets stay. Audio thread: no allocation. Not exported, like
// libtembra_restart: the plug-in uses it where a second channel starts
// from the first one's state.
void libtembra_copy_state(libtembra lr, libtembra from) noexcept;

// The engine's file-local helpers, reachable from the tests. They compute
// exactly what the engine uses internally.
void libtembra_compute_frequencies(int num_freqs, float* freqs, float min_freq,
                                   float max_freq) noexcept;
float libtembra_compute_alpha(float dt, float freq) noexcept;
void libtembra_compute_alphas(int num_resonators, const float* frequencies, float samplerate,
                              float* alphas) noexcept;
void libtembra_compute_betas(int num_resonators, const float* frequencies, float samplerate,
                             float* betas) noexcept;
void libtembra_compute_gammas(int num_resonators, const float* frequencies, float samplerate,
                              float* gammas) noexcept;

#endif  // TEMBRA_LIBTEMBRA_INTERNAL_H
