/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Per-group memory of a pure function's results: for each group of four
// lanes the arguments of the last evaluation are kept beside its results,
// and a group whose arguments have the same bits as last time is not
// evaluated again. Resting resonators, silence and steady settings then
// cost no transcendental calls, and the results are the ones a fresh
// evaluation would give, bit for bit.
//
// The floating-point mode is part of the key: a result computed with
// flush-to-zero or denormals-are-zero set is not reused without them, and
// the other way round (the key holds tembra_fp::ftz_daz_bits()).
#ifndef TEMBRA_MEMO_H
#define TEMBRA_MEMO_H

#include "denormal_guard.h"

namespace tembra_memo {

// No mode at all: the first evaluation takes every group.
constexpr unsigned kNoMode = ~0u;

// While the arguments keep changing (a moving pitch, a rotating phase),
// comparing and copying them costs more than it saves. A memory that served
// fewer than one group in eight rests for kRest calls, in which everything
// is evaluated as it comes and the memory is forgotten; it is then filled
// again and judged on the call after.
constexpr int kRest = 32;

// True when this call skips the memory (and forgets it).
static inline bool resting(int* rest, unsigned* mode) {
  if (*rest <= 0) return false;
  --*rest;
  *mode = kNoMode;
  return true;
}

// After a call that used the memory: reused tells whether it held results
// of the same mode, hits how many of the groups it served.
static inline void judge(int* rest, bool reused, int hits, int groups) {
  if (reused && hits * 8 < groups) *rest = kRest;
}

// True when the four floats at a have the bits of the four at b.
static inline bool same4(const float* a, const float* b) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
  return _mm_movemask_epi8(_mm_cmpeq_epi32(x, y)) == 0xffff;
}

// Copies four floats.
static inline void copy4(float* dst, const float* src) { _mm_storeu_ps(dst, _mm_loadu_ps(src)); }

}  // namespace tembra_memo

#endif  // TEMBRA_MEMO_H
