// SPDX-License-Identifier: LGPL-2.1-or-later
// The LV2 instance a format's shell hosts (see hosted_plugin.h): its
// making, its controls, the song positions written into its control port,
// and one stretch of samples.
#include "hosted_plugin.h"

#include <algorithm>
#include <cmath>

#include <lv2/time/time.h>

#include "morvane.h"

namespace {

// URIs numbered from 1 in the order asked; 0 for none.
LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri)
{
  auto* map = static_cast<hosted_urid_map*>(handle);
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

}  // namespace

bool hosted_init(hosted_plugin* h, uint32_t lv2_index) noexcept
{
  h->_lv2 = lv2_descriptor(lv2_index);
  h->_instance = nullptr;
  h->_rate = 0.0;
  h->_stereo = lv2_index == 1;
  h->_num_controls = h->_stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    h->_ports[row] = morvane_controls[row]._default;
    h->_values[row].store(morvane_controls[row]._default, std::memory_order_relaxed);
  }
  h->_reload.store(false, std::memory_order_relaxed);
  h->_song._valid = false;
  h->_clock = 0;
  h->_urids._map = LV2_URID_Map{&h->_urids, map_uri};
  h->_map_feature = LV2_Feature{LV2_URID__map, &h->_urids._map};
  h->_features[0] = &h->_map_feature;
  h->_features[1] = nullptr;
  LV2_URID_Map* map = &h->_urids._map;
  h->_time = hosted_time_uris{map_uri(map->handle, LV2_TIME__Position),   map_uri(map->handle, LV2_TIME__frame),
                              map_uri(map->handle, LV2_TIME__speed),      map_uri(map->handle, LV2_TIME__bar),
                              map_uri(map->handle, LV2_TIME__barBeat),    map_uri(map->handle, LV2_TIME__beat),
                              map_uri(map->handle, LV2_TIME__beatUnit),   map_uri(map->handle, LV2_TIME__beatsPerBar),
                              map_uri(map->handle, LV2_TIME__beatsPerMinute)};
  lv2_atom_forge_init(&h->_forge, map);
  // An empty sequence until the first run writes one.
  hosted_begin_sequence(h);
  hosted_end_sequence(h);
  return h->_lv2 != nullptr && h->_time._position != 0 && h->_forge.Sequence != 0;
}

bool hosted_instantiate(hosted_plugin* h, double rate) noexcept
{
  if (h->_instance != nullptr && rate != h->_rate) {
    hosted_cleanup(h);
  }
  if (h->_instance == nullptr) {
    h->_instance = h->_lv2->instantiate(h->_lv2, rate, "", h->_features);
    if (h->_instance == nullptr) {
      return false;
    }
    h->_rate = rate;
    for (uint32_t row = 0; row < h->_num_controls; ++row) {
      h->_lv2->connect_port(h->_instance, morvane_controls[row]._port, &h->_ports[row]);
    }
    h->_lv2->connect_port(h->_instance, MORVANE_CONTROL, h->_sequence);
    h->_lv2->connect_port(h->_instance, MORVANE_NOTIFY, nullptr);
  }
  return true;
}

void hosted_activate(hosted_plugin* h) noexcept
{
  h->_reload.store(false, std::memory_order_relaxed);
  hosted_take_values(h);
  h->_lv2->activate(h->_instance);
  h->_song._valid = false;
  h->_clock = 0;
}

void hosted_deactivate(hosted_plugin* h) noexcept
{
  if (h->_instance != nullptr && h->_lv2->deactivate != nullptr) {
    h->_lv2->deactivate(h->_instance);
  }
}

void hosted_cleanup(hosted_plugin* h) noexcept
{
  if (h->_instance != nullptr) {
    h->_lv2->cleanup(h->_instance);
    h->_instance = nullptr;
  }
}

void hosted_reset(hosted_plugin* h) noexcept
{
  if (h->_instance != nullptr) {
    h->_lv2->activate(h->_instance);
  }
  h->_song._valid = false;
}

void hosted_take_values(hosted_plugin* h) noexcept
{
  for (uint32_t row = 0; row < h->_num_controls; ++row) {
    h->_ports[row] = h->_values[row].load(std::memory_order_relaxed);
  }
}

void hosted_take_reload(hosted_plugin* h) noexcept
{
  if (h->_reload.exchange(false, std::memory_order_acquire)) {
    hosted_take_values(h);
  }
}

int hosted_row(const hosted_plugin* h, uint32_t id) noexcept
{
  const int row = morvane_control_row(id);
  return row >= 0 && static_cast<uint32_t>(row) < h->_num_controls ? row : -1;
}

bool hosted_set(hosted_plugin* h, uint32_t id, double value) noexcept
{
  const int row = hosted_row(h, id);
  if (row < 0 || !std::isfinite(value)) {
    return false;
  }
  const morvane_control& c = morvane_controls[row];
  const auto v = static_cast<float>(std::clamp(value, static_cast<double>(c._min), static_cast<double>(c._max)));
  h->_ports[row] = v;
  h->_values[row].store(v, std::memory_order_relaxed);
  return true;
}

bool hosted_transport_news(const hosted_plugin* h, const hosted_transport& t, int64_t at) noexcept
{
  const hosted_song& last = h->_song;
  if (!last._valid || t._flags != last._flags) {
    return true;
  }
  if ((t._flags & HOSTED_HAS_TEMPO) && t._tempo != last._tempo) {
    return true;
  }
  if ((t._flags & HOSTED_HAS_METRE) && (t._tsig_num != last._tsig_num || t._tsig_denom != last._tsig_denom)) {
    return true;
  }
  const double elapsed = (t._flags & HOSTED_PLAYING) ? static_cast<double>(at - last._at) : 0.0;
  if (t._flags & HOSTED_HAS_SECONDS) {
    if (std::fabs(t._seconds - (last._seconds + elapsed / h->_rate)) * h->_rate > 1.0) {
      return true;
    }
  }
  if (t._flags & HOSTED_HAS_BEATS) {
    if (!(t._flags & HOSTED_HAS_TEMPO) && elapsed > 0.0) {
      return true;  // the beats move at a pace not said
    }
    const double per_sample = (t._flags & HOSTED_HAS_TEMPO) ? t._tempo / 60.0 / h->_rate : 0.0;
    if (std::fabs(t._beats - (last._beats + elapsed * per_sample)) > per_sample + 1e-6) {
      return true;
    }
  }
  return false;
}

void hosted_begin_sequence(hosted_plugin* h) noexcept
{
  lv2_atom_forge_set_buffer(&h->_forge, h->_sequence, sizeof h->_sequence);
  lv2_atom_forge_sequence_head(&h->_forge, &h->_sequence_frame, 0);
}

void hosted_end_sequence(hosted_plugin* h) noexcept
{
  lv2_atom_forge_pop(&h->_forge, &h->_sequence_frame);
}

void hosted_forge_position(hosted_plugin* h, const hosted_transport& t, uint32_t frames, int64_t at) noexcept
{
  LV2_Atom_Forge* forge = &h->_forge;
  // Room for the whole object, so that no position is cut short.
  if (forge->size - forge->offset < 320) {
    return;
  }
  const hosted_time_uris& u = h->_time;
  lv2_atom_forge_frame_time(forge, frames);
  LV2_Atom_Forge_Frame object;
  lv2_atom_forge_object(forge, &object, 0, u._position);
  lv2_atom_forge_key(forge, u._speed);
  lv2_atom_forge_float(forge, (t._flags & HOSTED_PLAYING) ? 1.0f : 0.0f);
  // Beats and tempo count quarter notes.
  lv2_atom_forge_key(forge, u._beat_unit);
  lv2_atom_forge_int(forge, 4);
  if ((t._flags & HOSTED_HAS_SECONDS) && t._seconds >= 0.0) {
    lv2_atom_forge_key(forge, u._frame);
    lv2_atom_forge_double(forge, t._frame);
  }
  if ((t._flags & HOSTED_HAS_TEMPO) && std::isfinite(t._tempo) && t._tempo > 0.0) {
    lv2_atom_forge_key(forge, u._bpm);
    lv2_atom_forge_double(forge, t._tempo);
  }
  const bool metre = (t._flags & HOSTED_HAS_METRE) && t._tsig_num > 0 && t._tsig_denom > 0;
  if (metre) {
    lv2_atom_forge_key(forge, u._beats_per_bar);
    lv2_atom_forge_double(forge, t._tsig_num * 4.0 / t._tsig_denom);
  }
  if (t._flags & HOSTED_HAS_BEATS) {
    lv2_atom_forge_key(forge, u._beat);
    lv2_atom_forge_double(forge, t._beats);
    if (metre && (t._flags & HOSTED_HAS_BAR)) {
      lv2_atom_forge_key(forge, u._bar);
      lv2_atom_forge_long(forge, t._bar_number);
      lv2_atom_forge_key(forge, u._bar_beat);
      lv2_atom_forge_double(forge, t._beats - t._bar_start);
    }
  }
  lv2_atom_forge_pop(forge, &object);
  h->_song = hosted_song{true, t._flags, t._beats, t._seconds, t._tempo, t._tsig_num, t._tsig_denom, at};
}

void hosted_run(hosted_plugin* h, const float* in_l, const float* in_r, float* out_l, float* out_r,
                uint32_t n) noexcept
{
  const LV2_Descriptor* lv2 = h->_lv2;
  lv2->connect_port(h->_instance, MORVANE_INPUT_L, const_cast<float*>(in_l));
  lv2->connect_port(h->_instance, MORVANE_INPUT_R, const_cast<float*>(in_r));
  lv2->connect_port(h->_instance, MORVANE_OUTPUT_L, out_l);
  lv2->connect_port(h->_instance, MORVANE_OUTPUT_R, out_r);
  lv2->run(h->_instance, n);
}
