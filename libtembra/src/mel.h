/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Mel scale: conversions between Hz and mel, and grids equally spaced in
 * mel. mel = 2595 log10(1 + hz / 700). Pure functions, any thread. Like
 * everything in the library, they need a processor with the build's level
 * (x86-64-v3): they call the C library's log10 and exp, whose results glibc
 * picks by processor, and are compiled for that level. */
#ifndef TEMBRA_MEL_H
#define TEMBRA_MEL_H

#include "tembra_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Frequency in Hz to pitch in mel (hz > -700). */
TEMBRA_API float hz_to_mel(float hz) TEMBRA_NOEXCEPT;

/* Pitch in mel to frequency in Hz. */
TEMBRA_API float mel_to_hz(float mel) TEMBRA_NOEXCEPT;

/* Writes num_freqs frequencies (Hz) into freqs, from min_freq to max_freq
 * equally spaced in mel; both ends pass through mel and back, so they match
 * only up to float rounding. num_freqs <= 0 writes nothing; a grid needs
 * num_freqs >= 2. */
TEMBRA_API void compute_mel_frequencies(int num_freqs, float* freqs, float min_freq,
                                        float max_freq) TEMBRA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* TEMBRA_MEL_H */
