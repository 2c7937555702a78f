// SPDX-License-Identifier: LGPL-2.1-or-later
#include "atom_buffer.h"

#include <cstring>

AtomBuffer::AtomBuffer(uint32_t capacity)
    : _capacity(capacity), _words((sizeof(LV2_Atom) + capacity + GUARD + 7) / 8, 0)
{
  std::memset(bytes() + sizeof(LV2_Atom) + capacity, GUARD_BYTE, GUARD);
}

void AtomBuffer::prepare_output_as(LV2_URID type)
{
  seq()->atom.type = type;
  seq()->atom.size = _capacity;
}

void AtomBuffer::clear_input(const morvane_uris& ids)
{
  seq()->atom.type = ids._atom_Sequence;
  seq()->atom.size = sizeof(LV2_Atom_Sequence_Body);
  seq()->body.unit = 0;
  seq()->body.pad = 0;
}

bool AtomBuffer::append(const void* atom, uint32_t size, int64_t frames)
{
  const uint32_t used = seq()->atom.size;
  const uint32_t need = lv2_atom_pad_size(static_cast<uint32_t>(sizeof(int64_t)) + size);
  if (used + need > _capacity) {
    return false;
  }
  uint8_t* at = bytes() + sizeof(LV2_Atom) + used;
  std::memcpy(at, &frames, sizeof frames);
  std::memcpy(at + sizeof frames, atom, size);
  seq()->atom.size = used + need;
  return true;
}

bool AtomBuffer::guard_intact() const
{
  const uint8_t* guard = reinterpret_cast<const uint8_t*>(_words.data()) + sizeof(LV2_Atom) + _capacity;
  for (std::size_t i = 0; i < GUARD; ++i) {
    if (guard[i] != GUARD_BYTE) {
      return false;
    }
  }
  return true;
}

bool send_window_message(AtomBuffer& control, const morvane_uris& ids, bool open)
{
  uint8_t msg[64];
  const uint32_t size = morvane_window_message(&ids, open, msg, sizeof msg);
  return control.append(msg, size);
}

bool read_frames(const AtomBuffer& notify, const morvane_uris& ids, std::vector<morvane_frame>* frames)
{
  bool whole = true;
  const bool sequence = notify.for_each_event(ids, [&](const LV2_Atom* atom, uint32_t size) {
    morvane_frame frame{};
    if (whole && morvane_frame_read(&ids, atom, size, &frame)) {
      frames->push_back(frame);
    } else {
      whole = false;
    }
  });
  return sequence && whole;
}
