/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Comparison of the four-lane LFO cosines and sigmoid powers with the
 * scalar calls, shared by the unit test (sampled) and the long test (every
 * float phase, 10^8 random sigmoid arguments), under flush-to-zero and
 * denormals-are-zero as in the engine. */
#ifndef QUIVEX_TESTS_LFO_VEC_CASES_H
#define QUIVEX_TESTS_LFO_VEC_CASES_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "ewma_vec_cases.h"
#include "lfo_vec.h"

namespace lfo_cases {

using ewma_cases::Count;
using ewma_cases::FlushDenormals;
using ewma_cases::from_bits;
using ewma_cases::to_bits;

#if defined(QUIVEX_LFO_VEC)
/* Every float phase (bit pattern) in [from, to] with the given stride. */
inline Count cos_range(float from, float to, std::uint32_t stride)
{
    FlushDenormals mode;
    Count c;
    float p[4], val[4], norm[4];
    int fill = 0;
    auto flush = [&](int lanes) {
        quivex_lfo_vec::lfo_cos_x4(p, val, norm);
        for (int j = 0; j < lanes; ++j) {
            ++c.cases;
            const double cs = std::cos(static_cast<double>(p[j]));
            if ((to_bits(val[j]) != to_bits(static_cast<float>(cs)) ||
                 to_bits(norm[j]) != to_bits(static_cast<float>((cs + 1.0) * 0.5))) &&
                c.mismatches++ == 0)
                c.first_bad = p[j];
        }
    };
    for (std::uint64_t u = to_bits(from); u <= to_bits(to); u += stride) {
        p[fill++] = from_bits(static_cast<std::uint32_t>(u));
        if (fill == 4) {
            flush(4);
            fill = 0;
        }
    }
    if (fill > 0) {
        for (int j = fill; j < 4; ++j)
            p[j] = 0.0f;
        flush(fill);
    }
    return c;
}

inline void sigmoid_group(const double* t, const double* e, Count& c)
{
    float s[4];
    quivex_lfo_vec::lfo_sigmoid_x4(t, e, s);
    for (int j = 0; j < 4; ++j) {
        ++c.cases;
        if (to_bits(s[j]) != to_bits(static_cast<float>(sigmoid_pow(t[j], e[j]))) && c.mismatches++ == 0)
            c.first_bad = static_cast<float>(t[j]);
    }
}

/* The arguments the LFOs produce: t from a float cosine ((c + 1) / 2 of a
 * float c, or a float in [0, 1]), e = -log2 of a float shape, mostly in
 * [0, 1] and sometimes outside. */
inline Count sigmoid_random(std::uint64_t n, std::uint64_t seed)
{
    FlushDenormals mode;
    std::mt19937_64 g(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> wide(-0.5f, 3.0f);
    Count c;
    double t[4], e[4];
    for (std::uint64_t k = 0; k < n; k += 4) {
        for (int j = 0; j < 4; ++j) {
            const std::uint64_t r = g();
            const float cs = unit(g) * 2.0f - 1.0f;
            t[j] = (r & 1) ? (static_cast<double>(cs) + 1.0) * 0.5 : static_cast<double>(unit(g));
            const float mod = (r & 6) ? unit(g) : wide(g);
            e[j] = -std::log2(static_cast<double>(mod));
        }
        sigmoid_group(t, e, c);
    }
    return c;
}

/* Exponent 1 in every lane (all shapes at 0.5, where the power is skipped):
 * t = (c + 1) / 2 for every float c in [-1, 1] and t = u for every float u
 * in [0, 1], each bit pattern visited with the given stride. */
inline Count sigmoid_identity_range(std::uint32_t stride)
{
    FlushDenormals mode;
    Count c;
    const double e[4] = {1.0, 1.0, 1.0, 1.0};
    double t[4];
    int fill = 0;
    auto push = [&](double v) {
        t[fill] = v;
        if (++fill == 4) {
            sigmoid_group(t, e, c);
            fill = 0;
        }
    };
    const std::uint32_t one = to_bits(1.0f);
    for (std::uint32_t u = 0; u <= one; u += stride) {
        const float f = from_bits(u);
        push((static_cast<double>(f) + 1.0) * 0.5);
        push((static_cast<double>(-f) + 1.0) * 0.5);
        push(static_cast<double>(f));
        if (one - u < stride)
            break;
    }
    for (push(1.0); fill != 0;)
        push(0.5);
    return c;
}

/* The ends and the middle of the curve, exponents 0, 1, infinite, NaN and
 * negative, NaN arguments. */
inline Count sigmoid_adversarial()
{
    FlushDenormals mode;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double ts[] = {0.0, -0.0, 1.0, 0.5, 0.25, 0.75, 0.4999999701976776, 0.5000000298023224, 1e-30,
                         1.0 - 1e-16, -3.0, 7.0, nan, 5.960464477539063e-08};
    const double es[] = {0.0, -0.0, 1.0, 2.0, 0.5, inf, -inf, nan, -1.0, -0.15200309344504997, 1000.0, 1e-300};
    Count c;
    double t[4], e[4];
    int fill = 0;
    for (double a : ts) {
        for (double b : es) {
            t[fill] = a;
            e[fill] = b;
            if (++fill == 4) {
                sigmoid_group(t, e, c);
                fill = 0;
            }
        }
    }
    return c;
}
#endif

}  // namespace lfo_cases

#endif /* QUIVEX_TESTS_LFO_VEC_CASES_H */
