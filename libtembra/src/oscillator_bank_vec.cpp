// SPDX-License-Identifier: LGPL-2.1-or-later
// Oscillator bank: N phasor oscillators whose amplitudes, frequencies and
// phase offsets are replaced by every update; see oscillator_bank_vec.h.
#include "oscillator_bank_vec.h"

#include <cstdlib>

#include "cpu_level.h"
#include "oscillator_bank_vec_internal.h"
#include "phasor_kernels.h"
#include "state_copy.h"

// The state of new oscillators: the given amplitudes and frequencies, every
// phasor at 1 + 0i, no phase offset. Written by creation and by restart.
void oscillator_bank_vec_restart(oscillator_bank_vec o, const float* amplitudes,
                                 const float* frequencies) noexcept {
  const int n = o->_num_oscillators;
  phasor_copy(o->_amplitude, amplitudes, n);
  phasor_init(n, o->_samplerate, frequencies, o->_omega, o->_Zc, o->_Zs, o->_Wc, o->_Ws,
              o->_Wcps, o->_dpc, o->_dps, o->_frequency);
}

// Everything of oscillator_bank_vec_new after the processor check.
__attribute__((noinline)) static oscillator_bank_vec create_oscillator_bank_vec(
    int num_oscillators, const float* amplitudes, const float* frequencies,
    float samplerate) noexcept {
  auto* o = static_cast<oscillator_bank_vec>(std::calloc(1, sizeof(_oscillator_bank_vec)));
  if (o == nullptr) return nullptr;
  const int n = num_oscillators;
  const bool ok = phasor_alloc(&o->_amplitude, n, nullptr) && phasor_alloc(&o->_omega, n, nullptr) &&
                  phasor_alloc(&o->_Zc, n, nullptr) && phasor_alloc(&o->_Zs, n, nullptr) &&
                  phasor_alloc(&o->_Wc, n, nullptr) && phasor_alloc(&o->_Ws, n, nullptr) &&
                  phasor_alloc(&o->_Wcps, n, nullptr) && phasor_alloc(&o->_dpc, n, nullptr) &&
                  phasor_alloc(&o->_dps, n, nullptr) && phasor_alloc(&o->_frequency, n, nullptr);
  if (!ok) {
    oscillator_bank_vec_free(o);
    return nullptr;
  }
  o->_path = tembra_simd::choose_path();
  o->_samplerate = samplerate;
  o->_num_oscillators = n;
  o->_two_pi_inv = kTwoPiInv;
  o->_sample_rate_inv = 1.0f / samplerate;
  oscillator_bank_vec_restart(o, amplitudes, frequencies);
  return o;
}

MORVANE_BASELINE_CODE
oscillator_bank_vec oscillator_bank_vec_new(int num_oscillators, const float* amplitudes,
                                            const float* frequencies, float samplerate) noexcept {
  if (!morvane_cpu_has_build_level()) return nullptr;
  return create_oscillator_bank_vec(num_oscillators, amplitudes, frequencies, samplerate);
}

MORVANE_BASELINE_CODE
void oscillator_bank_vec_free(oscillator_bank_vec o) noexcept {
  if (o == nullptr) return;
  std::free(o->_amplitude);
  std::free(o->_omega);
  std::free(o->_Zc);
  std::free(o->_Zs);
  std::free(o->_Wc);
  std::free(o->_Ws);
  std::free(o->_Wcps);
  std::free(o->_dpc);
  std::free(o->_dps);
  std::free(o->_frequency);
  std::free(o);
}

void oscillator_bank_vec_update(oscillator_bank_vec o, const float* amplitudes,
                                const float* frequencies, const float* phases) noexcept {
  const int n = o->_num_oscillators;
  const float factor = phasor_freq_to_omega(o->_sample_rate_inv);
  phasor_copy(o->_amplitude, amplitudes, n);

  // Only a changed frequency costs a sine and a cosine; Z is left alone, so
  // the oscillator goes on from its current phase at the new speed.
  float* __restrict omega = o->_omega;
  float* __restrict wc = o->_Wc;
  float* __restrict ws = o->_Ws;
  float* __restrict wcps = o->_Wcps;
  const float* __restrict current = o->_frequency;
  for (int i = 0; i < n; ++i) {
    if (phasor_frequency_changed(current[i], frequencies[i])) {
      omega[i] = frequencies[i] * factor;
      phasor_set_rotation(omega[i], &wc[i], &ws[i], &wcps[i]);
    }
  }
  phasor_copy(o->_frequency, frequencies, n);

  if (phases != nullptr) phasor_set_offsets(o->_path, n, phases, o->_dpc, o->_dps);
}

void oscillator_bank_vec_increment_phase(oscillator_bank_vec o) noexcept {
  phasor_rotate(o->_path, o->_num_oscillators, o->_Zc, o->_Zs, o->_Wc, o->_Ws, o->_Wcps);
}

float oscillator_bank_vec_get_sample(oscillator_bank_vec o) noexcept {
  return phasor_sum(o->_num_oscillators, o->_amplitude, o->_Zc, o->_Zs, o->_dpc, o->_dps);
}

void oscillator_bank_vec_get_sample_pair(oscillator_bank_vec o, const float* gains_l, const float* gains_r,
                                         float* out_l, float* out_r) noexcept {
  phasor_sum_pair(o->_num_oscillators, o->_amplitude, o->_Zc, o->_Zs, o->_dpc, o->_dps, gains_l, gains_r,
                  out_l, out_r);
}

void oscillator_bank_vec_copy_state(oscillator_bank_vec o, oscillator_bank_vec from) noexcept {
  static constexpr float* _oscillator_bank_vec::*arrays[] = {
      &_oscillator_bank_vec::_amplitude, &_oscillator_bank_vec::_omega, &_oscillator_bank_vec::_Zc,
      &_oscillator_bank_vec::_Zs,        &_oscillator_bank_vec::_Wc,    &_oscillator_bank_vec::_Ws,
      &_oscillator_bank_vec::_Wcps,      &_oscillator_bank_vec::_dpc,   &_oscillator_bank_vec::_dps,
      &_oscillator_bank_vec::_frequency};
  tembra_state::copy_arrays(o, from, arrays, o->_num_oscillators);
}
