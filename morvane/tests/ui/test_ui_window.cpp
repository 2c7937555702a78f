// SPDX-License-Identifier: LGPL-2.1-or-later
// The window in a host on a real X server: what it shows of the plug-in's
// frames, how its knobs answer the pointer, resizing, two at once.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "ui_host.h"

namespace {

constexpr uint32_t RATE = MORVANE_LFO_SHAKE_AMP_FREQ;
constexpr uint32_t AMOUNT = MORVANE_LFO_SHAKE_AMP_AMOUNT;
// Share of pixels that may differ from the drawing module's own picture:
// the server's rasterisation of the copy is not bit-exact everywhere.
constexpr double MATCH_FRACTION = 0.02;
constexpr int MATCH_TOLERANCE = 48;

morvane_view default_view()
{
  morvane_view view{};
  view._frame = nullptr;
  for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
    view._controls[i] = morvane_controls[i]._default;
  }
  view._meter_db = -INFINITY;
  view._active_control = -1;
  return view;
}

morvane_layout layout_of(const UiHost& host)
{
  const auto [w, h] = host.widget_size();
  morvane_layout layout;
  morvane_layout_compute(&layout, w, h, 1.0);
  return layout;
}

void require_window(const UiHost& host)
{
  ASSERT_FALSE(LilvTestWorld::get().ui_uri().empty()) << "the bundle declares no X11 window for the plug-in";
  ASSERT_TRUE(host.ok()) << "the window did not open";
}

std::vector<UiEvent> of_kind(const std::vector<UiEvent>& events, UiEvent::Kind kind, uint32_t port)
{
  std::vector<UiEvent> out;
  std::copy_if(events.begin(), events.end(), std::back_inserter(out),
               [&](const UiEvent& e) { return e._kind == kind && e._port == port; });
  return out;
}

// Only the events on knob ports, as (kind, port).
std::vector<UiEvent> knob_events(const std::vector<UiEvent>& events)
{
  std::vector<UiEvent> out;
  std::copy_if(events.begin(), events.end(), std::back_inserter(out),
               [](const UiEvent& e) { return e._kind != UiEvent::MESSAGE; });
  return out;
}

// Pixels inside a square around knob `port` that differ between a and b.
int knob_pixels_changed(const Image& a, const Image& b, const morvane_layout& l, uint32_t port)
{
  const int r = static_cast<int>(std::ceil(l._knob_r[port]));
  int changed = 0;
  for (int y = static_cast<int>(l._knob_y[port]) - r; y <= static_cast<int>(l._knob_y[port]) + r; ++y) {
    for (int x = static_cast<int>(l._knob_x[port]) - r; x <= static_cast<int>(l._knob_x[port]) + r; ++x) {
      if (x >= 0 && y >= 0 && x < a._width && y < a._height) {
        changed += pixel_distance(a.at(x, y), b.at(x, y)) > 16 ? 1 : 0;
      }
    }
  }
  return changed;
}

}  // namespace

TEST(UiWindow, OpensAtItsSizeDrawsTheDefaultsAndTellsThePlugin)
{
  const int errors = x_error_count();
  {
    UiHost host(nullptr);
    require_window(host);
    ASSERT_FALSE(host.size_requests().empty());
    EXPECT_EQ(host.size_requests().front(), std::make_pair(900, 540));
    host.pump(60);
    EXPECT_EQ(host.widget_size(), std::make_pair(900, 540));
    EXPECT_LT(fraction_differing(host.capture(), reference_image(900, 540, 1.0, default_view()), MATCH_TOLERANCE),
              MATCH_FRACTION);
    // WindowOpen (said again only after a second without frames).
    ASSERT_GE(host.events().size(), 1u);
    for (const UiEvent& e : host.events()) {
      EXPECT_EQ(e._kind, UiEvent::MESSAGE);
      EXPECT_EQ(e._port, static_cast<uint32_t>(MORVANE_CONTROL));
      EXPECT_EQ(e._value, 1.0f);
    }
    host.close();
    EXPECT_EQ(host.events().back()._value, 0.0f);  // WindowClosed
  }
  EXPECT_EQ(x_error_count(), errors);
}

TEST(UiWindow, ScaleFactorScalesTheWindow)
{
  UiHost host(nullptr, 1.25);
  require_window(host);
  ASSERT_FALSE(host.size_requests().empty());
  EXPECT_EQ(host.size_requests().front(), std::make_pair(1125, 675));
  host.pump(40);
  EXPECT_EQ(host.widget_size(), std::make_pair(1125, 675));
  EXPECT_LT(fraction_differing(host.capture(), reference_image(1125, 675, 1.25, default_view()), MATCH_TOLERANCE),
            MATCH_FRACTION);
}

class UiTone : public ::testing::TestWithParam<double> {};

TEST_P(UiTone, ShowsAtItsMelPosition)
{
  const double hz = GetParam();
  ASSERT_TRUE(LilvTestWorld::get().has_window_ports()) << "the plug-in has no control and notify ports";
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  ASSERT_TRUE(plugin.ok());
  UiHost host(&plugin);
  require_window(host);
  host.pump(20);
  // The plug-in hears the window open on its first run; silence first, so
  // that the picture compared with is one of frames too.
  host.run_audio(std::vector<float>(static_cast<size_t>(0.5 * plugin.rate()), 0.0f));
  host.pump(60);
  const Image quiet = host.capture();
  host.run_audio(sine(hz, -12.0, 1.2, plugin.rate()));
  host.pump(60);
  const Image tone = host.capture();
  ASSERT_EQ(quiet._width, tone._width);

  const morvane_layout l = layout_of(host);
  const morvane_rect& a = l._partials;
  const int best_x = most_changed_column(quiet, tone, a);
  ASSERT_GE(best_x, 0) << "the tone changed nothing in the partials view";
  EXPECT_NEAR(best_x, morvane_partials_x(&a, hz), 4.0) << hz << " Hz";
  // Frames came, so WindowOpen was said once.
  EXPECT_EQ(of_kind(host.events(), UiEvent::MESSAGE, MORVANE_CONTROL).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Tones, UiTone, ::testing::Values(250.0, 1000.0, 4000.0),
                         [](const auto& info) { return std::to_string(static_cast<int>(info.param)) + "Hz"; });

TEST(UiKnobs, DragOnRateKnobWritesRisingLogValuesFramedByTouch)
{
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost host(&plugin);
  require_window(host);
  host.pump(30);
  const morvane_layout l = layout_of(host);
  const double x = l._knob_x[RATE], y = l._knob_y[RATE];
  fake_motion(host, x, y);
  host.pump(20);
  host.clear_events();
  fake_button(host, 1, true);
  host.pump(20);
  for (int i = 1; i <= 4; ++i) {
    fake_motion(host, x, y - 8.0 * i);
    host.pump(20);
  }
  fake_button(host, 1, false);
  host.pump(20);

  const std::vector<UiEvent> ev = knob_events(host.events());
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev.front()._kind, UiEvent::TOUCH_BEGIN);
  EXPECT_EQ(ev.front()._port, RATE);
  EXPECT_EQ(ev.back()._kind, UiEvent::TOUCH_END);
  EXPECT_EQ(ev.back()._port, RATE);
  const std::vector<UiEvent> writes = of_kind(ev, UiEvent::WRITE, RATE);
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes.size() + 2, ev.size()) << "writes to other ports";
  // Each 8 px up multiplies the rate by the same factor.
  const double range = std::log(static_cast<double>(morvane_controls[RATE]._max) / morvane_controls[RATE]._min);
  double previous = morvane_controls[RATE]._default;
  for (const UiEvent& w : writes) {
    EXPECT_GT(w._value, previous);
    EXPECT_NEAR(std::log(w._value / previous), 8.0 / 200.0 * range, 0.01);
    previous = w._value;
  }
  EXPECT_EQ(plugin.controls()[RATE], writes.back()._value);
}

TEST(UiKnobs, WheelStepWritesASmallStep)
{
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost host(&plugin);
  require_window(host);
  host.pump(30);
  const morvane_layout l = layout_of(host);
  fake_motion(host, l._knob_x[AMOUNT], l._knob_y[AMOUNT]);
  host.pump(20);
  host.clear_events();
  fake_button(host, 4, true);
  fake_button(host, 4, false);
  host.pump(30);
  const std::vector<UiEvent> ev = knob_events(host.events());
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0]._kind, UiEvent::TOUCH_BEGIN);
  EXPECT_EQ(ev[1]._kind, UiEvent::WRITE);
  EXPECT_EQ(ev[2]._kind, UiEvent::TOUCH_END);
  EXPECT_EQ(ev[1]._port, AMOUNT);
  EXPECT_NEAR(ev[1]._value, 1.0f, 1e-4);  // 0 % + a hundredth of 0..100 %
  host.clear_events();
  fake_button(host, 5, true);
  fake_button(host, 5, false);
  host.pump(30);
  const std::vector<UiEvent> down = of_kind(host.events(), UiEvent::WRITE, AMOUNT);
  ASSERT_EQ(down.size(), 1u);
  EXPECT_NEAR(down[0]._value, 0.0f, 1e-4);
}

TEST(UiKnobs, DoubleClickWritesTheDefault)
{
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost host(&plugin);
  require_window(host);
  host.set_control(RATE, 12.5f);
  host.pump(30);
  const morvane_layout l = layout_of(host);
  fake_motion(host, l._knob_x[RATE], l._knob_y[RATE]);
  host.pump(20);
  host.clear_events();
  for (int i = 0; i < 2; ++i) {
    fake_button(host, 1, true);
    fake_button(host, 1, false);
  }
  host.pump(30);
  const std::vector<UiEvent> writes = of_kind(host.events(), UiEvent::WRITE, RATE);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0]._value, morvane_controls[RATE]._default);
  EXPECT_EQ(plugin.controls()[RATE], morvane_controls[RATE]._default);
  const std::vector<UiEvent> ev = knob_events(host.events());
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[ev.size() - 3]._kind, UiEvent::TOUCH_BEGIN);
  EXPECT_EQ(ev[ev.size() - 2]._kind, UiEvent::WRITE);
  EXPECT_EQ(ev[ev.size() - 1]._kind, UiEvent::TOUCH_END);
}

TEST(UiKnobs, HostValueMovesTheKnobWithoutAnEcho)
{
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost host(&plugin);
  require_window(host);
  host.pump(40);
  const morvane_layout l = layout_of(host);
  const Image before = host.capture();
  host.clear_events();
  host.set_control(AMOUNT, 100.0f);
  host.pump(40);
  const Image after = host.capture();
  EXPECT_GT(knob_pixels_changed(before, after, l, AMOUNT), 20);
  // Another LFO's knob stays as it was.
  EXPECT_EQ(knob_pixels_changed(before, after, l, MORVANE_LFO_SHAKE_FREQ_FREQ), 0);
  morvane_view view = default_view();
  view._controls[AMOUNT] = 100.0f;
  EXPECT_LT(fraction_differing(after, reference_image(900, 540, 1.0, view), MATCH_TOLERANCE), MATCH_FRACTION);
  EXPECT_TRUE(knob_events(host.events()).empty()) << "the window wrote back what the host told it";
}

TEST(UiWindow, BadPortEventsChangeNothing)
{
  UiHost host(nullptr);
  require_window(host);
  host.pump(40);
  const Image before = host.capture();
  const morvane_uris& uris = LilvTestWorld::get().uris();
  // Wrong sizes, wrong formats, ports without knobs or out of range, a
  // truncated atom and garbage on the notify port.
  alignas(8) uint8_t garbage[256];
  for (size_t i = 0; i < sizeof garbage; ++i) {
    garbage[i] = static_cast<uint8_t>(i * 37u + 11u);
  }
  const LV2_Atom truncated{4000, uris._atom_Object};
  const double nan_value = std::nan("");
  const float nanf_value = std::nanf("");
  host.send_port_event(RATE, sizeof nan_value, 0, &nan_value);
  host.send_port_event(200, sizeof(float), 0, &nanf_value);
  // Floats on the audio and atom ports, which lie between the control
  // ports: Tempo (2) on any of them would light a switch if taken as one.
  const float tempo = 2.0f;
  for (uint32_t port = MORVANE_INPUT_L; port <= MORVANE_NOTIFY; ++port) {
    host.send_port_event(port, sizeof tempo, 0, &tempo);
  }
  host.send_port_event(MORVANE_LFO_SHAKE_TIME_CYCLE + 1, sizeof tempo, 0, &tempo);
  host.send_port_event(MORVANE_NOTIFY, sizeof garbage, uris._atom_eventTransfer, garbage);
  host.send_port_event(MORVANE_NOTIFY, sizeof truncated, uris._atom_eventTransfer, &truncated);
  host.send_port_event(MORVANE_NOTIFY, 0, uris._atom_eventTransfer, garbage);
  host.send_port_event(MORVANE_NOTIFY, sizeof garbage, 12345, garbage);
  host.send_port_event(MORVANE_CONTROL, sizeof garbage, uris._atom_eventTransfer, garbage);
  host.pump(40);
  EXPECT_EQ(fraction_differing(before, host.capture(), 0), 0.0);
  // Nothing but WindowOpen went to the host.
  for (const UiEvent& e : host.events()) {
    EXPECT_EQ(e._kind, UiEvent::MESSAGE);
    EXPECT_EQ(e._value, 1.0f);
  }
  // NaN from the host shows the default.
  host.send_port_event(AMOUNT, sizeof nanf_value, 0, &nanf_value);
  host.pump(40);
  EXPECT_EQ(fraction_differing(before, host.capture(), 0), 0.0);
}

TEST(UiWindow, FollowsResizesAndRedrawsAtTheNewSize)
{
  const int errors = x_error_count();
  UiHost host(nullptr);
  require_window(host);
  host.pump(30);
  for (const auto& [w, h] : {std::make_pair(1200, 700), std::make_pair(700, 450), std::make_pair(900, 540)}) {
    host.resize(w, h);
    host.pump(60);
    EXPECT_EQ(host.widget_size(), std::make_pair(w, h));
    EXPECT_LT(fraction_differing(host.capture(), reference_image(w, h, 1.0, default_view()), MATCH_TOLERANCE),
              MATCH_FRACTION)
        << w << "x" << h;
    EXPECT_EQ(host.idle(), 0);
  }
  // The host may also tell the window its size through ui:resize.
  ASSERT_TRUE(host.resize_through_extension(1000, 600));
  host.pump(60);
  EXPECT_EQ(host.widget_size(), std::make_pair(1000, 600));
  EXPECT_LT(fraction_differing(host.capture(), reference_image(1000, 600, 1.0, default_view()), MATCH_TOLERANCE),
            MATCH_FRACTION);
  EXPECT_EQ(x_error_count(), errors);
}

TEST(UiWindow, TwoInstancesDrawAndAnswerIndependently)
{
  PluginHost first_plugin(kWindowTestRate, kWindowTestPlugin), second_plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost first(&first_plugin, 1.0, 0, 0);
  UiHost second(&second_plugin, 1.0, 0, 500);
  require_window(first);
  require_window(second);
  first.resize(700, 450);
  second.resize(700, 450);
  second.set_control(AMOUNT, 60.0f);
  first.pump(40);
  second.pump(40);
  first.pump(10);
  morvane_view view = default_view();
  EXPECT_LT(fraction_differing(first.capture(), reference_image(700, 450, 1.0, view), MATCH_TOLERANCE),
            MATCH_FRACTION);
  view._controls[AMOUNT] = 60.0f;
  EXPECT_LT(fraction_differing(second.capture(), reference_image(700, 450, 1.0, view), MATCH_TOLERANCE),
            MATCH_FRACTION);

  first.clear_events();
  second.clear_events();
  const morvane_layout l = layout_of(second);
  fake_motion(second, l._knob_x[RATE], l._knob_y[RATE]);
  fake_button(second, 1, true);
  first.pump(10);
  second.pump(20);
  fake_motion(second, l._knob_x[RATE], l._knob_y[RATE] - 20.0);
  first.pump(10);
  second.pump(20);
  fake_button(second, 1, false);
  first.pump(10);
  second.pump(20);
  EXPECT_FALSE(of_kind(second.events(), UiEvent::WRITE, RATE).empty());
  EXPECT_GT(second_plugin.controls()[RATE], morvane_controls[RATE]._default);
  EXPECT_TRUE(knob_events(first.events()).empty());
  EXPECT_EQ(first_plugin.controls()[RATE], morvane_controls[RATE]._default);
}

// A window whose WindowOpen got lost (the plug-in's processing started
// after it, or the host made a new instance) says it again after a second
// without frames, and only then: while frames come it stays quiet.
TEST(UiWindow, SaysOpenAgainOnlyWhileNoFrameComes)
{
  UiHost host(nullptr);
  require_window(host);
  auto opens = [&host] {
    return std::count_if(host.events().begin(), host.events().end(), [](const UiEvent& e) {
      return e._kind == UiEvent::MESSAGE && e._value == 1.0f;
    });
  };
  EXPECT_EQ(opens(), 1);
  host.pump(1400);
  EXPECT_EQ(opens(), 2);

  // A frame every 100 ms for 1.5 s: no more WindowOpen.
  alignas(8) uint8_t buf[4096];
  LV2_Atom_Forge forge;
  lv2_atom_forge_init(&forge, LilvTestWorld::get().urids().map());
  lv2_atom_forge_set_buffer(&forge, buf, sizeof buf);
  morvane_frame frame{};
  frame._sample_rate = 48000.0f;
  frame._audible = MORVANE_NUM_PARTIALS;
  ASSERT_TRUE(morvane_frame_forge(&forge, &LilvTestWorld::get().uris(), &frame));
  const auto* atom = reinterpret_cast<const LV2_Atom*>(buf);
  host.clear_events();
  for (int i = 0; i < 15; ++i) {
    host.send_port_event(MORVANE_NOTIFY, sizeof(LV2_Atom) + atom->size, LilvTestWorld::get().uris()._atom_eventTransfer,
                         atom);
    host.pump(100);
  }
  EXPECT_EQ(opens(), 0);
}

// The host's sync and cycle values reach the window by their ports: Tempo
// lights the switch and puts the cycle's note value in the rate's place.
TEST(UiSync, HostSyncAndCycleShowInTheRatePlace)
{
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost host(&plugin);
  require_window(host);
  host.set_control(MORVANE_LFO_SHAKE_FREQ_SYNC, 2.0f);
  host.set_control(MORVANE_LFO_SHAKE_FREQ_CYCLE, 1.0f / 3.0f);
  host.pump(60);
  morvane_view view = default_view();
  view._controls[morvane_control_row(MORVANE_LFO_SHAKE_FREQ_SYNC)] = 2.0f;
  view._controls[morvane_control_row(MORVANE_LFO_SHAKE_FREQ_CYCLE)] = 1.0f / 3.0f;
  const Image shown = host.capture();
  EXPECT_LT(fraction_differing(shown, reference_image(900, 540, 1.0, view), MATCH_TOLERANCE), MATCH_FRACTION);
  EXPECT_GT(fraction_differing(shown, reference_image(900, 540, 1.0, default_view()), MATCH_TOLERANCE), 0.0005);
}

// A click on a switch segment writes the sync port as one gesture; in
// Tempo the wheel over the rate's place steps the cycle port through its
// note values, exactly.
TEST(UiSync, TempoSegmentWritesTheSyncPortAndTheRatePlaceStepsTheCycle)
{
  PluginHost plugin(kWindowTestRate, kWindowTestPlugin);
  UiHost host(&plugin);
  require_window(host);
  host.pump(30);
  const morvane_layout l = layout_of(host);
  const morvane_rect& tempo = l._sync[0][2];
  fake_motion(host, tempo._x + 0.5 * tempo._w, tempo._y + 0.5 * tempo._h);
  host.pump(20);
  host.clear_events();
  fake_button(host, 1, true);
  fake_button(host, 1, false);
  host.pump(30);
  const std::vector<UiEvent> ev = knob_events(host.events());
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0]._kind, UiEvent::TOUCH_BEGIN);
  EXPECT_EQ(ev[1]._kind, UiEvent::WRITE);
  EXPECT_EQ(ev[2]._kind, UiEvent::TOUCH_END);
  EXPECT_EQ(of_kind(ev, UiEvent::WRITE, MORVANE_LFO_SHAKE_AMP_SYNC).size(), 1u);
  EXPECT_EQ(ev[2]._port, static_cast<uint32_t>(MORVANE_LFO_SHAKE_AMP_SYNC));
  EXPECT_EQ(ev[1]._value, 2.0f);
  EXPECT_EQ(plugin.controls()[morvane_control_row(MORVANE_LFO_SHAKE_AMP_SYNC)], 2.0f);

  // Two notches up from a whole note (4 quarters): 6, then 8; one down: 6.
  fake_motion(host, l._knob_x[RATE], l._knob_y[RATE]);
  host.pump(20);
  host.clear_events();
  for (unsigned button : {4u, 4u, 5u}) {
    fake_button(host, button, true);
    fake_button(host, button, false);
    host.pump(20);
  }
  const std::vector<UiEvent> writes = of_kind(host.events(), UiEvent::WRITE, MORVANE_LFO_SHAKE_AMP_CYCLE);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0]._value, 6.0f);
  EXPECT_EQ(writes[1]._value, 8.0f);
  EXPECT_EQ(writes[2]._value, 6.0f);
  EXPECT_EQ(plugin.controls()[morvane_control_row(MORVANE_LFO_SHAKE_AMP_CYCLE)], 6.0f);
  EXPECT_EQ(plugin.controls()[RATE], morvane_controls[RATE]._default);
}

// The stereo plug-in's window: the drawing module's stereo picture, its
// panel where the mono window has none; a click on "Left / Right" writes
// the mode port as one gesture, and the picture follows (Width dimmed, the
// key of two channels).
TEST(UiStereo, ShowsTheStereoPanelAndItsModeSwitchWritesThePort)
{
  HostSetup setup = kWindowTestPlugin;
  setup.stereo = true;
  PluginHost plugin(kWindowTestRate, setup);
  ASSERT_TRUE(plugin.ok());
  UiHost host(&plugin);
  ASSERT_TRUE(host.stereo());
  require_window(host);
  host.pump(60);
  morvane_view view = default_view();
  for (uint32_t row = MORVANE_NUM_CONTROLS; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    view._controls[row] = morvane_controls[row]._default;
  }
  const Image shown = host.capture();
  EXPECT_LT(fraction_differing(shown, reference_image(900, 540, 1.0, view, true), MATCH_TOLERANCE), MATCH_FRACTION);
  EXPECT_GT(fraction_differing(shown, reference_image(900, 540, 1.0, view), MATCH_TOLERANCE), 0.02);

  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0, true);
  const morvane_rect& left_right = l._stereo_mode[1];
  fake_motion(host, left_right._x + 0.5 * left_right._w, left_right._y + 0.5 * left_right._h);
  host.pump(20);
  host.clear_events();
  fake_button(host, 1, true);
  fake_button(host, 1, false);
  host.pump(60);
  const std::vector<UiEvent> ev = knob_events(host.events());
  ASSERT_EQ(ev.size(), 3u);
  EXPECT_EQ(ev[0]._kind, UiEvent::TOUCH_BEGIN);
  EXPECT_EQ(ev[1]._kind, UiEvent::WRITE);
  EXPECT_EQ(ev[1]._value, 1.0f);
  EXPECT_EQ(ev[2]._kind, UiEvent::TOUCH_END);
  for (const UiEvent& e : ev) {
    EXPECT_EQ(e._port, static_cast<uint32_t>(MORVANE_STEREO_MODE));
  }
  EXPECT_EQ(plugin.controls()[morvane_control_row(MORVANE_STEREO_MODE)], 1.0f);
  view._controls[morvane_control_row(MORVANE_STEREO_MODE)] = 1.0f;
  EXPECT_LT(fraction_differing(host.capture(), reference_image(900, 540, 1.0, view, true), MATCH_TOLERANCE),
            MATCH_FRACTION);
}
