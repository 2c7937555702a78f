// SPDX-License-Identifier: LGPL-2.1-or-later
// The tracking bank's per-sample update as whole-bank passes, compiled once
// per vector path (Highway's foreach_target). Each operation is the one of
// the plain form (update_one_by_one in tracking_resonator_bank_vec.cpp) on
// the same operands: no fusion, the same order, the same double widening.
//   1. demodulation, both smoothing stages, phase step and power of every
//      resonator (a full vector of floats per step);
//   2. the thresholds, from the running maximum of the powers below each
//      resonator (a prefix maximum, four lanes);
//   3. the tracking decision, the phase-step arc tangents of the tracking
//      resonators and the natural frequency of those at rest, then sine and
//      cosine of every new omega (a vector of doubles' width of floats);
//   4. rotation and renormalisation of every phasor (the same width).
// Resonators interact only through the thresholds, which depend on the
// powers of pass 1 alone, so the passes may run one after the other.
#include "tracking_update.h"

#if defined(TEMBRA_TRACKING_UPDATE)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tracking_update.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include <hwy/highway.h>

#include "femto_floor.h"
#include "tracking_resonator_bank_vec_internal.h"
#include "tracking_steps.h"
#include "vector_atan2.h"
#include "vector_sincosf.h"


HWY_BEFORE_NAMESPACE();
namespace tembra_tracking {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;
namespace vm = tembra_vmath::HWY_NAMESPACE;

// Pass 3 for the lanes of d from index i: decide, track and turn. Tracking
// lanes (power above threshold) move omega by the fraction gamma of the
// phase step; lanes at rest go back to their natural frequency. W is
// recomputed for the lanes whose omega changed, and the other lanes keep
// theirs.
template <class D>
HWY_INLINE void decide_and_turn(D /* d */, tracking_resonator_bank_vec t, int i, float factor, float hz_per_omega,
                                bool limit) {
  const hn::Rebind<float, D> df;
  const hn::RebindToSigned<decltype(df)> di;
  const auto tracking = hn::Gt(hn::LoadU(df, t->_scratch_power + i), hn::LoadU(df, t->_track_frequency_power_threshold + i));
  const auto previous = hn::LoadU(df, t->_p_omega + i);
  const auto nat = hn::LoadU(df, t->_natural_frequencies + i);
  auto freq = hn::LoadU(df, t->_p_frequency + i);
  // At rest: (double)|frequency - natural| > 1e-15 recomputes omega.
  const auto diff = hn::AndNot(hn::Set(df, -0.0f), hn::Sub(freq, nat));
  const auto changed = hn::Ge(diff, hn::Set(df, tembra_floor::kFemtoFloor));
  auto turn = hn::AndNot(tracking, changed);
  auto w = hn::IfThenElse(turn, hn::Mul(nat, hn::Set(df, factor)), previous);
  freq = hn::IfThenElse(tracking, freq, nat);
  if (!hn::AllFalse(df, tracking)) {
    const auto candidate = hn::Add(previous, hn::LoadU(df, t->_scratch_step + i));
    const auto inside = hn::And(hn::Lt(hn::LoadU(df, t->_omega_range_min + i), candidate),
                                hn::Lt(candidate, hn::LoadU(df, t->_omega_range_max + i)));
    // A rejected candidate leaves omega, and so W, as they were.
    const auto accept = limit ? hn::And(tracking, inside) : tracking;
    w = hn::IfThenElse(accept, candidate, w);
    freq = hn::IfThenElse(tracking, hn::Neg(hn::Mul(hn::Set(df, hz_per_omega), w)), freq);
    turn = hn::Or(turn, accept);
  }
  hn::StoreU(w, df, t->_p_omega + i);
  hn::StoreU(freq, df, t->_p_frequency + i);
  // W is always the sine and cosine of the stored omega: a lane whose new
  // omega has the bits of the previous one keeps its W as it is.
  turn = hn::AndNot(hn::RebindMask(df, hn::Eq(hn::BitCast(di, w), hn::BitCast(di, previous))), turn);
  if (hn::AllFalse(df, turn)) return;
  hn::Vec<decltype(df)> s, c;
  vm::sincosf_lanes(df, w, s, c);
  hn::StoreU(hn::IfThenElse(turn, c, hn::LoadU(df, t->_p_Wc + i)), df, t->_p_Wc + i);
  hn::StoreU(hn::IfThenElse(turn, s, hn::LoadU(df, t->_p_Ws + i)), df, t->_p_Ws + i);
  hn::StoreU(hn::IfThenElse(turn, hn::Add(s, c), hn::LoadU(df, t->_p_Wcps + i)), df, t->_p_Wcps + i);
}

// Pass 4 for the lanes of d from index i: Z <- Z * W with three
// multiplications, then k = (3 - |Z|^2) / 2 in double (the squares are float
// products).
template <class D>
HWY_INLINE void rotate(D d, tracking_resonator_bank_vec t, int i) {
  const hn::Rebind<float, D> df;
  const auto a = hn::LoadU(df, t->_p_Zc + i);
  const auto b = hn::LoadU(df, t->_p_Zs + i);
  const auto ac = hn::Mul(a, hn::LoadU(df, t->_p_Wc + i));
  const auto bd = hn::Mul(b, hn::LoadU(df, t->_p_Ws + i));
  const auto abcd = hn::Mul(hn::Add(a, b), hn::LoadU(df, t->_p_Wcps + i));
  const auto zr = hn::Sub(ac, bd);
  const auto zi = hn::Sub(hn::Sub(abcd, ac), bd);
  const auto k = hn::DemoteTo(
      df, hn::Mul(hn::Sub(hn::Sub(hn::Set(d, 3.0), hn::PromoteTo(d, hn::Mul(zr, zr))), hn::PromoteTo(d, hn::Mul(zi, zi))),
                  hn::Set(d, 0.5)));
  hn::StoreU(hn::Mul(zr, k), df, t->_p_Zc + i);
  hn::StoreU(hn::Mul(k, zi), df, t->_p_Zs + i);
}

void update(tracking_resonator_bank_vec t, float sample) {
  const int n = t->_num_resonators;
  const float lastAccPower = t->_accPower;
  const float factor = tracking_steps::freq_to_omega(t);
  const float hz_per_omega = tracking_steps::omega_to_freq(t);
  const bool limit = t->_limit_range != 0;

  const float* __restrict alpha = t->_alpha;
  const float* __restrict omAlpha = t->_omAlpha;
  const float* __restrict beta = t->_beta;
  const float* __restrict omBeta = t->_omBeta;
  const float* __restrict gamma = t->_gamma;
  const float* __restrict pdpc = t->_p_dpc;
  const float* __restrict pdps = t->_p_dps;
  float* __restrict s_re = t->_cos;  // first smoothing stage S
  float* __restrict s_im = t->_sin;
  float* __restrict c_re = t->_cc;   // second smoothing stage C
  float* __restrict c_im = t->_ss;
  float* __restrict d_re = t->_dpc;  // phase step D
  float* __restrict d_im = t->_dps;
  float* __restrict threshold = t->_track_frequency_power_threshold;
  float* __restrict z_re = t->_p_Zc;
  float* __restrict z_im = t->_p_Zs;
  float* __restrict power = t->_scratch_power;
  float* __restrict step = t->_scratch_step;

  // 1. Demodulate by Z * P, smooth, phase step D, power.
  const hn::ScalableTag<float> dw;
  const int wide = static_cast<int>(hn::Lanes(dw));
  int i = 0;
  const auto vsample = hn::Set(dw, sample);
  auto unordered = hn::FirstN(dw, 0);  // no lane yet
  for (; i + wide <= n; i += wide) {
    const auto zr = hn::LoadU(dw, z_re + i);
    const auto zi = hn::LoadU(dw, z_im + i);
    const auto pc = hn::LoadU(dw, pdpc + i);
    const auto ps = hn::LoadU(dw, pdps + i);
    const auto alpha_sample = hn::Mul(vsample, hn::LoadU(dw, alpha + i));
    const auto zc = hn::Sub(hn::Mul(zr, pc), hn::Mul(zi, ps));
    const auto zs = hn::Add(hn::Mul(zr, ps), hn::Mul(zi, pc));
    const auto oma = hn::LoadU(dw, omAlpha + i);
    const auto sr = hn::Add(hn::Mul(oma, hn::LoadU(dw, s_re + i)), hn::Mul(alpha_sample, zc));
    const auto si = hn::Add(hn::Mul(oma, hn::LoadU(dw, s_im + i)), hn::Mul(alpha_sample, zs));
    hn::StoreU(sr, dw, s_re + i);
    hn::StoreU(si, dw, s_im + i);
    const auto lcc = hn::LoadU(dw, c_re + i);
    const auto lss = hn::LoadU(dw, c_im + i);
    const auto omb = hn::LoadU(dw, omBeta + i);
    const auto b = hn::LoadU(dw, beta + i);
    const auto cr = hn::Add(hn::Mul(omb, lcc), hn::Mul(b, sr));
    const auto ci = hn::Add(hn::Mul(omb, lss), hn::Mul(b, si));
    hn::StoreU(cr, dw, c_re + i);
    hn::StoreU(ci, dw, c_im + i);
    hn::StoreU(hn::Add(hn::Mul(lcc, cr), hn::Mul(lss, ci)), dw, d_re + i);
    hn::StoreU(hn::Sub(hn::Mul(lcc, ci), hn::Mul(lss, cr)), dw, d_im + i);
    const auto p = hn::Add(hn::Mul(cr, cr), hn::Mul(ci, ci));
    unordered = hn::Or(unordered, hn::IsNaN(p));
    hn::StoreU(p, dw, power + i);
  }
  bool any_nan = !hn::AllFalse(dw, unordered);
  for (; i < n; ++i) {
    power[i] = tracking_steps::demodulate(t, i, sample);
    if (std::isnan(power[i])) any_nan = true;
  }

  // 2. threshold[i] = max(maxPower, 0.001) * 0.001 in double, maxPower the
  // running maximum of the powers below i, updated as "maxPower becomes
  // power unless maxPower is greater". That is the max instruction's own
  // rule, and for powers without NaN (sums of squares: never -0) it is
  // associative, so a prefix maximum gives the same running values.
  float maxPower = 0.0f;
  i = 0;
  if (!any_nan) {
    __m128 carry = _mm_setzero_ps();  // running maximum, all lanes
    const __m256d floor_d = _mm256_set1_pd(0.001);
    for (; i + 4 <= n; i += 4) {
      const __m128 p = _mm_loadu_ps(power + i);
      // Inclusive prefix maximum within the group (zero is neutral for
      // non-negative powers).
      __m128 m = _mm_max_ps(p, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(p), 4)));
      m = _mm_max_ps(m, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(m), 8)));
      // Exclusive: lane j sees the powers below j.
      const __m128 below = _mm_max_ps(carry, _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(m), 4)));
      const __m256d th = _mm256_mul_pd(_mm256_max_pd(floor_d, _mm256_cvtps_pd(below)), floor_d);
      _mm_storeu_ps(threshold + i, _mm256_cvtpd_ps(th));
      carry = _mm_max_ps(carry, _mm_shuffle_ps(m, m, _MM_SHUFFLE(3, 3, 3, 3)));
    }
    maxPower = _mm_cvtss_f32(carry);
  }
  for (; i < n; ++i) {
    threshold[i] = static_cast<float>(std::max(static_cast<double>(maxPower), 0.001) * 0.001);
    if (!(maxPower > power[i])) maxPower = power[i];
  }

  // 3. The arc tangents first, for every vector with a tracking lane, so
  // that they do not wait for the decisions and rotations of the others;
  // then the decisions. Whole vectors of doubles' width, a last group of
  // four where the vectors are wider, then one by one.
  const hn::ScalableTag<double> d;
  const hn::Rebind<float, decltype(d)> df;
  const hn::CappedTag<double, 4> d4;
  const hn::Rebind<float, decltype(d4)> df4;
  const int lanes = static_cast<int>(hn::Lanes(d));
  const int groups = tembra_simd::whole_groups(n);
  const int whole = groups / lanes * lanes;
  auto tracks = [&](auto dfx, int at) {
    return !hn::AllFalse(dfx, hn::Gt(hn::LoadU(dfx, power + at), hn::LoadU(dfx, threshold + at)));
  };
  // -(double)gamma: the sign flip of the widened value is exact.
  auto step_of = [&](auto dx, auto dfx, int at) {
    vm::atan2_scaled(dx, d_im + at, d_re + at, hn::Neg(hn::PromoteTo(dx, hn::LoadU(dfx, gamma + at))), step + at);
  };
  for (i = 0; i < whole; i += lanes)
    if (tracks(df, i)) step_of(d, df, i);
  if (i < groups && tracks(df4, i)) step_of(d4, df4, i);
  for (i = 0; i < whole; i += lanes) decide_and_turn(d, t, i, factor, hz_per_omega, limit);
  if (i < groups) {
    decide_and_turn(d4, t, i, factor, hz_per_omega, limit);
    i += 4;
  }
  for (; i < n; ++i) tracking_steps::decide(t, i, power[i] > threshold[i], factor, hz_per_omega, limit);

  // 4. Rotate and renormalise every phasor.
  for (i = 0; i < whole; i += lanes) rotate(d, t, i);
  if (i < groups) {
    rotate(d4, t, i);
    i += 4;
  }
  for (; i < n; ++i) tracking_steps::rotate(t, i);
  t->_accPower = t->_omSigma * lastAccPower + t->_sigma * maxPower;
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_tracking
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
void tracking_update(tembra_simd::Path path, tracking_resonator_bank_vec t, float sample) noexcept {
  TEMBRA_ON_PATH(path, tembra_tracking, update(t, sample));
}
#endif

#endif  // TEMBRA_TRACKING_UPDATE
