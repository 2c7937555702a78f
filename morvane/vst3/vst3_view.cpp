// SPDX-License-Identifier: LGPL-2.1-or-later
// The VST3 editor view (see vst3_view.h).
#include "vst3_view.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "shell_window.h"
#include "vst3_plugin.h"

// Largest side the window takes.
constexpr int32_t VST3_VIEW_MAX_SIDE = 16384;

struct vst3_view;

// One interface of the view: what the host holds is a pointer to _table.
struct view_face {
  const void* _table;
  vst3_view* _owner;
};

struct vst3_view {
  view_face _view, _scale_face, _timer;
  std::atomic<uint32_t> _refs;
  vst3_plugin* _plugin;  // referenced while the view lives
  v3_plugin_frame** _frame = nullptr;
  v3_run_loop** _loop = nullptr;  // while attached
  shell_window* _window = nullptr;
  bool _window_open = false;  // the window said WindowOpen, not yet WindowClosed
  double _scale = 1.0;
  int _width = 0, _height = 0;
};

namespace {

vst3_view* view_of(void* self)
{
  return static_cast<view_face*>(self)->_owner;
}

vst3_gui* gui_of(const vst3_view* v)
{
  return v->_plugin->_gui;
}

v3_plugin_view** as_view(vst3_view* v)
{
  return reinterpret_cast<v3_plugin_view**>(&v->_view);
}

void default_size(vst3_view* v)
{
  shell_window_default_size(v->_plugin->_core._stereo, v->_scale, &v->_width, &v->_height);
}

// ---- The window's side ------------------------------------------------------

void window_control(void* handle, uint32_t port, float value)
{
  auto* v = static_cast<vst3_view*>(handle);
  vst3_plugin* p = v->_plugin;
  const int row = hosted_row(&p->_core, port);
  if (row < 0) {
    return;
  }
  vst3_gui* g = gui_of(v);
  g->_window_values[row] = value;
  if (p->_handler != nullptr) {
    const double n = vst3_to_normalized(static_cast<uint32_t>(row), value);
    p->_core._values[row].store(static_cast<float>(vst3_to_plain(static_cast<uint32_t>(row), n)),
                                std::memory_order_relaxed);
    v3_cpp_obj(p->_handler)->perform_edit(p->_handler, port, n);
  } else if (!g->_queue.push(control_change{CONTROL_VALUE, port, value})) {
    g->_window_values[row] = NAN;  // refused: the window is told the plug-in's value again
  }
}

void window_touch(void* handle, uint32_t port, bool begin)
{
  auto* v = static_cast<vst3_view*>(handle);
  vst3_plugin* p = v->_plugin;
  const int row = hosted_row(&p->_core, port);
  if (row < 0) {
    return;
  }
  gui_of(v)->_touching[row] = begin;
  if (p->_handler != nullptr) {
    if (begin) {
      v3_cpp_obj(p->_handler)->begin_edit(p->_handler, port);
    } else {
      v3_cpp_obj(p->_handler)->end_edit(p->_handler, port);
    }
  }
}

void window_open(void* handle, bool open)
{
  auto* v = static_cast<vst3_view*>(handle);
  v->_window_open = open;
  frame_mailbox_set_open(&gui_of(v)->_mailbox, open);
}

// A size the window set itself (a new scale): the host is asked for it.
void window_resized(void* handle, int width, int height)
{
  auto* v = static_cast<vst3_view*>(handle);
  if (width == v->_width && height == v->_height) {
    return;
  }
  v->_width = width;
  v->_height = height;
  if (v->_window != nullptr && v->_frame != nullptr) {
    v3_view_rect rect{0, 0, width, height};
    v3_cpp_obj(v->_frame)->resize_view(v->_frame, as_view(v), &rect);
  }
}

// The plug-in's values the window has not been told, but for a control
// the window is moving (the host's echo of an older value would pull the
// knob back under the pointer) and while the queue holds the window's own
// changes.
void show_values(vst3_view* v)
{
  vst3_gui* g = gui_of(v);
  if (v->_window == nullptr || !g->_queue.drained()) {
    return;
  }
  const hosted_plugin& core = v->_plugin->_core;
  for (uint32_t row = 0; row < core._num_controls; ++row) {
    const float value = core._values[row].load(std::memory_order_relaxed);
    if (!g->_touching[row] && !(value == g->_window_values[row])) {
      g->_window_values[row] = value;
      shell_window_control(v->_window, morvane_controls[row]._port, value);
    }
  }
}

void close_window(vst3_view* v)
{
  vst3_gui* g = gui_of(v);
  if (v->_loop != nullptr) {
    v3_cpp_obj(v->_loop)->unregister_timer(v->_loop, reinterpret_cast<v3_timer_handler**>(&v->_timer));
    v3_cpp_obj_unref(v->_loop);
    v->_loop = nullptr;
  }
  if (v->_window != nullptr) {
    shell_window_destroy(v->_window);  // says WindowClosed
    v->_window = nullptr;
  }
  v->_window_open = false;
  frame_mailbox_set_open(&g->_mailbox, false);
  frame_mailbox_take(&g->_mailbox);  // a frame left over is not shown later
  std::fill(std::begin(g->_touching), std::end(g->_touching), false);
}

// ---- FUnknown, shared by the view's faces ----------------------------------

v3_result V3_API query_interface(void* self, const v3_tuid iid, void** obj)
{
  if (obj == nullptr) {
    return V3_INVALID_ARG;
  }
  vst3_view* v = view_of(self);
  view_face* face = nullptr;
  if (v3_tuid_match(iid, v3_funknown_iid) || v3_tuid_match(iid, v3_plugin_view_iid)) {
    face = &v->_view;
  } else if (v3_tuid_match(iid, v3_plugin_view_content_scale_iid)) {
    face = &v->_scale_face;
  } else if (v3_tuid_match(iid, v3_timer_handler_iid)) {
    face = &v->_timer;
  }
  *obj = face;
  if (face == nullptr) {
    return V3_NO_INTERFACE;
  }
  v->_refs.fetch_add(1, std::memory_order_relaxed);
  return V3_OK;
}

uint32_t V3_API ref(void* self)
{
  return view_of(self)->_refs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t V3_API unref(void* self)
{
  vst3_view* v = view_of(self);
  const uint32_t left = v->_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    close_window(v);  // a host that releases the view without removed()
    if (v->_frame != nullptr) {
      v3_cpp_obj_unref(v->_frame);
    }
    vst3_plugin* p = v->_plugin;
    p->_gui->_view = nullptr;
    delete v;
    vst3_unref(&p->_component);
  }
  return left;
}

// ---- IPlugView ----------------------------------------------------------------

v3_result V3_API is_platform_type_supported(void* /*self*/, const char* type)
{
  return type != nullptr && std::strcmp(type, V3_VIEW_PLATFORM_TYPE_X11) == 0 ? V3_OK : V3_FALSE;
}

// The window is made here, in the host's X11 window, at the size agreed;
// the host's run loop, asked of the plug frame, gives it its timer.
v3_result V3_API attached(void* self, void* parent, const char* type)
{
  vst3_view* v = view_of(self);
  if (v->_window != nullptr || parent == nullptr || is_platform_type_supported(self, type) != V3_OK ||
      v->_frame == nullptr) {
    return V3_FALSE;
  }
  v3_run_loop** loop = nullptr;
  if (v3_cpp_obj_query_interface(v->_frame, v3_run_loop_iid, &loop) != V3_OK || loop == nullptr) {
    return V3_FALSE;
  }
  if (v3_cpp_obj(loop)->register_timer(loop, reinterpret_cast<v3_timer_handler**>(&v->_timer),
                                       SHELL_WINDOW_IDLE_MS) != V3_OK) {
    v3_cpp_obj_unref(loop);
    return V3_FALSE;
  }
  v->_loop = loop;
  vst3_plugin* p = v->_plugin;
  const int width = v->_width, height = v->_height;
  const shell_window_host host{v, window_control, window_touch, window_open, window_resized};
  v->_window = shell_window_create(p->_core._stereo, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(parent)),
                                   v->_scale, &p->_core._urids._map, host);
  if (v->_window == nullptr) {
    close_window(v);
    return V3_FALSE;
  }
  if (width != v->_width || height != v->_height) {
    v->_width = width;
    v->_height = height;
    shell_window_set_size(v->_window, width, height);
  }
  vst3_gui* g = gui_of(v);
  std::fill(std::begin(g->_window_values), std::end(g->_window_values), NAN);
  show_values(v);
  return V3_OK;
}

v3_result V3_API removed(void* self)
{
  close_window(view_of(self));
  return V3_OK;
}

v3_result V3_API on_wheel(void* /*self*/, float /*distance*/)
{
  return V3_FALSE;
}

v3_result V3_API on_key(void* /*self*/, int16_t /*key*/, int16_t /*code*/, int16_t /*modifiers*/)
{
  return V3_FALSE;
}

v3_result V3_API get_size(void* self, v3_view_rect* rect)
{
  const vst3_view* v = view_of(self);
  if (rect == nullptr) {
    return V3_INVALID_ARG;
  }
  *rect = v3_view_rect{0, 0, v->_width, v->_height};
  return V3_OK;
}

// Any size from the window's least (at the scale) up.
v3_result V3_API check_size_constraint(void* self, v3_view_rect* rect)
{
  const vst3_view* v = view_of(self);
  if (rect == nullptr) {
    return V3_INVALID_ARG;
  }
  int min_w = 0, min_h = 0;
  shell_window_min_size(v->_plugin->_core._stereo, v->_scale, &min_w, &min_h);
  rect->right = rect->left + std::clamp(rect->right - rect->left, min_w, VST3_VIEW_MAX_SIDE);
  rect->bottom = rect->top + std::clamp(rect->bottom - rect->top, min_h, VST3_VIEW_MAX_SIDE);
  return V3_OK;
}

v3_result V3_API on_size(void* self, v3_view_rect* rect)
{
  vst3_view* v = view_of(self);
  if (rect == nullptr) {
    return V3_INVALID_ARG;
  }
  v3_view_rect r = *rect;
  check_size_constraint(self, &r);
  v->_width = r.right - r.left;
  v->_height = r.bottom - r.top;
  if (v->_window != nullptr && !shell_window_set_size(v->_window, v->_width, v->_height)) {
    return V3_FALSE;
  }
  return V3_OK;
}

v3_result V3_API on_focus(void* /*self*/, v3_bool /*state*/)
{
  return V3_OK;
}

v3_result V3_API set_frame(void* self, v3_plugin_frame** frame)
{
  vst3_view* v = view_of(self);
  if (frame != nullptr) {
    v3_cpp_obj_ref(frame);
  }
  if (v->_frame != nullptr) {
    v3_cpp_obj_unref(v->_frame);
  }
  v->_frame = frame;
  return V3_OK;
}

v3_result V3_API can_resize(void* /*self*/)
{
  return V3_OK;
}

// ---- IPlugViewContentScaleSupport ------------------------------------------

v3_result V3_API set_content_scale_factor(void* self, float factor)
{
  vst3_view* v = view_of(self);
  // Scales beyond what a screen needs are taken as mistakes, as the window does.
  if (!std::isfinite(factor) || factor < 0.25f || factor > 8.0f) {
    return V3_FALSE;
  }
  v->_scale = factor;
  if (v->_window != nullptr) {
    return shell_window_set_scale(v->_window, factor) ? V3_OK : V3_FALSE;
  }
  default_size(v);
  return V3_OK;
}

// ---- ITimerHandler: the window's idle calls ----------------------------------

void V3_API on_timer(void* self)
{
  vst3_view* v = view_of(self);
  if (v->_window == nullptr) {
    return;
  }
  const LV2_Atom_Sequence* frames = frame_mailbox_take(&gui_of(v)->_mailbox);
  if (frames != nullptr) {
    shell_window_notify(v->_window, frames);
  }
  show_values(v);
  shell_window_idle(v->_window);
}

const v3_plugin_view_cpp view_table = {
  {query_interface, ref, unref},
  {is_platform_type_supported, attached, removed, on_wheel, on_key, on_key, get_size, on_size, on_focus, set_frame,
   can_resize, check_size_constraint}};

const v3_plugin_view_content_scale_cpp scale_table = {{query_interface, ref, unref}, {set_content_scale_factor}};

const v3_timer_handler_cpp timer_table = {{query_interface, ref, unref}, {on_timer}};

}  // namespace

vst3_gui* vst3_gui_new(vst3_plugin* p) noexcept
{
  auto* g = new (std::nothrow) vst3_gui();
  if (g != nullptr) {
    frame_mailbox_init(&g->_mailbox, &p->_core._urids._map);
  }
  return g;
}

void vst3_gui_free(vst3_gui* g) noexcept
{
  delete g;
}

v3_plugin_view** vst3_view_create(vst3_plugin* p, const char* name) noexcept
{
  if (name == nullptr || std::strcmp(name, "editor") != 0 || p->_gui->_view != nullptr) {
    return nullptr;
  }
  auto* v = new (std::nothrow) vst3_view();
  if (v == nullptr) {
    return nullptr;
  }
  v->_view = view_face{&view_table, v};
  v->_scale_face = view_face{&scale_table, v};
  v->_timer = view_face{&timer_table, v};
  v->_refs.store(1, std::memory_order_relaxed);
  v->_plugin = p;
  vst3_ref(&p->_component);
  default_size(v);
  p->_gui->_view = v;
  return as_view(v);
}

void vst3_gui_drain(vst3_plugin* p) noexcept
{
  control_change c;
  while (p->_gui->_queue.pop(&c)) {
    if (c._kind == CONTROL_VALUE) {
      hosted_set(&p->_core, c._port, c._value);
    }
  }
}
