/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Benchmarks of whole engines run once per vector path: registered with
// ->ArgName("path")->Arg(tembra_simd::kAvx2)->Arg(tembra_simd::kAvx512),
// they call bench_use_path before creating an engine.
#ifndef MORVANE_BENCH_PATHS_H
#define MORVANE_BENCH_PATHS_H

#include <benchmark/benchmark.h>

#include "simd_path.h"

// Engines created from now on take the path state.range(arg); false (the
// benchmark skipped) on a processor that lacks it.
inline bool bench_use_path(benchmark::State& state, int arg = 0)
{
    const auto path = static_cast<tembra_simd::Path>(state.range(arg));
    if (!tembra_simd::force_path(path)) {
        state.SkipWithError("this processor lacks AVX-512");
        return false;
    }
    state.SetLabel(tembra_simd::path_name(path));
    return true;
}

#define MORVANE_BENCH_EVERY_PATH(fn) \
    BENCHMARK(fn)->ArgName("path")->Arg(tembra_simd::kAvx2)->Arg(tembra_simd::kAvx512)

#endif  // MORVANE_BENCH_PATHS_H
