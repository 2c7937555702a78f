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
#include "window_link.h"

namespace {

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
  inline_picture _inline;
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
  window_link_init(&self->_window, static_cast<const LV2_URID_Map*>(host_feature(features, LV2_URID__map)),
                   self->_rate);
  const auto* queue =
      static_cast<const morvane_inline_queue_draw*>(host_feature(features, MORVANE_INLINEDISPLAY__queue_draw));
  return inline_picture_init(&self->_inline, queue, bundle_path, self->_rate);
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
    inline_picture_free(&self->_inline);
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
  window_link_read(&self->_window, self->_control);

  // Mono processing of the left input; the right input is never read.
  const float* in = self->_input_l;
  float* out = self->_output_l;
  if (!in || !out) {
    window_link_write(&self->_window, self->_notify, q, self->_rate, 0.0f, 0);
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
  const bool watched = window_link_open(&self->_window, self->_notify) || self->_inline._enabled;
  const float run_peak = watched ? morvane_buffer_peak(out, n_samples) : 0.0f;
  window_link_write(&self->_window, self->_notify, q, self->_rate, run_peak, n_samples);
  if (self->_inline._enabled) {
    inline_picture_run(&self->_inline, q, self->_rate, run_peak, n_samples);
  }
}

static void cleanup(LV2_Handle instance) noexcept
{
  auto* self = static_cast<morvane*>(instance);
  libquivex_free(self->_libquivex);
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
LV2_SYMBOL_EXPORT MORVANE_BASELINE_CODE const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
  return index == 0 ? &descriptor : nullptr;
}
