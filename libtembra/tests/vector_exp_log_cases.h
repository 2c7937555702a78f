/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Comparison of the gather-free exp and log (vector_exp_log.h) with the C
// library's 4-lane routines, bit for bit, on the arguments the engines hand
// them, shared by the unit tests (sampled) and the long tests (every float
// of the engines' ranges). Each family runs in the default floating-point
// mode and under flush-to-zero and denormals-are-zero.
#ifndef TEMBRA_TESTS_VECTOR_EXP_LOG_CASES_H
#define TEMBRA_TESTS_VECTOR_EXP_LOG_CASES_H

#include <immintrin.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "simd_path.h"
#include "vector_arrays.h"

#if defined(TEMBRA_VECTOR_ARRAYS)

// The library's own 4-lane routines.
extern "C" __m256d _ZGVdN4v_exp(__m256d);
extern "C" __m256d _ZGVdN4v_log(__m256d);

namespace el_cases {

enum class Fn { kExp, kLog };

// The floating-point modes the engines can meet: the host's default, and
// FTZ/DAZ as the audio thread sets it.
constexpr unsigned kModes[] = {0u, 0x8040u};

// Sets the MXCSR's FTZ and DAZ bits to `bits` for its lifetime.
class Mode {
 public:
  explicit Mode(unsigned bits) : _saved(_mm_getcsr()) { _mm_setcsr((_saved & ~0x8040u) | bits); }
  ~Mode() { _mm_setcsr(_saved); }

 private:
  unsigned _saved;
};

struct Count {
  std::uint64_t cases = 0;
  std::uint64_t mismatches = 0;
  double first_bad = 0.0;  // an argument that differed
};

// Collects arguments and compares the replica on one vector path with the
// library, every lane's bits (NaN payloads included).
class Checker {
 public:
  Checker(Fn fn, tembra_simd::Path path) : _fn(fn), _path(path) {}
  ~Checker() { finish(); }

  void add(double x) {
    _x[_fill++] = x;
    if (_fill == kBatch) flush(kBatch);
  }
  // Compares a last partial batch, its empty lanes filled with its first.
  void finish() {
    if (_fill == 0) return;
    const int lanes = _fill;
    for (int j = _fill; j < kBatch; ++j) _x[j] = _x[0];
    flush(lanes);
  }
  const Count& count() const { return _c; }

 private:
  static constexpr int kBatch = 64;

  void flush(int lanes) {
    alignas(64) double mine[kBatch], ref[kBatch];
    if (_fn == Fn::kExp)
      tembra_vmath::exp_lib_n(_path, _x, mine, kBatch);
    else
      tembra_vmath::log_lib_n(_path, _x, mine, kBatch);
    for (int i = 0; i < kBatch; i += 4) {
      const __m256d x = _mm256_load_pd(_x + i);
      _mm256_store_pd(ref + i, _fn == Fn::kExp ? _ZGVdN4v_exp(x) : _ZGVdN4v_log(x));
    }
    for (int j = 0; j < lanes; ++j) {
      ++_c.cases;
      if (std::bit_cast<std::uint64_t>(mine[j]) != std::bit_cast<std::uint64_t>(ref[j]) && _c.mismatches++ == 0)
        _c.first_bad = _x[j];
    }
    _fill = 0;
  }

  Fn _fn;
  tembra_simd::Path _path;
  Count _c;
  alignas(64) double _x[kBatch];
  int _fill = 0;
};

inline void merge(Count& into, const Count& c) {
  if (into.mismatches == 0 && c.mismatches > 0) into.first_bad = c.first_bad;
  into.cases += c.cases;
  into.mismatches += c.mismatches;
}

// Runs family(checker) once in each mode on the given path and sums the
// counts.
template <class Family>
Count in_every_mode(Fn fn, tembra_simd::Path path, Family family) {
  Count total;
  for (unsigned bits : kModes) {
    Mode mode(bits);
    Checker check(fn, path);
    family(check);
    check.finish();
    merge(total, check.count());
  }
  return total;
}

// Every float whose bit pattern lies in [from, to) with the given stride.
template <class Body>
void for_floats(std::uint32_t from, std::uint32_t to, std::uint32_t stride, Body body) {
  for (std::uint64_t u = from; u < to; u += stride) body(std::bit_cast<float>(static_cast<std::uint32_t>(u)));
}

// The resynthesis coefficients' logarithm, ln(1 + f), for the frequencies
// f of both signs with |f| below 2^21 Hz (far above the highest a shaken
// resonator reaches), every stride-th float.
inline Count coefficient_logs(tembra_simd::Path path, std::uint32_t stride) {
  return in_every_mode(Fn::kLog, path, [&](Checker& check) {
    const std::uint32_t top = std::bit_cast<std::uint32_t>(0x1p21f);
    for (std::uint32_t sign : {0u, 0x80000000u})
      for_floats(sign, sign + top, stride, [&](float f) { check.add(static_cast<double>(f) + 1.0); });
  });
}

// The resynthesis coefficients' exponential at a sample rate: the argument
// -(f dt) / ln(1 + f) as the engine forms it, for every stride-th float
// frequency from 1e-15 Hz to 2^21 Hz.
inline Count coefficient_exps(tembra_simd::Path path, int samplerate, std::uint32_t stride) {
  return in_every_mode(Fn::kExp, path, [&](Checker& check) {
    const float dt = 1.0f / static_cast<float>(samplerate);
    alignas(32) double ln[4];
    float group[4];
    int fill = 0;
    auto emit = [&]() {
      for (int j = fill; j < 4; ++j) group[j] = group[0];
      __m256d one_plus = _mm256_setr_pd(group[0], group[1], group[2], group[3]);
      _mm256_store_pd(ln, _ZGVdN4v_log(_mm256_add_pd(one_plus, _mm256_set1_pd(1.0))));
      for (int j = 0; j < fill; ++j) check.add(static_cast<double>(-(group[j] * dt)) / ln[j]);
      fill = 0;
    };
    for_floats(std::bit_cast<std::uint32_t>(1e-15f), std::bit_cast<std::uint32_t>(0x1p21f), stride, [&](float f) {
      group[fill++] = f;
      if (fill == 4) emit();
    });
    if (fill > 0) emit();
  });
}

// The time filter's exponential at a sample rate: -2 pi / ((t 0.001) rate)
// for every stride-th float smoothing time t from 0.1 ms to 10 s.
inline Count time_filter_exps(tembra_simd::Path path, int samplerate, std::uint32_t stride) {
  return in_every_mode(Fn::kExp, path, [&](Checker& check) {
    const double rate = static_cast<double>(samplerate);
    for_floats(std::bit_cast<std::uint32_t>(0.1f), std::bit_cast<std::uint32_t>(10000.0f) + 1, stride,
               [&](float t) { check.add(-6.283185307179586 / ((static_cast<double>(t) * 0.001) * rate)); });
  });
}

// Boundaries and special values, alone and beside ordinary lanes (a
// special lane sends its whole vector to the library): zeros, subnormals,
// the normal range's ends, infinities, NaNs, exp's overflow and underflow
// thresholds, log's reciprocal-table edges; then count random bit patterns
// of every exponent.
inline Count boundaries(Fn fn, tembra_simd::Path path, std::uint32_t count) {
  return in_every_mode(fn, path, [&](Checker& check) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double special[] = {0.0,        -0.0,     DBL_MIN, -DBL_MIN, DBL_MAX, -DBL_MAX, 0x1p-1074,
                              -0x1p-1074, DBL_MIN / 2, inf,  -inf,     nan,     -nan,     1.0,
                              -1.0,       0.5,      2.0,     0x1p-10,  0x1p-9,  708.39599609375,
                              -708.39599609375,     709.782712893384, -745.1332191019411, 1e-300};
    for (double s : special) {
      for (int k = -4; k <= 4; ++k) {
        double v = s;
        for (int step = 0; step < (k < 0 ? -k : k); ++step) v = std::nextafter(v, k < 0 ? -inf : inf);
        check.add(v);  // one special lane beside three ordinary ones
        for (double ordinary : {0.75, -3.25, 1.5}) check.add(ordinary);
      }
    }
    // Mantissas at the reciprocal estimate's rounding edges between two
    // table entries, in a few binades.
    for (int r = 512; r <= 1024; ++r)
      for (double e : {1.0, 0x1p-20, 0x1p30})
        for (double off : {-0x1p-30, 0.0, 0x1p-30}) check.add(e * 1024.0 / (r + 0.5) * (1.0 + off));
    std::mt19937_64 rng(20261208u);
    for (std::uint32_t k = 0; k < count; ++k) check.add(std::bit_cast<double>(rng()));
  });
}

}  // namespace el_cases

#endif  // TEMBRA_VECTOR_ARRAYS

#endif  // TEMBRA_TESTS_VECTOR_EXP_LOG_CASES_H
