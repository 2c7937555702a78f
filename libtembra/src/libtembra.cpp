// SPDX-License-Identifier: LGPL-2.1-or-later
// The resonator engine: a tracking resonator bank for analysis and a plain
// and a damped oscillator bank for resynthesis, on one grid of natural
// frequencies (mel or linear).
//
// Every per-resonator coefficient follows one law,
//   alpha(f) = 1 - exp(-(f / samplerate) / ln(1 + f)),
// a one-pole smoother with time constant ln(1 + f) / f seconds, and 0 for
// frequencies not above 1e-15. In damped resynthesis it is recomputed for
// every sample from the incoming frequencies, so compute_alphas evaluates
// it at full vector width (smoothing_alphas.cpp) on the engine's vector
// path, chosen when the engine is created (simd_path.h).
#include "libtembra.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <immintrin.h>

#include "cpu_level.h"
#include "damp_oscillator_bank_vec.h"
#include "damp_oscillator_bank_vec_internal.h"
#include "libtembra_internal.h"
#include "mel.h"
#include "memo.h"
#include "simd_path.h"
#include "smoothing_alphas.h"
#include "state_copy.h"
#include "oscillator_bank_vec.h"
#include "oscillator_bank_vec_internal.h"
#include "tracking_resonator_bank_vec.h"
#include "tracking_resonator_bank_vec_internal.h"

#if defined(__AVX2__) && !defined(MORVANE_BASELINE)
#define TEMBRA_ALPHAS_AVX2 1
// The C library's 4-lane routines, which the reference build calls.
extern "C" __m256d _ZGVdN4v_log(__m256d);
extern "C" __m256d _ZGVdN4v_exp(__m256d);
#endif

namespace {

constexpr double kFreqThreshold = 1e-15;
constexpr double kTwoPi = 6.283185307179586;
constexpr float kRandScale = 4.656612873077393e-10f;  // 2^-31

float* alloc_floats(int n) noexcept { return (float*)std::malloc((size_t)n * sizeof(float)); }

}  // namespace

// Linear grid: min_freq + i * step with step = (max - min) * (1 / (N - 1)),
// all in float, each element one fused multiply-add.
static void compute_frequencies(int num_freqs, float* freqs, float min_freq, float max_freq) {
  if (num_freqs <= 0) return;
  const float recip = 1.0f / (float)(num_freqs - 1);
  const float step = (max_freq - min_freq) * recip;
  for (int i = 0; i < num_freqs; ++i) freqs[i] = std::fma((float)i, step, min_freq);
}

// One resonator's smoothing coefficient; dt = 1 / samplerate in float.
static float compute_alpha(float dt, float freq) {
  double alpha = 0.0;
  if ((double)freq > kFreqThreshold) {
    const float x = freq * dt;
    const double q = (double)(-x) / std::log((double)freq + 1.0);
    alpha = 1.0 - std::exp(q);
  }
  return (float)alpha;
}

// compute_alpha for every resonator. The vector body evaluates every lane
// and then clears the lanes whose frequency is not above the threshold (a
// zero frequency gives 0/0 there before the mask), so it has no branch per
// lane; the scalar loop takes the remaining N mod 4.
static void compute_alphas(tembra_simd::Path path, int num_resonators, const float* frequencies,
                           float samplerate, float* alphas) {
  const float* __restrict f = frequencies;
  float* __restrict a = alphas;
  const float dt = 1.0f / samplerate;
  int i = 0;
#if defined(TEMBRA_ALPHAS_AVX2) && MORVANE_REFERENCE
  (void)path;
  const __m128 vdt = _mm_set1_ps(dt);
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d threshold = _mm256_set1_pd(kFreqThreshold);
  for (; i + 4 <= num_resonators; i += 4) {
    const __m128 freq = _mm_loadu_ps(f + i);
    const __m128 x = _mm_mul_ps(freq, vdt);                     // f * dt in float
    const __m256d neg_x = _mm256_cvtps_pd(_mm_xor_ps(x, sign));  // -x, widened
    const __m256d freq_d = _mm256_cvtps_pd(freq);
    const __m256d ln = _ZGVdN4v_log(_mm256_add_pd(freq_d, one));  // ln(1 + f)
    const __m256d e = _ZGVdN4v_exp(_mm256_div_pd(neg_x, ln));
    const __m256d alpha = _mm256_sub_pd(one, e);
    const __m256d live = _mm256_cmp_pd(freq_d, threshold, _CMP_GT_OQ);
    _mm_storeu_ps(a + i, _mm256_cvtpd_ps(_mm256_and_pd(alpha, live)));
  }
#elif defined(TEMBRA_SMOOTHING_ALPHAS)
  i = tembra_simd::whole_groups(num_resonators);
  smoothing_alphas(path, f, dt, a, i);
#else
  (void)path;
#endif
  for (; i < num_resonators; ++i) a[i] = compute_alpha(dt, f[i]);
}

#if defined(TEMBRA_SMOOTHING_ALPHAS) && !MORVANE_REFERENCE
// compute_alphas for the resynthesis, once per sample: only the groups of
// four whose frequencies changed since their last coefficients are
// evaluated again, each run of consecutive ones at full vector width; the
// others come from memory (memo_freq, memo_alpha and the mode they were
// computed in, *memo_mode).
static void compute_alphas_memo(tembra_simd::Path path, int num_resonators, const float* frequencies,
                                float samplerate, float* alphas, float* memo_freq, float* memo_alpha,
                                unsigned* memo_mode, int* memo_rest) {
  if (tembra_memo::resting(memo_rest, memo_mode)) {
    compute_alphas(path, num_resonators, frequencies, samplerate, alphas);
    return;
  }
  const float dt = 1.0f / samplerate;
  const int nv = tembra_simd::whole_groups(num_resonators);
  const unsigned mode = tembra_fp::ftz_daz_bits();
  const bool reuse = mode == *memo_mode;
  *memo_mode = mode;
  int run = 0;  // first group of the current run of changed groups
  int hits = 0;
  for (int g = 0; g < nv; g += 4) {
    if (reuse && tembra_memo::same4(frequencies + g, memo_freq + g)) {
      ++hits;
      if (run < g) smoothing_alphas(path, memo_freq + run, dt, memo_alpha + run, g - run);
      run = g + 4;
      continue;
    }
    tembra_memo::copy4(memo_freq + g, frequencies + g);
  }
  if (run < nv) smoothing_alphas(path, memo_freq + run, dt, memo_alpha + run, nv - run);
  std::memcpy(alphas, memo_alpha, sizeof(float) * static_cast<std::size_t>(nv));
  for (int i = nv; i < num_resonators; ++i) alphas[i] = compute_alpha(dt, frequencies[i]);
  tembra_memo::judge(memo_rest, reuse, hits, nv / 4);
}
#endif

// The tracking bank's second smoothing stage uses the same law.
static void compute_betas(tembra_simd::Path path, int num_resonators, const float* frequencies,
                          float samplerate, float* betas) {
  compute_alphas(path, num_resonators, frequencies, samplerate, betas);
}

// The tracking rate: half the smoothing coefficient, halved in float.
static void compute_gammas(tembra_simd::Path path, int num_resonators, const float* frequencies,
                           float samplerate, float* gammas) {
  compute_alphas(path, num_resonators, frequencies, samplerate, gammas);
  float* __restrict g = gammas;
  int i = 0;
#if defined(__SSE__)
  const __m128 half = _mm_set1_ps(0.5f);
  for (; i + 4 <= num_resonators; i += 4) _mm_storeu_ps(g + i, _mm_mul_ps(half, _mm_loadu_ps(g + i)));
#endif
  for (; i < num_resonators; ++i) g[i] = 0.5f * g[i];
}

void libtembra_compute_frequencies(int num_freqs, float* freqs, float min_freq,
                                   float max_freq) noexcept {
  compute_frequencies(num_freqs, freqs, min_freq, max_freq);
}
float libtembra_compute_alpha(float dt, float freq) noexcept { return compute_alpha(dt, freq); }
void libtembra_compute_alphas(int num_resonators, const float* frequencies, float samplerate,
                              float* alphas) noexcept {
  compute_alphas(tembra_simd::choose_path(), num_resonators, frequencies, samplerate, alphas);
}
void libtembra_compute_betas(int num_resonators, const float* frequencies, float samplerate,
                             float* betas) noexcept {
  compute_betas(tembra_simd::choose_path(), num_resonators, frequencies, samplerate, betas);
}
void libtembra_compute_gammas(int num_resonators, const float* frequencies, float samplerate,
                              float* gammas) noexcept {
  compute_gammas(tembra_simd::choose_path(), num_resonators, frequencies, samplerate, gammas);
}

void libtembra_restart(libtembra lr) noexcept {
  const int n = lr->_num_resonators;
  const size_t bytes = (size_t)n * sizeof(float);
  tracking_resonator_bank_vec_restart(lr->_bank);
  // The banks start as creation started them: amplitudes 0 on the grid's
  // natural frequencies, the glide coefficients of those frequencies.
  std::memset(lr->_resynth_amplitudes, 0, bytes);
  oscillator_bank_vec_restart(lr->_obank, lr->_resynth_amplitudes, lr->_frequencies);
  compute_alphas(lr->_path, n, lr->_frequencies, (float)lr->_srate, lr->_damp_alphas);
  damp_oscillator_bank_vec_restart(lr->_damp_obank, lr->_resynth_amplitudes, lr->_frequencies,
                                   lr->_damp_alphas);
  std::memset(lr->_alpha_memo_freq, 0, bytes);
  std::memset(lr->_alpha_memo_alpha, 0, bytes);
  lr->_alpha_memo_mode = tembra_memo::kNoMode;
  lr->_alpha_memo_rest = 0;
  std::memset(lr->_resynth_phases, 0, bytes);
}

// Everything of libtembra_new after the processor check.
__attribute__((noinline)) static libtembra create_libtembra(int srate, int num_resonators,
                                                            float min_freq, float max_freq,
                                                            unsigned short options) noexcept {
  if (num_resonators < 2 || srate <= 0) return nullptr;
  const int n = num_resonators;

  libtembra lr = (libtembra)std::calloc(1, sizeof(struct _libtembra));
  if (lr == nullptr) return nullptr;
  lr->_mel_scale = (options & LIBTEMBRA_MEL_SCALE) ? 1 : 0;
  lr->_select_reso = (options & LIBTEMBRA_SELECT_RESO) ? 1 : 0;
  lr->_limit_reso_range = (options & LIBTEMBRA_LIMIT_RESO_RANGE) ? 1 : 0;
  lr->_damp_osc = (options & LIBTEMBRA_DAMP_OSC) ? 1 : 0;
  lr->_rnd_phase_offset = (options & LIBTEMBRA_RND_PHASE_OFFSET) ? 1 : 0;
  lr->_path = tembra_simd::choose_path();
  lr->_srate = srate;
  lr->_num_resonators = n;
  lr->_min_freq = min_freq;
  lr->_max_freq = max_freq;

  // Temporaries handed to the bank constructors, which copy them.
  float* amplitudes = nullptr;
  float* alphas = nullptr;
  float* betas = nullptr;
  float* gammas = nullptr;
  auto fail = [&]() noexcept -> libtembra {
    std::free(amplitudes);
    std::free(alphas);
    std::free(betas);
    std::free(gammas);
    libtembra_free(lr);
    return nullptr;
  };

  if ((lr->_ai_buf = alloc_floats(n)) == nullptr) return fail();
  if ((lr->_fi_buf = alloc_floats(n)) == nullptr) return fail();
  if ((lr->_pi_buf = alloc_floats(n)) == nullptr) return fail();
  if ((lr->_frequencies = alloc_floats(n)) == nullptr) return fail();
  if ((amplitudes = alloc_floats(n)) == nullptr) return fail();
  if ((alphas = alloc_floats(n)) == nullptr) return fail();
  if ((betas = alloc_floats(n)) == nullptr) return fail();
  if ((gammas = alloc_floats(n)) == nullptr) return fail();

  if (lr->_mel_scale)
    compute_mel_frequencies(n, lr->_frequencies, min_freq, max_freq);
  else
    compute_frequencies(n, lr->_frequencies, min_freq, max_freq);

  const float samplerate = (float)srate;
  compute_alphas(lr->_path, n, lr->_frequencies, samplerate, alphas);
  compute_betas(lr->_path, n, lr->_frequencies, samplerate, betas);
  compute_gammas(lr->_path, n, lr->_frequencies, samplerate, gammas);

  lr->_bank = tracking_resonator_bank_vec_new(n, lr->_frequencies, alphas, betas, gammas, samplerate);
  if (lr->_bank == nullptr) return fail();
  tracking_resonator_bank_vec_limit_reso_range(lr->_bank, lr->_limit_reso_range);

  for (int i = 0; i < n; ++i) amplitudes[i] = 0.0f;
  lr->_obank = oscillator_bank_vec_new(n, amplitudes, lr->_frequencies, samplerate);
  if (lr->_obank == nullptr) return fail();

  if ((lr->_damp_alphas = alloc_floats(n)) == nullptr) return fail();
  // The coefficients' memory; its first use evaluates every group.
  lr->_alpha_memo_freq = (float*)std::calloc((size_t)n, sizeof(float));
  if (lr->_alpha_memo_freq == nullptr) return fail();
  lr->_alpha_memo_alpha = (float*)std::calloc((size_t)n, sizeof(float));
  if (lr->_alpha_memo_alpha == nullptr) return fail();
  lr->_alpha_memo_mode = tembra_memo::kNoMode;
  lr->_alpha_memo_rest = 0;
  compute_alphas(lr->_path, n, lr->_frequencies, samplerate, lr->_damp_alphas);
  lr->_damp_obank =
      damp_oscillator_bank_vec_new(n, amplitudes, lr->_frequencies, lr->_damp_alphas, samplerate);
  if (lr->_damp_obank == nullptr) return fail();

  if ((lr->_resynth_amplitudes = alloc_floats(n)) == nullptr) return fail();
  if ((lr->_resynth_frequencies = alloc_floats(n)) == nullptr) return fail();
  lr->_resynth_phases = (float*)std::calloc((size_t)n, sizeof(float));
  if (lr->_resynth_phases == nullptr) return fail();
  lr->_resynth_phase_offsets = nullptr;

  if (lr->_rnd_phase_offset) {
    if ((lr->_resynth_phase_offsets = alloc_floats(n)) == nullptr) return fail();
    for (int i = 0; i < n; ++i) {
      // A uniform draw in [0, 1] scaled to [0, 2 pi].
      const float rnd = (float)std::rand() * kRandScale;
      lr->_resynth_phase_offsets[i] = (float)((double)rnd * kTwoPi);
    }
  }

  std::free(amplitudes);
  std::free(alphas);
  std::free(betas);
  std::free(gammas);
  return lr;
}

MORVANE_BASELINE_CODE
libtembra libtembra_new(int srate, int num_resonators, float min_freq, float max_freq,
                        unsigned short options) noexcept {
  if (!morvane_cpu_has_build_level()) return nullptr;
  return create_libtembra(srate, num_resonators, min_freq, max_freq, options);
}

MORVANE_BASELINE_CODE
void libtembra_free(libtembra lr) noexcept {
  if (lr == nullptr) return;
  tracking_resonator_bank_vec_free(lr->_bank);
  oscillator_bank_vec_free(lr->_obank);
  damp_oscillator_bank_vec_free(lr->_damp_obank);
  std::free(lr->_damp_alphas);
  std::free(lr->_alpha_memo_freq);
  std::free(lr->_alpha_memo_alpha);
  std::free(lr->_frequencies);
  std::free(lr->_resynth_amplitudes);
  std::free(lr->_resynth_frequencies);
  std::free(lr->_resynth_phases);
  if (lr->_resynth_phase_offsets != nullptr) std::free(lr->_resynth_phase_offsets);
  std::free(lr->_ai_buf);
  std::free(lr->_fi_buf);
  std::free(lr->_pi_buf);
  std::free(lr);
}

void libtembra_update(libtembra lr, float sample) noexcept {
  tracking_resonator_bank_vec_update(lr->_bank, sample);
}

void libtembra_get_buffers(libtembra lr, float* ai_buf, float* fi_buf, float* pi_buf) noexcept {
  const int n = lr->_num_resonators;
  float* __restrict ai = lr->_ai_buf;
  tracking_resonator_bank_vec_get_amplitudes(lr->_bank, ai, n);
  tracking_resonator_bank_vec_get_frequencies(lr->_bank, lr->_fi_buf, n);
  tracking_resonator_bank_vec_get_phases(lr->_bank, lr->_pi_buf, n);

  // The bank reads half a locked sinusoid's amplitude: double it (exact).
  int i = 0;
#if defined(__SSE__)
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_loadu_ps(ai + i);
    _mm_storeu_ps(ai + i, _mm_add_ps(v, v));
  }
#endif
  for (; i < n; ++i) ai[i] = ai[i] + ai[i];

  const size_t bytes = (size_t)n * sizeof(float);
  if (ai_buf != nullptr) std::memcpy(ai_buf, lr->_ai_buf, bytes);
  if (fi_buf != nullptr) std::memcpy(fi_buf, lr->_fi_buf, bytes);
  if (pi_buf != nullptr) std::memcpy(pi_buf, lr->_pi_buf, bytes);
}

void libtembra_update_synth(libtembra lr, const float* ai_buf, const float* fi_buf,
                            const float* pi_buf) noexcept {
  const int n = lr->_num_resonators;
  const size_t bytes = (size_t)n * sizeof(float);
  std::memcpy(lr->_resynth_amplitudes, ai_buf, bytes);
  std::memcpy(lr->_resynth_frequencies, fi_buf, bytes);
  if (pi_buf != nullptr) {
    const float* __restrict offsets = lr->_resynth_phase_offsets;
    if (offsets != nullptr) {
      const float* __restrict src = pi_buf;
      float* __restrict phases = lr->_resynth_phases;
      int i = 0;
#if defined(__SSE__)
      for (; i + 4 <= n; i += 4)
        _mm_storeu_ps(phases + i, _mm_add_ps(_mm_loadu_ps(src + i), _mm_loadu_ps(offsets + i)));
#endif
      for (; i < n; ++i) phases[i] = src[i] + offsets[i];
    } else {
      std::memcpy(lr->_resynth_phases, pi_buf, bytes);
    }
  }

  if (lr->_damp_osc) {
#if defined(TEMBRA_SMOOTHING_ALPHAS) && !MORVANE_REFERENCE
    compute_alphas_memo(lr->_path, n, lr->_resynth_frequencies, (float)lr->_srate, lr->_damp_alphas,
                        lr->_alpha_memo_freq, lr->_alpha_memo_alpha, &lr->_alpha_memo_mode,
                        &lr->_alpha_memo_rest);
#else
    compute_alphas(lr->_path, n, lr->_resynth_frequencies, (float)lr->_srate, lr->_damp_alphas);
#endif
    damp_oscillator_bank_vec_set_alphas(lr->_damp_obank, lr->_damp_alphas);
    damp_oscillator_bank_vec_update(lr->_damp_obank, lr->_resynth_amplitudes,
                                    lr->_resynth_frequencies, lr->_resynth_phases);
  } else {
    oscillator_bank_vec_update(lr->_obank, lr->_resynth_amplitudes, lr->_resynth_frequencies,
                               lr->_resynth_phases);
  }
}

float libtembra_get_synth(libtembra lr) noexcept {
  if (lr->_damp_osc) {
    damp_oscillator_bank_vec_increment_phase(lr->_damp_obank);
    return damp_oscillator_bank_vec_get_sample(lr->_damp_obank);
  }
  oscillator_bank_vec_increment_phase(lr->_obank);
  return oscillator_bank_vec_get_sample(lr->_obank);
}

void libtembra_get_synth_pair(libtembra lr, const float* gains_l, const float* gains_r, float* out_l,
                              float* out_r) noexcept {
  if (lr->_damp_osc) {
    damp_oscillator_bank_vec_increment_phase(lr->_damp_obank);
    damp_oscillator_bank_vec_get_sample_pair(lr->_damp_obank, gains_l, gains_r, out_l, out_r);
    return;
  }
  oscillator_bank_vec_increment_phase(lr->_obank);
  oscillator_bank_vec_get_sample_pair(lr->_obank, gains_l, gains_r, out_l, out_r);
}

int libtembra_get_phase_offsets(libtembra lr, float* offsets) noexcept {
  if (lr->_resynth_phase_offsets == nullptr) return 0;
  std::memcpy(offsets, lr->_resynth_phase_offsets, (size_t)lr->_num_resonators * sizeof(float));
  return 1;
}

void libtembra_set_phase_offsets(libtembra lr, const float* offsets) noexcept {
  if (lr->_resynth_phase_offsets == nullptr) return;
  std::memcpy(lr->_resynth_phase_offsets, offsets, (size_t)lr->_num_resonators * sizeof(float));
}

void libtembra_copy_state(libtembra lr, libtembra from) noexcept {
  tracking_resonator_bank_vec_copy_state(lr->_bank, from->_bank);
  oscillator_bank_vec_copy_state(lr->_obank, from->_obank);
  damp_oscillator_bank_vec_copy_state(lr->_damp_obank, from->_damp_obank);
  static constexpr float* _libtembra::*arrays[] = {
      &_libtembra::_ai_buf,           &_libtembra::_fi_buf,           &_libtembra::_pi_buf,
      &_libtembra::_damp_alphas,      &_libtembra::_resynth_amplitudes, &_libtembra::_resynth_frequencies,
      &_libtembra::_resynth_phases};
  tembra_state::copy_arrays(lr, from, arrays, lr->_num_resonators);
  // The coefficients' memory starts empty: its first use evaluates every group.
  lr->_alpha_memo_mode = tembra_memo::kNoMode;
  lr->_alpha_memo_rest = 0;
}

void libtembra_get_natural_frequencies(libtembra lr, float* frequencies) noexcept {
  std::memcpy(frequencies, lr->_frequencies, (size_t)lr->_num_resonators * sizeof(float));
}

void libtembra_set_debug(libtembra lr, int debug) noexcept { lr->_select_reso = debug == 0 ? 1 : 0; }
