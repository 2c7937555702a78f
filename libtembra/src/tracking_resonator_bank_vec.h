/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Tracking resonator bank: the analysis filter bank.
 *
 * A bank of complex demodulating resonators. Each resonator multiplies the
 * input by a unit phasor turning at its current frequency, smooths the
 * product through two one-pole stages and, while its smoothed power is above
 * a threshold set by the louder resonators below it, moves its frequency a
 * fraction gamma of the way towards the partial it hears; below the
 * threshold it returns at once to its natural frequency.
 *
 * Units: frequencies in Hz, angular frequencies in radians per sample
 * (negative for positive frequencies), phases in radians.
 * Threads: one bank is used by one thread at a time. _new and _free
 * allocate; every other function is real-time safe (no allocation, no
 * locks, no system calls). */
#ifndef TEMBRA_TRACKING_RESONATOR_BANK_VEC_H
#define TEMBRA_TRACKING_RESONATOR_BANK_VEC_H

#include "tembra_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _tracking_resonator_bank_vec* tracking_resonator_bank_vec;

/* Creates a bank of num_resonators (>= 0) resonators at natural_frequencies
 * (Hz) with per-resonator coefficients alphas, betas (smoothing) and gammas
 * (tracking rate); the four arrays are copied. samplerate in Hz, > 0.
 * Returns NULL when memory runs out (nothing is leaked) and on a processor
 * without the build's level (x86-64-v3: AVX2, FMA, BMI2 ...). */
TEMBRA_API tracking_resonator_bank_vec tracking_resonator_bank_vec_new(
    int num_resonators, const float* natural_frequencies, const float* alphas,
    const float* betas, const float* gammas, float samplerate) TEMBRA_NOEXCEPT;

/* Releases the bank. NULL is harmless. */
TEMBRA_API void tracking_resonator_bank_vec_free(tracking_resonator_bank_vec t) TEMBRA_NOEXCEPT;

/* Consumes one input sample and advances every resonator by one sample.
 * Audio thread: no allocation. */
TEMBRA_API void tracking_resonator_bank_vec_update(tracking_resonator_bank_vec t, float sample) TEMBRA_NOEXCEPT;

/* Readouts. Each array readout writes min(size, number of resonators)
 * entries of dest, one per resonator in index order, and leaves the rest
 * of dest untouched; a count of 0 or less writes nothing. */

/* Sample rate in Hz. */
TEMBRA_API float tracking_resonator_bank_vec_get_samplerate(tracking_resonator_bank_vec t) TEMBRA_NOEXCEPT;
/* Number of resonators. */
TEMBRA_API int tracking_resonator_bank_vec_get_num_resonators(tracking_resonator_bank_vec t) TEMBRA_NOEXCEPT;
/* Current (tracked) frequencies, Hz, computed back from the angular frequency. */
TEMBRA_API void tracking_resonator_bank_vec_get_frequencies(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* The same values as tracking_resonator_bank_vec_get_frequencies. */
TEMBRA_API void tracking_resonator_bank_vec_get_resonant_frequencies(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* Current frequency of resonator index (>= 0), Hz; 0 when index is not below
 * the number of resonators. */
TEMBRA_API float tracking_resonator_bank_vec_get_resonant_frequency_value(tracking_resonator_bank_vec t, int index) TEMBRA_NOEXCEPT;
/* Natural frequencies given at creation, Hz. */
TEMBRA_API void tracking_resonator_bank_vec_get_natural_frequencies(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* Smoothed power |C|^2 of each resonator (square of the input's unit). */
TEMBRA_API void tracking_resonator_bank_vec_get_powers(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* Smoothed amplitude |C| of each resonator, 0 where |C|^2 <= 1e-15. A locked
 * sinusoid of amplitude A reads A/2. */
TEMBRA_API void tracking_resonator_bank_vec_get_amplitudes(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* Phase arg C of each resonator, radians in [-pi, pi]. */
TEMBRA_API void tracking_resonator_bank_vec_get_phases(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* Phase step arg D over the latest update, radians per sample in [-pi, pi]. */
TEMBRA_API void tracking_resonator_bank_vec_get_delta_phases(tracking_resonator_bank_vec t, float* dest, int size) TEMBRA_NOEXCEPT;
/* Peak power over all resonators in the latest update (0.0001 before any). */
TEMBRA_API float tracking_resonator_bank_vec_get_accPower(tracking_resonator_bank_vec t) TEMBRA_NOEXCEPT;

/* Range limiting: with a nonzero flag each resonator accepts a new frequency
 * only strictly inside its own band, between the midpoints to its grid
 * neighbours (the lowest band starts at half the lowest frequency, the
 * highest ends at the highest frequency). 0 switches limiting off.
 * Not real-time critical, but allocates nothing. */
TEMBRA_API void tracking_resonator_bank_vec_limit_reso_range(tracking_resonator_bank_vec t, int flag) TEMBRA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TEMBRA_TRACKING_RESONATOR_BANK_VEC_H */
