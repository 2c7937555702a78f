// SPDX-License-Identifier: LGPL-2.1-or-later
#include "song_positions.h"

#include <lv2/atom/forge.h>
#include <lv2/time/time.h>

Position::Position(TestUridMap& map, std::initializer_list<PositionKey> keys, bool blank)
{
  LV2_Atom_Forge forge;
  lv2_atom_forge_init(&forge, map.map());
  lv2_atom_forge_set_buffer(&forge, _bytes, sizeof _bytes);
  LV2_Atom_Forge_Frame frame;
  lv2_atom_forge_object(&forge, &frame, 0, map.id(LV2_TIME__Position));
  for (const PositionKey& k : keys) {
    lv2_atom_forge_key(&forge, map.id(k.uri));
    switch (k.type) {
      case 'i': lv2_atom_forge_int(&forge, static_cast<int32_t>(k.value)); break;
      case 'l': lv2_atom_forge_long(&forge, static_cast<int64_t>(k.value)); break;
      case 'f': lv2_atom_forge_float(&forge, static_cast<float>(k.value)); break;
      default: lv2_atom_forge_double(&forge, k.value); break;
    }
  }
  lv2_atom_forge_pop(&forge, &frame);
  if (blank) {
    reinterpret_cast<LV2_Atom*>(_bytes)->type = map.id(LV2_ATOM__Blank);
  }
}
