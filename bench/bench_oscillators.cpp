// SPDX-License-Identifier: LGPL-2.1-or-later
// Cost of the resynthesis oscillator banks on the audio path: one sample of
// 112 oscillators (mel grid 20 Hz - 20 kHz at 48 kHz) as the resonator
// engine drives them, i.e. update + increment + read, and for the damped
// bank also set_alphas first. "Gliding" gives every oscillator a new
// frequency on every sample (a slow vibrato), so every oscillator evaluates
// a sine and a cosine per sample; "Steady" repeats the same frequencies, so
// none does once the bank has settled. Phases are given on every sample,
// as the engine does.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <tembra/damp_oscillator_bank_vec.h>
#include <tembra/oscillator_bank_vec.h>

#include "damp_oscillator_bank_vec_internal.h"

namespace {

constexpr int kOscillators = 112;
constexpr float kRate = 48000.0f;
constexpr int kFrames = 512;  // distinct per-sample inputs, cycled
constexpr double kTwoPi = 6.283185307179586;

std::vector<float> mel_grid() {
  auto mel = [](double hz) { return 2595.0 * std::log10(1.0 + hz / 700.0); };
  std::vector<float> f(kOscillators);
  for (int i = 0; i < kOscillators; ++i) {
    const double m = mel(20.0) + (mel(20000.0) - mel(20.0)) * i / (kOscillators - 1);
    f[i] = static_cast<float>(700.0 * (std::pow(10.0, m / 2595.0) - 1.0));
  }
  return f;
}

float glide_alpha(float f) {
  if (!(f > 1e-15f)) return 0.0f;
  return static_cast<float>(1.0 - std::exp(-(static_cast<double>(f) / kRate) / std::log(1.0 + f)));
}

// kFrames consecutive inputs of N values each, frame k at [k * N].
struct Inputs {
  std::vector<float> amp, freq, phase, alpha;
};

Inputs make_inputs(bool gliding) {
  const std::vector<float> base = mel_grid();
  Inputs in;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> phase(-3.14159f, 3.14159f);
  for (int k = 0; k < kFrames; ++k) {
    for (int i = 0; i < kOscillators; ++i) {
      const double vib = gliding ? 0.003 * std::sin(kTwoPi * k / kFrames + i) : 0.0;
      const float f = static_cast<float>(base[i] * (1.0 + vib));
      in.amp.push_back(0.01f + 0.001f * static_cast<float>(i % 7));
      in.freq.push_back(f);
      in.phase.push_back(phase(rng));
      in.alpha.push_back(glide_alpha(f));
    }
  }
  return in;
}

void run_plain(benchmark::State& state, bool gliding) {
  const Inputs in = make_inputs(gliding);
  oscillator_bank_vec o = oscillator_bank_vec_new(kOscillators, in.amp.data(), in.freq.data(), kRate);
  int k = 0;
  for (auto _ : state) {
    const std::size_t at = static_cast<std::size_t>(k) * kOscillators;
    oscillator_bank_vec_update(o, &in.amp[at], &in.freq[at], &in.phase[at]);
    oscillator_bank_vec_increment_phase(o);
    benchmark::DoNotOptimize(oscillator_bank_vec_get_sample(o));
    if (++k == kFrames) k = 0;
  }
  oscillator_bank_vec_free(o);
}

void run_damped(benchmark::State& state, bool gliding) {
  const Inputs in = make_inputs(gliding);
  damp_oscillator_bank_vec d =
      damp_oscillator_bank_vec_new(kOscillators, in.amp.data(), in.freq.data(), in.alpha.data(), kRate);
  int k = 0;
  auto step = [&] {
    const std::size_t at = static_cast<std::size_t>(k) * kOscillators;
    damp_oscillator_bank_vec_set_alphas(d, &in.alpha[at]);
    damp_oscillator_bank_vec_update(d, &in.amp[at], &in.freq[at], &in.phase[at]);
    damp_oscillator_bank_vec_increment_phase(d);
    benchmark::DoNotOptimize(damp_oscillator_bank_vec_get_sample(d));
    if (++k == kFrames) k = 0;
  };
  for (int n = 0; n < 96000; ++n) step();  // settle the glides
  for (auto _ : state) step();
  // How many oscillators still move their frequency (and so evaluate a sine
  // and a cosine) per sample.
  std::vector<float> before(d->_frequency, d->_frequency + kOscillators);
  step();
  int moving = 0;
  for (int i = 0; i < kOscillators; ++i) moving += before[i] != d->_frequency[i];
  state.counters["moving"] = moving;
  damp_oscillator_bank_vec_free(d);
}

void BM_OscillatorBankGliding(benchmark::State& state) { run_plain(state, true); }
void BM_OscillatorBankSteady(benchmark::State& state) { run_plain(state, false); }
void BM_DampOscillatorBankGliding(benchmark::State& state) { run_damped(state, true); }
void BM_DampOscillatorBankSteady(benchmark::State& state) { run_damped(state, false); }

BENCHMARK(BM_OscillatorBankGliding);
BENCHMARK(BM_OscillatorBankSteady);
BENCHMARK(BM_DampOscillatorBankGliding);
BENCHMARK(BM_DampOscillatorBankSteady);

}  // namespace
