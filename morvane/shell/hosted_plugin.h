/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* What every plug-in format's shell around the LV2 plug-in shares: one
 * instance of an LV2 descriptor (the same code, linked in) and the host's
 * part for it. The control ports read the shell's own values, the atom
 * control port a sequence the shell writes the host's transport into as
 * time:Position objects, and the audio ports the host's buffers of each
 * stretch. A shell runs a block stretch by stretch, split at each
 * parameter change, since the LV2 instance reads its controls once a run.
 *
 * Threads: init, instantiate, activate, deactivate, cleanup and the state
 * run on the host's main thread; the stretches, setting a parameter while
 * active, reset and the transport on its audio thread, without
 * allocation, lock or system call. */
#ifndef MORVANE_HOSTED_PLUGIN_H
#define MORVANE_HOSTED_PLUGIN_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "controls.h"

/* Bytes of the atom sequence handed to the LV2 control port each run:
 * room for some twenty positions. */
constexpr uint32_t MORVANE_HOSTED_SEQUENCE_BYTES = 4096;

/* Bytes of the largest state hosted_save writes. */
constexpr uint32_t MORVANE_HOSTED_STATE_BYTES = 12 + 8 * MORVANE_NUM_STEREO_CONTROLS;

/* The URID map offered to the LV2 instance: URIs numbered from 1 in the
 * order asked. Main thread only (the plug-in maps when instantiated). */
struct hosted_urid_map {
  std::vector<std::string> _uris;
  LV2_URID_Map _map;
};

/* The URIDs positions are forged with. */
struct hosted_time_uris {
  LV2_URID _position, _frame, _speed, _bar, _bar_beat, _beat, _beat_unit, _beats_per_bar, _bpm;
};

/* What a host's transport says, whatever the format: its flags tell which
 * of the other fields are known. Beats, tempo and bar starts count quarter
 * notes. */
enum hosted_transport_flags : uint32_t {
  HOSTED_PLAYING = 1u << 0,
  HOSTED_HAS_BEATS = 1u << 1,    // _beats
  HOSTED_HAS_SECONDS = 1u << 2,  // _seconds and _frame
  HOSTED_HAS_TEMPO = 1u << 3,    // _tempo
  HOSTED_HAS_METRE = 1u << 4,    // _tsig_num / _tsig_denom
  HOSTED_HAS_BAR = 1u << 5,      // _bar_number and _bar_start
};

struct hosted_transport {
  uint32_t _flags;
  double _beats;    // song position in quarter notes
  double _seconds;  // song position in seconds
  double _frame;    // the same in samples at the plug-in's rate
  double _tempo;    // quarter notes a minute
  uint16_t _tsig_num, _tsig_denom;
  int64_t _bar_number;  // of the bar holding the position, from 0
  double _bar_start;    // quarter notes at that bar's start
};

/* The last transport handed the LV2 instance as a position, and how far
 * the sample counter had got then; the host's per-block transport is
 * forwarded only when it is not where this one leads. */
struct hosted_song {
  bool _valid;
  uint32_t _flags;
  double _beats, _seconds, _tempo;
  uint16_t _tsig_num, _tsig_denom;
  int64_t _at;  // sample counter at the position
};

struct hosted_plugin {
  bool _stereo;
  uint32_t _num_controls;
  const LV2_Descriptor* _lv2;
  LV2_Handle _instance;  // made once the rate is known, kept while it stays
  double _rate;
  hosted_urid_map _urids;
  LV2_Feature _map_feature;
  const LV2_Feature* _features[2];
  hosted_time_uris _time;
  LV2_Atom_Forge _forge;
  LV2_Atom_Forge_Frame _sequence_frame;
  // What the LV2 control ports read, by row; the audio thread's (and the
  // main thread's while inactive).
  float _ports[MORVANE_NUM_STEREO_CONTROLS];
  // The values as the host and the state see them, by row.
  std::atomic<float> _values[MORVANE_NUM_STEREO_CONTROLS];
  // A state was loaded: the next block takes _values into _ports first.
  std::atomic<bool> _reload;
  hosted_song _song;
  int64_t _clock;  // samples processed since activation
  alignas(8) uint8_t _sequence[MORVANE_HOSTED_SEQUENCE_BYTES];
};

/* Readies `h` (constructed, not yet initialised) for the LV2 descriptor at
 * `lv2_index` (0 mono, 1 stereo): every control at its default, the URIDs
 * mapped, an empty sequence. False when the descriptor or a URID is
 * missing. */
bool hosted_init(hosted_plugin* h, uint32_t lv2_index) noexcept;

/* Makes the LV2 instance for `rate` unless one is made at that rate, and
 * connects its controls; one made at another rate goes first. The engines
 * draw their random phase offsets from rand() when made. False when the
 * descriptor cannot be instantiated. */
bool hosted_instantiate(hosted_plugin* h, double rate) noexcept;

/* Activates the instance: the values into its controls, the song and the
 * sample counter afresh. */
void hosted_activate(hosted_plugin* h) noexcept;

void hosted_deactivate(hosted_plugin* h) noexcept;

/* Frees the LV2 instance, if made. */
void hosted_cleanup(hosted_plugin* h) noexcept;

/* Audio thread: the instance's signal state afresh (its activate, which
 * does not allocate), and the song forgotten. */
void hosted_reset(hosted_plugin* h) noexcept;

/* The values of the state or the host into what the LV2 instance reads. */
void hosted_take_values(hosted_plugin* h) noexcept;

/* Takes the values in first if a state was loaded since the last block. */
void hosted_take_reload(hosted_plugin* h) noexcept;

/* The row of the control whose parameter id is `id` (its LV2 port index),
 * or -1 when this plug-in has no such control. */
int hosted_row(const hosted_plugin* h, uint32_t id) noexcept;

/* Sets the control of parameter id `id` to `value`, clamped to its range;
 * a value not finite or an id not ours is ignored (false). */
bool hosted_set(hosted_plugin* h, uint32_t id, double value) noexcept;

/* Whether the transport `t` at sample `at` says something the last
 * position forwarded does not: a first position, other flags, tempo or
 * metre, or a song position more than a sample away from where the last
 * one leads. */
bool hosted_transport_news(const hosted_plugin* h, const hosted_transport& t, int64_t at) noexcept;

/* Starts and ends the sequence the next stretch's LV2 run reads. */
void hosted_begin_sequence(hosted_plugin* h) noexcept;
void hosted_end_sequence(hosted_plugin* h) noexcept;

/* Forges `t` as a time:Position event `frames` into the sequence being
 * written; remembers it as the song's last position at sample `at`. */
void hosted_forge_position(hosted_plugin* h, const hosted_transport& t, uint32_t frames, int64_t at) noexcept;

/* Runs n samples of the given channels through the LV2 instance, with the
 * sequence last written. */
void hosted_run(hosted_plugin* h, const float* in_l, const float* in_r, float* out_l, float* out_r,
                uint32_t n) noexcept;

/* Whether hosts should step the control of `row`: an enumeration of whole
 * numbers (a mode switch) is stepped; one whose points are note values
 * between which any value counts (a cycle) is not. */
bool hosted_stepped(uint32_t row) noexcept;

/* The text of `value` for the control of `row`: a scale point's label when
 * the value is that point, else the number in the control's unit. */
void hosted_value_text(uint32_t row, double value, char* display, uint32_t size) noexcept;

/* The value a text means for the control of `row`: a scale point's label,
 * or a number (a unit after it is passed over), clamped to its range.
 * False when it is neither. */
bool hosted_text_value(uint32_t row, const char* display, double* value) noexcept;

/* The state: every control's value and nothing else, as a small versioned
 * binary stream (see hosted_state.cpp). Save writes it through `write`
 * (which takes all of the bytes or fails); load reads it through `read`
 * (which gives all the bytes asked or fails) and sets _reload. */
using hosted_write_fn = bool (*)(void* context, const uint8_t* data, uint64_t size);
using hosted_read_fn = bool (*)(void* context, uint8_t* data, uint64_t size);
bool hosted_save(const hosted_plugin* h, hosted_write_fn write, void* context) noexcept;
bool hosted_load(hosted_plugin* h, hosted_read_fn read, void* context) noexcept;

#endif /* MORVANE_HOSTED_PLUGIN_H */
