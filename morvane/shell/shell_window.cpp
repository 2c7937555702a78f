// SPDX-License-Identifier: LGPL-2.1-or-later
// The LV2 window inside a plug-in of another format (see shell_window.h).
#include "shell_window.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include <lv2/atom/util.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include "controls.h"
#include "draw.h"
#include "frame.h"
#include "morvane.h"

// The libraries to pin, by one function of each; Xlib last, as its macros
// would break the LV2 headers.
#include <cairo.h>
#include <pango/pangocairo.h>
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

struct shell_window {
  shell_window_host _host;
  bool _stereo;
  const LV2UI_Descriptor* _ui;
  LV2UI_Handle _handle;
  const LV2UI_Idle_Interface* _idle;
  const LV2UI_Resize* _resize;
  const LV2_Options_Interface* _options;
  morvane_uris _uris;
  LV2_URID _scale_key;
  LV2_URID _atom_float;
  float _scale;
  LV2UI_Resize _resize_feature;
  LV2UI_Touch _touch_feature;
  LV2_Options_Option _option_list[2];
};

namespace {

// Keeps the library holding `function` loaded for the life of the process,
// and with it every library it needs.
void pin_library_of(void* function) noexcept
{
  Dl_info info{};
  if (dladdr(function, &info) != 0 && info.dli_fname != nullptr) {
    // The handle is never closed: the library stays whatever happens.
    dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
  }
}

void pin_window_libraries() noexcept
{
  pin_library_of(reinterpret_cast<void*>(&pango_cairo_create_layout));  // pango, GLib, fontconfig, HarfBuzz
  pin_library_of(reinterpret_cast<void*>(&cairo_create));               // cairo, pixman
  pin_library_of(reinterpret_cast<void*>(&XShmQueryExtension));
  pin_library_of(reinterpret_cast<void*>(&XOpenDisplay));
}

void ui_write(LV2UI_Controller controller, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer)
{
  auto* w = static_cast<shell_window*>(controller);
  if (buffer == nullptr) {
    return;
  }
  if (protocol == 0 && size == sizeof(float) && morvane_control_row(port) >= 0) {
    float value;
    std::memcpy(&value, buffer, sizeof value);
    w->_host._control(w->_host._handle, port, value);
  } else if (protocol == w->_uris._atom_eventTransfer && port == MORVANE_CONTROL) {
    const int says = morvane_window_message_read(&w->_uris, buffer, size);
    if (says >= 0) {
      w->_host._open(w->_host._handle, says == 1);
    }
  }
}

void touch(LV2UI_Feature_Handle handle, uint32_t port, bool grabbed)
{
  auto* w = static_cast<shell_window*>(handle);
  w->_host._touch(w->_host._handle, port, grabbed);
}

int resized(LV2UI_Feature_Handle handle, int width, int height)
{
  auto* w = static_cast<shell_window*>(handle);
  w->_host._resize(w->_host._handle, width, height);
  return 0;
}

int scaled(double length, double scale) noexcept
{
  return static_cast<int>(std::lround(length * scale));
}

}  // namespace

void shell_window_default_size(bool /*stereo*/, double scale, int* width, int* height) noexcept
{
  *width = scaled(MORVANE_VIEW_DEFAULT_WIDTH, scale);
  *height = scaled(MORVANE_VIEW_DEFAULT_HEIGHT, scale);
}

void shell_window_min_size(bool stereo, double scale, int* width, int* height) noexcept
{
  *width = scaled(stereo ? MORVANE_VIEW_STEREO_MIN_WIDTH : MORVANE_VIEW_MIN_WIDTH, scale);
  *height = scaled(MORVANE_VIEW_MIN_HEIGHT, scale);
}

shell_window* shell_window_create(bool stereo, unsigned long parent, double scale, LV2_URID_Map* map,
                                  const shell_window_host& host) noexcept
{
  const LV2UI_Descriptor* ui = lv2ui_descriptor(stereo ? 1 : 0);
  if (ui == nullptr || map == nullptr || parent == 0) {
    return nullptr;
  }
  pin_window_libraries();
  auto* w = new (std::nothrow) shell_window();
  if (w == nullptr) {
    return nullptr;
  }
  w->_host = host;
  w->_stereo = stereo;
  w->_ui = ui;
  morvane_map_uris(&w->_uris, map);
  w->_scale_key = map->map(map->handle, LV2_UI__scaleFactor);
  w->_atom_float = map->map(map->handle, LV2_ATOM__Float);
  w->_scale = static_cast<float>(scale);
  w->_resize_feature = LV2UI_Resize{w, resized};
  w->_touch_feature = LV2UI_Touch{w, touch};
  w->_option_list[0] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, w->_scale_key, sizeof(float), w->_atom_float,
                                          &w->_scale};
  w->_option_list[1] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};

  const LV2_Feature parent_feature{LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(parent))};
  const LV2_Feature map_feature{LV2_URID__map, map};
  const LV2_Feature resize_feature{LV2_UI__resize, &w->_resize_feature};
  const LV2_Feature touch_feature{LV2_UI__touch, &w->_touch_feature};
  const LV2_Feature options_feature{LV2_OPTIONS__options, w->_option_list};
  const LV2_Feature idle_feature{LV2_UI__idleInterface, nullptr};
  const LV2_Feature* features[] = {&parent_feature, &map_feature,  &resize_feature, &touch_feature,
                                   &options_feature, &idle_feature, nullptr};
  LV2UI_Widget widget = nullptr;
  w->_handle = ui->instantiate(ui, stereo ? MORVANE_STEREO_URI : MORVANE_URI, "", ui_write, w, &widget, features);
  if (w->_handle == nullptr) {
    delete w;
    return nullptr;
  }
  if (ui->extension_data != nullptr) {
    w->_idle = static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
    w->_resize = static_cast<const LV2UI_Resize*>(ui->extension_data(LV2_UI__resize));
    w->_options = static_cast<const LV2_Options_Interface*>(ui->extension_data(LV2_OPTIONS__interface));
  }
  return w;
}

void shell_window_destroy(shell_window* w) noexcept
{
  if (w == nullptr) {
    return;
  }
  w->_ui->cleanup(w->_handle);
  delete w;
}

void shell_window_control(shell_window* w, uint32_t port, float value) noexcept
{
  w->_ui->port_event(w->_handle, port, sizeof value, 0, &value);
}

void shell_window_notify(shell_window* w, const LV2_Atom_Sequence* notify) noexcept
{
  if (notify == nullptr || notify->atom.type != w->_uris._atom_Sequence) {
    return;
  }
  LV2_ATOM_SEQUENCE_FOREACH(notify, event)
  {
    w->_ui->port_event(w->_handle, MORVANE_NOTIFY, static_cast<uint32_t>(sizeof(LV2_Atom)) + event->body.size,
                       w->_uris._atom_eventTransfer, &event->body);
  }
}

bool shell_window_idle(shell_window* w) noexcept
{
  return w->_idle == nullptr || w->_idle->idle(w->_handle) == 0;
}

bool shell_window_set_size(shell_window* w, int width, int height) noexcept
{
  return w->_resize != nullptr && w->_resize->ui_resize(w->_handle, width, height) == 0;
}

bool shell_window_set_scale(shell_window* w, double scale) noexcept
{
  if (w->_options == nullptr || w->_scale_key == 0) {
    return false;
  }
  w->_scale = static_cast<float>(scale);
  return w->_options->set(w->_handle, w->_option_list) == LV2_OPTIONS_SUCCESS;
}
