// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's data path on the plug-in's side (see window_link.h).
#include "window_link.h"

#include <algorithm>
#include <cmath>

void window_link_init(window_link* link, const LV2_URID_Map* map, double rate) noexcept
{
  *link = window_link{};
  if (map != nullptr && map->map != nullptr) {
    morvane_map_uris(&link->_uris, map);
    lv2_atom_forge_init(&link->_forge, const_cast<LV2_URID_Map*>(map));
    link->_mapped = true;
  }
  link->_frame_interval = static_cast<uint32_t>(std::max(1.0, rate / MORVANE_FRAMES_PER_SECOND));
}

// Every length is checked against the sequence's own size before anything
// is read.
void window_link_read(window_link* link, const LV2_Atom_Sequence* control) noexcept
{
  const LV2_Atom_Sequence* seq = control;
  if (!link->_mapped || seq == nullptr || seq->atom.type != link->_uris._atom_Sequence ||
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
    const int says = morvane_window_message_read(&link->_uris, &ev->body, atom_size);
    if (says == 1 && !link->_open) {
      link->_open = true;
      link->_since_frame = link->_frame_interval;  // the first frame goes out at once
      link->_peak = 0.0f;
    } else if (says == 0) {
      link->_open = false;
    }
    offset += (sizeof(LV2_Atom_Event) + static_cast<uint64_t>(ev->body.size) + 7u) & ~uint64_t{7};
  }
}

bool window_link_open(const window_link* link, const LV2_Atom_Sequence* notify) noexcept
{
  return link->_open && notify != nullptr;
}

// A buffer too small for a frame loses the frame, never memory.
void window_link_write(window_link* link, LV2_Atom_Sequence* notify, libquivex engine, double rate,
                       float run_peak, uint32_t n_samples) noexcept
{
  LV2_Atom_Sequence* seq = notify;
  if (seq == nullptr || !link->_mapped) {
    return;
  }
  const uint32_t capacity = seq->atom.size;
  lv2_atom_forge_set_buffer(&link->_forge, reinterpret_cast<uint8_t*>(seq), capacity);
  LV2_Atom_Forge_Frame sequence;
  if (!lv2_atom_forge_sequence_head(&link->_forge, &sequence, 0)) {
    // Not even room for an empty sequence: say so with an empty body.
    seq->atom.type = link->_uris._atom_Sequence;
    seq->atom.size = 0;
    return;
  }
  if (link->_open) {
    link->_peak = std::fmax(link->_peak, run_peak);
    link->_since_frame = morvane_saturating_add(link->_since_frame, n_samples);
    const uint32_t free_bytes = capacity - static_cast<uint32_t>(sizeof(LV2_Atom_Sequence));
    if (link->_since_frame >= link->_frame_interval && free_bytes >= morvane_frame_event_size()) {
      morvane_fill_frame(engine, rate, link->_peak, &link->_frame);
      if (lv2_atom_forge_frame_time(&link->_forge, 0) &&
          morvane_frame_forge(&link->_forge, &link->_uris, &link->_frame)) {
        link->_since_frame = 0;
        link->_peak = 0.0f;
      }
    }
  }
  lv2_atom_forge_pop(&link->_forge, &sequence);
}

void morvane_fill_frame(libquivex engine, double rate, float peak, morvane_frame* frame) noexcept
{
  frame->_audible = libquivex_get_partials(engine, frame->_analysed_amps, frame->_analysed_freqs,
                                           frame->_shaken_amps, frame->_shaken_freqs);
  libquivex_get_lfo_values(engine, frame->_lfo_values);
  frame->_output_peak = peak;
  frame->_sample_rate = static_cast<float>(rate);
}

// NaN is never produced by the engine; fmax would pass over it anyway.
float morvane_buffer_peak(const float* out, uint32_t n) noexcept
{
  float peak = 0.0f;
  for (uint32_t i = 0; i < n; ++i) {
    peak = std::fmax(peak, std::fabs(out[i]));
  }
  return peak;
}
