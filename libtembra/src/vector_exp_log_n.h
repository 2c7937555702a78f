/* SPDX-License-Identifier: LGPL-2.1-or-later */
// exp_lib and log_lib (vector_exp_log.h) over arrays, on a chosen vector
// path: what the tests prove against the C library's 4-lane routines.
#ifndef TEMBRA_VECTOR_EXP_LOG_N_H
#define TEMBRA_VECTOR_EXP_LOG_N_H

#include "simd_path.h"

#if defined(__AVX2__) && defined(__FMA__) && !defined(MORVANE_BASELINE)
#define TEMBRA_VECTOR_EXP_LOG_N 1

namespace tembra_vmath {
// y[k] = exp(x[k]) or log(x[k]) for count (a multiple of 4) entries, with
// the bits of the library's 4-lane routines.
void exp_lib_n(tembra_simd::Path path, const double* x, double* y, int count) noexcept;
void log_lib_n(tembra_simd::Path path, const double* x, double* y, int count) noexcept;
}  // namespace tembra_vmath
#endif

#endif  // TEMBRA_VECTOR_EXP_LOG_N_H
