// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's frames between the audio and the main thread (see
// frame_mailbox.h).
#include "frame_mailbox.h"

namespace {

constexpr uint8_t FRAME_MAILBOX_FRESH = 4;
constexpr uint8_t FRAME_MAILBOX_INDEX = 3;

LV2_Atom_Sequence* sequence_at(frame_mailbox* m, uint8_t index) noexcept
{
  return reinterpret_cast<LV2_Atom_Sequence*>(m->_buffers[index]);
}

}  // namespace

void frame_mailbox_init(frame_mailbox* m, const LV2_URID_Map* map) noexcept
{
  morvane_map_uris(&m->_uris, map);
  m->_back = 0;
  m->_told_open = false;
  m->_middle.store(1, std::memory_order_relaxed);
  m->_open.store(false, std::memory_order_relaxed);
  m->_front = 2;
  for (uint8_t i = 0; i < 3; ++i) {
    LV2_Atom_Sequence* seq = sequence_at(m, i);
    seq->atom = LV2_Atom{sizeof(LV2_Atom_Sequence_Body), m->_uris._atom_Sequence};
    seq->body = LV2_Atom_Sequence_Body{0, 0};
  }
}

void frame_mailbox_restart(frame_mailbox* m) noexcept
{
  m->_told_open = false;
}

void frame_mailbox_forge_message(frame_mailbox* m, LV2_Atom_Forge* forge) noexcept
{
  const bool open = m->_open.load(std::memory_order_relaxed);
  if (open == m->_told_open) {
    return;
  }
  alignas(8) uint8_t message[32];
  const uint32_t size = morvane_window_message(&m->_uris, open, message, sizeof message);
  // Said only once it is surely written.
  if (size > 0 && forge->size - forge->offset >= sizeof(LV2_Atom_Event) + size &&
      lv2_atom_forge_frame_time(forge, 0) != 0 && lv2_atom_forge_write(forge, message, size) != 0) {
    m->_told_open = open;
  }
}

LV2_Atom_Sequence* frame_mailbox_notify(frame_mailbox* m) noexcept
{
  if (!m->_told_open) {
    return nullptr;
  }
  // An output sequence: its size says the room the plug-in may fill.
  LV2_Atom_Sequence* seq = sequence_at(m, m->_back);
  seq->atom.size = FRAME_MAILBOX_BYTES;
  seq->atom.type = m->_uris._atom_Sequence;
  return seq;
}

void frame_mailbox_after_run(frame_mailbox* m) noexcept
{
  if (!m->_told_open) {
    return;
  }
  const LV2_Atom_Sequence* seq = sequence_at(m, m->_back);
  if (seq->atom.type != m->_uris._atom_Sequence || seq->atom.size <= sizeof(LV2_Atom_Sequence_Body) ||
      seq->atom.size > FRAME_MAILBOX_BYTES - sizeof(LV2_Atom)) {
    return;  // no frame (or no sequence) this run: the buffer is written again
  }
  const uint8_t old = m->_middle.exchange(static_cast<uint8_t>(m->_back | FRAME_MAILBOX_FRESH),
                                          std::memory_order_acq_rel);
  m->_back = old & FRAME_MAILBOX_INDEX;
}

void frame_mailbox_set_open(frame_mailbox* m, bool open) noexcept
{
  m->_open.store(open, std::memory_order_relaxed);
}

const LV2_Atom_Sequence* frame_mailbox_take(frame_mailbox* m) noexcept
{
  if ((m->_middle.load(std::memory_order_relaxed) & FRAME_MAILBOX_FRESH) == 0) {
    return nullptr;
  }
  const uint8_t old = m->_middle.exchange(m->_front, std::memory_order_acq_rel);
  m->_front = old & FRAME_MAILBOX_INDEX;
  return sequence_at(m, m->_front);
}
