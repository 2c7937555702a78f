/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Record of the per-bin time filter, exposed to the unit tests. */
#ifndef QUIVEX_FILTER_TIME_INTERNAL_H
#define QUIVEX_FILTER_TIME_INTERNAL_H

#include "filter_time.h"
#include "simd_path.h"

struct _filter_time {
    tembra_simd::Path _path;  // vector path of process, chosen at creation
    int _buf_size;     // number of bins
    float* _alphas;    // one coefficient per bin
    float* _prev_buf;  // each bin's last output
};

/* Returns the filter to what filter_time_new left: coefficients and memory
 * all 0. Not exported: reached through libquivex_restart. */
void filter_time_restart(filter_time f) noexcept;

/* Makes f's coefficients and memory what from's are (same size). Not
 * exported: reached through libquivex_copy_state. */
void filter_time_copy_state(filter_time f, filter_time from) noexcept;

#endif /* QUIVEX_FILTER_TIME_INTERNAL_H */
