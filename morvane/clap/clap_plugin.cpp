// SPDX-License-Identifier: LGPL-2.1-or-later
// The CLAP plug-in's life and its process (see clap_shell.h): an LV2
// instance of the same descriptor, run stretch by stretch between the
// host's parameter events, with the host's transport written into its
// control port as song positions.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/process.h>
#include <lv2/time/time.h>

#include "clap_gui.h"
#include "clap_shell.h"
#include "morvane.h"

namespace {

// URIs numbered from 1 in the order asked; 0 for none.
LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri)
{
  auto* map = static_cast<clap_urid_map*>(handle);
  if (uri == nullptr) {
    return 0;
  }
  for (std::size_t i = 0; i < map->_uris.size(); ++i) {
    if (map->_uris[i] == uri) {
      return static_cast<LV2_URID>(i + 1);
    }
  }
  try {
    map->_uris.emplace_back(uri);
  } catch (...) {
    return 0;
  }
  return static_cast<LV2_URID>(map->_uris.size());
}

// The values of the state or the host into what the LV2 instance reads.
void take_values(clap_shell* s) noexcept
{
  for (uint32_t row = 0; row < s->_num_controls; ++row) {
    s->_ports[row] = s->_values[row].load(std::memory_order_relaxed);
  }
}

bool init(const clap_plugin_t* /*plugin*/)
{
  return true;
}

void destroy(const clap_plugin_t* plugin)
{
  clap_shell* s = clap_shell_of(plugin);
  clap_gui_free(s->_gui);
  if (s->_instance != nullptr) {
    s->_lv2->cleanup(s->_instance);
  }
  delete s;
}

// The engines are made once the rate is known, and kept while it stays:
// they draw their random phase offsets from rand() when made.
bool activate(const clap_plugin_t* plugin, double rate, uint32_t /*min_frames*/, uint32_t max_frames)
{
  clap_shell* s = clap_shell_of(plugin);
  if (s->_instance != nullptr && rate != s->_rate) {
    s->_lv2->cleanup(s->_instance);
    s->_instance = nullptr;
  }
  if (s->_instance == nullptr) {
    s->_instance = s->_lv2->instantiate(s->_lv2, rate, "", s->_features);
    if (s->_instance == nullptr) {
      return false;
    }
    s->_rate = rate;
    for (uint32_t row = 0; row < s->_num_controls; ++row) {
      s->_lv2->connect_port(s->_instance, morvane_controls[row]._port, &s->_ports[row]);
    }
    s->_lv2->connect_port(s->_instance, MORVANE_CONTROL, s->_sequence);
    s->_lv2->connect_port(s->_instance, MORVANE_NOTIFY, nullptr);
    clap_gui_instance_made(s);
  }
  s->_max_frames = max_frames;
  s->_reload.store(false, std::memory_order_relaxed);
  take_values(s);
  s->_lv2->activate(s->_instance);
  s->_song._valid = false;
  s->_clock = 0;
  return true;
}

void deactivate(const clap_plugin_t* plugin)
{
  clap_shell* s = clap_shell_of(plugin);
  if (s->_instance != nullptr && s->_lv2->deactivate != nullptr) {
    s->_lv2->deactivate(s->_instance);
  }
}

bool start_processing(const clap_plugin_t* plugin)
{
  clap_gui_processing(clap_shell_of(plugin), true);
  return true;
}

void stop_processing(const clap_plugin_t* plugin)
{
  clap_gui_processing(clap_shell_of(plugin), false);
}

// Audio thread: the LV2 instance's activate starts its signal state afresh
// without allocating, and forgets the song.
void reset(const clap_plugin_t* plugin)
{
  clap_shell* s = clap_shell_of(plugin);
  if (s->_instance != nullptr) {
    s->_lv2->activate(s->_instance);
  }
  s->_song._valid = false;
}

// The channels of one CLAP stereo port.
struct channels {
  float* _l;
  float* _r;
};

// Runs samples [start, end) of a block of n through the LV2 instance: the
// transport events from start up to end (to the block's end for the last
// stretch), and at start the block's own transport when `lead`, go into
// the control port's sequence at their samples. *next indexes the input
// events from where the last stretch stopped.
void run_stretch(clap_shell* s, const clap_process_t* p, channels in, channels out, uint32_t start, uint32_t end,
                 uint32_t* next, bool lead) noexcept
{
  const uint32_t n = p->frames_count;
  LV2_Atom_Forge* forge = &s->_forge;
  lv2_atom_forge_set_buffer(forge, s->_sequence, sizeof s->_sequence);
  LV2_Atom_Forge_Frame seq;
  lv2_atom_forge_sequence_head(forge, &seq, 0);
  clap_gui_forge_message(s, forge);
  if (lead) {
    clap_shell_forge_position(s, *p->transport, 0, s->_clock);
  }
  const clap_input_events_t* events = p->in_events;
  const uint32_t count = events != nullptr ? events->size(events) : 0;
  for (; *next < count; ++*next) {
    const clap_event_header_t* e = events->get(events, *next);
    if (e == nullptr) {
      continue;
    }
    if (end < n && e->time >= end) {
      break;
    }
    if (e->space_id == CLAP_CORE_EVENT_SPACE_ID && e->type == CLAP_EVENT_TRANSPORT &&
        e->size >= sizeof(clap_event_transport_t)) {
      const uint32_t at = std::clamp(e->time, start, end);
      clap_shell_forge_position(s, *reinterpret_cast<const clap_event_transport_t*>(e), at - start,
                                s->_clock + at);
    }
  }
  lv2_atom_forge_pop(forge, &seq);

  const LV2_Descriptor* lv2 = s->_lv2;
  lv2->connect_port(s->_instance, MORVANE_INPUT_L, in._l + start);
  lv2->connect_port(s->_instance, MORVANE_INPUT_R, in._r + start);
  lv2->connect_port(s->_instance, MORVANE_OUTPUT_L, out._l + start);
  lv2->connect_port(s->_instance, MORVANE_OUTPUT_R, out._r + start);
  lv2->connect_port(s->_instance, MORVANE_NOTIFY, clap_gui_notify(s));
  lv2->run(s->_instance, end - start);
  clap_gui_after_run(s);
}

clap_process_status process(const clap_plugin_t* plugin, const clap_process_t* p)
{
  clap_shell* s = clap_shell_of(plugin);
  const uint32_t n = p->frames_count;
  if (s->_instance == nullptr || n > s->_max_frames || p->audio_inputs_count < 1 || p->audio_outputs_count < 1) {
    return CLAP_PROCESS_ERROR;
  }
  const clap_audio_buffer_t& ib = p->audio_inputs[0];
  clap_audio_buffer_t& ob = p->audio_outputs[0];
  if (ib.data32 == nullptr || ob.data32 == nullptr || ib.channel_count < 1 || ob.channel_count < 2 ||
      ib.data32[0] == nullptr || ob.data32[0] == nullptr || ob.data32[1] == nullptr) {
    return CLAP_PROCESS_ERROR;
  }
  // A mono input feeds both channels.
  const channels in{ib.data32[0], ib.channel_count > 1 && ib.data32[1] != nullptr ? ib.data32[1] : ib.data32[0]};
  const channels out{ob.data32[0], ob.data32[1]};
  if (s->_reload.exchange(false, std::memory_order_acquire)) {
    take_values(s);
  }
  clap_gui_drain(s, p->out_events);

  bool lead = p->transport != nullptr && clap_shell_transport_news(s, *p->transport, s->_clock);
  const clap_input_events_t* events = p->in_events;
  const uint32_t count = events != nullptr ? events->size(events) : 0;
  uint32_t start = 0;
  uint32_t next = 0;  // the next event a stretch looks at for transport
  for (uint32_t i = 0; i < count; ++i) {
    const clap_event_header_t* e = events->get(events, i);
    if (e == nullptr || e->space_id != CLAP_CORE_EVENT_SPACE_ID || e->type != CLAP_EVENT_PARAM_VALUE) {
      continue;
    }
    const uint32_t at = std::min(e->time, n);
    if (at > start) {
      run_stretch(s, p, in, out, start, at, &next, lead);
      lead = false;
      start = at;
    }
    clap_shell_take_param(s, e);
  }
  if (start < n) {
    run_stretch(s, p, in, out, start, n, &next, lead);
  }
  s->_clock += n;
  ob.constant_mask = 0;
  return CLAP_PROCESS_CONTINUE;
}

const void* get_extension(const clap_plugin_t* /*plugin*/, const char* id)
{
  if (id == nullptr) {
    return nullptr;
  }
  if (std::strcmp(id, CLAP_EXT_PARAMS) == 0) {
    return &morvane_clap_params;
  }
  if (std::strcmp(id, CLAP_EXT_STATE) == 0) {
    return &morvane_clap_state;
  }
  if (std::strcmp(id, CLAP_EXT_AUDIO_PORTS) == 0) {
    return &morvane_clap_audio_ports;
  }
  if (std::strcmp(id, CLAP_EXT_GUI) == 0) {
    return &morvane_clap_gui;
  }
  if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0) {
    return &morvane_clap_timer_support;
  }
  return nullptr;
}

void on_main_thread(const clap_plugin_t* /*plugin*/) {}

}  // namespace

int clap_shell_row(const clap_shell* shell, clap_id id) noexcept
{
  const int row = morvane_control_row(id);
  return row >= 0 && static_cast<uint32_t>(row) < shell->_num_controls ? row : -1;
}

void clap_shell_take_param(clap_shell* s, const clap_event_header_t* e) noexcept
{
  if (e->size < sizeof(clap_event_param_value_t)) {
    return;
  }
  const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(e);
  const int row = clap_shell_row(s, pv->param_id);
  if (row < 0 || !std::isfinite(pv->value)) {
    return;
  }
  const morvane_control& c = morvane_controls[row];
  const auto value = static_cast<float>(std::clamp(pv->value, static_cast<double>(c._min), static_cast<double>(c._max)));
  s->_ports[row] = value;
  s->_values[row].store(value, std::memory_order_relaxed);
}

bool clap_shell_transport_news(const clap_shell* s, const clap_event_transport_t& t, int64_t at) noexcept
{
  const clap_song& last = s->_song;
  constexpr uint32_t told = CLAP_TRANSPORT_HAS_TEMPO | CLAP_TRANSPORT_HAS_BEATS_TIMELINE |
                            CLAP_TRANSPORT_HAS_SECONDS_TIMELINE | CLAP_TRANSPORT_HAS_TIME_SIGNATURE |
                            CLAP_TRANSPORT_IS_PLAYING;
  if (!last._valid || ((t.flags ^ last._flags) & told) != 0) {
    return true;
  }
  if ((t.flags & CLAP_TRANSPORT_HAS_TEMPO) && t.tempo != last._tempo) {
    return true;
  }
  if ((t.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) &&
      (t.tsig_num != last._tsig_num || t.tsig_denom != last._tsig_denom)) {
    return true;
  }
  const double elapsed = (t.flags & CLAP_TRANSPORT_IS_PLAYING) ? static_cast<double>(at - last._at) : 0.0;
  if (t.flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) {
    const double seconds = static_cast<double>(t.song_pos_seconds) / static_cast<double>(CLAP_SECTIME_FACTOR);
    if (std::fabs(seconds - (last._seconds + elapsed / s->_rate)) * s->_rate > 1.0) {
      return true;
    }
  }
  if (t.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) {
    if (!(t.flags & CLAP_TRANSPORT_HAS_TEMPO) && elapsed > 0.0) {
      return true;  // the beats move at a pace not said
    }
    const double per_sample = (t.flags & CLAP_TRANSPORT_HAS_TEMPO) ? t.tempo / 60.0 / s->_rate : 0.0;
    const double beats = static_cast<double>(t.song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR);
    if (std::fabs(beats - (last._beats + elapsed * per_sample)) > per_sample + 1e-6) {
      return true;
    }
  }
  return false;
}

void clap_shell_forge_position(clap_shell* s, const clap_event_transport_t& t, uint32_t frames, int64_t at) noexcept
{
  LV2_Atom_Forge* forge = &s->_forge;
  // Room for the whole object, so that no position is cut short.
  if (forge->size - forge->offset < 320) {
    return;
  }
  const clap_time_uris& u = s->_time;
  const double seconds = static_cast<double>(t.song_pos_seconds) / static_cast<double>(CLAP_SECTIME_FACTOR);
  const double beats = static_cast<double>(t.song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR);
  lv2_atom_forge_frame_time(forge, frames);
  LV2_Atom_Forge_Frame object;
  lv2_atom_forge_object(forge, &object, 0, u._position);
  lv2_atom_forge_key(forge, u._speed);
  lv2_atom_forge_float(forge, (t.flags & CLAP_TRANSPORT_IS_PLAYING) ? 1.0f : 0.0f);
  // CLAP counts beats and tempo in quarter notes.
  lv2_atom_forge_key(forge, u._beat_unit);
  lv2_atom_forge_int(forge, 4);
  if ((t.flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) && seconds >= 0.0) {
    lv2_atom_forge_key(forge, u._frame);
    lv2_atom_forge_double(forge, seconds * s->_rate);
  }
  if ((t.flags & CLAP_TRANSPORT_HAS_TEMPO) && std::isfinite(t.tempo) && t.tempo > 0.0) {
    lv2_atom_forge_key(forge, u._bpm);
    lv2_atom_forge_double(forge, t.tempo);
  }
  const bool metre = (t.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) && t.tsig_num > 0 && t.tsig_denom > 0;
  if (metre) {
    lv2_atom_forge_key(forge, u._beats_per_bar);
    lv2_atom_forge_double(forge, t.tsig_num * 4.0 / t.tsig_denom);
  }
  if (t.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) {
    lv2_atom_forge_key(forge, u._beat);
    lv2_atom_forge_double(forge, beats);
    if (metre) {
      lv2_atom_forge_key(forge, u._bar);
      lv2_atom_forge_long(forge, t.bar_number);
      lv2_atom_forge_key(forge, u._bar_beat);
      lv2_atom_forge_double(forge, beats - static_cast<double>(t.bar_start) / static_cast<double>(CLAP_BEATTIME_FACTOR));
    }
  }
  lv2_atom_forge_pop(forge, &object);
  s->_song = clap_song{true, t.flags, beats, seconds, t.tempo, t.tsig_num, t.tsig_denom, at};
}

const clap_plugin_t* clap_shell_create(const clap_host_t* host, const clap_plugin_descriptor_t* desc,
                                       uint32_t lv2_index) noexcept
{
  auto* s = new (std::nothrow) clap_shell();
  if (s == nullptr) {
    return nullptr;
  }
  s->_plugin = clap_plugin_t{desc,         s,     init,    destroy,       activate,       deactivate,
                             start_processing, stop_processing, reset, process, get_extension, on_main_thread};
  s->_host = host;
  s->_lv2 = lv2_descriptor(lv2_index);
  s->_stereo = lv2_index == 1;
  s->_num_controls = s->_stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    s->_ports[row] = morvane_controls[row]._default;
    s->_values[row].store(morvane_controls[row]._default, std::memory_order_relaxed);
  }
  s->_urids._map = LV2_URID_Map{&s->_urids, map_uri};
  s->_map_feature = LV2_Feature{LV2_URID__map, &s->_urids._map};
  s->_features[0] = &s->_map_feature;
  s->_features[1] = nullptr;
  LV2_URID_Map* map = &s->_urids._map;
  s->_time = clap_time_uris{map_uri(map->handle, LV2_TIME__Position),   map_uri(map->handle, LV2_TIME__frame),
                            map_uri(map->handle, LV2_TIME__speed),      map_uri(map->handle, LV2_TIME__bar),
                            map_uri(map->handle, LV2_TIME__barBeat),    map_uri(map->handle, LV2_TIME__beat),
                            map_uri(map->handle, LV2_TIME__beatUnit),   map_uri(map->handle, LV2_TIME__beatsPerBar),
                            map_uri(map->handle, LV2_TIME__beatsPerMinute)};
  lv2_atom_forge_init(&s->_forge, map);
  // An empty sequence until the first run writes one.
  lv2_atom_forge_set_buffer(&s->_forge, s->_sequence, sizeof s->_sequence);
  LV2_Atom_Forge_Frame seq;
  lv2_atom_forge_sequence_head(&s->_forge, &seq, 0);
  lv2_atom_forge_pop(&s->_forge, &seq);
  s->_gui = clap_gui_new(s);
  if (s->_lv2 == nullptr || s->_time._position == 0 || s->_forge.Sequence == 0 || s->_gui == nullptr) {
    clap_gui_free(s->_gui);
    delete s;
    return nullptr;
  }
  return &s->_plugin;
}
