/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Comparison of the four-lane sine, cosine and arc tangent with the scalar
// libm calls they stand for, shared by the unit tests (sampled) and the long
// tests (exhaustive over the float domain, 10^8 random pairs). Everything
// runs under flush-to-zero and denormals-are-zero, as the engine does.
#ifndef TEMBRA_TESTS_VECTOR_MATH_CASES_H
#define TEMBRA_TESTS_VECTOR_MATH_CASES_H

#include <immintrin.h>
#include <math.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "simd_path.h"
#include "vector_atan2.h"
#include "vector_arrays.h"
#include "vector_atan2_n.h"

// glibc libmvec: the 4-lane single-precision sine and cosine.
extern "C" __m128 _ZGVbN4v_sinf(__m128);
extern "C" __m128 _ZGVbN4v_cosf(__m128);

namespace vm_cases {

// Sets FTZ and DAZ for its lifetime.
class FlushDenormals {
 public:
  FlushDenormals() : _saved(_mm_getcsr()) { _mm_setcsr(_saved | 0x8040u); }
  ~FlushDenormals() { _mm_setcsr(_saved); }

 private:
  unsigned _saved;
};

inline float from_bits(std::uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}
inline std::uint32_t to_bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

struct Count {
  std::uint64_t cases = 0;
  std::uint64_t mismatches = 0;
  float first_bad = 0.0f;  // an argument that differed
};

#if defined(TEMBRA_VECTOR_ARRAYS)
// Every float whose bit pattern (sign bit clear) lies in [from, to) with
// the given stride, with both signs: sincosf_lanes on the given vector path
// (through its array form) against ::sinf and ::cosf, compared bit for bit.
inline Count sincos_range(tembra_simd::Path path, std::uint32_t from, std::uint32_t to, std::uint32_t stride) {
  FlushDenormals mode;
  Count c;
  alignas(16) float x[8], s[8], co[8];
  int fill = 0;
  auto flush = [&](int lanes) {
    tembra_vmath::sincosf_n(path, x, s, co, 8);
    for (int j = 0; j < lanes; ++j) {
      ++c.cases;
      if (to_bits(s[j]) != to_bits(::sinf(x[j])) || to_bits(co[j]) != to_bits(::cosf(x[j]))) {
        if (c.mismatches++ == 0) c.first_bad = x[j];
      }
    }
  };
  for (std::uint32_t u = from; u < to; u += stride) {
    for (std::uint32_t sign : {0u, 0x80000000u}) {
      x[fill++] = from_bits(u | sign);
      if (fill == 8) {
        flush(8);
        fill = 0;
      }
    }
    if (to - u <= stride) break;
  }
  if (fill > 0) {
    for (int j = fill; j < 8; ++j) x[j] = 0.0f;
    flush(fill);
  }
  return c;
}

// The eight-lane form of the library's 4-lane sine and cosine against the
// 4-lane calls themselves, over every bit pattern in [from, to) with the
// given stride (both signs through the full 32-bit range), bit for bit; NaN
// results compare equal whatever their payload.
inline bool same_or_both_nan(float a, float b) {
  return to_bits(a) == to_bits(b) || (std::isnan(a) && std::isnan(b));
}

inline Count lib_sincos_range(tembra_simd::Path path, std::uint64_t from, std::uint64_t to, std::uint32_t stride) {
  FlushDenormals mode;
  Count c;
  constexpr int kBatch = 16;  // a whole vector of floats on every path
  alignas(64) float x[kBatch], sv[kBatch], cv[kBatch], s4[kBatch], c4[kBatch];
  for (std::uint64_t u = from; u < to; u += kBatch * static_cast<std::uint64_t>(stride)) {
    for (int j = 0; j < kBatch; ++j)
      x[j] = from_bits(static_cast<std::uint32_t>(u + j * static_cast<std::uint64_t>(stride)));
    tembra_vmath::sincosf_lib_n(path, x, sv, cv, kBatch);
    for (int h = 0; h < kBatch; h += 4) {
      _mm_store_ps(s4 + h, _ZGVbN4v_sinf(_mm_load_ps(x + h)));
      _mm_store_ps(c4 + h, _ZGVbN4v_cosf(_mm_load_ps(x + h)));
    }
    for (int j = 0; j < kBatch; ++j) {
      if (u + j * static_cast<std::uint64_t>(stride) >= to) break;
      ++c.cases;
      if (!same_or_both_nan(sv[j], s4[j]) || !same_or_both_nan(cv[j], c4[j])) {
        if (c.mismatches++ == 0) c.first_bad = x[j];
      }
    }
  }
  return c;
}

// n arguments evenly spaced in value over [-limit, limit].
inline Count sincos_spaced(tembra_simd::Path path, float limit, int n) {
  FlushDenormals mode;
  Count c;
  alignas(16) float x[8], s[8], co[8];
  for (int k = 0; k + 8 <= n; k += 8) {
    for (int j = 0; j < 8; ++j)
      x[j] = static_cast<float>(-static_cast<double>(limit) + 2.0 * limit * (k + j) / (n - 1));
    tembra_vmath::sincosf_n(path, x, s, co, 8);
    for (int j = 0; j < 8; ++j) {
      ++c.cases;
      if (to_bits(s[j]) != to_bits(::sinf(x[j])) || to_bits(co[j]) != to_bits(::cosf(x[j]))) {
        if (c.mismatches++ == 0) c.first_bad = x[j];
      }
    }
  }
  return c;
}

inline bool same_float(float a, float b) { return to_bits(a) == to_bits(b); }

// The vector paths this processor has.
inline std::vector<tembra_simd::Path> available_paths() {
  std::vector<tembra_simd::Path> paths{tembra_simd::kAvx2};
  if (tembra_simd::cpu_path() == tembra_simd::kAvx512) paths.push_back(tembra_simd::kAvx512);
  return paths;
}

// One group of eight pairs and scales through the four-lane atan2_scaled
// of the tracking update, and through the array form (scale 1) on every
// vector path, against the scalar expression.
constexpr int kAtan2Group = 8;

inline void atan2_group(const float* y, const float* x, const double* scale, Count& c) {
  namespace hn = hwy::HWY_NAMESPACE;
  float out[kAtan2Group];
  for (int h = 0; h < kAtan2Group; h += 4)
    tembra_vmath::HWY_NAMESPACE::atan2_scaled(hn::Full256<double>(), y + h, x + h, hn::LoadU(hn::Full256<double>(), scale + h),
                                              out + h);
  for (int j = 0; j < kAtan2Group; ++j) {
    ++c.cases;
    const float want = static_cast<float>(scale[j] * std::atan2(static_cast<double>(y[j]), static_cast<double>(x[j])));
    if (!same_float(out[j], want) && c.mismatches++ == 0) c.first_bad = y[j];
  }
  for (tembra_simd::Path path : available_paths()) {
    float plain[kAtan2Group];
    tembra_vmath::atan2_n(path, y, x, plain, kAtan2Group);
    for (int j = 0; j < kAtan2Group; ++j) {
      const float want = static_cast<float>(std::atan2(static_cast<double>(y[j]), static_cast<double>(x[j])));
      if (!same_float(plain[j], want) && c.mismatches++ == 0) c.first_bad = y[j];
    }
  }
}

// Scales the engine uses: 1 for the phase readout, -gamma (gamma in
// (0, 0.5)) for the tracking update.
inline double pick_scale(std::mt19937_64& g) {
  const std::uint64_t r = g();
  if ((r & 3) == 0) return 1.0;
  const float gamma = static_cast<float>(static_cast<double>(r >> 11) * 0x1p-54);  // [0, 0.5)
  return -static_cast<double>(gamma);
}

// A random float: uniform bit patterns over all finite floats (either
// sign), or values of ordinary magnitude, half and half.
inline float pick_float(std::mt19937_64& g) {
  const std::uint64_t r = g();
  if (r & 1) {
    std::uint32_t u = static_cast<std::uint32_t>(r >> 32);
    if ((u & 0x7f800000u) == 0x7f800000u) u &= 0xbfffffffu;  // keep it finite
    return from_bits(u);
  }
  const double m = static_cast<double>((r >> 12) & 0xfffff) * 0x1p-20 * 2.0 - 1.0;
  const int e = static_cast<int>((r >> 40) % 40) - 30;
  return static_cast<float>(std::ldexp(m, e));
}

// The relative error of the kernel atan2_lanes itself against the
// double atan2 of the C library, for one group; both-zero pairs must give
// the exact signed zero or pi. Returns the largest error of the group.
inline double atan2_kernel_group(const float* y, const float* x) {
  alignas(32) double r[4];
  namespace hn = hwy::HWY_NAMESPACE;
  const hn::Full256<double> d;
  const hn::Full128<float> df;
  hn::Store(tembra_vmath::HWY_NAMESPACE::atan2_lanes(d, hn::PromoteTo(d, hn::LoadU(df, y)), hn::PromoteTo(d, hn::LoadU(df, x))), d,
            r);
  double worst = 0.0;
  for (int j = 0; j < 4; ++j) {
    const double want = std::atan2(static_cast<double>(y[j]), static_cast<double>(x[j]));
    if (want == 0.0 || y[j] == 0.0f) {
      if (std::memcmp(&want, &r[j], sizeof want) != 0) return 1.0;
      continue;
    }
    const double e = std::fabs(r[j] - want) / std::fabs(want);
    if (!(e <= worst)) worst = e;
  }
  return worst;
}

// The kernel's largest relative error over random pairs of finite floats
// (pick_float), and over pairs at the points where it changes branch: y at
// and next to tan(pi/8) x, y = x, y and x swapped, either sign, zeros.
inline double atan2_kernel_error(std::uint64_t pairs, std::uint64_t seed) {
  FlushDenormals mode;
  std::mt19937_64 g(seed);
  double worst = 0.0;
  float y[4], x[4];
  for (std::uint64_t k = 0; k < pairs; k += 4) {
    for (int j = 0; j < 4; ++j) {
      y[j] = pick_float(g);
      x[j] = pick_float(g);
    }
    worst = std::max(worst, atan2_kernel_group(y, x));
    // Branch points: the same magnitudes at tan(pi/8) and 1 as ratios.
    for (int j = 0; j < 4; ++j) {
      const float m = x[j];
      const double ratio = (j & 1) ? 0.41421356237309503 : 1.0;
      float v = static_cast<float>(static_cast<double>(m) * ratio);
      const int step = static_cast<int>(g() % 5) - 2;
      for (int s = 0; s < (step < 0 ? -step : step); ++s) v = std::nextafter(v, step < 0 ? -INFINITY : INFINITY);
      y[j] = (j & 2) ? -v : v;
      x[j] = (g() & 1) ? m : -m;
      if (g() & 1) std::swap(y[j], x[j]);
    }
    worst = std::max(worst, atan2_kernel_group(y, x));
  }
  const float z[] = {0.0f, -0.0f, 0.0f, -0.0f};
  const float zx[] = {0.0f, 0.0f, -0.0f, -0.0f};
  worst = std::max(worst, atan2_kernel_group(z, zx));
  const float one[] = {1.0f, -1.0f, 1.0f, -1.0f};
  worst = std::max(worst, atan2_kernel_group(z, one));
  worst = std::max(worst, atan2_kernel_group(one, z));
  return worst;
}

inline Count atan2_random(std::uint64_t pairs, std::uint64_t seed) {
  FlushDenormals mode;
  std::mt19937_64 g(seed);
  Count c;
  float y[kAtan2Group], x[kAtan2Group];
  double scale[kAtan2Group];
  for (std::uint64_t k = 0; k < pairs; k += kAtan2Group) {
    for (int j = 0; j < kAtan2Group; ++j) {
      y[j] = pick_float(g);
      x[j] = pick_float(g);
      scale[j] = pick_scale(g);
    }
    atan2_group(y, x, scale, c);
  }
  return c;
}

// Zeros of both signs, subnormals, the smallest and largest normals,
// infinities, NaN, exact diagonals, and y = 0 against x of either sign:
// every ordered pair of them, with both kinds of scale.
inline Count atan2_adversarial() {
  FlushDenormals mode;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> v = {0.0f,     -0.0f,      1e-45f,   -1e-45f,  1e-40f,   -1e-40f,    1.17549435e-38f,
                          -1.17549435e-38f, 1e-30f,  3.4028235e38f, -3.4028235e38f, 1e30f,    -1e30f,
                          inf,      -inf,       nan,      1.0f,     -1.0f,    0.5f,       -0.5f,
                          2.0f,     3.14159274f, -3.14159274f, 1e-7f, -1e-7f, 0.70710677f, -0.70710677f,
                          1e6f,     -1e6f,      16777216.0f, 1.0000001f, 0.99999994f};
  Count c;
  float y[kAtan2Group], x[kAtan2Group];
  double scale[kAtan2Group];
  int fill = 0;
  for (float a : v) {
    for (float b : v) {
      for (double s : {1.0, -0.0625, -static_cast<double>(1.3685e-4f)}) {
        y[fill] = a;
        x[fill] = b;
        scale[fill] = s;
        if (++fill == kAtan2Group) {
          atan2_group(y, x, scale, c);
          fill = 0;
        }
      }
    }
  }
  while (fill != 0) {
    y[fill] = 1.0f;
    x[fill] = 1.0f;
    scale[fill] = 1.0;
    if (++fill == kAtan2Group) {
      atan2_group(y, x, scale, c);
      fill = 0;
    }
  }
  return c;
}
#endif

}  // namespace vm_cases

#endif  // TEMBRA_TESTS_VECTOR_MATH_CASES_H
