/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The loop shapes every vector kernel shares, at any vector width. The
// header is included once per Highway target and defines them in
// tembra_vmath::HWY_NAMESPACE.
//
// Arrays are handled in whole groups of four entries from index 0 (the
// scalar rest is the caller's): whole vectors first, then, where the
// vectors are wider than four, the last groups of four with a four-lane
// tag. Every lane is computed by the same operations whatever the width.
#if defined(TEMBRA_VECTOR_LOOPS_TARGET_H) == defined(HWY_TARGET_TOGGLE)
#ifdef TEMBRA_VECTOR_LOOPS_TARGET_H
#undef TEMBRA_VECTOR_LOOPS_TARGET_H
#else
#define TEMBRA_VECTOR_LOOPS_TARGET_H
#endif

#include <math.h>

#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tembra_vmath {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// body(tag, i) for each whole vector of d at i in [0, count), then for each
// remaining group of four with a four-lane tag of the same lane type.
template <class D, class Body>
HWY_INLINE void for_groups(D d, int count, const Body& body) {
  const int lanes = static_cast<int>(hn::Lanes(d));
  int i = 0;
  for (; i + lanes <= count; i += lanes) body(d, i);
  for (; i < count; i += 4) body(hn::CappedTag<hn::TFromD<D>, 4>(), i);
}

// body(tag, i, n) for the entries [i, i + n) in chunks of at most kChunk
// whole vectors of d, then once with a four-lane tag for the groups of four
// left over. A kernel whose steps are long dependency chains evaluates a
// chunk stage by stage, so that the chains of the chunk overlap.
template <int kChunk, class D, class Body>
HWY_INLINE void for_chunks(D d, int count, const Body& body) {
  const int lanes = static_cast<int>(hn::Lanes(d));
  const int whole = count / lanes * lanes;
  int i = 0;
  while (i < whole) {
    const int n = whole - i < kChunk * lanes ? whole - i : kChunk * lanes;
    body(d, i, n);
    i += n;
  }
  if (i < count) body(hn::CappedTag<hn::TFromD<D>, 4>(), i, count - i);
}

// fn(j) for every lane j of df whose mask lane is set: the lanes a kernel
// hands to the scalar routine.
template <class DF, class M, class Fn>
HWY_INLINE void for_set_lanes(DF df, M mask, const Fn& fn) {
  constexpr std::size_t kMax = hn::MaxLanes(DF());
  std::uint8_t bits[(kMax + 7) / 8] = {};
  hn::StoreMaskBits(df, mask, bits);
  for (std::size_t j = 0; j < hn::Lanes(df); ++j)
    if (bits[j / 8] & (1u << (j % 8))) fn(j);
}

// s = sinf(x), c = cosf(x) by the scalar calls in the lanes set in mask
// (the arguments a vector sine and cosine leave to the C library).
template <class DF, class M>
HWY_INLINE void sincosf_scalar_lanes(DF df, M mask, hn::Vec<DF> x, hn::Vec<DF>& s, hn::Vec<DF>& c) {
  alignas(64) float xs[hn::MaxLanes(df)], ss[hn::MaxLanes(df)], cs[hn::MaxLanes(df)];
  hn::Store(x, df, xs);
  hn::Store(s, df, ss);
  hn::Store(c, df, cs);
  for_set_lanes(df, mask, [&](std::size_t j) {
    ss[j] = ::sinf(xs[j]);
    cs[j] = ::cosf(xs[j]);
  });
  s = hn::Load(df, ss);
  c = hn::Load(df, cs);
}

}  // namespace HWY_NAMESPACE
}  // namespace tembra_vmath
HWY_AFTER_NAMESPACE();

#endif  // per-target toggle
