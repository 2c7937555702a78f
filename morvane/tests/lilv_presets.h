/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The plug-in's factory presets as a host reads them: related to the
// plug-in through the manifest, loaded from presets.ttl and turned into
// port values by lilv's state loader.
#ifndef MORVANE_TESTS_LILV_PRESETS_H
#define MORVANE_TESTS_LILV_PRESETS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

#include "lilv_host.h"

// URIs numbered from 1 in the order they are first seen.
class TestUridMap {
public:
  TestUridMap() : _feature{this, &TestUridMap::map} {}
  LV2_URID_Map* feature() { return &_feature; }
  LV2_URID id(const char* uri) { return map(this, uri); }

private:
  static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
  {
    auto* self = static_cast<TestUridMap*>(handle);
    auto [it, inserted] = self->_ids.emplace(uri, static_cast<LV2_URID>(self->_ids.size() + 1));
    (void)inserted;
    return it->second;
  }
  std::map<std::string, LV2_URID> _ids;
  LV2_URID_Map _feature;
};

struct LoadedPreset {
  std::string uri;
  std::string name;   // the URI's fragment, which morvane-render accepts
  std::string label;  // empty when the preset has none
  bool loaded = false;  // lilv made a state of it
  // Every port value lilv emits, by symbol; a value that is not a float
  // atom shows as a symbol in non_float.
  std::map<std::string, float> values;
  std::vector<std::string> non_float;
};

inline std::vector<LoadedPreset> load_presets()
{
  LilvTestWorld& w = LilvTestWorld::get();
  std::vector<LoadedPreset> result;
  if (!w.plugin()) {
    return result;
  }
  TestUridMap urids;
  const LV2_URID float_type = urids.id("http://lv2plug.in/ns/ext/atom#Float");
  LilvNodes* related =
    lilv_plugin_get_related(w.plugin(), w.uri("http://lv2plug.in/ns/ext/presets#Preset"));
  LILV_FOREACH (nodes, it, related) {
    const LilvNode* node = lilv_nodes_get(related, it);
    lilv_world_load_resource(w.world(), node);
    LoadedPreset p;
    p.uri = lilv_node_as_uri(node);
    p.name = p.uri.substr(p.uri.rfind('#') + 1);
    LilvNode* label =
      lilv_world_get(w.world(), node, w.uri("http://www.w3.org/2000/01/rdf-schema#label"), nullptr);
    if (label) {
      p.label = lilv_node_as_string(label);
      lilv_node_free(label);
    }
    LilvState* state = lilv_state_new_from_world(w.world(), urids.feature(), node);
    if (state) {
      p.loaded = true;
      struct Sink {
        LoadedPreset* preset;
        LV2_URID float_type;
      } sink{&p, float_type};
      lilv_state_emit_port_values(
        state,
        [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t type) {
          auto* s = static_cast<Sink*>(user);
          if (type == s->float_type && size == sizeof(float)) {
            s->preset->values[symbol] = *static_cast<const float*>(value);
          } else {
            s->preset->non_float.push_back(symbol);
          }
        },
        &sink);
      lilv_state_free(state);
    }
    result.push_back(p);
  }
  lilv_nodes_free(related);
  return result;
}

// The control port index of symbol in the plug-in's description, or
// MORVANE_NUM_CONTROLS when no control port has that symbol.
inline uint32_t control_index(const std::string& symbol)
{
  LilvTestWorld& w = LilvTestWorld::get();
  LilvNode* node = lilv_new_string(w.world(), symbol.c_str());
  const LilvPort* port = lilv_plugin_get_port_by_symbol(w.plugin(), node);
  lilv_node_free(node);
  if (!port) {
    return MORVANE_NUM_CONTROLS;
  }
  const uint32_t index = lilv_port_get_index(w.plugin(), port);
  return index < MORVANE_NUM_CONTROLS ? index : MORVANE_NUM_CONTROLS;
}

// The preset's values over the defaults, as a host sets them.
inline Controls preset_controls(const LoadedPreset& p)
{
  Controls c = default_controls();
  for (const auto& [symbol, value] : p.values) {
    const uint32_t i = control_index(symbol);
    if (i < MORVANE_NUM_CONTROLS) {
      c[i] = value;
    }
  }
  return c;
}

#endif  // MORVANE_TESTS_LILV_PRESETS_H
