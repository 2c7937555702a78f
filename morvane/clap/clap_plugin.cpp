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

#include "clap_gui.h"
#include "clap_shell.h"

namespace {

bool init(const clap_plugin_t* /*plugin*/)
{
  return true;
}

void destroy(const clap_plugin_t* plugin)
{
  clap_shell* s = clap_shell_of(plugin);
  clap_gui_free(s->_gui);
  hosted_cleanup(&s->_core);
  delete s;
}

// The engines are made once the rate is known, and kept while it stays:
// they draw their random phase offsets from rand() when made.
bool activate(const clap_plugin_t* plugin, double rate, uint32_t /*min_frames*/, uint32_t max_frames)
{
  clap_shell* s = clap_shell_of(plugin);
  const LV2_Handle before = s->_core._instance;
  if (!hosted_instantiate(&s->_core, rate)) {
    return false;
  }
  if (s->_core._instance != before) {
    clap_gui_instance_made(s);
  }
  s->_max_frames = max_frames;
  hosted_activate(&s->_core);
  return true;
}

void deactivate(const clap_plugin_t* plugin)
{
  hosted_deactivate(&clap_shell_of(plugin)->_core);
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
  hosted_reset(&clap_shell_of(plugin)->_core);
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
  hosted_plugin* h = &s->_core;
  hosted_begin_sequence(h);
  clap_gui_forge_message(s, &h->_forge);
  if (lead) {
    hosted_forge_position(h, clap_shell_transport(*p->transport, h->_rate), 0, h->_clock);
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
      const auto& t = *reinterpret_cast<const clap_event_transport_t*>(e);
      hosted_forge_position(h, clap_shell_transport(t, h->_rate), at - start, h->_clock + at);
    }
  }
  hosted_end_sequence(h);
  h->_lv2->connect_port(h->_instance, MORVANE_NOTIFY, clap_gui_notify(s));
  hosted_run(h, in._l + start, in._r + start, out._l + start, out._r + start, end - start);
  clap_gui_after_run(s);
}

clap_process_status process(const clap_plugin_t* plugin, const clap_process_t* p)
{
  clap_shell* s = clap_shell_of(plugin);
  const uint32_t n = p->frames_count;
  hosted_plugin* h = &s->_core;
  if (h->_instance == nullptr || n > s->_max_frames || p->audio_inputs_count < 1 || p->audio_outputs_count < 1) {
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
  hosted_take_reload(h);
  clap_gui_drain(s, p->out_events);

  bool lead =
      p->transport != nullptr && hosted_transport_news(h, clap_shell_transport(*p->transport, h->_rate), h->_clock);
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
  h->_clock += n;
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

void clap_shell_take_param(clap_shell* s, const clap_event_header_t* e) noexcept
{
  if (e->size < sizeof(clap_event_param_value_t)) {
    return;
  }
  const auto* pv = reinterpret_cast<const clap_event_param_value_t*>(e);
  hosted_set(&s->_core, pv->param_id, pv->value);
}

hosted_transport clap_shell_transport(const clap_event_transport_t& t, double rate) noexcept
{
  // The bar's number and start come with the beats timeline.
  const uint32_t flags = ((t.flags & CLAP_TRANSPORT_IS_PLAYING) ? HOSTED_PLAYING : 0u) |
                         ((t.flags & CLAP_TRANSPORT_HAS_BEATS_TIMELINE) ? HOSTED_HAS_BEATS | HOSTED_HAS_BAR : 0u) |
                         ((t.flags & CLAP_TRANSPORT_HAS_SECONDS_TIMELINE) ? HOSTED_HAS_SECONDS : 0u) |
                         ((t.flags & CLAP_TRANSPORT_HAS_TEMPO) ? HOSTED_HAS_TEMPO : 0u) |
                         ((t.flags & CLAP_TRANSPORT_HAS_TIME_SIGNATURE) ? HOSTED_HAS_METRE : 0u);
  const double seconds = static_cast<double>(t.song_pos_seconds) / static_cast<double>(CLAP_SECTIME_FACTOR);
  return hosted_transport{flags,
                          static_cast<double>(t.song_pos_beats) / static_cast<double>(CLAP_BEATTIME_FACTOR),
                          seconds,
                          seconds * rate,
                          t.tempo,
                          t.tsig_num,
                          t.tsig_denom,
                          t.bar_number,
                          static_cast<double>(t.bar_start) / static_cast<double>(CLAP_BEATTIME_FACTOR)};
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
  if (!hosted_init(&s->_core, lv2_index)) {
    delete s;
    return nullptr;
  }
  s->_gui = clap_gui_new(s);
  if (s->_gui == nullptr) {
    delete s;
    return nullptr;
  }
  return &s->_plugin;
}
