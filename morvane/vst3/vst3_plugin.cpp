// SPDX-License-Identifier: LGPL-2.1-or-later
// The VST3 plug-in object (see vst3_plugin.h): its reference count and
// interfaces, the component (buses, activation, state), the processor and
// its process, which runs the LV2 instance stretch by stretch between the
// host's parameter changes, with the host's transport written into its
// control port as song positions.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "vst3_plugin.h"
#include "vst3_programs.h"
#include "vst3_view.h"

namespace {

constexpr v3_speaker_arrangement STEREO = V3_SPEAKER_L | V3_SPEAKER_R;
constexpr v3_speaker_arrangement MONO = V3_SPEAKER_M;

// ---- IComponent -----------------------------------------------------------

// A single component: no separate controller class.
v3_result V3_API get_controller_class_id(void* /*self*/, v3_tuid class_id)
{
  std::memset(class_id, 0, sizeof(v3_tuid));
  return V3_NOT_IMPLEMENTED;
}

v3_result V3_API set_io_mode(void* /*self*/, int32_t /*mode*/)
{
  return V3_OK;
}

int32_t V3_API get_bus_count(void* /*self*/, int32_t media_type, int32_t /*direction*/)
{
  return media_type == V3_AUDIO ? 1 : 0;
}

v3_result V3_API get_bus_info(void* self, int32_t media_type, int32_t direction, int32_t index, v3_bus_info* info)
{
  if (media_type != V3_AUDIO || index != 0 || info == nullptr) {
    return V3_INVALID_ARG;
  }
  const vst3_plugin* p = vst3_of(self);
  *info = v3_bus_info{};
  info->media_type = V3_AUDIO;
  info->direction = direction;
  info->channel_count = direction == V3_INPUT && p->_input_arrangement == MONO ? 1 : 2;
  vst3_string(info->bus_name, direction == V3_INPUT ? "Input" : "Output");
  info->bus_type = V3_MAIN;
  info->flags = V3_DEFAULT_ACTIVE;
  return V3_OK;
}

v3_result V3_API get_routing_info(void* /*self*/, v3_routing_info* /*input*/, v3_routing_info* /*output*/)
{
  return V3_FALSE;
}

v3_result V3_API activate_bus(void* /*self*/, int32_t media_type, int32_t /*direction*/, int32_t index,
                              v3_bool /*state*/)
{
  return media_type == V3_AUDIO && index == 0 ? V3_OK : V3_INVALID_ARG;
}

v3_result V3_API set_active(void* self, v3_bool state)
{
  vst3_plugin* p = vst3_of(self);
  if (state == 0) {
    if (p->_active.exchange(false)) {
      hosted_deactivate(&p->_core);
    }
    return V3_OK;
  }
  if (p->_core._instance == nullptr) {
    return V3_NOT_INITIALIZED;  // no setupProcessing yet: the rate is not known
  }
  if (!p->_active.load()) {
    hosted_activate(&p->_core);
    p->_active.store(true);
  }
  return V3_OK;
}

}  // namespace

bool vst3_write_stream(void* context, const uint8_t* data, uint64_t size)
{
  auto** stream = static_cast<v3_bstream**>(context);
  while (size > 0) {
    int32_t done = 0;
    const auto n = static_cast<int32_t>(std::min<uint64_t>(size, INT32_MAX));
    if (v3_cpp_obj(stream)->write(stream, const_cast<uint8_t*>(data), n, &done) != V3_OK || done <= 0) {
      return false;
    }
    data += done;
    size -= static_cast<uint64_t>(done);
  }
  return true;
}

bool vst3_read_stream(void* context, uint8_t* data, uint64_t size)
{
  auto** stream = static_cast<v3_bstream**>(context);
  while (size > 0) {
    int32_t done = 0;
    const auto n = static_cast<int32_t>(std::min<uint64_t>(size, INT32_MAX));
    if (v3_cpp_obj(stream)->read(stream, data, n, &done) != V3_OK || done <= 0) {
      return false;
    }
    data += done;
    size -= static_cast<uint64_t>(done);
  }
  return true;
}

namespace {

v3_result V3_API set_state(void* self, v3_bstream** stream)
{
  if (stream == nullptr) {
    return V3_INVALID_ARG;
  }
  return hosted_load(&vst3_of(self)->_core, vst3_read_stream, stream) ? V3_OK : V3_FALSE;
}

v3_result V3_API get_state(void* self, v3_bstream** stream)
{
  if (stream == nullptr) {
    return V3_INVALID_ARG;
  }
  return hosted_save(&vst3_of(self)->_core, vst3_write_stream, stream) ? V3_OK : V3_FALSE;
}

// ---- IAudioProcessor ------------------------------------------------------

// One input bus, stereo or mono (which feeds both channels), and one
// stereo output bus, as the LV2 plug-ins' ports are.
v3_result V3_API set_bus_arrangements(void* self, v3_speaker_arrangement* inputs, int32_t num_inputs,
                                      v3_speaker_arrangement* outputs, int32_t num_outputs)
{
  vst3_plugin* p = vst3_of(self);
  if (num_inputs != 1 || num_outputs != 1 || inputs == nullptr || outputs == nullptr ||
      (inputs[0] != STEREO && inputs[0] != MONO) || outputs[0] != STEREO) {
    return V3_FALSE;
  }
  p->_input_arrangement = inputs[0];
  return V3_OK;
}

v3_result V3_API get_bus_arrangement(void* self, int32_t direction, int32_t index, v3_speaker_arrangement* arr)
{
  if (index != 0 || arr == nullptr) {
    return V3_INVALID_ARG;
  }
  *arr = direction == V3_INPUT ? vst3_of(self)->_input_arrangement : STEREO;
  return V3_OK;
}

v3_result V3_API can_process_sample_size(void* /*self*/, int32_t size)
{
  return size == V3_SAMPLE_32 ? V3_OK : V3_FALSE;
}

uint32_t V3_API get_latency_samples(void* /*self*/)
{
  return 0;
}

// The engines are made once the rate is known, and kept while it stays:
// they draw their random phase offsets from rand() when made.
v3_result V3_API setup_processing(void* self, v3_process_setup* setup)
{
  vst3_plugin* p = vst3_of(self);
  if (setup == nullptr || setup->symbolic_sample_size != V3_SAMPLE_32 || setup->max_block_size < 0 ||
      !(setup->sample_rate > 0.0) || p->_active.load()) {
    return V3_FALSE;
  }
  try {
    p->_silence.assign(static_cast<std::size_t>(setup->max_block_size), 0.0f);
  } catch (...) {
    return V3_NOMEM;
  }
  const LV2_Handle before = p->_core._instance;
  if (!hosted_instantiate(&p->_core, setup->sample_rate)) {
    return V3_FALSE;
  }
  if (p->_core._instance != before) {
    frame_mailbox_restart(&p->_gui->_mailbox);  // a new instance has heard of no window
  }
  p->_max_frames = static_cast<uint32_t>(setup->max_block_size);
  return V3_OK;
}

v3_result V3_API set_processing(void* /*self*/, v3_bool /*state*/)
{
  return V3_OK;
}

// The host's transport as the core reads it: the song position in samples
// always, the rest as the context's flags say.
hosted_transport transport(const v3_process_context& c, double rate)
{
  hosted_transport t{};
  t._flags = HOSTED_HAS_SECONDS;
  t._frame = static_cast<double>(c.project_time_in_samples);
  t._seconds = t._frame / rate;
  if (c.state & V3_PROCESS_CTX_PLAYING) {
    t._flags |= HOSTED_PLAYING;
  }
  if (c.state & V3_PROCESS_CTX_PROJECT_TIME_VALID) {
    t._flags |= HOSTED_HAS_BEATS;
    t._beats = c.project_time_quarters;
  }
  if (c.state & V3_PROCESS_CTX_TEMPO_VALID) {
    t._flags |= HOSTED_HAS_TEMPO;
    t._tempo = c.bpm;
  }
  if ((c.state & V3_PROCESS_CTX_TIME_SIG_VALID) && c.time_sig_numerator > 0 && c.time_sig_numerator <= UINT16_MAX &&
      c.time_sig_denom > 0 && c.time_sig_denom <= UINT16_MAX) {
    t._flags |= HOSTED_HAS_METRE;
    t._tsig_num = static_cast<uint16_t>(c.time_sig_numerator);
    t._tsig_denom = static_cast<uint16_t>(c.time_sig_denom);
    // The context gives the bar's start, not its number: counted in bars
    // of the present metre.
    const double bar = c.bar_position_quarters / (t._tsig_num * 4.0 / t._tsig_denom);
    if ((c.state & V3_PROCESS_CTX_BAR_POSITION_VALID) && std::isfinite(bar) && std::fabs(bar) < 1e15) {
      t._flags |= HOSTED_HAS_BAR;
      t._bar_start = c.bar_position_quarters;
      t._bar_number = std::llround(bar);
    }
  }
  return t;
}

// A block's parameter changes in the order of their samples, queue by
// queue merged without allocating.
struct changes {
  int32_t _num_queues;
  v3_param_value_queue** _queues[MORVANE_VST3_MAX_QUEUES];
  v3_param_id _ids[MORVANE_VST3_MAX_QUEUES];
  int32_t _next[MORVANE_VST3_MAX_QUEUES];

  explicit changes(v3_param_changes** list) : _num_queues(0)
  {
    const int32_t n = list != nullptr ? v3_cpp_obj(list)->get_param_count(list) : 0;
    for (int32_t i = 0; i < n && _num_queues < static_cast<int32_t>(MORVANE_VST3_MAX_QUEUES); ++i) {
      v3_param_value_queue** q = v3_cpp_obj(list)->get_param_data(list, i);
      if (q != nullptr) {
        _queues[_num_queues] = q;
        _ids[_num_queues] = v3_cpp_obj(q)->get_param_id(q);
        _next[_num_queues] = 0;
        ++_num_queues;
      }
    }
  }

  // The sample of queue i's next point, or -1 when it has none left.
  int32_t offset(int32_t i, double* value) const
  {
    v3_param_value_queue** q = _queues[i];
    if (_next[i] >= v3_cpp_obj(q)->get_point_count(q)) {
      return -1;
    }
    int32_t at = 0;
    if (v3_cpp_obj(q)->get_point(q, _next[i], &at, value) != V3_OK) {
      return -1;
    }
    return std::max(at, 0);
  }

  // The earliest sample any queue still has a point at; -1 when none.
  int32_t earliest() const
  {
    int32_t first = -1;
    for (int32_t i = 0; i < _num_queues; ++i) {
      double value;
      const int32_t at = offset(i, &value);
      if (at >= 0 && (first < 0 || at < first)) {
        first = at;
      }
    }
    return first;
  }
};

// Output parameter changes: the values a program set, for the host to see.
void tell_host(v3_param_changes** out, v3_param_id id, int32_t at, double normalized)
{
  if (out == nullptr) {
    return;
  }
  v3_param_id queue_id = id;
  int32_t index = 0;
  v3_param_value_queue** q = v3_cpp_obj(out)->add_param_data(out, &queue_id, &index);
  if (q != nullptr) {
    v3_cpp_obj(q)->add_point(q, at, normalized, &index);
  }
}

// Takes every change at sample `at` (the earliest left) into the controls.
void take_changes(vst3_plugin* p, changes& c, int32_t at, v3_param_changes** out)
{
  for (int32_t i = 0; i < c._num_queues; ++i) {
    double value = 0.0;
    while (c.offset(i, &value) == at) {
      ++c._next[i];
      if (c._ids[i] == MORVANE_VST3_PROGRAM_ID) {
        const uint32_t index = vst3_program_index(p, value);
        const vst3_program* program = vst3_own_program(p, index);
        p->_program.store(static_cast<int32_t>(index), std::memory_order_relaxed);
        for (uint32_t k = 0; program != nullptr && k < program->_num_values; ++k) {
          const vst3_program_value& v = program->_values[k];
          const int row = hosted_row(&p->_core, v._port);
          if (row >= 0 && hosted_set(&p->_core, v._port, v._value)) {
            tell_host(out, v._port, at, vst3_to_normalized(static_cast<uint32_t>(row), v._value));
          }
        }
      } else {
        const int row = hosted_row(&p->_core, c._ids[i]);
        if (row >= 0 && std::isfinite(value)) {
          hosted_set(&p->_core, c._ids[i], vst3_to_plain(static_cast<uint32_t>(row), value));
        }
      }
    }
  }
}

// Runs samples [start, end) through the LV2 instance: its control
// sequence holds the window's open or closed message when the instance
// must hear it, then the block's transport when `lead`; its notify port
// writes into the window's mailbox while the window wants frames.
void run_stretch(vst3_plugin* p, const hosted_transport& t, bool lead, const float* in_l, const float* in_r,
                 float* out_l, float* out_r, uint32_t start, uint32_t end) noexcept
{
  hosted_plugin* h = &p->_core;
  frame_mailbox* mailbox = &p->_gui->_mailbox;
  hosted_begin_sequence(h);
  frame_mailbox_forge_message(mailbox, &h->_forge);
  if (lead) {
    hosted_forge_position(h, t, 0, h->_clock);
  }
  hosted_end_sequence(h);
  h->_lv2->connect_port(h->_instance, MORVANE_NOTIFY, frame_mailbox_notify(mailbox));
  hosted_run(h, in_l + start, in_r + start, out_l + start, out_r + start, end - start);
  frame_mailbox_after_run(mailbox);
}

v3_result V3_API process(void* self, v3_process_data* data)
{
  vst3_plugin* p = vst3_of(self);
  hosted_plugin* h = &p->_core;
  if (!p->_active.load(std::memory_order_acquire)) {
    return V3_NOT_INITIALIZED;
  }
  if (data == nullptr || data->nframes < 0 || static_cast<uint32_t>(data->nframes) > p->_max_frames ||
      data->symbolic_sample_size != V3_SAMPLE_32) {
    return V3_INVALID_ARG;
  }
  const auto n = static_cast<uint32_t>(data->nframes);
  hosted_take_reload(h);
  vst3_gui_drain(p);
  changes c(data->input_params);

  // With no audio (a host passing only parameter changes), the changes
  // are taken and nothing runs.
  float* out_l = nullptr;
  float* out_r = nullptr;
  if (data->num_output_buses >= 1 && data->outputs != nullptr && data->outputs[0].num_channels >= 2 &&
      data->outputs[0].channel_buffers_32 != nullptr) {
    out_l = data->outputs[0].channel_buffers_32[0];
    out_r = data->outputs[0].channel_buffers_32[1];
  }
  if (n == 0 || out_l == nullptr || out_r == nullptr) {
    for (int32_t at = c.earliest(); at >= 0; at = c.earliest()) {
      take_changes(p, c, at, data->output_params);
    }
    return V3_OK;
  }
  // A mono input feeds both channels; no input is silence.
  const float* in_l = p->_silence.data();
  const float* in_r = in_l;
  if (data->num_input_buses >= 1 && data->inputs != nullptr && data->inputs[0].num_channels >= 1 &&
      data->inputs[0].channel_buffers_32 != nullptr && data->inputs[0].channel_buffers_32[0] != nullptr) {
    in_l = data->inputs[0].channel_buffers_32[0];
    in_r = data->inputs[0].num_channels > 1 && data->inputs[0].channel_buffers_32[1] != nullptr
               ? data->inputs[0].channel_buffers_32[1]
               : in_l;
  }

  // The block's transport, when it says something the last position
  // forwarded does not, goes before the first stretch.
  bool lead = false;
  hosted_transport t{};
  if (data->ctx != nullptr) {
    t = transport(*data->ctx, h->_rate);
    lead = hosted_transport_news(h, t, h->_clock);
  }
  uint32_t start = 0;
  for (int32_t at = c.earliest(); at >= 0; at = c.earliest()) {
    const uint32_t split = std::min(static_cast<uint32_t>(at), n);
    if (split > start) {
      run_stretch(p, t, lead, in_l, in_r, out_l, out_r, start, split);
      lead = false;
      start = split;
    }
    take_changes(p, c, at, data->output_params);
  }
  if (start < n) {
    run_stretch(p, t, lead, in_l, in_r, out_l, out_r, start, n);
  }
  h->_clock += n;
  data->outputs[0].channel_silence_bitset = 0;
  return V3_OK;
}

// ---- IProcessContextRequirements -----------------------------------------

uint32_t V3_API get_process_context_requirements(void* /*self*/)
{
  return V3_PROCESS_CTX_NEED_PROJECT_TIME | V3_PROCESS_CTX_NEED_BAR_POSITION | V3_PROCESS_CTX_NEED_TEMPO |
         V3_PROCESS_CTX_NEED_TIME_SIG | V3_PROCESS_CTX_NEED_TRANSPORT_STATE;
}

// ---- The tables -------------------------------------------------------------

const v3_component_cpp component_table = {
  {vst3_query_interface, vst3_ref, vst3_unref},
  {vst3_initialize, vst3_terminate},
  {get_controller_class_id, set_io_mode, get_bus_count, get_bus_info, get_routing_info, activate_bus, set_active,
   set_state, get_state}};

const v3_audio_processor_cpp processor_table = {
  {vst3_query_interface, vst3_ref, vst3_unref},
  {set_bus_arrangements, get_bus_arrangement, can_process_sample_size, get_latency_samples, setup_processing,
   set_processing, process, nullptr}};

const v3_process_context_requirements_cpp requirements_table = {{vst3_query_interface, vst3_ref, vst3_unref},
                                                                {get_process_context_requirements}};

}  // namespace

v3_result V3_API vst3_query_interface(void* self, const v3_tuid iid, void** obj)
{
  if (obj == nullptr) {
    return V3_INVALID_ARG;
  }
  void* face = vst3_face_of(vst3_of(self), iid);
  *obj = face;
  return face != nullptr ? V3_OK : V3_NO_INTERFACE;
}

uint32_t V3_API vst3_ref(void* self)
{
  return vst3_of(self)->_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t V3_API vst3_unref(void* self)
{
  vst3_plugin* p = vst3_of(self);
  const uint32_t left = p->_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    vst3_gui_free(p->_gui);
    hosted_cleanup(&p->_core);
    if (p->_handler != nullptr) {
      v3_cpp_obj_unref(p->_handler);
    }
    delete p;
  }
  return left;
}

// Nothing to do: the object is ready when made. The host may call these
// on the component and on the controller face alike.
v3_result V3_API vst3_initialize(void* /*self*/, v3_funknown** /*context*/)
{
  return V3_OK;
}

v3_result V3_API vst3_terminate(void* /*self*/)
{
  return V3_OK;
}

void* vst3_face_of(vst3_plugin* p, const v3_tuid iid) noexcept
{
  vst3_face* face = nullptr;
  if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_base_iid) ||
      v3_tuid_match(iid, v3_component_iid)) {
    face = &p->_component;
  } else if (v3_tuid_match(iid, v3_audio_processor_iid)) {
    face = &p->_processor;
  } else if (v3_tuid_match(iid, v3_edit_controller_iid)) {
    face = &p->_controller;
  } else if (v3_tuid_match(iid, v3_process_context_requirements_iid)) {
    face = &p->_requirements;
  } else if (v3_tuid_match(iid, v3_unit_information_iid)) {
    face = &p->_units;
  }
  if (face != nullptr) {
    p->_refs.fetch_add(1, std::memory_order_relaxed);
  }
  return face;
}

vst3_plugin* vst3_plugin_create(uint32_t lv2_index) noexcept
{
  auto* p = new (std::nothrow) vst3_plugin();
  if (p == nullptr) {
    return nullptr;
  }
  p->_component = vst3_face{&component_table, p};
  p->_processor = vst3_face{&processor_table, p};
  p->_controller = vst3_face{&vst3_controller_table, p};
  p->_requirements = vst3_face{&requirements_table, p};
  p->_units = vst3_face{&vst3_units_table, p};
  p->_refs.store(1, std::memory_order_relaxed);
  p->_max_frames = 0;
  p->_active.store(false);
  p->_input_arrangement = STEREO;
  p->_handler = nullptr;
  p->_program.store(-1, std::memory_order_relaxed);  // none chosen yet
  p->_gui = nullptr;
  if (!hosted_init(&p->_core, lv2_index) || (p->_gui = vst3_gui_new(p)) == nullptr) {
    delete p;
    return nullptr;
  }
  return p;
}

void vst3_string(v3_str_128 out, const char* text) noexcept
{
  // UTF-8 to UTF-16; the texts here lie within the basic plane.
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  int i = 0;
  while (*s != 0 && i < 127) {
    uint32_t c = *s++;
    if (c >= 0xE0 && s[0] != 0 && s[1] != 0) {
      c = (c & 0x0F) << 12 | (s[0] & 0x3Fu) << 6 | (s[1] & 0x3Fu);
      s += 2;
    } else if (c >= 0xC0 && s[0] != 0) {
      c = (c & 0x1F) << 6 | (s[0] & 0x3Fu);
      s += 1;
    }
    out[i++] = static_cast<int16_t>(c);
  }
  out[i] = 0;
}
