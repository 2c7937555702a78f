/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The per-sample transcendentals of the three shake LFOs, evaluated together
 * in four-lane vectors with results identical bit for bit to the scalar
 * calls:
 *
 *   lfo_cos_x4:     val[j]  = (float)cos(phase[j]),
 *                   norm[j] = (float)((cos(phase[j]) + 1.0) * 0.5)
 *   lfo_sigmoid_x4: s[j]    = (float)sigmoid_pow(t[j], e[j])
 *
 * with glibc's 4-lane double cos and pow (libmvec), whose errors are a few
 * units in the last place of a double. The double result decides the float
 * only when the two ends of a relative 2^-40 interval around the
 * function's result, carried through the same (monotone) arithmetic, round
 * to the same float (then so does the scalar call's result); other
 * lanes, and lanes outside the domain (phases outside [0, 2 pi], bases not
 * strictly between 0 and 1, exponents 0 or not finite), take the scalar
 * calls. Proven by the long test tests/long/test_lfo_vec_long.cpp
 * (every float phase of [0, 2 pi], 10^8 random sigmoid arguments, every
 * float argument with exponent 1) under
 * flush-to-zero and denormals-are-zero. */
#ifndef QUIVEX_LFO_VEC_H
#define QUIVEX_LFO_VEC_H

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "sigmoid_pow.h"


#if defined(__AVX2__) && defined(__FMA__)
#define QUIVEX_LFO_VEC 1

extern "C" __m256d _ZGVdN4v_cos(__m256d);
extern "C" __m256d _ZGVdN4vv_pow(__m256d, __m256d);

namespace quivex_lfo_vec {

constexpr float PHASE_MAX = 6.2831855f;  // 2 pi rounded up to float

/* Lanes where lo and hi round to different floats (NaN lanes included). */
static inline int differ(__m256d lo, __m256d hi)
{
    return _mm_movemask_ps(_mm_cmpneq_ps(_mm256_cvtpd_ps(lo), _mm256_cvtpd_ps(hi)));
}

static inline __m256d abs_pd(__m256d v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }

static inline void lfo_cos_x4(const float* phase, float* val, float* norm)
{
    const __m128 p = _mm_loadu_ps(phase);
    const __m256d c = _ZGVdN4v_cos(_mm256_cvtps_pd(p));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d half = _mm256_set1_pd(0.5);
    // The scalar cosine lies in [c_lo, c_hi]; both results are monotone in
    // the cosine, so they are certain when the ends give the same float.
    const __m256d err = _mm256_mul_pd(abs_pd(c), _mm256_set1_pd(0x1p-40));
    const __m256d c_lo = _mm256_sub_pd(c, err);
    const __m256d c_hi = _mm256_add_pd(c, err);
    const __m256d n = _mm256_mul_pd(_mm256_add_pd(c, one), half);
    const __m256d n_lo = _mm256_mul_pd(_mm256_add_pd(c_lo, one), half);
    const __m256d n_hi = _mm256_mul_pd(_mm256_add_pd(c_hi, one), half);
    const int in_domain = _mm_movemask_ps(
        _mm_and_ps(_mm_cmpge_ps(p, _mm_setzero_ps()), _mm_cmple_ps(p, _mm_set1_ps(PHASE_MAX))));
    const int redo = differ(c_lo, c_hi) | differ(n_lo, n_hi) | (~in_domain & 0xf);
    _mm_storeu_ps(val, _mm256_cvtpd_ps(c));
    _mm_storeu_ps(norm, _mm256_cvtpd_ps(n));
    if (redo != 0) {
        for (int j = 0; j < 4; ++j) {
            if (redo & (1 << j)) {
                const double cs = std::cos(static_cast<double>(phase[j]));
                val[j] = static_cast<float>(cs);
                norm[j] = static_cast<float>((cs + 1.0) * 0.5);
            }
        }
    }
}

static inline void lfo_sigmoid_x4(const double* t_in, const double* e_in, float* s)
{
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d two = _mm256_set1_pd(2.0);
    const __m256d t0 = _mm256_loadu_pd(t_in);
    const __m256d e = _mm256_loadu_pd(e_in);
    // Clamp to [0, 1] (NaN lanes go to the scalar path below).
    const __m256d t = _mm256_min_pd(_mm256_max_pd(t0, zero), one);
    const __m256d low = _mm256_cmp_pd(t, half, _CMP_LT_OQ);
    const __m256d tt = _mm256_add_pd(t, t);
    const __m256d base = _mm256_blendv_pd(_mm256_sub_pd(two, tt), tt, low);
    // An exponent of exactly 1 (a _mod of 0.5, the pure cosine) needs no
    // power: the scalar pow(x, 1) returns x itself, which the long test
    // checks for every base these lanes can be given.
    const bool identity = _mm256_movemask_pd(_mm256_cmp_pd(e, one, _CMP_NEQ_UQ)) == 0;
    const __m256d r = identity ? base : _ZGVdN4vv_pow(base, e);
    // The scalar power lies in [r_lo, r_hi]; the result is monotone in it.
    const __m256d err = _mm256_mul_pd(abs_pd(r), _mm256_set1_pd(0x1p-40));
    const __m256d rh = _mm256_mul_pd(r, half);
    const __m256d rh_lo = _mm256_mul_pd(_mm256_sub_pd(r, err), half);
    const __m256d rh_hi = _mm256_mul_pd(_mm256_add_pd(r, err), half);
    const __m256d v = _mm256_blendv_pd(_mm256_sub_pd(one, rh), rh, low);
    const __m256d v_lo = _mm256_blendv_pd(_mm256_sub_pd(one, rh_lo), rh_lo, low);
    const __m256d v_hi = _mm256_blendv_pd(_mm256_sub_pd(one, rh_hi), rh_hi, low);
    const __m256d inf = _mm256_set1_pd(INFINITY);
    const __m256d ok = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(base, zero, _CMP_GT_OQ), _mm256_cmp_pd(base, one, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(abs_pd(e), inf, _CMP_LT_OQ), _mm256_cmp_pd(e, zero, _CMP_NEQ_OQ)));
    const int in_domain = _mm256_movemask_pd(_mm256_and_pd(ok, _mm256_cmp_pd(t0, t0, _CMP_ORD_Q)));
    const int redo = differ(v_lo, v_hi) | (~in_domain & 0xf);
    _mm_storeu_ps(s, _mm256_cvtpd_ps(v));
    if (redo != 0) {
        for (int j = 0; j < 4; ++j)
            if (redo & (1 << j))
                s[j] = static_cast<float>(sigmoid_pow(t_in[j], e_in[j]));
    }
}

}  // namespace quivex_lfo_vec

#endif /* __AVX2__ && __FMA__ */

#endif /* QUIVEX_LFO_VEC_H */
