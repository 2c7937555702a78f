// SPDX-License-Identifier: LGPL-2.1-or-later
// morvane.clap's window in the CLAP test host, embedded in an X11 window of
// the host's on a real X server (Xvfb): what it shows of the plug-in's
// frames, and its controls going both ways between window, host and audio.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <thread>

#include <gtest/gtest.h>

#include "clap_host.h"
#include "draw.h"
#include "ui_host.h"
#include "x_parent.h"

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
const char* const kIds[2] = {"org.example.morvane.mono", "org.example.morvane.stereo"};

// The host's timers fire every 5 ms for `ms` milliseconds.
void pump(ClapInstance& clap, int ms)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    clap.timer();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// `signal` on both inputs in blocks, the timers firing every fourth block.
void play(ClapInstance& clap, const std::vector<float>& signal)
{
  std::vector<float> out_l(kBlock), out_r(kBlock);
  for (size_t pos = 0, k = 0; pos < signal.size(); pos += kBlock, ++k) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(kBlock, signal.size() - pos));
    ASSERT_EQ(clap.process(&signal[pos], &signal[pos], out_l.data(), out_r.data(), n), CLAP_PROCESS_CONTINUE);
    if (k % 4 == 3) {
      clap.timer();
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

// Share of the pixels in a square of half side r around (cx, cy) that
// differ between a and b by more than 16 in some channel.
double square_differing(const Image& a, const Image& b, double cx, double cy, double r)
{
  int differing = 0, all = 0;
  for (int y = static_cast<int>(cy - r); y <= static_cast<int>(cy + r); ++y) {
    for (int x = static_cast<int>(cx - r); x <= static_cast<int>(cx + r); ++x) {
      ++all;
      differing += pixel_distance(a.at(x, y), b.at(x, y)) > 16 ? 1 : 0;
    }
  }
  return static_cast<double>(differing) / all;
}

morvane_view view_of(const float* controls)
{
  morvane_view view{};
  std::copy_n(controls, MORVANE_NUM_STEREO_CONTROLS, view._controls);
  view._meter_db = -INFINITY;
  view._active_control = -1;
  return view;
}

class ClapWindowTone : public ::testing::TestWithParam<std::pair<bool, double>> {};

}  // namespace

TEST_P(ClapWindowTone, ShowsTheTonesPartialsAtItsMelPosition)
{
  const auto [stereo, hz] = GetParam();
  XParent parent(900, 540);
  ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
  ClapInstance clap(kIds[stereo]);
  ASSERT_TRUE(clap.ok() && clap.activate(kRate, kBlock, 1));
  ASSERT_TRUE(clap.open_window(parent.window()));
  EXPECT_EQ(clap.window_size(), std::make_pair(900u, 540u));
  pump(clap, 100);
  EXPECT_EQ(parent.child_size(), std::make_pair(900, 540));
  EXPECT_TRUE(clap.resize_requests().empty()) << "the window asked for another size than it said";
  play(clap, std::vector<float>(static_cast<size_t>(0.5 * kRate), 0.0f));
  pump(clap, 150);
  const Image quiet = image_of(parent);
  play(clap, sine(hz, -12.0, 1.2, kRate));
  pump(clap, 150);
  const Image tone = image_of(parent);
  ASSERT_EQ(quiet._px.size(), tone._px.size());
  ASSERT_EQ(tone._px.size(), 900u * 540u);

  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0, stereo);
  const morvane_rect& a = l._partials;
  const int best_x = most_changed_column(quiet, tone, a);
  ASSERT_GE(best_x, 0) << "the tone changed nothing in the partials view";
  EXPECT_NEAR(best_x, morvane_partials_x(&a, hz), 4.0) << hz << " Hz";
  clap.close_window();
  EXPECT_EQ(clap.timers(), 0u) << "the window's timer outlived it";
  EXPECT_EQ(parent.child(), 0u) << "the window outlived its destruction";
  EXPECT_EQ(x_errors(), 0);
}

INSTANTIATE_TEST_SUITE_P(Tones, ClapWindowTone,
                         ::testing::Values(std::make_pair(false, 1000.0), std::make_pair(true, 4000.0)),
                         [](const auto& info) {
                           return std::string(info.param.first ? "Stereo" : "Mono") +
                                  std::to_string(static_cast<int>(info.param.second)) + "Hz";
                         });

// Made at a scale, the window is the default size times it; the host may
// make it any size down to the least at that scale; a new scale resizes
// the open window, which asks the host for its new size.
TEST(ClapWindow, SizeFollowsTheScaleAndStopsAtTheLeast)
{
  XParent parent(1200, 800);
  ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
  ClapInstance clap(kIds[1]);
  ASSERT_TRUE(clap.ok() && clap.open_window(parent.window(), 1.25));
  const clap_plugin_gui_t* gui = clap.gui();
  EXPECT_EQ(clap.window_size(), std::make_pair(1125u, 675u));
  pump(clap, 50);
  EXPECT_EQ(parent.child_size(), std::make_pair(1125, 675));
  uint32_t w = 100, h = 100;
  ASSERT_TRUE(gui->adjust_size(clap.plugin(), &w, &h));
  EXPECT_EQ(std::make_pair(w, h), std::make_pair(990u, 500u));  // the stereo window's least, 792 x 400
  EXPECT_FALSE(gui->set_size(clap.plugin(), 100, 100));
  EXPECT_TRUE(gui->set_size(clap.plugin(), 1000, 600));
  pump(clap, 50);
  EXPECT_EQ(parent.child_size(), std::make_pair(1000, 600));
  EXPECT_TRUE(clap.resize_requests().empty());
  EXPECT_TRUE(gui->set_scale(clap.plugin(), 1.0));
  pump(clap, 50);
  EXPECT_EQ(parent.child_size(), std::make_pair(800, 480));
  ASSERT_EQ(clap.resize_requests().size(), 1u);
  EXPECT_EQ(clap.resize_requests()[0], std::make_pair(800u, 480u));
  EXPECT_EQ(clap.window_size(), std::make_pair(800u, 480u));
  EXPECT_EQ(x_errors(), 0);
}

// A drag on the Gain knob reaches the host as one gesture of rising values
// and the plug-in at the next block's first sample: its audio is then the
// bits of a twin given the last value by a host event there. Without
// processing, the plug-in asks for a flush and takes the change (down
// this time) in it. A
// value the host sets shows on its knob.
TEST(ClapWindow, KnobsReachHostAndAudioAndHostValuesShow)
{
  XParent parent(900, 540);
  ASSERT_TRUE(parent.ok()) << "no X server in DISPLAY";
  ClapInstance a(kIds[0]), b(kIds[0]);
  ASSERT_TRUE(a.ok() && b.ok() && a.activate(kRate, kBlock, 7) && b.activate(kRate, kBlock, 7));
  ASSERT_TRUE(a.open_window(parent.window()));
  pump(a, 100);
  const std::vector<float> in = sine(440.0, -12.0, 4 * kBlock / kRate, kRate);
  std::vector<float> out_a(2 * kBlock), out_b(2 * kBlock);
  const auto run = [&](ClapInstance& clap, uint32_t k, std::vector<float>& out) {
    const float* i = &in[k * kBlock];
    ASSERT_EQ(clap.process(i, i, out.data(), out.data() + kBlock, kBlock), CLAP_PROCESS_CONTINUE);
  };
  run(a, 0, out_a);
  run(b, 0, out_b);

  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0, false);
  const uint32_t gain = MORVANE_GAIN;
  const auto drag = [&](int steps) {
    parent.motion(l._knob_x[gain], l._knob_y[gain]);
    pump(a, 30);
    parent.button(1, true);
    pump(a, 30);
    for (int i = 1; i <= std::abs(steps); ++i) {
      parent.motion(l._knob_x[gain], l._knob_y[gain] - 8.0 * i * (steps > 0 ? 1 : -1));
      pump(a, 30);
    }
    parent.button(1, false);
    parent.motion(2.0, 2.0);  // off every knob: no highlight
    pump(a, 30);
  };
  drag(4);
  EXPECT_EQ(a.flush_requests(), 0) << "a flush asked of a host that processes";
  a.clear_output();
  run(a, 1, out_a);
  const auto& out = a.output();
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out.front().header.type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
  EXPECT_EQ(out.front().gesture.param_id, gain);
  EXPECT_EQ(out.back().header.type, CLAP_EVENT_PARAM_GESTURE_END);
  EXPECT_EQ(out.back().gesture.param_id, gain);
  double previous = morvane_controls[gain]._default;
  for (size_t i = 1; i + 1 < out.size(); ++i) {
    ASSERT_EQ(out[i].header.type, CLAP_EVENT_PARAM_VALUE);
    EXPECT_EQ(out[i].param.param_id, gain);
    EXPECT_EQ(out[i].header.time, 0u);
    EXPECT_GT(out[i].param.value, previous);
    previous = out[i].param.value;
  }
  EXPECT_EQ(a.value(gain), previous);
  // The twin hears the value from the host at the block's first sample.
  b.param(0, gain, previous);
  run(b, 1, out_b);
  ASSERT_EQ(std::memcmp(out_a.data(), out_b.data(), out_a.size() * sizeof(float)), 0)
      << "the window's value did not take effect as the host's";
  run(a, 2, out_a);
  run(b, 2, out_b);
  ASSERT_EQ(std::memcmp(out_a.data(), out_b.data(), out_a.size() * sizeof(float)), 0);

  // Not processing: the change waits for the flush the plug-in asks for.
  a.processing(false);
  a.clear_output();
  pump(a, 350);  // no double-click (a reset to the default)
  drag(-2);
  EXPECT_GT(a.flush_requests(), 0);
  EXPECT_EQ(a.value(gain), previous);
  a.flush();
  ASSERT_EQ(a.output().size(), 4u);
  EXPECT_LT(a.value(gain), previous);
  a.processing(true);

  // The host sets an LFO amount: its knob shows the value.
  const uint32_t amount = MORVANE_LFO_SHAKE_AMP_AMOUNT;
  float controls[MORVANE_NUM_STEREO_CONTROLS];
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    controls[row] = static_cast<float>(a.value(morvane_controls[row]._port));
  }
  const Image before = reference_image(900, 540, 1.0, view_of(controls));
  controls[amount] = 90.0f;
  const Image after = reference_image(900, 540, 1.0, view_of(controls));
  a.param(0, amount, 90.0);
  run(a, 3, out_a);
  pump(a, 100);
  const Image shown = image_of(parent);
  ASSERT_EQ(shown._px.size(), after._px.size());
  const double r = l._knob_r[amount];
  ASSERT_GT(square_differing(before, after, l._knob_x[amount], l._knob_y[amount], r), 0.05);
  EXPECT_LT(square_differing(shown, after, l._knob_x[amount], l._knob_y[amount], r), 0.02);
  EXPECT_EQ(x_errors(), 0);
}
