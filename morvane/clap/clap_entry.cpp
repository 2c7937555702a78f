// SPDX-License-Identifier: LGPL-2.1-or-later
// morvane.clap's entry point and plug-in factory: two plug-ins, the LV2
// bundle's two, by the names their LV2 twins have. Every function here is
// built for baseline x86-64, so a host on an older processor scans the file
// safely; creating a plug-in asks the processor first.
#include <cstring>

#include <clap/entry.h>
#include <clap/plugin-factory.h>

#include "clap_shell.h"
#include "cpu_level.h"

namespace {

const char* mono_features[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, nullptr};
const char* stereo_features[] = {CLAP_PLUGIN_FEATURE_AUDIO_EFFECT, CLAP_PLUGIN_FEATURE_STEREO, nullptr};

// In the order of the LV2 descriptors (lv2_descriptor's index).
const clap_plugin_descriptor_t descriptors[] = {
  {CLAP_VERSION_INIT, "org.example.morvane.mono", "morvane", "morvane developers", "http://morvane.example.org/",
   "", "", MORVANE_VERSION,
   "Resynthesises the left input with 112 tracking resonators, its partials shaken by three LFOs; the same mono "
   "result goes to both outputs.",
   mono_features},
  {CLAP_VERSION_INIT, "org.example.morvane.stereo", "morvane stereo", "morvane developers",
   "http://morvane.example.org/", "", "", MORVANE_VERSION,
   "Resynthesises a stereo input with tracking resonators, its partials shaken by three LFOs and spread across "
   "the field, or each channel on its own.",
   stereo_features},
};
constexpr uint32_t num_descriptors = sizeof descriptors / sizeof descriptors[0];

MORVANE_BASELINE_CODE
uint32_t plugin_count(const clap_plugin_factory_t* /*factory*/)
{
  return num_descriptors;
}

MORVANE_BASELINE_CODE
const clap_plugin_descriptor_t* plugin_descriptor(const clap_plugin_factory_t* /*factory*/, uint32_t index)
{
  return index < num_descriptors ? &descriptors[index] : nullptr;
}

MORVANE_BASELINE_CODE
const clap_plugin_t* create_plugin(const clap_plugin_factory_t* /*factory*/, const clap_host_t* host,
                                   const char* plugin_id)
{
  if (host == nullptr || plugin_id == nullptr || !clap_version_is_compatible(host->clap_version) ||
      !morvane_cpu_has_build_level()) {
    return nullptr;
  }
  for (uint32_t i = 0; i < num_descriptors; ++i) {
    if (std::strcmp(plugin_id, descriptors[i].id) == 0) {
      return clap_shell_create(host, &descriptors[i], i);
    }
  }
  return nullptr;
}

const clap_plugin_factory_t factory = {plugin_count, plugin_descriptor, create_plugin};

MORVANE_BASELINE_CODE
bool entry_init(const char* /*plugin_path*/)
{
  return true;
}

MORVANE_BASELINE_CODE
void entry_deinit() {}

MORVANE_BASELINE_CODE
const void* entry_factory(const char* factory_id)
{
  if (factory_id != nullptr && std::strcmp(factory_id, CLAP_PLUGIN_FACTORY_ID) == 0) {
    return &factory;
  }
  return nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entry_init, entry_deinit,
                                                              entry_factory};
