// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's data path through lilv: frames only while a window says it
// is open, at most 30 a second and one a run, within the host's buffer;
// messages that are not the window's are ignored; and not one output bit
// changes, whatever the atom ports and the window do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <lilv/lilv.h>

#include "plugin_host.h"

namespace {

constexpr double kRate = 48000.0;

std::vector<float> tone(double hz, double amplitude, std::size_t n)
{
  std::vector<float> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = static_cast<float>(amplitude * std::sin(6.283185307179586 * hz * static_cast<double>(i) / kRate));
  }
  return x;
}

// A host that offers the window's data path: a URID map and both atom
// ports connected.
HostSetup windowed(uint32_t notify_capacity = 8192)
{
  return HostSetup{.offer_urid_map = true, .connect_atom_ports = true, .notify_capacity = notify_capacity};
}

// One run of n samples from `signal` at `pos`; the frames written.
std::vector<morvane_frame> run_frames(PluginHost& p, const std::vector<float>& signal, std::size_t pos, uint32_t n)
{
  std::copy(signal.begin() + static_cast<std::ptrdiff_t>(pos), signal.begin() + static_cast<std::ptrdiff_t>(pos + n),
            p.in_l().begin());
  p.run(n);
  std::vector<morvane_frame> frames;
  EXPECT_TRUE(read_frames(p.notify(), p.ids(), &frames));
  EXPECT_TRUE(p.notify().guard_intact());
  return frames;
}

// Runs the signal in blocks, the window open from the start; returns the
// output and counts the frames.
std::vector<float> run_windowed(PluginHost& p, const std::vector<float>& x, uint32_t block, bool open, int* frames)
{
  if (open) {
    p.send_window_message(true);
  }
  std::vector<float> out;
  for (std::size_t pos = 0; pos < x.size(); pos += block) {
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(block, x.size() - pos));
    *frames += static_cast<int>(run_frames(p, x, pos, n).size());
    out.insert(out.end(), p.out_l().begin(), p.out_l().begin() + n);
  }
  return out;
}

// A shaking setting: every shake LFO at work.
void shake(Controls& c)
{
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 80.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 60.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMP] = 0.5f;
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 50.0f;
  c[MORVANE_GAIN] = -3.0f;
}

}  // namespace

TEST(WindowFrames, AudioKeepsItsBitsWithTheWindowOpenClosedOrAbsent)
{
  const auto x = test_signal(48000);
  // The reference: the plug-in as every host before the window ran it, with
  // no feature offered and no atom port connected, in this same program.
  // That path is held to the engine run on its own by
  // LilvRun.OutputEqualsTheEngineRunDirectly.
  PluginHost plain(kRate, 256);
  ASSERT_TRUE(plain.ok());
  shake(plain.controls());
  const auto reference = plain.process(x, 256);

  // A host that maps URIDs but connects no atom port: the window absent.
  PluginHost mapped(kRate, HostSetup{.offer_urid_map = true});
  ASSERT_TRUE(mapped.ok());
  shake(mapped.controls());
  const auto absent = mapped.process(x, 256);
  ASSERT_EQ(absent.size(), reference.size());
  EXPECT_EQ(std::memcmp(absent.data(), reference.data(), absent.size() * sizeof(float)), 0) << "window absent";

  for (bool open : {false, true}) {
    PluginHost p(kRate, windowed());
    ASSERT_TRUE(p.ok());
    shake(p.controls());
    int frames = 0;
    const auto out = run_windowed(p, x, 256, open, &frames);
    EXPECT_EQ(frames > 0, open);
    ASSERT_EQ(out.size(), reference.size());
    EXPECT_EQ(std::memcmp(out.data(), reference.data(), out.size() * sizeof(float)), 0) << "window open " << open;
  }
}

TEST(WindowFrames, AtMostThirtyFramesASecondAndOneARun)
{
  const auto x = tone(1000.0, 0.5, 48000);
  struct Case {
    uint32_t block;
    int expected;
  };
  // 64-sample runs: one frame every 1600 samples, the first at once (30 in
  // all); 4096-sample runs: one per run (12 runs).
  for (const Case c : {Case{64, 30}, Case{4096, 12}, Case{1, 30}}) {
    PluginHost p(kRate, windowed());
    ASSERT_TRUE(p.ok());
    int frames = 0;
    run_windowed(p, x, c.block, true, &frames);
    EXPECT_EQ(frames, c.expected) << "block " << c.block;
  }
}

TEST(WindowFrames, FramesShowTheToneAndStopWhenTheWindowCloses)
{
  const auto x = tone(1000.0, 0.5, 96000);
  PluginHost p(kRate, windowed());
  ASSERT_TRUE(p.ok());
  p.send_window_message(true);
  morvane_frame last{};
  int frames = 0;
  float peak_since_frame = 0.0f;
  for (std::size_t pos = 0; pos < 48000; pos += 480) {
    const auto got = run_frames(p, x, pos, 480);
    for (uint32_t i = 0; i < 480; ++i) {
      peak_since_frame = std::max(peak_since_frame, std::fabs(p.out_l()[i]));
    }
    for (const auto& f : got) {
      last = f;
      ++frames;
      // The frame's peak is the output's since the frame before.
      EXPECT_EQ(f._output_peak, peak_since_frame);
      peak_since_frame = 0.0f;
    }
  }
  ASSERT_GT(frames, 0);
  int loudest = 0;
  for (int k = 1; k < MORVANE_NUM_PARTIALS; ++k) {
    if (last._analysed_amps[k] > last._analysed_amps[loudest]) {
      loudest = k;
    }
  }
  EXPECT_NEAR(last._analysed_freqs[loudest], 1000.0f, 5.0f);
  EXPECT_NEAR(last._shaken_freqs[loudest], 1000.0f, 5.0f);
  EXPECT_GT(last._output_peak, 0.1f);
  EXPECT_EQ(last._sample_rate, 48000.0f);
  EXPECT_EQ(last._audible, MORVANE_NUM_PARTIALS);
  EXPECT_EQ(last._stereo, MORVANE_FRAME_MONO);

  p.send_window_message(false);
  for (std::size_t pos = 48000; pos < 96000; pos += 480) {
    EXPECT_TRUE(run_frames(p, x, pos, 480).empty());
  }
}

TEST(WindowFrames, SmallNotifyBufferLosesFramesNeverMemory)
{
  const uint32_t frame_bytes = morvane_frame_event_size();
  const auto x = tone(440.0, 0.3, 4800);
  for (uint32_t capacity : {0u, 8u, 16u, 100u, frame_bytes, frame_bytes + 15u, frame_bytes + 16u, 4096u}) {
    PluginHost p(kRate, windowed(capacity));
    ASSERT_TRUE(p.ok());
    p.send_window_message(true);
    int frames = 0;
    for (std::size_t pos = 0; pos < x.size(); pos += 1600) {
      std::copy(x.begin() + static_cast<std::ptrdiff_t>(pos), x.begin() + static_cast<std::ptrdiff_t>(pos + 1600),
                p.in_l().begin());
      p.run(1600);
      EXPECT_TRUE(p.notify().guard_intact()) << capacity;
      EXPECT_LE(p.notify().seq()->atom.size, capacity);
      if (capacity >= sizeof(LV2_Atom_Sequence)) {
        std::vector<morvane_frame> got;
        EXPECT_TRUE(read_frames(p.notify(), p.ids(), &got)) << capacity;
        frames += static_cast<int>(got.size());
      }
    }
    // The sequence header (16 bytes) plus one frame must fit.
    EXPECT_EQ(frames > 0, capacity >= frame_bytes + 16u) << capacity;
  }
}

// Both plug-ins declare room for their largest frame, the stereo one's in
// Left / Right, and the forge writes exactly the size computed for each kind.
TEST(WindowFrames, DeclaredMinimumSizeCarriesAFrame)
{
  LilvWorld* world = LilvTestWorld::get().world();
  LilvNode* minimum_size = lilv_new_uri(world, "http://lv2plug.in/ns/ext/resize-port#minimumSize");
  for (const LilvPlugin* plugin : {LilvTestWorld::get().plugin(), LilvTestWorld::get().stereo_plugin()}) {
    ASSERT_NE(plugin, nullptr);
    const LilvPort* notify = lilv_plugin_get_port_by_index(plugin, MORVANE_NOTIFY);
    ASSERT_NE(notify, nullptr);
    LilvNodes* sizes = lilv_port_get_value(plugin, notify, minimum_size);
    ASSERT_EQ(lilv_nodes_size(sizes), 1u);
    const int declared = lilv_node_as_int(lilv_nodes_get_first(sizes));
    EXPECT_GE(declared, static_cast<int>(morvane_frame_event_size(MORVANE_FRAME_LEFT_RIGHT) + sizeof(LV2_Atom_Sequence)));
    lilv_nodes_free(sizes);
  }
  lilv_node_free(minimum_size);

  TestUridMap map;
  for (int32_t kind : {MORVANE_FRAME_MONO, MORVANE_FRAME_MID, MORVANE_FRAME_LEFT_RIGHT}) {
    std::vector<uint64_t> buf(1024);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, map.map());
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(buf.data()), buf.size() * 8);
    LV2_Atom_Forge_Frame seq;
    lv2_atom_forge_sequence_head(&forge, &seq, 0);
    morvane_frame frame{};
    frame._stereo = kind;
    lv2_atom_forge_frame_time(&forge, 0);
    ASSERT_TRUE(morvane_frame_forge(&forge, &map.ids(), &frame));
    lv2_atom_forge_pop(&forge, &seq);
    EXPECT_EQ(forge.offset, morvane_frame_event_size(kind) + sizeof(LV2_Atom_Sequence)) << kind;
  }
}

// The stereo plug-in's frames, read as the window reads them, say its mode
// and width; in Left / Right each channel's partials hold its own tone
// (500 Hz left, 2 kHz right), in Mid the one analysis holds both.
TEST(WindowFrames, StereoFramesCarryTheModeTheWidthAndInLeftRightTheRightChannel)
{
  PluginHost p(kRate, HostSetup{.stereo = true, .offer_urid_map = true, .connect_atom_ports = true});
  ASSERT_TRUE(p.ok());
  const auto left = tone(500.0, 0.5, 24000);
  const auto right = tone(2000.0, 0.5, 24000);
  // The amplitude the analysis puts within 2 % of hz.
  auto level = [](const float* amps, const float* freqs, float hz) {
    float sum = 0.0f;
    for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
      sum += std::fabs(freqs[k] - hz) < 0.02f * hz ? amps[k] : 0.0f;
    }
    return sum;
  };
  p.send_window_message(true);
  for (float mode : {1.0f, 0.0f}) {
    p.controls()[control_row(MORVANE_STEREO_MODE)] = mode;
    p.controls()[control_row(MORVANE_WIDTH)] = 40.0f;
    morvane_frame last{};
    for (std::size_t pos = 0; pos < left.size(); pos += 480) {
      std::copy_n(left.begin() + static_cast<std::ptrdiff_t>(pos), 480, p.in_l().begin());
      std::copy_n(right.begin() + static_cast<std::ptrdiff_t>(pos), 480, p.in_r().begin());
      p.run(480);
      std::vector<morvane_frame> got;
      ASSERT_TRUE(read_frames(p.notify(), p.ids(), &got));
      last = got.empty() ? last : got.back();
    }
    EXPECT_EQ(last._width, 40.0f);
    const float left_500 = level(last._analysed_amps, last._analysed_freqs, 500.0f);
    const float left_2000 = level(last._analysed_amps, last._analysed_freqs, 2000.0f);
    if (mode == 1.0f) {
      ASSERT_EQ(last._stereo, MORVANE_FRAME_LEFT_RIGHT);
      EXPECT_GT(left_500, 0.1f);
      EXPECT_LT(left_2000, 0.01f);
      EXPECT_GT(level(last._right_analysed_amps, last._right_analysed_freqs, 2000.0f), 0.1f);
      EXPECT_LT(level(last._right_analysed_amps, last._right_analysed_freqs, 500.0f), 0.01f);
      EXPECT_GT(level(last._right_shaken_amps, last._right_shaken_freqs, 2000.0f), 0.1f);
    } else {
      ASSERT_EQ(last._stereo, MORVANE_FRAME_MID);
      EXPECT_GT(left_500, 0.1f);
      EXPECT_GT(left_2000, 0.1f);
    }
  }
}

TEST(WindowFrames, MessagesThatAreNotTheWindowsAreIgnored)
{
  const auto x = tone(440.0, 0.3, 2048);
  const morvane_uris* ids = nullptr;
  std::mt19937 rng(7);
  auto garbage_runs = [&](PluginHost& p, auto&& fill) {
    ids = &p.ids();
    fill(p);
    return run_frames(p, x, 0, 2048).size();
  };
  std::vector<std::function<void(PluginHost&)>> messages = {
      // An object of another type.
      [&](PluginHost& p) {
        LV2_Atom_Object o{{sizeof(LV2_Atom_Object_Body), ids->_atom_Object}, {0, ids->_frame}};
        p.control().append(&o, sizeof o);
      },
      // An atom that is not an object, and an object too short for its body.
      [&](PluginHost& p) {
        LV2_Atom_Float f{{sizeof(float), ids->_atom_Float}, 1.0f};
        p.control().append(&f, sizeof f);
        LV2_Atom short_object{2, ids->_atom_Object};
        p.control().append(&short_object, sizeof short_object);
      },
      // An event claiming more bytes than the sequence holds, before a real
      // WindowOpen: nothing after it is trusted.
      [&](PluginHost& p) {
        LV2_Atom_Object o{{sizeof(LV2_Atom_Object_Body), ids->_atom_Object}, {0, ids->_window_open}};
        p.control().append(&o, sizeof o);
        auto* ev = reinterpret_cast<LV2_Atom_Event*>(LV2_ATOM_CONTENTS(LV2_Atom_Sequence, p.control().seq()));
        ev->body.size = 0x7ffffff0u;
      },
      // A sequence truncated inside its event header.
      [&](PluginHost& p) {
        LV2_Atom_Object o{{sizeof(LV2_Atom_Object_Body), ids->_atom_Object}, {0, ids->_window_open}};
        p.control().append(&o, sizeof o);
        p.control().seq()->atom.size = sizeof(LV2_Atom_Sequence_Body) + 12;
      },
      // A buffer that is not a sequence at all.
      [&](PluginHost& p) {
        LV2_Atom_Object o{{sizeof(LV2_Atom_Object_Body), ids->_atom_Object}, {0, ids->_window_open}};
        p.control().append(&o, sizeof o);
        p.control().seq()->atom.type = ids->_atom_Float;
      },
      // Random bytes as events.
      [&](PluginHost& p) {
        uint8_t bytes[200];
        for (auto& b : bytes) {
          b = static_cast<uint8_t>(rng());
        }
        p.control().append(bytes, sizeof bytes);
      },
  };
  for (std::size_t i = 0; i < messages.size(); ++i) {
    PluginHost p(kRate, windowed());
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(garbage_runs(p, messages[i]), 0u) << "message " << i;
  }
}

TEST(WindowFrames, HostWithoutUridMapPlaysAndSendsNothing)
{
  const auto x = test_signal(9600);
  PluginHost plain(kRate, 512);
  PluginHost unmapped(kRate, 512);
  ASSERT_TRUE(plain.ok() && unmapped.ok());
  AtomBuffer control(256), notify(4096);
  TestUridMap map;  // the host's own numbering, which the plug-in never saw
  control.clear_input(map.ids());
  send_window_message(control, map.ids(), true);
  unmapped.connect(MORVANE_CONTROL, control.seq());
  unmapped.connect(MORVANE_NOTIFY, notify.seq());
  notify.prepare_output(map.ids());
  const uint32_t before = notify.seq()->atom.size;
  const auto a = plain.process(x, 512);
  const auto b = unmapped.process(x, 512);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
  EXPECT_EQ(notify.seq()->atom.size, before);  // untouched: no frame
  EXPECT_TRUE(notify.guard_intact());
}
