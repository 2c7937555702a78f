// SPDX-License-Identifier: LGPL-2.1-or-later
// What the CLAP and VST3 shells cost over the LV2 plug-in: the same shaking
// settings and tone in 256-sample blocks through the built morvane.so
// (lilv), the built morvane.clap and, where built, the .vst3 bundles'
// modules (dlopen), each host sending its rolling transport with every
// block, as CLAP and VST3 hosts do. Compare the minima over interleaved
// repetitions (--benchmark_repetitions=9
// --benchmark_enable_random_interleaving=true).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "clap_host.h"
#include "plugin_host.h"
#if defined(MORVANE_VST3_MONO_FILE)
#include "vst3_host.h"
#endif

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;

Controls shaking()
{
  Controls c = default_controls();
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 80.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 60.0f;
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 50.0f;
  return c;
}

void tone(std::vector<float>& in, uint64_t& t)
{
  for (float& x : in) {
    x = static_cast<float>(0.3 * std::sin(6.283185307179586 * 330.0 * static_cast<double>(t++) / kRate));
  }
}

void BM_Lv2Run(benchmark::State& state, bool stereo)
{
  PluginHost host(kRate, HostSetup{.max_block = kBlock, .stereo = stereo});
  host.controls() = shaking();
  uint64_t t = 0;
  for (auto _ : state) {
    tone(host.in_l(), t);
    host.in_r() = host.in_l();
    host.run(kBlock);
    benchmark::DoNotOptimize(host.out_l().data());
  }
  state.counters["rtf"] = benchmark::Counter(static_cast<double>(t) / kRate, benchmark::Counter::kIsRate);
}

void BM_ClapProcess(benchmark::State& state, bool stereo)
{
  ClapInstance clap(stereo ? "org.example.morvane.stereo" : "org.example.morvane.mono");
  if (!clap.ok() || !clap.activate(kRate, kBlock, 1)) {
    state.SkipWithError("morvane.clap does not load");
    return;
  }
  const Controls c = shaking();
  for (uint32_t row = 0; row < (stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS); ++row) {
    clap.param(0, morvane_controls[row]._port, c[row]);
  }
  std::vector<float> in(kBlock), out_l(kBlock), out_r(kBlock);
  uint64_t t = 0;
  for (auto _ : state) {
    const double seconds = static_cast<double>(t) / kRate;
    const clap_event_transport_t now = clap_transport(seconds, seconds * 2.0, 120.0, true);
    clap.block_transport(&now);
    tone(in, t);
    clap.process(in.data(), in.data(), out_l.data(), out_r.data(), kBlock);
    benchmark::DoNotOptimize(out_l.data());
  }
  state.counters["rtf"] = benchmark::Counter(static_cast<double>(t) / kRate, benchmark::Counter::kIsRate);
}

#if defined(MORVANE_VST3_MONO_FILE)
void BM_Vst3Process(benchmark::State& state, bool stereo)
{
  Vst3Instance vst3(stereo);
  if (!vst3.ok() || !vst3.activate(kRate, kBlock, 1)) {
    state.SkipWithError("the VST3 module does not load");
    return;
  }
  const Controls c = shaking();
  for (uint32_t row = 0; row < (stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS); ++row) {
    vst3.param(0, morvane_controls[row]._port, vst3.normalized(morvane_controls[row]._port, c[row]));
  }
  std::vector<float> in(kBlock), out_l(kBlock), out_r(kBlock);
  uint64_t t = 0;
  for (auto _ : state) {
    const double seconds = static_cast<double>(t) / kRate;
    const v3_process_context now = vst3_context(static_cast<int64_t>(t), seconds * 2.0, 120.0, true);
    vst3.context(&now);
    tone(in, t);
    vst3.process(in.data(), in.data(), out_l.data(), out_r.data(), kBlock);
    benchmark::DoNotOptimize(out_l.data());
  }
  state.counters["rtf"] = benchmark::Counter(static_cast<double>(t) / kRate, benchmark::Counter::kIsRate);
}
#endif

}  // namespace

BENCHMARK_CAPTURE(BM_Lv2Run, mono, false);
BENCHMARK_CAPTURE(BM_ClapProcess, mono, false);
BENCHMARK_CAPTURE(BM_Lv2Run, stereo, true);
BENCHMARK_CAPTURE(BM_ClapProcess, stereo, true);
#if defined(MORVANE_VST3_MONO_FILE)
BENCHMARK_CAPTURE(BM_Vst3Process, mono, false);
BENCHMARK_CAPTURE(BM_Vst3Process, stereo, true);
#endif
