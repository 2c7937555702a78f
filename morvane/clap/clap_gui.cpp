// SPDX-License-Identifier: LGPL-2.1-or-later
// The CLAP gui and timer-support extensions (see clap_gui.h).
#include "clap_gui.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>

#include <clap/ext/params.h>

#include "clap_shell.h"
#include "control_queue.h"
#include "frame_mailbox.h"
#include "shell_window.h"

// Largest side the window takes.
constexpr uint32_t CLAP_GUI_MAX_SIDE = 16384;

struct clap_gui {
  frame_mailbox _mailbox;
  control_queue _queue;
  std::atomic<bool> _processing{false};
  // Main thread.
  clap_shell* _shell = nullptr;
  bool _created = false;
  bool _hidden = false;
  bool _window_open = false;  // the window said WindowOpen, not yet WindowClosed
  shell_window* _window = nullptr;
  double _scale = 1.0;
  int _width = 0, _height = 0;
  clap_id _timer = CLAP_INVALID_ID;
  const clap_host_gui_t* _host_gui = nullptr;
  const clap_host_timer_support_t* _host_timer = nullptr;
  const clap_host_params_t* _host_params = nullptr;
  // The values the window was last told or made itself, by row (NaN: to
  // be told).
  float _window_values[MORVANE_NUM_STEREO_CONTROLS] = {};
};

namespace {

clap_gui* gui_of(const clap_plugin_t* plugin)
{
  return clap_shell_of(plugin)->_gui;
}

void update_open(clap_gui* g) noexcept
{
  frame_mailbox_set_open(&g->_mailbox, g->_window_open && !g->_hidden);
}

void request_flush(clap_gui* g) noexcept
{
  if (g->_host_params != nullptr && g->_host_params->request_flush != nullptr &&
      !g->_processing.load(std::memory_order_relaxed)) {
    g->_host_params->request_flush(g->_shell->_host);
  }
}

void push(clap_gui* g, control_change_kind kind, uint32_t port, float value) noexcept
{
  const int row = hosted_row(&g->_shell->_core, port);
  if (row < 0) {
    return;
  }
  if (g->_queue.push(control_change{kind, port, value})) {
    if (kind == CONTROL_VALUE) {
      g->_window_values[row] = value;
    }
  } else {
    // Refused: the window is told the plug-in's value again.
    g->_window_values[row] = NAN;
  }
  request_flush(g);
}

void window_control(void* handle, uint32_t port, float value)
{
  push(static_cast<clap_gui*>(handle), CONTROL_VALUE, port, value);
}

void window_touch(void* handle, uint32_t port, bool begin)
{
  push(static_cast<clap_gui*>(handle), begin ? CONTROL_GESTURE_BEGIN : CONTROL_GESTURE_END, port, 0.0f);
}

void window_open(void* handle, bool open)
{
  auto* g = static_cast<clap_gui*>(handle);
  g->_window_open = open;
  update_open(g);
}

void window_resized(void* handle, int width, int height)
{
  auto* g = static_cast<clap_gui*>(handle);
  if (width == g->_width && height == g->_height) {
    return;
  }
  g->_width = width;
  g->_height = height;
  // While set_parent makes the window, the size the host agreed to wins.
  if (g->_window != nullptr && g->_host_gui != nullptr && g->_host_gui->request_resize != nullptr) {
    g->_host_gui->request_resize(g->_shell->_host, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  }
}

// The plug-in's values the window has not been told, once every change
// the window made itself has reached the plug-in (before that, the
// plug-in's value would pull a knob back under the pointer).
void show_values(clap_gui* g) noexcept
{
  if (g->_window == nullptr || !g->_queue.drained()) {
    return;
  }
  const clap_shell* s = g->_shell;
  for (uint32_t row = 0; row < s->_core._num_controls; ++row) {
    const float v = s->_core._values[row].load(std::memory_order_relaxed);
    if (!(v == g->_window_values[row])) {
      g->_window_values[row] = v;
      shell_window_control(g->_window, morvane_controls[row]._port, v);
    }
  }
}

bool api_supported(const clap_plugin_t* /*plugin*/, const char* api, bool floating)
{
  return api != nullptr && std::strcmp(api, CLAP_WINDOW_API_X11) == 0 && !floating;
}

bool preferred_api(const clap_plugin_t* /*plugin*/, const char** api, bool* floating)
{
  if (api == nullptr || floating == nullptr) {
    return false;
  }
  *api = CLAP_WINDOW_API_X11;
  *floating = false;
  return true;
}

void default_size(clap_gui* g) noexcept
{
  shell_window_default_size(g->_shell->_core._stereo, g->_scale, &g->_width, &g->_height);
}

// The host's timer drives the window: without one the window cannot live.
bool create(const clap_plugin_t* plugin, const char* api, bool floating)
{
  clap_gui* g = gui_of(plugin);
  const clap_host_t* host = g->_shell->_host;
  if (!api_supported(plugin, api, floating) || g->_created || host == nullptr || host->get_extension == nullptr) {
    return false;
  }
  g->_host_timer = static_cast<const clap_host_timer_support_t*>(host->get_extension(host, CLAP_EXT_TIMER_SUPPORT));
  if (g->_host_timer == nullptr || g->_host_timer->register_timer == nullptr ||
      !g->_host_timer->register_timer(host, SHELL_WINDOW_IDLE_MS, &g->_timer)) {
    g->_host_timer = nullptr;
    return false;
  }
  g->_host_gui = static_cast<const clap_host_gui_t*>(host->get_extension(host, CLAP_EXT_GUI));
  g->_host_params = static_cast<const clap_host_params_t*>(host->get_extension(host, CLAP_EXT_PARAMS));
  g->_created = true;
  g->_hidden = false;
  g->_scale = 1.0;
  default_size(g);
  return true;
}

void destroy(const clap_plugin_t* plugin)
{
  clap_gui* g = gui_of(plugin);
  if (!g->_created) {
    return;
  }
  if (g->_window != nullptr) {
    shell_window_destroy(g->_window);  // says WindowClosed
    g->_window = nullptr;
  }
  g->_window_open = false;
  update_open(g);
  frame_mailbox_take(&g->_mailbox);  // a frame left over is not shown later
  if (g->_host_timer->unregister_timer != nullptr) {
    g->_host_timer->unregister_timer(g->_shell->_host, g->_timer);
  }
  g->_timer = CLAP_INVALID_ID;
  g->_created = false;
}

bool set_scale(const clap_plugin_t* plugin, double scale)
{
  clap_gui* g = gui_of(plugin);
  // Scales beyond what a screen needs are taken as mistakes, as the window does.
  if (!g->_created || !std::isfinite(scale) || scale < 0.25 || scale > 8.0) {
    return false;
  }
  g->_scale = scale;
  if (g->_window != nullptr) {
    return shell_window_set_scale(g->_window, scale);
  }
  default_size(g);
  return true;
}

bool get_size(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height)
{
  const clap_gui* g = gui_of(plugin);
  if (!g->_created || width == nullptr || height == nullptr) {
    return false;
  }
  *width = static_cast<uint32_t>(g->_width);
  *height = static_cast<uint32_t>(g->_height);
  return true;
}

bool can_resize(const clap_plugin_t* /*plugin*/)
{
  return true;
}

bool resize_hints(const clap_plugin_t* /*plugin*/, clap_gui_resize_hints_t* hints)
{
  if (hints == nullptr) {
    return false;
  }
  *hints = clap_gui_resize_hints_t{true, true, false, 0, 0};
  return true;
}

// Any size from the window's least (at the scale) up.
bool adjust_size(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height)
{
  const clap_gui* g = gui_of(plugin);
  if (width == nullptr || height == nullptr) {
    return false;
  }
  int min_w = 0, min_h = 0;
  shell_window_min_size(g->_shell->_core._stereo, g->_scale, &min_w, &min_h);
  *width = std::clamp(*width, static_cast<uint32_t>(min_w), CLAP_GUI_MAX_SIDE);
  *height = std::clamp(*height, static_cast<uint32_t>(min_h), CLAP_GUI_MAX_SIDE);
  return true;
}

bool set_size(const clap_plugin_t* plugin, uint32_t width, uint32_t height)
{
  clap_gui* g = gui_of(plugin);
  uint32_t w = width, h = height;
  if (!g->_created || !adjust_size(plugin, &w, &h) || w != width || h != height) {
    return false;
  }
  g->_width = static_cast<int>(w);
  g->_height = static_cast<int>(h);
  return g->_window == nullptr || shell_window_set_size(g->_window, g->_width, g->_height);
}

// The window is made here, in the host's X11 window, at the size agreed.
bool set_parent(const clap_plugin_t* plugin, const clap_window_t* window)
{
  clap_gui* g = gui_of(plugin);
  if (!g->_created || g->_window != nullptr || window == nullptr || window->api == nullptr ||
      std::strcmp(window->api, CLAP_WINDOW_API_X11) != 0 || window->x11 == 0) {
    return false;
  }
  clap_shell* s = g->_shell;
  const int width = g->_width, height = g->_height;
  const shell_window_host host{g, window_control, window_touch, window_open, window_resized};
  g->_window = shell_window_create(s->_core._stereo, window->x11, g->_scale, &s->_core._urids._map, host);
  if (g->_window == nullptr) {
    return false;
  }
  if (width != g->_width || height != g->_height) {
    g->_width = width;
    g->_height = height;
    shell_window_set_size(g->_window, width, height);
  }
  std::fill(std::begin(g->_window_values), std::end(g->_window_values), NAN);
  show_values(g);
  return true;
}

bool set_transient(const clap_plugin_t* /*plugin*/, const clap_window_t* /*window*/)
{
  return false;
}

void suggest_title(const clap_plugin_t* /*plugin*/, const char* /*title*/) {}

// Hidden, the window gets no frames: the plug-in hears it closed.
bool show(const clap_plugin_t* plugin)
{
  clap_gui* g = gui_of(plugin);
  g->_hidden = false;
  update_open(g);
  return g->_created;
}

bool hide(const clap_plugin_t* plugin)
{
  clap_gui* g = gui_of(plugin);
  g->_hidden = true;
  update_open(g);
  return g->_created;
}

void on_timer(const clap_plugin_t* plugin, clap_id id)
{
  clap_gui* g = gui_of(plugin);
  if (!g->_created || id != g->_timer || g->_window == nullptr) {
    return;
  }
  const LV2_Atom_Sequence* frames = frame_mailbox_take(&g->_mailbox);
  if (frames != nullptr) {
    shell_window_notify(g->_window, frames);
  }
  show_values(g);
  shell_window_idle(g->_window);
}

}  // namespace

clap_gui* clap_gui_new(clap_shell* shell) noexcept
{
  auto* g = new (std::nothrow) clap_gui();
  if (g != nullptr) {
    g->_shell = shell;
    frame_mailbox_init(&g->_mailbox, &shell->_core._urids._map);
  }
  return g;
}

void clap_gui_free(clap_gui* g) noexcept
{
  if (g != nullptr && g->_created) {
    destroy(&g->_shell->_plugin);  // a host that destroys the plug-in with its window open
  }
  delete g;
}

void clap_gui_instance_made(clap_shell* s) noexcept
{
  frame_mailbox_restart(&s->_gui->_mailbox);
}

void clap_gui_forge_message(clap_shell* s, LV2_Atom_Forge* forge) noexcept
{
  frame_mailbox_forge_message(&s->_gui->_mailbox, forge);
}

LV2_Atom_Sequence* clap_gui_notify(clap_shell* s) noexcept
{
  return frame_mailbox_notify(&s->_gui->_mailbox);
}

void clap_gui_after_run(clap_shell* s) noexcept
{
  frame_mailbox_after_run(&s->_gui->_mailbox);
}

void clap_gui_drain(clap_shell* s, const clap_output_events_t* out) noexcept
{
  control_change c;
  while (s->_gui->_queue.pop(&c)) {
    const clap_event_header_t header{0, 0, CLAP_CORE_EVENT_SPACE_ID, 0, 0};
    if (c._kind == CONTROL_VALUE) {
      clap_event_param_value_t e{header, c._port, nullptr, -1, -1, -1, -1, c._value};
      e.header.size = sizeof e;
      e.header.type = CLAP_EVENT_PARAM_VALUE;
      clap_shell_take_param(s, &e.header);
      if (out != nullptr) {
        out->try_push(out, &e.header);
      }
    } else if (out != nullptr) {
      clap_event_param_gesture_t e{header, c._port};
      e.header.size = sizeof e;
      e.header.type = c._kind == CONTROL_GESTURE_BEGIN ? CLAP_EVENT_PARAM_GESTURE_BEGIN : CLAP_EVENT_PARAM_GESTURE_END;
      out->try_push(out, &e.header);
    }
  }
}

void clap_gui_processing(clap_shell* s, bool processing) noexcept
{
  s->_gui->_processing.store(processing, std::memory_order_relaxed);
}

const clap_plugin_gui_t morvane_clap_gui = {api_supported, preferred_api, create,      destroy,      set_scale,
                                            get_size,      can_resize,    resize_hints, adjust_size, set_size,
                                            set_parent,    set_transient, suggest_title, show,       hide};

const clap_plugin_timer_support_t morvane_clap_timer_support = {on_timer};
