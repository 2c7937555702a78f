// SPDX-License-Identifier: LGPL-2.1-or-later
// The bounded walk over a host's atom sequence (see sequence_reader.h).
#include "sequence_reader.h"

#include <cstddef>
#include <cstring>

morvane_sequence_reader morvane_sequence_begin(const LV2_Atom_Sequence* seq, uint32_t sequence_type) noexcept
{
  if (seq == nullptr || seq->atom.type != sequence_type || seq->atom.size < sizeof(LV2_Atom_Sequence_Body)) {
    return {nullptr, 0, 0};
  }
  return {reinterpret_cast<const uint8_t*>(&seq->body), seq->atom.size, sizeof(LV2_Atom_Sequence_Body)};
}

bool morvane_sequence_next(morvane_sequence_reader* reader, morvane_event* event) noexcept
{
  constexpr uint64_t header = sizeof(LV2_Atom_Event);  // frames, then the body's atom header
  if (reader->_body == nullptr || reader->_offset + header > reader->_size) {
    return false;
  }
  const uint8_t* at = reader->_body + reader->_offset;
  LV2_Atom_Event head;
  std::memcpy(&head, at, header);
  const uint64_t end = reader->_offset + header + head.body.size;
  if (end > reader->_size) {
    reader->_body = nullptr;  // an event longer than the sequence: nothing after it can be trusted
    return false;
  }
  event->_frames = head.time.frames;
  event->_atom = reinterpret_cast<const LV2_Atom*>(at + offsetof(LV2_Atom_Event, body));
  event->_size = static_cast<uint32_t>(sizeof(LV2_Atom) + head.body.size);
  // The next event starts on the next 8-byte boundary; past the end, the
  // comparison above ends the walk.
  reader->_offset = (end + 7u) & ~uint64_t{7};
  return true;
}
