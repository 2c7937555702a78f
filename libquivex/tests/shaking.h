/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The engine tests' shaking settings: all three shake stages moving.
#ifndef QUIVEX_TESTS_SHAKING_H
#define QUIVEX_TESTS_SHAKING_H

#include <quivex/libquivex.h>

inline void set_shaking(libquivex q)
{
    libquivex_set_lfo_amp_amp(q, 1.0f);
    libquivex_set_lfo_amp_freq(q, 3.0f);
    libquivex_set_lfo_amp_amount(q, 0.5f);
    libquivex_set_lfo_amp_mod(q, 0.4f);
    libquivex_set_lfo_freq_amp(q, 0.1f);
    libquivex_set_lfo_freq_freq(q, 5.0f);
    libquivex_set_lfo_freq_amount(q, 0.5f);
    libquivex_set_lfo_freq_mod(q, 0.6f);
    libquivex_set_lfo_time_amp(q, 0.5f);
    libquivex_set_lfo_time_freq(q, 7.0f);
    libquivex_set_lfo_time_amount(q, 0.5f);
    libquivex_set_lfo_time_mod(q, 0.5f);
}

#endif  // QUIVEX_TESTS_SHAKING_H
