/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Helpers shared by the oscillator bank tests: the phasor arithmetic the
// banks must reproduce to the bit, a distance in units in the last place,
// and a way to make an allocation in the middle of a constructor fail.
#ifndef TEMBRA_TESTS_OSCILLATOR_TEST_SUPPORT_H
#define TEMBRA_TESTS_OSCILLATOR_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <immintrin.h>
#include <math.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "sanitized.h"

// glibc's 4-lane single-precision sine and cosine.
extern "C" __m128 _ZGVbN4v_sinf(__m128);
extern "C" __m128 _ZGVbN4v_cosf(__m128);

namespace osc_test {

// Sine and cosine of four phases from the 4-lane vector routines.
inline void VectorSinCos(const float* phases, float* s, float* c) {
  const __m128 p = _mm_loadu_ps(phases);
  _mm_storeu_ps(s, _ZGVbN4v_sinf(p));
  _mm_storeu_ps(c, _ZGVbN4v_cosf(p));
}

// One step Z <- Z * W computed by hand: ac fused into both components.
struct Phasor {
  float c;
  float s;
};
inline Phasor RotateFused(float a, float b, float wc, float ws, float wcps) {
  const float bd = b * ws;
  const float abcd = (a + b) * wcps;
  return {std::fma(wc, a, -bd), std::fma(-wc, a, abcd) - bd};
}
// The same product with ac rounded on its own, which the banks must not do.
inline Phasor RotateUnfused(float a, float b, float wc, float ws, float wcps) {
  const float ac = a * wc;
  const float bd = b * ws;
  const float abcd = (a + b) * wcps;
  return {ac - bd, (abcd - ac) - bd};
}

// Amplitude-weighted real part of Z * e^(i*phi) for one oscillator, added
// to acc with the bracket and the accumulation each one fused operation.
inline float Accumulate(float acc, float amp, float zc, float zs, float dpc, float dps) {
  return std::fma(amp, std::fma(zc, dpc, -(zs * dps)), acc);
}

// The output sum a bank of n oscillators must return: lane sums over the
// groups of four combined as (l0 + l2) + (l1 + l3), then the rest in order.
inline float ExpectedSum(int n, const float* amp, const float* zc, const float* zs,
                         const float* dpc, const float* dps) {
  const int nv = n >= 4 ? n & ~3 : 0;
  float sum = 0.0f;
  if (nv > 0) {
    float lane[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < nv; ++i) lane[i % 4] = Accumulate(lane[i % 4], amp[i], zc[i], zs[i], dpc[i], dps[i]);
    sum = (lane[0] + lane[2]) + (lane[1] + lane[3]);
  }
  for (int i = nv; i < n; ++i) sum = Accumulate(sum, amp[i], zc[i], zs[i], dpc[i], dps[i]);
  return sum;
}

// What a bank's get_sample_pair must return for one output: the same sum
// over the amplitudes, each first rounded once times its gain.
inline float ExpectedWeightedSum(int n, const float* amp, const float* gains, const float* zc,
                                 const float* zs, const float* dpc, const float* dps) {
  std::vector<float> weighted(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) weighted[i] = amp[i] * gains[i];
  return ExpectedSum(n, weighted.data(), zc, zs, dpc, dps);
}

// A plain ascending sum of the same terms, for showing the lane order
// matters.
inline float AscendingSum(int n, const float* amp, const float* zc, const float* zs,
                          const float* dpc, const float* dps) {
  float sum = 0.0f;
  for (int i = 0; i < n; ++i) sum = Accumulate(sum, amp[i], zc[i], zs[i], dpc[i], dps[i]);
  return sum;
}

// Distance between two finite floats in units in the last place.
inline int64_t UlpDistance(float x, float y) {
  auto key = [](float v) {
    int32_t i;
    std::memcpy(&i, &v, sizeof i);
    return i < 0 ? int64_t{INT32_MIN} - i : int64_t{i};
  };
  const int64_t d = key(x) - key(y);
  return d < 0 ? -d : d;
}

inline std::vector<float> Uniform(std::mt19937& rng, int n, float lo, float hi) {
  std::uniform_real_distribution<float> dist(lo, hi);
  std::vector<float> v(static_cast<size_t>(n));
  for (auto& x : v) x = dist(rng);
  return v;
}

// The process's virtual address space in bytes.
inline size_t AddressSpaceBytes() {
  unsigned long pages = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  return pages * 4096ul;
}

// Number of floats in an array so big (36 MiB) that the allocator maps it
// on its own and unmaps it when freed.
inline constexpr int kHugeCount = 9 * 1024 * 1024;
inline constexpr size_t kHugeBytes = sizeof(float) * static_cast<size_t>(kHugeCount);

// Calls make() with the address space limited so that `fitting` huge
// arrays fit but not one more; restores the limit and returns what make()
// gave, together with how far the address space grew over the call.
template <class Make>
auto WithArraysThatFit(int fitting, Make make, long* grown) {
  rlimit old{};
  getrlimit(RLIMIT_AS, &old);
  const size_t before = AddressSpaceBytes();
  rlimit tight = old;
  tight.rlim_cur = before + static_cast<size_t>(fitting) * kHugeBytes + kHugeBytes / 2;
  setrlimit(RLIMIT_AS, &tight);
  auto result = make();
  setrlimit(RLIMIT_AS, &old);
  *grown = static_cast<long>(AddressSpaceBytes()) - static_cast<long>(before);
  return result;
}

}  // namespace osc_test

#endif  // TEMBRA_TESTS_OSCILLATOR_TEST_SUPPORT_H
