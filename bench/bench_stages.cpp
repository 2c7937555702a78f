// SPDX-License-Identifier: LGPL-2.1-or-later
// Cost per sample of each stage of the effect's pipeline at 48 kHz, all
// three shake LFOs active, on tones with a glide and noise: the stages are
// run as libquivex_next_buffer runs them, each timed with the time-stamp
// counter, and reported as counters in ns per sample.
#include <benchmark/benchmark.h>
#include <x86intrin.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <quivex/libquivex.h>
#include <tembra/libtembra.h>

#include "bench_signal.h"
#include "bench_paths.h"
#include "libquivex_internal.h"
#include "shake.h"

namespace {

constexpr int kRate = 48000;

// Time-stamp counter ticks per nanosecond, measured once.
double ticks_per_ns()
{
    const auto t0 = std::chrono::steady_clock::now();
    const unsigned long long c0 = __rdtsc();
    while (std::chrono::steady_clock::now() - t0 < std::chrono::milliseconds(50)) {
    }
    const unsigned long long c1 = __rdtsc();
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    return static_cast<double>(c1 - c0) / ns;
}

void BM_Stages(benchmark::State& state)
{
    if (!bench_use_path(state))
        return;
    const auto signal = bench_tones_glide_noise(kRate);
    libquivex q = libquivex_new(kRate);
    bench_set_shaking(q);  // its shape setting is the default 0.5 already
    for (auto& l : q->_lfos)
        lfo_comp_phase_incr(&l, kRate);
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040u);  // as libquivex_next_buffer runs
    enum { UPDATE, READOUT, SHAKE, SYNTH_UPDATE, SYNTH, COUNT };
    unsigned long long ticks[COUNT] = {};
    std::size_t pos = 0;
    double samples = 0.0;
    for (auto _ : state) {
        for (int s = 0; s < 256; ++s) {
            const float in = signal[pos];
            pos = pos + 1 == signal.size() ? 0 : pos + 1;
            unsigned long long t0 = __rdtsc();
            libtembra_update(q->_lr0, in);
            unsigned long long t1 = __rdtsc();
            libtembra_get_buffers(q->_lr0, q->_ai_buf, q->_fi_buf, q->_pi_buf);
            unsigned long long t2 = __rdtsc();
            shake_stages(q, q->_ai_buf, q->_fi_buf, q->_num_reso);
            unsigned long long t3 = __rdtsc();
            libtembra_update_synth(q->_lr1, q->_ai_buf, q->_fi_buf, q->_pi_buf);
            unsigned long long t4 = __rdtsc();
            benchmark::DoNotOptimize(libtembra_get_synth(q->_lr1));
            unsigned long long t5 = __rdtsc();
            for (auto& l : q->_lfos)
                lfo_incr_phase(&l);
            ticks[UPDATE] += t1 - t0;
            ticks[READOUT] += t2 - t1;
            ticks[SHAKE] += t3 - t2;
            ticks[SYNTH_UPDATE] += t4 - t3;
            ticks[SYNTH] += t5 - t4;
        }
        samples += 256;
    }
    _mm_setcsr(saved);
    const double k = 1.0 / (ticks_per_ns() * samples);
    state.counters["tracking_update"] = static_cast<double>(ticks[UPDATE]) * k;
    state.counters["readout"] = static_cast<double>(ticks[READOUT]) * k;
    state.counters["shake"] = static_cast<double>(ticks[SHAKE]) * k;
    state.counters["synth_update"] = static_cast<double>(ticks[SYNTH_UPDATE]) * k;
    state.counters["glide_rotate_sum"] = static_cast<double>(ticks[SYNTH]) * k;
    libquivex_free(q);
}

}  // namespace

MORVANE_BENCH_EVERY_PATH(BM_Stages);
