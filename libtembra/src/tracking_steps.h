/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tracking update's steps for one resonator i, in the order the plain
// form (update_one_by_one) runs them in one loop; the whole-bank passes
// (tracking_update.cpp) run the same steps for the resonators past their
// last whole group of four. No multiply-add is fused (the build forbids
// contraction); "in double" steps widen, compute and round once.
#ifndef TEMBRA_TRACKING_STEPS_H
#define TEMBRA_TRACKING_STEPS_H

#include <math.h>

#include <cmath>

#include "tracking_resonator_bank_vec_internal.h"

namespace tracking_steps {

// Radians per sample per Hz, -2 pi / samplerate formed in double and
// rounded once, and Hz per radian per sample, samplerate / (2 pi) in float.
inline float freq_to_omega(tracking_resonator_bank_vec t) {
  return static_cast<float>(static_cast<double>(t->_sample_rate_inv) * -6.283185307179586);
}
inline float omega_to_freq(tracking_resonator_bank_vec t) { return t->_samplerate * t->_two_pi_inv; }

// Sets omega and the rotation that belongs to it (sinf and cosf called
// separately, never merged into one sincosf).
inline void set_omega(tracking_resonator_bank_vec t, int i, float value) {
  t->_p_omega[i] = value;
  t->_p_Wc[i] = ::cosf(value);
  t->_p_Ws[i] = ::sinf(value);
  t->_p_Wcps[i] = t->_p_Ws[i] + t->_p_Wc[i];
}

// Demodulates the sample by Z * P, smooths it through S and C, and sets the
// phase step D = conj(C before) * C after; returns the power |C|^2.
inline float demodulate(tracking_resonator_bank_vec t, int i, float sample) {
  const float alpha_sample = sample * t->_alpha[i];
  const float zc = t->_p_Zc[i] * t->_p_dpc[i] - t->_p_Zs[i] * t->_p_dps[i];
  const float zs = t->_p_Zc[i] * t->_p_dps[i] + t->_p_Zs[i] * t->_p_dpc[i];
  t->_cos[i] = t->_omAlpha[i] * t->_cos[i] + alpha_sample * zc;
  t->_sin[i] = t->_omAlpha[i] * t->_sin[i] + alpha_sample * zs;
  const float lcc = t->_cc[i];
  const float lss = t->_ss[i];
  t->_cc[i] = t->_omBeta[i] * lcc + t->_beta[i] * t->_cos[i];
  t->_ss[i] = t->_omBeta[i] * lss + t->_beta[i] * t->_sin[i];
  t->_dpc[i] = lcc * t->_cc[i] + lss * t->_ss[i];
  t->_dps[i] = lcc * t->_ss[i] - lss * t->_cc[i];
  return t->_cc[i] * t->_cc[i] + t->_ss[i] * t->_ss[i];
}

// A tracking resonator moves omega by the fraction gamma of the phase step
// (a rejected candidate leaves omega, and so W, as they were); one at rest
// goes back to its natural frequency at once, while Z runs on.
inline void decide(tracking_resonator_bank_vec t, int i, bool tracking, float freq_to_omega, float omega_to_freq,
                   bool limit) {
  if (tracking) {
    const float previous = t->_p_omega[i];
    const float d_omega = static_cast<float>(-static_cast<double>(t->_gamma[i]) *
                                             std::atan2(static_cast<double>(t->_dps[i]), static_cast<double>(t->_dpc[i])));
    const float candidate = previous + d_omega;
    const bool inside = t->_omega_range_min[i] < candidate && candidate < t->_omega_range_max[i];
    if (!limit || inside) set_omega(t, i, candidate);
    t->_p_frequency[i] = -(omega_to_freq * t->_p_omega[i]);
  } else {
    const float f = t->_natural_frequencies[i];
    if (static_cast<double>(std::fabs(t->_p_frequency[i] - f)) > 1e-15) set_omega(t, i, f * freq_to_omega);
    t->_p_frequency[i] = f;
  }
}

// Z <- Z * W with three multiplications, then back onto the unit circle
// with the first-order factor (3 - |Z|^2) / 2 in double.
inline void rotate(tracking_resonator_bank_vec t, int i) {
  const float ac = t->_p_Zc[i] * t->_p_Wc[i];
  const float bd = t->_p_Zs[i] * t->_p_Ws[i];
  const float abcd = (t->_p_Zc[i] + t->_p_Zs[i]) * t->_p_Wcps[i];
  const float zr = ac - bd;
  const float zi = abcd - ac - bd;
  const float k = static_cast<float>((3.0 - static_cast<double>(zr * zr) - static_cast<double>(zi * zi)) * 0.5);
  t->_p_Zc[i] = zr * k;
  t->_p_Zs[i] = k * zi;
}

}  // namespace tracking_steps

#endif  // TEMBRA_TRACKING_STEPS_H
