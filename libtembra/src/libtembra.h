/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* libtembra: the resonator engine.
 *
 * Puts a tracking resonator bank (analysis) and two oscillator banks
 * (resynthesis, plain and damped) on a grid of natural frequencies. As an
 * analyser it turns input samples into a buffer triple per sample: ai
 * (linear amplitude), fi (Hz) and pi (radians), N floats each, index i
 * belonging to resonator i in ascending order of natural frequency. As a
 * synthesiser it turns such triples back into output samples.
 *
 * Threads: _new and _free allocate (and _new may call rand()); the
 * per-sample functions are real-time safe (no allocation, no locks, no
 * system calls) and run on the caller's audio thread. */
#ifndef TEMBRA_LIBTEMBRA_H
#define TEMBRA_LIBTEMBRA_H

#include "tembra_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _libtembra* libtembra;

/* Option bits of libtembra_new. */
enum {
  LIBTEMBRA_MEL_SCALE = 1,        /* mel grid instead of a linear grid */
  LIBTEMBRA_SELECT_RESO = 2,      /* stored flag, read by nothing */
  LIBTEMBRA_LIMIT_RESO_RANGE = 4, /* keep each resonator inside its band */
  LIBTEMBRA_DAMP_OSC = 8,         /* resynthesise with the damped bank */
  LIBTEMBRA_RND_PHASE_OFFSET = 16 /* fixed random phase offset per resonator */
};

/* Builds an engine of num_resonators (>= 2) resonators from min_freq to
 * max_freq (Hz) at srate Hz (> 0); options is a set of the bits above
 * (bits 5 to 15 are ignored). With LIBTEMBRA_RND_PHASE_OFFSET it draws N
 * values from rand(), which it never seeds. Returns NULL when memory runs
 * out or for num_resonators < 2 or srate <= 0, and on a processor without
 * the build's level (x86-64-v3: AVX2, FMA, BMI2 ...). */
TEMBRA_API libtembra libtembra_new(int srate, int num_resonators, float min_freq, float max_freq,
                                   unsigned short options) TEMBRA_NOEXCEPT;

/* Destroys the engine, its banks and its arrays. NULL is harmless. */
TEMBRA_API void libtembra_free(libtembra lr) TEMBRA_NOEXCEPT;

/* One input sample into the tracking bank. Audio thread. */
TEMBRA_API void libtembra_update(libtembra lr, float sample) TEMBRA_NOEXCEPT;

/* Reads the latest analysis: ai (twice the bank's amplitude readout, so a
 * locked sinusoid of amplitude A reads about A), fi (Hz) and pi (radians).
 * Each destination may be NULL and is then skipped; otherwise it receives N
 * floats. Audio thread. */
TEMBRA_API void libtembra_get_buffers(libtembra lr, float* ai_buf, float* fi_buf,
                                      float* pi_buf) TEMBRA_NOEXCEPT;

/* Hands one triple to resynthesis: ai_buf and fi_buf (N floats, not NULL)
 * become the oscillators' amplitudes and frequencies (targets in damped
 * mode); pi_buf, unless NULL, their phases, to which the random offsets
 * are added. With pi_buf NULL the previous phases are kept. Audio thread. */
TEMBRA_API void libtembra_update_synth(libtembra lr, const float* ai_buf, const float* fi_buf,
                                       const float* pi_buf) TEMBRA_NOEXCEPT;

/* Advances the active oscillator bank by one sample and returns its output
 * sample (0 before the first libtembra_update_synth). Audio thread. */
TEMBRA_API float libtembra_get_synth(libtembra lr) TEMBRA_NOEXCEPT;

/* As libtembra_get_synth, with two outputs from one advance: each
 * oscillator's contribution is weighted by gains_l[i] into *out_l and,
 * unless gains_r is NULL, by gains_r[i] into *out_r (N gains each; out_r is
 * not written without gains_r). A stereo field from one resynthesis: with
 * every gain exactly 1 each output is libtembra_get_synth's sample bit for
 * bit. Audio thread. */
TEMBRA_API void libtembra_get_synth_pair(libtembra lr, const float* gains_l, const float* gains_r,
                                         float* out_l, float* out_r) TEMBRA_NOEXCEPT;

/* The engine's random phase offsets (radians, in [0, 2 pi], drawn at
 * creation) into offsets, N floats; returns 1. An engine built without
 * LIBTEMBRA_RND_PHASE_OFFSET writes nothing and returns 0. */
TEMBRA_API int libtembra_get_phase_offsets(libtembra lr, float* offsets) TEMBRA_NOEXCEPT;

/* Replaces the engine's random phase offsets by N floats (copied), used
 * from the next libtembra_update_synth on: two engines given the same
 * offsets resynthesise the same analysis at the same phases (a second
 * channel that folds to mono without cancelling). Ignored by an engine
 * built without LIBTEMBRA_RND_PHASE_OFFSET. No allocation. */
TEMBRA_API void libtembra_set_phase_offsets(libtembra lr, const float* offsets) TEMBRA_NOEXCEPT;

/* Copies the N grid frequencies (Hz) into frequencies. */
TEMBRA_API void libtembra_get_natural_frequencies(libtembra lr, float* frequencies) TEMBRA_NOEXCEPT;

/* Sets a flag that no operation reads (1 for debug 0, else 0): changes no
 * output. */
TEMBRA_API void libtembra_set_debug(libtembra lr, int debug) TEMBRA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TEMBRA_LIBTEMBRA_H */
