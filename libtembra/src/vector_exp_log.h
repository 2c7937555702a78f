/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Copyright (C) 2014-2022 Free Software Foundation, Inc. (the algorithms,
//   constants and tables of the GNU C Library's libmvec exp and log for
//   four doubles, reproduced below; part of the GNU C Library, under the
//   same licence)
//
// exp and log of a vector of doubles with the bits of the C library's
// 4-lane AVX2 routines (_ZGVdN4v_exp, _ZGVdN4v_log of glibc 2.36, which it
// selects on every CPU with AVX2 and FMA), at any vector width: the header
// is included once per Highway target, as Highway's per-target headers are,
// and defines exp_lib and log_lib in tembra_vmath::HWY_NAMESPACE.
//
// The library's routines read their table with one vgatherqpd per call,
// which costs about 28 cycles on the CPUs we measured: most of the time of
// the call. These are the same reduction, the same table, the same
// polynomial and the same fused multiply-adds, operation for operation and
// in the same order, with the table read by plain scalar loads instead.
// A vector with a lane the library sends down its special path (exp:
// |x| >= 708.39599609375, NaN; log: x outside [DBL_MIN, DBL_MAX], NaN) is
// handed to the library whole, so those lanes get the library's own
// answers too. The equivalence is proven by the long tests
// (tests/long/test_vector_exp_log_long.cpp) over the arguments the engines
// reach, under the default floating-point mode and under FTZ/DAZ.
//
// The log starts from the VEX-encoded `vrcpps` reciprocal estimate, as the
// library does; its bits are those of the CPU model, so the estimate must
// come from that same instruction at every width (not from AVX-512's
// vrcp14ps, which Highway's ApproximateReciprocal picks there).
#ifndef TEMBRA_VECTOR_EXP_LOG_H
#define TEMBRA_VECTOR_EXP_LOG_H
// Once, for every target.
#if defined(__AVX2__) && defined(__FMA__)
#define TEMBRA_VECTOR_EXP_LOG 1

#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "vector_exp_log_tables.h"

#ifdef HWY_DISABLE_BMI2_FMA
#error "the exp and log replicas need Highway's fused MulAdd"
#endif

// The library's own routines, for vectors with a special lane.
extern "C" __m256d _ZGVdN4v_exp(__m256d);
extern "C" __m256d _ZGVdN4v_log(__m256d);
#endif  // __AVX2__ && __FMA__
#endif  // TEMBRA_VECTOR_EXP_LOG_H

// Per target (Highway's toggle).
#if defined(TEMBRA_VECTOR_EXP_LOG) && \
    (defined(TEMBRA_VECTOR_EXP_LOG_TARGET_H) == defined(HWY_TARGET_TOGGLE))
#ifdef TEMBRA_VECTOR_EXP_LOG_TARGET_H
#undef TEMBRA_VECTOR_EXP_LOG_TARGET_H
#else
#define TEMBRA_VECTOR_EXP_LOG_TARGET_H
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// The library's constants, as bit patterns.
namespace exp_lib_k {
constexpr std::uint64_t kInvLn2 = 0x40971547652b82feull;   // 2^10 / ln 2
constexpr std::uint64_t kShifter = 0x4338000000000000ull;  // 3 * 2^51: rounds to an integer
constexpr std::uint64_t kLn2Hi = 0x3f462e42fec00000ull;    // ln 2 / 2^10, high bits
constexpr std::uint64_t kLn2Lo = 0x3d5d1cf79abc9e3bull;    // ln 2 / 2^10, the rest
constexpr std::uint64_t kPC0 = 0x3ff0000000000000ull;      // exp(r) ~ c0 + r (c0 + r (c1 + r c2))
constexpr std::uint64_t kPC1 = 0x3fe0000001ebfbe0ull;
constexpr std::uint64_t kPC2 = 0x3fc5555555555556ull;
constexpr std::uint64_t kIndexMask = 0x3ff;                // the low 10 bits of the rounded x 2^10/ln 2
constexpr std::uint64_t kDomainRange = 0x4086232a;         // high word of |x| above this: special
}  // namespace exp_lib_k

namespace log_lib_k {
constexpr std::uint64_t kExpMask = 0x000fffffffffffffull;   // mantissa bits
constexpr std::uint64_t kTwo10 = 0x3f50000000000000ull;     // 2^-10: the mantissa's new exponent
constexpr std::uint64_t kMinNorm = 0x0010000000000000ull;   // DBL_MIN
constexpr std::uint64_t kMaxNorm = 0x7fefffffffffffffull;   // DBL_MAX
constexpr std::uint64_t kOne = 0x3ff0000000000000ull;
constexpr std::uint64_t kThreshold = 0x4086a00000000000ull;  // 724: above it the table holds -log(r/1024)
constexpr std::uint64_t kBias = 0x408ff80000000000ull;      // 1023
constexpr std::uint64_t kBias1 = 0x408ff00000000000ull;     // 1022
constexpr std::uint64_t kL2 = 0x3fe62e42fefa39efull;        // ln 2
constexpr std::uint64_t kC1 = 0x3fc9999cacdb4d0aull;        // log(1 + R) ~ R + R^2 (c4 + R c3 + R^2 (c2 + R c1))
constexpr std::uint64_t kC2 = 0xbfd0000148058ee1ull;
constexpr std::uint64_t kC3 = 0x3fd55555555543c5ull;
constexpr std::uint64_t kC4 = 0xbfdffffffffff81full;
// The table's byte offset of the rounded reciprocal 512.0 (bits >> 40).
constexpr std::int64_t kFirstKey = 0x408000;
}  // namespace log_lib_k

template <class D>
HWY_INLINE hn::Vec<D> bits_to_vec(D d, std::uint64_t bits) {
  return hn::Set(d, std::bit_cast<double>(bits));
}

// table[index[j]] for every lane j, by scalar loads (no gather).
template <class D>
HWY_INLINE hn::Vec<D> table_lookup(D d, const std::uint64_t* table, hn::Vec<hn::RebindToUnsigned<D>> index) {
  constexpr std::size_t kMax = hn::MaxLanes(D());
  alignas(64) std::uint64_t idx[kMax];
  alignas(64) double t[kMax];
  hn::Store(index, hn::RebindToUnsigned<D>(), idx);
  for (std::size_t j = 0; j < kMax; ++j) t[j] = std::bit_cast<double>(table[idx[j]]);
  return hn::Load(d, t);
}

// The library's routine on every 4-lane part of x.
template <class D>
HWY_INLINE hn::Vec<D> call_library(D d, hn::Vec<D> x, __m256d (*routine)(__m256d)) {
  constexpr std::size_t kMax = hn::MaxLanes(D());
  static_assert(kMax % 4 == 0, "whole 4-lane parts");
  alignas(64) double v[kMax];
  hn::Store(x, d, v);
  for (std::size_t j = 0; j < kMax; j += 4) _mm256_store_pd(v + j, routine(_mm256_load_pd(v + j)));
  return hn::Load(d, v);
}

// vrcpps on the demoted lanes: 4 floats (128 bits) or 8 floats (256 bits).
HWY_INLINE __m128 rcp_estimate(__m128 v) { return _mm_rcp_ps(v); }
HWY_INLINE __m256 rcp_estimate(__m256 v) { return _mm256_rcp_ps(v); }

// exp(x) with the bits of _ZGVdN4v_exp on each 4-lane part.
template <class D>
HWY_INLINE hn::Vec<D> exp_lib(D d, hn::Vec<D> x) {
  using namespace exp_lib_k;
  const hn::RebindToUnsigned<D> du;
  const hn::RebindToSigned<D> di;
  const auto high_abs = hn::And(hn::ShiftRight<32>(hn::BitCast(du, x)), hn::Set(du, 0x7fffffff));
  if (!hn::AllFalse(di, hn::Gt(hn::BitCast(di, high_abs), hn::Set(di, kDomainRange))))
    return call_library(d, x, _ZGVdN4v_exp);
  const auto shifter = bits_to_vec(d, kShifter);
  const auto m = hn::MulAdd(x, bits_to_vec(d, kInvLn2), shifter);  // n = rint(x 2^10/ln 2) in the low bits
  const auto n = hn::Sub(m, shifter);
  auto r = hn::NegMulAdd(n, bits_to_vec(d, kLn2Hi), x);
  r = hn::NegMulAdd(n, bits_to_vec(d, kLn2Lo), r);
  const auto c0 = bits_to_vec(d, kPC0);
  auto p = hn::MulAdd(r, bits_to_vec(d, kPC2), bits_to_vec(d, kPC1));
  p = hn::MulAdd(r, p, c0);
  p = hn::MulAdd(r, p, c0);
  const auto m_bits = hn::BitCast(du, m);
  const auto index_mask = hn::Set(du, kIndexMask);
  const auto two_pow_j = table_lookup(d, kExpTwoPowTable, hn::And(m_bits, index_mask));
  const auto scaled = hn::BitCast(du, hn::Mul(two_pow_j, p));
  // Times 2^M, M the rest of n, by adding it to the exponent field.
  const auto exponent = hn::ShiftLeft<42>(hn::AndNot(index_mask, m_bits));
  return hn::BitCast(d, hn::Add(scaled, exponent));
}

// log(x) with the bits of _ZGVdN4v_log on each 4-lane part.
template <class D>
HWY_INLINE hn::Vec<D> log_lib(D d, hn::Vec<D> x) {
  using namespace log_lib_k;
  const hn::RebindToUnsigned<D> du;
  const hn::RebindToSigned<D> di;
  const hn::Rebind<float, D> df;
  const auto special = hn::Or(hn::Lt(x, bits_to_vec(d, kMinNorm)), hn::Not(hn::Le(x, bits_to_vec(d, kMaxNorm))));
  if (!hn::AllFalse(d, special)) return call_library(d, x, _ZGVdN4v_log);
  const auto x_bits = hn::BitCast(du, x);
  // The biased exponent, and the mantissa scaled into [2^-10, 2^-9).
  const auto exponent = hn::ConvertTo(d, hn::BitCast(di, hn::ShiftRight<52>(x_bits)));
  const auto mantissa = hn::BitCast(d, hn::Or(hn::And(x_bits, hn::Set(du, kExpMask)), hn::Set(du, kTwo10)));
  // A reciprocal good to about 11 bits, rounded to an integer 512 .. 1024.
  const auto estimate = hn::Vec<decltype(df)>{rcp_estimate(hn::DemoteTo(df, mantissa).raw)};
  const auto rcp = hn::Round(hn::PromoteTo(d, estimate));
  const auto key = hn::ShiftRight<43>(hn::Sub(hn::BitCast(du, rcp), hn::Set(du, std::uint64_t{kFirstKey} << 40)));
  const auto red = hn::MulSub(rcp, mantissa, bits_to_vec(d, kOne));  // R = rcp * mantissa - 1
  const auto above = hn::Gt(rcp, bits_to_vec(d, kThreshold));
  const auto neg_log_rcp = table_lookup(d, kLogRcpTable, key);
  const auto red2 = hn::Mul(red, red);
  auto p = hn::MulAdd(red, bits_to_vec(d, kC1), bits_to_vec(d, kC2));
  const auto bias = hn::Or(hn::And(hn::VecFromMask(d, above), bits_to_vec(d, kBias)), bits_to_vec(d, kBias1));
  const auto e = hn::Sub(exponent, bias);
  const auto q = hn::MulAdd(red, bits_to_vec(d, kC3), bits_to_vec(d, kC4));
  p = hn::MulAdd(red2, p, q);
  p = hn::MulAdd(red2, p, red);
  const auto s = hn::Add(p, neg_log_rcp);
  return hn::MulAdd(e, bits_to_vec(d, kL2), s);
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#endif  // per-target toggle
