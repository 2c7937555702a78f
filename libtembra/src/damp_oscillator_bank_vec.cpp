// SPDX-License-Identifier: LGPL-2.1-or-later
// Damped oscillator bank: phasor oscillators whose amplitudes and
// frequencies glide towards the targets given to update; see
// damp_oscillator_bank_vec.h.
#include "damp_oscillator_bank_vec.h"

#include <cmath>
#include <cstdlib>

#include "cpu_level.h"
#include "damp_oscillator_bank_vec_internal.h"
#include "damp_glide.h"
#include "phasor_kernels.h"
#include "state_copy.h"

// One glide step of x towards target by the fraction alpha:
// x * (1 - alpha) + alpha * target, in double precision with 1 - alpha
// formed in double, alpha * target a single-precision product widened, and
// the product by 1 - alpha fused with the addition; rounded to float once.
static inline float glide(float x, double one_minus_alpha, float alpha, float target) {
  return static_cast<float>(std::fma(static_cast<double>(x), one_minus_alpha,
                                     static_cast<double>(alpha * target)));
}

// The state of new oscillators: at rest on the given amplitudes and
// frequencies (targets equal to them), gliding with the given coefficients,
// every phasor at 1 + 0i, no phase offset, the phase memory empty. Written
// by creation and by restart.
void damp_oscillator_bank_vec_restart(damp_oscillator_bank_vec d, const float* amplitudes,
                                      const float* frequencies, const float* alphas) noexcept {
  const int n = d->_num_oscillators;
  phasor_copy(d->_target_amp, amplitudes, n);
  phasor_copy(d->_target_freq, frequencies, n);
  phasor_copy(d->_amplitude, amplitudes, n);
  phasor_copy(d->_alphas, alphas, n);
  phasor_init(n, d->_samplerate, frequencies, d->_omega, d->_Zc, d->_Zs, d->_Wc, d->_Ws,
              d->_Wcps, d->_dpc, d->_dps, d->_frequency);
  d->_memo_mode = kPhasorNoMemo;  // the first phases are all evaluated
  d->_memo_rest = 0;
}

// Everything of damp_oscillator_bank_vec_new after the processor check.
__attribute__((noinline)) static damp_oscillator_bank_vec create_damp_oscillator_bank_vec(
    int num_oscillators, const float* amplitudes, const float* frequencies, const float* alphas,
    float samplerate) noexcept {
  auto* d = static_cast<damp_oscillator_bank_vec>(std::calloc(1, sizeof(_damp_oscillator_bank_vec)));
  if (d == nullptr) return nullptr;
  const int n = num_oscillators;
  const bool ok =
      phasor_alloc(&d->_target_amp, n, nullptr) && phasor_alloc(&d->_target_freq, n, nullptr) &&
      phasor_alloc(&d->_alphas, n, nullptr) && phasor_alloc(&d->_amplitude, n, nullptr) &&
      phasor_alloc(&d->_omega, n, nullptr) && phasor_alloc(&d->_Zc, n, nullptr) &&
      phasor_alloc(&d->_Zs, n, nullptr) && phasor_alloc(&d->_Wc, n, nullptr) &&
      phasor_alloc(&d->_Ws, n, nullptr) && phasor_alloc(&d->_Wcps, n, nullptr) &&
      phasor_alloc(&d->_dpc, n, nullptr) && phasor_alloc(&d->_dps, n, nullptr) &&
      phasor_alloc(&d->_frequency, n, nullptr) && phasor_alloc(&d->_memo_phase, n, nullptr);
  if (!ok) {
    damp_oscillator_bank_vec_free(d);
    return nullptr;
  }
  d->_path = tembra_simd::choose_path();
  d->_samplerate = samplerate;
  d->_num_oscillators = n;
  d->_two_pi_inv = kTwoPiInv;
  d->_sample_rate_inv = 1.0f / samplerate;
  damp_oscillator_bank_vec_restart(d, amplitudes, frequencies, alphas);
  return d;
}

MORVANE_BASELINE_CODE
damp_oscillator_bank_vec damp_oscillator_bank_vec_new(int num_oscillators, const float* amplitudes,
                                                      const float* frequencies, const float* alphas,
                                                      float samplerate) noexcept {
  if (!morvane_cpu_has_build_level()) return nullptr;
  return create_damp_oscillator_bank_vec(num_oscillators, amplitudes, frequencies, alphas,
                                         samplerate);
}

MORVANE_BASELINE_CODE
void damp_oscillator_bank_vec_free(damp_oscillator_bank_vec d) noexcept {
  if (d == nullptr) return;
  std::free(d->_amplitude);
  std::free(d->_target_amp);
  std::free(d->_target_freq);
  std::free(d->_alphas);
  std::free(d->_omega);
  std::free(d->_Zc);
  std::free(d->_Zs);
  std::free(d->_Wc);
  std::free(d->_Ws);
  std::free(d->_Wcps);
  std::free(d->_dpc);
  std::free(d->_dps);
  std::free(d->_frequency);
  std::free(d->_memo_phase);
  std::free(d);
}

void damp_oscillator_bank_vec_update(damp_oscillator_bank_vec d, const float* amplitudes,
                                     const float* frequencies, const float* phases) noexcept {
  const int n = d->_num_oscillators;
  phasor_copy(d->_target_amp, amplitudes, n);
  phasor_copy(d->_target_freq, frequencies, n);
  if (phases != nullptr) phasor_set_offsets_memo(d->_path, n, phases, d->_dpc, d->_dps, d->_memo_phase, &d->_memo_mode, &d->_memo_rest);
}

void damp_oscillator_bank_vec_set_alphas(damp_oscillator_bank_vec d, const float* alphas) noexcept {
  phasor_copy(d->_alphas, alphas, d->_num_oscillators);
}

void damp_oscillator_bank_vec_increment_phase(damp_oscillator_bank_vec d) noexcept {
  const int n = d->_num_oscillators;
  if (n < 1) return;
  const float freq_to_omega = phasor_freq_to_omega(d->_sample_rate_inv);
  const float omega_to_freq = d->_samplerate * d->_two_pi_inv;

  float* __restrict amplitude = d->_amplitude;
  float* __restrict frequency = d->_frequency;
  float* __restrict omega = d->_omega;
  float* __restrict wc = d->_Wc;
  float* __restrict ws = d->_Ws;
  float* __restrict wcps = d->_Wcps;
  const float* __restrict target_amp = d->_target_amp;
  const float* __restrict target_freq = d->_target_freq;
  const float* __restrict alphas = d->_alphas;

  // The glide starts from the frequency that w stands for, not from the
  // stored one; W is recomputed only while the gliding frequency moves.
  // Whole groups of four at full vector width (damp_glide.cpp), the same
  // arithmetic as the loop below, which takes the rest.
  int i = 0;
#if defined(TEMBRA_DAMP_GLIDE) && !MORVANE_REFERENCE
  i = tembra_simd::whole_groups(n);
  const damp_glide_arrays arrays{alphas, target_amp, target_freq, amplitude, frequency, omega, wc, ws, wcps};
  damp_glide(d->_path, arrays, i, omega_to_freq, freq_to_omega);
#endif
  for (; i < n; ++i) {
    const float alpha = alphas[i];
    const double one_minus_alpha = 1.0 - static_cast<double>(alpha);
    amplitude[i] = glide(amplitude[i], one_minus_alpha, alpha, target_amp[i]);
    const float current = -(omega_to_freq * omega[i]);
    const float freq = glide(current, one_minus_alpha, alpha, target_freq[i]);
    if (phasor_frequency_changed(frequency[i], freq)) {
      omega[i] = freq * freq_to_omega;
      phasor_set_rotation(omega[i], &wc[i], &ws[i], &wcps[i]);
    }
    frequency[i] = freq;
  }

  phasor_rotate(d->_path, n, d->_Zc, d->_Zs, wc, ws, wcps);
}

float damp_oscillator_bank_vec_get_sample(damp_oscillator_bank_vec d) noexcept {
  return phasor_sum(d->_num_oscillators, d->_amplitude, d->_Zc, d->_Zs, d->_dpc, d->_dps);
}

void damp_oscillator_bank_vec_get_sample_pair(damp_oscillator_bank_vec d, const float* gains_l,
                                              const float* gains_r, float* out_l, float* out_r) noexcept {
  phasor_sum_pair(d->_num_oscillators, d->_amplitude, d->_Zc, d->_Zs, d->_dpc, d->_dps, gains_l, gains_r,
                  out_l, out_r);
}

void damp_oscillator_bank_vec_copy_state(damp_oscillator_bank_vec d, damp_oscillator_bank_vec from) noexcept {
  static constexpr float* _damp_oscillator_bank_vec::*arrays[] = {
      &_damp_oscillator_bank_vec::_amplitude, &_damp_oscillator_bank_vec::_target_amp,
      &_damp_oscillator_bank_vec::_target_freq, &_damp_oscillator_bank_vec::_alphas,
      &_damp_oscillator_bank_vec::_omega, &_damp_oscillator_bank_vec::_Zc,
      &_damp_oscillator_bank_vec::_Zs, &_damp_oscillator_bank_vec::_Wc,
      &_damp_oscillator_bank_vec::_Ws, &_damp_oscillator_bank_vec::_Wcps,
      &_damp_oscillator_bank_vec::_dpc, &_damp_oscillator_bank_vec::_dps,
      &_damp_oscillator_bank_vec::_frequency};
  tembra_state::copy_arrays(d, from, arrays, d->_num_oscillators);
  d->_memo_mode = kPhasorNoMemo;  // the next phases are all evaluated
  d->_memo_rest = 0;
}
