// SPDX-License-Identifier: LGPL-2.1-or-later
// The resonator engine: grid, coefficients, options, construction failure
// paths and the analysis-resynthesis cycle.
#include <gtest/gtest.h>

#include <tembra/libtembra.h>
#include <tembra/mel.h>
#include <tembra/tracking_resonator_bank_vec.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "libtembra_internal.h"

#include "sanitized.h"

// ---------------------------------------------------------------------------
// Allocation probe. The test binary replaces the C allocator with a thin
// forwarder to glibc's own; while armed it counts allocations, can make the
// k-th one fail, and keeps the set of blocks still live, so a failed
// construction can be checked for leaks.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

struct AllocProbe {
  bool armed = false;
  long count = 0;     // allocations seen while armed
  long fail_at = -1;  // index of the allocation to refuse, -1 for none
  int num_live = 0;
  std::array<void*, 4096> live{};
  bool overflow = false;

  bool refuse() {
    if (!armed) return false;
    return count++ == fail_at;
  }
  void add(void* p) {
    if (!armed || p == nullptr) return;
    if (num_live == (int)live.size()) {
      overflow = true;
      return;
    }
    live[num_live++] = p;
  }
  void remove(void* p) {
    if (!armed || p == nullptr) return;
    for (int i = 0; i < num_live; ++i)
      if (live[i] == p) {
        live[i] = live[--num_live];
        return;
      }
  }
  void arm(long fail) {
    count = 0;
    fail_at = fail;
    num_live = 0;
    overflow = false;
    armed = true;
  }
  void disarm() { armed = false; }
};

constinit AllocProbe g_probe;

}  // namespace

#if !TEMBRA_TEST_SANITIZED
extern "C" void* malloc(size_t n) noexcept {
  if (g_probe.refuse()) return nullptr;
  void* p = __libc_malloc(n);
  g_probe.add(p);
  return p;
}
extern "C" void* calloc(size_t n, size_t size) noexcept {
  if (g_probe.refuse()) return nullptr;
  void* p = __libc_calloc(n, size);
  g_probe.add(p);
  return p;
}
extern "C" void* realloc(void* old, size_t n) noexcept {
  if (g_probe.refuse()) return nullptr;
  void* p = __libc_realloc(old, n);
  if (p != nullptr || n == 0) g_probe.remove(old);
  g_probe.add(p);
  return p;
}
extern "C" void* aligned_alloc(size_t alignment, size_t n) noexcept {
  if (g_probe.refuse()) return nullptr;
  void* p = __libc_memalign(alignment, n);
  g_probe.add(p);
  return p;
}
extern "C" int posix_memalign(void** out, size_t alignment, size_t n) noexcept {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  if (g_probe.refuse()) return ENOMEM;
  void* p = __libc_memalign(alignment, n);
  if (p == nullptr) return ENOMEM;
  g_probe.add(p);
  *out = p;
  return 0;
}
extern "C" void free(void* p) noexcept {
  g_probe.remove(p);
  __libc_free(p);
}
#endif

// ---------------------------------------------------------------------------

namespace {

constexpr int kRate = 48000;
constexpr int kN = 112;
constexpr double kTwoPi = 6.283185307179586;

int64_t ulp_distance(float a, float b) {
  int32_t ia, ib;
  std::memcpy(&ia, &a, sizeof ia);
  std::memcpy(&ib, &b, sizeof ib);
  return std::llabs((int64_t)ia - (int64_t)ib);
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Engine {
  libtembra lr;
  Engine(int srate, int n, float lo, float hi, unsigned short options)
      : lr(libtembra_new(srate, n, lo, hi, options)) {}
  ~Engine() { libtembra_free(lr); }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
};

std::vector<float> grid_of(libtembra lr) {
  std::vector<float> f(lr->_num_resonators);
  libtembra_get_natural_frequencies(lr, f.data());
  return f;
}

// Power of x at frequency f (Hz), normalised so that a sinusoid of
// amplitude A filling the block gives about A^2 / 2.
double goertzel_power(const std::vector<float>& x, double f, double rate) {
  const double w = kTwoPi * f / rate;
  const double c = 2.0 * std::cos(w);
  double s1 = 0.0, s2 = 0.0;
  for (float v : x) {
    const double s0 = v + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double re = s1 - s2 * std::cos(w);
  const double im = s2 * std::sin(w);
  const double n = (double)x.size();
  return 2.0 * (re * re + im * im) / (n * n);
}

int nearest_index(const std::vector<float>& grid, float f) {
  int best = 0;
  for (int i = 1; i < (int)grid.size(); ++i)
    if (std::fabs(grid[i] - f) < std::fabs(grid[best] - f)) best = i;
  return best;
}

}  // namespace

// --- construction ----------------------------------------------------------

TEST(LibtembraNew, RejectsTooFewResonatorsAndNonPositiveRates) {
  EXPECT_EQ(libtembra_new(kRate, 1, 20.0f, 20000.0f, 31), nullptr);
  EXPECT_EQ(libtembra_new(kRate, 0, 20.0f, 20000.0f, 31), nullptr);
  EXPECT_EQ(libtembra_new(kRate, -5, 20.0f, 20000.0f, 31), nullptr);
  EXPECT_EQ(libtembra_new(0, kN, 20.0f, 20000.0f, 31), nullptr);
  EXPECT_EQ(libtembra_new(-48000, kN, 20.0f, 20000.0f, 31), nullptr);
  libtembra_free(nullptr);  // harmless
  Engine two(kRate, 2, 20.0f, 20000.0f, 31);
  EXPECT_NE(two.lr, nullptr);
}

TEST(LibtembraNew, EveryFailedAllocationReturnsNullAndLeaksNothing) {
  if (TEMBRA_TEST_SANITIZED) GTEST_SKIP() << "the sanitizer owns the allocator";
  for (unsigned short options : {(unsigned short)0, (unsigned short)31}) {
    // One successful construction counts the allocations and shows that
    // free releases every one of them.
    g_probe.arm(-1);
    libtembra lr = libtembra_new(kRate, kN, 20.0f, 20000.0f, options);
    libtembra_free(lr);
    const long total = g_probe.count;
    const int live_after_free = g_probe.num_live;
    g_probe.disarm();
    ASSERT_NE(lr, nullptr);
    EXPECT_EQ(live_after_free, 0);
    // Record, 4 buffers, 4 temporaries, damping alphas, 3 resynthesis
    // arrays, the offsets with bit 4, and at least one block per bank.
    EXPECT_GE(total, 13 + (options & 16 ? 1 : 0) + 3) << options;

    for (long k = 0; k < total; ++k) {
      g_probe.arm(k);
      libtembra failed = libtembra_new(kRate, kN, 20.0f, 20000.0f, options);
      const int live = g_probe.num_live;
      const bool overflow = g_probe.overflow;
      g_probe.disarm();
      EXPECT_EQ(failed, nullptr) << "allocation " << k << " refused, options " << options;
      EXPECT_EQ(live, 0) << "allocation " << k << " refused, options " << options;
      EXPECT_FALSE(overflow);
      libtembra_free(failed);
    }
  }
}

TEST(LibtembraNew, OptionBitsSetTheirFlagsAndHigherBitsAreIgnored) {
  for (unsigned opt = 0; opt < 32; ++opt) {
    for (unsigned high : {0u, 0x20u, 0xFFE0u}) {
      std::srand(7);
      Engine e(kRate, 8, 20.0f, 20000.0f, (unsigned short)(opt | high));
      ASSERT_NE(e.lr, nullptr);
      EXPECT_EQ(e.lr->_mel_scale, (int)(opt & 1));
      EXPECT_EQ(e.lr->_select_reso, (int)((opt >> 1) & 1));
      EXPECT_EQ(e.lr->_limit_reso_range, (int)((opt >> 2) & 1));
      EXPECT_EQ(e.lr->_damp_osc, (int)((opt >> 3) & 1));
      EXPECT_EQ(e.lr->_rnd_phase_offset, (int)((opt >> 4) & 1));
      EXPECT_EQ(e.lr->_resynth_phase_offsets != nullptr, (opt & 16) != 0);
      EXPECT_EQ(e.lr->_srate, kRate);
      EXPECT_EQ(e.lr->_num_resonators, 8);
      EXPECT_EQ(e.lr->_min_freq, 20.0f);
      EXPECT_EQ(e.lr->_max_freq, 20000.0f);
      for (int i = 0; i < 8; ++i) EXPECT_EQ(e.lr->_resynth_phases[i], 0.0f);
    }
  }
  // Same seed, bits above 4 set or not: identical grid, offsets and sound.
  std::srand(11);
  Engine a(kRate, kN, 20.0f, 20000.0f, 31);
  Engine sa(kRate, kN, 20.0f, 20000.0f, 31);
  std::srand(11);
  Engine b(kRate, kN, 20.0f, 20000.0f, 0xFFFF);
  Engine sb(kRate, kN, 20.0f, 20000.0f, 0xFFFF);
  for (int i = 0; i < kN; ++i) {
    EXPECT_TRUE(same_bits(a.lr->_frequencies[i], b.lr->_frequencies[i]));
    EXPECT_TRUE(same_bits(sa.lr->_resynth_phase_offsets[i], sb.lr->_resynth_phase_offsets[i]));
  }
  std::vector<float> ai(kN), fi(kN), pi(kN);
  for (int n = 0; n < 2000; ++n) {
    const float x = (float)(0.3 * std::sin(kTwoPi * 440.0 * n / kRate));
    float y[2];
    Engine* pair[2][2] = {{&a, &sa}, {&b, &sb}};
    for (int k = 0; k < 2; ++k) {
      libtembra_update(pair[k][0]->lr, x);
      libtembra_get_buffers(pair[k][0]->lr, ai.data(), fi.data(), pi.data());
      libtembra_update_synth(pair[k][1]->lr, ai.data(), fi.data(), pi.data());
      y[k] = libtembra_get_synth(pair[k][1]->lr);
    }
    ASSERT_TRUE(same_bits(y[0], y[1])) << n;
  }
}

TEST(LibtembraNew, RandIsUntouchedWithoutOffsetsAndDrawnOncePerResonatorWithThem) {
  constexpr unsigned seed = 12345;
  std::srand(seed);
  std::vector<int> seq(3 * kN + 1);
  for (int& r : seq) r = std::rand();

  for (unsigned short options : {(unsigned short)0, (unsigned short)15}) {
    std::srand(seed);
    Engine e(kRate, kN, 20.0f, 20000.0f, options);
    EXPECT_EQ(std::rand(), seq[0]) << options;
    EXPECT_EQ(e.lr->_resynth_phase_offsets, nullptr);
  }

  // Two engines in a row continue one sequence, the first drawing first.
  std::srand(seed);
  Engine first(kRate, kN, 20.0f, 20000.0f, 31);
  Engine second(kRate, kN, 20.0f, 20000.0f, 31);
  EXPECT_EQ(std::rand(), seq[2 * kN]);
  bool differ = false;
  for (int i = 0; i < kN; ++i) {
    const float o1 = first.lr->_resynth_phase_offsets[i];
    const float o2 = second.lr->_resynth_phase_offsets[i];
    EXPECT_GE(o1, 0.0f);
    EXPECT_LE(o1, (float)kTwoPi);
    // Each offset is its draw mapped onto [0, 2 pi].
    EXPECT_NEAR(o1, seq[i] / 2147483648.0 * kTwoPi, 1e-6) << i;
    EXPECT_NEAR(o2, seq[kN + i] / 2147483648.0 * kTwoPi, 1e-6) << i;
    differ = differ || o1 != o2;
  }
  EXPECT_TRUE(differ);
}

// --- grid and coefficients ---------------------------------------------------

TEST(LibtembraGrid, MelOptionBuildsTheMelGridAndLinearOtherwise) {
  Engine mel(kRate, kN, 20.0f, 20000.0f, 31);
  std::vector<float> expect(kN);
  compute_mel_frequencies(kN, expect.data(), 20.0f, 20000.0f);
  const std::vector<float> f = grid_of(mel.lr);
  for (int i = 0; i < kN; ++i) EXPECT_TRUE(same_bits(f[i], expect[i])) << i;
  EXPECT_EQ(f[0], 20.0f);
  EXPECT_NEAR(f[55], 3102.60f, 1e-2f);
  EXPECT_NEAR(f[111], 19999.998f, 1e-3f);

  Engine lin(kRate, 4, 20.0f, 20000.0f, 0);
  const std::vector<float> g = grid_of(lin.lr);
  EXPECT_EQ(g[0], 20.0f);
  EXPECT_EQ(g[1], 6680.0f);
  EXPECT_EQ(g[2], 13340.0f);
  EXPECT_EQ(g[3], 20000.0f);

  // The linear grid starts exactly at min_freq and is evenly spaced.
  std::vector<float> h(101);
  libtembra_compute_frequencies(101, h.data(), 33.3f, 1000.0f);
  EXPECT_EQ(h[0], 33.3f);
  EXPECT_NEAR(h[100], 1000.0f, 1e-3f);
  for (int i = 1; i < 101; ++i) EXPECT_NEAR(h[i] - h[i - 1], (1000.0f - 33.3f) / 100.0f, 1e-3f);
}

TEST(LibtembraCoefficients, EffectGridCoefficientsHaveKnownValues) {
  Engine e(kRate, kN, 20.0f, 20000.0f, 31);
  const std::vector<float> f = grid_of(e.lr);
  std::vector<float> alphas(kN), betas(kN), gammas(kN);
  libtembra_compute_alphas(kN, f.data(), (float)kRate, alphas.data());
  libtembra_compute_betas(kN, f.data(), (float)kRate, betas.data());
  libtembra_compute_gammas(kN, f.data(), (float)kRate, gammas.data());

  EXPECT_NEAR(alphas[0], 1.3685e-4f, 1e-8f);
  EXPECT_NEAR(alphas[55], 8.0069e-3f, 1e-7f);
  EXPECT_NEAR(alphas[111], 4.1200e-2f, 1e-6f);
  for (int i = 0; i < kN; ++i) {
    EXPECT_TRUE(same_bits(betas[i], alphas[i])) << i;
    EXPECT_EQ(gammas[i], alphas[i] * 0.5f) << i;
    EXPECT_TRUE(same_bits(e.lr->_damp_alphas[i], alphas[i])) << i;
    if (i > 0) {
      EXPECT_GT(alphas[i], alphas[i - 1]) << i;
    }
    // The law alpha = 1 - exp(-dt / tau), tau = ln(1 + f) / f, evaluated
    // independently in long double.
    const long double fl = f[i];
    const long double ref = -std::expm1(-(fl / kRate) / std::log1p(fl));
    EXPECT_NEAR(alphas[i], (float)ref, (float)ref * 1e-6f) << i;
  }
  // Time constants ln(1 + f) / f: about 152 ms at 20 Hz, 0.495 ms at 20 kHz.
  EXPECT_NEAR(-1.0 / (kRate * std::log(1.0 - alphas[0])), 0.152, 0.001);
  EXPECT_NEAR(-1.0 / (kRate * std::log(1.0 - alphas[111])), 0.000495, 0.000002);
}

TEST(LibtembraCoefficients, FrequenciesNotAboveThresholdGetZero) {
  // min_freq 0 puts a 0 Hz resonator at index 0.
  Engine e(kRate, 9, 0.0f, 8000.0f, 8);
  const std::vector<float> f = grid_of(e.lr);
  ASSERT_EQ(f[0], 0.0f);
  std::vector<float> a(9), g(9);
  libtembra_compute_alphas(9, f.data(), (float)kRate, a.data());
  libtembra_compute_gammas(9, f.data(), (float)kRate, g.data());
  EXPECT_EQ(a[0], 0.0f);
  EXPECT_EQ(g[0], 0.0f);
  EXPECT_EQ(e.lr->_damp_alphas[0], 0.0f);
  EXPECT_GT(a[1], 0.0f);

  // In every lane position of the 4-lane body and in the scalar tail.
  const float dead[] = {0.0f, -0.0f, 1e-16f, -3.0f, -1.0f, -100.0f};
  for (float d : dead) {
    for (int pos = 0; pos < 7; ++pos) {
      std::vector<float> freq(7, 440.0f), out(7, -1.0f);
      freq[pos] = d;
      libtembra_compute_alphas(7, freq.data(), (float)kRate, out.data());
      EXPECT_EQ(out[pos], 0.0f) << d << " at " << pos;
      for (int i = 0; i < 7; ++i)
        if (i != pos) {
          EXPECT_TRUE(same_bits(out[i], libtembra_compute_alpha(1.0f / kRate, 440.0f)));
        }
    }
  }
  EXPECT_EQ(libtembra_compute_alpha(1.0f / kRate, 0.0f), 0.0f);
  EXPECT_EQ(libtembra_compute_alpha(1.0f / kRate, 1e-16f), 0.0f);
  // The float nearest 1e-15 lies just above the double 1e-15.
  EXPECT_GT(libtembra_compute_alpha(1.0f / kRate, 1e-15f), 0.0f);
}

TEST(LibtembraCoefficients, FourLaneAlphasAgreeWithScalarFormula) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> uni(0.0f, 24000.0f);
  std::uniform_real_distribution<float> logu(-3.0f, 5.0f);
  std::vector<float> freqs;
  for (int i = 0; i < kN; ++i) freqs.push_back(0.0f);
  compute_mel_frequencies(kN, freqs.data(), 20.0f, 20000.0f);
  for (int i = 0; i < 20000; ++i) freqs.push_back(uni(rng));
  for (int i = 0; i < 20000; ++i) freqs.push_back(std::pow(10.0f, logu(rng)));
  for (float f = 1e-14f; f < 1.0f; f *= 1.5f) freqs.push_back(f);
  freqs.push_back(std::numeric_limits<float>::denorm_min());
  freqs.push_back(std::numeric_limits<float>::max());

  const std::array<float, 3> rates = {44100.0f, 48000.0f, 96000.0f};
  long compared = 0, differing = 0;
  int64_t worst = 0;
  for (float rate : rates) {
    // Odd total length: the scalar tail is covered too.
    std::vector<float> vec(freqs.size() + 3, 0.0f);
    std::vector<float> in = freqs;
    in.insert(in.end(), {5.0f, 500.0f, 5000.0f});
    libtembra_compute_alphas((int)in.size(), in.data(), rate, vec.data());
    const float dt = 1.0f / rate;
    for (size_t i = 0; i < in.size(); ++i) {
      const float ref = libtembra_compute_alpha(dt, in[i]);
      ASSERT_TRUE(std::isfinite(vec[i])) << in[i];
      const int64_t d = ulp_distance(vec[i], ref);
      worst = std::max(worst, d);
      differing += d != 0;
      ++compared;
    }
  }
  std::printf("[ alphas ] 4-lane vs scalar: %ld values, %ld differ, worst %lld ulp\n", compared,
              differing, (long long)worst);
  EXPECT_LE(worst, 1);
  // A short array (N < 4) runs the scalar formula only.
  float few[3] = {20.0f, 2000.0f, 0.0f}, out[3];
  libtembra_compute_alphas(3, few, 48000.0f, out);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(same_bits(out[i], libtembra_compute_alpha(1.0f / 48000.0f, few[i])));
}

// --- analysis-resynthesis cycle ---------------------------------------------

TEST(LibtembraCycle, SynthIsSilentBeforeFirstUpdateSynth) {
  for (unsigned short options : {(unsigned short)0, (unsigned short)31}) {
    Engine e(kRate, kN, 20.0f, 20000.0f, options);
    for (int n = 0; n < 100; ++n) {
      libtembra_update(e.lr, (float)std::sin(0.1 * n));
      EXPECT_EQ(libtembra_get_synth(e.lr), 0.0f) << options;
    }
  }
}

TEST(LibtembraCycle, SilenceReadsExactlyZeroAmplitudes) {
  Engine e(kRate, kN, 20.0f, 20000.0f, 31);
  std::vector<float> ai(kN, -1.0f), fi(kN), pi(kN);
  for (int n = 0; n < 64; ++n) libtembra_update(e.lr, 0.0f);
  libtembra_get_buffers(e.lr, ai.data(), fi.data(), pi.data());
  const std::vector<float> grid = grid_of(e.lr);
  for (int i = 0; i < kN; ++i) {
    EXPECT_EQ(ai[i], 0.0f) << i;
    EXPECT_NEAR(fi[i], grid[i], grid[i] * 1e-6f) << i;
  }
}

TEST(LibtembraCycle, BuffersAreTwiceBankAmplitudesAndNullDestinationsAreSkipped) {
  // 7 resonators: one 4-lane group and a scalar tail of 3.
  constexpr int n = 7;
  Engine e(kRate, n, 100.0f, 4000.0f, 1);
  for (int k = 0; k < 3000; ++k)
    libtembra_update(e.lr, (float)(0.4 * std::sin(kTwoPi * 700.0 * k / kRate) +
                                   0.2 * std::sin(kTwoPi * 2300.0 * k / kRate)));

  float bank_amp[n], bank_freq[n], bank_phase[n];
  tracking_resonator_bank_vec_get_amplitudes(e.lr->_bank, bank_amp, n);
  tracking_resonator_bank_vec_get_frequencies(e.lr->_bank, bank_freq, n);
  tracking_resonator_bank_vec_get_phases(e.lr->_bank, bank_phase, n);

  // All destinations null: the internal readouts are still refreshed.
  libtembra_get_buffers(e.lr, nullptr, nullptr, nullptr);
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(same_bits(e.lr->_ai_buf[i], bank_amp[i] + bank_amp[i])) << i;
    EXPECT_TRUE(same_bits(e.lr->_fi_buf[i], bank_freq[i])) << i;
    EXPECT_TRUE(same_bits(e.lr->_pi_buf[i], bank_phase[i])) << i;
  }
  EXPECT_GT(e.lr->_ai_buf[2], 0.0f);

  // Each destination alone: only that one is written.
  for (int which = 0; which < 3; ++which) {
    float bufs[3][n + 1];
    for (auto& b : bufs)
      for (float& v : b) v = -9.0f;
    libtembra_get_buffers(e.lr, which == 0 ? bufs[0] : nullptr, which == 1 ? bufs[1] : nullptr,
                          which == 2 ? bufs[2] : nullptr);
    const float* expect[3] = {e.lr->_ai_buf, e.lr->_fi_buf, e.lr->_pi_buf};
    for (int b = 0; b < 3; ++b) {
      for (int i = 0; i < n; ++i) {
        if (b == which)
          EXPECT_TRUE(same_bits(bufs[b][i], expect[b][i])) << b << " " << i;
        else
          EXPECT_EQ(bufs[b][i], -9.0f) << b << " " << i;
      }
      EXPECT_EQ(bufs[b][n], -9.0f);  // nothing past N
    }
  }
}

TEST(LibtembraCycle, PhasesCarryFixedOffsetsAndNullPhasesKeepThePrevious) {
  constexpr int n = 10;  // groups of four and a tail of two
  std::vector<float> ai(n, 0.1f), fi(n), pi(n), pi2(n);
  for (int i = 0; i < n; ++i) {
    fi[i] = 100.0f * (i + 1);
    pi[i] = -3.0f + 0.6f * i;
    pi2[i] = 0.25f * i;
  }
  for (unsigned short options : {(unsigned short)(8 | 16), (unsigned short)8, (unsigned short)16,
                                 (unsigned short)0}) {
    Engine e(kRate, n, 100.0f, 1000.0f, options);
    const float* off = e.lr->_resynth_phase_offsets;
    // Null phases before any: all stay 0 and no offset is added.
    libtembra_update_synth(e.lr, ai.data(), fi.data(), nullptr);
    for (int i = 0; i < n; ++i) EXPECT_EQ(e.lr->_resynth_phases[i], 0.0f);
    for (const std::vector<float>* p : {&pi, &pi2}) {
      libtembra_update_synth(e.lr, ai.data(), fi.data(), p->data());
      for (int i = 0; i < n; ++i) {
        const float expect = off ? (*p)[i] + off[i] : (*p)[i];
        EXPECT_TRUE(same_bits(e.lr->_resynth_phases[i], expect)) << options << " " << i;
      }
    }
    // Null again keeps the last phases, without a second offset.
    libtembra_update_synth(e.lr, ai.data(), fi.data(), nullptr);
    for (int i = 0; i < n; ++i) {
      const float expect = off ? pi2[i] + off[i] : pi2[i];
      EXPECT_TRUE(same_bits(e.lr->_resynth_phases[i], expect)) << options << " " << i;
      EXPECT_EQ(e.lr->_resynth_amplitudes[i], ai[i]);
      EXPECT_EQ(e.lr->_resynth_frequencies[i], fi[i]);
    }
  }
}

TEST(LibtembraCycle, DampingAlphasFollowIncomingFrequenciesAndAreZeroAtOrBelowZeroHz) {
  constexpr int n = 9;
  Engine e(kRate, n, 100.0f, 5000.0f, 31);
  std::vector<float> ai(n, 0.2f), fi(n), pi(n, 0.0f);
  for (int i = 0; i < n; ++i) fi[i] = 150.0f + 400.0f * i;
  fi[2] = 0.0f;
  fi[8] = -40.0f;  // in the scalar tail
  libtembra_update_synth(e.lr, ai.data(), fi.data(), pi.data());
  for (int i = 0; i < n; ++i) {
    if (i == 2 || i == 8)
      EXPECT_EQ(e.lr->_damp_alphas[i], 0.0f) << i;
    else
      EXPECT_TRUE(same_bits(e.lr->_damp_alphas[i], libtembra_compute_alpha(1.0f / kRate, fi[i])))
          << i;
  }
  // The plain mode leaves the grid's damping coefficients alone.
  Engine plain(kRate, n, 100.0f, 5000.0f, 0);
  std::vector<float> before(plain.lr->_damp_alphas, plain.lr->_damp_alphas + n);
  libtembra_update_synth(plain.lr, ai.data(), fi.data(), pi.data());
  for (int i = 0; i < n; ++i) EXPECT_TRUE(same_bits(plain.lr->_damp_alphas[i], before[i]));
}

TEST(LibtembraCycle, SteadyToneIsTrackedAndResynthesised) {
  constexpr float tone = 1000.0f;
  constexpr float amp = 0.5f;
  for (unsigned short options : {(unsigned short)31, (unsigned short)(31 & ~16),
                                 (unsigned short)(31 & ~8)}) {
    Engine ana(kRate, kN, 20.0f, 20000.0f, options);
    Engine syn(kRate, kN, 20.0f, 20000.0f, options);
    const std::vector<float> grid = grid_of(ana.lr);
    const int k = nearest_index(grid, tone);
    std::vector<float> ai(kN), fi(kN), pi(kN), out;
    const int total = kRate;  // one second
    for (int n = 0; n < total; ++n) {
      const float x = (float)(amp * std::sin(kTwoPi * tone * n / kRate));
      libtembra_update(ana.lr, x);
      libtembra_get_buffers(ana.lr, ai.data(), fi.data(), pi.data());
      libtembra_update_synth(syn.lr, ai.data(), fi.data(), pi.data());
      const float y = libtembra_get_synth(syn.lr);
      ASSERT_TRUE(std::isfinite(y));
      if (n >= total / 2) out.push_back(y);
    }
    EXPECT_NEAR(ai[k], amp, 0.05f * amp) << options;
    EXPECT_NEAR(fi[k], tone, 1.0f) << options;
    // The resonator holds the largest amplitude of the bank.
    for (int i = 0; i < kN; ++i)
      if (i != k) {
        EXPECT_LT(ai[i], ai[k]) << options << " " << i;
      }
    // The resynthesis carries the tone at about its amplitude (Goertzel
    // power of a sinusoid of amplitude A is A^2 / 2), far above the power
    // at frequencies away from it.
    const double at_tone = goertzel_power(out, tone, kRate);
    EXPECT_GT(at_tone, 0.7 * 0.5 * amp * amp) << options;
    EXPECT_LT(at_tone, 1.3 * 0.5 * amp * amp) << options;
    for (double away : {250.0, 600.0, 1500.0, 4000.0})
      EXPECT_GT(at_tone, 100.0 * goertzel_power(out, away, kRate)) << options << " " << away;
    // The grid stays the grid whatever the bank tracks.
    const std::vector<float> after = grid_of(ana.lr);
    for (int i = 0; i < kN; ++i) EXPECT_TRUE(same_bits(after[i], grid[i]));
  }
}

TEST(LibtembraCycle, SetDebugChangesNoOutput) {
  std::srand(99);
  Engine a(kRate, kN, 20.0f, 20000.0f, 31), sa(kRate, kN, 20.0f, 20000.0f, 31);
  std::srand(99);
  Engine b(kRate, kN, 20.0f, 20000.0f, 31), sb(kRate, kN, 20.0f, 20000.0f, 31);
  libtembra_set_debug(b.lr, 0);
  EXPECT_EQ(b.lr->_select_reso, 1);
  libtembra_set_debug(sb.lr, 3);
  EXPECT_EQ(sb.lr->_select_reso, 0);
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0.0f, 0.05f);
  std::vector<float> ai(kN), fi(kN), pi(kN), ai2(kN), fi2(kN), pi2(kN);
  for (int n = 0; n < 4000; ++n) {
    if (n == 2000) {
      libtembra_set_debug(b.lr, 1);
      libtembra_set_debug(sb.lr, 0);
    }
    const float x = (float)(0.3 * std::sin(kTwoPi * 220.0 * n / kRate) +
                            0.1 * std::sin(kTwoPi * 3500.0 * n / kRate)) + noise(rng);
    libtembra_update(a.lr, x);
    libtembra_update(b.lr, x);
    libtembra_get_buffers(a.lr, ai.data(), fi.data(), pi.data());
    libtembra_get_buffers(b.lr, ai2.data(), fi2.data(), pi2.data());
    ASSERT_EQ(std::memcmp(ai.data(), ai2.data(), kN * sizeof(float)), 0) << n;
    ASSERT_EQ(std::memcmp(fi.data(), fi2.data(), kN * sizeof(float)), 0) << n;
    ASSERT_EQ(std::memcmp(pi.data(), pi2.data(), kN * sizeof(float)), 0) << n;
    libtembra_update_synth(sa.lr, ai.data(), fi.data(), pi.data());
    libtembra_update_synth(sb.lr, ai2.data(), fi2.data(), pi2.data());
    ASSERT_TRUE(same_bits(libtembra_get_synth(sa.lr), libtembra_get_synth(sb.lr))) << n;
  }
}

// After a restart an engine that has tracked and resynthesised a tone
// behaves, bit for bit, as a fresh engine with the same random phase
// offsets: the readouts and the resynthesis of what follows are the same,
// with the damped bank and with the plain one.
TEST(LibtembraRestart, RestartedEngineMatchesAFreshOneBitForBit) {
  for (unsigned short options : {(unsigned short)31, (unsigned short)(31 & ~8)}) {
    std::srand(7);
    Engine used(kRate, kN, 20.0f, 20000.0f, options), used_syn(kRate, kN, 20.0f, 20000.0f, options);
    std::vector<float> ai(kN), fi(kN), pi(kN), ai2(kN), fi2(kN), pi2(kN);
    for (int n = 0; n < 6000; ++n) {
      libtembra_update(used.lr, (float)(0.4 * std::sin(kTwoPi * 440.0 * n / kRate) +
                                        0.2 * std::sin(kTwoPi * 5100.0 * n / kRate)));
      libtembra_get_buffers(used.lr, ai.data(), fi.data(), pi.data());
      libtembra_update_synth(used_syn.lr, ai.data(), fi.data(), pi.data());
    }
    ASSERT_NE(libtembra_get_synth(used_syn.lr), 0.0f);
    libtembra_restart(used.lr);
    libtembra_restart(used_syn.lr);
    std::srand(7);
    Engine fresh(kRate, kN, 20.0f, 20000.0f, options), fresh_syn(kRate, kN, 20.0f, 20000.0f, options);
    for (int n = 0; n < 3000; ++n) {
      // A rising chirp from 100 Hz: different partials from the tone's.
      const double t = (double)n / kRate;
      const float x = (float)(0.3 * std::sin(kTwoPi * (100.0 * t + 4000.0 * t * t)));
      libtembra_update(used.lr, x);
      libtembra_update(fresh.lr, x);
      libtembra_get_buffers(used.lr, ai.data(), fi.data(), pi.data());
      libtembra_get_buffers(fresh.lr, ai2.data(), fi2.data(), pi2.data());
      ASSERT_EQ(std::memcmp(ai.data(), ai2.data(), kN * sizeof(float)), 0) << options << " " << n;
      ASSERT_EQ(std::memcmp(fi.data(), fi2.data(), kN * sizeof(float)), 0) << options << " " << n;
      ASSERT_EQ(std::memcmp(pi.data(), pi2.data(), kN * sizeof(float)), 0) << options << " " << n;
      libtembra_update_synth(used_syn.lr, ai.data(), fi.data(), pi.data());
      libtembra_update_synth(fresh_syn.lr, ai2.data(), fi2.data(), pi2.data());
      ASSERT_TRUE(same_bits(libtembra_get_synth(used_syn.lr), libtembra_get_synth(fresh_syn.lr)))
          << options << " " << n;
    }
  }
}
