/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Damped oscillator bank: the gliding resynthesis generator.
 *
 * The oscillator bank with smoothed changes: amplitudes and frequencies
 * given to update become targets, and every increment moves each
 * oscillator's amplitude and frequency the fraction alpha of the way to
 * them before advancing its phasor. Phase offsets apply at once.
 *
 * Units: amplitudes linear, frequencies in Hz, phases in radians, alphas
 * are fractions per sample in [0, 1].
 * Threads: one bank is used by one thread at a time. _new and _free
 * allocate; every other function is real-time safe. */
#ifndef TEMBRA_DAMP_OSCILLATOR_BANK_VEC_H
#define TEMBRA_DAMP_OSCILLATOR_BANK_VEC_H

#include "tembra_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _damp_oscillator_bank_vec* damp_oscillator_bank_vec;

/* Creates num_oscillators (>= 0) oscillators at rest on the given
 * amplitudes and frequencies, with glide coefficients alphas (N values
 * each, copied); samplerate in Hz, > 0. Returns NULL when memory runs out
 * and on a processor without the build's level (x86-64-v3: AVX2, FMA ...). */
TEMBRA_API damp_oscillator_bank_vec damp_oscillator_bank_vec_new(int num_oscillators,
                                                                 const float* amplitudes,
                                                                 const float* frequencies,
                                                                 const float* alphas,
                                                                 float samplerate) TEMBRA_NOEXCEPT;

/* Releases the bank. NULL is harmless. */
TEMBRA_API void damp_oscillator_bank_vec_free(damp_oscillator_bank_vec d) TEMBRA_NOEXCEPT;

/* New target amplitudes and frequencies (N values each, not NULL) and,
 * unless phases is NULL, new output phase offsets. Audio thread. */
TEMBRA_API void damp_oscillator_bank_vec_update(damp_oscillator_bank_vec d, const float* amplitudes,
                                                const float* frequencies,
                                                const float* phases) TEMBRA_NOEXCEPT;

/* Replaces the N glide coefficients (copied). Audio thread. */
TEMBRA_API void damp_oscillator_bank_vec_set_alphas(damp_oscillator_bank_vec d,
                                                    const float* alphas) TEMBRA_NOEXCEPT;

/* One glide step of every amplitude and frequency, then one rotation of
 * every phasor. Audio thread. */
TEMBRA_API void damp_oscillator_bank_vec_increment_phase(damp_oscillator_bank_vec d) TEMBRA_NOEXCEPT;

/* The current output sample; changes nothing. Audio thread. */
TEMBRA_API float damp_oscillator_bank_vec_get_sample(damp_oscillator_bank_vec d) TEMBRA_NOEXCEPT;

/* The current output sample twice, each oscillator weighted by a gain of
 * its own (a stereo pair: gains_l and gains_r, N floats each): *out_l is
 * the sum of gains_l[i] times oscillator i's contribution, and unless
 * gains_r is NULL, *out_r likewise (out_r is then not written). With every
 * gain exactly 1 an output is damp_oscillator_bank_vec_get_sample's sample
 * bit for bit. Changes nothing. Audio thread. */
TEMBRA_API void damp_oscillator_bank_vec_get_sample_pair(damp_oscillator_bank_vec d, const float* gains_l,
                                                         const float* gains_r, float* out_l,
                                                         float* out_r) TEMBRA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TEMBRA_DAMP_OSCILLATOR_BANK_VEC_H */
