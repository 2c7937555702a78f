// SPDX-License-Identifier: LGPL-2.1-or-later
// The remembered results of the per-sample transcendentals (phase readout,
// resynthesis coefficients, phase offsets) are always those a fresh
// evaluation gives: after changes in single lanes, after no change at all,
// and after the floating-point mode changes under the same arguments.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <tembra/damp_oscillator_bank_vec.h>
#include <tembra/libtembra.h>
#include <tembra/tracking_resonator_bank_vec.h>

#include "damp_oscillator_bank_vec_internal.h"
#include "libtembra_internal.h"
#include "phasor_kernels.h"
#include "tracking_resonator_bank_vec_internal.h"

namespace {

constexpr int kN = 12;  // one group of eight and one of four
constexpr float kDenormal = 1e-40f;

// Sets or clears flush-to-zero and denormals-are-zero for its lifetime.
class Mode {
 public:
  explicit Mode(bool flush) : _saved(_mm_getcsr()) {
    _mm_setcsr(flush ? (_saved | 0x8040u) : (_saved & ~0x8040u));
  }
  ~Mode() { _mm_setcsr(_saved); }

 private:
  unsigned _saved;
};

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

struct TrackingDeleter {
  void operator()(_tracking_resonator_bank_vec* t) const { tracking_resonator_bank_vec_free(t); }
};
struct DampDeleter {
  void operator()(_damp_oscillator_bank_vec* d) const { damp_oscillator_bank_vec_free(d); }
};
struct EngineDeleter {
  void operator()(_libtembra* e) const { libtembra_free(e); }
};

std::unique_ptr<_tracking_resonator_bank_vec, TrackingDeleter> make_tracking() {
  std::vector<float> f(kN), a(kN, 0.01f), b(kN, 0.01f), g(kN, 0.005f);
  for (int i = 0; i < kN; ++i) f[i] = 100.0f * static_cast<float>(i + 1);
  return std::unique_ptr<_tracking_resonator_bank_vec, TrackingDeleter>(
      tracking_resonator_bank_vec_new(kN, f.data(), a.data(), b.data(), g.data(), 48000.0f));
}

// The phase readout against the scalar arc tangent, in the current mode.
void expect_fresh_phases(tracking_resonator_bank_vec t, const char* when) {
  float got[kN];
  tracking_resonator_bank_vec_get_phases(t, got, kN);
  for (int i = 0; i < kN; ++i) {
    const float want = static_cast<float>(std::atan2(static_cast<double>(t->_ss[i]), static_cast<double>(t->_cc[i])));
    EXPECT_EQ(bits(got[i]), bits(want)) << when << ", resonator " << i;
  }
}

TEST(Memo, PhaseReadoutRecomputesExactlyTheGroupsWhoseStateChanged) {
  auto t = make_tracking();
  ASSERT_NE(t, nullptr);
  Mode mode(true);
  expect_fresh_phases(t.get(), "at rest");
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int i = 0; i < kN; ++i) {
    t->_cc[i] = u(gen);
    t->_ss[i] = u(gen);
  }
  expect_fresh_phases(t.get(), "all changed");
  expect_fresh_phases(t.get(), "nothing changed");
  for (int lane : {0, 5, 11}) {
    t->_ss[lane] = -t->_ss[lane];
    expect_fresh_phases(t.get(), "one lane changed");
  }
  t->_cc[3] = -0.0f;
  t->_ss[3] = 0.0f;
  expect_fresh_phases(t.get(), "a signed zero");
}

TEST(Memo, PhaseReadoutFollowsTheFloatingPointMode) {
  auto t = make_tracking();
  ASSERT_NE(t, nullptr);
  for (int i = 0; i < kN; ++i) {
    t->_cc[i] = kDenormal * static_cast<float>(i + 1);
    t->_ss[i] = kDenormal;
  }
  float flushed[kN];
  float kept[kN];
  {
    Mode mode(true);
    expect_fresh_phases(t.get(), "denormals are zero");
    tracking_resonator_bank_vec_get_phases(t.get(), flushed, kN);
  }
  {
    Mode mode(false);
    expect_fresh_phases(t.get(), "denormals kept");
    tracking_resonator_bank_vec_get_phases(t.get(), kept, kN);
  }
  // The two modes do give different phases here, so the test has teeth.
  EXPECT_NE(bits(flushed[0]), bits(kept[0]));
  Mode mode(true);
  expect_fresh_phases(t.get(), "back to denormals are zero");
}

TEST(Memo, MemoryRestsWhileEverythingChangesAndReturnsWhenThingsStandStill) {
#if !defined(TEMBRA_PHASE_OFFSETS) || MORVANE_REFERENCE
  GTEST_SKIP() << "this build evaluates every call";
#endif
  auto t = make_tracking();
  ASSERT_NE(t, nullptr);
  Mode mode(true);
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  // Every group changes on every call: after two calls the memory rests,
  // and the readout stays exact all the while.
  for (int call = 0; call < 40; ++call) {
    for (int i = 0; i < kN; ++i) t->_cc[i] = u(gen);
    expect_fresh_phases(t.get(), "changing");
  }
  EXPECT_GT(t->_memo_rest, 0);
  // Standing still: within one rest and two calls the memory serves again.
  for (int call = 0; call < 40; ++call) expect_fresh_phases(t.get(), "standing still");
  EXPECT_EQ(t->_memo_rest, 0);
  EXPECT_EQ(t->_memo_mode, tembra_fp::ftz_daz_bits());
}

// The engine's resynthesis coefficients against a fresh evaluation.
void expect_fresh_alphas(libtembra e, const std::vector<float>& fi, const char* when) {
  std::vector<float> ai(kN, 0.1f), pi(kN, 0.0f), want(kN);
  libtembra_update_synth(e, ai.data(), fi.data(), pi.data());
  libtembra_compute_alphas(kN, fi.data(), 48000.0f, want.data());
  for (int i = 0; i < kN; ++i) EXPECT_EQ(bits(e->_damp_alphas[i]), bits(want[i])) << when << ", resonator " << i;
}

TEST(Memo, ResynthesisCoefficientsAreThoseOfTheFrequenciesJustGiven) {
  std::unique_ptr<_libtembra, EngineDeleter> e(libtembra_new(48000, kN, 20.0f, 20000.0f, 31));
  ASSERT_NE(e, nullptr);
  Mode mode(true);
  std::vector<float> fi(kN);
  for (int i = 0; i < kN; ++i) fi[i] = 50.0f * static_cast<float>(i + 1);
  expect_fresh_alphas(e.get(), fi, "first call");
  expect_fresh_alphas(e.get(), fi, "same frequencies");
  fi[2] = 0.0f;
  expect_fresh_alphas(e.get(), fi, "a zero frequency");
  fi[9] = std::nextafter(fi[9], 1e9f);
  expect_fresh_alphas(e.get(), fi, "one ulp up");
  fi[4] = -fi[4];
  expect_fresh_alphas(e.get(), fi, "a negative frequency");
  fi[7] = std::nanf("");
  expect_fresh_alphas(e.get(), fi, "a NaN frequency");
}

// A damped bank's phase-offset sines and cosines against a fresh evaluation.
void expect_fresh_offsets(damp_oscillator_bank_vec d, const std::vector<float>& phases, const char* when) {
  const std::vector<float> amps(kN, 0.5f), freqs(kN, 440.0f);
  damp_oscillator_bank_vec_update(d, amps.data(), freqs.data(), phases.data());
  std::vector<float> c(kN), s(kN);
  phasor_set_offsets(d->_path, kN, phases.data(), c.data(), s.data());
  for (int i = 0; i < kN; ++i) {
    EXPECT_EQ(bits(d->_dpc[i]), bits(c[i])) << when << ", oscillator " << i;
    EXPECT_EQ(bits(d->_dps[i]), bits(s[i])) << when << ", oscillator " << i;
  }
}

TEST(Memo, PhaseOffsetsAreThoseOfThePhasesJustGivenInEitherMode) {
  const std::vector<float> amps(kN, 0.0f), freqs(kN, 440.0f), alphas(kN, 0.1f);
  std::unique_ptr<_damp_oscillator_bank_vec, DampDeleter> d(
      damp_oscillator_bank_vec_new(kN, amps.data(), freqs.data(), alphas.data(), 48000.0f));
  ASSERT_NE(d, nullptr);
  std::vector<float> phases(kN);
  for (int i = 0; i < kN; ++i) phases[i] = 0.7f * static_cast<float>(i) - 3.0f;
  {
    Mode mode(true);
    expect_fresh_offsets(d.get(), phases, "first call");
    expect_fresh_offsets(d.get(), phases, "same phases");
    for (int lane : {1, 7, 10}) {
      phases[lane] += 0.25f;
      expect_fresh_offsets(d.get(), phases, "one lane changed");
    }
    phases[0] = kDenormal;
    phases[8] = -kDenormal;
    expect_fresh_offsets(d.get(), phases, "denormal phases, flushed");
  }
  {
    Mode mode(false);
    expect_fresh_offsets(d.get(), phases, "denormal phases, kept");
    EXPECT_EQ(bits(d->_dps[0]), bits(kDenormal));
  }
  Mode mode(true);
  expect_fresh_offsets(d.get(), phases, "flushed again");
  EXPECT_EQ(bits(d->_dps[0]), bits(0.0f));
}

}  // namespace
