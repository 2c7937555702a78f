/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The input of the effect benchmarks: one second of three tones (110, 440
// and 2500 Hz), a tone gliding from 300 to 900 Hz and a little noise, at
// the given sample rate.
#ifndef MORVANE_BENCH_SIGNAL_H
#define MORVANE_BENCH_SIGNAL_H

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include <quivex/libquivex.h>

inline std::vector<float> bench_tones_glide_noise(int rate)
{
    std::mt19937 gen(1);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> x(static_cast<std::size_t>(rate));
    double glide = 0.0;
    for (int i = 0; i < rate; ++i) {
        const double t = static_cast<double>(i) / rate;
        glide += 6.283185307179586 * (300.0 + 600.0 * t) / rate;
        x[static_cast<std::size_t>(i)] =
            static_cast<float>(0.25 * std::sin(6.283185307179586 * 110.0 * t) +
                               0.15 * std::sin(6.283185307179586 * 440.0 * t) +
                               0.10 * std::sin(6.283185307179586 * 2500.0 * t) + 0.10 * std::sin(glide)) +
            noise(gen);
    }
    return x;
}

// The benchmarks' shaking settings: all three shake LFOs moving.
inline void bench_set_shaking(libquivex q)
{
    libquivex_set_lfo_amp_amp(q, 1.0f);
    libquivex_set_lfo_amp_freq(q, 3.0f);
    libquivex_set_lfo_amp_amount(q, 0.5f);
    libquivex_set_lfo_amp_mod(q, 0.5f);
    libquivex_set_lfo_freq_amp(q, 0.1f);
    libquivex_set_lfo_freq_freq(q, 0.5f);
    libquivex_set_lfo_freq_amount(q, 0.5f);
    libquivex_set_lfo_time_amp(q, 0.5f);
    libquivex_set_lfo_time_freq(q, 0.2f);
    libquivex_set_lfo_time_amount(q, 0.5f);
}

#endif  // MORVANE_BENCH_SIGNAL_H
