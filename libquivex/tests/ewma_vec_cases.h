/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Comparison of the four-lane ewma_ms_to_alpha with the scalar function,
 * shared by the unit test (sampled) and the long test (every float time of
 * the vector domain at every proven rate), under flush-to-zero and
 * denormals-are-zero as in the engine. */
#ifndef QUIVEX_TESTS_EWMA_VEC_CASES_H
#define QUIVEX_TESTS_EWMA_VEC_CASES_H

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "ewma_vec.h"

namespace ewma_cases {

class FlushDenormals {
public:
    FlushDenormals() : _saved(_mm_getcsr()) { _mm_setcsr(_saved | 0x8040u); }
    ~FlushDenormals() { _mm_setcsr(_saved); }

private:
    unsigned _saved;
};

struct Count {
    std::uint64_t cases = 0;
    std::uint64_t mismatches = 0;
    float first_bad = 0.0f;
};

inline std::uint32_t to_bits(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
inline float from_bits(std::uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

#if defined(QUIVEX_EWMA_VEC)
/* Every float (as a bit pattern) in [from, to] with the given stride. */
inline Count range(tembra_simd::Path path, int srate, float from, float to, std::uint32_t stride)
{
    FlushDenormals mode;
    Count c;
    constexpr int kBatch = 64;  // several chunks of the vector routine
    float ms[kBatch], out[kBatch];
    const std::uint32_t lo = to_bits(from);
    const std::uint32_t hi = to_bits(to);
    int fill = 0;
    auto flush = [&](int lanes) {
        quivex_ewma_vec::ms_to_alpha_n(path, srate, ms, out, kBatch);
        for (int j = 0; j < lanes; ++j) {
            ++c.cases;
            if (to_bits(out[j]) != to_bits(ewma_ms_to_alpha(srate, ms[j])) && c.mismatches++ == 0)
                c.first_bad = ms[j];
        }
    };
    for (std::uint64_t u = lo; u <= hi; u += stride) {
        ms[fill++] = from_bits(static_cast<std::uint32_t>(u));
        if (fill == kBatch) {
            flush(kBatch);
            fill = 0;
        }
    }
    if (fill > 0) {
        for (int j = fill; j < kBatch; ++j)
            ms[j] = 1.0f;
        flush(fill);
    }
    return c;
}
#endif

}  // namespace ewma_cases

#endif /* QUIVEX_TESTS_EWMA_VEC_CASES_H */
