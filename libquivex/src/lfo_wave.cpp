// SPDX-License-Identifier: LGPL-2.1-or-later
// One cycle of a shake LFO, for pictures of it: the engine's own LFO record
// and value functions at evenly spaced phases. A source of its own, so that
// a program drawing the curves links this and the sigmoid, not the engine.
#include "libquivex.h"

#include "lfo.h"

void libquivex_lfo_wave(int lfo_index, float amp, float mod, float* out, int n) noexcept
{
    if (n <= 0 || out == nullptr ||
        (lfo_index != LIBQUIVEX_LFO_AMP && lfo_index != LIBQUIVEX_LFO_FREQ && lfo_index != LIBQUIVEX_LFO_TIME))
        return;
    lfo l;
    lfo_init(&l);
    l._amp = amp;
    l._mod = mod;
    // At rest (rate 0): only the shape's exponent is computed, as at the
    // start of every buffer.
    lfo_comp_phase_incr(&l, 1);
    for (int k = 0; k < n; ++k) {
        l._phase = static_cast<float>(quivex_detail::TWO_PI * static_cast<double>(k) / static_cast<double>(n));
        out[k] = lfo_index == LIBQUIVEX_LFO_TIME ? lfo_get_val_norm(&l) : lfo_get_val(&l);
    }
}
