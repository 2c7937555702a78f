// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in and its window made and destroyed over and over, the mono and
// the stereo one in turn, with morvane.clap unloaded after each, as a host
// does that unloads plug-in files nobody uses: every window opens and
// draws the plug-in's frames, every file goes, no X error happens (and,
// under memcheck, nothing leaks). MORVANE_CLAP_CYCLES sets the count (100
// by default).
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "clap_host.h"
#include "x_parent.h"

namespace {

int cycles()
{
  const char* env = std::getenv("MORVANE_CLAP_CYCLES");
  const int n = env != nullptr ? std::atoi(env) : 100;
  return n > 0 ? n : 100;
}

}  // namespace

TEST(ClapCycles, PluginAndWindowMadeAndDestroyedWithTheFileUnloadedEachTime)
{
  XParent parent(900, 540);
  ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
  constexpr uint32_t kBlock = 256;
  std::vector<float> tone(8 * kBlock);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 660.0 * static_cast<double>(i) / 48000.0));
  }
  std::vector<float> out_l(kBlock), out_r(kBlock);
  const int n = cycles();
  for (int cycle = 0; cycle < n; ++cycle) {
    {
      ClapFile file(false);
      ASSERT_NE(file.factory(), nullptr) << "cycle " << cycle;
      ClapInstance clap(cycle % 2 == 0 ? "org.example.morvane.mono" : "org.example.morvane.stereo", file.factory());
      ASSERT_TRUE(clap.ok() && clap.activate(48000.0, kBlock, static_cast<unsigned>(cycle))) << "cycle " << cycle;
      ASSERT_TRUE(clap.open_window(parent.window())) << "cycle " << cycle;
      for (size_t pos = 0; pos < tone.size(); pos += kBlock) {
        ASSERT_EQ(clap.process(&tone[pos], &tone[pos], out_l.data(), out_r.data(), kBlock), CLAP_PROCESS_CONTINUE);
        if (pos % (2 * kBlock) == 0) {
          clap.timer();
        }
      }
      clap.timer();
      // Drawn: the window's own background, not the host's black, in the
      // middle of it.
      EXPECT_EQ(parent.child_size(), std::make_pair(900, 540)) << "cycle " << cycle;
      EXPECT_NE(parent.pixel(450, 270), 0u) << "cycle " << cycle << " drew nothing";
      clap.close_window();
      EXPECT_EQ(parent.child(), 0u) << "cycle " << cycle;
      EXPECT_EQ(clap.timers(), 0u) << "cycle " << cycle;
    }
    ASSERT_FALSE(clap_file_loaded()) << "cycle " << cycle << " left morvane.clap loaded";
  }
  EXPECT_EQ(x_errors(), 0) << "X errors over " << n << " cycles";
}
