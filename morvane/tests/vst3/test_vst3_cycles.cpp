// SPDX-License-Identifier: LGPL-2.1-or-later
// The VST3 plug-ins and their editor view made and destroyed over and
// over, the mono and the stereo one in turn, with the module unloaded
// after each, as a host does that unloads modules nobody uses: every view
// opens and draws, every module goes, no X error happens (and, under
// memcheck, nothing leaks). MORVANE_VST3_CYCLES sets the count (100 by
// default).
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "vst3_host.h"
#include "x_parent.h"

TEST(Vst3Cycles, PluginAndViewMadeAndDestroyedWithTheModuleUnloadedEachTime)
{
  XParent parent(900, 540);
  ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
  constexpr int32_t kBlock = 256;
  std::vector<float> tone(8 * kBlock);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 660.0 * static_cast<double>(i) / 48000.0));
  }
  std::vector<float> out_l(kBlock), out_r(kBlock);
  const char* env = std::getenv("MORVANE_VST3_CYCLES");
  const int n = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 100;
  for (int cycle = 0; cycle < n; ++cycle) {
    const bool stereo = cycle % 2 == 1;
    {
      Vst3Module module(stereo);
      ASSERT_NE(module.factory(), nullptr) << "cycle " << cycle;
      Vst3Instance vst3(stereo, module.factory());
      ASSERT_TRUE(vst3.ok() && vst3.activate(48000.0, kBlock, static_cast<unsigned>(cycle))) << "cycle " << cycle;
      ASSERT_TRUE(vst3.open_window(parent.window())) << "cycle " << cycle;
      for (size_t pos = 0; pos < tone.size(); pos += kBlock) {
        ASSERT_EQ(vst3.process(&tone[pos], &tone[pos], out_l.data(), out_r.data(), kBlock), V3_OK);
        if (pos % (2 * kBlock) == 0) {
          vst3.timer();
        }
      }
      vst3.timer();
      // Drawn: the window's own background, not the host's black, in the
      // middle of it.
      EXPECT_EQ(parent.child_size(), std::make_pair(900, 540)) << "cycle " << cycle;
      EXPECT_NE(parent.pixel(450, 270), 0u) << "cycle " << cycle << " drew nothing";
      vst3.close_window();
      EXPECT_EQ(parent.child(), 0u) << "cycle " << cycle;
      EXPECT_EQ(vst3.timers(), 0u) << "cycle " << cycle;
    }
    ASSERT_FALSE(vst3_module_loaded(stereo)) << "cycle " << cycle << " left the module loaded";
  }
  EXPECT_EQ(x_errors(), 0) << "X errors over " << n << " cycles";
}
