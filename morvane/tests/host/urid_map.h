/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tests' URID map: one class for every test program, so that no two
// test sources define a class of the same name differently.
#ifndef MORVANE_TESTS_HOST_URID_MAP_H
#define MORVANE_TESTS_HOST_URID_MAP_H

#include <map>
#include <string>

#include <lv2/urid/urid.h>

#include "frame.h"

// A URID map as hosts keep one: URIs numbered from 1 in the order first
// asked. The plug-in's own URIs (morvane_uris) are mapped when it is made,
// so ids() holds the numbers this map gives the plug-in. Not thread-safe:
// hosts map from instantiate and from their own thread, as the tests do.
class TestUridMap {
public:
  TestUridMap();
  TestUridMap(const TestUridMap&) = delete;
  TestUridMap& operator=(const TestUridMap&) = delete;

  // The LV2_URID_Map to offer as the LV2_URID__map feature.
  LV2_URID_Map* map() { return &_map; }
  // The URID of any URI, as the map gives it to the plug-in.
  LV2_URID id(const char* uri) { return _map.map(_map.handle, uri); }
  // The plug-in's URIDs in this map.
  const morvane_uris& ids() const { return _ids; }

private:
  static LV2_URID map_uri(LV2_URID_Map_Handle handle, const char* uri);

  LV2_URID_Map _map{};
  std::map<std::string, LV2_URID> _numbers;
  morvane_uris _ids{};
};

#endif  // MORVANE_TESTS_HOST_URID_MAP_H
