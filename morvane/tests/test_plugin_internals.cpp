// SPDX-License-Identifier: LGPL-2.1-or-later
// Pieces of the plug-in a host cannot reach: the processor check of
// instantiate, the scoped floating-point mode of run and the clamp.
#include <xmmintrin.h>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "cpu_level.h"
#include "denormal_guard.h"
#include "morvane_internal.h"

namespace {

// The machine running the tests executes this build, so the check passes
// on it (processors below the level are tried under emulation by the
// integration tests).
TEST(CpuLevelCheck, AcceptsTheMachineRunningTheTests)
{
  EXPECT_TRUE(morvane_cpu_has_build_level());
}

// Inside the guard a subnormal operand reads as zero and a subnormal result
// flushes to zero; after it the caller's mode is back and subnormals work.
TEST(DenormalGuard, FlushesSubnormalsInsideAndRestoresTheModeAfter)
{
  const unsigned int original = _mm_getcsr();
  const unsigned int caller = 0x1F80u | 0x4000u;  // masks, round up
  _mm_setcsr(caller);
  volatile float tiny = std::numeric_limits<float>::denorm_min() * 64.0f;
  volatile float small = std::numeric_limits<float>::min();
  volatile float one = 1.0f;  // volatile: no multiplication is folded away
  volatile float quarter = 0.25f;
  float inside_read = 0.0f, inside_made = 0.0f;
  unsigned int inside_mode = 0;
  {
    const tembra_fp::DenormalGuard guard;
    inside_mode = _mm_getcsr();
    inside_read = tiny * one;
    inside_made = small * quarter;
  }
  const unsigned int after = _mm_getcsr();
  const float outside_read = tiny * one;
  _mm_setcsr(original);
  EXPECT_EQ(inside_mode & ~0x3Fu, caller | tembra_fp::kFtzDaz);
  EXPECT_EQ(inside_read, 0.0f);
  EXPECT_EQ(inside_made, 0.0f);
  EXPECT_EQ(after & ~0x3Fu, caller);
  EXPECT_GT(outside_read, 0.0f);
}

TEST(ControlClamp, NanGivesTheDefaultAndInfinitiesTheBounds)
{
  const float inf = std::numeric_limits<float>::infinity();
  for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
    SCOPED_TRACE(i);
    const morvane_control& r = morvane_controls[i];
    EXPECT_EQ(morvane_clamp_control(i, std::numeric_limits<float>::quiet_NaN()), r._default);
    EXPECT_EQ(morvane_clamp_control(i, -std::numeric_limits<float>::quiet_NaN()), r._default);
    EXPECT_EQ(morvane_clamp_control(i, inf), r._max);
    EXPECT_EQ(morvane_clamp_control(i, -inf), r._min);
    EXPECT_EQ(morvane_clamp_control(i, r._default), r._default);
    EXPECT_EQ(morvane_clamp_control(i, std::nextafter(r._max, inf)), r._max);
    EXPECT_EQ(morvane_clamp_control(i, std::nextafter(r._min, -inf)), r._min);
    const float inner = std::nextafter(r._max, -inf);
    EXPECT_EQ(morvane_clamp_control(i, inner), inner);
  }
}

}  // namespace
