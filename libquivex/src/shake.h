/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The shake stages, which the effect engine runs on every sample between
 * analysis and resynthesis, in this order (shake_stages):
 *   1. the values of the three shake LFOs (shake.cpp);
 *   2. the amplitude shake: every amplitude scaled by the amplitude LFO, mixed
 *      dry/wet by its amount (shake.cpp);
 *   3. the frequency shake: every frequency scaled by exp of the frequency
 *      LFO, mixed the same way (shake.cpp);
 *   4. the time filter: every amplitude smoothed along time, from 0.1 ms at
 *      the lowest resonator to up to 10 s at the highest as the time LFO
 *      sets, mixed dry/wet (shake_time.cpp).
 * Each works in place on the engine's readout arrays. Not exported.
 * Audio thread: no allocation. */
#ifndef QUIVEX_SHAKE_H
#define QUIVEX_SHAKE_H

#include "libquivex_internal.h"

// The per-resonator loops run at full vector width (shake_vec.cpp,
// ewma_vec.cpp) on an AVX2 build; the straightforward reference build runs
// the scalar forms alone.
#if defined(__AVX2__) && !MORVANE_REFERENCE
#define QUIVEX_VECTOR_STAGES 1
#endif

namespace quivex_detail {
// Smoothing time of the lowest resonator and the span above it, ms.
constexpr double MIN_SMOOTH_MS = 0.1;
constexpr double SMOOTH_SPAN_MS = 9999.9;
}  // namespace quivex_detail

/* The four stages in their fixed order on size resonators (size >= 2). */
void shake_stages(libquivex lr, float* ai_buf, float* fi_buf, int size) noexcept;

/* The values of the three shake LFOs, lfo_get_val of the amplitude and
 * frequency LFOs and lfo_get_val_norm of the time LFO, with their cosines
 * and sigmoid powers evaluated together (and remembered while the LFOs
 * rest). */
void shake_lfo_values(libquivex lr, float* amp_val, float* freq_val, float* time_val) noexcept;

/* Scales every amplitude by the amplitude LFO's value lfo_val. */
void shake_amps_by(libquivex lr, float* ai_buf, int size, float lfo_val) noexcept;

/* Scales every frequency by exp(lfo_val), the frequency LFO's value (its
 * depth is in natural-log units: ln 2 swings one octave). */
void shake_freqs_by(libquivex lr, float* fi_buf, int size, float lfo_val) noexcept;

/* Smooths every amplitude along time, with a smoothing time growing from
 * 0.1 ms at the lowest resonator to 0.1 + 9999.9 * lfo_val ms at the
 * highest, then mixes the smoothed amplitudes with the dry ones. Needs
 * size >= 2. */
void shake_time_by(libquivex lr, float* ai_buf, int size, float lfo_val) noexcept;

/* Each stage with its LFO's value evaluated on its own. */
inline void shake_amps(libquivex lr, float* ai_buf, int size)
{
    shake_amps_by(lr, ai_buf, size, lfo_get_val(&lr->_lfos[LFO_SHAKE_AMP]));
}

inline void shake_freqs(libquivex lr, float* fi_buf, int size)
{
    shake_freqs_by(lr, fi_buf, size, lfo_get_val(&lr->_lfos[LFO_SHAKE_FREQ]));
}

inline void shake_time(libquivex lr, float* ai_buf, int size)
{
    shake_time_by(lr, ai_buf, size, lfo_get_val_norm(&lr->_lfos[LFO_SHAKE_TIME]));
}

/* The shake stages' part of a record whose _num_reso is set: every LFO as
 * lfo_init leaves it and no LFO values remembered, the time filter, its
 * coefficients (all 0), the dry copy and each resonator's position
 * k / (_num_reso - 1) for the time stage. libquivex_new builds its record
 * with it, and the tests and benchmarks build records of the stages alone.
 * Returns false when memory runs out; shake_state_free then releases what
 * was allocated. */
bool shake_state_new(libquivex lr) noexcept;

/* Releases what shake_state_new allocated; harmless on a record without. */
void shake_state_free(libquivex lr) noexcept;

#endif /* QUIVEX_SHAKE_H */
