// SPDX-License-Identifier: LGPL-2.1-or-later
// The CLAP parameters: the plug-in's control ports in port order, each
// described by its row of the control table, with its LV2 port index as
// its id (ids are only ever appended). Also the audio ports: one stereo
// input and one stereo output, as the LV2 plug-ins have (the mono one
// reads the left input and writes both outputs).
#include <cstdio>

#include <clap/ext/audio-ports.h>
#include <clap/ext/params.h>

#include "clap_gui.h"
#include "clap_shell.h"

namespace {

uint32_t count(const clap_plugin_t* plugin)
{
  return clap_shell_of(plugin)->_core._num_controls;
}

bool get_info(const clap_plugin_t* plugin, uint32_t index, clap_param_info_t* info)
{
  if (info == nullptr || index >= clap_shell_of(plugin)->_core._num_controls) {
    return false;
  }
  // The table's rows are in port order.
  const morvane_control& c = morvane_controls[index];
  *info = clap_param_info_t{};
  info->id = c._port;
  info->flags = CLAP_PARAM_IS_AUTOMATABLE;
  if (c._reserved) {
    info->flags |= CLAP_PARAM_IS_HIDDEN;
  }
  if (hosted_stepped(index)) {
    info->flags |= CLAP_PARAM_IS_STEPPED;
  }
  std::snprintf(info->name, sizeof info->name, "%s", c._name);
  info->min_value = c._min;
  info->max_value = c._max;
  info->default_value = c._default;
  return true;
}

bool get_value(const clap_plugin_t* plugin, clap_id id, double* value)
{
  const clap_shell* s = clap_shell_of(plugin);
  const int row = hosted_row(&s->_core, id);
  if (row < 0 || value == nullptr) {
    return false;
  }
  *value = s->_core._values[row].load(std::memory_order_relaxed);
  return true;
}

// A scale point's label when the value is that point; else the number in
// the control's unit.
bool value_to_text(const clap_plugin_t* plugin, clap_id id, double value, char* display, uint32_t size)
{
  const int row = hosted_row(&clap_shell_of(plugin)->_core, id);
  if (row < 0 || display == nullptr || size == 0) {
    return false;
  }
  hosted_value_text(static_cast<uint32_t>(row), value, display, size);
  return true;
}

// A scale point's label, or a number (a unit after it is passed over).
bool text_to_value(const clap_plugin_t* plugin, clap_id id, const char* display, double* value)
{
  const int row = hosted_row(&clap_shell_of(plugin)->_core, id);
  if (row < 0 || display == nullptr || value == nullptr) {
    return false;
  }
  return hosted_text_value(static_cast<uint32_t>(row), display, value);
}

void flush(const clap_plugin_t* plugin, const clap_input_events_t* in, const clap_output_events_t* out)
{
  clap_shell* s = clap_shell_of(plugin);
  clap_gui_drain(s, out);
  const uint32_t n = in != nullptr ? in->size(in) : 0;
  for (uint32_t i = 0; i < n; ++i) {
    const clap_event_header_t* e = in->get(in, i);
    if (e != nullptr && e->space_id == CLAP_CORE_EVENT_SPACE_ID && e->type == CLAP_EVENT_PARAM_VALUE) {
      clap_shell_take_param(s, e);
    }
  }
}

uint32_t audio_port_count(const clap_plugin_t* /*plugin*/, bool /*is_input*/)
{
  return 1;
}

bool audio_port_get(const clap_plugin_t* /*plugin*/, uint32_t index, bool is_input, clap_audio_port_info_t* info)
{
  if (index != 0 || info == nullptr) {
    return false;
  }
  *info = clap_audio_port_info_t{};
  info->id = 0;
  std::snprintf(info->name, sizeof info->name, "%s", is_input ? "Input" : "Output");
  info->flags = CLAP_AUDIO_PORT_IS_MAIN;
  info->channel_count = 2;
  info->port_type = CLAP_PORT_STEREO;
  info->in_place_pair = 0;  // the plug-in copes with any aliasing
  return true;
}

}  // namespace

const clap_plugin_params_t morvane_clap_params = {count, get_info, get_value, value_to_text, text_to_value, flush};

const clap_plugin_audio_ports_t morvane_clap_audio_ports = {audio_port_count, audio_port_get};
