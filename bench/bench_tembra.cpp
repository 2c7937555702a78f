// SPDX-License-Identifier: LGPL-2.1-or-later
// Cost of the resonator engine per audio sample, as the effect runs it:
// 112 resonators on the mel grid from 20 Hz to 20 kHz, all options on, at
// 48 kHz. "realtime_x" is how many times faster than real time one
// analysis + resynthesis channel runs (1e9 / 48000 ns over the measured ns).
#include <benchmark/benchmark.h>

#include <tembra/libtembra.h>
#include <tembra/mel.h>

#include <xmmintrin.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench_paths.h"
#include "libtembra_internal.h"

namespace {

constexpr int kRate = 48000;
constexpr int kN = 112;
constexpr unsigned short kOptions = 31;

// One second of a realistic input: a few partials, a gliding tone and noise.
std::vector<float> make_signal() {
  std::vector<float> x(kRate);
  std::mt19937 rng(1);
  std::normal_distribution<float> noise(0.0f, 0.02f);
  double glide_phase = 0.0;
  for (int n = 0; n < kRate; ++n) {
    const double t = (double)n / kRate;
    glide_phase += 6.283185307179586 * (300.0 + 200.0 * std::sin(6.283185307179586 * 0.5 * t)) / kRate;
    x[n] = (float)(0.3 * std::sin(6.283185307179586 * 110.0 * t) +
                   0.15 * std::sin(6.283185307179586 * 440.0 * t) +
                   0.08 * std::sin(6.283185307179586 * 2637.0 * t) +
                   0.1 * std::sin(glide_phase)) +
           noise(rng);
  }
  return x;
}

void report_rate(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["realtime_x"] =
      benchmark::Counter((double)state.iterations() / kRate, benchmark::Counter::kIsRate);
}

// One sample through analysis and resynthesis, as the effect runs them.
void one_sample(libtembra ana, libtembra syn, std::vector<float>& ai, std::vector<float>& fi,
                std::vector<float>& pi, float v) {
  libtembra_update(ana, v);
  libtembra_get_buffers(ana, ai.data(), fi.data(), pi.data());
  libtembra_update_synth(syn, ai.data(), fi.data(), pi.data());
  benchmark::DoNotOptimize(libtembra_get_synth(syn));
}

// update, get_buffers, update_synth, get_synth: one full sample.
void BM_AnalysisResynthesisSample(benchmark::State& state) {
  const std::vector<float> x = make_signal();
  libtembra ana = libtembra_new(kRate, kN, 20.0f, 20000.0f, kOptions);
  libtembra syn = libtembra_new(kRate, kN, 20.0f, 20000.0f, kOptions);
  std::vector<float> ai(kN), fi(kN), pi(kN);
  // Let the resonators lock before measuring.
  for (float v : x) one_sample(ana, syn, ai, fi, pi, v);
  size_t n = 0;
  for (auto _ : state) {
    one_sample(ana, syn, ai, fi, pi, x[n]);
    if (++n == x.size()) n = 0;
  }
  report_rate(state);
  libtembra_free(syn);
  libtembra_free(ana);
}
BENCHMARK(BM_AnalysisResynthesisSample);

// The analysis half alone: update and get_buffers.
void BM_AnalysisSample(benchmark::State& state) {
  const std::vector<float> x = make_signal();
  libtembra ana = libtembra_new(kRate, kN, 20.0f, 20000.0f, kOptions);
  std::vector<float> ai(kN), fi(kN), pi(kN);
  for (float v : x) libtembra_update(ana, v);
  size_t n = 0;
  for (auto _ : state) {
    libtembra_update(ana, x[n]);
    libtembra_get_buffers(ana, ai.data(), fi.data(), pi.data());
    benchmark::DoNotOptimize(ai.data());
    if (++n == x.size()) n = 0;
  }
  report_rate(state);
  libtembra_free(ana);
}
BENCHMARK(BM_AnalysisSample);

// The resynthesis half alone, on triples recorded from the analysis.
void BM_ResynthesisSample(benchmark::State& state) {
  const std::vector<float> x = make_signal();
  constexpr int kFrames = 4800;
  libtembra ana = libtembra_new(kRate, kN, 20.0f, 20000.0f, kOptions);
  libtembra syn = libtembra_new(kRate, kN, 20.0f, 20000.0f, kOptions);
  std::vector<float> ai(kN * kFrames), fi(kN * kFrames), pi(kN * kFrames);
  for (int k = 0; k < kRate - kFrames; ++k) libtembra_update(ana, x[k]);
  for (int k = 0; k < kFrames; ++k) {
    libtembra_update(ana, x[kRate - kFrames + k]);
    libtembra_get_buffers(ana, &ai[k * kN], &fi[k * kN], &pi[k * kN]);
  }
  int k = 0;
  for (auto _ : state) {
    libtembra_update_synth(syn, &ai[k * kN], &fi[k * kN], &pi[k * kN]);
    benchmark::DoNotOptimize(libtembra_get_synth(syn));
    if (++k == kFrames) k = 0;
  }
  report_rate(state);
  libtembra_free(syn);
  libtembra_free(ana);
}
BENCHMARK(BM_ResynthesisSample);

// The damping coefficients recomputed in every resynthesis update.
void BM_ComputeAlphas112(benchmark::State& state) {
  std::vector<float> f(kN), a(kN);
  compute_mel_frequencies(kN, f.data(), 20.0f, 20000.0f);
  for (auto _ : state) {
    libtembra_compute_alphas(kN, f.data(), (float)kRate, a.data());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kN);
}
BENCHMARK(BM_ComputeAlphas112);

}  // namespace

// One analysis + resynthesis sample for N resonators on the mel grid
// (N = 56, 112, 224, 448), under flush-to-zero as the effect runs it, on
// each vector path: "ns_per_resonator" should stay flat as N grows.
void BM_CostPerResonator(benchmark::State& state) {
  if (!bench_use_path(state, 1)) return;
  const int n_reso = (int)state.range(0);
  const std::vector<float> x = make_signal();
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040u);
  libtembra ana = libtembra_new(kRate, n_reso, 20.0f, 20000.0f, kOptions);
  libtembra syn = libtembra_new(kRate, n_reso, 20.0f, 20000.0f, kOptions);
  std::vector<float> ai(n_reso), fi(n_reso), pi(n_reso);
  for (float v : x) one_sample(ana, syn, ai, fi, pi, v);
  size_t n = 0;
  for (auto _ : state) {
    one_sample(ana, syn, ai, fi, pi, x[n]);
    if (++n == x.size()) n = 0;
  }
  _mm_setcsr(saved);
  state.counters["ns_per_resonator"] = benchmark::Counter(
      (double)state.iterations() * n_reso * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  libtembra_free(syn);
  libtembra_free(ana);
}
BENCHMARK(BM_CostPerResonator)
    ->ArgNames({"n", "path"})
    ->ArgsProduct({{56, 112, 224, 448}, {tembra_simd::kAvx2, tembra_simd::kAvx512}});
