// SPDX-License-Identifier: LGPL-2.1-or-later
// A VST3 module's entry points and its plug-in factory, holding one class:
// the plug-in of LV2 descriptor MORVANE_VST3_LV2_INDEX (0: morvane.vst3,
// the mono plug-in; 1: morvane-stereo.vst3), by the name its LV2 twin has.
// Every function here is built for baseline x86-64, so a host on an older
// processor scans the module safely; creating a plug-in asks the
// processor first.
#include <cstddef>
#include <type_traits>

#include <travesty/factory.h>

#include "cpu_level.h"
#include "vst3_plugin.h"

#ifndef MORVANE_VST3_LV2_INDEX
#error "MORVANE_VST3_LV2_INDEX (0 mono, 1 stereo) must be defined"
#endif

namespace {

// The class ids: fixed forever, since projects find their plug-ins by
// them. The first 16 bytes of the MD5 digest of
// "org.example.morvane.mono VST3 processor" and of
// "org.example.morvane.stereo VST3 processor".
constexpr v3_tuid CLASS_IDS[2] = {V3_ID(0x15B45EB5, 0x19786873, 0x1E9F74AB, 0x987CEB42),
                                  V3_ID(0xB0C57C38, 0xBCD12C07, 0x4404EB33, 0x1B1A63E0)};
constexpr const char* NAMES[2] = {"morvane", "morvane stereo"};
constexpr const char* VENDOR = "morvane developers";
constexpr const char* URL = "http://morvane.example.org/";
constexpr const char* CATEGORY = "Audio Module Class";
constexpr const char* SUBCATEGORIES = "Fx";
constexpr const char* SDK_VERSION = "VST 3.7";
constexpr int32_t MANY_INSTANCES = 0x7FFFFFFF;
constexpr int32_t UNICODE_FACTORY = 0x10;

constexpr uint32_t INDEX = MORVANE_VST3_LV2_INDEX;
static_assert(INDEX < 2);

// Plain loops and assignments here: the C library's fortified string
// functions (_FORTIFY_SOURCE, as the Debian build hardens) are inlined for
// the build's level, which code built for baseline cannot call.
MORVANE_BASELINE_CODE
void copy_id(v3_tuid out, const v3_tuid id)
{
  for (std::size_t i = 0; i < sizeof(v3_tuid); ++i) {
    out[i] = id[i];
  }
}

// ASCII text into a field of `size` characters, char or VST3's UTF-16.
template <typename Char>
MORVANE_BASELINE_CODE void copy(Char* out, std::size_t size, const char* text)
{
  if (size == 0) {
    return;
  }
  std::size_t i = 0;
  for (; i + 1 < size && text[i] != '\0'; ++i) {
    out[i] = static_cast<Char>(static_cast<unsigned char>(text[i]));
  }
  out[i] = 0;
}

template <typename Char, std::size_t N>
MORVANE_BASELINE_CODE void copy(Char (&out)[N], const char* text)
{
  copy(out, N, text);
}

// What every kind of class info starts with: the id, the cardinality and
// the category, the rest cleared.
template <typename Info>
MORVANE_BASELINE_CODE void class_head(Info* info)
{
  *info = {};
  copy_id(info->class_id, CLASS_IDS[INDEX]);
  info->cardinality = MANY_INSTANCES;
  copy(info->category, CATEGORY);
}

// The second and third kinds' texts after the head.
template <typename Info>
MORVANE_BASELINE_CODE void class_details(Info* info)
{
  copy(info->name, NAMES[INDEX]);
  copy(info->sub_categories, SUBCATEGORIES);
  copy(info->vendor, VENDOR);
  copy(info->version, MORVANE_VERSION);
  copy(info->sdk_version, SDK_VERSION);
}

MORVANE_BASELINE_CODE
v3_result V3_API query_interface(void* self, const v3_tuid iid, void** obj)
{
  if (obj == nullptr) {
    return V3_INVALID_ARG;
  }
  if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_factory_iid) ||
      v3_tuid_match(iid, v3_plugin_factory_2_iid) || v3_tuid_match(iid, v3_plugin_factory_3_iid)) {
    *obj = self;
    return V3_OK;
  }
  *obj = nullptr;
  return V3_NO_INTERFACE;
}

// The factory lives as long as the module: counting changes nothing.
MORVANE_BASELINE_CODE
uint32_t V3_API ref(void* /*self*/)
{
  return 1;
}

MORVANE_BASELINE_CODE
uint32_t V3_API unref(void* /*self*/)
{
  return 1;
}

MORVANE_BASELINE_CODE
v3_result V3_API get_factory_info(void* /*self*/, v3_factory_info* info)
{
  if (info == nullptr) {
    return V3_INVALID_ARG;
  }
  *info = {};
  copy(info->vendor, VENDOR);
  copy(info->url, URL);
  info->flags = UNICODE_FACTORY;
  return V3_OK;
}

MORVANE_BASELINE_CODE
int32_t V3_API num_classes(void* /*self*/)
{
  return 1;
}

// The class info of each kind: the first carries the name alone, the
// second and third (in UTF-16) the vendor, version and subcategories too.
template <typename Info>
MORVANE_BASELINE_CODE v3_result V3_API get_class_info(void* /*self*/, int32_t index, Info* info)
{
  if (index != 0 || info == nullptr) {
    return V3_INVALID_ARG;
  }
  class_head(info);
  if constexpr (std::is_same_v<Info, v3_class_info>) {
    copy(info->name, NAMES[INDEX]);
  } else {
    class_details(info);
  }
  return V3_OK;
}

MORVANE_BASELINE_CODE
v3_result V3_API set_host_context(void* /*self*/, v3_funknown** /*host*/)
{
  return V3_OK;
}

MORVANE_BASELINE_CODE
v3_result V3_API create_instance(void* /*self*/, const v3_tuid class_id, const v3_tuid iid, void** instance)
{
  if (instance == nullptr) {
    return V3_INVALID_ARG;
  }
  *instance = nullptr;
  if (class_id == nullptr || iid == nullptr || !v3_tuid_match(class_id, CLASS_IDS[INDEX])) {
    return V3_NO_INTERFACE;
  }
  if (!morvane_cpu_has_build_level()) {
    return V3_FALSE;
  }
  vst3_plugin* p = vst3_plugin_create(INDEX);
  if (p == nullptr) {
    return V3_NOMEM;
  }
  // The host's reference, if the object has the interface; then the
  // creation's own one goes.
  const v3_result result = vst3_query_interface(&p->_component, iid, instance);
  vst3_unref(&p->_component);
  return result;
}

const v3_plugin_factory_cpp factory_table = {
  {query_interface, ref, unref},
  {get_factory_info, num_classes, get_class_info<v3_class_info>, create_instance},
  {get_class_info<v3_class_info_2>},
  {get_class_info<v3_class_info_3>, set_host_context}};

struct factory_object {
  const v3_plugin_factory_cpp* _table;
};
factory_object factory = {&factory_table};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) MORVANE_BASELINE_CODE void* GetPluginFactory()
{
  return &factory;
}

__attribute__((visibility("default"))) MORVANE_BASELINE_CODE bool ModuleEntry(void* /*library*/)
{
  return true;
}

__attribute__((visibility("default"))) MORVANE_BASELINE_CODE bool ModuleExit()
{
  return true;
}

}  // extern "C"
