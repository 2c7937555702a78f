// SPDX-License-Identifier: LGPL-2.1-or-later
// The morvane LV2 plug-in: one descriptor, one instance record per
// instance holding the host's port buffers and an effect engine.
#include "morvane.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>
#include <quivex/libquivex.h>

#include "cpu_level.h"
#include "decibel.h"
#include "denormal_guard.h"
#include "inline_display.h"
#include "inline_picture.h"
#include "libquivex_restart.h"
#include "libtembra_internal.h"
#include "morvane_internal.h"
#include "sequence_reader.h"
#include "song_lock.h"
#include "stereo_field.h"
#include "frame_source.h"
#include "window_link.h"

namespace {

// The instance record: the port buffers in port order, then the engine,
// then the song lock and what the plug-in's window and a host's inline
// display use.
struct morvane {
  const float* _gain;
  const float* _lfo_shake_amp_amp;
  const float* _lfo_shake_amp_freq;
  const float* _lfo_shake_amp_amount;
  const float* _lfo_shake_amp_mod;
  const float* _lfo_shake_freq_amp;
  const float* _lfo_shake_freq_freq;
  const float* _lfo_shake_freq_amount;
  const float* _lfo_shake_freq_mod;
  const float* _lfo_shake_time_amp;
  const float* _lfo_shake_time_freq;
  const float* _lfo_shake_time_amount;
  const float* _lfo_shake_time_mod;
  const float* _lfo_amp_range_amp;
  const float* _lfo_amp_range_freq;
  const float* _lfo_amp_range_amount;
  const float* _lfo_amp_range_mod;
  const float* _lfo_freq_range_amp;
  const float* _lfo_freq_range_freq;
  const float* _lfo_freq_range_amount;
  const float* _lfo_freq_range_mod;
  const float* _lfo_time_range_amp;
  const float* _lfo_time_range_freq;
  const float* _lfo_time_range_amount;
  const float* _lfo_time_range_mod;
  const float* _input_l;
  const float* _input_r;
  float* _output_l;
  float* _output_r;
  libquivex _libquivex;
  const LV2_Atom_Sequence* _control;  // messages from the window, or NULL
  LV2_Atom_Sequence* _notify;         // frames to the window, or NULL
  const float* _lfo_shake_amp_sync;
  const float* _lfo_shake_amp_cycle;
  const float* _lfo_shake_freq_sync;
  const float* _lfo_shake_freq_cycle;
  const float* _lfo_shake_time_sync;
  const float* _lfo_shake_time_cycle;
  const float* _stereo_mode;  // the stereo plug-in's own controls
  const float* _width;
  const float* _lfo_offset;
  bool _stereo;               // the stereo plug-in: _libquivex is _field._left
  stereo_field _field;        // its two engines
  double _rate;
  song_lock _song;
  window_link _window;
  inline_picture _inline;
};

// How the plug-in applies each control of the table, row by row: the
// record's field the host connects, and the engine's setter that takes the
// value in the engine's unit (none for the song lock's ports, which run
// reads itself).
struct control_binding {
  const float* morvane::*_field;
  void (*_apply)(libquivex, float);
};

constexpr control_binding control_bindings[MORVANE_NUM_STEREO_CONTROLS] = {
  {&morvane::_gain, libquivex_set_gain},
  {&morvane::_lfo_shake_amp_amp, libquivex_set_lfo_amp_amp},
  {&morvane::_lfo_shake_amp_freq, libquivex_set_lfo_amp_freq},
  {&morvane::_lfo_shake_amp_amount, libquivex_set_lfo_amp_amount},
  {&morvane::_lfo_shake_amp_mod, libquivex_set_lfo_amp_mod},
  {&morvane::_lfo_shake_freq_amp, libquivex_set_lfo_freq_amp},
  {&morvane::_lfo_shake_freq_freq, libquivex_set_lfo_freq_freq},
  {&morvane::_lfo_shake_freq_amount, libquivex_set_lfo_freq_amount},
  {&morvane::_lfo_shake_freq_mod, libquivex_set_lfo_freq_mod},
  {&morvane::_lfo_shake_time_amp, libquivex_set_lfo_time_amp},
  {&morvane::_lfo_shake_time_freq, libquivex_set_lfo_time_freq},
  {&morvane::_lfo_shake_time_amount, libquivex_set_lfo_time_amount},
  {&morvane::_lfo_shake_time_mod, libquivex_set_lfo_time_mod},
  {&morvane::_lfo_amp_range_amp, libquivex_set_lfo_amp_range_amp},
  {&morvane::_lfo_amp_range_freq, libquivex_set_lfo_amp_range_freq},
  {&morvane::_lfo_amp_range_amount, libquivex_set_lfo_amp_range_amount},
  {&morvane::_lfo_amp_range_mod, libquivex_set_lfo_amp_range_mod},
  {&morvane::_lfo_freq_range_amp, libquivex_set_lfo_freq_range_amp},
  {&morvane::_lfo_freq_range_freq, libquivex_set_lfo_freq_range_freq},
  {&morvane::_lfo_freq_range_amount, libquivex_set_lfo_freq_range_amount},
  {&morvane::_lfo_freq_range_mod, libquivex_set_lfo_freq_range_mod},
  {&morvane::_lfo_time_range_amp, libquivex_set_lfo_time_range_amp},
  {&morvane::_lfo_time_range_freq, libquivex_set_lfo_time_range_freq},
  {&morvane::_lfo_time_range_amount, libquivex_set_lfo_time_range_amount},
  {&morvane::_lfo_time_range_mod, libquivex_set_lfo_time_range_mod},
  {&morvane::_lfo_shake_amp_sync, nullptr},
  {&morvane::_lfo_shake_amp_cycle, nullptr},
  {&morvane::_lfo_shake_freq_sync, nullptr},
  {&morvane::_lfo_shake_freq_cycle, nullptr},
  {&morvane::_lfo_shake_time_sync, nullptr},
  {&morvane::_lfo_shake_time_cycle, nullptr},
  {&morvane::_stereo_mode, nullptr},
  {&morvane::_width, nullptr},
  {&morvane::_lfo_offset, nullptr},
};

// The rows of an instance's controls.
uint32_t num_controls(const morvane* self) { return self->_stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS; }

}  // namespace

// The value of the control in row `row` in the engine's unit: the port's
// value (its default while the host has not connected it) clamped to its
// range, then decibels as a linear factor and a percentage as the double
// 0.01 times the widened value, rounded to float once.
static float engine_value(const float* port, uint32_t row) noexcept
{
  const morvane_control& c = morvane_controls[row];
  const float value = morvane_clamp_control(row, port ? *port : c._default);
  switch (c._unit) {
    case MORVANE_UNIT_DB: return db_to_amp(value);
    case MORVANE_UNIT_PERCENT: return static_cast<float>(0.01 * static_cast<double>(value));
    case MORVANE_UNIT_HZ:
    case MORVANE_UNIT_DEGREE:
    case MORVANE_UNIT_NONE: break;
  }
  return value;
}

// The host's feature of this URI, or NULL.
static const void* host_feature(const LV2_Feature* const* features, const char* uri) noexcept
{
  for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
    if (std::strcmp((*f)->URI, uri) == 0) {
      return (*f)->data;
    }
  }
  return nullptr;
}

// Sets up the window's data path and the inline display from what the host
// offers; both are optional, and without urid:map no frame is ever written.
static bool link_host_features(morvane* self, const LV2_Feature* const* features) noexcept
{
  const auto* map = static_cast<const LV2_URID_Map*>(host_feature(features, LV2_URID__map));
  song_lock_init(&self->_song, map, self->_rate);
  window_link_init(&self->_window, map, self->_rate, &self->_song);
  const auto* queue =
      static_cast<const morvane_inline_queue_draw*>(host_feature(features, MORVANE_INLINEDISPLAY__queue_draw));
  return inline_picture_init(&self->_inline, queue, self->_rate, &self->_song);
}

// Everything of instantiate after the processor check: may use AVX2.
__attribute__((noinline))
static LV2_Handle create_instance(double rate, const LV2_Feature* const* features, bool stereo) noexcept
{
  // The engine takes an integer rate; reject what cannot be one.
  if (!(rate >= 1.0 && rate <= static_cast<double>(INT_MAX))) {
    return nullptr;
  }
  // Value-initialised: every port pointer starts as NULL, so run's audio
  // guards also cover a host that has not connected the audio ports yet.
  auto* self = new (std::nothrow) morvane();
  if (!self) {
    return nullptr;
  }
  self->_rate = rate;
  self->_stereo = stereo;
  // Truncation towards zero: 44100.0 gives 44100. Every engine is created
  // here, the left (or only) one first: each draws its random phase offsets
  // from rand() in this order.
  const auto engine_rate = static_cast<unsigned long>(rate);
  bool engines = false;
  if (stereo) {
    engines = stereo_field_init(&self->_field, engine_rate);
    self->_libquivex = self->_field._left;
  } else {
    self->_libquivex = libquivex_new(engine_rate);
    engines = self->_libquivex != nullptr;
  }
  if (!engines || !link_host_features(self, features)) {
    if (stereo) {
      stereo_field_free(&self->_field);
    } else {
      libquivex_free(self->_libquivex);
    }
    inline_picture_free(&self->_inline);
    delete self;
    return nullptr;
  }
  return self;
}

// A host on a processor below the build's level gets NULL here instead of
// an illegal instruction later; this function is built for plain x86-64 so
// that the check itself runs everywhere.
// Both plug-ins: the descriptor says which one.
MORVANE_BASELINE_CODE
static LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate,
                              const char* /*bundle_path*/, const LV2_Feature* const* features) noexcept
{
  if (!morvane_cpu_has_build_level()) {
    return nullptr;
  }
  const bool stereo = descriptor != nullptr && std::strcmp(descriptor->URI, MORVANE_STEREO_URI) == 0;
  return create_instance(rate, features, stereo);
}

static void connect_port(LV2_Handle instance, uint32_t port, void* data) noexcept
{
  auto* self = static_cast<morvane*>(instance);
  const int row = morvane_control_row(port);
  if (row >= 0 && static_cast<uint32_t>(row) < num_controls(self)) {
    self->*control_bindings[row]._field = static_cast<const float*>(data);
    return;
  }
  switch (port) {
    case MORVANE_INPUT_L: self->_input_l = static_cast<const float*>(data); break;
    case MORVANE_INPUT_R: self->_input_r = static_cast<const float*>(data); break;
    case MORVANE_OUTPUT_L: self->_output_l = static_cast<float*>(data); break;
    case MORVANE_OUTPUT_R: self->_output_r = static_cast<float*>(data); break;
    case MORVANE_CONTROL: self->_control = static_cast<const LV2_Atom_Sequence*>(data); break;
    case MORVANE_NOTIFY: self->_notify = static_cast<LV2_Atom_Sequence*>(data); break;
    default: break;
  }
}

// A host activates an instance to start it afresh (after a bypass toggle,
// before an export): the engine's signal state (resonators, phasors, glides,
// LFO phases, smoothing memory, caches) goes back to what instantiate left,
// keeping the random phase offsets and the control values, so nothing of
// the audio before deactivation sounds on. The first activate after
// instantiate changes nothing. No allocation.
static void activate(LV2_Handle instance) noexcept
{
  auto* self = static_cast<morvane*>(instance);
  libquivex_restart(self->_libquivex, libtembra_restart);
  if (self->_stereo) {
    libquivex_restart(self->_field._right, libtembra_restart);
    stereo_field_restart(&self->_field);
  }
  song_lock_restart(&self->_song);
}

static void deactivate(LV2_Handle /*instance*/) noexcept {}

// The value of the control with `role` in `group`, clamped.
static float setting(const morvane* self, int group, morvane_role role) noexcept
{
  const int row = morvane_control_row(static_cast<uint32_t>(morvane_control_port(group, role)));
  const float* port = self->*control_bindings[row]._field;
  return morvane_clamp_control(static_cast<uint32_t>(row), port ? *port : morvane_controls[row]._default);
}

// Processes samples [start, end) of this run. Mono: the left output in
// place, which holds the left input; the engine counts samples in an int,
// so longer stretches go in pieces, which processes the same samples in the
// same order. Stereo: both inputs into both outputs (stereo_field.h).
static void play(morvane* self, uint32_t start, uint32_t end) noexcept
{
  if (self->_stereo) {
    stereo_field_play(&self->_field, self->_input_l, self->_input_r, self->_output_l, self->_output_r, start,
                      end);
    return;
  }
  while (start < end) {
    const uint32_t chunk = std::min<uint32_t>(end - start, INT_MAX);
    libquivex_next_buffer(self->_libquivex, self->_output_l + start, static_cast<int>(chunk));
    start += chunk;
  }
}

static void run(LV2_Handle instance, uint32_t n_samples) noexcept
{
  const tembra_fp::DenormalGuard guard;
  auto* self = static_cast<morvane*>(instance);
  const libquivex q = self->_libquivex;

  // Every control value is sampled once per call, clamped, converted and
  // handed to the engine in port order, also when the audio is skipped.
  for (uint32_t row = 0; row < MORVANE_NUM_CONTROLS; ++row) {
    const control_binding& b = control_bindings[row];
    if (b._apply != nullptr) {
      const float value = engine_value(self->*b._field, row);
      b._apply(q, value);
      if (self->_stereo) {
        b._apply(self->_field._right, value);
      }
    }
  }
  if (self->_stereo) {
    stereo_field_set(&self->_field, setting(self, MORVANE_GROUP_STEREO, MORVANE_ROLE_STEREO_MODE),
                     setting(self, MORVANE_GROUP_STEREO, MORVANE_ROLE_WIDTH),
                     setting(self, MORVANE_GROUP_STEREO, MORVANE_ROLE_LFO_OFFSET));
  }
  lfo_timing timing[MORVANE_NUM_SHAKE_LFOS];
  for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
    timing[i] = {static_cast<morvane_sync>(std::lround(setting(self, i, MORVANE_ROLE_SYNC))),
                 setting(self, i, MORVANE_ROLE_RATE), setting(self, i, MORVANE_ROLE_CYCLE)};
  }
  const bool locked = song_lock_any_locked(timing);
  const stereo_field* field = self->_stereo ? &self->_field : nullptr;  // for the window's frames

  // Mono processing of the left input; the right input is never read. The
  // stereo plug-in reads both and writes both.
  const float* in = self->_input_l;
  float* out = self->_output_l;
  bool audio = in != nullptr && out != nullptr;
  if (self->_stereo) {
    audio = audio && self->_input_r != nullptr && self->_output_r != nullptr;
  } else if (audio) {
    // memmove: the host may hand both ports the same buffer.
    std::memmove(out, in, sizeof(float) * n_samples);
  }

  // The control port's events in their order: the window's messages take
  // effect at once (a window that opens gets this run's frame); a song
  // position from its own sample on, the audio before it processed first
  // when an LFO is locked to the song.
  uint32_t start = 0;   // of the song's current stretch
  uint32_t played = 0;  // audio processed up to here
  morvane_sequence_reader events = morvane_sequence_begin(self->_control, self->_window._uris._atom_Sequence);
  for (morvane_event event; morvane_sequence_next(&events, &event);) {
    const auto at = static_cast<uint32_t>(std::clamp<int64_t>(event._frames, start, n_samples));
    song_position taken;
    if (song_lock_is_position(&self->_song, event, at - start, &taken)) {
      if (locked) {
        song_lock_begin(&self->_song, q, timing);
        if (audio) {
          play(self, played, at);
        }
        played = at;
      }
      song_lock_advance(&self->_song, at - start);
      start = at;
      song_lock_take(&self->_song, taken);
    } else {
      window_link_read(&self->_window, event);
    }
  }
  if (locked) {
    song_lock_begin(&self->_song, q, timing);
  }
  if (audio) {
    play(self, played, n_samples);
  }
  song_lock_advance(&self->_song, n_samples - start);
  if (locked) {
    song_lock_end(&self->_song, q);
  }
  if (!audio) {
    window_link_write(&self->_window, self->_notify, q, field, 0.0f, 0);
    return;
  }
  if (self->_output_r && !self->_stereo) {
    std::memmove(self->_output_r, out, sizeof(float) * n_samples);
  }

  // Only while a window is open or a host shows the inline display does
  // run look at its output again.
  const bool watched = window_link_open(&self->_window, self->_notify) || self->_inline._enabled;
  float run_peak = 0.0f;
  if (watched) {
    run_peak = morvane_buffer_peak(out, n_samples);
    if (self->_stereo) {
      run_peak = std::max(run_peak, morvane_buffer_peak(self->_output_r, n_samples));
    }
  }
  window_link_write(&self->_window, self->_notify, q, field, run_peak, n_samples);
  if (self->_inline._enabled) {
    inline_picture_run(&self->_inline, q, field, run_peak, n_samples);
  }
}

static void cleanup(LV2_Handle instance) noexcept
{
  auto* self = static_cast<morvane*>(instance);
  if (self->_stereo) {
    stereo_field_free(&self->_field);
  } else {
    libquivex_free(self->_libquivex);
  }
  inline_picture_free(&self->_inline);
  delete self;
}

// The host's GUI thread asks for a picture of at most w x h pixels, while
// run may go on.
static morvane_inline_surface* render_inline(LV2_Handle instance, uint32_t w, uint32_t h) noexcept
{
  return inline_picture_render(&static_cast<morvane*>(instance)->_inline, w, h);
}

static const morvane_inline_interface inline_interface = {render_inline};

_libquivex* morvane_engine(void* instance) noexcept
{
  return static_cast<morvane*>(instance)->_libquivex;
}

const morvane_frame* morvane_inline_snapshot(void* instance) noexcept
{
  const inline_picture& picture = static_cast<morvane*>(instance)->_inline;
  return picture._has_picture ? &picture._slots[picture._read_slot] : nullptr;
}

// A host may ask before instantiating, so this is baseline code too.
MORVANE_BASELINE_CODE
static const void* extension_data(const char* uri) noexcept
{
  if (uri != nullptr && std::strcmp(uri, MORVANE_INLINEDISPLAY__interface) == 0) {
    return &inline_interface;
  }
  return nullptr;
}

static const LV2_Descriptor descriptor = {
  MORVANE_URI,
  instantiate,
  connect_port,
  activate,
  run,
  deactivate,
  cleanup,
  extension_data,
};

// Declared by the LV2 header without noexcept; the definition must match
// it (clang refuses a mismatch). It cannot throw. Baseline code: a host
// calls it on any processor.
static const LV2_Descriptor stereo_descriptor = {
  MORVANE_STEREO_URI,
  instantiate,
  connect_port,
  activate,
  run,
  deactivate,
  cleanup,
  extension_data,
};

LV2_SYMBOL_EXPORT MORVANE_BASELINE_CODE const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
  switch (index) {
    case 0: return &descriptor;
    case 1: return &stereo_descriptor;
    default: return nullptr;
  }
}
