/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The one lilv world of a test program: the LV2 path holds the bundle the
// build just made, and the plug-in and its window are found in it as a
// host finds them.
#ifndef MORVANE_TESTS_HOST_LILV_WORLD_H
#define MORVANE_TESTS_HOST_LILV_WORLD_H

#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include "frame.h"
#include "urid_map.h"

// Loaded on first use, freed when the program ends. Not thread-safe except
// descriptor(), which threads may call at once.
class LilvTestWorld {
public:
  static LilvTestWorld& get();

  LilvWorld* world() const { return _world; }
  // Null when the plug-in is not on the test LV2 path.
  const LilvPlugin* plugin() const { return _plugin; }
  const LilvPlugin* stereo_plugin() const { return _stereo_plugin; }
  // A node for uri that the world owns until the program ends.
  const LilvNode* uri(const char* uri);

  // The URID map every host of the program offers: the plug-in and its
  // window must share one.
  TestUridMap& urids() { return _urids; }
  const morvane_uris& uris() const { return _urids.ids(); }

  // The plug-in's descriptor, for tests that call it directly, and the
  // bundle folder its instantiate takes. An instance made on the first
  // call stays until the program ends, so the shared object stays loaded.
  const LV2_Descriptor* descriptor();
  const LV2_Descriptor* stereo_descriptor();
  const std::string& bundle_path() const { return _bundle; }

  // Whether the plug-in has the two atom ports for its window.
  bool has_window_ports() const { return _window_ports; }
  // The window a host embeds in an X11 parent without a wrapper: its URI
  // (empty when the bundle declares none), type, bundle folder and shared
  // object.
  const std::string& ui_uri() const { return _ui_uri; }
  const std::string& ui_type_uri() const { return _ui_type_uri; }
  const std::string& ui_bundle_path() const { return _ui_bundle; }
  const std::string& ui_binary_path() const { return _ui_binary; }

  LilvTestWorld(const LilvTestWorld&) = delete;
  LilvTestWorld& operator=(const LilvTestWorld&) = delete;

private:
  LilvTestWorld();
  ~LilvTestWorld();

  LilvWorld* _world;
  const LilvPlugin* _plugin = nullptr;
  const LilvPlugin* _stereo_plugin = nullptr;
  std::vector<LilvNode*> _nodes;
  TestUridMap _urids;
  std::string _bundle;
  bool _window_ports = false;
  std::string _ui_uri, _ui_type_uri, _ui_bundle, _ui_binary;
};

#endif  // MORVANE_TESTS_HOST_LILV_WORLD_H
