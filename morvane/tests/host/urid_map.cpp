// SPDX-License-Identifier: LGPL-2.1-or-later
#include "urid_map.h"

TestUridMap::TestUridMap()
{
  _map.handle = this;
  _map.map = &TestUridMap::map_uri;
  morvane_map_uris(&_ids, &_map);
}

LV2_URID TestUridMap::map_uri(LV2_URID_Map_Handle handle, const char* uri)
{
  auto* self = static_cast<TestUridMap*>(handle);
  const auto next = static_cast<LV2_URID>(self->_numbers.size() + 1);
  return self->_numbers.emplace(uri, next).first->second;
}
