/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Four coefficients of ewma_ms_to_alpha at a time, identical bit for bit to
 * the scalar function.
 *
 * exp is evaluated as glibc's 4-lane double exp (libmvec) evaluates it, with
 * the same bits but without its table gather (vector_exp_log.h); its error
 * is a few units in the last place of a double. Its result decides the float
 * only when it does not lie within a relative 2^-40 of a float rounding
 * boundary (then every value within the error bound rounds to the same
 * float, also the scalar call's); lanes that lie that close, NaN lanes and
 * every lane outside the proven domain take the scalar function. The
 * domain is proven exhaustively by a long test (test_ewma_vec.cpp): every
 * float time in [EWMA_VEC_MIN_MS, EWMA_VEC_MAX_MS] at each sample rate of
 * ewma_vec_rate_proven, under flush-to-zero and denormals-are-zero. */
#ifndef QUIVEX_EWMA_VEC_H
#define QUIVEX_EWMA_VEC_H

#include <immintrin.h>

#include "ewma.h"
#include "vector_exp_log.h"

#if defined(__AVX2__) && defined(__FMA__)
#define QUIVEX_EWMA_VEC 1

namespace quivex_ewma_vec {

constexpr float EWMA_VEC_MIN_MS = 0x1p-10f;  // about 0.001 ms
constexpr float EWMA_VEC_MAX_MS = 0x1p24f;   // about 4.7 hours
constexpr int PROVEN_RATES[] = {22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

/* Sample rates whose whole time domain the long test covers. */
static inline bool rate_proven(int srate)
{
    for (int r : PROVEN_RATES)
        if (r == srate)
            return true;
    return false;
}

/* out[k] = ewma_ms_to_alpha(srate, ms[k]) for count entries (a multiple of
 * 4); srate must be proven; ms and out may be the same array. The divisions
 * of a chunk are issued before its exp calls so that they overlap. */
static inline void ms_to_alpha_n(int srate, const float* ms, float* out, int count)
{
    constexpr int kChunk = 16;
    __m256d arg[kChunk];
    const __m256d milli = _mm256_set1_pd(0.001);
    const __m256d rate = _mm256_set1_pd(static_cast<double>(srate));
    const __m256d minus_two_pi = _mm256_set1_pd(-6.283185307179586);
    for (int base = 0; base < count; base += 4 * kChunk) {
        const int groups = (count - base) / 4 < kChunk ? (count - base) / 4 : kChunk;
        for (int g = 0; g < groups; ++g) {
            const __m256d t = _mm256_cvtps_pd(_mm_loadu_ps(ms + base + 4 * g));
            arg[g] = _mm256_div_pd(minus_two_pi, _mm256_mul_pd(_mm256_mul_pd(t, milli), rate));
        }
        for (int g = 0; g < groups; ++g) {
            const __m128 m = _mm_loadu_ps(ms + base + 4 * g);
            const __m256d r = tembra_vmath::exp_lib_x4(arg[g]);
            __m128 o = _mm256_cvtpd_ps(r);
            const __m256d lo = _mm256_mul_pd(r, _mm256_set1_pd(1.0 - 0x1p-40));
            const __m256d hi = _mm256_mul_pd(r, _mm256_set1_pd(1.0 + 0x1p-40));
            const __m128 in_domain = _mm_and_ps(_mm_cmpge_ps(m, _mm_set1_ps(EWMA_VEC_MIN_MS)),
                                                _mm_cmple_ps(m, _mm_set1_ps(EWMA_VEC_MAX_MS)));
            const int redo = _mm_movemask_ps(_mm_or_ps(_mm_cmpneq_ps(_mm256_cvtpd_ps(lo), _mm256_cvtpd_ps(hi)),
                                                       _mm_xor_ps(in_domain, _mm_castsi128_ps(_mm_set1_epi32(-1)))));
            if (redo != 0) {
                alignas(16) float mo[4], oo[4];
                _mm_store_ps(mo, m);
                _mm_store_ps(oo, o);
                for (int j = 0; j < 4; ++j)
                    if (redo & (1 << j))
                        oo[j] = ewma_ms_to_alpha(srate, mo[j]);
                o = _mm_load_ps(oo);
            }
            _mm_storeu_ps(out + base + 4 * g, o);
        }
    }
}

}  // namespace quivex_ewma_vec

#endif /* __AVX2__ && __FMA__ */

#endif /* QUIVEX_EWMA_VEC_H */
