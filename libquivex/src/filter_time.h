/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Time filter: a one-pole low-pass applied independently to each bin of a
 * fixed-size buffer, one time step per call, each bin with its own
 * coefficient (0 passes the input through; towards 1 follows slowly).
 * Threads: _new and _free allocate; set_alphas and process are real-time
 * safe. */
#ifndef QUIVEX_FILTER_TIME_H
#define QUIVEX_FILTER_TIME_H

#include "quivex_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _filter_time* filter_time;

/* A filter of buf_size bins, coefficients and memory all 0. Returns NULL
 * when memory runs out and on a processor without the build's level
 * (x86-64-v3: AVX2, FMA, BMI2 ...). */
QUIVEX_API filter_time filter_time_new(int buf_size) QUIVEX_NOEXCEPT;

/* Releases the filter. NULL is harmless. */
QUIVEX_API void filter_time_free(filter_time f) QUIVEX_NOEXCEPT;

/* Copies buf_size coefficients from alphas. Audio thread. */
QUIVEX_API void filter_time_set_alphas(filter_time f, const float* alphas) QUIVEX_NOEXCEPT;

/* Filters buf_size values of buf in place, one time step. Audio thread. */
QUIVEX_API void filter_time_process(filter_time f, float* buf) QUIVEX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUIVEX_FILTER_TIME_H */
