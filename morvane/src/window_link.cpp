// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's data path on the plug-in's side (see window_link.h).
#include "window_link.h"

void window_link_init(window_link* link, const LV2_URID_Map* map, double rate, const song_lock* song) noexcept
{
  *link = window_link{};
  if (map != nullptr && map->map != nullptr) {
    morvane_map_uris(&link->_uris, map);
    lv2_atom_forge_init(&link->_forge, const_cast<LV2_URID_Map*>(map));
    link->_mapped = true;
  }
  frame_source_init(&link->_source, rate, MORVANE_FRAMES_PER_SECOND, song);
}

void window_link_read(window_link* link, const morvane_event& event) noexcept
{
  if (!link->_mapped) {
    return;
  }
  const int says = morvane_window_message_read(&link->_uris, event._atom, event._size);
  if (says == 1 && !link->_open) {
    link->_open = true;
    frame_source_restart(&link->_source);  // the first frame goes out at once
  } else if (says == 0) {
    link->_open = false;
  }
}

bool window_link_open(const window_link* link, const LV2_Atom_Sequence* notify) noexcept
{
  return link->_open && notify != nullptr;
}

// A buffer too small for a frame loses the frame, never memory.
void window_link_write(window_link* link, LV2_Atom_Sequence* notify, libquivex engine, const stereo_field* field,
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
  if (link->_open && frame_source_advance(&link->_source, run_peak, n_samples)) {
    const uint32_t free_bytes = capacity - static_cast<uint32_t>(sizeof(LV2_Atom_Sequence));
    if (free_bytes >= morvane_frame_event_size(frame_source_stereo(field))) {
      frame_source_fill(&link->_source, engine, field, &link->_frame);
      if (lv2_atom_forge_frame_time(&link->_forge, 0)) {
        morvane_frame_forge(&link->_forge, &link->_uris, &link->_frame);
      }
    }
  }
  lv2_atom_forge_pop(&link->_forge, &sequence);
}
