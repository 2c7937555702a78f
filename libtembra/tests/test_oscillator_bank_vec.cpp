// SPDX-License-Identifier: LGPL-2.1-or-later
// Oscillator bank: phasor arithmetic to the bit, the two omega formulas,
// phase continuity, the 4-lane and scalar paths, and creation failure.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <tembra/oscillator_bank_vec.h>

#include "oscillator_bank_vec_internal.h"
#include "oscillator_test_support.h"

namespace {

using osc_test::UlpDistance;

struct BankFree {
  void operator()(_oscillator_bank_vec* o) const { oscillator_bank_vec_free(o); }
};
using Bank = std::unique_ptr<_oscillator_bank_vec, BankFree>;

Bank MakeBank(const std::vector<float>& amps, const std::vector<float>& freqs, float sr) {
  return Bank(oscillator_bank_vec_new(static_cast<int>(freqs.size()), amps.data(), freqs.data(), sr));
}

constexpr float kSr = 48000.0f;
constexpr double kTwoPi = 6.283185307179586;

TEST(OscillatorBankVec, CreationRoundsTheDoubleOmegaOnceAndTakesTheFrequencyBackFromIt) {
  Bank o = MakeBank({0.0f, 0.0f, 0.0f}, {1000.0f, 440.0f, 5000.0f}, kSr);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->_samplerate, kSr);
  EXPECT_EQ(o->_num_oscillators, 3);
  EXPECT_EQ(o->_omega[0], -0.130899698f);
  // 440 Hz does not survive the trip through omega: a later update
  // repeating 440 Hz therefore counts as a change.
  EXPECT_EQ(o->_frequency[1], 439.999969f);
  EXPECT_NE(o->_frequency[1], 440.0f);
  EXPECT_EQ(o->_two_pi_inv, 0.15915494f);
  EXPECT_EQ(o->_sample_rate_inv, 1.0f / kSr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(o->_Wc[i], cosf(o->_omega[i]));
    EXPECT_EQ(o->_Ws[i], sinf(o->_omega[i]));
    EXPECT_EQ(o->_Wcps[i], o->_Wc[i] + o->_Ws[i]);
    EXPECT_EQ(o->_Zc[i], 1.0f);
    EXPECT_EQ(o->_Zs[i], 0.0f);
    EXPECT_EQ(o->_dpc[i], 1.0f);
    EXPECT_EQ(o->_dps[i], 0.0f);
  }
}

TEST(OscillatorBankVec, UpdateAppliesTheSinglePrecisionOmegaFactor) {
  const float amps[1] = {1.0f};
  const float thousand[1] = {1000.0f};
  Bank o = MakeBank({1.0f}, {500.0f}, kSr);
  oscillator_bank_vec_update(o.get(), amps, thousand, nullptr);
  // One unit in the last place away from the -0.130899698 of creation.
  EXPECT_EQ(o->_omega[0], -0.130899683f);
  EXPECT_EQ(UlpDistance(o->_omega[0], -0.130899698f), 1);
  EXPECT_EQ(o->_Wc[0], cosf(-0.130899683f));
  EXPECT_EQ(o->_Ws[0], sinf(-0.130899683f));
  EXPECT_EQ(o->_Wcps[0], o->_Ws[0] + o->_Wc[0]);
  EXPECT_EQ(o->_frequency[0], 1000.0f);
}

TEST(OscillatorBankVec, UnchangedFrequenciesKeepTheirRotationWithoutTrigonometry) {
  std::vector<float> freqs;
  for (int i = 0; i < 24; ++i) freqs.push_back(20.0f * std::pow(1.31f, static_cast<float>(i)));
  freqs[5] = 440.0f;
  freqs[6] = 1000.0f;
  const std::vector<float> amps(freqs.size(), 0.5f);
  const int n = static_cast<int>(freqs.size());
  Bank o = MakeBank(amps, freqs, kSr);
  const std::vector<float> created_omega(o->_omega, o->_omega + n);
  const std::vector<float> created_freq(o->_frequency, o->_frequency + n);
  const float factor = static_cast<float>(-kTwoPi * static_cast<double>(o->_sample_rate_inv));

  // A sentinel in W shows which oscillators the update recomputed.
  constexpr float kSentinel = 7.0f;
  std::fill(o->_Wc, o->_Wc + n, kSentinel);
  oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), nullptr);
  int recomputed = 0;
  for (int i = 0; i < n; ++i) {
    if (created_freq[i] != freqs[i]) {
      ++recomputed;
      EXPECT_EQ(o->_omega[i], freqs[i] * factor) << i;
      EXPECT_EQ(o->_Wc[i], cosf(o->_omega[i])) << i;
    } else {
      EXPECT_EQ(o->_omega[i], created_omega[i]) << i;
      EXPECT_EQ(o->_Wc[i], kSentinel) << i;
    }
    EXPECT_EQ(o->_frequency[i], freqs[i]) << i;
  }
  EXPECT_NE(created_freq[5], freqs[5]);
  EXPECT_GT(recomputed, 0);
  EXPECT_LT(recomputed, n);

  // The second identical update sees no change anywhere.
  std::fill(o->_Wc, o->_Wc + n, kSentinel);
  std::fill(o->_Ws, o->_Ws + n, kSentinel);
  const std::vector<float> omega_before(o->_omega, o->_omega + n);
  oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), nullptr);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(o->_Wc[i], kSentinel) << i;
    EXPECT_EQ(o->_Ws[i], kSentinel) << i;
    EXPECT_EQ(o->_omega[i], omega_before[i]) << i;
  }
}

TEST(OscillatorBankVec, ChangesOfAtMostOneFemtohertzAreIgnored) {
  const float amp = 1.0f;
  Bank o = MakeBank({amp}, {0.0f}, kSr);
  const float omega0 = o->_omega[0];
  o->_Wc[0] = 7.0f;
  const float tiny = 5e-16f;
  oscillator_bank_vec_update(o.get(), &amp, &tiny, nullptr);
  EXPECT_EQ(o->_Wc[0], 7.0f);
  EXPECT_EQ(o->_omega[0], omega0);
  EXPECT_EQ(o->_frequency[0], tiny);
  // 3e-15 - 5e-16 is more than 1e-15: recomputed.
  const float small = 3e-15f;
  oscillator_bank_vec_update(o.get(), &amp, &small, nullptr);
  EXPECT_EQ(o->_Wc[0], 1.0f);
  EXPECT_EQ(o->_omega[0], small * static_cast<float>(-kTwoPi * static_cast<double>(o->_sample_rate_inv)));
}

TEST(OscillatorBankVec, OutputIsTheAmplitudeTimesCosineOfTheAdvancingPhase) {
  struct Case {
    float f, amp, phi;
  };
  for (const Case c : {Case{1000.0f, 1.0f, 0.0f}, Case{440.0f, 0.25f, 1.2f},
                       Case{97.0f, 2.0f, -2.5f}, Case{15000.0f, 0.7f, 3.0f}}) {
    Bank o = MakeBank({c.amp}, {c.f}, kSr);
    oscillator_bank_vec_update(o.get(), &c.amp, &c.f, &c.phi);
    // The phase advances by the single-precision omega, which differs from
    // 2*pi*f/samplerate by its rounding; the rest is the phasor's drift.
    const double step = -static_cast<double>(o->_omega[0]);
    EXPECT_NEAR(step, kTwoPi * c.f / kSr, 1.2e-7 * step);
    double worst = 0.0;
    for (int n = 1; n <= 4800; ++n) {
      oscillator_bank_vec_update(o.get(), &c.amp, &c.f, &c.phi);
      oscillator_bank_vec_increment_phase(o.get());
      const double expected = c.amp * std::cos(step * n - c.phi);
      worst = std::max(worst, std::fabs(oscillator_bank_vec_get_sample(o.get()) - expected));
    }
    EXPECT_LT(worst, 5e-4 * c.amp) << c.f;
  }
}

TEST(OscillatorBankVec, AllZeroAmplitudesAreExactlySilentUntilAnUpdateGivesSome) {
  const std::vector<float> freqs = {100.0f, 200.0f, 300.0f, 400.0f, 500.0f};
  Bank o = MakeBank(std::vector<float>(5, 0.0f), freqs, kSr);
  for (int n = 0; n < 100; ++n) {
    oscillator_bank_vec_increment_phase(o.get());
    ASSERT_EQ(oscillator_bank_vec_get_sample(o.get()), 0.0f);
  }
  const std::vector<float> amps(5, 0.1f);
  oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), nullptr);
  EXPECT_NE(oscillator_bank_vec_get_sample(o.get()), 0.0f);
}

TEST(OscillatorBankVec, FrequencyChangeContinuesFromTheCurrentPhase) {
  const float amp = 1.0f;
  float f = 1000.0f;
  Bank o = MakeBank({amp}, {f}, kSr);
  double theta = 0.0;
  double worst = 0.0;
  for (int n = 1; n <= 2000; ++n) {
    if (n == 37) f = 1500.0f;
    if (n == 1111) f = 250.0f;
    const float zc = o->_Zc[0], zs = o->_Zs[0];
    oscillator_bank_vec_update(o.get(), &amp, &f, nullptr);
    ASSERT_EQ(o->_Zc[0], zc);
    ASSERT_EQ(o->_Zs[0], zs);
    oscillator_bank_vec_increment_phase(o.get());
    theta += kTwoPi * f / kSr;
    worst = std::max(worst, std::fabs(oscillator_bank_vec_get_sample(o.get()) - std::cos(theta)));
  }
  EXPECT_LT(worst, 2e-4);
}

TEST(OscillatorBankVec, ZeroNyquistAndNegativeFrequencies) {
  const std::vector<float> amps = {0.5f, 1.0f, 1.0f, 1.0f};
  const std::vector<float> freqs = {0.0f, kSr / 2.0f, -1000.0f, 1000.0f};
  Bank o = MakeBank(amps, freqs, kSr);
  EXPECT_EQ(o->_omega[0], 0.0f);
  EXPECT_TRUE(std::signbit(o->_omega[0]));
  EXPECT_EQ(o->_Wc[0], 1.0f);
  EXPECT_EQ(o->_Ws[0], 0.0f);
  EXPECT_EQ(o->_omega[1], static_cast<float>(-M_PI));
  EXPECT_GT(o->_omega[2], 0.0f);
  EXPECT_EQ(o->_omega[2], -o->_omega[3]);

  // Only the constant oscillator is heard, with offset 0.9: A cos(0.9).
  const std::vector<float> heard = {0.5f, 0.0f, 0.0f, 0.0f};
  const std::vector<float> phases = {0.9f, 0.0f, 0.0f, 0.0f};
  oscillator_bank_vec_update(o.get(), heard.data(), freqs.data(), phases.data());
  for (int n = 1; n <= 200; ++n) {
    oscillator_bank_vec_increment_phase(o.get());
    ASSERT_EQ(o->_Zc[0], 1.0f);
    ASSERT_EQ(o->_Zs[0], 0.0f);
    ASSERT_EQ(oscillator_bank_vec_get_sample(o.get()), 0.5f * o->_dpc[0]);
    ASSERT_NEAR(o->_Zc[1], (n % 2) ? -1.0f : 1.0f, 1e-4f) << n;
    if (n == 1) {
      EXPECT_GT(o->_Zs[2], 0.0f);  // the other way round
      EXPECT_LT(o->_Zs[3], 0.0f);
    }
  }
  EXPECT_NEAR(o->_dpc[0], std::cos(0.9), 1e-6);
}

TEST(OscillatorBankVec, PhaseOffsetsPersistWithoutPhasesAndResetWithZeros) {
  const int n = 7;
  std::mt19937 rng(11);
  const auto amps = osc_test::Uniform(rng, n, 0.1f, 1.0f);
  const auto freqs = osc_test::Uniform(rng, n, 50.0f, 8000.0f);
  const auto phases = osc_test::Uniform(rng, n, -3.1f, 3.1f);
  Bank o = MakeBank(amps, freqs, kSr);
  oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), phases.data());
  const std::vector<float> dpc(o->_dpc, o->_dpc + n), dps(o->_dps, o->_dps + n);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(dpc[i], std::cos(phases[i]), 2e-7);
    EXPECT_NEAR(dps[i], std::sin(phases[i]), 2e-7);
  }
  oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), nullptr);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(o->_dpc[i], dpc[i]);
    EXPECT_EQ(o->_dps[i], dps[i]);
  }
  const std::vector<float> zeros(n, 0.0f);
  oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), zeros.data());
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(o->_dpc[i], 1.0f);
    EXPECT_EQ(o->_dps[i], 0.0f);
  }
}

TEST(OscillatorBankVec, OffsetsOfGroupsOfFourComeFromTheVectorRoutinesTheRestFromScalar) {
  std::mt19937 rng(5);
  int vector_differs = 0;
  for (int n : {1, 3, 4, 7, 8, 13}) {
    const auto amps = osc_test::Uniform(rng, n, 0.1f, 1.0f);
    const auto freqs = osc_test::Uniform(rng, n, 50.0f, 8000.0f);
    Bank o = MakeBank(amps, freqs, kSr);
    for (int trial = 0; trial < 16; ++trial) {
      const auto phases = osc_test::Uniform(rng, n, -20.0f, 20.0f);
      oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), phases.data());
      const int grouped = n >= 4 ? n & ~3 : 0;
      for (int g = 0; g < grouped; g += 4) {
        float s[4], c[4];
        osc_test::VectorSinCos(&phases[g], s, c);
        for (int j = 0; j < 4; ++j) {
          ASSERT_EQ(o->_dpc[g + j], c[j]) << n << " " << g + j;
          ASSERT_EQ(o->_dps[g + j], s[j]) << n << " " << g + j;
          vector_differs += c[j] != cosf(phases[g + j]) || s[j] != sinf(phases[g + j]);
        }
      }
      for (int i = grouped; i < n; ++i) {
        ASSERT_EQ(o->_dpc[i], cosf(phases[i])) << n << " " << i;
        ASSERT_EQ(o->_dps[i], sinf(phases[i])) << n << " " << i;
      }
    }
  }
  // The two routines disagree in the last bits often enough that the
  // comparisons above tell which one ran.
  EXPECT_GT(vector_differs, 0);
}

TEST(OscillatorBankVec, RotationFusesAcIntoBothComponentsInEveryLane) {
  std::mt19937 rng(3);
  int unfused_differs = 0;
  for (int n : {1, 3, 4, 7, 12}) {
    const auto freqs = osc_test::Uniform(rng, n, 20.0f, 20000.0f);
    Bank o = MakeBank(std::vector<float>(n, 1.0f), freqs, kSr);
    for (int step = 0; step < 500; ++step) {
      const std::vector<float> a(o->_Zc, o->_Zc + n), b(o->_Zs, o->_Zs + n);
      oscillator_bank_vec_increment_phase(o.get());
      for (int i = 0; i < n; ++i) {
        const auto want = osc_test::RotateFused(a[i], b[i], o->_Wc[i], o->_Ws[i], o->_Wcps[i]);
        ASSERT_EQ(o->_Zc[i], want.c) << n << " " << i << " " << step;
        ASSERT_EQ(o->_Zs[i], want.s) << n << " " << i << " " << step;
        const auto plain = osc_test::RotateUnfused(a[i], b[i], o->_Wc[i], o->_Ws[i], o->_Wcps[i]);
        unfused_differs += plain.c != want.c || plain.s != want.s;
      }
    }
  }
  // The comparison above tells the fused product from the plain one.
  EXPECT_GT(unfused_differs, 0);
}

TEST(OscillatorBankVec, OutputSumPairsTheLanesThenAddsTheRestInOrder) {
  std::mt19937 rng(8);
  int order_matters = 0;
  for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 11, 112}) {
    for (int trial = 0; trial < 20; ++trial) {
      const auto amps = osc_test::Uniform(rng, n, -1.0f, 1.0f);
      const auto freqs = osc_test::Uniform(rng, n, 20.0f, 20000.0f);
      const auto phases = osc_test::Uniform(rng, n, -3.2f, 3.2f);
      Bank o = MakeBank(amps, freqs, kSr);
      oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), phases.data());
      for (int s = 0; s < trial * 7 + 1; ++s) oscillator_bank_vec_increment_phase(o.get());
      const float got = oscillator_bank_vec_get_sample(o.get());
      ASSERT_EQ(got, osc_test::ExpectedSum(n, o->_amplitude, o->_Zc, o->_Zs, o->_dpc, o->_dps))
          << n << " " << trial;
      order_matters += got != osc_test::AscendingSum(n, o->_amplitude, o->_Zc, o->_Zs, o->_dpc, o->_dps);
    }
  }
  EXPECT_GT(order_matters, 0);
}

// Two outputs from one state: each the mono sum over amplitudes weighted by
// its own gains (unit gains and no right gains: the engine's tests).
TEST(OscillatorBankVec, PairSumsWeightEachAmplitudeInTheMonoOrder) {
  std::mt19937 rng(13);
  for (int n : {1, 3, 4, 7, 112}) {
    const auto amps = osc_test::Uniform(rng, n, -1.0f, 1.0f);
    const auto freqs = osc_test::Uniform(rng, n, 20.0f, 20000.0f);
    const auto phases = osc_test::Uniform(rng, n, -3.2f, 3.2f);
    const auto gains_l = osc_test::Uniform(rng, n, 0.0f, 1.5f);
    const auto gains_r = osc_test::Uniform(rng, n, -1.5f, 1.5f);
    Bank o = MakeBank(amps, freqs, kSr);
    oscillator_bank_vec_update(o.get(), amps.data(), freqs.data(), phases.data());
    for (int s = 0; s < 20; ++s) {
      oscillator_bank_vec_increment_phase(o.get());
      float l = 0.0f, r = 0.0f;
      oscillator_bank_vec_get_sample_pair(o.get(), gains_l.data(), gains_r.data(), &l, &r);
      ASSERT_EQ(l, osc_test::ExpectedWeightedSum(n, o->_amplitude, gains_l.data(), o->_Zc, o->_Zs, o->_dpc,
                                                 o->_dps)) << n << " " << s;
      ASSERT_EQ(r, osc_test::ExpectedWeightedSum(n, o->_amplitude, gains_r.data(), o->_Zc, o->_Zs, o->_dpc,
                                                 o->_dps)) << n << " " << s;
    }
  }
}

TEST(OscillatorBankVec, WideBankMatchesSingleOscillatorBanksBitForBit) {
  // Seven oscillators: one group of four and a remainder of three, against
  // seven one-oscillator banks, which run entirely on the scalar path.
  const int n = 7;
  std::mt19937 rng(21);
  const auto base = osc_test::Uniform(rng, n, 30.0f, 12000.0f);
  const auto amps = osc_test::Uniform(rng, n, 0.1f, 1.0f);
  Bank wide = MakeBank(amps, base, kSr);
  std::vector<Bank> single;
  for (int i = 0; i < n; ++i) single.push_back(MakeBank({amps[i]}, {base[i]}, kSr));
  std::vector<float> f(base);
  for (int step = 0; step < 3000; ++step) {
    if (step % 3 == 0) {
      for (int i = 0; i < n; ++i) f[i] = base[i] * (1.0f + 0.01f * std::sin(0.01f * step + i));
    }
    oscillator_bank_vec_update(wide.get(), amps.data(), f.data(), nullptr);
    oscillator_bank_vec_increment_phase(wide.get());
    for (int i = 0; i < n; ++i) {
      oscillator_bank_vec_update(single[i].get(), &amps[i], &f[i], nullptr);
      oscillator_bank_vec_increment_phase(single[i].get());
      ASSERT_EQ(wide->_omega[i], single[i]->_omega[0]) << i << " " << step;
      ASSERT_EQ(wide->_Zc[i], single[i]->_Zc[0]) << i << " " << step;
      ASSERT_EQ(wide->_Zs[i], single[i]->_Zs[0]) << i << " " << step;
    }
  }
}

TEST(OscillatorBankVec, EmptyBankReturnsZeroAndFreeNullIsHarmless) {
  Bank o(oscillator_bank_vec_new(0, nullptr, nullptr, kSr));
  ASSERT_NE(o, nullptr);
  oscillator_bank_vec_update(o.get(), nullptr, nullptr, nullptr);
  oscillator_bank_vec_increment_phase(o.get());
  EXPECT_EQ(oscillator_bank_vec_get_sample(o.get()), 0.0f);
  EXPECT_EQ(o->_sample_rate_inv, 1.0f / kSr);
  oscillator_bank_vec_free(nullptr);
}

TEST(OscillatorBankVec, FailedAllocationReturnsNullAndReleasesEverything) {
  if (TEMBRA_TEST_SANITIZED) GTEST_SKIP() << "the sanitizer reserves the address space";
  const std::vector<float> input(osc_test::kHugeCount, 0.0f);
  constexpr int kArrays = 10;
  for (int fitting = 0; fitting < kArrays; ++fitting) {
    long grown = 0;
    oscillator_bank_vec o = osc_test::WithArraysThatFit(
        fitting,
        [&] { return oscillator_bank_vec_new(osc_test::kHugeCount, input.data(), input.data(), kSr); },
        &grown);
    EXPECT_EQ(o, nullptr) << fitting;
    oscillator_bank_vec_free(o);
    // What was allocated before the failure has been given back.
    EXPECT_LT(grown, 1l << 20) << fitting;
  }
}

}  // namespace
