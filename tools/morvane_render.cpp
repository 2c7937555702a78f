// SPDX-License-Identifier: LGPL-2.1-or-later
// morvane-render: runs the morvane effect over an audio file.
//
// The plug-in's own run function does the work, linked in statically
// together with both engines: the control values go through the same
// clamping table and conversions as in a host, so a render is what a host
// that feeds the plug-in the same blocks would record. Port symbols and
// presets are read with lilv from the plug-in's bundle (morvane.ttl and
// presets.ttl), the files hosts read. With --stereo the bundle's second
// plug-in, morvane stereo, renders both channels.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>
#include <sndfile.h>

#include "morvane.h"
#include "morvane_render.h"
#include "morvane_internal.h"

#ifndef MORVANE_RENDER_BUILD_BUNDLE
#define MORVANE_RENDER_BUILD_BUNDLE ""
#endif
#ifndef MORVANE_RENDER_LV2_INSTALL_DIR
#define MORVANE_RENDER_LV2_INSTALL_DIR "lib/lv2/morvane.lv2"
#endif

namespace {

constexpr uint32_t kDefaultBlock = 512;
constexpr uint32_t kMaxBlock = 1u << 20;
constexpr double kProgressSeconds = 5.0;

[[noreturn]] void fail(const std::string& message)
{
  std::fprintf(stderr, "morvane-render: %s\n", message.c_str());
  std::exit(1);
}

[[noreturn]] void usage_error(const std::string& message)
{
  std::fprintf(stderr, "morvane-render: %s\n(morvane-render --help for usage)\n", message.c_str());
  std::exit(2);
}

bool is_file(const std::string& path)
{
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The bundle folder, with a trailing slash as lilv wants it.
std::string find_bundle(const std::string& requested)
{
  std::vector<std::string> candidates;
  if (!requested.empty()) {
    candidates.push_back(requested);
  } else {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n > 0) {
      exe[n] = '\0';
      std::string dir(exe);
      dir.erase(dir.rfind('/'));
      candidates.push_back(dir + "/../" MORVANE_RENDER_LV2_INSTALL_DIR);
    }
    if (std::strlen(MORVANE_RENDER_BUILD_BUNDLE) > 0) {
      candidates.push_back(MORVANE_RENDER_BUILD_BUNDLE);
    }
  }
  for (std::string dir : candidates) {
    if (is_file(dir + "/manifest.ttl") && is_file(dir + "/morvane.ttl")) {
      if (dir.back() != '/') {
        dir += '/';
      }
      return dir;
    }
  }
  if (!requested.empty()) {
    fail("no morvane bundle (manifest.ttl, morvane.ttl) in " + requested);
  }
  fail("cannot find the morvane.lv2 bundle; name it with --bundle DIR");
}

// A minimal URID map for lilv's state loader: URIs numbered from 1 in the
// order they are first seen.
struct UridMap {
  std::map<std::string, LV2_URID> ids;
  LV2_URID_Map feature{this, &UridMap::map};

  static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
  {
    auto* self = static_cast<UridMap*>(handle);
    auto [it, inserted] = self->ids.emplace(uri, static_cast<LV2_URID>(self->ids.size() + 1));
    (void)inserted;
    return it->second;
  }
};

// The control port's sequence holding one time:Position at frame 0, then
// (after clear) nothing.
class SongStart {
public:
  SongStart(LV2_URID_Map& map, double bpm)
  {
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, &map);
    _sequence_type = forge.Sequence;
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(_words), sizeof _words);
    LV2_Atom_Forge_Frame seq, pos;
    lv2_atom_forge_sequence_head(&forge, &seq, 0);
    lv2_atom_forge_frame_time(&forge, 0);
    lv2_atom_forge_object(&forge, &pos, 0, map.map(map.handle, LV2_TIME__Position));
    const auto key = [&](const char* uri) { lv2_atom_forge_key(&forge, map.map(map.handle, uri)); };
    key(LV2_TIME__frame), lv2_atom_forge_long(&forge, 0);
    key(LV2_TIME__speed), lv2_atom_forge_float(&forge, 1.0f);
    key(LV2_TIME__bar), lv2_atom_forge_long(&forge, 0);
    key(LV2_TIME__barBeat), lv2_atom_forge_float(&forge, 0.0f);
    key(LV2_TIME__beat), lv2_atom_forge_double(&forge, 0.0);
    key(LV2_TIME__beatUnit), lv2_atom_forge_int(&forge, 4);
    key(LV2_TIME__beatsPerBar), lv2_atom_forge_float(&forge, 4.0f);
    key(LV2_TIME__beatsPerMinute), lv2_atom_forge_double(&forge, bpm);
    lv2_atom_forge_pop(&forge, &pos);
    lv2_atom_forge_pop(&forge, &seq);
  }
  LV2_Atom_Sequence* sequence() { return reinterpret_cast<LV2_Atom_Sequence*>(_words); }
  void clear() { sequence()->atom = {sizeof(LV2_Atom_Sequence_Body), _sequence_type}; }

private:
  uint64_t _words[64] = {};
  LV2_URID _sequence_type = 0;
};

struct Preset {
  std::string uri;
  std::string name;   // the part of the URI after '#'
  std::string label;
};

// What the bundle says of one of its two plug-ins (the mono one, or with
// stereo the stereo one): the control ports by symbol, and the presets.
class Bundle {
public:
  Bundle(const std::string& dir, bool stereo)
    : _world(lilv_world_new()), _num_controls(stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS)
  {
    LilvNode* bundle_uri = lilv_new_file_uri(_world, nullptr, dir.c_str());
    lilv_world_load_bundle(_world, bundle_uri);
    lilv_node_free(bundle_uri);
    const char* uri = stereo ? MORVANE_STEREO_URI : MORVANE_URI;
    _plugin = plugin(uri);
    if (!_plugin) {
      fail("the bundle " + dir + " does not describe " + uri);
    }
    for (uint32_t row = 0; row < _num_controls; ++row) {
      const LilvPort* port = lilv_plugin_get_port_by_index(_plugin, morvane_controls[row]._port);
      if (!port) {
        fail("the bundle " + dir + " lacks control port " + std::to_string(morvane_controls[row]._port));
      }
      _symbols.emplace(lilv_node_as_string(lilv_port_get_symbol(_plugin, port)), row);
    }
    _presets = load_presets(_plugin);
    // The other plug-in's presets, to tell a preset of the stereo plug-in
    // asked for without --stereo from one that does not exist.
    if (const LilvPlugin* other = plugin(stereo ? MORVANE_URI : MORVANE_STEREO_URI)) {
      _other_presets = load_presets(other);
    }
  }
  ~Bundle() { lilv_world_free(_world); }
  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  // The control table's row of the port named symbol, if it is a control.
  std::optional<uint32_t> control(const std::string& symbol) const
  {
    const auto it = _symbols.find(symbol);
    if (it == _symbols.end()) {
      return std::nullopt;
    }
    return it->second;
  }
  bool is_port(const std::string& symbol) const
  {
    LilvNode* node = lilv_new_string(_world, symbol.c_str());
    const bool found = lilv_plugin_get_port_by_symbol(_plugin, node) != nullptr;
    lilv_node_free(node);
    return found;
  }
  std::string symbol(uint32_t row) const
  {
    for (const auto& [sym, i] : _symbols) {
      if (i == row) {
        return sym;
      }
    }
    return {};
  }

  uint32_t num_controls() const { return _num_controls; }
  const std::vector<Preset>& presets() const { return _presets; }

  // The preset of this plug-in called name, or with other the preset of
  // the bundle's other plug-in.
  const Preset* find_preset(const std::string& name, bool other = false) const
  {
    auto lower = [](std::string s) {
      std::transform(s.begin(), s.end(), s.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      return s;
    };
    for (const Preset& p : other ? _other_presets : _presets) {
      if (name == p.uri || name == p.name || lower(name) == lower(p.label)) {
        return &p;
      }
    }
    return nullptr;
  }

  // The preset's port values, as lilv reads them for a host.
  std::map<std::string, float> preset_values(const Preset& preset)
  {
    UridMap urids;
    LilvNode* node = lilv_new_uri(_world, preset.uri.c_str());
    LilvState* state = lilv_state_new_from_world(_world, &urids.feature, node);
    lilv_node_free(node);
    if (!state) {
      fail("cannot load preset " + preset.uri);
    }
    struct Sink {
      std::map<std::string, float> values;
      UridMap* urids;
      bool bad_type = false;
    } sink{{}, &urids};
    lilv_state_emit_port_values(
      state,
      [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
        auto* s = static_cast<Sink*>(user);
        if (type == UridMap::map(s->urids, "http://lv2plug.in/ns/ext/atom#Float") &&
            size == sizeof(float)) {
          s->values[symbol] = *static_cast<const float*>(value);
        } else if (type == UridMap::map(s->urids, "http://lv2plug.in/ns/ext/atom#Double") &&
                   size == sizeof(double)) {
          s->values[symbol] = static_cast<float>(*static_cast<const double*>(value));
        } else if (type == UridMap::map(s->urids, "http://lv2plug.in/ns/ext/atom#Int") &&
                   size == sizeof(int32_t)) {
          s->values[symbol] = static_cast<float>(*static_cast<const int32_t*>(value));
        } else {
          s->bad_type = true;
        }
      },
      &sink);
    lilv_state_free(state);
    if (sink.bad_type) {
      fail("preset " + preset.name + " holds a value that is not a number");
    }
    return sink.values;
  }

private:
  const LilvPlugin* plugin(const char* uri) const
  {
    LilvNode* node = lilv_new_uri(_world, uri);
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world), node);
    lilv_node_free(node);
    return found;
  }

  // The presets that apply to plugin, by name.
  std::vector<Preset> load_presets(const LilvPlugin* plugin)
  {
    std::vector<Preset> presets;
    LilvNode* preset_class = lilv_new_uri(_world, "http://lv2plug.in/ns/ext/presets#Preset");
    LilvNode* label_pred = lilv_new_uri(_world, "http://www.w3.org/2000/01/rdf-schema#label");
    LilvNodes* related = lilv_plugin_get_related(plugin, preset_class);
    LILV_FOREACH (nodes, it, related) {
      const LilvNode* node = lilv_nodes_get(related, it);
      lilv_world_load_resource(_world, node);
      Preset p;
      p.uri = lilv_node_as_uri(node);
      const std::size_t hash = p.uri.rfind('#');
      p.name = hash == std::string::npos ? p.uri : p.uri.substr(hash + 1);
      LilvNode* label = lilv_world_get(_world, node, label_pred, nullptr);
      p.label = label ? lilv_node_as_string(label) : p.name;
      lilv_node_free(label);
      presets.push_back(p);
    }
    lilv_nodes_free(related);
    lilv_node_free(label_pred);
    lilv_node_free(preset_class);
    std::sort(presets.begin(), presets.end(), [](const Preset& a, const Preset& b) { return a.name < b.name; });
    return presets;
  }

  LilvWorld* _world;
  uint32_t _num_controls;
  const LilvPlugin* _plugin = nullptr;
  std::map<std::string, uint32_t> _symbols;
  std::vector<Preset> _presets;
  std::vector<Preset> _other_presets;
};

// A finite number written in full, or nothing.
std::optional<double> parse_number(const std::string& text)
{
  if (text.empty()) {
    return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

// The container of OUT's extension, or 0 when it names none of these.
int container_of(const std::string& path)
{
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
    return 0;
  }
  std::string ext = path.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "wav") return SF_FORMAT_WAV;
  if (ext == "flac") return SF_FORMAT_FLAC;
  if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF;
  return 0;
}

// A text progress bar on stderr, redrawn when the percentage changes.
class Progress {
public:
  Progress(bool enabled, sf_count_t total) : _enabled(enabled), _total(total) {}
  void update(sf_count_t done)
  {
    if (!_enabled || _total <= 0) {
      return;
    }
    const int percent = static_cast<int>(100 * done / _total);
    if (percent == _shown) {
      return;
    }
    _shown = percent;
    constexpr int width = 40;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\rmorvane-render [%.*s%*s] %3d%%", filled,
                 "########################################", width - filled, "", percent);
    std::fflush(stderr);
  }
  void finish()
  {
    if (_enabled && _shown >= 0) {
      std::fputc('\n', stderr);
    }
  }

private:
  bool _enabled;
  sf_count_t _total;
  int _shown = -1;
};

struct Options {
  std::string in, out, preset, bundle;
  // SYMBOL=VALUE, in the order given; --mode, --width and --lfo-offset
  // add theirs among them.
  std::vector<std::string> sets;
  uint32_t block = kDefaultBlock;
  double bpm = 0.0;  // > 0: the file is a song from its first sample at this tempo
  bool stereo = false;       // the stereo plug-in, both channels of IN
  std::string stereo_only;   // the first of --mode, --width, --lfo-offset given
  bool list_presets = false, list_controls = false, quiet = false;
};

// The text of a number the way --set takes it back.
std::string number_text(double v)
{
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

Options parse_args(int argc, char** argv)
{
  Options o;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) {
      if (i + 1 >= argc) {
        usage_error(arg + " needs " + what);
      }
      return std::string(argv[++i]);
    };
    if (arg == "--preset") {
      o.preset = value("a preset name");
    } else if (arg == "--set") {
      o.sets.push_back(value("SYMBOL=VALUE"));
    } else if (arg == "--block") {
      const std::string text = value("a number of frames");
      const auto n = parse_number(text);
      if (!n || *n != std::floor(*n) || *n < 1 || *n > kMaxBlock) {
        usage_error("--block wants a whole number from 1 to " + std::to_string(kMaxBlock) +
                    ", not '" + text + "'");
      }
      o.block = static_cast<uint32_t>(*n);
    } else if (arg == "--bpm") {
      const std::string text = value("a tempo in beats per minute");
      const auto n = parse_number(text);
      if (!n || !(*n > 0.0) || *n > 10000.0) {
        usage_error("--bpm wants a tempo above 0 and up to 10000, not '" + text + "'");
      }
      o.bpm = *n;
    } else if (arg == "--stereo") {
      o.stereo = true;
    } else if (arg == "--mode") {
      const std::string text = value("mid or left-right");
      std::string mode = text;
      std::transform(mode.begin(), mode.end(), mode.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (mode != "mid" && mode != "left-right") {
        usage_error("--mode wants mid or left-right, not '" + text + "'");
      }
      o.sets.push_back("stereo_mode=" + std::to_string(mode == "mid" ? MORVANE_STEREO_MID : MORVANE_STEREO_LEFT_RIGHT));
      o.stereo_only = o.stereo_only.empty() ? arg : o.stereo_only;
    } else if (arg == "--width" || arg == "--lfo-offset") {
      // Refused outside the port's range rather than clamped: these are
      // the program's own options, and a typo should not pass as 100 %.
      const bool width = arg == "--width";
      const std::string text = value(width ? "a percentage" : "an angle in degrees");
      const auto n = parse_number(text);
      const double top = width ? 100.0 : 180.0;
      if (!n || *n < 0.0 || *n > top) {
        usage_error(arg + (width ? " wants a percentage from 0 to 100" : " wants degrees from 0 to 180") +
                    ", not '" + text + "'");
      }
      o.sets.push_back(std::string(width ? "width=" : "lfo_offset=") + number_text(*n));
      o.stereo_only = o.stereo_only.empty() ? arg : o.stereo_only;
    } else if (arg == "--bundle") {
      o.bundle = value("a folder");
    } else if (arg == "--list-presets") {
      o.list_presets = true;
    } else if (arg == "--list-controls") {
      o.list_controls = true;
    } else if (arg == "--quiet" || arg == "-q") {
      o.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      usage_error("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (!o.stereo && !o.stereo_only.empty()) {
    usage_error(o.stereo_only + " is a setting of the stereo plug-in: add --stereo");
  }
  if (o.list_presets || o.list_controls) {
    return o;
  }
  if (positional.size() != 2) {
    usage_error("want an input and an output file, got " + std::to_string(positional.size()) +
                " file names");
  }
  o.in = positional[0];
  o.out = positional[1];
  return o;
}

}  // namespace

// Called by main once the processor has passed the check; --help and
// --version never get here.
extern "C" int morvane_render_run(int argc, char** argv)
{
  const Options opt = parse_args(argc, argv);
  Bundle bundle(find_bundle(opt.bundle), opt.stereo);
  const uint32_t num_controls = bundle.num_controls();

  if (opt.list_presets) {
    for (const Preset& p : bundle.presets()) {
      std::printf("%-18s %s\n", p.name.c_str(), p.label.c_str());
    }
    return 0;
  }
  if (opt.list_controls) {
    for (uint32_t i = 0; i < num_controls; ++i) {
      const morvane_control& r = morvane_controls[i];
      std::printf("%-24s %g .. %g (default %g)\n", bundle.symbol(i).c_str(),
                  static_cast<double>(r._min), static_cast<double>(r._max),
                  static_cast<double>(r._default));
    }
    return 0;
  }

  // Control values: the defaults, then the preset, then each --set.
  float controls[MORVANE_NUM_STEREO_CONTROLS];
  for (uint32_t i = 0; i < num_controls; ++i) {
    controls[i] = morvane_controls[i]._default;
  }
  if (!opt.preset.empty()) {
    const Preset* p = bundle.find_preset(opt.preset);
    if (!p && !opt.stereo && bundle.find_preset(opt.preset, true)) {
      fail("preset '" + opt.preset + "' is for the stereo plug-in: add --stereo");
    }
    if (!p) {
      std::string names;
      for (const Preset& q : bundle.presets()) {
        names += " " + q.name;
      }
      fail("unknown preset '" + opt.preset + "'; the presets are:" + names);
    }
    for (const auto& [symbol, value] : bundle.preset_values(*p)) {
      const auto index = bundle.control(symbol);
      if (!index) {
        fail("preset " + p->name + " sets '" + symbol + "', which is not a control port");
      }
      controls[*index] = value;
    }
  }
  for (const std::string& s : opt.sets) {
    const std::size_t eq = s.find('=');
    if (eq == std::string::npos) {
      usage_error("--set wants SYMBOL=VALUE, not '" + s + "'");
    }
    const std::string symbol = s.substr(0, eq);
    const std::string text = s.substr(eq + 1);
    const auto index = bundle.control(symbol);
    if (!index) {
      const bool stereo_control =
        !opt.stereo && std::any_of(morvane_controls + MORVANE_NUM_CONTROLS, morvane_controls + MORVANE_NUM_STEREO_CONTROLS,
                                   [&](const morvane_control& c) { return symbol == c._symbol; });
      fail(bundle.is_port(symbol) ? "'" + symbol + "' is an audio port, not a control"
           : stereo_control       ? "'" + symbol + "' is a control of the stereo plug-in: add --stereo"
                                  : "unknown control '" + symbol + "' (morvane-render --list-controls lists them)");
    }
    const auto value = parse_number(text);
    if (!value) {
      fail("the value of " + symbol + " must be a finite number, not '" + text + "'");
    }
    const float v = static_cast<float>(*value);
    const float clamped = morvane_clamp_control(*index, v);
    if (clamped != v) {
      std::fprintf(stderr, "morvane-render: %s = %g is outside %g .. %g: the plug-in uses %g\n",
                   symbol.c_str(), static_cast<double>(v),
                   static_cast<double>(morvane_controls[*index]._min),
                   static_cast<double>(morvane_controls[*index]._max),
                   static_cast<double>(clamped));
    }
    // The plug-in clamps in run, as for a host; the raw value is passed on.
    controls[*index] = v;
  }

  // Input.
  if (access(opt.in.c_str(), F_OK) != 0) {
    fail("cannot read " + opt.in + ": no such file");
  }
  if (!is_file(opt.in)) {
    fail("cannot read " + opt.in + ": not a file");
  }
  SF_INFO in_info{};
  SNDFILE* in = sf_open(opt.in.c_str(), SFM_READ, &in_info);
  if (!in) {
    fail("cannot read " + opt.in + ": " + sf_strerror(nullptr));
  }
  if (in_info.channels < 1 || in_info.samplerate < 1) {
    sf_close(in);
    fail(opt.in + " holds no audio channels");
  }

  // Output: the input's rate, channels and sample format; the container
  // of OUT's extension where it names one. The stereo plug-in writes two
  // channels, whatever IN has.
  SF_INFO out_info{};
  out_info.samplerate = in_info.samplerate;
  out_info.channels = opt.stereo ? 2 : in_info.channels;
  out_info.format = in_info.format;
  if (const int container = container_of(opt.out)) {
    out_info.format = container | (in_info.format & SF_FORMAT_SUBMASK);
  }
  if (!sf_format_check(&out_info)) {
    sf_close(in);
    fail("cannot write the sample format of " + opt.in + " into " + opt.out +
         "; choose another extension");
  }
  SNDFILE* out = sf_open(opt.out.c_str(), SFM_WRITE, &out_info);
  if (!out) {
    sf_close(in);
    fail("cannot write " + opt.out + ": " + sf_strerror(nullptr));
  }
  sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);

  // The plug-in, exactly as a host starts it. The engines draw their random
  // phase offsets from rand(), which a fresh process starts at seed 1;
  // seeding explicitly keeps renders repeatable whatever ran before.
  std::srand(1);
  const LV2_Descriptor* descriptor = lv2_descriptor(opt.stereo ? 1 : 0);
  // With --bpm the plug-in gets a URID map and, before the first block, the
  // song's position as a host sends it when its transport starts at the
  // song's start: frame 0, rolling, bar 0 beat 0 of 4/4 at that tempo.
  UridMap urids;
  const LV2_Feature map_feature = {LV2_URID__map, &urids.feature};
  const LV2_Feature* const no_features[] = {nullptr};
  const LV2_Feature* const song_features[] = {&map_feature, nullptr};
  LV2_Handle plugin = descriptor->instantiate(descriptor, in_info.samplerate, "",
                                              opt.bpm > 0.0 ? song_features : no_features);
  if (!plugin) {
    sf_close(in);
    sf_close(out);
    std::remove(opt.out.c_str());
    // main has checked the processor: what remains is the rate or memory.
    fail("the plug-in could not be created at a rate of " +
         std::to_string(in_info.samplerate) + " Hz (or memory ran out)");
  }
  const auto channels = static_cast<std::size_t>(in_info.channels);
  const auto out_channels = static_cast<std::size_t>(out_info.channels);
  std::vector<float> frames(opt.block * channels), out_frames(opt.block * out_channels);
  std::vector<float> in_l(opt.block), in_r(opt.block), out_l(opt.block), out_r(opt.block);
  for (uint32_t row = 0; row < num_controls; ++row) {
    descriptor->connect_port(plugin, morvane_controls[row]._port, &controls[row]);
  }
  SongStart song_start(urids.feature, opt.bpm);
  if (opt.bpm > 0.0) {
    descriptor->connect_port(plugin, MORVANE_CONTROL, song_start.sequence());
  }
  descriptor->connect_port(plugin, MORVANE_INPUT_L, in_l.data());
  descriptor->connect_port(plugin, MORVANE_INPUT_R, in_r.data());
  descriptor->connect_port(plugin, MORVANE_OUTPUT_L, out_l.data());
  descriptor->connect_port(plugin, MORVANE_OUTPUT_R, out_r.data());
  descriptor->activate(plugin);

  const bool show = !opt.quiet && isatty(STDERR_FILENO) &&
                    static_cast<double>(in_info.frames) > kProgressSeconds * in_info.samplerate;
  Progress progress(show, in_info.frames);
  sf_count_t done = 0;
  bool write_failed = false;
  for (;;) {
    const sf_count_t n = sf_readf_float(in, frames.data(), opt.block);
    if (n <= 0) {
      break;
    }
    const auto count = static_cast<std::size_t>(n);
    for (std::size_t f = 0; f < count; ++f) {
      in_l[f] = frames[f * channels];
      in_r[f] = channels > 1 ? frames[f * channels + 1] : frames[f * channels];
    }
    descriptor->run(plugin, static_cast<uint32_t>(n));
    song_start.clear();
    // Mono: the left output into every channel. Stereo: left and right.
    for (std::size_t f = 0; f < count; ++f) {
      for (std::size_t c = 0; c < out_channels; ++c) {
        out_frames[f * out_channels + c] = opt.stereo && c == 1 ? out_r[f] : out_l[f];
      }
    }
    if (sf_writef_float(out, out_frames.data(), n) != n) {
      write_failed = true;
      break;
    }
    done += n;
    progress.update(done);
  }
  progress.finish();
  descriptor->deactivate(plugin);
  descriptor->cleanup(plugin);
  const int read_error = sf_error(in);
  sf_close(in);
  // A failed render leaves no truncated file behind.
  if (sf_close(out) != 0 || write_failed) {
    std::remove(opt.out.c_str());
    fail("writing " + opt.out + " failed");
  }
  if (read_error != SF_ERR_NO_ERROR) {
    std::remove(opt.out.c_str());
    fail("reading " + opt.in + " failed after " + std::to_string(done) + " frames");
  }
  if (!opt.quiet) {
    std::printf("%s: %.2f s at %d Hz, %d channel%s%s%s%s\n", opt.out.c_str(),
                static_cast<double>(done) / in_info.samplerate, in_info.samplerate,
                out_info.channels, out_info.channels == 1 ? "" : "s", opt.stereo ? ", stereo plug-in" : "",
                opt.preset.empty() ? "" : ", preset ", opt.preset.c_str());
  }
  return 0;
}
