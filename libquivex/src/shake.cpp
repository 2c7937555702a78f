// SPDX-License-Identifier: LGPL-2.1-or-later
// The shake stages' LFO values and the amplitude and frequency shakes (see
// shake.h), and the order of all four stages.
#include "shake.h"

#include <immintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "denormal_guard.h"
#include "lfo_vec.h"
#include "shake_vec.h"

/* lfo_apply_amount over a whole buffer in place: the groups of four at full
 * vector width on the engine's path (shake_vec.cpp), the rest with the same
 * scalar arithmetic. */
static void lfo_apply_amount_buf(libquivex lr, const lfo* l, float lfo_val, float* buf, int size)
{
    float* __restrict x = buf;
    int k = 0;
#if defined(QUIVEX_VECTOR_STAGES)
    k = tembra_simd::whole_groups(size);
    quivex_shake_vec::apply_amount_n(lr->_path, l->_amount, lfo_val, x, k);
#else
    (void)lr;
#endif
    for (; k < size; ++k)
        x[k] = lfo_apply_amount(l, lfo_val, x[k]);
}

void shake_amps_by(libquivex lr, float* ai_buf, int size, float lfo_val) noexcept
{
    lfo_apply_amount_buf(lr, &lr->_lfos[LFO_SHAKE_AMP], lfo_val, ai_buf, size);
}

void shake_freqs_by(libquivex lr, float* fi_buf, int size, float lfo_val) noexcept
{
    const float pitch = static_cast<float>(std::exp(static_cast<double>(lfo_val)));
    lfo_apply_amount_buf(lr, &lr->_lfos[LFO_SHAKE_FREQ], pitch, fi_buf, size);
}

void shake_lfo_values(libquivex lr, float* amp_val, float* freq_val, float* time_val) noexcept
{
    const lfo* la = &lr->_lfos[LFO_SHAKE_AMP];
    const lfo* lf = &lr->_lfos[LFO_SHAKE_FREQ];
    const lfo* lt = &lr->_lfos[LFO_SHAKE_TIME];
#if defined(QUIVEX_LFO_VEC) && !MORVANE_REFERENCE
    const float key[9] = {la->_phase, la->_mod, la->_amp, lf->_phase, lf->_mod,
                          lf->_amp,   lt->_phase, lt->_mod, lt->_amp};
    const unsigned mode = tembra_fp::ftz_daz_bits();
    if (mode == lr->_lfo_key_mode && std::memcmp(key, lr->_lfo_key, sizeof key) == 0) {
        *amp_val = lr->_lfo_vals[0];
        *freq_val = lr->_lfo_vals[1];
        *time_val = lr->_lfo_vals[2];
        return;
    }
    const float phase[4] = {la->_phase, lf->_phase, lt->_phase, 0.0f};
    float val[4], norm[4];
    quivex_lfo_vec::lfo_cos_x4(phase, val, norm);
    const double t[4] = {(static_cast<double>(val[0]) + 1.0) * 0.5, (static_cast<double>(val[1]) + 1.0) * 0.5,
                         static_cast<double>(norm[2]), 0.25};
    const double e[4] = {lfo_shape_exponent(la), lfo_shape_exponent(lf), lfo_shape_exponent(lt), 1.0};
    float s[4];
    quivex_lfo_vec::lfo_sigmoid_x4(t, e, s);
    *amp_val = static_cast<float>((static_cast<double>(s[0]) - 0.5) * 2.0 * static_cast<double>(la->_amp));
    *freq_val = static_cast<float>((static_cast<double>(s[1]) - 0.5) * 2.0 * static_cast<double>(lf->_amp));
    *time_val = s[2] * lt->_amp;
    std::memcpy(lr->_lfo_key, key, sizeof key);
    lr->_lfo_key_mode = mode;
    lr->_lfo_vals[0] = *amp_val;
    lr->_lfo_vals[1] = *freq_val;
    lr->_lfo_vals[2] = *time_val;
#else
    *amp_val = lfo_get_val(la);
    *freq_val = lfo_get_val(lf);
    *time_val = lfo_get_val_norm(lt);
#endif
}

void shake_stages(libquivex lr, float* ai_buf, float* fi_buf, int size) noexcept
{
    float amp_val, freq_val, time_val;
    shake_lfo_values(lr, &amp_val, &freq_val, &time_val);
    shake_amps_by(lr, ai_buf, size, amp_val);
    shake_freqs_by(lr, fi_buf, size, freq_val);
    shake_time_by(lr, ai_buf, size, time_val);
}

bool shake_state_new(libquivex lr) noexcept
{
    const int n = lr->_num_reso;
    const std::size_t count = static_cast<std::size_t>(n);
    for (auto& l : lr->_lfos)
        lfo_init(&l);
    lr->_path = tembra_simd::choose_path();
    lr->_lfo_key_mode = ~0u;
    lr->_alphas = static_cast<float*>(std::calloc(count, sizeof(float)));
    if (lr->_alphas == nullptr)
        return false;
    lr->_filter = filter_time_new(n);
    if (lr->_filter == nullptr)
        return false;
    lr->_tmp_buf = static_cast<float*>(std::malloc(count * sizeof(float)));
    lr->_time_t = static_cast<float*>(std::malloc(count * sizeof(float)));
    if (lr->_tmp_buf == nullptr || lr->_time_t == nullptr)
        return false;
    for (int k = 0; k < n; ++k)
        lr->_time_t[k] = static_cast<float>(k) / static_cast<float>(n - 1);
    return true;
}

void shake_state_free(libquivex lr) noexcept
{
    std::free(lr->_alphas);
    filter_time_free(lr->_filter);
    std::free(lr->_tmp_buf);
    std::free(lr->_time_t);
}
