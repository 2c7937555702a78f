// SPDX-License-Identifier: LGPL-2.1-or-later
// The VST3 plug-ins' editor view in the tests' VST3 host, embedded in an
// X11 window of the host's on a real X server (Xvfb): what it shows of the
// plug-in's frames, its knobs reaching the host as edits, and its timer
// and window gone with it.
#include <chrono>
#include <cmath>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "draw.h"
#include "ui_host.h"
#include "vst3_host.h"
#include "x_parent.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int32_t kBlock = 256;

// The host's timers fire every 5 ms for `ms` milliseconds.
void pump(Vst3Instance& vst3, int ms)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    vst3.timer();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// `signal` on both inputs in blocks, the timers firing every fourth block.
void play(Vst3Instance& vst3, const std::vector<float>& signal)
{
  std::vector<float> out_l(kBlock), out_r(kBlock);
  for (size_t pos = 0, k = 0; pos + kBlock <= signal.size(); pos += kBlock, ++k) {
    ASSERT_EQ(vst3.process(&signal[pos], &signal[pos], out_l.data(), out_r.data(), kBlock), V3_OK);
    if (k % 4 == 3) {
      vst3.timer();
    }
  }
}

Image image_of(const XParent& parent)
{
  Image img;
  std::tie(img._width, img._height) = parent.child_size();
  img._px = parent.capture();
  return img;
}

}  // namespace

// Made at a scale, the view is the window's default size times it; a tone
// shows in the partials view at its mel position; removed, the window and
// its timer are gone.
TEST(Vst3Window, ShowsTheTonesPartialsAndGoesWithTheView)
{
  for (bool stereo : {false, true}) {
    XParent parent(1200, 800);
    ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
    Vst3Instance vst3(stereo);
    ASSERT_TRUE(vst3.ok() && vst3.activate(kRate, kBlock, 1));
    ASSERT_TRUE(vst3.open_window(parent.window(), 1.25f));
    v3_view_rect rect{};
    ASSERT_EQ(v3_cpp_obj(vst3.view())->get_size(vst3.view(), &rect), V3_OK);
    EXPECT_EQ(std::make_pair(rect.right, rect.bottom), std::make_pair(1125, 675));
    EXPECT_EQ(vst3.timers(), 1u);
    pump(vst3, 100);
    EXPECT_EQ(parent.child_size(), std::make_pair(1125, 675));
    rect = v3_view_rect{0, 0, 100, 100};  // below the least at the scale
    ASSERT_EQ(v3_cpp_obj(vst3.view())->check_size_constraint(vst3.view(), &rect), V3_OK);
    EXPECT_TRUE(rect.right > 100 && rect.bottom > 100);
    if (stereo) {
      EXPECT_EQ(std::make_pair(rect.right, rect.bottom), std::make_pair(990, 500));  // 792 x 400 at 1.25
    }
    rect = v3_view_rect{0, 0, 1000, 600};
    ASSERT_EQ(v3_cpp_obj(vst3.view())->on_size(vst3.view(), &rect), V3_OK);
    pump(vst3, 50);
    ASSERT_EQ(parent.child_size(), std::make_pair(1000, 600));
    EXPECT_TRUE(vst3.resize_requests.empty()) << "the window asked for another size than the host's";

    const double hz = stereo ? 4000.0 : 1000.0;
    play(vst3, std::vector<float>(static_cast<size_t>(0.5 * kRate), 0.0f));
    pump(vst3, 150);
    const Image quiet = image_of(parent);
    play(vst3, sine(hz, -12.0, 1.2, kRate));
    pump(vst3, 150);
    const Image tone = image_of(parent);
    ASSERT_EQ(tone._px.size(), 1000u * 600u);
    morvane_layout l;
    morvane_layout_compute(&l, 1000, 600, 1.25, stereo);
    const morvane_rect& a = l._partials;
    const int best_x = most_changed_column(quiet, tone, a);
    ASSERT_GE(best_x, 0) << "the tone changed nothing in the partials view";
    EXPECT_NEAR(best_x, morvane_partials_x(&a, hz), 4.0) << hz << " Hz";
    vst3.close_window();
    EXPECT_EQ(vst3.timers(), 0u) << "the view's timer outlived it";
    EXPECT_EQ(parent.child(), 0u) << "the window outlived the view";
  }
  EXPECT_EQ(x_errors(), 0);
}

// A drag on the Gain knob reaches the host as one gesture of rising edits,
// the last of which the controller then reports as the parameter's value.
TEST(Vst3Window, KnobDragReachesTheHostAsOneGestureOfEdits)
{
  XParent parent(900, 540);
  ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
  Vst3Instance vst3(false);
  ASSERT_TRUE(vst3.ok() && vst3.activate(kRate, kBlock, 7));
  ASSERT_TRUE(vst3.open_window(parent.window()));
  pump(vst3, 100);
  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0, false);
  const uint32_t gain = MORVANE_GAIN;
  parent.motion(l._knob_x[gain], l._knob_y[gain]);
  pump(vst3, 30);
  parent.button(1, true);
  pump(vst3, 30);
  for (int i = 1; i <= 4; ++i) {
    parent.motion(l._knob_x[gain], l._knob_y[gain] - 8.0 * i);
    pump(vst3, 30);
  }
  parent.button(1, false);
  pump(vst3, 30);
  ASSERT_EQ(vst3.gestures.size(), 2u);
  EXPECT_EQ(vst3.gestures.front(), std::make_pair(1, gain));
  EXPECT_EQ(vst3.gestures.back(), std::make_pair(-1, gain));
  ASSERT_GE(vst3.edits.size(), 2u);
  double previous = vst3.normalized(gain, morvane_controls[gain]._default);
  for (const auto& [id, n] : vst3.edits) {
    EXPECT_EQ(id, gain);
    EXPECT_GT(n, previous);
    previous = n;
  }
  EXPECT_DOUBLE_EQ(vst3.controller()->get_parameter_normalised(vst3.controller_self(), gain), previous);
  EXPECT_EQ(x_errors(), 0);
}
