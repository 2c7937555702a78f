// SPDX-License-Identifier: LGPL-2.1-or-later
// What the CLAP shell costs over the LV2 plug-in: the same shaking settings
// and tone in 256-sample blocks through the built morvane.so (lilv) and the
// built morvane.clap (dlopen), the CLAP host sending its rolling transport
// with every block, as CLAP hosts do. Minima over repetitions, side by side:
//   bench_clap_process --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "clap_host.h"
#include "plugin_host.h"

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

}  // namespace

BENCHMARK_CAPTURE(BM_Lv2Run, mono, false);
BENCHMARK_CAPTURE(BM_ClapProcess, mono, false);
BENCHMARK_CAPTURE(BM_Lv2Run, stereo, true);
BENCHMARK_CAPTURE(BM_ClapProcess, stereo, true);
