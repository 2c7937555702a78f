/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The sigmoid curve with its power-curve exponent given instead of its shape
 * parameter: sigmoid(t, a) is sigmoid_pow(t, -log2(a)), operation for
 * operation. The LFOs compute the exponent once per buffer and call this
 * on every sample they move. Not exported. */
#ifndef QUIVEX_SIGMOID_POW_H
#define QUIVEX_SIGMOID_POW_H

double sigmoid_pow(double t, double e) noexcept;

#endif /* QUIVEX_SIGMOID_POW_H */
