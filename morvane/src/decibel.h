/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Decibel helpers: amplitude decibels (20 log10 of a linear amplitude) and
 * the mapping of a decibel range [min_db, 0] onto [0, 1]. Pure functions,
 * any thread. Like everything in the library, they need a processor with
 * the build's level (x86-64-v3): they call the C library's log10 and pow,
 * whose results glibc picks by processor, and are compiled for that level. */
#ifndef MORVANE_DECIBEL_H
#define MORVANE_DECIBEL_H

#include "morvane_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Decibels of a linear amplitude: -inf for 0, NaN for a negative value. */
MORVANE_API float amp_to_db(float amp) MORVANE_NOEXCEPT;
/* Linear amplitude of a decibel value: 10^(db / 20). */
MORVANE_API float db_to_amp(float db) MORVANE_NOEXCEPT;
/* amp_to_db in place over buf[0 .. size-1]; size <= 0 does nothing. */
MORVANE_API void amp_to_db_buf(float* buf, int size) MORVANE_NOEXCEPT;
/* db_to_amp in place over buf[0 .. size-1]; size <= 0 does nothing. */
MORVANE_API void db_to_amp_buf(float* buf, int size) MORVANE_NOEXCEPT;
/* Position of db between min_db (0) and 0 dB (1), clamped to [0, 1];
 * min_db is negative. NaN passes through. */
MORVANE_API float normalize_db(float db, float min_db) MORVANE_NOEXCEPT;
/* The same mapping in place over size values; it multiplies by a rounded
 * reciprocal, so it may differ from normalize_db in the last bit. */
MORVANE_API void normalize_db_buf(float* buf, int size, float min_db) MORVANE_NOEXCEPT;
/* The decibel value at position db_norm of [min_db, 0], not clamped. */
MORVANE_API float normalize_db_inv(float db_norm, float min_db) MORVANE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_DECIBEL_H */
