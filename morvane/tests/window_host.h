/* SPDX-License-Identifier: LGPL-2.1-or-later */
// What a host gives the plug-in for its window's data path, for the tests:
// a URID map, the two atom buffers (messages in, frames out) and the
// inline display's queue_draw feature, plus reading the frames back.
#ifndef MORVANE_TESTS_WINDOW_HOST_H
#define MORVANE_TESTS_WINDOW_HOST_H

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "frame.h"
#include "inline_display.h"

// A URID map as hosts keep it: URIs numbered from 1 in the order asked.
class TestUridMap {
public:
  TestUridMap()
  {
    _map.handle = this;
    _map.map = [](LV2_URID_Map_Handle h, const char* uri) -> LV2_URID {
      auto* self = static_cast<TestUridMap*>(h);
      for (std::size_t i = 0; i < self->_uris.size(); ++i) {
        if (self->_uris[i] == uri) {
          return static_cast<LV2_URID>(i + 1);
        }
      }
      self->_uris.emplace_back(uri);
      return static_cast<LV2_URID>(self->_uris.size());
    };
    morvane_map_uris(&_ids, &_map);
  }
  TestUridMap(const TestUridMap&) = delete;
  TestUridMap& operator=(const TestUridMap&) = delete;

  LV2_URID_Map* map() { return &_map; }
  const morvane_uris& ids() const { return _ids; }
  // The URID of any URI, as the host's map gives it to the plug-in.
  LV2_URID id(const char* uri) { return _map.map(_map.handle, uri); }

private:
  LV2_URID_Map _map{};
  std::vector<std::string> _uris;
  morvane_uris _ids{};
};

// An atom sequence buffer of `capacity` body bytes, 8-aligned, with guard
// bytes after it that nothing may touch.
class AtomBuffer {
public:
  static constexpr std::size_t GUARD = 64;
  static constexpr uint8_t GUARD_BYTE = 0xA5;

  explicit AtomBuffer(uint32_t capacity)
      : _capacity(capacity), _words((sizeof(LV2_Atom) + capacity + GUARD + 7) / 8, 0)
  {
    std::memset(bytes() + sizeof(LV2_Atom) + capacity, GUARD_BYTE, GUARD);
  }

  LV2_Atom_Sequence* seq() { return reinterpret_cast<LV2_Atom_Sequence*>(_words.data()); }
  uint8_t* bytes() { return reinterpret_cast<uint8_t*>(_words.data()); }
  uint32_t capacity() const { return _capacity; }

  // As hosts do before every run for an output: the capacity in the size.
  void prepare_output(const morvane_uris& ids)
  {
    seq()->atom.type = ids._atom_Sequence;
    seq()->atom.size = _capacity;
  }

  // An empty input sequence.
  void clear_input(const morvane_uris& ids)
  {
    seq()->atom.type = ids._atom_Sequence;
    seq()->atom.size = sizeof(LV2_Atom_Sequence_Body);
    seq()->body.unit = 0;
    seq()->body.pad = 0;
  }

  // Appends an event at frame 0 holding `size` bytes of atom (header
  // included) to an input sequence. Returns false when it does not fit.
  bool append(const void* atom, uint32_t size)
  {
    const uint32_t used = seq()->atom.size;
    const uint32_t need = lv2_atom_pad_size(static_cast<uint32_t>(sizeof(int64_t)) + size);
    if (used + need > _capacity) {
      return false;
    }
    uint8_t* at = bytes() + sizeof(LV2_Atom) + used;
    const int64_t frames = 0;
    std::memcpy(at, &frames, sizeof frames);
    std::memcpy(at + sizeof frames, atom, size);
    seq()->atom.size = used + need;
    return true;
  }

  bool guard_intact()
  {
    const uint8_t* g = bytes() + sizeof(LV2_Atom) + _capacity;
    for (std::size_t i = 0; i < GUARD; ++i) {
      if (g[i] != GUARD_BYTE) {
        return false;
      }
    }
    return true;
  }

private:
  uint32_t _capacity;
  std::vector<uint64_t> _words;
};

// The window's WindowOpen (open) or WindowClosed message into `buffer`.
inline void send_window_message(AtomBuffer& buffer, const morvane_uris& ids, bool open)
{
  uint8_t msg[64];
  const uint32_t size = morvane_window_message(&ids, open, msg, sizeof msg);
  buffer.append(msg, size);
}

// The frames in a notify sequence that the plug-in wrote; false if the
// sequence is not a valid one within the buffer.
inline bool read_frames(AtomBuffer& notify, const morvane_uris& ids, std::vector<morvane_frame>* frames)
{
  const LV2_Atom_Sequence* seq = notify.seq();
  if (seq->atom.type != ids._atom_Sequence || seq->atom.size > notify.capacity() ||
      seq->atom.size < sizeof(LV2_Atom_Sequence_Body)) {
    return false;
  }
  LV2_ATOM_SEQUENCE_FOREACH (seq, ev) {
    morvane_frame frame{};
    if (!morvane_frame_read(&ids, &ev->body, sizeof(LV2_Atom) + ev->body.size, &frame)) {
      return false;
    }
    frames->push_back(frame);
  }
  return true;
}

// The inline display's queue_draw feature, counting the calls.
struct QueueDrawCounter {
  std::atomic<int> calls{0};
  morvane_inline_queue_draw feature{this, [](void* h) { static_cast<QueueDrawCounter*>(h)->calls++; }};
};

#endif  // MORVANE_TESTS_WINDOW_HOST_H
