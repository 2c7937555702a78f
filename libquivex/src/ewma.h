/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Conversions between a smoothing time and the coefficient of an
 * exponentially weighted moving average (one-pole low-pass)
 * y = (1 - alpha) x + alpha y. The time is the period of the corner
 * frequency: alpha = exp(-2 pi / (ms * srate / 1000)). Pure functions, any
 * thread. Like everything in the library, they need a processor with the
 * build's level (x86-64-v3): they call the C library's exp and log, whose
 * results glibc picks by processor, and are compiled for that level. */
#ifndef QUIVEX_EWMA_H
#define QUIVEX_EWMA_H

#include "quivex_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Coefficient for a smoothing time of ms milliseconds at srate Hz; 0 for
 * ms < 1e-15 (zero and negative times), NaN for a NaN time. */
QUIVEX_API float ewma_ms_to_alpha(int srate, float ms) QUIVEX_NOEXCEPT;

/* Smoothing time in milliseconds that gives alpha at srate Hz; 0 for
 * alpha < 1e-15, 3600000 (one hour) for alpha 1; negative above 1. */
QUIVEX_API float ewma_alpha_to_ms(int srate, float alpha) QUIVEX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUIVEX_EWMA_H */
