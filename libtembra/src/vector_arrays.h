/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The lane kernels of vector_exp_log.h, vector_sincosf.h and
// vector_sincosf_lib.h over arrays, on
// a chosen vector path: what the tests prove against the C library.
#ifndef TEMBRA_VECTOR_ARRAYS_H
#define TEMBRA_VECTOR_ARRAYS_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_VECTOR_ARRAYS 1

namespace tembra_vmath {
// y[k] = exp(x[k]) or log(x[k]) for count (a multiple of 4) entries, with
// the bits of the library's 4-lane routines.
void exp_lib_n(tembra_simd::Path path, const double* x, double* y, int count) noexcept;
void log_lib_n(tembra_simd::Path path, const double* x, double* y, int count) noexcept;
// s[k] = sinf(x[k]), c[k] = cosf(x[k]) for count (a multiple of 4) entries;
// sincosf_lib_n: with the bits of the library's 4-lane vector calls.
void sincosf_n(tembra_simd::Path path, const float* x, float* s, float* c, int count) noexcept;
void sincosf_lib_n(tembra_simd::Path path, const float* x, float* s, float* c, int count) noexcept;
}  // namespace tembra_vmath
#endif

#endif  // TEMBRA_VECTOR_ARRAYS_H
