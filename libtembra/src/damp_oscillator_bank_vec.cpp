// SPDX-License-Identifier: LGPL-2.1-or-later
// Damped oscillator bank: phasor oscillators whose amplitudes and
// frequencies glide towards the targets given to update; see
// damp_oscillator_bank_vec.h.
#include "damp_oscillator_bank_vec.h"

#include <cmath>
#include <cstdlib>

#include "damp_oscillator_bank_vec_internal.h"
#include "phasor_kernels.h"
#include "vector_math.h"

// One glide step of x towards target by the fraction alpha:
// x * (1 - alpha) + alpha * target, in double precision with 1 - alpha
// formed in double, alpha * target a single-precision product widened, and
// the product by 1 - alpha fused with the addition; rounded to float once.
static inline float glide(float x, double one_minus_alpha, float alpha, float target) {
  return static_cast<float>(std::fma(static_cast<double>(x), one_minus_alpha,
                                     static_cast<double>(alpha * target)));
}

damp_oscillator_bank_vec damp_oscillator_bank_vec_new(int num_oscillators, const float* amplitudes,
                                                      const float* frequencies, const float* alphas,
                                                      float samplerate) noexcept {
  auto* d = static_cast<damp_oscillator_bank_vec>(std::calloc(1, sizeof(_damp_oscillator_bank_vec)));
  if (d == nullptr) return nullptr;
  const int n = num_oscillators;
  const bool ok =
      phasor_alloc(&d->_target_amp, n, amplitudes) && phasor_alloc(&d->_target_freq, n, frequencies) &&
      phasor_alloc(&d->_alphas, n, nullptr) && phasor_alloc(&d->_amplitude, n, amplitudes) &&
      phasor_alloc(&d->_omega, n, nullptr) && phasor_alloc(&d->_Zc, n, nullptr) &&
      phasor_alloc(&d->_Zs, n, nullptr) && phasor_alloc(&d->_Wc, n, nullptr) &&
      phasor_alloc(&d->_Ws, n, nullptr) && phasor_alloc(&d->_Wcps, n, nullptr) &&
      phasor_alloc(&d->_dpc, n, nullptr) && phasor_alloc(&d->_dps, n, nullptr) &&
      phasor_alloc(&d->_frequency, n, nullptr) && phasor_alloc(&d->_memo_phase, n, nullptr);
  d->_scratch_turn = static_cast<int*>(std::malloc(sizeof(int) * static_cast<std::size_t>(n > 0 ? n : 1)));
  if (!ok || d->_scratch_turn == nullptr) {
    damp_oscillator_bank_vec_free(d);
    return nullptr;
  }
  phasor_copy(d->_alphas, alphas, n);
  d->_samplerate = samplerate;
  d->_num_oscillators = n;
  phasor_init(n, samplerate, frequencies, d->_omega, d->_Zc, d->_Zs, d->_Wc, d->_Ws, d->_Wcps,
              d->_dpc, d->_dps, d->_frequency);
  d->_two_pi_inv = kTwoPiInv;
  d->_sample_rate_inv = 1.0f / samplerate;
  d->_memo_mode = kPhasorNoMemo;  // the first phases are all evaluated
  return d;
}

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
  std::free(d->_scratch_turn);
  std::free(d->_memo_phase);
  std::free(d);
}

void damp_oscillator_bank_vec_update(damp_oscillator_bank_vec d, const float* amplitudes,
                                     const float* frequencies, const float* phases) noexcept {
  const int n = d->_num_oscillators;
  phasor_copy(d->_target_amp, amplitudes, n);
  phasor_copy(d->_target_freq, frequencies, n);
  if (phases != nullptr) phasor_set_offsets_memo(n, phases, d->_dpc, d->_dps, d->_memo_phase, &d->_memo_mode, &d->_memo_rest);
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
  int i = 0;
#if defined(TEMBRA_VECTOR_MATH) && !MORVANE_REFERENCE
  // Four oscillators at a time with the same double arithmetic and the same
  // fused multiply-adds; the oscillators whose frequency moved are listed
  // and get their sine and cosine afterwards, four or eight at a time.
  // turn lists the oscillators of partly moved groups from the front and
  // the first index of every wholly moved group from the back.
  int* __restrict turn = d->_scratch_turn;
  int nturn = 0;
  int nfull = 0;
  const __m256d one = _mm256_set1_pd(1.0);
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 o2f = _mm_set1_ps(omega_to_freq);
  const __m128 f2o = _mm_set1_ps(freq_to_omega);
  const __m256d eps = _mm256_set1_pd(1e-15);
  for (; i + 4 <= n; i += 4) {
    const __m128 alpha = _mm_loadu_ps(alphas + i);
    const __m256d one_minus_alpha = _mm256_sub_pd(one, _mm256_cvtps_pd(alpha));
    const __m128 amp_target = _mm_mul_ps(alpha, _mm_loadu_ps(target_amp + i));
    _mm_storeu_ps(amplitude + i,
                  _mm256_cvtpd_ps(_mm256_fmadd_pd(_mm256_cvtps_pd(_mm_loadu_ps(amplitude + i)), one_minus_alpha,
                                                  _mm256_cvtps_pd(amp_target))));
    const __m128 w = _mm_loadu_ps(omega + i);
    const __m128 current = _mm_xor_ps(_mm_mul_ps(o2f, w), sign);
    const __m128 freq_target = _mm_mul_ps(alpha, _mm_loadu_ps(target_freq + i));
    const __m128 freq = _mm256_cvtpd_ps(
        _mm256_fmadd_pd(_mm256_cvtps_pd(current), one_minus_alpha, _mm256_cvtps_pd(freq_target)));
    const __m128 diff = _mm_andnot_ps(sign, _mm_sub_ps(_mm_loadu_ps(frequency + i), freq));
    const int moved = _mm256_movemask_pd(_mm256_cmp_pd(_mm256_cvtps_pd(diff), eps, _CMP_GT_OQ));
    if (moved == 0xf) {
      // The common case while the frequencies glide: all four moved.
      _mm_storeu_ps(omega + i, _mm_mul_ps(freq, f2o));
      turn[n - 1 - nfull++] = i;
    } else if (moved != 0) {
      _mm_storeu_ps(omega + i, _mm_blendv_ps(w, _mm_mul_ps(freq, f2o),
                                             _mm_castsi128_ps(_mm_set_epi32(moved & 8 ? -1 : 0, moved & 4 ? -1 : 0,
                                                                            moved & 2 ? -1 : 0, moved & 1 ? -1 : 0))));
      for (int j = 0; j < 4; ++j)
        if (moved & (1 << j)) turn[nturn++] = i + j;
    }
    _mm_storeu_ps(frequency + i, freq);
  }
  // Whole groups, two at a time so that their latencies overlap.
  int g = 0;
  for (; g + 2 <= nfull; g += 2) {
    const int i0 = turn[n - 1 - g];
    const int i1 = turn[n - 2 - g];
    __m128 s0, c0, s1, c1;
    tembra_vmath::sincosf_x8(_mm_loadu_ps(omega + i0), _mm_loadu_ps(omega + i1), &s0, &c0, &s1, &c1);
    _mm_storeu_ps(wc + i0, c0);
    _mm_storeu_ps(ws + i0, s0);
    _mm_storeu_ps(wcps + i0, _mm_add_ps(s0, c0));
    _mm_storeu_ps(wc + i1, c1);
    _mm_storeu_ps(ws + i1, s1);
    _mm_storeu_ps(wcps + i1, _mm_add_ps(s1, c1));
  }
  if (g < nfull) {
    const int i0 = turn[n - 1 - g];
    __m128 s0, c0;
    tembra_vmath::sincosf_x4(_mm_loadu_ps(omega + i0), &s0, &c0);
    _mm_storeu_ps(wc + i0, c0);
    _mm_storeu_ps(ws + i0, s0);
    _mm_storeu_ps(wcps + i0, _mm_add_ps(s0, c0));
  }
  // Single oscillators of the other groups, four per call.
  for (int k = 0; k < nturn; k += 4) {
    alignas(16) float c[4], s[4];
    int idx[4];
    for (int j = 0; j < 4; ++j) idx[j] = turn[k + j < nturn ? k + j : nturn - 1];
    __m128 vs;
    __m128 vc;
    tembra_vmath::sincosf_x4(_mm_setr_ps(omega[idx[0]], omega[idx[1]], omega[idx[2]], omega[idx[3]]), &vs, &vc);
    _mm_store_ps(s, vs);
    _mm_store_ps(c, vc);
    const int count = nturn - k < 4 ? nturn - k : 4;
    for (int j = 0; j < count; ++j) {
      const int r = idx[j];
      wc[r] = c[j];
      ws[r] = s[j];
      wcps[r] = s[j] + c[j];
    }
  }
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

  phasor_rotate(n, d->_Zc, d->_Zs, wc, ws, wcps);
}

float damp_oscillator_bank_vec_get_sample(damp_oscillator_bank_vec d) noexcept {
  return phasor_sum(d->_num_oscillators, d->_amplitude, d->_Zc, d->_Zs, d->_dpc, d->_dps);
}
