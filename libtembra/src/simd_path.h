/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The vector path an engine runs: every kernel written once for any vector
// width (Highway) is compiled for AVX2 and for AVX-512, and each engine
// picks one of them when it is created, from the processor's features.
// Both give the same results, bit for bit: every kernel's lanes are
// independent, and where an order across lanes matters (sums, running
// maxima) it is fixed by the kernel, not by the width.
//
// Tests and benchmarks force a path (force_path) to run the AVX2 path on
// a processor that has AVX-512; nothing else does, and nothing exported
// reaches it.
#ifndef TEMBRA_SIMD_PATH_H
#define TEMBRA_SIMD_PATH_H

#include <atomic>

namespace tembra_simd {

enum Path : int {
  kAvx2 = 0,    // x86-64-v3: 256-bit vectors, four doubles or eight floats
  kAvx512 = 1,  // AVX-512 F, BW, DQ and VL: 512-bit vectors
};

// A path tests and benchmarks ask for, or -1 for the processor's best.
inline std::atomic<int> forced_path{-1};

// The processor's best path (the one new engines take unless forced): the
// CPU's features as the compiler's runtime reads them (which includes the
// operating system's support for the wider registers), read once.
inline Path cpu_path() {
  static const Path best = [] {
    __builtin_cpu_init();  // in case this runs before the runtime has read the CPU
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl")
               ? kAvx512
               : kAvx2;
  }();
  return best;
}

// The path a new engine takes: the forced one if the processor has it.
inline Path choose_path() {
  const int forced = forced_path.load(std::memory_order_relaxed);
  if (forced == kAvx2) return kAvx2;
  return cpu_path();
}

// For tests and benchmarks: engines created from now on take `path` when
// the processor has it (-1: the best again). Returns false, and changes
// nothing, for a path the processor lacks.
inline bool force_path(int path) {
  if (path == kAvx512 && cpu_path() != kAvx512) return false;
  forced_path.store(path, std::memory_order_relaxed);
  return true;
}

// The entries of an array of n that the vector kernels take: whole groups
// of four from index 0 (none for n < 4); the rest is scalar.
inline int whole_groups(int n) { return n >= 4 ? n & ~3 : 0; }

// Calls the kernel `call` (a function and its arguments) of namespace ns as
// compiled for the path: ns::N_AVX3 for AVX-512, ns::N_AVX2 for AVX2.
#define TEMBRA_ON_PATH(path, ns, call) \
  ((path) == tembra_simd::kAvx512 ? ns::N_AVX3::call : ns::N_AVX2::call)

// The name of a path, for test and benchmark reports.
inline const char* path_name(int path) { return path == kAvx512 ? "AVX-512" : "AVX2"; }

}  // namespace tembra_simd

#endif  // TEMBRA_SIMD_PATH_H
