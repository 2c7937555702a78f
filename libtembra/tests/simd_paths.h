/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Tests that run once on every vector path: a value-parameterised suite
// instantiated with kSimdPaths runs each case on AVX2 and on AVX-512, and a
// case on a path this processor lacks is reported as skipped.
#ifndef TEMBRA_TESTS_SIMD_PATHS_H
#define TEMBRA_TESTS_SIMD_PATHS_H

#include <gtest/gtest.h>

#include <string>

#include "simd_path.h"

namespace simd_paths {

inline const auto kSimdPaths = testing::Values(tembra_simd::kAvx2, tembra_simd::kAvx512);

inline std::string name(const testing::TestParamInfo<tembra_simd::Path>& info) {
  return info.param == tembra_simd::kAvx512 ? "AVX512" : "AVX2";
}

// Engines created while it lives take the given path.
class ForcePath {
 public:
  explicit ForcePath(tembra_simd::Path path) : _ok(tembra_simd::force_path(path)) {}
  ~ForcePath() { tembra_simd::force_path(-1); }
  bool ok() const { return _ok; }

 private:
  bool _ok;
};

}  // namespace simd_paths

// Skips the current test when the processor lacks the path.
#define SKIP_UNLESS_PATH(path)                                                      \
  do {                                                                              \
    if ((path) == tembra_simd::kAvx512 && tembra_simd::cpu_path() != tembra_simd::kAvx512) \
      GTEST_SKIP() << "this processor lacks AVX-512 (F, BW, DQ, VL)";               \
  } while (0)

#endif  // TEMBRA_TESTS_SIMD_PATHS_H
