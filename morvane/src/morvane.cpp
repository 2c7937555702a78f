// SPDX-License-Identifier: LGPL-2.1-or-later
// The morvane LV2 plug-in: one descriptor, one instance record per
// instance holding the host's port buffers and an effect engine.
#include "morvane.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>

#include <atomic>

#include <dlfcn.h>

#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>
#include <quivex/libquivex.h>

#include "cpu_level.h"
#include "decibel.h"
#include "denormal_guard.h"
#include "frame.h"
#include "inline_display.h"
#include "libquivex_restart.h"
#include "libtembra_internal.h"
#include "morvane_internal.h"

namespace {

// Frames to the window: at most this many a second of audio (and one a run).
constexpr uint32_t FRAMES_PER_SECOND = 30;
// Pictures for a host's inline display: at most this many a second.
constexpr uint32_t INLINE_PICTURES_PER_SECOND = 8;

// The window's data path: whether a window said it is open, the URIDs and
// forge to write frames, and what the next frame needs.
struct window_link {
  bool _mapped;                  // the host gave urid:map: messages can be read, frames written
  morvane_uris _uris;
  LV2_Atom_Forge _forge;
  bool _open;                    // a window said WindowOpen and not yet WindowClosed
  uint32_t _frame_interval;      // samples between frames
  uint32_t _since_frame;         // samples since the last frame (saturating)
  float _peak;                   // largest |output sample| since the last frame
  morvane_frame _frame;          // the frame being written
};

// Snapshots handed from run to the inline display's render without a lock:
// three slots, one being written by run, one the latest finished, one being
// drawn by render. run publishes by swapping its slot with the latest;
// render takes the latest by swapping it with its own. Each side only ever
// touches its own slot, so neither waits for the other.
struct inline_display {
  morvane_inline_queue_draw _queue;  // the host's queue_draw feature (handle, function)
  bool _enabled;                     // the host offered queue_draw
  uint32_t _interval;                // samples between snapshots
  uint32_t _since;                   // samples since the last snapshot (saturating)
  float _peak;                       // largest |output sample| since the last snapshot
  morvane_frame _slots[3];
  morvane_frame _last_published;     // run's copy of what it last published
  int _write_slot;                   // run's slot
  int _read_slot;                    // render's slot
  std::atomic<int> _latest;          // the latest finished slot; | FRESH when render has not taken it
  bool _have_published;              // run has published at least one snapshot
  // render's side (the host's GUI thread only)
  char* _bundle_path;                // to find morvane_ui.so, which draws
  void* _ui_object;                  // dlopen handle of morvane_ui.so, or NULL
  morvane_ui_draw_inline_fn _draw;
  bool _load_failed;
  morvane_inline_surface _surface;   // pixels returned to the host, owned here
  size_t _surface_bytes;
  bool _has_picture;                 // render has taken at least one snapshot
};
constexpr int INLINE_FRESH = 4;

// The instance record: the 29 port buffers in port order, then the engine,
// then what the plug-in's window and a host's inline display use.
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
  double _rate;
  window_link _window;
  inline_display _inline;
};

}  // namespace

// The value of a control port, clamped to its declared range. A port the
// host has not connected reads as its default.
static float control_value(const float* port, PortIndex index) noexcept
{
  const float value = port ? *port : morvane_controls[index]._default;
  return morvane_clamp_control(index, value);
}

// A percentage as the engine's fraction: the double 0.01 times the widened
// value, rounded to float once.
static float percent(float value) noexcept
{
  return static_cast<float>(0.01 * static_cast<double>(value));
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
static bool link_host_features(morvane* self, const char* bundle_path,
                               const LV2_Feature* const* features) noexcept
{
  window_link& w = self->_window;
  const auto* map = static_cast<const LV2_URID_Map*>(host_feature(features, LV2_URID__map));
  if (map != nullptr && map->map != nullptr) {
    morvane_map_uris(&w._uris, map);
    lv2_atom_forge_init(&w._forge, const_cast<LV2_URID_Map*>(map));
    w._mapped = true;
  }
  w._frame_interval = static_cast<uint32_t>(std::max(1.0, self->_rate / FRAMES_PER_SECOND));

  inline_display& d = self->_inline;
  const auto* queue =
      static_cast<const morvane_inline_queue_draw*>(host_feature(features, MORVANE_INLINEDISPLAY__queue_draw));
  d._write_slot = 0;
  d._read_slot = 1;
  d._latest.store(2, std::memory_order_relaxed);
  d._interval = static_cast<uint32_t>(std::max(1.0, self->_rate / INLINE_PICTURES_PER_SECOND));
  if (queue != nullptr && queue->queue_draw != nullptr && bundle_path != nullptr) {
    d._queue = *queue;
    const size_t len = std::strlen(bundle_path);
    d._bundle_path = static_cast<char*>(std::malloc(len + 1));
    if (d._bundle_path == nullptr) {
      return false;
    }
    std::memcpy(d._bundle_path, bundle_path, len + 1);
    d._enabled = true;
  }
  return true;
}

// Everything of instantiate after the processor check: may use AVX2.
__attribute__((noinline))
static LV2_Handle create_instance(double rate, const char* bundle_path,
                                  const LV2_Feature* const* features) noexcept
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
  // Truncation towards zero: 44100.0 gives 44100.
  self->_libquivex = libquivex_new(static_cast<unsigned long>(rate));
  if (!self->_libquivex || !link_host_features(self, bundle_path, features)) {
    libquivex_free(self->_libquivex);
    std::free(self->_inline._bundle_path);
    delete self;
    return nullptr;
  }
  return self;
}

// A host on a processor below the build's level gets NULL here instead of
// an illegal instruction later; this function is built for plain x86-64 so
// that the check itself runs everywhere.
MORVANE_BASELINE_CODE
static LV2_Handle instantiate(const LV2_Descriptor* /*descriptor*/, double rate,
                              const char* bundle_path, const LV2_Feature* const* features) noexcept
{
  if (!morvane_cpu_has_build_level()) {
    return nullptr;
  }
  return create_instance(rate, bundle_path, features);
}

static void connect_port(LV2_Handle instance, uint32_t port, void* data) noexcept
{
  auto* self = static_cast<morvane*>(instance);
  const auto* in = static_cast<const float*>(data);
  auto* out = static_cast<float*>(data);
  switch (port) {
    case MORVANE_GAIN: self->_gain = in; break;
    case MORVANE_LFO_SHAKE_AMP_AMP: self->_lfo_shake_amp_amp = in; break;
    case MORVANE_LFO_SHAKE_AMP_FREQ: self->_lfo_shake_amp_freq = in; break;
    case MORVANE_LFO_SHAKE_AMP_AMOUNT: self->_lfo_shake_amp_amount = in; break;
    case MORVANE_LFO_SHAKE_AMP_MOD: self->_lfo_shake_amp_mod = in; break;
    case MORVANE_LFO_SHAKE_FREQ_AMP: self->_lfo_shake_freq_amp = in; break;
    case MORVANE_LFO_SHAKE_FREQ_FREQ: self->_lfo_shake_freq_freq = in; break;
    case MORVANE_LFO_SHAKE_FREQ_AMOUNT: self->_lfo_shake_freq_amount = in; break;
    case MORVANE_LFO_SHAKE_FREQ_MOD: self->_lfo_shake_freq_mod = in; break;
    case MORVANE_LFO_SHAKE_TIME_AMP: self->_lfo_shake_time_amp = in; break;
    case MORVANE_LFO_SHAKE_TIME_FREQ: self->_lfo_shake_time_freq = in; break;
    case MORVANE_LFO_SHAKE_TIME_AMOUNT: self->_lfo_shake_time_amount = in; break;
    case MORVANE_LFO_SHAKE_TIME_MOD: self->_lfo_shake_time_mod = in; break;
    case MORVANE_LFO_AMP_RANGE_AMP: self->_lfo_amp_range_amp = in; break;
    case MORVANE_LFO_AMP_RANGE_FREQ: self->_lfo_amp_range_freq = in; break;
    case MORVANE_LFO_AMP_RANGE_AMOUNT: self->_lfo_amp_range_amount = in; break;
    case MORVANE_LFO_AMP_RANGE_MOD: self->_lfo_amp_range_mod = in; break;
    case MORVANE_LFO_FREQ_RANGE_AMP: self->_lfo_freq_range_amp = in; break;
    case MORVANE_LFO_FREQ_RANGE_FREQ: self->_lfo_freq_range_freq = in; break;
    case MORVANE_LFO_FREQ_RANGE_AMOUNT: self->_lfo_freq_range_amount = in; break;
    case MORVANE_LFO_FREQ_RANGE_MOD: self->_lfo_freq_range_mod = in; break;
    case MORVANE_LFO_TIME_RANGE_AMP: self->_lfo_time_range_amp = in; break;
    case MORVANE_LFO_TIME_RANGE_FREQ: self->_lfo_time_range_freq = in; break;
    case MORVANE_LFO_TIME_RANGE_AMOUNT: self->_lfo_time_range_amount = in; break;
    case MORVANE_LFO_TIME_RANGE_MOD: self->_lfo_time_range_mod = in; break;
    case MORVANE_INPUT_L: self->_input_l = in; break;
    case MORVANE_INPUT_R: self->_input_r = in; break;
    case MORVANE_OUTPUT_L: self->_output_l = out; break;
    case MORVANE_OUTPUT_R: self->_output_r = out; break;
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
  libquivex_restart(static_cast<morvane*>(instance)->_libquivex, libtembra_restart);
}

static void deactivate(LV2_Handle /*instance*/) noexcept {}

// The window's messages on the control port: WindowOpen and WindowClosed
// switch the frames on and off; everything else (other types, truncated or
// oversized events, garbage) is passed over. Every length is checked
// against the sequence's own size before anything is read.
static void read_window_messages(morvane* self) noexcept
{
  window_link& w = self->_window;
  const LV2_Atom_Sequence* seq = self->_control;
  if (!w._mapped || seq == nullptr || seq->atom.type != w._uris._atom_Sequence ||
      seq->atom.size < sizeof(LV2_Atom_Sequence_Body)) {
    return;
  }
  const auto* body = reinterpret_cast<const uint8_t*>(&seq->body);
  const uint64_t size = seq->atom.size;
  uint64_t offset = sizeof(LV2_Atom_Sequence_Body);
  while (size - offset >= sizeof(LV2_Atom_Event)) {
    const auto* ev = reinterpret_cast<const LV2_Atom_Event*>(body + offset);
    const uint64_t room = size - offset - sizeof(LV2_Atom_Event);
    if (ev->body.size > room) {
      break;  // an event longer than the sequence: nothing after it can be trusted
    }
    const uint32_t atom_size = static_cast<uint32_t>(sizeof(LV2_Atom) + ev->body.size);
    const int says = morvane_window_message_read(&w._uris, &ev->body, atom_size);
    if (says == 1 && !w._open) {
      w._open = true;
      w._since_frame = w._frame_interval;  // the first frame goes out at once
      w._peak = 0.0f;
    } else if (says == 0) {
      w._open = false;
    }
    offset += (sizeof(LV2_Atom_Event) + static_cast<uint64_t>(ev->body.size) + 7u) & ~uint64_t{7};
  }
}

// The largest |sample| of a buffer (NaN is never produced by the engine;
// fmax would pass over it anyway).
static float buffer_peak(const float* out, uint32_t n) noexcept
{
  float peak = 0.0f;
  for (uint32_t i = 0; i < n; ++i) {
    peak = std::fmax(peak, std::fabs(out[i]));
  }
  return peak;
}

// What the engine holds after the last sample, as a frame.
static void fill_frame(const morvane* self, morvane_frame* frame, float peak) noexcept
{
  frame->_audible = libquivex_get_partials(self->_libquivex, frame->_analysed_amps, frame->_analysed_freqs,
                                           frame->_shaken_amps, frame->_shaken_freqs);
  libquivex_get_lfo_values(self->_libquivex, frame->_lfo_values);
  frame->_output_peak = peak;
  frame->_sample_rate = static_cast<float>(self->_rate);
}

static uint32_t saturating_add(uint32_t a, uint32_t b) noexcept
{
  return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

// The notify port after a run: a valid sequence within the capacity the
// host set in it, holding one frame when a window is open, a frame is due
// and it fits (a buffer too small loses frames, never memory).
static void write_window_frames(morvane* self, float run_peak, uint32_t n_samples) noexcept
{
  window_link& w = self->_window;
  LV2_Atom_Sequence* seq = self->_notify;
  if (seq == nullptr || !w._mapped) {
    return;
  }
  const uint32_t capacity = seq->atom.size;
  lv2_atom_forge_set_buffer(&w._forge, reinterpret_cast<uint8_t*>(seq), capacity);
  LV2_Atom_Forge_Frame sequence;
  if (!lv2_atom_forge_sequence_head(&w._forge, &sequence, 0)) {
    // Not even room for an empty sequence: say so with an empty body.
    seq->atom.type = w._uris._atom_Sequence;
    seq->atom.size = 0;
    return;
  }
  if (w._open) {
    w._peak = std::fmax(w._peak, run_peak);
    w._since_frame = saturating_add(w._since_frame, n_samples);
    const uint32_t free_bytes = capacity - static_cast<uint32_t>(sizeof(LV2_Atom_Sequence));
    if (w._since_frame >= w._frame_interval && free_bytes >= morvane_frame_event_size()) {
      fill_frame(self, &w._frame, w._peak);
      if (lv2_atom_forge_frame_time(&w._forge, 0) && morvane_frame_forge(&w._forge, &w._uris, &w._frame)) {
        w._since_frame = 0;
        w._peak = 0.0f;
      }
    }
  }
  lv2_atom_forge_pop(&w._forge, &sequence);
}

// Whether two snapshots draw the same partials picture.
static bool same_partials(const morvane_frame& a, const morvane_frame& b) noexcept
{
  return a._audible == b._audible && a._sample_rate == b._sample_rate &&
         std::memcmp(a._analysed_amps, b._analysed_amps, sizeof a._analysed_amps) == 0 &&
         std::memcmp(a._analysed_freqs, b._analysed_freqs, sizeof a._analysed_freqs) == 0 &&
         std::memcmp(a._shaken_amps, b._shaken_amps, sizeof a._shaken_amps) == 0 &&
         std::memcmp(a._shaken_freqs, b._shaken_freqs, sizeof a._shaken_freqs) == 0;
}

// A snapshot for the host's inline display a few times a second, published
// to render without a lock, and a redraw asked for only when the picture
// would change.
static void publish_inline_snapshot(morvane* self, float run_peak, uint32_t n_samples) noexcept
{
  inline_display& d = self->_inline;
  d._peak = std::fmax(d._peak, run_peak);
  d._since = saturating_add(d._since, n_samples);
  if (d._since < d._interval) {
    return;
  }
  d._since = 0;
  morvane_frame* slot = &d._slots[d._write_slot];
  fill_frame(self, slot, d._peak);
  d._peak = 0.0f;
  // The picture shows the partials alone: while they keep their bits (in
  // silence the analysis comes to rest) there is nothing new to draw, even
  // though the LFOs and the peak move on.
  if (d._have_published && same_partials(*slot, d._last_published)) {
    return;
  }
  std::memcpy(&d._last_published, slot, sizeof *slot);
  d._have_published = true;
  const int previous = d._latest.exchange(d._write_slot | INLINE_FRESH, std::memory_order_acq_rel);
  d._write_slot = previous & 3;
  d._queue.queue_draw(d._queue.handle);
}

static void run(LV2_Handle instance, uint32_t n_samples) noexcept
{
  const tembra_fp::DenormalGuard guard;
  auto* self = static_cast<morvane*>(instance);
  const libquivex q = self->_libquivex;

  // Every control value is sampled once per call, clamped, converted and
  // handed to the engine in port order, also when the audio is skipped.
  const float gain = db_to_amp(control_value(self->_gain, MORVANE_GAIN));
  const float sa_amp = control_value(self->_lfo_shake_amp_amp, MORVANE_LFO_SHAKE_AMP_AMP);
  const float sa_freq = control_value(self->_lfo_shake_amp_freq, MORVANE_LFO_SHAKE_AMP_FREQ);
  const float sa_amount = percent(control_value(self->_lfo_shake_amp_amount, MORVANE_LFO_SHAKE_AMP_AMOUNT));
  const float sa_mod = percent(control_value(self->_lfo_shake_amp_mod, MORVANE_LFO_SHAKE_AMP_MOD));
  const float sf_amp = control_value(self->_lfo_shake_freq_amp, MORVANE_LFO_SHAKE_FREQ_AMP);
  const float sf_freq = control_value(self->_lfo_shake_freq_freq, MORVANE_LFO_SHAKE_FREQ_FREQ);
  const float sf_amount = percent(control_value(self->_lfo_shake_freq_amount, MORVANE_LFO_SHAKE_FREQ_AMOUNT));
  const float sf_mod = percent(control_value(self->_lfo_shake_freq_mod, MORVANE_LFO_SHAKE_FREQ_MOD));
  const float st_amp = control_value(self->_lfo_shake_time_amp, MORVANE_LFO_SHAKE_TIME_AMP);
  const float st_freq = control_value(self->_lfo_shake_time_freq, MORVANE_LFO_SHAKE_TIME_FREQ);
  const float st_amount = percent(control_value(self->_lfo_shake_time_amount, MORVANE_LFO_SHAKE_TIME_AMOUNT));
  const float st_mod = percent(control_value(self->_lfo_shake_time_mod, MORVANE_LFO_SHAKE_TIME_MOD));
  const float ra_amp = control_value(self->_lfo_amp_range_amp, MORVANE_LFO_AMP_RANGE_AMP);
  const float ra_freq = control_value(self->_lfo_amp_range_freq, MORVANE_LFO_AMP_RANGE_FREQ);
  const float ra_amount = percent(control_value(self->_lfo_amp_range_amount, MORVANE_LFO_AMP_RANGE_AMOUNT));
  const float ra_mod = percent(control_value(self->_lfo_amp_range_mod, MORVANE_LFO_AMP_RANGE_MOD));
  const float rf_amp = control_value(self->_lfo_freq_range_amp, MORVANE_LFO_FREQ_RANGE_AMP);
  const float rf_freq = control_value(self->_lfo_freq_range_freq, MORVANE_LFO_FREQ_RANGE_FREQ);
  const float rf_amount = percent(control_value(self->_lfo_freq_range_amount, MORVANE_LFO_FREQ_RANGE_AMOUNT));
  const float rf_mod = percent(control_value(self->_lfo_freq_range_mod, MORVANE_LFO_FREQ_RANGE_MOD));
  const float rt_amp = control_value(self->_lfo_time_range_amp, MORVANE_LFO_TIME_RANGE_AMP);
  const float rt_freq = control_value(self->_lfo_time_range_freq, MORVANE_LFO_TIME_RANGE_FREQ);
  const float rt_amount = percent(control_value(self->_lfo_time_range_amount, MORVANE_LFO_TIME_RANGE_AMOUNT));
  const float rt_mod = percent(control_value(self->_lfo_time_range_mod, MORVANE_LFO_TIME_RANGE_MOD));

  libquivex_set_gain(q, gain);
  libquivex_set_lfo_amp_amp(q, sa_amp);
  libquivex_set_lfo_amp_freq(q, sa_freq);
  libquivex_set_lfo_amp_amount(q, sa_amount);
  libquivex_set_lfo_amp_mod(q, sa_mod);
  libquivex_set_lfo_freq_amp(q, sf_amp);
  libquivex_set_lfo_freq_freq(q, sf_freq);
  libquivex_set_lfo_freq_amount(q, sf_amount);
  libquivex_set_lfo_freq_mod(q, sf_mod);
  libquivex_set_lfo_time_amp(q, st_amp);
  libquivex_set_lfo_time_freq(q, st_freq);
  libquivex_set_lfo_time_amount(q, st_amount);
  libquivex_set_lfo_time_mod(q, st_mod);
  libquivex_set_lfo_amp_range_amp(q, ra_amp);
  libquivex_set_lfo_amp_range_freq(q, ra_freq);
  libquivex_set_lfo_amp_range_amount(q, ra_amount);
  libquivex_set_lfo_amp_range_mod(q, ra_mod);
  libquivex_set_lfo_freq_range_amp(q, rf_amp);
  libquivex_set_lfo_freq_range_freq(q, rf_freq);
  libquivex_set_lfo_freq_range_amount(q, rf_amount);
  libquivex_set_lfo_freq_range_mod(q, rf_mod);
  libquivex_set_lfo_time_range_amp(q, rt_amp);
  libquivex_set_lfo_time_range_freq(q, rt_freq);
  libquivex_set_lfo_time_range_amount(q, rt_amount);
  libquivex_set_lfo_time_range_mod(q, rt_mod);

  // The window's messages come before the audio: a window that opens
  // gets this run's frame.
  read_window_messages(self);

  // Mono processing of the left input; the right input is never read.
  const float* in = self->_input_l;
  float* out = self->_output_l;
  if (!in || !out) {
    write_window_frames(self, 0.0f, 0);
    return;
  }
  // memmove: the host may hand both ports the same buffer.
  std::memmove(out, in, sizeof(float) * n_samples);
  // The engine counts samples in an int: longer buffers go in pieces,
  // which processes the same samples in the same order.
  uint32_t done = 0;
  do {
    const uint32_t chunk = std::min<uint32_t>(n_samples - done, INT_MAX);
    libquivex_next_buffer(q, out + done, static_cast<int>(chunk));
    done += chunk;
  } while (done < n_samples);
  if (self->_output_r) {
    std::memmove(self->_output_r, out, sizeof(float) * n_samples);
  }

  // Only while a window is open or a host shows the inline display does
  // run look at its output again.
  const bool window_open = self->_window._open && self->_notify != nullptr;
  const float run_peak = window_open || self->_inline._enabled ? buffer_peak(out, n_samples) : 0.0f;
  write_window_frames(self, run_peak, n_samples);
  if (self->_inline._enabled) {
    publish_inline_snapshot(self, run_peak, n_samples);
  }
}

static void cleanup(LV2_Handle instance) noexcept
{
  auto* self = static_cast<morvane*>(instance);
  libquivex_free(self->_libquivex);
  inline_display& d = self->_inline;
  std::free(d._surface.data);
  std::free(d._bundle_path);
  if (d._ui_object != nullptr) {
    dlclose(d._ui_object);
  }
  delete self;
}

// The drawing of morvane_ui.so, opened the first time a host asks for a
// picture: the plug-in itself links no graphics library, so hosts that
// never ask load none.
static bool load_inline_drawing(inline_display& d) noexcept
{
  if (d._draw != nullptr) {
    return true;
  }
  if (d._load_failed) {
    return false;
  }
  d._load_failed = true;
  const size_t len = std::strlen(d._bundle_path);
  const char* name = "morvane_ui.so";
  const bool slash = len > 0 && d._bundle_path[len - 1] == '/';
  const size_t bytes = len + (slash ? 0 : 1) + std::strlen(name) + 1;
  char* path = static_cast<char*>(std::malloc(bytes));
  if (path == nullptr) {
    return false;
  }
  std::snprintf(path, bytes, "%s%s%s", d._bundle_path, slash ? "" : "/", name);
  d._ui_object = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  std::free(path);
  if (d._ui_object == nullptr) {
    return false;
  }
  d._draw = reinterpret_cast<morvane_ui_draw_inline_fn>(dlsym(d._ui_object, "morvane_ui_draw_inline"));
  d._load_failed = d._draw == nullptr;
  return d._draw != nullptr;
}

// The host's GUI thread asks for a picture of at most w x h pixels, while
// run may go on: the latest snapshot is taken by swapping slots, never by
// waiting. The picture keeps a 2:1 shape within what the host offers.
static morvane_inline_surface* render_inline(LV2_Handle instance, uint32_t w, uint32_t h) noexcept
{
  inline_display& d = static_cast<morvane*>(instance)->_inline;
  if (!d._enabled || w == 0 || h == 0 || w > 4096 || h > 4096) {
    return nullptr;
  }
  if ((d._latest.load(std::memory_order_acquire) & INLINE_FRESH) != 0) {
    const int previous = d._latest.exchange(d._read_slot, std::memory_order_acq_rel);
    d._read_slot = previous & 3;
    d._has_picture = true;
  }
  if (!d._has_picture || !load_inline_drawing(d)) {
    return nullptr;
  }
  const int width = static_cast<int>(w);
  const int height = static_cast<int>(std::min(h, std::max<uint32_t>(1, w / 2)));
  const int stride = width * 4;
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
  if (bytes > d._surface_bytes) {
    auto* data = static_cast<unsigned char*>(std::realloc(d._surface.data, bytes));
    if (data == nullptr) {
      return nullptr;
    }
    d._surface.data = data;
    d._surface_bytes = bytes;
  }
  d._surface.width = width;
  d._surface.height = height;
  d._surface.stride = stride;
  if (d._draw(&d._slots[d._read_slot], d._surface.data, width, height, stride) != 0) {
    return nullptr;
  }
  return &d._surface;
}

static const morvane_inline_interface inline_interface = {render_inline};

// A host may ask before instantiating, so this is baseline code too.
MORVANE_BASELINE_CODE
static const void* extension_data(const char* uri) noexcept
{
  if (uri == nullptr) {
    return nullptr;
  }
  for (const char* a = uri, *b = MORVANE_INLINEDISPLAY__interface;; ++a, ++b) {
    if (*a != *b) {
      return nullptr;
    }
    if (*a == '\0') {
      return &inline_interface;
    }
  }
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
LV2_SYMBOL_EXPORT MORVANE_BASELINE_CODE const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
  return index == 0 ? &descriptor : nullptr;
}
