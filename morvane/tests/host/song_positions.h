/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The host's song position as hosts send it: a time:Position object with
// the keys a host chose, each number in the atom type that host uses.
#ifndef MORVANE_TESTS_HOST_SONG_POSITIONS_H
#define MORVANE_TESTS_HOST_SONG_POSITIONS_H

#include <cstdint>
#include <initializer_list>

#include <lv2/atom/atom.h>

#include "urid_map.h"

// One key (a time: URI) and the type its number is sent as.
struct PositionKey {
  const char* uri;
  double value;
  char type;  // 'i' Int, 'l' Long, 'f' Float, 'd' Double
};

class Position {
public:
  // blank: typed atom:Blank, as older hosts do, instead of atom:Object.
  Position(TestUridMap& map, std::initializer_list<PositionKey> keys, bool blank = false);
  const LV2_Atom* atom() const { return reinterpret_cast<const LV2_Atom*>(_bytes); }
  uint32_t size() const { return static_cast<uint32_t>(sizeof(LV2_Atom) + atom()->size); }

private:
  alignas(8) uint8_t _bytes[512] = {};
};

#endif  // MORVANE_TESTS_HOST_SONG_POSITIONS_H
