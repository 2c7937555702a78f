/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Walking the events of an atom sequence a host hands the plug-in, without
 * trusting one byte of it. The sequence ends where its atom.size says; an
 * event is read only when its header and its whole body lie inside that
 * size, and the walk stops at the first event that does not. Offsets are
 * compared, never subtracted, so a last event whose padded size reaches
 * past the end (a 4-byte float body makes the sequence's size end 4 bytes
 * short of the padding) ends the walk instead of wrapping round. Event
 * headers are copied out, so a sequence on any 4-byte boundary reads
 * correctly. Audio thread: no allocation, no system call. */
#ifndef MORVANE_SEQUENCE_READER_H
#define MORVANE_SEQUENCE_READER_H

#include <cstdint>

#include <lv2/atom/atom.h>

/* One event: its time in frames from the start of the run (as the host
 * wrote it: readers clamp it), and its atom of `size` bytes (header
 * included) at `atom`, all of them inside the sequence. */
struct morvane_event {
  int64_t _frames;
  const LV2_Atom* _atom;
  uint32_t _size;
};

/* A walk over one sequence. */
struct morvane_sequence_reader {
  const uint8_t* _body;  // the sequence's body (after its atom header)
  uint64_t _size;        // its atom.size
  uint64_t _offset;      // of the next event within the body
};

/* Starts a walk over `seq` if it is a sequence (atom type `sequence_type`)
 * whose body holds at least the sequence header; otherwise the walk is
 * empty. seq may be NULL. */
morvane_sequence_reader morvane_sequence_begin(const LV2_Atom_Sequence* seq, uint32_t sequence_type) noexcept;

/* The next whole event into *event; false at the end, or at the first
 * event that would reach past it (nothing after it is read). */
bool morvane_sequence_next(morvane_sequence_reader* reader, morvane_event* event) noexcept;

#endif /* MORVANE_SEQUENCE_READER_H */
