/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Coefficients of ewma_ms_to_alpha at full vector width (four on the AVX2
 * path, eight on the AVX-512 path: ewma_vec.cpp), identical bit for bit to
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

#include "ewma.h"
#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
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
 * 4) on the given vector path; srate must be proven; ms and out may be the
 * same array. Audio thread: no allocation. */
void ms_to_alpha_n(tembra_simd::Path path, int srate, const float* ms, float* out, int count) noexcept;

/* The same for the times ms[k] = (float)((double)(t[k] lfo_val) span_ms +
 * min_ms) (the product t[k] lfo_val in float), formed on the way: the time
 * stage's coefficients from each resonator's position t[k]. */
void time_alphas_n(tembra_simd::Path path, int srate, const float* t, float lfo_val, double min_ms, double span_ms,
                   float* out, int count) noexcept;

}  // namespace quivex_ewma_vec

#endif /* __AVX2__ && __FMA__ && !MORVANE_BASELINE */

#endif /* QUIVEX_EWMA_VEC_H */
