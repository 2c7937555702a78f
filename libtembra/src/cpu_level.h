/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The processor check that guards every entry point creating something.
 *
 * The libraries, the plug-in and the renderer are compiled for x86-64-v3
 * (AVX2, FMA, BMI1/BMI2, LZCNT, MOVBE, F16C ...), so the compiler may use any
 * of those instructions anywhere. On an older processor the first one
 * raises SIGILL and kills the host. So each `_new`, the plug-in's
 * `instantiate` and the renderer's `main` start in a function compiled for
 * baseline x86-64 (MORVANE_BASELINE_CODE) that asks the processor first and
 * returns NULL (or exits) when it lacks the level; only then does code
 * compiled for the level run. The `_free` functions are baseline code too, so
 * `_free(NULL)` is harmless on any processor.
 *
 * Functions marked MORVANE_BASELINE_CODE must not call inline code of the
 * build's level before the check (the compiler refuses to inline it into
 * them, so it would be an ordinary call into code of the higher level). */
#ifndef MORVANE_CPU_LEVEL_H
#define MORVANE_CPU_LEVEL_H

#if !defined(__x86_64__)
#error "morvane is built for x86-64 processors"
#endif

/* Compiles one function for baseline x86-64 whatever the build's -march. */
#define MORVANE_BASELINE_CODE __attribute__((target("arch=x86-64")))

/* Whether this processor runs every instruction the build may use: always
 * true for a baseline build (MORVANE_BASELINE, which the build defines for
 * every source, including those compiled for baseline x86-64 on their own);
 * for an x86-64-v3 build, the whole of that level
 * (the C runtime's CPU model also asks the OS whether it saves the AVX
 * registers). Reads CPUID once per process, then a cached word. */
static inline MORVANE_BASELINE_CODE int morvane_cpu_has_build_level(void)
{
#if !defined(MORVANE_BASELINE)
  __builtin_cpu_init();
#if defined(__clang__)
  /* This compiler's builtin knows no level names: the level's
   * features that it can ask for. */
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
         __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("sse4.2");
#else
  return __builtin_cpu_supports("x86-64-v3") != 0;
#endif
#else
  return 1;
#endif
}

#endif /* MORVANE_CPU_LEVEL_H */
