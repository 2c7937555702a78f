/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The buffer a host connects to an atom port, and the window's messages and
// frames as the tests write and read them there.
#ifndef MORVANE_TESTS_HOST_ATOM_BUFFER_H
#define MORVANE_TESTS_HOST_ATOM_BUFFER_H

#include <cstdint>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/urid/urid.h>

#include "frame.h"

// An atom sequence buffer of `capacity` body bytes after its LV2_Atom
// header, 8-aligned, with guard bytes after it that nothing may touch.
class AtomBuffer {
public:
  static constexpr std::size_t GUARD = 64;
  static constexpr uint8_t GUARD_BYTE = 0xA5;

  explicit AtomBuffer(uint32_t capacity);

  // What to connect to the port.
  LV2_Atom_Sequence* seq() { return reinterpret_cast<LV2_Atom_Sequence*>(_words.data()); }
  const LV2_Atom_Sequence* seq() const { return reinterpret_cast<const LV2_Atom_Sequence*>(_words.data()); }
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(_words.data()); }
  uint32_t capacity() const { return _capacity; }

  // As hosts do for an output before every run: the capacity in the size,
  // typed atom:Sequence, or `type` (jalv writes atom:Chunk there).
  void prepare_output(const morvane_uris& ids) { prepare_output_as(ids._atom_Sequence); }
  void prepare_output_as(LV2_URID type);
  // An empty input sequence.
  void clear_input(const morvane_uris& ids);
  // Appends an event at `frames` (0: the run's first sample) holding `size`
  // bytes of atom (header included) to an input sequence. Returns false
  // when it does not fit.
  bool append(const void* atom, uint32_t size, int64_t frames = 0);
  // Whether the bytes after the capacity are as they were made.
  bool guard_intact() const;

  // Calls on_atom(const LV2_Atom*, size with header) for each event of the
  // output sequence the plug-in wrote; false, before any call, when the
  // buffer does not hold a sequence within its capacity.
  template <typename F> bool for_each_event(const morvane_uris& ids, F&& on_atom) const;

private:
  uint32_t _capacity;
  std::vector<uint64_t> _words;
};

template <typename F> bool AtomBuffer::for_each_event(const morvane_uris& ids, F&& on_atom) const
{
  const LV2_Atom_Sequence* s = seq();
  if (s->atom.type != ids._atom_Sequence || s->atom.size > _capacity || s->atom.size < sizeof(LV2_Atom_Sequence_Body)) {
    return false;
  }
  LV2_ATOM_SEQUENCE_FOREACH (s, ev) {
    on_atom(&ev->body, static_cast<uint32_t>(sizeof(LV2_Atom) + ev->body.size));
  }
  return true;
}

// Appends the window's WindowOpen (open) or WindowClosed message to an
// input sequence; false when it does not fit.
bool send_window_message(AtomBuffer& control, const morvane_uris& ids, bool open);

// Appends the frames of the output sequence in `notify` to *frames; false
// when it is not a valid sequence within the buffer or an event is not a
// whole frame.
bool read_frames(const AtomBuffer& notify, const morvane_uris& ids, std::vector<morvane_frame>* frames);

#endif  // MORVANE_TESTS_HOST_ATOM_BUFFER_H
