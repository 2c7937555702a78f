// SPDX-License-Identifier: LGPL-2.1-or-later
// Cost of the stereo roads next to the mono one: 48 kHz, blocks of 256
// samples of tones with noise, all three shake LFOs moving, one iteration a
// buffer (both channels for the stereo roads).
//   BM_RoadMono       libquivex_next_buffer: one channel
//   BM_RoadMid        libquivex_next_buffer_stereo: one analysis, one shake
//                     path, two weighted sums
//   BM_RoadMidOffset  libquivex_next_buffer_pair: one analysis, two shake
//                     paths and resyntheses, the second LFOs ahead
//   BM_RoadLeftRight  libquivex_next_buffer on two engines
// bench/interleave runs them in alternating rounds and prints each one's
// ratio to the first (see its usage).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <quivex/libquivex.h>

#include "bench_paths.h"
#include "bench_signal.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 256;
constexpr int kReso = LIBQUIVEX_NUM_RESONATORS;

enum class Road { MONO, MID, MID_OFFSET, LEFT_RIGHT };


void run_road(benchmark::State& state, Road road)
{
    if (!bench_use_path(state))
        return;
    const auto signal = bench_tones_glide_noise(kRate);
    libquivex left = libquivex_new(kRate);
    libquivex right = libquivex_new(kRate);
    if (left == nullptr || right == nullptr) {
        state.SkipWithError("libquivex_new failed");
        return;
    }
    libquivex_share_phase_offsets(right, left);
    // Partials spread across the field at half width, as the plug-in does.
    float gains_l[kReso], gains_r[kReso];
    for (int k = 0; k < kReso; ++k) {
        const double pan = (k % 2 ? 0.5 : -0.5);
        gains_l[k] = static_cast<float>(std::sqrt(2.0) * std::sin(0.7853981633974483 * (1.0 - pan)));
        gains_r[k] = static_cast<float>(std::sqrt(2.0) * std::sin(0.7853981633974483 * (1.0 + pan)));
    }
    for (libquivex q : {left, right}) {
        bench_set_shaking(q);
        libquivex_set_partial_gains(q, gains_l, gains_r);
    }
    float in[kBlock], out_l[kBlock], out_r[kBlock];
    std::size_t pos = 0;
    double samples = 0.0;
    for (auto _ : state) {
        if (pos + kBlock > signal.size())
            pos = 0;
        std::memcpy(in, signal.data() + pos, sizeof(in));
        pos += kBlock;
        switch (road) {
        case Road::MONO:
            libquivex_next_buffer(left, in, kBlock);
            break;
        case Road::MID:
            libquivex_next_buffer_stereo(left, in, out_l, out_r, kBlock);
            break;
        case Road::MID_OFFSET:
            libquivex_follow_lfos(right, left, 1.5707963267948966);
            libquivex_next_buffer_pair(left, right, in, out_l, out_r, kBlock);
            break;
        case Road::LEFT_RIGHT:
            std::memcpy(out_l, in, sizeof(in));
            std::memcpy(out_r, in, sizeof(in));
            libquivex_follow_lfos(right, left, 0.0);
            libquivex_next_buffer(left, out_l, kBlock);
            libquivex_next_buffer(right, out_r, kBlock);
            break;
        }
        benchmark::DoNotOptimize(in);
        benchmark::DoNotOptimize(out_l);
        benchmark::DoNotOptimize(out_r);
        samples += kBlock;
    }
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    libquivex_free(left);
    libquivex_free(right);
}

void BM_RoadMono(benchmark::State& state) { run_road(state, Road::MONO); }
void BM_RoadMid(benchmark::State& state) { run_road(state, Road::MID); }
void BM_RoadMidOffset(benchmark::State& state) { run_road(state, Road::MID_OFFSET); }
void BM_RoadLeftRight(benchmark::State& state) { run_road(state, Road::LEFT_RIGHT); }

}  // namespace

MORVANE_BENCH_EVERY_PATH(BM_RoadMono);
MORVANE_BENCH_EVERY_PATH(BM_RoadMid);
MORVANE_BENCH_EVERY_PATH(BM_RoadMidOffset);
MORVANE_BENCH_EVERY_PATH(BM_RoadLeftRight);
