/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Oscillator bank: the plain resynthesis generator.
 *
 * N sinusoidal oscillators, each a unit complex phasor advanced by one
 * complex multiplication per sample, with its own amplitude, frequency and
 * output phase offset; the bank's sample is the amplitude-weighted sum of
 * their real parts. A frequency change keeps the phase continuous; an
 * amplitude change takes effect at once.
 *
 * Units: amplitudes linear, frequencies in Hz, phases in radians.
 * Threads: one bank is used by one thread at a time. _new and _free
 * allocate; update, increment and read are real-time safe. */
#ifndef TEMBRA_OSCILLATOR_BANK_VEC_H
#define TEMBRA_OSCILLATOR_BANK_VEC_H

#include "tembra_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _oscillator_bank_vec* oscillator_bank_vec;

/* Creates num_oscillators (>= 0) oscillators with the given amplitudes and
 * frequencies (N values each, copied); samplerate in Hz, > 0. Every phasor
 * starts at 1 + 0i with no phase offset. Returns NULL when memory runs out
 * and on a processor without the build's level (x86-64-v3: AVX2, FMA ...). */
TEMBRA_API oscillator_bank_vec oscillator_bank_vec_new(int num_oscillators, const float* amplitudes,
                                                       const float* frequencies,
                                                       float samplerate) TEMBRA_NOEXCEPT;

/* Releases the bank. NULL is harmless. */
TEMBRA_API void oscillator_bank_vec_free(oscillator_bank_vec o) TEMBRA_NOEXCEPT;

/* New amplitudes and frequencies (N values each, not NULL) and, unless
 * phases is NULL, new output phase offsets (N values). Audio thread. */
TEMBRA_API void oscillator_bank_vec_update(oscillator_bank_vec o, const float* amplitudes,
                                           const float* frequencies,
                                           const float* phases) TEMBRA_NOEXCEPT;

/* Advances every oscillator by one sample. Audio thread. */
TEMBRA_API void oscillator_bank_vec_increment_phase(oscillator_bank_vec o) TEMBRA_NOEXCEPT;

/* The current output sample; changes nothing. Audio thread. */
TEMBRA_API float oscillator_bank_vec_get_sample(oscillator_bank_vec o) TEMBRA_NOEXCEPT;

/* The current output sample with per-oscillator gains, as
 * damp_oscillator_bank_vec_get_sample_pair. Audio thread. */
TEMBRA_API void oscillator_bank_vec_get_sample_pair(oscillator_bank_vec o, const float* gains_l,
                                                    const float* gains_r, float* out_l,
                                                    float* out_r) TEMBRA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TEMBRA_OSCILLATOR_BANK_VEC_H */
