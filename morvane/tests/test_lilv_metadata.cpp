// SPDX-License-Identifier: LGPL-2.1-or-later
// What a host learns from the bundle through liblilv about each of its two
// plug-ins, the mono one and the stereo one: class and features, the 37
// ports (the stereo one's 40) with the ranges the plug-in clamps to, the
// stereo one's own controls and both plug-ins' stereo port groups.
#include <cmath>
#include <cstring>
#include <map>
#include <dlfcn.h>
#include <string>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>

#include <gtest/gtest.h>

#include "inline_display.h"
#include "lilv_world.h"
#include "morvane_internal.h"

namespace {

constexpr const char* LV2_NS = "http://lv2plug.in/ns/lv2core#";
constexpr const char* UNITS_NS = "http://lv2plug.in/ns/extensions/units#";
constexpr const char* PPROPS_NS = "http://lv2plug.in/ns/ext/port-props#";
constexpr const char* PG_NS = "http://lv2plug.in/ns/ext/port-groups#";

std::string ns(const char* prefix, const char* name)
{
  return std::string(prefix) + name;
}

const LilvNode* node(const std::string& uri)
{
  return LilvTestWorld::get().uri(uri.c_str());
}

// The port table: symbol, and whether the port is a control input (c),
// audio input (i), audio output (o), atom input (m) or atom output (n).
struct ExpectedPort {
  const char* symbol;
  char kind;
};
constexpr ExpectedPort EXPECTED_PORTS[MORVANE_NUM_STEREO_PORTS] = {
  {"gain", 'c'},
  {"lfo_shake_amp_amp", 'c'}, {"lfo_shake_amp_freq", 'c'},
  {"lfo_shake_amp_amount", 'c'}, {"lfo_shake_amp_mod", 'c'},
  {"lfo_shake_freq_amp", 'c'}, {"lfo_shake_freq_freq", 'c'},
  {"lfo_shake_freq_amount", 'c'}, {"lfo_shake_freq_mod", 'c'},
  {"lfo_shake_time_amp", 'c'}, {"lfo_shake_time_freq", 'c'},
  {"lfo_shake_time_amount", 'c'}, {"lfo_shake_time_mod", 'c'},
  {"lfo_amp_range_amp", 'c'}, {"lfo_amp_range_freq", 'c'},
  {"lfo_amp_range_amount", 'c'}, {"lfo_amp_range_mod", 'c'},
  {"lfo_freq_range_amp", 'c'}, {"lfo_freq_range_freq", 'c'},
  {"lfo_freq_range_amount", 'c'}, {"lfo_freq_range_mod", 'c'},
  {"lfo_time_range_amp", 'c'}, {"lfo_time_range_freq", 'c'},
  {"lfo_time_range_amount", 'c'}, {"lfo_time_range_mod", 'c'},
  {"input_l", 'i'}, {"input_r", 'i'}, {"output_l", 'o'}, {"output_r", 'o'},
  {"control", 'm'}, {"notify", 'n'},
  {"lfo_shake_amp_sync", 'c'}, {"lfo_shake_amp_cycle", 'c'},
  {"lfo_shake_freq_sync", 'c'}, {"lfo_shake_freq_cycle", 'c'},
  {"lfo_shake_time_sync", 'c'}, {"lfo_shake_time_cycle", 'c'},
  // The stereo plug-in's alone.
  {"stereo_mode", 'c'}, {"width", 'c'}, {"lfo_offset", 'c'},
};
// The gain and the six LFOs' four ports each, before the audio ports.
constexpr uint32_t LFO_PORTS_END = MORVANE_LFO_TIME_RANGE_MOD + 1;

// What each LFO port index means within its group of four (after gain).
enum LfoField { LFO_AMP = 0, LFO_FREQ = 1, LFO_AMOUNT = 2, LFO_MOD = 3 };
LfoField lfo_field(uint32_t index) { return static_cast<LfoField>((index - 1) % 4); }
bool is_range_lfo(uint32_t index) { return index >= MORVANE_LFO_AMP_RANGE_AMP && index < LFO_PORTS_END; }

// Run for the mono plug-in (false) and for the stereo one (true).
class LilvMetadata : public ::testing::TestWithParam<bool> {
protected:
  void SetUp() override
  {
    stereo = GetParam();
    uri = stereo ? MORVANE_STEREO_URI : MORVANE_URI;
    plugin = stereo ? LilvTestWorld::get().stereo_plugin() : LilvTestWorld::get().plugin();
    num_ports = stereo ? MORVANE_NUM_STEREO_PORTS : MORVANE_NUM_PORTS;
    num_controls = stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
    ASSERT_NE(plugin, nullptr) << "no plug-in " << uri << " under " << MORVANE_TEST_LV2_PATH;
  }
  const LilvPort* port(uint32_t index) const { return lilv_plugin_get_port_by_index(plugin, index); }
  bool stereo = false;
  const char* uri = nullptr;
  const LilvPlugin* plugin = nullptr;
  uint32_t num_ports = 0;
  uint32_t num_controls = 0;
};

INSTANTIATE_TEST_SUITE_P(BothPlugins, LilvMetadata, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Stereo" : "Mono"; });

TEST_P(LilvMetadata, PluginIsFoundByUriAndVerifies)
{
  EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_get_uri(plugin)), uri);
  EXPECT_TRUE(lilv_plugin_verify(plugin));
  LilvNode* name = lilv_plugin_get_name(plugin);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(lilv_node_as_string(name), stereo ? "morvane stereo" : "morvane");
  lilv_node_free(name);
  const LilvNode* cls = lilv_plugin_class_get_uri(lilv_plugin_get_class(plugin));
  EXPECT_EQ(ns(LV2_NS, "SpectralPlugin"), lilv_node_as_uri(cls));
}

// The window's additions are all optional: a host that offers nothing
// still runs the plug-in.
TEST_P(LilvMetadata, RequiresNoFeatureAndOffersHardRealTime)
{
  LilvNodes* required = lilv_plugin_get_required_features(plugin);
  EXPECT_EQ(lilv_nodes_size(required), 0u);
  lilv_nodes_free(required);
  LilvNodes* optional = lilv_plugin_get_optional_features(plugin);
  EXPECT_TRUE(lilv_nodes_contains(optional, node(ns(LV2_NS, "hardRTCapable"))));
  EXPECT_TRUE(lilv_nodes_contains(optional, node("http://lv2plug.in/ns/ext/urid#map")));
  EXPECT_TRUE(lilv_nodes_contains(optional, node(MORVANE_INLINEDISPLAY__queue_draw)));
  lilv_nodes_free(optional);
  LilvNodes* extensions = lilv_plugin_get_extension_data(plugin);
  EXPECT_EQ(lilv_nodes_size(extensions), 1u);
  EXPECT_TRUE(lilv_nodes_contains(extensions, node(MORVANE_INLINEDISPLAY__interface)));
  lilv_nodes_free(extensions);
  const LilvNode* optional_port = node(ns(LV2_NS, "connectionOptional"));
  for (uint32_t i : {MORVANE_CONTROL, MORVANE_NOTIFY}) {
    EXPECT_TRUE(lilv_port_has_property(plugin, port(i), optional_port)) << i;
  }
}

// The window: an X11 window in its own object in the bundle.
TEST_P(LilvMetadata, OffersItsWindowAsAnX11Ui)
{
  LilvUIs* uis = lilv_plugin_get_uis(plugin);
  ASSERT_EQ(lilv_uis_size(uis), 1u);
  const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
  EXPECT_TRUE(lilv_ui_is_a(ui, node("http://lv2plug.in/ns/extensions/ui#X11UI")));
  const char* binary = lilv_node_as_uri(lilv_ui_get_binary_uri(ui));
  EXPECT_NE(std::strstr(binary, "/morvane_ui.so"), nullptr) << binary;
  lilv_uis_free(uis);
}

TEST_P(LilvMetadata, NamesMaintainerLicenseAndVersion)
{
  LilvNode* author = lilv_plugin_get_author_name(plugin);
  LilvNode* email = lilv_plugin_get_author_email(plugin);
  LilvNode* homepage = lilv_plugin_get_author_homepage(plugin);
  ASSERT_NE(author, nullptr);
  ASSERT_NE(email, nullptr);
  ASSERT_NE(homepage, nullptr);
  EXPECT_STREQ(lilv_node_as_string(author), "morvane developers");
  EXPECT_EQ(std::strncmp(lilv_node_as_uri(email), "mailto:", 7), 0);
  EXPECT_NE(std::strstr(lilv_node_as_uri(homepage), "morvane.example.org"), nullptr);
  lilv_node_free(author);
  lilv_node_free(email);
  lilv_node_free(homepage);

  LilvWorld* world = LilvTestWorld::get().world();
  const LilvNode* uri = lilv_plugin_get_uri(plugin);
  for (const char* key : {"minorVersion", "microVersion"}) {
    LilvNode* v = lilv_world_get(world, uri, node(ns(LV2_NS, key)), nullptr);
    ASSERT_NE(v, nullptr) << key;
    EXPECT_TRUE(lilv_node_is_int(v)) << key;
    EXPECT_GE(lilv_node_as_int(v), 0) << key;
    lilv_node_free(v);
  }
  LilvNode* license = lilv_world_get(world, uri, node("http://usefulinc.com/ns/doap#license"), nullptr);
  EXPECT_NE(license, nullptr);
  lilv_node_free(license);
}

TEST_P(LilvMetadata, PortsHaveTheTableIndicesSymbolsAndKinds)
{
  ASSERT_EQ(lilv_plugin_get_num_ports(plugin), num_ports);
  const LilvNode* input = node(ns(LV2_NS, "InputPort"));
  const LilvNode* output = node(ns(LV2_NS, "OutputPort"));
  const LilvNode* control = node(ns(LV2_NS, "ControlPort"));
  const LilvNode* audio = node(ns(LV2_NS, "AudioPort"));
  for (uint32_t i = 0; i < num_ports; ++i) {
    SCOPED_TRACE(EXPECTED_PORTS[i].symbol);
    const LilvPort* p = port(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(lilv_port_get_index(plugin, p), i);
    EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, p)), EXPECTED_PORTS[i].symbol);
    LilvNode* name = lilv_port_get_name(plugin, p);
    ASSERT_NE(name, nullptr);
    EXPECT_GT(std::strlen(lilv_node_as_string(name)), 3u);
    lilv_node_free(name);
    const char kind = EXPECTED_PORTS[i].kind;
    EXPECT_EQ(lilv_port_is_a(plugin, p, input), kind != 'o' && kind != 'n');
    EXPECT_EQ(lilv_port_is_a(plugin, p, output), kind == 'o' || kind == 'n');
    EXPECT_EQ(lilv_port_is_a(plugin, p, control), kind == 'c');
    EXPECT_EQ(lilv_port_is_a(plugin, p, audio), kind == 'i' || kind == 'o');
    EXPECT_EQ(lilv_port_is_a(plugin, p, node("http://lv2plug.in/ns/ext/atom#AtomPort")),
              kind == 'm' || kind == 'n');
  }
}

// The Turtle ranges are the ones run clamps to, number for number.
TEST_P(LilvMetadata, ControlRangesEqualTheClampTable)
{
  for (uint32_t i = 0; i < num_controls; ++i) {
    SCOPED_TRACE(morvane_controls[i]._symbol);
    LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
    lilv_port_get_range(plugin, port(morvane_controls[i]._port), &def, &min, &max);
    ASSERT_NE(def, nullptr);
    ASSERT_NE(min, nullptr);
    ASSERT_NE(max, nullptr);
    EXPECT_EQ(lilv_node_as_float(min), morvane_controls[i]._min);
    EXPECT_EQ(lilv_node_as_float(def), morvane_controls[i]._default);
    EXPECT_EQ(lilv_node_as_float(max), morvane_controls[i]._max);
    lilv_node_free(def);
    lilv_node_free(min);
    lilv_node_free(max);
  }
}

// Defaults give the plain resynthesis: every amount 0 %, every shape 50 %
// (the cosine), gain 0 dB.
TEST(LilvMetadataTable, DefaultsGiveThePlainResynthesis)
{
  EXPECT_EQ(morvane_controls[MORVANE_GAIN]._default, 0.0f);
  for (uint32_t i = 1; i < LFO_PORTS_END; ++i) {
    SCOPED_TRACE(EXPECTED_PORTS[i].symbol);
    if (lfo_field(i) == LFO_AMOUNT) {
      EXPECT_EQ(morvane_controls[i]._default, 0.0f);
    }
    if (lfo_field(i) == LFO_MOD) {
      EXPECT_EQ(morvane_controls[i]._default, 50.0f);
    }
  }
}

TEST_P(LilvMetadata, UnitsAndPropertiesFollowWhatEachPortMeans)
{
  const LilvNode* unit = node(ns(UNITS_NS, "unit"));
  const LilvNode* logarithmic = node(ns(PPROPS_NS, "logarithmic"));
  const LilvNode* not_on_gui = node(ns(PPROPS_NS, "notOnGUI"));
  const LilvNode* comment = node("http://www.w3.org/2000/01/rdf-schema#comment");
  auto unit_of = [&](uint32_t i) {
    LilvNodes* units = lilv_port_get_value(plugin, port(i), unit);
    std::string u = units && lilv_nodes_size(units) == 1
                        ? lilv_node_as_uri(lilv_nodes_get_first(units)) : std::string();
    lilv_nodes_free(units);
    return u;
  };
  EXPECT_EQ(unit_of(MORVANE_GAIN), ns(UNITS_NS, "db"));
  for (uint32_t i = 1; i < LFO_PORTS_END; ++i) {
    SCOPED_TRACE(EXPECTED_PORTS[i].symbol);
    const LilvPort* p = port(i);
    switch (lfo_field(i)) {
      case LFO_AMP: {
        // The depth's meaning depends on its stage; the comment says which.
        EXPECT_EQ(unit_of(i), "");
        LilvNode* c = lilv_port_get(plugin, p, comment);
        ASSERT_NE(c, nullptr);
        EXPECT_GT(std::strlen(lilv_node_as_string(c)), 20u);
        lilv_node_free(c);
        break;
      }
      case LFO_FREQ: {
        EXPECT_EQ(unit_of(i), ns(UNITS_NS, "hz"));
        EXPECT_TRUE(lilv_port_has_property(plugin, p, logarithmic));
        EXPECT_GT(morvane_controls[i]._min, 0.0f);
        break;
      }
      case LFO_AMOUNT:
      case LFO_MOD:
        EXPECT_EQ(unit_of(i), ns(UNITS_NS, "pc"));
        EXPECT_EQ(morvane_controls[i]._min, 0.0f);
        EXPECT_EQ(morvane_controls[i]._max, 100.0f);
        break;
    }
    EXPECT_EQ(lilv_port_has_property(plugin, p, not_on_gui), is_range_lfo(i));
  }
}

// The depth ranges match their stages: amplitudes scale up to 2, the
// frequency depth reaches two octaves (2 ln 2), the time depth is a fraction.
TEST(LilvMetadataTable, DepthRangesMatchTheirStages)
{
  EXPECT_EQ(morvane_controls[MORVANE_LFO_SHAKE_AMP_AMP]._max, 2.0f);
  EXPECT_NEAR(morvane_controls[MORVANE_LFO_SHAKE_FREQ_AMP]._max, 2.0 * std::log(2.0), 1e-6);
  EXPECT_EQ(morvane_controls[MORVANE_LFO_SHAKE_TIME_AMP]._max, 1.0f);
  for (uint32_t i : {MORVANE_LFO_SHAKE_AMP_AMP, MORVANE_LFO_SHAKE_FREQ_AMP, MORVANE_LFO_SHAKE_TIME_AMP}) {
    EXPECT_EQ(morvane_controls[i]._min, 0.0f);
  }
  EXPECT_EQ(morvane_controls[MORVANE_GAIN]._min, -60.0f);
  EXPECT_EQ(morvane_controls[MORVANE_GAIN]._max, 12.0f);
}

TEST_P(LilvMetadata, AudioPortsFormStereoGroups)
{
  LilvWorld* world = LilvTestWorld::get().world();
  const LilvNode* group = node(ns(PG_NS, "group"));
  const LilvNode* designation = node(ns(LV2_NS, "designation"));
  const LilvNode* rdf_type = node("http://www.w3.org/1999/02/22-rdf-syntax-ns#type");
  const LilvNode* stereo = node(ns(PG_NS, "StereoGroup"));
  const std::string left = ns(PG_NS, "left");
  const std::string right = ns(PG_NS, "right");
  std::string groups[2];
  for (uint32_t i = MORVANE_INPUT_L; i <= MORVANE_OUTPUT_R; ++i) {
    SCOPED_TRACE(EXPECTED_PORTS[i].symbol);
    LilvNode* g = lilv_port_get(plugin, port(i), group);
    LilvNode* d = lilv_port_get(plugin, port(i), designation);
    ASSERT_NE(g, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(lilv_world_ask(world, g, rdf_type, stereo));
    EXPECT_EQ(lilv_node_as_uri(d), (i == MORVANE_INPUT_L || i == MORVANE_OUTPUT_L) ? left : right);
    std::string& expected = groups[i >= MORVANE_OUTPUT_L ? 1 : 0];
    if (expected.empty()) {
      expected = lilv_node_as_uri(g);
    }
    EXPECT_EQ(expected, lilv_node_as_uri(g));
    lilv_node_free(g);
    lilv_node_free(d);
  }
  EXPECT_NE(groups[0], groups[1]);
  // Each plug-in has groups of its own, which are its main input and
  // output: the stereo one's are not the mono one's.
  const LilvNode* self = lilv_plugin_get_uri(plugin);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(groups[k].rfind(std::string(uri) + "#", 0), 0u) << groups[k];
    LilvNode* main = lilv_world_get(world, self, node(ns(PG_NS, k == 0 ? "mainInput" : "mainOutput")), nullptr);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(groups[k], lilv_node_as_uri(main));
    lilv_node_free(main);
  }
}

// Both plug-ins name the same shared object, which publishes the mono
// plug-in's descriptor at index 0 and the stereo one's at 1.
TEST_P(LilvMetadata, LibraryPublishesTheMonoThenTheStereoDescriptor)
{
  char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
  ASSERT_NE(path, nullptr);
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  lilv_free(path);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto get = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lib, "lv2_descriptor"));
  ASSERT_NE(get, nullptr);
  EXPECT_STREQ(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)),
               lilv_node_as_uri(lilv_plugin_get_library_uri(LilvTestWorld::get().plugin())));
  const LV2_Descriptor* d = get(stereo ? 1 : 0);
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->URI, uri);
  for (const void* entry : {reinterpret_cast<const void*>(d->instantiate),
                            reinterpret_cast<const void*>(d->connect_port),
                            reinterpret_cast<const void*>(d->activate),
                            reinterpret_cast<const void*>(d->run),
                            reinterpret_cast<const void*>(d->deactivate),
                            reinterpret_cast<const void*>(d->cleanup),
                            reinterpret_cast<const void*>(d->extension_data)}) {
    EXPECT_NE(entry, nullptr);
  }
  EXPECT_EQ(d->extension_data("http://lv2plug.in/ns/ext/state#interface"), nullptr);
  EXPECT_EQ(d->extension_data(""), nullptr);
  EXPECT_STREQ(get(stereo ? 0 : 1)->URI, stereo ? MORVANE_URI : MORVANE_STEREO_URI);
  EXPECT_EQ(get(2), nullptr);
  EXPECT_EQ(get(3), nullptr);
  dlclose(lib);
}

}  // namespace

// Hosts offer the song lock as menus: the three modes, and note values
// (triplets and dotted values among them) for the cycle, in quarter notes.
// The control port asks for the host's song position.
TEST_P(LilvMetadata, SyncPortsAreMenusOfModesAndNoteValues)
{
  const LilvNode* enumeration = node(ns(LV2_NS, "enumeration"));
  auto points = [&](uint32_t index) {
    std::map<float, std::string> labelled;
    LilvScalePoints* sp = lilv_port_get_scale_points(plugin, port(index));
    LILV_FOREACH (scale_points, it, sp) {
      const LilvScalePoint* p = lilv_scale_points_get(sp, it);
      labelled[lilv_node_as_float(lilv_scale_point_get_value(p))] =
          lilv_node_as_string(lilv_scale_point_get_label(p));
    }
    lilv_scale_points_free(sp);
    return labelled;
  };
  for (uint32_t sync : {MORVANE_LFO_SHAKE_AMP_SYNC, MORVANE_LFO_SHAKE_FREQ_SYNC, MORVANE_LFO_SHAKE_TIME_SYNC}) {
    SCOPED_TRACE(EXPECTED_PORTS[sync].symbol);
    EXPECT_TRUE(lilv_port_has_property(plugin, port(sync), enumeration));
    EXPECT_EQ(points(sync), (std::map<float, std::string>{{0.0f, "Free"}, {1.0f, "Song"}, {2.0f, "Tempo"}}));
    const uint32_t cycle = sync + 1;
    EXPECT_TRUE(lilv_port_has_property(plugin, port(cycle), enumeration));
    const std::map<float, std::string> notes = points(cycle);
    EXPECT_EQ(notes.size(), 20u);
    EXPECT_EQ(notes.begin()->first, 0.125f);
    EXPECT_EQ(notes.rbegin()->first, 64.0f);
    EXPECT_EQ(notes.at(0.5f), "1/8");
    EXPECT_EQ(notes.at(0.75f), "1/8 .");
    EXPECT_EQ(notes.at(1.0f / 3.0f), "1/8 T");
    EXPECT_EQ(notes.at(4.0f), "1/1");
    EXPECT_EQ(notes.at(8.0f), "2/1");
  }
  LilvNodes* supports = lilv_port_get_value(plugin, port(MORVANE_CONTROL), node(LV2_ATOM__supports));
  EXPECT_TRUE(lilv_nodes_contains(supports, node(LV2_TIME__Position)));
  lilv_nodes_free(supports);
}

// The stereo plug-in's own controls as hosts show them: the mode a menu of
// Mid and Left / Right, the width in percent, the offset in degrees; the
// mono plug-in has none of these ports.
TEST(LilvStereoMetadata, ModeWidthAndOffsetAreTheStereoPluginsOwn)
{
  LilvTestWorld& w = LilvTestWorld::get();
  const LilvPlugin* stereo = w.stereo_plugin();
  ASSERT_NE(stereo, nullptr);
  const struct {
    uint32_t index;
    const char* symbol;
    float min, def, max;
    const char* unit;  // nullptr: none
  } expected[] = {
    {37, "stereo_mode", 0.0f, 0.0f, 1.0f, nullptr},
    {38, "width", 0.0f, 100.0f, 100.0f, "pc"},
    {39, "lfo_offset", 0.0f, 0.0f, 180.0f, "degree"},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.symbol);
    EXPECT_EQ(lilv_plugin_get_port_by_index(w.plugin(), e.index), nullptr);
    const LilvPort* p = lilv_plugin_get_port_by_index(stereo, e.index);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(stereo, p)), e.symbol);
    EXPECT_TRUE(lilv_port_is_a(stereo, p, node(ns(LV2_NS, "ControlPort"))));
    EXPECT_TRUE(lilv_port_is_a(stereo, p, node(ns(LV2_NS, "InputPort"))));
    LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
    lilv_port_get_range(stereo, p, &def, &min, &max);
    ASSERT_TRUE(def && min && max);
    EXPECT_EQ(lilv_node_as_float(min), e.min);
    EXPECT_EQ(lilv_node_as_float(def), e.def);
    EXPECT_EQ(lilv_node_as_float(max), e.max);
    lilv_node_free(def);
    lilv_node_free(min);
    lilv_node_free(max);
    LilvNodes* units = lilv_port_get_value(stereo, p, node(ns(UNITS_NS, "unit")));
    if (e.unit) {
      ASSERT_EQ(lilv_nodes_size(units), 1u);
      EXPECT_EQ(lilv_node_as_uri(lilv_nodes_get_first(units)), ns(UNITS_NS, e.unit));
    } else {
      EXPECT_EQ(lilv_nodes_size(units), 0u);
    }
    lilv_nodes_free(units);
    EXPECT_EQ(lilv_port_has_property(stereo, p, node(ns(LV2_NS, "enumeration"))), e.index == 37);
  }
  std::map<float, std::string> labelled;
  LilvScalePoints* sp = lilv_port_get_scale_points(stereo, lilv_plugin_get_port_by_index(stereo, 37));
  LILV_FOREACH (scale_points, it, sp) {
    const LilvScalePoint* point = lilv_scale_points_get(sp, it);
    labelled[lilv_node_as_float(lilv_scale_point_get_value(point))] =
        lilv_node_as_string(lilv_scale_point_get_label(point));
  }
  lilv_scale_points_free(sp);
  EXPECT_EQ(labelled, (std::map<float, std::string>{{0.0f, "Mid"}, {1.0f, "Left / Right"}}));
}
