// SPDX-License-Identifier: LGPL-2.1-or-later
#include "lilv_world.h"

#include <cstring>
#include <memory>

#include <lv2/ui/ui.h>

#include "morvane.h"

namespace {

std::string file_path(const LilvNode* uri_node)
{
  char* path = lilv_file_uri_parse(lilv_node_as_uri(uri_node), nullptr);
  std::string result = path != nullptr ? path : "";
  lilv_free(path);
  return result;
}

// A window type the host shows as it is: an X11 window in an X11 parent.
unsigned shown_without_wrapper(const char* container_type, const char* ui_type)
{
  return std::strcmp(container_type, ui_type) == 0 ? 1 : 0;
}

}  // namespace

LilvTestWorld& LilvTestWorld::get()
{
  static LilvTestWorld world;
  return world;
}

LilvTestWorld::LilvTestWorld() : _world(lilv_world_new())
{
  LilvNode* path = lilv_new_string(_world, MORVANE_TEST_LV2_PATH);
  lilv_world_set_option(_world, LILV_OPTION_LV2_PATH, path);
  lilv_node_free(path);
  lilv_world_load_all(_world);
  _plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world), uri(MORVANE_URI));
  _stereo_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world), uri(MORVANE_STEREO_URI));
  if (_plugin == nullptr) {
    return;
  }
  _bundle = file_path(lilv_plugin_get_bundle_uri(_plugin));
  _window_ports = lilv_plugin_get_num_ports(_plugin) > MORVANE_NOTIFY;

  LilvUIs* uis = lilv_plugin_get_uis(_plugin);
  LILV_FOREACH (uis, i, uis) {
    const LilvUI* ui = lilv_uis_get(uis, i);
    const LilvNode* type = nullptr;
    if (lilv_ui_is_supported(ui, shown_without_wrapper, uri(LV2_UI__X11UI), &type) != 0 && type != nullptr) {
      _ui_uri = lilv_node_as_uri(lilv_ui_get_uri(ui));
      _ui_type_uri = lilv_node_as_uri(type);
      _ui_bundle = file_path(lilv_ui_get_bundle_uri(ui));
      _ui_binary = file_path(lilv_ui_get_binary_uri(ui));
      break;
    }
  }
  lilv_uis_free(uis);
}

LilvTestWorld::~LilvTestWorld()
{
  for (LilvNode* node : _nodes) {
    lilv_node_free(node);
  }
  lilv_world_free(_world);
}

const LilvNode* LilvTestWorld::uri(const char* uri)
{
  LilvNode* node = lilv_new_uri(_world, uri);
  _nodes.push_back(node);
  return node;
}

const LV2_Descriptor* LilvTestWorld::descriptor()
{
  struct Free {
    void operator()(LilvInstance* instance) const { lilv_instance_free(instance); }
  };
  // Made once, by the first thread to ask; freed before the world.
  static const std::unique_ptr<LilvInstance, Free> anchor(
      _plugin != nullptr ? lilv_plugin_instantiate(_plugin, 48000.0, nullptr) : nullptr);
  return anchor ? lilv_instance_get_descriptor(anchor.get()) : nullptr;
}

const LV2_Descriptor* LilvTestWorld::stereo_descriptor()
{
  // The same shared object's second entry, kept loaded by descriptor()'s instance.
  const LV2_Descriptor* mono = descriptor();
  if (mono == nullptr || _stereo_plugin == nullptr) {
    return nullptr;
  }
  struct Free {
    void operator()(LilvInstance* instance) const { lilv_instance_free(instance); }
  };
  static const std::unique_ptr<LilvInstance, Free> anchor(lilv_plugin_instantiate(_stereo_plugin, 48000.0, nullptr));
  return anchor ? lilv_instance_get_descriptor(anchor.get()) : nullptr;
}
