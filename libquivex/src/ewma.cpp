// SPDX-License-Identifier: LGPL-2.1-or-later
// Conversions between a smoothing time and a one-pole smoothing coefficient.
// The time is the period of the corner frequency, so with N = ms * srate / 1000
// samples the coefficient is exp(-2 pi / N).
#include "ewma.h"

#include <cmath>

namespace {
constexpr double TWO_PI = 6.283185307179586;
// Anything shorter (including 0 and negative times) passes the input through.
constexpr double MIN_VALUE = 1e-15;
// Time reported for a coefficient of exactly 1, which never forgets: one hour.
constexpr double ONE_HOUR_MS = 3600000.0;
}  // namespace

float ewma_ms_to_alpha(int srate, float ms) noexcept
{
    const double t = ms;
    if (t < MIN_VALUE)  // false for NaN, which then propagates
        return 0.0f;
    return static_cast<float>(std::exp(-TWO_PI / ((t * 0.001) * static_cast<double>(srate))));
}

float ewma_alpha_to_ms(int srate, float alpha) noexcept
{
    const double a = alpha;
    if (a < MIN_VALUE)
        return 0.0f;
    if (std::fabs(a - 1.0) < MIN_VALUE)
        return static_cast<float>(ONE_HOUR_MS);
    return static_cast<float>(-TWO_PI / ((std::log(a) * 0.001) * static_cast<double>(srate)));
}
