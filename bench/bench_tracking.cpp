// SPDX-License-Identifier: LGPL-2.1-or-later
// Cost of the tracking resonator bank on the audio path: one update of the
// 112-resonator analysis bank (mel grid 20 Hz - 20 kHz at 48 kHz, the
// engine's coefficients), fed a tone/noise mix (many resonators track) or
// silence (all at rest), and the readouts taken after every update.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include <tembra/tracking_resonator_bank_vec.h>

namespace {

constexpr int kResonators = 112;
constexpr double kRate = 48000.0;
constexpr double kPi = 3.14159265358979323846;

tracking_resonator_bank_vec make_bank() {
    auto mel = [](double hz) { return 2595.0 * std::log10(1.0 + hz / 700.0); };
    std::vector<float> f(kResonators), a(kResonators), g(kResonators);
    for (int i = 0; i < kResonators; ++i) {
        const double m = mel(20.0) + (mel(20000.0) - mel(20.0)) * i / (kResonators - 1);
        const double hz = 700.0 * (std::pow(10.0, m / 2595.0) - 1.0);
        f[i] = static_cast<float>(hz);
        a[i] = static_cast<float>(1.0 - std::exp(-(hz / kRate) / std::log(1.0 + hz)));
        g[i] = a[i] * 0.5f;
    }
    tracking_resonator_bank_vec t = tracking_resonator_bank_vec_new(kResonators, f.data(), a.data(), a.data(),
                                                                    g.data(), static_cast<float>(kRate));
    tracking_resonator_bank_vec_limit_reso_range(t, 1);
    return t;
}

// One second of a harmonic tone (110 Hz, 40 partials falling as 1/k, with a
// slight inharmonicity) over a noise floor.
std::vector<float> tone_noise_mix() {
    std::vector<float> x(48000);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double time = static_cast<double>(k) / kRate;
        double v = noise(rng);
        for (int h = 1; h <= 40; ++h) v += (0.3 / h) * std::sin(2.0 * kPi * 110.0 * h * (1.0 + 1e-4 * h) * time);
        x[k] = static_cast<float>(v);
    }
    return x;
}

void BM_UpdateToneNoise(benchmark::State& state) {
    tracking_resonator_bank_vec t = make_bank();
    const std::vector<float> x = tone_noise_mix();
    for (float s : x) tracking_resonator_bank_vec_update(t, s);  // settle
    std::size_t k = 0;
    for (auto _ : state) {
        tracking_resonator_bank_vec_update(t, x[k]);
        if (++k == x.size()) k = 0;
    }
    benchmark::DoNotOptimize(tracking_resonator_bank_vec_get_accPower(t));
    // How many resonators are off their natural frequency, i.e. tracking.
    std::vector<float> fr(kResonators), nat(kResonators);
    tracking_resonator_bank_vec_get_frequencies(t, fr.data(), kResonators);
    tracking_resonator_bank_vec_get_natural_frequencies(t, nat.data(), kResonators);
    int tracking = 0;
    for (int i = 0; i < kResonators; ++i) tracking += std::fabs(fr[i] - nat[i]) > 1e-3f * nat[i];
    state.counters["tracking"] = tracking;
    tracking_resonator_bank_vec_free(t);
}
BENCHMARK(BM_UpdateToneNoise);

void BM_UpdateSilence(benchmark::State& state) {
    tracking_resonator_bank_vec t = make_bank();
    for (auto _ : state) tracking_resonator_bank_vec_update(t, 0.0f);
    benchmark::DoNotOptimize(tracking_resonator_bank_vec_get_accPower(t));
    tracking_resonator_bank_vec_free(t);
}
BENCHMARK(BM_UpdateSilence);

// The readouts, each of all 112 entries.
template <void (*Readout)(tracking_resonator_bank_vec, float*, int)>
void BM_Readout(benchmark::State& state) {
    tracking_resonator_bank_vec t = make_bank();
    for (float s : tone_noise_mix()) tracking_resonator_bank_vec_update(t, s);
    std::vector<float> dest(kResonators);
    for (auto _ : state) {
        Readout(t, dest.data(), kResonators);
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    tracking_resonator_bank_vec_free(t);
}
BENCHMARK(BM_Readout<tracking_resonator_bank_vec_get_amplitudes>)->Name("BM_ReadAmplitudes");
BENCHMARK(BM_Readout<tracking_resonator_bank_vec_get_frequencies>)->Name("BM_ReadFrequencies");
BENCHMARK(BM_Readout<tracking_resonator_bank_vec_get_powers>)->Name("BM_ReadPowers");
BENCHMARK(BM_Readout<tracking_resonator_bank_vec_get_natural_frequencies>)->Name("BM_ReadNaturalFrequencies");
BENCHMARK(BM_Readout<tracking_resonator_bank_vec_get_phases>)->Name("BM_ReadPhases");
BENCHMARK(BM_Readout<tracking_resonator_bank_vec_get_delta_phases>)->Name("BM_ReadDeltaPhases");

}  // namespace
