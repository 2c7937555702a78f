/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Sigmoid: a shaping curve from [0, 1] onto [0, 1] with shape parameter a.
 * a = 0 is a step, 0.5 the identity, 1 the constant 0.5; values of a above
 * 1 leave [0, 1] and reach +inf at t = 0 and -inf at t = 1, negative a
 * gives NaN (except at t = 0.5). Pure function, any thread. Like everything
 * in the library, it needs a processor with the build's level (x86-64-v3):
 * it calls the C library's log2 and pow, whose results glibc picks by
 * processor, and is compiled for that level. */
#ifndef QUIVEX_SIGMOID_H
#define QUIVEX_SIGMOID_H

#include "quivex_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* t is clamped to [0, 1]; the curve passes through (0.5, 0.5),
 * (0.25, a/2) and (0.75, 1 - a/2) and is point-symmetric about the centre. */
QUIVEX_API double sigmoid(double t, double a) QUIVEX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUIVEX_SIGMOID_H */
