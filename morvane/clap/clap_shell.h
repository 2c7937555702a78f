/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The CLAP shell around the LV2 plug-in: one CLAP plug-in instance holds
 * one instance of the LV2 descriptor (the same code, linked in) and plays
 * the host's part for it. The control ports are connected to the shell's
 * own values, the atom control port to a sequence the shell writes the
 * host's transport into as time:Position objects, and the audio ports to
 * the CLAP buffers of each stretch. A parameter event splits the block
 * at its sample, since the LV2 instance reads its controls once a run.
 *
 * Threads: create, init, destroy, activate, deactivate, the parameters'
 * descriptions and the state run on the host's main thread; process,
 * reset and flush (while active) on its audio thread, without
 * allocation, lock or system call. */
#ifndef MORVANE_CLAP_SHELL_H
#define MORVANE_CLAP_SHELL_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <clap/events.h>
#include <clap/host.h>
#include <clap/plugin.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "controls.h"

struct clap_gui;

/* Bytes of the atom sequence handed to the LV2 control port each run:
 * room for some twenty positions. */
constexpr uint32_t MORVANE_CLAP_SEQUENCE_BYTES = 4096;

/* The URID map the shell offers its LV2 instance: URIs numbered from 1 in
 * the order asked. Main thread only (the plug-in maps when instantiated). */
struct clap_urid_map {
  std::vector<std::string> _uris;
  LV2_URID_Map _map;
};

/* The URIDs the shell forges positions with. */
struct clap_time_uris {
  LV2_URID _position, _frame, _speed, _bar, _bar_beat, _beat, _beat_unit, _beats_per_bar, _bpm;
};

/* The last transport the shell handed the LV2 instance as a position, and
 * how far the block counter had got then; the host's per-block transport
 * is forwarded only when it is not where this one leads. */
struct clap_song {
  bool _valid;
  uint32_t _flags;
  double _beats, _seconds, _tempo;
  uint16_t _tsig_num, _tsig_denom;
  int64_t _at;  // shell sample counter at the position
};

struct clap_shell {
  clap_plugin_t _plugin;
  const clap_host_t* _host;
  bool _stereo;
  uint32_t _num_controls;
  const LV2_Descriptor* _lv2;
  LV2_Handle _instance;  // made at the first activate, kept while the rate stays
  double _rate;
  uint32_t _max_frames;
  clap_urid_map _urids;
  LV2_Feature _map_feature;
  const LV2_Feature* _features[2];
  clap_time_uris _time;
  LV2_Atom_Forge _forge;
  // What the LV2 control ports read, by row; the audio thread's (and the
  // main thread's while inactive).
  float _ports[MORVANE_NUM_STEREO_CONTROLS];
  // The values as the host and the state see them, by row.
  std::atomic<float> _values[MORVANE_NUM_STEREO_CONTROLS];
  // A state was loaded: process takes _values into _ports first.
  std::atomic<bool> _reload;
  clap_song _song;
  int64_t _clock;  // samples processed since activation
  alignas(8) uint8_t _sequence[MORVANE_CLAP_SEQUENCE_BYTES];
  clap_gui* _gui;  // the window's side (clap_gui.h)
};

/* The shell of `plugin`. */
inline clap_shell* clap_shell_of(const clap_plugin_t* plugin)
{
  return static_cast<clap_shell*>(plugin->plugin_data);
}

/* The row of the control whose parameter id is `id` (its LV2 port index),
 * or -1 when this plug-in has no such parameter. */
int clap_shell_row(const clap_shell* shell, clap_id id) noexcept;

/* A new shell for the LV2 descriptor at `lv2_index` (0 mono, 1 stereo),
 * with `desc` as its CLAP descriptor; NULL when memory runs out. */
const clap_plugin_t* clap_shell_create(const clap_host_t* host, const clap_plugin_descriptor_t* desc,
                                       uint32_t lv2_index) noexcept;

/* Takes one parameter value event into the control values (out of range:
 * clamped; not finite or not ours: ignored). Audio thread while active. */
void clap_shell_take_param(clap_shell* shell, const clap_event_header_t* event) noexcept;

/* Forges the transport `t` as a time:Position event `frames` into the
 * sequence being written; remembers it as the song's last position at
 * shell sample `at`. */
void clap_shell_forge_position(clap_shell* shell, const clap_event_transport_t& t, uint32_t frames,
                               int64_t at) noexcept;

/* Whether the host's transport `t` at shell sample `at` says something the
 * last position forwarded does not: a first position, other flags, tempo
 * or metre, or a song position more than a sample away from where the
 * last one leads. */
bool clap_shell_transport_news(const clap_shell* shell, const clap_event_transport_t& t, int64_t at) noexcept;

/* The extensions. */
extern const struct clap_plugin_params morvane_clap_params;
extern const struct clap_plugin_state morvane_clap_state;
extern const struct clap_plugin_audio_ports morvane_clap_audio_ports;

#endif /* MORVANE_CLAP_SHELL_H */
