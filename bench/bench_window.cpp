// SPDX-License-Identifier: LGPL-2.1-or-later
// What the window's data path and the song lock cost run: the plug-in
// shaking a tone in 256-sample blocks through its descriptor, with no
// window (the atom ports unconnected, as in hosts without the window), with
// a window open (a frame every 1/30 s), with a host's inline display on (a
// snapshot 8 times a second), and with the three shake LFOs locked to the
// song in Tempo while a host sends a position inside a block once a second.
// Compare them side by side in one run, minima over repetitions:
//   bench_window --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/time/time.h>

#include "morvane_internal.h"
#include "plugin_host.h"
#include "song_positions.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;

enum class Watch { NONE, WINDOW, INLINE_DISPLAY, SONG_LOCK };

void BM_RunShaking(benchmark::State& state, Watch watch)
{
    const LV2_Descriptor* d = lv2_descriptor(0);
    TestUridMap map;
    QueueDrawCounter queue;
    const LV2_Feature map_feature{LV2_URID__map, map.map()};
    const LV2_Feature queue_feature{MORVANE_INLINEDISPLAY__queue_draw, &queue.feature};
    const LV2_Feature* with_window[] = {&map_feature, nullptr};
    const LV2_Feature* with_inline[] = {&map_feature, &queue_feature, nullptr};
    std::srand(1);
    LV2_Handle h = d->instantiate(d, kRate, "/nonexistent/",
                                  watch == Watch::INLINE_DISPLAY ? with_inline
                                  : watch != Watch::NONE         ? with_window
                                                                 : nullptr);
    float controls[MORVANE_NUM_CONTROLS];
    for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
        controls[i] = morvane_controls[i]._default;
        d->connect_port(h, morvane_controls[i]._port, &controls[i]);
    }
    if (watch == Watch::SONG_LOCK) {
        for (uint32_t port : {MORVANE_LFO_SHAKE_AMP_SYNC, MORVANE_LFO_SHAKE_FREQ_SYNC, MORVANE_LFO_SHAKE_TIME_SYNC})
            controls[morvane_control_row(port)] = 2.0f;
    }
    controls[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 80.0f;
    controls[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 60.0f;
    controls[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 50.0f;
    std::vector<float> in(kBlock), out(kBlock), out_r(kBlock);
    d->connect_port(h, MORVANE_INPUT_L, in.data());
    d->connect_port(h, MORVANE_INPUT_R, in.data());
    d->connect_port(h, MORVANE_OUTPUT_L, out.data());
    d->connect_port(h, MORVANE_OUTPUT_R, out_r.data());
    AtomBuffer control(256), notify(8192);
    control.clear_input(map.ids());
    if (watch == Watch::WINDOW) {
        send_window_message(control, map.ids(), true);
        d->connect_port(h, MORVANE_CONTROL, control.seq());
        d->connect_port(h, MORVANE_NOTIFY, notify.seq());
    }
    if (watch == Watch::SONG_LOCK) {
        d->connect_port(h, MORVANE_CONTROL, control.seq());
    }
    d->activate(h);
    uint64_t t = 0;
    double samples = 0.0;
    for (auto _ : state) {
        for (uint32_t i = 0; i < kBlock; ++i, ++t)
            in[i] = static_cast<float>(0.3 * std::sin(6.283185307179586 * 330.0 * static_cast<double>(t) / kRate));
        notify.prepare_output(map.ids());
        if (watch == Watch::SONG_LOCK && t % 48000 < kBlock) {
            const double at = static_cast<double>(t - kBlock + 100);  // the song's frame at sample 100
            const Position p(map, {{LV2_TIME__frame, at, 'l'}, {LV2_TIME__speed, 1, 'f'},
                                   {LV2_TIME__beat, at / 24000.0, 'd'},
                                   {LV2_TIME__beatsPerMinute, 120, 'f'}});
            control.append(p.atom(), p.size(), 100);
        }
        d->run(h, kBlock);
        control.clear_input(map.ids());
        benchmark::DoNotOptimize(out.data());
        samples += kBlock;
    }
    state.counters["rtf"] = benchmark::Counter(samples / kRate, benchmark::Counter::kIsRate);
    d->deactivate(h);
    d->cleanup(h);
}

}  // namespace

BENCHMARK_CAPTURE(BM_RunShaking, no_window, Watch::NONE);
BENCHMARK_CAPTURE(BM_RunShaking, window_open, Watch::WINDOW);
BENCHMARK_CAPTURE(BM_RunShaking, inline_display, Watch::INLINE_DISPLAY);
BENCHMARK_CAPTURE(BM_RunShaking, song_lock, Watch::SONG_LOCK);
