// SPDX-License-Identifier: LGPL-2.1-or-later
// morvane.clap in the tests' CLAP host, held to the LV2 plug-ins as lilv
// finds and runs them: the descriptors and parameters against the Turtle,
// and the audio, bit for bit, against the LV2 plug-in given the same
// controls, input, block sizes, song positions and random seed.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/time/time.h>

#include "clap_host.h"
#include "plugin_host.h"
#include "shaken_controls.h"
#include "song_positions.h"

namespace {

constexpr double kRate = 48000.0;
const char* const kIds[2] = {"org.example.morvane.mono", "org.example.morvane.stereo"};

const LilvPlugin* lv2_plugin(bool stereo)
{
  return stereo ? LilvTestWorld::get().stereo_plugin() : LilvTestWorld::get().plugin();
}

uint32_t num_controls(bool stereo) { return stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS; }

// Both plug-ins driven side by side on the same stereo input.
struct Pair {
  Pair(bool stereo_, const HostSetup& setup, const Controls& controls)
      : stereo(stereo_), lv2(kRate, setup), clap(kIds[stereo_])
  {
    lv2.controls() = controls;
    ok = lv2.ok() && clap.ok() && clap.activate(kRate, static_cast<uint32_t>(setup.max_block), setup.seed);
    for (uint32_t row = 0; row < num_controls(stereo); ++row) {
      clap.param(0, morvane_controls[row]._port, controls[row]);
    }
    in_l = test_signal(1 << 17);
    in_r = test_signal(1 << 17, 61000.0);  // other pitches on the right
  }
  // The next n samples through both; the CLAP events are queued before.
  void run(uint32_t n)
  {
    std::copy_n(in_l.begin() + pos, n, lv2.in_l().begin());
    std::copy_n(in_r.begin() + pos, n, lv2.in_r().begin());
    lv2.run(n);
    out_l.assign(n, NAN);
    out_r.assign(n, NAN);
    ASSERT_EQ(clap.process(&in_l[pos], &in_r[pos], out_l.data(), out_r.data(), n), CLAP_PROCESS_CONTINUE);
    pos += n;
  }
  // Whether the last n samples were the same bits.
  bool same(uint32_t n)
  {
    return std::memcmp(out_l.data(), lv2.out_l().data(), n * sizeof(float)) == 0 &&
           std::memcmp(out_r.data(), lv2.out_r().data(), n * sizeof(float)) == 0;
  }
  bool stereo;
  PluginHost lv2;
  ClapInstance clap;
  bool ok = false;
  std::vector<float> in_l, in_r, out_l, out_r;
  std::size_t pos = 0;
};

}  // namespace

TEST(ClapPlugin, DescriptorsAndAudioPortsAreTheLv2Twins)
{
  const clap_plugin_factory_t* f = clap_test_factory();
  ASSERT_NE(f, nullptr) << "cannot load " << MORVANE_CLAP_FILE;
  ASSERT_EQ(f->get_plugin_count(f), 2u);
  EXPECT_EQ(f->get_plugin_descriptor(f, 2), nullptr);
  EXPECT_FALSE(ClapInstance("org.example.morvane.none").ok());
  for (bool stereo : {false, true}) {
    const clap_plugin_descriptor_t* d = f->get_plugin_descriptor(f, stereo);
    EXPECT_STREQ(d->id, kIds[stereo]);
    LilvNode* name = lilv_plugin_get_name(lv2_plugin(stereo));
    EXPECT_STREQ(d->name, lilv_node_as_string(name));
    lilv_node_free(name);
    EXPECT_STREQ(d->version, MORVANE_PROJECT_VERSION);
    ClapInstance clap(kIds[stereo]);
    ASSERT_TRUE(clap.ok());
    for (bool input : {true, false}) {
      clap_audio_port_info_t info{};
      ASSERT_EQ(clap.audio_ports()->count(clap.plugin(), input), 1u);
      ASSERT_TRUE(clap.audio_ports()->get(clap.plugin(), 0, input, &info));
      EXPECT_EQ(info.channel_count, 2u);
      EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
    }
  }
}

TEST(ClapPlugin, ParametersAreTheTurtlesControlPortsInPortOrder)
{
  LilvTestWorld& w = LilvTestWorld::get();
  const LilvNode* control = w.uri(LV2_CORE__ControlPort);
  const LilvNode* input = w.uri(LV2_CORE__InputPort);
  const LilvNode* not_on_gui = w.uri("http://lv2plug.in/ns/ext/port-props#notOnGUI");
  for (bool stereo : {false, true}) {
    const LilvPlugin* plugin = lv2_plugin(stereo);
    ClapInstance clap(kIds[stereo]);
    ASSERT_TRUE(clap.ok());
    const clap_plugin_params_t* params = clap.params();
    uint32_t k = 0;
    for (uint32_t index = 0; index < lilv_plugin_get_num_ports(plugin); ++index) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
      if (!lilv_port_is_a(plugin, port, control) || !lilv_port_is_a(plugin, port, input)) {
        continue;
      }
      clap_param_info_t info{};
      ASSERT_TRUE(params->get_info(clap.plugin(), k++, &info)) << index;
      EXPECT_EQ(info.id, index);
      LilvNode* name = lilv_port_get_name(plugin, port);
      EXPECT_STREQ(info.name, lilv_node_as_string(name));
      lilv_node_free(name);
      LilvNode *def, *min, *max;
      lilv_port_get_range(plugin, port, &def, &min, &max);
      EXPECT_EQ(info.default_value, lilv_node_as_float(def)) << index;
      EXPECT_EQ(info.min_value, lilv_node_as_float(min)) << index;
      EXPECT_EQ(info.max_value, lilv_node_as_float(max)) << index;
      EXPECT_EQ(clap.value(index), lilv_node_as_float(def)) << index;
      lilv_node_free(def);
      lilv_node_free(min);
      lilv_node_free(max);
      EXPECT_EQ((info.flags & CLAP_PARAM_IS_HIDDEN) != 0, lilv_port_has_property(plugin, port, not_on_gui)) << index;
      // Every scale point shows as its label and reads back from it.
      LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
      LILV_FOREACH (scale_points, it, points) {
        const LilvScalePoint* p = lilv_scale_points_get(points, it);
        const double value = lilv_node_as_float(lilv_scale_point_get_value(p));
        const char* label = lilv_node_as_string(lilv_scale_point_get_label(p));
        char text[64] = {};
        double back = NAN;
        EXPECT_TRUE(params->value_to_text(clap.plugin(), index, value, text, sizeof text));
        EXPECT_STREQ(text, label) << index;
        EXPECT_TRUE(params->text_to_value(clap.plugin(), index, label, &back));
        EXPECT_EQ(back, value) << label;
      }
      lilv_scale_points_free(points);
    }
    EXPECT_EQ(params->count(clap.plugin()), k);
    clap_param_info_t none{};
    EXPECT_FALSE(params->get_info(clap.plugin(), k, &none));
  }
}

// Irregular blocks, and a re-activation at the same rate with another seed
// in the C library's generator: the engines are kept, as the LV2
// instance's activate keeps them; at another rate they are made anew.
TEST(ClapPlugin, SameBitsAsLv2ForMonoAndStereoThroughBlocksAndReactivation)
{
  for (bool stereo : {false, true}) {
    Pair pair(stereo, HostSetup{.max_block = 4096, .stereo = stereo, .seed = 11}, shaken_controls());
    ASSERT_TRUE(pair.ok);
    int block = 0;
    for (uint32_t n : {1u, 64u, 333u, 4096u, 17u, 1000u, 512u, 2048u, 7u, 4096u, 4096u, 999u}) {
      pair.run(n);
      ASSERT_TRUE(pair.same(n)) << (stereo ? "stereo" : "mono") << " block " << block++;
    }
    pair.clap.deactivate();
    ASSERT_TRUE(pair.clap.activate(kRate, 4096, 12345));
    lilv_instance_deactivate(pair.lv2.instance());
    lilv_instance_activate(pair.lv2.instance());
    for (uint32_t n : {300u, 4096u, 31u, 4000u}) {
      pair.run(n);
      ASSERT_TRUE(pair.same(n)) << (stereo ? "stereo" : "mono") << " after re-activation, block " << block++;
    }
    // At another rate the engines are made anew, drawing after srand.
    pair.clap.deactivate();
    ASSERT_TRUE(pair.clap.activate(44100.0, 4096, 77));
    PluginHost lv2_44k(44100.0, HostSetup{.max_block = 4096, .stereo = stereo, .seed = 77});
    lv2_44k.controls() = shaken_controls();
    lv2_44k.in_l().assign(pair.in_l.begin(), pair.in_l.begin() + 4096);
    lv2_44k.in_r().assign(pair.in_r.begin(), pair.in_r.begin() + 4096);
    lv2_44k.run(4096);
    std::vector<float> out_l(4096), out_r(4096);
    pair.clap.process(pair.in_l.data(), pair.in_r.data(), out_l.data(), out_r.data(), 4096);
    EXPECT_EQ(0, std::memcmp(out_l.data(), lv2_44k.out_l().data(), sizeof(float) * 4096)) << stereo << " at 44.1 kHz";
    EXPECT_EQ(0, std::memcmp(out_r.data(), lv2_44k.out_r().data(), sizeof(float) * 4096)) << stereo << " at 44.1 kHz";
  }
}

// Events in the middle of a block, some at the same sample, one on the
// block's last sample: the LV2 plug-in run up to each, then set.
TEST(ClapPlugin, ParameterEventsTakeEffectAtTheirSample)
{
  for (bool stereo : {false, true}) {
    Pair pair(stereo, HostSetup{.max_block = 2048, .stereo = stereo, .seed = 5}, shaken_controls());
    ASSERT_TRUE(pair.ok);
    pair.run(2048);
    ASSERT_TRUE(pair.same(2048));
    PluginHost& lv2 = pair.lv2;
    std::vector<float> want_l, want_r;
    auto lv2_run = [&](uint32_t from, uint32_t to) {
      append_lv2_stretch(lv2, &pair.in_l[pair.pos], &pair.in_r[pair.pos], from, to, want_l, want_r);
    };
    pair.clap.param(300, MORVANE_LFO_SHAKE_AMP_AMOUNT, 10.0);
    pair.clap.param(300, MORVANE_LFO_SHAKE_FREQ_AMP, 1.2);
    pair.clap.param(1500, MORVANE_GAIN, -20.0);
    pair.clap.param(1500, MORVANE_STEREO_MODE, 1.0);  // no parameter of the mono plug-in: passed over
    pair.clap.param(2047, MORVANE_GAIN, 6.0);
    lv2_run(0, 300);
    lv2.controls()[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 10.0f;
    lv2.controls()[MORVANE_LFO_SHAKE_FREQ_AMP] = 1.2f;
    lv2_run(300, 1500);
    lv2.controls()[MORVANE_GAIN] = -20.0f;
    if (stereo) {
      lv2.controls()[control_row(MORVANE_STEREO_MODE)] = 1.0f;
    }
    lv2_run(1500, 2047);
    lv2.controls()[MORVANE_GAIN] = 6.0f;
    lv2_run(2047, 2048);
    std::vector<float> out_l(2048), out_r(2048);
    ASSERT_EQ(pair.clap.process(&pair.in_l[pair.pos], &pair.in_r[pair.pos], out_l.data(), out_r.data(), 2048),
              CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(0, std::memcmp(out_l.data(), want_l.data(), 2048 * sizeof(float))) << stereo;
    EXPECT_EQ(0, std::memcmp(out_r.data(), want_r.data(), 2048 * sizeof(float))) << stereo;
    EXPECT_EQ(pair.clap.value(MORVANE_GAIN), 6.0);
  }
}

// Every control away from its default, saved; changed; the state loaded
// back restores each; a new instance loading it plays the same bits as the
// one saved; a cut stream is refused and changes nothing.
TEST(ClapPlugin, StateSavesAndRestoresEveryControl)
{
  ClapInstance a(kIds[1]);
  ASSERT_TRUE(a.ok());
  std::vector<double> saved(MORVANE_NUM_STEREO_CONTROLS);
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    const morvane_control& c = morvane_controls[row];
    saved[row] = c._num_points > 0 ? c._points[c._num_points - 1]._value
                                   : static_cast<float>(c._min + 0.37 * (c._max - c._min));
    a.param(0, c._port, saved[row]);
  }
  a.flush();
  const std::vector<uint8_t> state = a.save();
  ASSERT_FALSE(state.empty());
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    a.param(0, morvane_controls[row]._port, morvane_controls[row]._max);
  }
  a.flush();
  ASSERT_TRUE(a.load(state));
  ClapInstance b(kIds[1]);
  ASSERT_TRUE(b.ok() && b.load(state));
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    EXPECT_EQ(a.value(morvane_controls[row]._port), saved[row]) << morvane_controls[row]._symbol;
    EXPECT_EQ(b.value(morvane_controls[row]._port), saved[row]) << morvane_controls[row]._symbol;
  }
  ASSERT_TRUE(a.activate(kRate, 4096, 9) && b.activate(kRate, 4096, 9));
  const std::vector<float> in = test_signal(4096);
  std::vector<float> a_l(4096), a_r(4096), b_l(4096), b_r(4096);
  a.process(in.data(), in.data(), a_l.data(), a_r.data(), 4096);
  b.process(in.data(), in.data(), b_l.data(), b_r.data(), 4096);
  EXPECT_EQ(0, std::memcmp(a_l.data(), b_l.data(), sizeof(float) * 4096));
  EXPECT_EQ(0, std::memcmp(a_r.data(), b_r.data(), sizeof(float) * 4096));
  ClapInstance c(kIds[1]);
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(c.load(std::vector<uint8_t>(state.begin(), state.end() - 3)));
  EXPECT_EQ(c.value(MORVANE_GAIN), morvane_controls[0]._default);
}

namespace {

// The time:Position an LV2 host sends for the CLAP transport t: speed,
// quarter-note beats and tempo, the frame of its seconds.
Position lv2_position(const clap_event_transport_t& t)
{
  const double beats = static_cast<double>(t.song_pos_beats) / CLAP_BEATTIME_FACTOR;
  return Position(LilvTestWorld::get().urids(),
                  {{LV2_TIME__speed, (t.flags & CLAP_TRANSPORT_IS_PLAYING) ? 1.0 : 0.0, 'f'},
                   {LV2_TIME__beatUnit, 4, 'i'},
                   {LV2_TIME__frame, static_cast<double>(t.song_pos_seconds) / CLAP_SECTIME_FACTOR * kRate, 'd'},
                   {LV2_TIME__beatsPerMinute, t.tempo, 'd'},
                   {LV2_TIME__beatsPerBar, 4.0, 'd'},
                   {LV2_TIME__beat, beats, 'd'},
                   {LV2_TIME__bar, static_cast<double>(t.bar_number), 'l'},
                   {LV2_TIME__barBeat, beats - static_cast<double>(t.bar_start) / CLAP_BEATTIME_FACTOR, 'd'}});
}

}  // namespace

// The amplitude LFO in Tempo and the frequency LFO in Song, the song
// rolling at 100 bpm: the host's transport on every block (forwarded only
// when it says something new), a locate inside a block, a stop and a
// restart elsewhere; the LV2 plug-in gets the same positions at the same
// samples, as LV2 hosts send them.
TEST(ClapPlugin, TransportLocksTheLfosToTheSongAsLv2Positions)
{
  Pair pair(false, HostSetup{.max_block = 1024, .seed = 3, .offer_urid_map = true, .connect_atom_ports = true},
            song_locked_controls());
  ASSERT_TRUE(pair.ok);
  double seconds = 12.0, beats = 20.0;
  const double bpm = 100.0;
  bool playing = true;
  const uint32_t blocks[] = {256, 1000, 77, 1024, 512};
  for (int b = 0; b < 60; ++b) {
    const uint32_t n = blocks[b % 5];
    if (b == 40) {  // stop: the song stands
      playing = false;
    } else if (b == 50) {  // play again from elsewhere
      playing = true;
      seconds = 3.0;
      beats = 5.0;
    }
    const clap_event_transport_t now = clap_transport(seconds, beats, bpm, playing);
    pair.clap.block_transport(&now);
    if (b == 0 || b == 40 || b == 50) {
      const Position p = lv2_position(now);
      ASSERT_TRUE(pair.lv2.control().append(p.atom(), p.size(), 0));
    }
    const double step = playing ? n / kRate : 0.0;
    if (b == 20) {  // a locate at sample 123
      seconds = 30.0 - 123 / kRate;
      beats = 50.0 - 123 / kRate * bpm / 60.0;
      const clap_event_transport_t locate = clap_transport(30.0, 50.0, bpm, true);
      pair.clap.transport(123, locate);
      const Position p = lv2_position(locate);
      ASSERT_TRUE(pair.lv2.control().append(p.atom(), p.size(), 123));
    }
    pair.run(n);
    ASSERT_TRUE(pair.same(n)) << "block " << b;
    seconds += step;
    beats += step * bpm / 60.0;
  }
}
