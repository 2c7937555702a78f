// SPDX-License-Identifier: LGPL-2.1-or-later
// The resonator engine's second channel: two weighted outputs from one
// advance of the resynthesis, and random phase offsets read from one engine
// and given to another. Expected samples come from engines of the same
// srand on the mono road. (libquivex's tests copy a state.)
#include <gtest/gtest.h>

#include <tembra/libtembra.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kN = 112;
constexpr double kTwoPi = 6.283185307179586;
constexpr unsigned short kDamped = 31, kPlain = 31 & ~8;

struct Free {
  void operator()(_libtembra* lr) const { libtembra_free(lr); }
};
using Engine = std::unique_ptr<_libtembra, Free>;

// An engine made right after srand(seed): one seed, one set of offsets.
Engine make(unsigned seed, unsigned short options) {
  std::srand(seed);
  return Engine(libtembra_new(kRate, kN, 20.0f, 20000.0f, options));
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Two tones, a chirp and a little noise.
float signal_at(int n, std::mt19937& rng) {
  std::normal_distribution<float> noise(0.0f, 0.01f);
  const double t = (double)n / kRate;
  return (float)(0.3 * std::sin(kTwoPi * 330.0 * t) + 0.2 * std::sin(kTwoPi * 2700.0 * t) +
                 0.1 * std::sin(kTwoPi * (200.0 * t + 3000.0 * t * t))) + noise(rng);
}

// The analysis of one sample, handed on by the caller.
struct Analysis {
  explicit Analysis(unsigned short options) : lr(make(1, options)), ai(kN), fi(kN), pi(kN) {}
  void next(float x) {
    libtembra_update(lr.get(), x);
    libtembra_get_buffers(lr.get(), ai.data(), fi.data(), pi.data());
  }
  void hand_to(libtembra syn) const { libtembra_update_synth(syn, ai.data(), fi.data(), pi.data()); }
  Engine lr;
  std::vector<float> ai, fi, pi;
};

}  // namespace

// Unit gains give get_synth's sample bit for bit on both sides; gains of
// 1/2 and 1/4 scale it exactly (powers of two round alike); without right
// gains the right output is left alone. Each call advances the bank once.
TEST(LibtembraStereo, SynthPairWithUnitGainsIsTheMonoSampleAndPowersOfTwoScaleItExactly) {
  const std::vector<float> ones(kN, 1.0f), halves(kN, 0.5f), quarters(kN, 0.25f);
  for (unsigned short options : {kDamped, kPlain}) {
    Analysis ana(options);
    Engine mono = make(4, options), unit = make(4, options), scaled = make(4, options),
           left_only = make(4, options);
    std::mt19937 rng(2);
    double energy = 0.0;
    for (int n = 0; n < 6000; ++n) {
      ana.next(signal_at(n, rng));
      for (libtembra syn : {mono.get(), unit.get(), scaled.get(), left_only.get()}) ana.hand_to(syn);
      const float want = libtembra_get_synth(mono.get());
      float l = 0.0f, r = 0.0f;
      libtembra_get_synth_pair(unit.get(), ones.data(), ones.data(), &l, &r);
      ASSERT_TRUE(same_bits(l, want) && same_bits(r, want)) << options << " " << n;
      libtembra_get_synth_pair(scaled.get(), halves.data(), quarters.data(), &l, &r);
      ASSERT_TRUE(same_bits(l, want * 0.5f) && same_bits(r, want * 0.25f)) << options << " " << n;
      float untouched = -9.0f;
      libtembra_get_synth_pair(left_only.get(), ones.data(), nullptr, &l, &untouched);
      ASSERT_TRUE(same_bits(l, want)) << options << " " << n;
      ASSERT_EQ(untouched, -9.0f);
      energy += (double)want * want;
    }
    EXPECT_GT(energy, 10.0) << options;
  }
}

// Offsets read from one engine and given to another of a different srand
// make it resynthesise the same triples to the same samples; an engine
// without random offsets reads none and ignores the ones given.
TEST(LibtembraStereo, PhaseOffsetsGivenToAnotherEngineMakeItSoundTheSame) {
  Engine source = make(5, kDamped), other = make(6, kDamped);
  std::vector<float> offsets(kN + 1, -1.0f), others(kN);
  ASSERT_EQ(libtembra_get_phase_offsets(source.get(), offsets.data()), 1);
  EXPECT_EQ(offsets[kN], -1.0f);  // nothing past N
  ASSERT_EQ(libtembra_get_phase_offsets(other.get(), others.data()), 1);
  int differing = 0;
  for (int i = 0; i < kN; ++i) {
    EXPECT_GE(offsets[i], 0.0f) << i;
    EXPECT_LE(offsets[i], (float)kTwoPi) << i;
    differing += offsets[i] != others[i];
  }
  EXPECT_GT(differing, kN / 2);
  libtembra_set_phase_offsets(other.get(), offsets.data());

  Engine none = make(7, 15), none_given = make(7, 15);
  std::vector<float> sentinel(kN, -1.0f);
  EXPECT_EQ(libtembra_get_phase_offsets(none.get(), sentinel.data()), 0);
  EXPECT_EQ(sentinel, std::vector<float>(kN, -1.0f));
  libtembra_set_phase_offsets(none_given.get(), offsets.data());

  Analysis ana(kDamped);
  std::mt19937 rng(3);
  for (int n = 0; n < 3000; ++n) {
    ana.next(signal_at(n, rng));
    for (libtembra syn : {source.get(), other.get(), none.get(), none_given.get()}) ana.hand_to(syn);
    ASSERT_TRUE(same_bits(libtembra_get_synth(other.get()), libtembra_get_synth(source.get()))) << n;
    ASSERT_TRUE(same_bits(libtembra_get_synth(none_given.get()), libtembra_get_synth(none.get()))) << n;
  }
}
