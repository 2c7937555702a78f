// SPDX-License-Identifier: LGPL-2.1-or-later
// morvane.vst3 and morvane-stereo.vst3 in the tests' VST3 host, held to the
// LV2 plug-ins as lilv finds and runs them: the factory and parameters
// against the Turtle, the programs against presets.ttl, and the audio, bit
// for bit, against the LV2 plug-in given the same controls, input, block
// splits, song positions and random seed.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/port-props/port-props.h>
#include <lv2/time/time.h>

#include "plugin_host.h"
#include "presets.h"
#include "shaken_controls.h"
#include "song_positions.h"
#include "vst3_host.h"

namespace {

constexpr double kRate = 48000.0;

const LilvPlugin* lv2_plugin(bool stereo)
{
  return stereo ? LilvTestWorld::get().stereo_plugin() : LilvTestWorld::get().plugin();
}

uint32_t num_controls(bool stereo) { return stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS; }

std::string text(const int16_t* s)
{
  std::string out;
  for (; *s != 0; ++s) {
    out += static_cast<char>(*s);
  }
  return out;
}

std::vector<int16_t> utf16(const char* s)
{
  std::vector<int16_t> out(s, s + std::strlen(s) + 1);
  return out;
}

// The LV2 plug-in and the VST3 one side by side on the same stereo input,
// the VST3 one's controls set by changes at the first block's start.
struct Pair {
  Pair(bool stereo_, const HostSetup& setup, const Controls& controls)
      : stereo(stereo_), lv2(kRate, setup), vst3(stereo_)
  {
    lv2.controls() = controls;
    ok = lv2.ok() && vst3.ok() && vst3.activate(kRate, static_cast<int32_t>(setup.max_block), setup.seed);
    for (uint32_t row = 0; ok && row < num_controls(stereo); ++row) {
      set(0, morvane_controls[row]._port, controls[row]);
    }
    in_l = test_signal(1 << 17);
    in_r = test_signal(1 << 17, 61000.0);  // other pitches on the right
  }
  void set(int32_t offset, uint32_t port, double plain) { vst3.param(offset, port, vst3.normalized(port, plain)); }
  // The next n samples through the VST3 plug-in alone, into out_l/out_r.
  void run_vst3(uint32_t n)
  {
    out_l.assign(n, NAN);
    out_r.assign(n, NAN);
    ASSERT_EQ(vst3.process(&in_l[pos], &in_r[pos], out_l.data(), out_r.data(), static_cast<int32_t>(n)), V3_OK);
  }
  // The next n samples through both.
  void run(uint32_t n)
  {
    std::copy_n(in_l.begin() + pos, n, lv2.in_l().begin());
    std::copy_n(in_r.begin() + pos, n, lv2.in_r().begin());
    lv2.run(n);
    run_vst3(n);
    pos += n;
  }
  bool same(uint32_t n, const float* l, const float* r) const
  {
    return std::memcmp(out_l.data(), l, n * sizeof(float)) == 0 && std::memcmp(out_r.data(), r, n * sizeof(float)) == 0;
  }
  bool same(uint32_t n) { return same(n, lv2.out_l().data(), lv2.out_r().data()); }
  bool stereo;
  PluginHost lv2;
  Vst3Instance vst3;
  bool ok = false;
  std::vector<float> in_l, in_r, out_l, out_r;
  std::size_t pos = 0;
};

}  // namespace

// Class ids are fixed forever: projects find their plug-ins by them.
TEST(Vst3Plugin, FactoriesHoldOneClassEachNamedAsTheLv2Twins)
{
  const char* const uids[2] = {"15B45EB5197868731E9F74AB987CEB42", "B0C57C38BCD12C074404EB331B1A63E0"};
  for (bool stereo : {false, true}) {
    v3_plugin_factory** f = vst3_test_factory(stereo);
    ASSERT_NE(f, nullptr);
    v3_factory_info fi{};
    ASSERT_EQ(v3_cpp_obj(f)->get_factory_info(f, &fi), V3_OK);
    EXPECT_STREQ(fi.vendor, "morvane developers");
    ASSERT_EQ(v3_cpp_obj(f)->num_classes(f), 1);
    v3_plugin_factory_2** f2 = nullptr;
    ASSERT_EQ(v3_cpp_obj_query_interface(f, v3_plugin_factory_2_iid, &f2), V3_OK);
    v3_class_info_2 info{};
    ASSERT_EQ(v3_cpp_obj(f2)->get_class_info_2(f2, 0, &info), V3_OK);
    EXPECT_EQ(v3_cpp_obj(f2)->get_class_info_2(f2, 1, &info), V3_INVALID_ARG);
    char uid[33];
    for (int i = 0; i < 16; ++i) {
      std::snprintf(uid + 2 * i, 3, "%02X", info.class_id[i]);
    }
    EXPECT_STREQ(uid, uids[stereo]);
    LilvNode* name = lilv_plugin_get_name(lv2_plugin(stereo));
    EXPECT_STREQ(info.name, lilv_node_as_string(name));
    lilv_node_free(name);
    EXPECT_STREQ(info.category, "Audio Module Class");
    EXPECT_STREQ(info.sub_categories, "Fx");
    EXPECT_STREQ(info.version, MORVANE_PROJECT_VERSION);

    // A single component: no controller class; stereo buses, 32-bit only.
    Vst3Instance vst3(stereo);
    ASSERT_TRUE(vst3.ok());
    v3_tuid none;
    EXPECT_NE(vst3.component()->get_controller_class_id(vst3.component_self(), none), V3_OK);
    for (int32_t dir : {V3_INPUT, V3_OUTPUT}) {
      v3_bus_info bus{};
      ASSERT_EQ(vst3.component()->get_bus_count(vst3.component_self(), V3_AUDIO, dir), 1);
      ASSERT_EQ(vst3.component()->get_bus_info(vst3.component_self(), V3_AUDIO, dir, 0, &bus), V3_OK);
      EXPECT_EQ(bus.channel_count, 2);
      EXPECT_EQ(vst3.component()->get_bus_count(vst3.component_self(), V3_EVENT, dir), 0);
    }
    v3_speaker_arrangement five = 0x3F, stereo_arr = V3_SPEAKER_L | V3_SPEAKER_R;
    EXPECT_NE(vst3.processor()->set_bus_arrangements(vst3.processor_self(), &five, 1, &stereo_arr, 1), V3_OK);
    EXPECT_EQ(vst3.processor()->set_bus_arrangements(vst3.processor_self(), &stereo_arr, 1, &stereo_arr, 1), V3_OK);
    EXPECT_EQ(vst3.processor()->can_process_sample_size(vst3.processor_self(), V3_SAMPLE_32), V3_OK);
    EXPECT_NE(vst3.processor()->can_process_sample_size(vst3.processor_self(), V3_SAMPLE_64), V3_OK);
  }
}

TEST(Vst3Plugin, ParametersAreTheTurtlesControlPortsThenTheProgramChange)
{
  LilvTestWorld& w = LilvTestWorld::get();
  const LilvNode* control = w.uri(LV2_CORE__ControlPort);
  const LilvNode* input = w.uri(LV2_CORE__InputPort);
  const LilvNode* not_on_gui = w.uri(LV2_PORT_PROPS__notOnGUI);
  const LilvNode* logarithmic = w.uri(LV2_PORT_PROPS__logarithmic);
  const LilvNode* enumeration = w.uri(LV2_CORE__enumeration);
  for (bool stereo : {false, true}) {
    const LilvPlugin* plugin = lv2_plugin(stereo);
    Vst3Instance vst3(stereo);
    ASSERT_TRUE(vst3.ok());
    v3_edit_controller* c = vst3.controller();
    void* self = vst3.controller_self();
    const auto plain = [&](uint32_t id, double n) { return c->normalised_parameter_to_plain(self, id, n); };
    int32_t k = 0;
    for (uint32_t index = 0; index < lilv_plugin_get_num_ports(plugin); ++index) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
      if (!lilv_port_is_a(plugin, port, control) || !lilv_port_is_a(plugin, port, input)) {
        continue;
      }
      v3_param_info info{};
      ASSERT_EQ(c->get_parameter_info(self, k++, &info), V3_OK) << index;
      EXPECT_EQ(info.param_id, index);
      LilvNode* name = lilv_port_get_name(plugin, port);
      EXPECT_EQ(text(info.title), lilv_node_as_string(name));
      lilv_node_free(name);
      LilvNode *def, *min, *max;
      lilv_port_get_range(plugin, port, &def, &min, &max);
      EXPECT_EQ(static_cast<float>(plain(index, info.default_normalised_value)), lilv_node_as_float(def)) << index;
      EXPECT_EQ(static_cast<float>(vst3.value(index)), lilv_node_as_float(def)) << index;
      EXPECT_EQ(static_cast<float>(plain(index, 0.0)), lilv_node_as_float(min)) << index;
      EXPECT_EQ(static_cast<float>(plain(index, 1.0)), lilv_node_as_float(max)) << index;
      if (lilv_port_has_property(plugin, port, logarithmic)) {
        const double mid = std::sqrt(lilv_node_as_float(min) * static_cast<double>(lilv_node_as_float(max)));
        EXPECT_NEAR(plain(index, 0.5), mid, mid * 1e-9) << index;
      } else if (info.step_count == 0) {
        EXPECT_NEAR(plain(index, 0.25), 0.75 * lilv_node_as_float(min) + 0.25 * lilv_node_as_float(max), 1e-9);
      }
      EXPECT_EQ((info.flags & V3_PARAM_IS_HIDDEN) != 0, lilv_port_has_property(plugin, port, not_on_gui)) << index;
      EXPECT_TRUE(info.flags & V3_PARAM_CAN_AUTOMATE);
      // An enumeration of whole numbers steps through them; its points are
      // its labels, both ways.
      LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
      bool whole = lilv_port_has_property(plugin, port, enumeration);
      LILV_FOREACH (scale_points, it, points) {
        const LilvScalePoint* p = lilv_scale_points_get(points, it);
        const double value = lilv_node_as_float(lilv_scale_point_get_value(p));
        whole = whole && value == std::round(value);
        const char* label = lilv_node_as_string(lilv_scale_point_get_label(p));
        v3_str_128 shown{};
        EXPECT_EQ(c->get_parameter_string_for_value(self, index, vst3.normalized(index, value), shown), V3_OK);
        EXPECT_EQ(text(shown), label) << index;
        double back = NAN;
        EXPECT_EQ(c->get_parameter_value_for_string(self, index, utf16(label).data(), &back), V3_OK);
        EXPECT_EQ(static_cast<float>(plain(index, back)), static_cast<float>(value)) << label;
      }
      EXPECT_EQ(info.step_count, whole ? lilv_scale_points_size(points) - 1 : 0) << index;
      lilv_scale_points_free(points);
      lilv_node_free(def);
      lilv_node_free(min);
      lilv_node_free(max);
    }
    ASSERT_EQ(c->get_parameter_count(self), k + 1);
    v3_param_info program{};
    ASSERT_EQ(c->get_parameter_info(self, k, &program), V3_OK);
    EXPECT_TRUE((program.flags & V3_PARAM_PROGRAM_CHANGE) && (program.flags & V3_PARAM_IS_LIST));
    EXPECT_GE(program.param_id, lilv_plugin_get_num_ports(plugin));
    EXPECT_EQ(program.step_count, static_cast<int32_t>(load_presets(stereo).size()) - 1);
    EXPECT_NE(c->get_parameter_info(self, k + 1, &program), V3_OK);
  }
}

// Irregular blocks, a re-activation at the same rate with another seed
// (the engines are kept, as the LV2 instance's activate keeps them).
TEST(Vst3Plugin, SameBitsAsLv2ForMonoAndStereoThroughIrregularBlocks)
{
  for (bool stereo : {false, true}) {
    Pair pair(stereo, HostSetup{.max_block = 4096, .stereo = stereo, .seed = 11}, shaken_controls());
    ASSERT_TRUE(pair.ok);
    int block = 0;
    for (uint32_t n : {1u, 64u, 333u, 4096u, 17u, 1000u, 512u, 2048u, 7u, 4096u, 999u}) {
      pair.run(n);
      ASSERT_TRUE(pair.same(n)) << (stereo ? "stereo" : "mono") << " block " << block++;
    }
    pair.vst3.deactivate();
    ASSERT_TRUE(pair.vst3.activate(kRate, 4096, 12345));
    lilv_instance_deactivate(pair.lv2.instance());
    lilv_instance_activate(pair.lv2.instance());
    for (uint32_t n : {300u, 4096u, 31u}) {
      pair.run(n);
      ASSERT_TRUE(pair.same(n)) << (stereo ? "stereo" : "mono") << " after re-activation, block " << block++;
    }
  }
}

// Points in the middle of a block, two at one sample, one on the last
// sample, one of a parameter the mono plug-in lacks: the LV2 plug-in is
// run up to each and then set.
TEST(Vst3Plugin, AutomationPointsTakeEffectAtTheirSample)
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
    pair.set(300, MORVANE_LFO_SHAKE_AMP_AMOUNT, 10.0);
    pair.set(300, MORVANE_LFO_SHAKE_FREQ_AMP, 1.2);
    pair.set(1500, MORVANE_GAIN, -20.0);
    pair.vst3.param(1500, MORVANE_STEREO_MODE, 1.0);
    pair.set(2047, MORVANE_GAIN, 6.0);
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
    pair.run_vst3(2048);
    EXPECT_TRUE(pair.same(2048, want_l.data(), want_r.data())) << stereo;
    EXPECT_EQ(pair.vst3.value(MORVANE_GAIN), 6.0);
  }
}

// Every control away from its default is saved in the shells' one format
// (read here as documented: "MRVN", version 1, count, then port and float
// bits); changed, then loaded back; a new instance loading it plays the
// same bits; a cut stream is refused and changes nothing.
TEST(Vst3Plugin, StateSavesAndRestoresEveryControl)
{
  Vst3Instance a(true);
  ASSERT_TRUE(a.ok() && a.activate(kRate, 4096, 9));
  std::vector<float> saved(MORVANE_NUM_STEREO_CONTROLS);
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    const morvane_control& c = morvane_controls[row];
    saved[row] = c._num_points > 0 ? c._points[c._num_points - 1]._value
                                   : static_cast<float>(c._min + 0.37 * (c._max - c._min));
    a.param(0, c._port, a.normalized(c._port, saved[row]));
  }
  const std::vector<float> in = test_signal(4096);
  std::vector<float> a_l(4096), a_r(4096), b_l(4096), b_r(4096);
  ASSERT_EQ(a.process(in.data(), in.data(), a_l.data(), a_r.data(), 0), V3_OK);
  const std::vector<uint8_t> state = a.save();
  ASSERT_EQ(state.size(), 12u + 8u * MORVANE_NUM_STEREO_CONTROLS);
  EXPECT_EQ(0, std::memcmp(state.data(), "MRVN\1\0\0\0", 8));
  EXPECT_EQ(state[8], MORVANE_NUM_STEREO_CONTROLS);
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    const uint8_t* e = &state[12 + 8 * row];
    uint32_t port = 0, bits = 0;
    for (int i = 3; i >= 0; --i) {
      port = port << 8 | e[i];
      bits = bits << 8 | e[4 + i];
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    EXPECT_EQ(port, morvane_controls[row]._port);
    EXPECT_EQ(value, saved[row]) << morvane_controls[row]._symbol;
  }
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    a.param(0, morvane_controls[row]._port, 1.0);
  }
  ASSERT_EQ(a.process(in.data(), in.data(), a_l.data(), a_r.data(), 0), V3_OK);
  EXPECT_EQ(a.value(MORVANE_GAIN), morvane_controls[0]._max);
  ASSERT_TRUE(a.load(state));
  Vst3Instance b(true);
  ASSERT_TRUE(b.ok() && b.load(state));
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    const uint32_t port = morvane_controls[row]._port;
    EXPECT_EQ(static_cast<float>(a.value(port)), saved[row]) << morvane_controls[row]._symbol;
    EXPECT_EQ(static_cast<float>(b.value(port)), saved[row]) << morvane_controls[row]._symbol;
  }
  a.deactivate();
  ASSERT_TRUE(a.activate(kRate, 4096, 9) && b.activate(kRate, 4096, 9));
  a.process(in.data(), in.data(), a_l.data(), a_r.data(), 4096);
  b.process(in.data(), in.data(), b_l.data(), b_r.data(), 4096);
  EXPECT_EQ(0, std::memcmp(a_l.data(), b_l.data(), sizeof(float) * 4096));
  EXPECT_EQ(0, std::memcmp(a_r.data(), b_r.data(), sizeof(float) * 4096));
  Vst3Instance c(true);
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(c.load(std::vector<uint8_t>(state.begin(), state.end() - 3)));
  EXPECT_EQ(c.value(MORVANE_GAIN), morvane_controls[0]._default);
}

// The programs are the presets lilv finds for each plug-in, by label, the
// stereo one only in the stereo plug-in. Chosen through the processor, a
// program sets every control its preset holds and reports them as output
// changes; chosen on the controller, it hands each to the host as an edit,
// and asks for no restart.
TEST(Vst3Plugin, ProgramsGiveTheValuesOfTheFactoryPresets)
{
  for (bool stereo : {false, true}) {
    const std::vector<LoadedPreset> presets = load_presets(stereo);
    ASSERT_EQ(presets.size(), stereo ? 10u : 9u);
    Vst3Instance vst3(stereo);
    ASSERT_TRUE(vst3.ok() && vst3.activate(kRate, 512, 1));
    v3_program_list_info list{};
    ASSERT_EQ(vst3.units()->get_program_list_info(vst3.units_self(), 0, &list), V3_OK);
    ASSERT_EQ(list.programCount, static_cast<int32_t>(presets.size()));
    v3_param_info info{};
    ASSERT_EQ(vst3.controller()->get_parameter_info(vst3.controller_self(), static_cast<int32_t>(num_controls(stereo)),
                                                    &info),
              V3_OK);
    const v3_param_id program_id = info.param_id;
    std::vector<float> in(512), out_l(512), out_r(512);
    const double last = static_cast<double>(presets.size() - 1);
    for (int32_t k = 0; k < list.programCount; ++k) {
      v3_str_128 name{};
      ASSERT_EQ(vst3.units()->get_program_name(vst3.units_self(), 0, k, name), V3_OK);
      const LoadedPreset* preset = nullptr;
      for (const LoadedPreset& p : presets) {
        preset = p.label == text(name) ? &p : preset;
      }
      ASSERT_NE(preset, nullptr) << text(name);
      ASSERT_FALSE(preset->values.empty());
      // Through the processor, after a change of every control.
      for (uint32_t row = 0; row < num_controls(stereo); ++row) {
        vst3.param(0, morvane_controls[row]._port, 0.5);
      }
      vst3.param(100, program_id, k / last);
      ASSERT_EQ(vst3.process(in.data(), in.data(), out_l.data(), out_r.data(), 512), V3_OK);
      EXPECT_EQ(vst3.outputs.size(), preset->values.size());
      for (const auto& [symbol, value] : preset->values) {
        const uint32_t port = morvane_controls[control_index(symbol, stereo)]._port;
        EXPECT_EQ(static_cast<float>(vst3.value(port)), value) << preset->label << " " << symbol;
      }
      // On the controller, the edits the host is handed.
      vst3.edits.clear();
      vst3.restarts = 0;
      const int32_t other = k == 0 ? 1 : 0;
      ASSERT_EQ(vst3.controller()->set_parameter_normalised(vst3.controller_self(), program_id,
                                                            other / last),
                V3_OK);
      vst3.edits.clear();
      ASSERT_EQ(vst3.controller()->set_parameter_normalised(vst3.controller_self(), program_id,
                                                            k / last),
                V3_OK);
      EXPECT_EQ(vst3.restarts, 0) << "a restart asked from setParamNormalized (Ardour holds a lock there)";
      ASSERT_EQ(vst3.edits.size(), preset->values.size());
      for (const auto& [id, normalized] : vst3.edits) {
        const morvane_control& c = morvane_controls[control_row(id)];
        EXPECT_EQ(static_cast<float>(vst3.controller()->normalised_parameter_to_plain(vst3.controller_self(), id,
                                                                                       normalized)),
                  preset->values.at(c._symbol))
            << preset->label << " " << c._symbol;
      }
    }
  }
}

namespace {

// The time:Position an LV2 host sends for the context c: speed, quarter
// note beats and tempo, the frame, the bar and the beat in it.
Position lv2_position(const v3_process_context& c)
{
  return Position(LilvTestWorld::get().urids(),
                  {{LV2_TIME__speed, (c.state & V3_PROCESS_CTX_PLAYING) ? 1.0 : 0.0, 'f'},
                   {LV2_TIME__beatUnit, 4, 'i'},
                   {LV2_TIME__frame, static_cast<double>(c.project_time_in_samples), 'd'},
                   {LV2_TIME__beatsPerMinute, c.bpm, 'd'},
                   {LV2_TIME__beatsPerBar, 4.0, 'd'},
                   {LV2_TIME__beat, c.project_time_quarters, 'd'},
                   {LV2_TIME__bar, std::floor(c.project_time_quarters / 4.0), 'l'},
                   {LV2_TIME__barBeat, c.project_time_quarters - c.bar_position_quarters, 'd'}});
}

}  // namespace

// The amplitude LFO in Tempo and the frequency LFO in Song, the song
// rolling at 100 bpm with the context on every block (forwarded when it
// says something new), a locate, a stop and a restart elsewhere: the LV2
// plug-in gets the same positions at the same blocks, as LV2 hosts send
// them.
TEST(Vst3Plugin, ProcessContextLocksTheLfosToTheSongAsLv2Positions)
{
  Pair pair(false, HostSetup{.max_block = 1024, .seed = 3, .offer_urid_map = true, .connect_atom_ports = true},
            song_locked_controls());
  ASSERT_TRUE(pair.ok);
  int64_t samples = 576000;
  double quarters = 20.0;
  const double bpm = 100.0;
  bool playing = true;
  const uint32_t blocks[] = {256, 1000, 77, 1024, 512};
  for (int b = 0; b < 60; ++b) {
    const uint32_t n = blocks[b % 5];
    if (b == 20) {  // a locate
      samples = 1440000;
      quarters = 50.0;
    } else if (b == 40) {  // stop: the song stands
      playing = false;
    } else if (b == 50) {  // play again from elsewhere
      playing = true;
      samples = 144000;
      quarters = 5.0;
    }
    const v3_process_context now = vst3_context(samples, quarters, bpm, playing);
    pair.vst3.context(&now);
    if (b == 0 || b == 20 || b == 40 || b == 50) {
      const Position p = lv2_position(now);
      ASSERT_TRUE(pair.lv2.control().append(p.atom(), p.size(), 0));
    }
    pair.run(n);
    ASSERT_TRUE(pair.same(n)) << "block " << b;
    if (playing) {
      samples += n;
      quarters += n / kRate * bpm / 60.0;
    }
  }
}
