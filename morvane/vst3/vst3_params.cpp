// SPDX-License-Identifier: LGPL-2.1-or-later
// The VST3 plug-in's controller side (see vst3_plugin.h): the parameters,
// each described by its row of the control table with its LV2 port index
// as id, then the program change; the programs, one list on the root unit;
// the controller's view of the state.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vst3_plugin.h"
#include "vst3_programs.h"
#include "vst3_view.h"

namespace {

// The number of steps of a stepped row (its points are whole numbers from
// its minimum up); 0 for a continuous one.
int32_t steps(uint32_t row)
{
  const morvane_control& c = morvane_controls[row];
  return hosted_stepped(row) ? static_cast<int32_t>(std::lround(c._max - c._min)) : 0;
}

// A parameter's row, or -1 for the program change or an unknown id.
int row_of(const vst3_plugin* p, v3_param_id id)
{
  return hosted_row(&p->_core, id);
}

// ---- IEditController --------------------------------------------------------

// The processor's state, which is the controller's too: a host that has
// just given it to the component gives the same bytes again.
v3_result V3_API set_component_state(void* self, v3_bstream** stream)
{
  if (stream == nullptr) {
    return V3_INVALID_ARG;
  }
  hosted_load(&vst3_of(self)->_core, vst3_read_stream, stream);
  return V3_OK;
}

// The controller keeps nothing of its own.
v3_result V3_API set_controller_state(void* /*self*/, v3_bstream** /*stream*/)
{
  return V3_OK;
}

v3_result V3_API get_controller_state(void* /*self*/, v3_bstream** /*stream*/)
{
  return V3_OK;
}

int32_t V3_API get_parameter_count(void* self)
{
  return static_cast<int32_t>(vst3_num_params(vst3_of(self)));
}

v3_result V3_API get_parameter_info(void* self, int32_t index, v3_param_info* info)
{
  const vst3_plugin* p = vst3_of(self);
  if (info == nullptr || index < 0 || static_cast<uint32_t>(index) >= vst3_num_params(p)) {
    return V3_INVALID_ARG;
  }
  *info = v3_param_info{};
  info->unit_id = 0;
  if (static_cast<uint32_t>(index) == p->_core._num_controls) {
    const uint32_t n = vst3_num_own_programs(p);
    info->param_id = MORVANE_VST3_PROGRAM_ID;
    vst3_string(info->title, "Program");
    vst3_string(info->short_title, "Program");
    info->step_count = n > 0 ? static_cast<int32_t>(n - 1) : 0;
    info->default_normalised_value = 0.0;
    info->flags = V3_PARAM_PROGRAM_CHANGE | V3_PARAM_IS_LIST | V3_PARAM_CAN_AUTOMATE;
    return V3_OK;
  }
  // The table's rows are in port order.
  const auto row = static_cast<uint32_t>(index);
  const morvane_control& c = morvane_controls[row];
  info->param_id = c._port;
  vst3_string(info->title, c._name);
  vst3_string(info->short_title, c._short_name);
  vst3_string(info->units, morvane_unit_label(c._unit));
  info->step_count = steps(row);
  info->default_normalised_value = vst3_to_normalized(row, c._default);
  info->flags = V3_PARAM_CAN_AUTOMATE;
  if (c._reserved) {
    info->flags |= V3_PARAM_IS_HIDDEN;
  }
  if (c._kind == MORVANE_KIND_ENUMERATION && info->step_count > 0) {
    info->flags |= V3_PARAM_IS_LIST;
  }
  return V3_OK;
}

v3_result V3_API get_parameter_string_for_value(void* self, v3_param_id id, double normalized, v3_str_128 out)
{
  const vst3_plugin* p = vst3_of(self);
  char text[128];
  if (id == MORVANE_VST3_PROGRAM_ID) {
    const vst3_program* program = vst3_own_program(p, vst3_program_index(p, normalized));
    if (program == nullptr) {
      return V3_INVALID_ARG;
    }
    std::snprintf(text, sizeof text, "%s", program->_name);
  } else {
    const int row = row_of(p, id);
    if (row < 0) {
      return V3_INVALID_ARG;
    }
    const auto r = static_cast<uint32_t>(row);
    hosted_value_text(r, vst3_to_plain(r, normalized), text, sizeof text);
  }
  vst3_string(out, text);
  return V3_OK;
}

v3_result V3_API get_parameter_value_for_string(void* self, v3_param_id id, int16_t* input, double* output)
{
  const vst3_plugin* p = vst3_of(self);
  if (input == nullptr || output == nullptr) {
    return V3_INVALID_ARG;
  }
  // The labels and numbers are ASCII; anything else cannot match.
  char text[128];
  std::size_t i = 0;
  for (; i + 1 < sizeof text && input[i] != 0; ++i) {
    text[i] = input[i] > 0 && input[i] < 128 ? static_cast<char>(input[i]) : '?';
  }
  text[i] = 0;
  if (id == MORVANE_VST3_PROGRAM_ID) {
    const uint32_t n = vst3_num_own_programs(p);
    for (uint32_t k = 0; k < n; ++k) {
      if (std::strcmp(vst3_own_program(p, k)->_name, text) == 0) {
        *output = n > 1 ? static_cast<double>(k) / (n - 1) : 0.0;
        return V3_OK;
      }
    }
    return V3_FALSE;
  }
  const int row = row_of(p, id);
  double plain = 0.0;
  if (row < 0 || !hosted_text_value(static_cast<uint32_t>(row), text, &plain)) {
    return V3_FALSE;
  }
  *output = vst3_to_normalized(static_cast<uint32_t>(row), plain);
  return V3_OK;
}

double V3_API normalised_parameter_to_plain(void* self, v3_param_id id, double normalized)
{
  const vst3_plugin* p = vst3_of(self);
  if (id == MORVANE_VST3_PROGRAM_ID) {
    return vst3_program_index(p, normalized);
  }
  const int row = row_of(p, id);
  return row >= 0 ? vst3_to_plain(static_cast<uint32_t>(row), normalized) : 0.0;
}

double V3_API plain_parameter_to_normalised(void* self, v3_param_id id, double plain)
{
  const vst3_plugin* p = vst3_of(self);
  if (id == MORVANE_VST3_PROGRAM_ID) {
    const uint32_t n = vst3_num_own_programs(p);
    return n > 1 ? std::clamp(std::round(plain), 0.0, n - 1.0) / (n - 1) : 0.0;
  }
  const int row = row_of(p, id);
  return row >= 0 ? vst3_to_normalized(static_cast<uint32_t>(row), plain) : 0.0;
}

double V3_API get_parameter_normalised(void* self, v3_param_id id)
{
  const vst3_plugin* p = vst3_of(self);
  if (id == MORVANE_VST3_PROGRAM_ID) {
    const uint32_t n = vst3_num_own_programs(p);
    const int32_t chosen = p->_program.load(std::memory_order_relaxed);
    return n > 1 && chosen > 0 ? static_cast<double>(chosen) / (n - 1) : 0.0;
  }
  const int row = row_of(p, id);
  return row >= 0 ? vst3_to_normalized(static_cast<uint32_t>(row), p->_core._values[row].load(std::memory_order_relaxed))
                  : 0.0;
}

// A parameter's value as the host shows it. A program chosen here sets the
// controls it lists: each is handed to the host as an edit, for the host
// to pass on to the processor and record. With no host to tell, the
// processor takes the values at its next block. The edits tell the host
// every value that changed, so no restart is asked for: a host may choose
// the program with its processing lock held (Ardour 7 does), and its
// restartComponent waits for that lock, so asking from here hangs it.
v3_result V3_API set_parameter_normalised(void* self, v3_param_id id, double normalized)
{
  vst3_plugin* p = vst3_of(self);
  if (!std::isfinite(normalized)) {
    return V3_INVALID_ARG;
  }
  if (id != MORVANE_VST3_PROGRAM_ID) {
    const int row = row_of(p, id);
    if (row < 0) {
      return V3_INVALID_ARG;
    }
    const auto r = static_cast<uint32_t>(row);
    p->_core._values[r].store(static_cast<float>(vst3_to_plain(r, normalized)), std::memory_order_relaxed);
    return V3_OK;
  }
  const uint32_t index = vst3_program_index(p, normalized);
  const vst3_program* program = vst3_own_program(p, index);
  if (program == nullptr) {
    return V3_INVALID_ARG;
  }
  if (p->_program.exchange(static_cast<int32_t>(index), std::memory_order_relaxed) == static_cast<int32_t>(index)) {
    return V3_OK;  // the same program again: the controls stay as they are
  }
  v3_component_handler** handler = p->_handler;
  for (uint32_t k = 0; k < program->_num_values; ++k) {
    const vst3_program_value& v = program->_values[k];
    const int row = row_of(p, v._port);
    if (row < 0) {
      continue;
    }
    const morvane_control& c = morvane_controls[row];
    const float value = std::clamp(v._value, c._min, c._max);
    p->_core._values[row].store(value, std::memory_order_relaxed);
    if (handler != nullptr) {
      const double n = vst3_to_normalized(static_cast<uint32_t>(row), value);
      v3_cpp_obj(handler)->begin_edit(handler, v._port);
      v3_cpp_obj(handler)->perform_edit(handler, v._port, n);
      v3_cpp_obj(handler)->end_edit(handler, v._port);
    }
  }
  if (handler == nullptr) {
    p->_core._reload.store(true, std::memory_order_release);
  }
  return V3_OK;
}

v3_result V3_API set_component_handler(void* self, v3_component_handler** handler)
{
  vst3_plugin* p = vst3_of(self);
  if (handler != nullptr) {
    v3_cpp_obj_ref(handler);
  }
  if (p->_handler != nullptr) {
    v3_cpp_obj_unref(p->_handler);
  }
  p->_handler = handler;
  return V3_OK;
}

v3_plugin_view** V3_API create_view(void* self, const char* name)
{
  return vst3_view_create(vst3_of(self), name);
}

// ---- IUnitInfo: the root unit holds the one program list ----------------

int32_t V3_API get_unit_count(void* /*self*/)
{
  return 1;
}

v3_result V3_API get_unit_info(void* /*self*/, int32_t index, v3_unit_info* info)
{
  if (index != 0 || info == nullptr) {
    return V3_INVALID_ARG;
  }
  *info = v3_unit_info{};
  info->id = 0;
  info->parent_unit_id = -1;
  vst3_string(info->name, "Root");
  info->program_list_id = 0;
  return V3_OK;
}

int32_t V3_API get_program_list_count(void* /*self*/)
{
  return 1;
}

v3_result V3_API get_program_list_info(void* self, int32_t index, v3_program_list_info* info)
{
  if (index != 0 || info == nullptr) {
    return V3_INVALID_ARG;
  }
  *info = v3_program_list_info{};
  info->id = 0;
  vst3_string(info->name, "Factory presets");
  info->programCount = static_cast<int32_t>(vst3_num_own_programs(vst3_of(self)));
  return V3_OK;
}

v3_result V3_API get_program_name(void* self, int32_t list, int32_t index, v3_str_128 name)
{
  const vst3_program* program = index >= 0 ? vst3_own_program(vst3_of(self), static_cast<uint32_t>(index)) : nullptr;
  if (list != 0 || program == nullptr) {
    return V3_INVALID_ARG;
  }
  vst3_string(name, program->_name);
  return V3_OK;
}

v3_result V3_API get_program_info(void* /*self*/, int32_t /*list*/, int32_t /*index*/, const char* /*attribute*/,
                                  v3_str_128 /*value*/)
{
  return V3_FALSE;
}

v3_result V3_API has_program_pitch_names(void* /*self*/, int32_t /*list*/, int32_t /*index*/)
{
  return V3_FALSE;
}

v3_result V3_API get_program_pitch_name(void* /*self*/, int32_t /*list*/, int32_t /*index*/, int16_t /*pitch*/,
                                        v3_str_128 /*name*/)
{
  return V3_FALSE;
}

int32_t V3_API get_selected_unit(void* /*self*/)
{
  return 0;
}

v3_result V3_API select_unit(void* /*self*/, int32_t unit)
{
  return unit == 0 ? V3_OK : V3_INVALID_ARG;
}

v3_result V3_API get_unit_by_bus(void* /*self*/, int32_t /*type*/, int32_t /*direction*/, int32_t /*bus*/,
                                 int32_t /*channel*/, int32_t* unit)
{
  if (unit == nullptr) {
    return V3_INVALID_ARG;
  }
  *unit = 0;
  return V3_OK;
}

v3_result V3_API set_unit_program_data(void* /*self*/, int32_t /*list*/, int32_t /*index*/, v3_bstream** /*data*/)
{
  return V3_NOT_IMPLEMENTED;
}

}  // namespace

const v3_edit_controller_cpp vst3_controller_table = {
  {vst3_query_interface, vst3_ref, vst3_unref},
  {vst3_initialize, vst3_terminate},
  {set_component_state, set_controller_state, get_controller_state, get_parameter_count, get_parameter_info,
   get_parameter_string_for_value, get_parameter_value_for_string, normalised_parameter_to_plain,
   plain_parameter_to_normalised, get_parameter_normalised, set_parameter_normalised, set_component_handler,
   create_view}};

const v3_unit_information_cpp vst3_units_table = {
  {vst3_query_interface, vst3_ref, vst3_unref},
  {get_unit_count, get_unit_info, get_program_list_count, get_program_list_info, get_program_name, get_program_info,
   has_program_pitch_names, get_program_pitch_name, get_selected_unit, select_unit, get_unit_by_bus,
   set_unit_program_data}};

uint32_t vst3_num_params(const vst3_plugin* p) noexcept
{
  return p->_core._num_controls + 1;
}

double vst3_to_plain(uint32_t row, double normalized) noexcept
{
  const morvane_control& c = morvane_controls[row];
  const double n = std::clamp(normalized, 0.0, 1.0);
  const double lo = c._min;
  const double hi = c._max;
  if (const int32_t s = steps(row); s > 0) {
    return lo + std::round(n * s);
  }
  if (c._logarithmic && lo > 0.0) {
    return std::clamp(lo * std::pow(hi / lo, n), lo, hi);
  }
  return std::clamp(lo + n * (hi - lo), lo, hi);
}

double vst3_to_normalized(uint32_t row, double plain) noexcept
{
  const morvane_control& c = morvane_controls[row];
  const double lo = c._min;
  const double hi = c._max;
  const double v = std::clamp(plain, lo, hi);
  if (const int32_t s = steps(row); s > 0) {
    return std::round(v - lo) / s;
  }
  if (c._logarithmic && lo > 0.0) {
    return std::log(v / lo) / std::log(hi / lo);
  }
  return (v - lo) / (hi - lo);
}

uint32_t vst3_num_own_programs(const vst3_plugin* p) noexcept
{
  uint32_t n = 0;
  for (uint32_t i = 0; i < vst3_num_programs; ++i) {
    n += p->_core._stereo || !vst3_programs[i]._stereo_only;
  }
  return n;
}

const vst3_program* vst3_own_program(const vst3_plugin* p, uint32_t index) noexcept
{
  for (uint32_t i = 0; i < vst3_num_programs; ++i) {
    if (p->_core._stereo || !vst3_programs[i]._stereo_only) {
      if (index == 0) {
        return &vst3_programs[i];
      }
      --index;
    }
  }
  return nullptr;
}

uint32_t vst3_program_index(const vst3_plugin* p, double normalized) noexcept
{
  const uint32_t n = vst3_num_own_programs(p);
  if (n <= 1 || !std::isfinite(normalized)) {
    return 0;
  }
  return static_cast<uint32_t>(std::lround(std::clamp(normalized, 0.0, 1.0) * (n - 1)));
}
