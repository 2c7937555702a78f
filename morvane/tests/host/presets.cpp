// SPDX-License-Identifier: LGPL-2.1-or-later
#include "presets.h"

#include <lilv/lilv.h>

std::vector<LoadedPreset> load_presets(bool stereo)
{
  LilvTestWorld& w = LilvTestWorld::get();
  std::vector<LoadedPreset> result;
  const LilvPlugin* plugin = stereo ? w.stereo_plugin() : w.plugin();
  if (!plugin) {
    return result;
  }
  const LV2_URID float_type = w.urids().id("http://lv2plug.in/ns/ext/atom#Float");
  LilvNodes* related =
    lilv_plugin_get_related(plugin, w.uri("http://lv2plug.in/ns/ext/presets#Preset"));
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
    LilvState* state = lilv_state_new_from_world(w.world(), w.urids().map(), node);
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

uint32_t control_index(const std::string& symbol, bool stereo)
{
  LilvTestWorld& w = LilvTestWorld::get();
  const LilvPlugin* plugin = stereo ? w.stereo_plugin() : w.plugin();
  const uint32_t none = stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
  if (!plugin) {
    return none;
  }
  LilvNode* node = lilv_new_string(w.world(), symbol.c_str());
  const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin, node);
  lilv_node_free(node);
  if (!port) {
    return none;
  }
  const int row = morvane_control_row(lilv_port_get_index(plugin, port));
  return row >= 0 && static_cast<uint32_t>(row) < none ? static_cast<uint32_t>(row) : none;
}

Controls preset_controls(const LoadedPreset& p)
{
  Controls c = default_controls();
  for (const auto& [symbol, value] : p.values) {
    const uint32_t i = control_index(symbol, true);
    if (i < MORVANE_NUM_STEREO_CONTROLS) {
      c[i] = value;
    }
  }
  return c;
}
