// SPDX-License-Identifier: LGPL-2.1-or-later
// Opening and closing the window over and over, as a user does in a host
// that unloads the window's object each time it closes: every opening
// works, draws, tells the plug-in open and closed, and no X error happens.
// MORVANE_UI_CYCLES sets the count (100 by default; the memcheck run uses
// fewer).
#include <dlfcn.h>

#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "ui_host.h"

namespace {

int cycles()
{
  const char* env = std::getenv("MORVANE_UI_CYCLES");
  const int n = env != nullptr ? std::atoi(env) : 100;
  return n > 0 ? n : 100;
}

}  // namespace

TEST(UiCycles, OpenAndCloseManyTimesEachOpeningWorks)
{
  ASSERT_FALSE(LilvTestWorld::get().ui_uri().empty()) << "the bundle declares no X11 window for the plug-in";
  const int errors = x_error_count();
  morvane_view view{};
  for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
    view._controls[i] = morvane_controls[i]._default;
  }
  view._meter_db = -INFINITY;
  view._active_control = -1;

  const int n = cycles();
  for (int cycle = 0; cycle < n; ++cycle) {
    UiHost host(nullptr);
    ASSERT_TRUE(host.ok()) << "opening " << cycle + 1 << " failed";
    // A host value, so each window has something to take in before it draws.
    host.set_control(MORVANE_GAIN, -6.0f);
    host.pump(15);
    view._controls[MORVANE_GAIN] = -6.0f;
    ASSERT_LT(fraction_differing(host.capture(), reference_image(900, 540, 1.0, view), 48), 0.02)
        << "opening " << cycle + 1 << " did not draw";
    host.close();
    // WindowOpen first (said again after a second without frames, which a
    // slow run under memcheck may reach: no plug-in sends any here), then
    // WindowClosed last, once.
    const auto& events = host.events();
    ASSERT_GE(events.size(), 2u) << "opening " << cycle + 1;
    for (std::size_t i = 0; i + 1 < events.size(); ++i) {
      EXPECT_EQ(events[i]._value, 1.0f) << "opening " << cycle + 1;  // WindowOpen
    }
    EXPECT_EQ(events.back()._value, 0.0f);  // WindowClosed
    // Closed and unloaded by suil, the object stays in the process.
    void* resident = dlopen(LilvTestWorld::get().ui_binary_path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(resident, nullptr) << "the window's object was unloaded";
    dlclose(resident);
  }
  EXPECT_EQ(x_error_count(), errors) << "X errors over " << n << " openings";
}

TEST(UiCycles, HostDestroyingItsWindowFirstRaisesNoXError)
{
  // Some hosts destroy their container before they free the window's
  // instance: the window goes with its parent, and cleanup must not touch
  // it again.
  const int errors = x_error_count();
  for (int cycle = 0; cycle < 3; ++cycle) {
    UiHost host(nullptr);
    ASSERT_TRUE(host.ok());
    host.pump(15);
    host.destroy_parent();
    host.pump(10);
    host.close();
    ASSERT_GE(host.events().size(), 2u);
    EXPECT_EQ(host.events().back()._value, 0.0f);
  }
  EXPECT_EQ(x_error_count(), errors);
}
