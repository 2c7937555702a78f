// SPDX-License-Identifier: LGPL-2.1-or-later
#include "vst3_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

struct LoadedModule {
  void* handle = nullptr;
  v3_plugin_factory** factory = nullptr;
  explicit LoadedModule(const char* path)
  {
    // Kept mapped to the end, as the CLAP test host keeps its file: the
    // module loads cairo, whose lifelong caches would show as leaks.
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
      return;
    }
    auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(handle, "ModuleEntry"));
    auto get = reinterpret_cast<v3_plugin_factory** (*)()>(dlsym(handle, "GetPluginFactory"));
    if (entry != nullptr && get != nullptr && entry(handle)) {
      factory = get();
    }
  }
  ~LoadedModule()
  {
    if (factory != nullptr) {
      reinterpret_cast<bool (*)()>(dlsym(handle, "ModuleExit"))();
    }
  }
};

// FUnknown for the host's own objects, which live as long as their owner.
v3_result V3_API no_interface(void*, const v3_tuid, void** obj)
{
  *obj = nullptr;
  return V3_NO_INTERFACE;
}
uint32_t V3_API one(void*) { return 1; }

// The tables of interfaces the headers give no C++ form of.
struct v3_bstream_cpp : v3_funknown {
  v3_bstream stream;
};
struct v3_component_handler_cpp : v3_funknown {
  v3_component_handler handler;
};

struct Stream {
  const v3_bstream_cpp* table;
  std::vector<uint8_t>* bytes;
  std::size_t at = 0;
};

const v3_bstream_cpp stream_table = {
  {no_interface, one, one},
  {[](void* self, void* buffer, int32_t n, int32_t* done) -> v3_result {
     auto* s = static_cast<Stream*>(self);
     const auto k = static_cast<int32_t>(std::min<std::size_t>(static_cast<std::size_t>(n), s->bytes->size() - s->at));
     std::memcpy(buffer, s->bytes->data() + s->at, static_cast<std::size_t>(k));
     s->at += static_cast<std::size_t>(k);
     *done = k;
     return V3_OK;
   },
   [](void* self, void* buffer, int32_t n, int32_t* done) -> v3_result {
     auto* s = static_cast<Stream*>(self);
     const auto* b = static_cast<const uint8_t*>(buffer);
     s->bytes->insert(s->bytes->end(), b, b + n);
     *done = n;
     return V3_OK;
   },
   [](void*, int64_t, int32_t, int64_t*) -> v3_result { return V3_NOT_IMPLEMENTED; },
   [](void* self, int64_t* pos) -> v3_result {
     *pos = static_cast<int64_t>(static_cast<Stream*>(self)->at);
     return V3_OK;
   }}};

}  // namespace

struct Vst3Instance::Queue {
  const v3_param_value_queue_cpp* table;
  v3_param_id id = 0;
  std::vector<std::pair<int32_t, double>> points;
};

namespace {

const v3_param_value_queue_cpp queue_table = {
  {no_interface, one, one},
  {[](void* self) -> v3_param_id { return static_cast<Vst3Instance::Queue*>(self)->id; },
   [](void* self) -> int32_t { return static_cast<int32_t>(static_cast<Vst3Instance::Queue*>(self)->points.size()); },
   [](void* self, int32_t i, int32_t* offset, double* value) -> v3_result {
     auto* q = static_cast<Vst3Instance::Queue*>(self);
     if (i < 0 || static_cast<std::size_t>(i) >= q->points.size()) {
       return V3_INVALID_ARG;
     }
     *offset = q->points[static_cast<std::size_t>(i)].first;
     *value = q->points[static_cast<std::size_t>(i)].second;
     return V3_OK;
   },
   [](void* self, int32_t offset, double value, int32_t* index) -> v3_result {
     auto* q = static_cast<Vst3Instance::Queue*>(self);
     *index = static_cast<int32_t>(q->points.size());
     q->points.emplace_back(offset, value);
     return V3_OK;
   }}};

}  // namespace

// A block's changes: queues made once, with room reserved, so that
// queueing never allocates while a block is made.
struct Vst3Instance::Changes {
  const v3_param_changes_cpp* table;
  std::vector<Queue> queues;
  int32_t used = 0;

  Changes();
  Queue* find(v3_param_id id)
  {
    for (int32_t i = 0; i < used; ++i) {
      if (queues[static_cast<std::size_t>(i)].id == id) {
        return &queues[static_cast<std::size_t>(i)];
      }
    }
    if (used == static_cast<int32_t>(queues.size())) {
      return nullptr;
    }
    Queue* q = &queues[static_cast<std::size_t>(used++)];
    q->id = id;
    q->points.clear();
    return q;
  }
  v3_param_changes** self() { return reinterpret_cast<v3_param_changes**>(this); }
};

namespace {

const v3_param_changes_cpp changes_table = {
  {no_interface, one, one},
  {[](void* self) -> int32_t { return static_cast<Vst3Instance::Changes*>(self)->used; },
   [](void* self, int32_t i) -> v3_param_value_queue** {
     auto* c = static_cast<Vst3Instance::Changes*>(self);
     return i >= 0 && i < c->used ? reinterpret_cast<v3_param_value_queue**>(&c->queues[static_cast<std::size_t>(i)])
                                  : nullptr;
   },
   [](void* self, v3_param_id* id, int32_t* index) -> v3_param_value_queue** {
     auto* c = static_cast<Vst3Instance::Changes*>(self);
     Vst3Instance::Queue* q = c->find(*id);
     *index = q != nullptr ? static_cast<int32_t>(q - c->queues.data()) : -1;
     return reinterpret_cast<v3_param_value_queue**>(q);
   }}};

}  // namespace

Vst3Instance::Changes::Changes() : table(&changes_table), queues(64)
{
  for (Queue& q : queues) {
    q.table = &queue_table;
    q.points.reserve(64);
  }
}

struct Vst3Instance::Handler {
  const v3_component_handler_cpp* table;
  Vst3Instance* owner;
};

namespace {

const v3_component_handler_cpp handler_table = {
  {no_interface, one, one},
  {[](void* self, v3_param_id id) -> v3_result {
     static_cast<Vst3Instance::Handler*>(self)->owner->gestures.emplace_back(1, id);
     return V3_OK;
   },
   [](void* self, v3_param_id id, double value) -> v3_result {
     static_cast<Vst3Instance::Handler*>(self)->owner->edits.emplace_back(id, value);
     return V3_OK;
   },
   [](void* self, v3_param_id id) -> v3_result {
     static_cast<Vst3Instance::Handler*>(self)->owner->gestures.emplace_back(-1, id);
     return V3_OK;
   },
   [](void* self, int32_t flags) -> v3_result {
     static_cast<Vst3Instance::Handler*>(self)->owner->restarts |= flags;
     return V3_OK;
   }}};

}  // namespace

// The plug frame the view is given, which is also the host's run loop (a
// face of its own): it keeps the timers registered and the sizes asked.
struct Vst3Instance::Frame {
  const v3_plugin_frame_cpp* table;
  Vst3Instance* owner;
  const v3_run_loop_cpp* loop_table;
};

namespace {

v3_result V3_API frame_query(void* self, const v3_tuid iid, void** obj);

const v3_plugin_frame_cpp frame_table = {
  {frame_query, one, one},
  {[](void* self, v3_plugin_view**, v3_view_rect* r) -> v3_result {
     static_cast<Vst3Instance::Frame*>(self)->owner->resize_requests.emplace_back(r->right - r->left,
                                                                                 r->bottom - r->top);
     return V3_OK;
   }}};

// The run loop's face is the second half of the frame: self points there.
Vst3Instance::Frame* loop_frame(void* self)
{
  return reinterpret_cast<Vst3Instance::Frame*>(static_cast<uint8_t*>(self) -
                                                offsetof(Vst3Instance::Frame, loop_table));
}

const v3_run_loop_cpp loop_table = {
  {frame_query, one, one},
  {[](void*, v3_event_handler**, int) -> v3_result { return V3_NOT_IMPLEMENTED; },
   [](void*, v3_event_handler**) -> v3_result { return V3_NOT_IMPLEMENTED; },
   [](void* self, v3_timer_handler** handler, uint64_t) -> v3_result {
     loop_frame(self)->owner->timer_handlers.push_back(handler);
     return V3_OK;
   },
   [](void* self, v3_timer_handler** handler) -> v3_result {
     auto& t = loop_frame(self)->owner->timer_handlers;
     t.erase(std::remove(t.begin(), t.end(), handler), t.end());
     return V3_OK;
   }}};

v3_result V3_API frame_query(void* self, const v3_tuid iid, void** obj)
{
  Vst3Instance::Frame* f = v3_tuid_match(iid, v3_run_loop_iid) || v3_tuid_match(iid, v3_plugin_frame_iid)
                               ? (static_cast<Vst3Instance::Frame*>(self)->table == &frame_table
                                      ? static_cast<Vst3Instance::Frame*>(self)
                                      : loop_frame(self))
                               : nullptr;
  *obj = f == nullptr ? nullptr
         : v3_tuid_match(iid, v3_run_loop_iid) ? static_cast<void*>(&f->loop_table)
                                               : static_cast<void*>(f);
  return f != nullptr ? V3_OK : V3_NO_INTERFACE;
}

}  // namespace

v3_plugin_factory** vst3_test_factory(bool stereo)
{
  static LoadedModule mono(MORVANE_VST3_MONO_FILE);
  static LoadedModule two(MORVANE_VST3_STEREO_FILE);
  return stereo ? two.factory : mono.factory;
}

static const char* module_path(bool stereo)
{
  return stereo ? MORVANE_VST3_STEREO_FILE : MORVANE_VST3_MONO_FILE;
}

Vst3Module::Vst3Module(bool stereo) : _handle(dlopen(module_path(stereo), RTLD_NOW | RTLD_LOCAL))
{
  if (_handle == nullptr) {
    return;
  }
  auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(_handle, "ModuleEntry"));
  auto get = reinterpret_cast<v3_plugin_factory** (*)()>(dlsym(_handle, "GetPluginFactory"));
  if (entry != nullptr && get != nullptr && entry(_handle)) {
    _factory = get();
  }
}

Vst3Module::~Vst3Module()
{
  if (_factory != nullptr) {
    reinterpret_cast<bool (*)()>(dlsym(_handle, "ModuleExit"))();
  }
  if (_handle != nullptr) {
    dlclose(_handle);
  }
}

bool vst3_module_loaded(bool stereo)
{
  void* h = dlopen(module_path(stereo), RTLD_NOW | RTLD_NOLOAD);
  if (h != nullptr) {
    dlclose(h);
  }
  return h != nullptr;
}

Vst3Instance::Vst3Instance(bool stereo, v3_plugin_factory** factory)
    : _in(new Changes), _out(new Changes), _handler(new Handler{&handler_table, this}),
      _frame(new Frame{&frame_table, this, &loop_table})
{
  outputs.reserve(256);
  v3_plugin_factory** f = factory != nullptr ? factory : vst3_test_factory(stereo);
  v3_class_info info{};
  if (f == nullptr || v3_cpp_obj(f)->get_class_info(f, 0, &info) != V3_OK ||
      v3_cpp_obj(f)->create_instance(f, info.class_id, v3_component_iid, reinterpret_cast<void**>(&_component)) !=
          V3_OK) {
    _component = nullptr;
    return;
  }
  v3_cpp_obj_initialize(_component, nullptr);
  v3_cpp_obj_query_interface(_component, v3_audio_processor_iid, &_processor);
  v3_cpp_obj_query_interface(_component, v3_edit_controller_iid, &_controller);
  v3_cpp_obj_query_interface(_component, v3_unit_information_iid, &_units);
  if (_controller != nullptr) {
    controller()->set_component_handler(_controller, reinterpret_cast<v3_component_handler**>(_handler));
  }
}

Vst3Instance::~Vst3Instance()
{
  close_window();
  deactivate();
  if (_controller != nullptr) {
    controller()->set_component_handler(_controller, nullptr);
  }
  for (void** p : {reinterpret_cast<void**>(_units), reinterpret_cast<void**>(_controller),
                   reinterpret_cast<void**>(_processor)}) {
    if (p != nullptr) {
      v3_cpp_obj_unref(reinterpret_cast<v3_funknown**>(p));
    }
  }
  if (_component != nullptr) {
    v3_cpp_obj_terminate(_component);
    v3_cpp_obj_unref(_component);
  }
  delete _in;
  delete _out;
  delete _handler;
  delete _frame;
}

bool Vst3Instance::open_window(unsigned long parent, float scale)
{
  _view = controller()->create_view(_controller, "editor");
  if (_view == nullptr || v3_cpp_obj(_view)->is_platform_type_supported(_view, V3_VIEW_PLATFORM_TYPE_X11) != V3_OK) {
    return false;
  }
  v3_plugin_view_content_scale** scaling = nullptr;
  if (v3_cpp_obj_query_interface(_view, v3_plugin_view_content_scale_iid, &scaling) != V3_OK ||
      v3_cpp_obj(scaling)->set_content_scale_factor(scaling, scale) != V3_OK) {
    return false;
  }
  v3_cpp_obj_unref(scaling);
  return v3_cpp_obj(_view)->set_frame(_view, reinterpret_cast<v3_plugin_frame**>(_frame)) == V3_OK &&
         v3_cpp_obj(_view)->attached(_view, reinterpret_cast<void*>(static_cast<uintptr_t>(parent)),
                                     V3_VIEW_PLATFORM_TYPE_X11) == V3_OK;
}

void Vst3Instance::close_window()
{
  if (_view != nullptr) {
    v3_cpp_obj(_view)->removed(_view);
    v3_cpp_obj(_view)->set_frame(_view, nullptr);
    v3_cpp_obj_unref(_view);
    _view = nullptr;
  }
}

void Vst3Instance::timer()
{
  for (v3_timer_handler** t : std::vector<v3_timer_handler**>(timer_handlers)) {
    v3_cpp_obj(t)->on_timer(t);
  }
}

bool Vst3Instance::activate(double rate, int32_t max_frames, unsigned seed)
{
  v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, max_frames, rate};
  std::srand(seed);
  _active = processor()->setup_processing(_processor, &setup) == V3_OK &&
            component()->set_active(_component, 1) == V3_OK &&
            processor()->set_processing(_processor, 1) == V3_OK;
  return _active;
}

void Vst3Instance::deactivate()
{
  if (_active) {
    processor()->set_processing(_processor, 0);
    component()->set_active(_component, 0);
    _active = false;
  }
}

void Vst3Instance::param(int32_t offset, v3_param_id id, double normalized)
{
  Queue* q = _in->find(id);
  if (q != nullptr) {
    q->points.emplace_back(offset, normalized);
  }
}

v3_result Vst3Instance::process(const float* in_l, const float* in_r, float* out_l, float* out_r, int32_t n)
{
  float* ins[2] = {const_cast<float*>(in_l), const_cast<float*>(in_r)};
  float* outs[2] = {out_l, out_r};
  v3_audio_bus_buffers in{};
  in.num_channels = 2;
  in.channel_buffers_32 = ins;
  v3_audio_bus_buffers out{};
  out.num_channels = 2;
  out.channel_buffers_32 = outs;
  v3_process_data data{};
  data.process_mode = V3_REALTIME;
  data.symbolic_sample_size = V3_SAMPLE_32;
  data.nframes = n;
  data.num_input_buses = 1;
  data.num_output_buses = 1;
  data.inputs = &in;
  data.outputs = &out;
  data.input_params = _in->self();
  data.output_params = _out->self();
  data.ctx = const_cast<v3_process_context*>(_ctx);
  _out->used = 0;
  const v3_result r = processor()->process(_processor, &data);
  _in->used = 0;
  outputs.clear();
  for (int32_t i = 0; i < _out->used; ++i) {
    for (const auto& point : _out->queues[static_cast<std::size_t>(i)].points) {
      outputs.emplace_back(_out->queues[static_cast<std::size_t>(i)].id, point.second);
    }
  }
  return r;
}

double Vst3Instance::value(v3_param_id id) const
{
  return controller()->normalised_parameter_to_plain(_controller, id,
                                                      controller()->get_parameter_normalised(_controller, id));
}

double Vst3Instance::normalized(v3_param_id id, double plain) const
{
  return controller()->plain_parameter_to_normalised(_controller, id, plain);
}

std::vector<uint8_t> Vst3Instance::save() const
{
  std::vector<uint8_t> bytes;
  Stream s{&stream_table, &bytes};
  if (component()->get_state(_component, reinterpret_cast<v3_bstream**>(&s)) != V3_OK) {
    bytes.clear();
  }
  return bytes;
}

bool Vst3Instance::load(const std::vector<uint8_t>& bytes)
{
  std::vector<uint8_t> copy = bytes;
  Stream s{&stream_table, &copy};
  if (component()->set_state(_component, reinterpret_cast<v3_bstream**>(&s)) != V3_OK) {
    return false;
  }
  Stream again{&stream_table, &copy};
  return controller()->set_component_state(_controller, reinterpret_cast<v3_bstream**>(&again)) == V3_OK;
}

v3_process_context vst3_context(int64_t samples, double quarters, double bpm, bool playing)
{
  v3_process_context c{};
  c.state = V3_PROCESS_CTX_PROJECT_TIME_VALID | V3_PROCESS_CTX_TEMPO_VALID | V3_PROCESS_CTX_BAR_POSITION_VALID |
            V3_PROCESS_CTX_TIME_SIG_VALID | (playing ? uint32_t{V3_PROCESS_CTX_PLAYING} : 0u);
  c.sample_rate = 48000.0;
  c.project_time_in_samples = samples;
  c.project_time_quarters = quarters;
  c.bar_position_quarters = 4.0 * static_cast<double>(static_cast<int64_t>(quarters / 4.0));
  c.bpm = bpm;
  c.time_sig_numerator = 4;
  c.time_sig_denom = 4;
  return c;
}
