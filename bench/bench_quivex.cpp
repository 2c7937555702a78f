// SPDX-License-Identifier: LGPL-2.1-or-later
// Cost of the effect engine at 48 kHz in blocks of 256 samples, on tones
// with noise. Counters: ns_per_sample, and rt_factor (seconds of audio
// processed per second of CPU).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <quivex/filter_time.h>
#include <quivex/libquivex.h>

#include "bench_paths.h"
#include "bench_signal.h"
#include "libquivex_internal.h"
#include "shake.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 256;
constexpr int kReso = 112;

void set_counters(benchmark::State& state, double samples)
{
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["rt_factor"] = benchmark::Counter(samples / kRate, benchmark::Counter::kIsRate);
}

void run_engine(benchmark::State& state, bool shaking)
{
    if (!bench_use_path(state))
        return;
    const auto signal = bench_tones_glide_noise(kRate);
    libquivex q = libquivex_new(kRate);
    if (q == nullptr) {
        state.SkipWithError("libquivex_new failed");
        return;
    }
    if (shaking)
        bench_set_shaking(q);
    float buf[kBlock];
    std::size_t pos = 0;
    double samples = 0.0;
    for (auto _ : state) {
        if (pos + kBlock > signal.size())
            pos = 0;
        std::memcpy(buf, signal.data() + pos, sizeof(buf));
        pos += kBlock;
        libquivex_next_buffer(q, buf, kBlock);
        benchmark::DoNotOptimize(buf);
        samples += kBlock;
    }
    set_counters(state, samples);
    libquivex_free(q);
}

void BM_EngineShaking(benchmark::State& state) { run_engine(state, true); }

// Silence after a tone: every resonator decays to rest, which must not cost
// more than the tone itself (flush-to-zero keeps the decay off the slow
// subnormal path).
void BM_EngineSilenceAfterTone(benchmark::State& state)
{
    if (!bench_use_path(state))
        return;
    libquivex q = libquivex_new(kRate);
    float buf[kBlock];
    for (int b = 0; b < kRate / kBlock; ++b) {
        for (int k = 0; k < kBlock; ++k)
            buf[k] = 0.5f * std::sin(6.283185307179586f * 440.0f * static_cast<float>(b * kBlock + k) / kRate);
        libquivex_next_buffer(q, buf, kBlock);
    }
    double samples = 0.0;
    for (auto _ : state) {
        std::memset(buf, 0, sizeof(buf));
        libquivex_next_buffer(q, buf, kBlock);
        benchmark::DoNotOptimize(buf);
        samples += kBlock;
    }
    set_counters(state, samples);
    libquivex_free(q);
}

// Bytes the heap hands out for one instance (libquivex_new).
void BM_InstanceFootprint(benchmark::State& state)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::size_t before = mallinfo2().uordblks;
        libquivex q = libquivex_new(kRate);
        bytes = mallinfo2().uordblks - before;
        libquivex_free(q);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
void BM_EngineDefault(benchmark::State& state) { run_engine(state, false); }

// The three shake stages alone, once per sample on 112 entries.
void BM_ShakeStagesOnly(benchmark::State& state)
{
    if (!bench_use_path(state))
        return;
    auto* rec = static_cast<_libquivex*>(std::calloc(1, sizeof(_libquivex)));
    rec->_srate = kRate;
    rec->_num_reso = kReso;
    shake_state_new(rec);
    lfo* amp = &rec->_lfos[LFO_SHAKE_AMP];
    lfo* freq = &rec->_lfos[LFO_SHAKE_FREQ];
    lfo* time = &rec->_lfos[LFO_SHAKE_TIME];
    amp->_amp = 1.0f;
    amp->_freq = 3.0f;
    amp->_amount = 0.5f;
    freq->_amp = 0.1f;
    freq->_freq = 0.5f;
    freq->_amount = 0.5f;
    time->_amp = 0.5f;
    time->_freq = 0.2f;
    time->_amount = 0.5f;
    for (auto& l : rec->_lfos)
        lfo_comp_phase_incr(&l, kRate);

    std::vector<float> ai(kReso);
    std::vector<float> fi(kReso);
    std::vector<float> pi(kReso, 0.0f);
    std::vector<float> ai0(kReso);
    std::vector<float> fi0(kReso);
    for (int k = 0; k < kReso; ++k) {
        ai0[static_cast<std::size_t>(k)] = 0.01f * static_cast<float>(k % 7);
        fi0[static_cast<std::size_t>(k)] = 20.0f * std::pow(1000.0f, static_cast<float>(k) / (kReso - 1));
    }
    double samples = 0.0;
    for (auto _ : state) {
        std::memcpy(ai.data(), ai0.data(), kReso * sizeof(float));
        std::memcpy(fi.data(), fi0.data(), kReso * sizeof(float));
        shake_stages(rec, ai.data(), fi.data(), kReso);
        for (auto& l : rec->_lfos)
            lfo_incr_phase(&l);
        benchmark::DoNotOptimize(ai.data());
        benchmark::DoNotOptimize(fi.data());
        samples += 1.0;
    }
    set_counters(state, samples);
    shake_state_free(rec);
    std::free(rec);
}

}  // namespace

MORVANE_BENCH_EVERY_PATH(BM_EngineShaking);
MORVANE_BENCH_EVERY_PATH(BM_EngineDefault);
MORVANE_BENCH_EVERY_PATH(BM_EngineSilenceAfterTone);
BENCHMARK(BM_InstanceFootprint)->Iterations(10);
MORVANE_BENCH_EVERY_PATH(BM_ShakeStagesOnly);
