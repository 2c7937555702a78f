// SPDX-License-Identifier: LGPL-2.1-or-later
// The time filter stage (see shake.h): the smoothing coefficients of the
// time LFO's value (remembered while it keeps its bits), the per-resonator
// one-pole filter along time, and the dry/wet mix.
#include "shake.h"

#include <cstring>

#include "ewma.h"
#include "ewma_vec.h"
#include "filter_time.h"
#include "shake_vec.h"

/* The smoothing time of the resonator at position t in [0, 1] (its index
 * over the highest index), ms: 0.1 ms at the lowest, 0.1 + 9999.9 lfo_val
 * at the highest. */
static float smoothing_ms(float t, float lfo_val)
{
    return static_cast<float>(static_cast<double>(t * lfo_val) * quivex_detail::SMOOTH_SPAN_MS +
                              quivex_detail::MIN_SMOOTH_MS);
}

void shake_time_by(libquivex lr, float* ai_buf, int size, float lfo_val) noexcept
{
    const lfo* l = &lr->_lfos[LFO_SHAKE_TIME];
    const float amount = l->_amount;
    const int srate = static_cast<int>(lr->_srate);
    float* __restrict ai = ai_buf;
    float* __restrict dry = lr->_tmp_buf;
    float* __restrict alphas = lr->_alphas;

#if defined(QUIVEX_VECTOR_STAGES)
    std::memcpy(dry, ai, sizeof(float) * static_cast<std::size_t>(size));
#else
    for (int k = 0; k < size; ++k)
        dry[k] = ai[k];
#endif

#if defined(QUIVEX_VECTOR_STAGES)
    // The coefficients are a function of lfo_val alone (for a given rate and
    // size): the same value gives the same coefficients, bit for bit.
    const bool fresh = lr->_alphas_valid != 0 && lr->_alphas_size == size &&
                       std::memcmp(&lr->_alphas_lfo_val, &lfo_val, sizeof(float)) == 0;
#else
    const bool fresh = false;
#endif
    if (!fresh) {
        const float last = static_cast<float>(size - 1);
        int k = 0;
#if defined(QUIVEX_VECTOR_STAGES) && defined(QUIVEX_EWMA_VEC)
        if (quivex_ewma_vec::rate_proven(srate)) {
            k = tembra_simd::whole_groups(size);
            if (size == lr->_num_reso) {
                quivex_ewma_vec::time_alphas_n(lr->_path, srate, lr->_time_t, lfo_val, quivex_detail::MIN_SMOOTH_MS,
                                               quivex_detail::SMOOTH_SPAN_MS, alphas, k);
            } else {
                // The times first (into alphas), then their coefficients in place.
                for (int j = 0; j < k; ++j)
                    alphas[j] = smoothing_ms(static_cast<float>(j) / last, lfo_val);
                quivex_ewma_vec::ms_to_alpha_n(lr->_path, srate, alphas, alphas, k);
            }
        }
#endif
        for (; k < size; ++k)
            alphas[k] = ewma_ms_to_alpha(srate, smoothing_ms(static_cast<float>(k) / last, lfo_val));
        lr->_alphas_valid = 1;
        lr->_alphas_size = size;
        lr->_alphas_lfo_val = lfo_val;
    }

    filter_time_set_alphas(lr->_filter, alphas);
    filter_time_process(lr->_filter, ai);

    const double dry_gain = 1.0 - static_cast<double>(amount);
    int k = 0;
#if defined(QUIVEX_VECTOR_STAGES)
    k = tembra_simd::whole_groups(size);
    quivex_shake_vec::mix_n(lr->_path, amount, dry, ai, k);
#endif
    for (; k < size; ++k) {
        const float wet = amount * ai[k];
        ai[k] = static_cast<float>(static_cast<double>(dry[k]) * dry_gain + static_cast<double>(wet));
    }
}
