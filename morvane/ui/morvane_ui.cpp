// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in's window: an X11 child window of the host's ui:parent,
// drawn with cairo through the drawing module (draw.h).
//
// Each instance opens its own connection to the X server, so two windows
// in one process, or a host's own toolkit, never share a queue: the host
// calls idle() (ui:idleInterface), which drains this connection's events
// and repaints when something shown changed, at most MORVANE_UI_FPS times a
// second. Pictures are drawn into an off-screen image of the window's size
// and then copied in one go, so the window never shows half a picture. The
// image is in this process's memory, not a server pixmap: cairo's server-side
// text keeps its record of the connection alive after the connection closes
// (lost memory at every opening), and the picture is the very one the
// drawing module makes anywhere else.
//
// The window tells the plug-in it is open (WindowOpen on the control port)
// so that the plug-in sends frames on its notify port, and closed
// (WindowClosed) when it goes.
#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "controls.h"
#include "cpu_level.h"
#include "draw.h"
#include "frame.h"
#include "knob.h"
#include "morvane.h"

// Xlib last: its macros (Bool, Status ...) would break the LV2 headers.
#include <cairo-xlib.h>
#include <cairo.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#define MORVANE_UI_URI MORVANE_URI "#ui"

namespace {

// Most pictures a second.
constexpr double MORVANE_UI_FPS = 60.0;
// Seconds without a frame after which the window says WindowOpen again.
constexpr double MORVANE_UI_REOPEN_SECONDS = 1.0;
// Largest size the window accepts from a host (a guard against nonsense).
constexpr int MORVANE_UI_MAX_SIDE = 16384;

double monotonic_seconds() noexcept
{
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct MorvaneUi {
  // The host.
  LV2UI_Write_Function _write = nullptr;
  LV2UI_Controller _controller = nullptr;
  const LV2UI_Resize* _host_resize = nullptr;
  const LV2UI_Touch* _touch = nullptr;
  bool _have_uris = false;
  morvane_uris _uris{};
  double _scale = 1.0;

  // X11 and cairo.
  Display* _display = nullptr;
  Window _parent = 0;
  Window _window = 0;
  bool _window_gone = false;       // destroyed with the host's parent
  Visual* _visual = nullptr;
  int _width = 0;
  int _height = 0;
  cairo_surface_t* _surface = nullptr;  // the window
  cairo_surface_t* _back = nullptr;     // off-screen picture of the window's size

  // What is shown.
  morvane_layout _layout{};
  morvane_frame _frame{};
  morvane_frame _incoming{};
  bool _have_frame = false;
  float _controls[MORVANE_NUM_CONTROLS] = {};
  morvane_meter _meter;
  morvane_knob_input _knobs;
  int _hover = -1;

  // Frames: when the last one came and when WindowOpen was last sent.
  double _last_frame_time = -1.0;
  double _last_open_sent = -1.0;

  // Repainting.
  bool _dirty = true;     // the picture must be drawn again
  bool _exposed = false;  // the window must be copied again
  double _last_paint = -1.0;
};

// Knob gestures go to the host as port writes, framed by ui:touch when the
// host offers it.
void sink_write(void* handle, uint32_t port, float value)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  ui->_write(ui->_controller, port, sizeof value, 0, &value);
}

void sink_touch(void* handle, uint32_t port, bool grabbed)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  if (ui->_touch != nullptr && ui->_touch->touch != nullptr) {
    ui->_touch->touch(ui->_touch->handle, port, grabbed);
  }
}

morvane_knob_sink knob_sink(MorvaneUi* ui) noexcept
{
  return morvane_knob_sink{ui, sink_write, sink_touch};
}

void send_window_message(MorvaneUi* ui, bool open) noexcept
{
  if (!ui->_have_uris) {
    return;
  }
  alignas(8) uint8_t buf[64];
  const uint32_t size = morvane_window_message(&ui->_uris, open, buf, sizeof buf);
  if (size > 0) {
    ui->_write(ui->_controller, MORVANE_CONTROL, size, ui->_uris._atom_eventTransfer, buf);
  }
  if (open) {
    ui->_last_open_sent = monotonic_seconds();
  }
}

int scaled(double length, double scale) noexcept
{
  return static_cast<int>(std::lround(length * scale));
}

// Takes the window's new size: the layout follows, the off-screen picture is
// made again at the next paint.
void set_size(MorvaneUi* ui, int width, int height) noexcept
{
  if (width <= 0 || height <= 0 || width > MORVANE_UI_MAX_SIDE || height > MORVANE_UI_MAX_SIDE) {
    return;
  }
  if (width == ui->_width && height == ui->_height) {
    return;
  }
  ui->_width = width;
  ui->_height = height;
  morvane_layout_compute(&ui->_layout, width, height, ui->_scale);
  if (ui->_surface != nullptr) {
    cairo_xlib_surface_set_size(ui->_surface, width, height);
  }
  ui->_dirty = true;
}

// Frees the pictures and cairo's record of this connection (its "device"),
// which cairo would otherwise keep, one per connection, after the display
// is closed.
void release_surfaces(MorvaneUi* ui) noexcept
{
  cairo_device_t* device = nullptr;
  if (ui->_surface != nullptr) {
    device = cairo_surface_get_device(ui->_surface);
    if (device != nullptr) {
      cairo_device_reference(device);
    }
  }
  if (ui->_back != nullptr) {
    cairo_surface_destroy(ui->_back);
    ui->_back = nullptr;
  }
  if (ui->_surface != nullptr) {
    cairo_surface_finish(ui->_surface);
    cairo_surface_destroy(ui->_surface);
    ui->_surface = nullptr;
  }
  if (device != nullptr) {
    cairo_device_finish(device);
    cairo_device_destroy(device);
  }
}

void paint(MorvaneUi* ui, bool redraw) noexcept
{
  if (ui->_window_gone || ui->_width <= 0 || ui->_height <= 0) {
    return;
  }
  if (ui->_surface == nullptr) {
    ui->_surface = cairo_xlib_surface_create(ui->_display, ui->_window, ui->_visual, ui->_width, ui->_height);
  }
  if (ui->_back == nullptr || cairo_image_surface_get_width(ui->_back) != ui->_width ||
      cairo_image_surface_get_height(ui->_back) != ui->_height) {
    if (ui->_back != nullptr) {
      cairo_surface_destroy(ui->_back);
    }
    ui->_back = cairo_image_surface_create(CAIRO_FORMAT_RGB24, ui->_width, ui->_height);
    redraw = true;
  }
  if (redraw) {
    morvane_view view{};
    view._frame = ui->_have_frame ? &ui->_frame : nullptr;
    std::memcpy(view._controls, ui->_controls, sizeof view._controls);
    view._meter_db = ui->_meter.level_db();
    view._active_control = ui->_knobs.dragging() >= 0 ? ui->_knobs.dragging() : ui->_hover;
    cairo_t* cr = cairo_create(ui->_back);
    morvane_draw(cr, &ui->_layout, &view);
    cairo_destroy(cr);
    cairo_surface_flush(ui->_back);
  }
  cairo_t* cr = cairo_create(ui->_surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, ui->_back, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(ui->_surface);
  XFlush(ui->_display);
}

bool set_hover(MorvaneUi* ui, int knob) noexcept
{
  if (!morvane_knob_visible(knob)) {
    knob = -1;
  }
  if (knob == ui->_hover) {
    return false;
  }
  ui->_hover = knob;
  return true;
}

void handle_event(MorvaneUi* ui, const XEvent& ev) noexcept
{
  const morvane_knob_sink sink = knob_sink(ui);
  switch (ev.type) {
    case Expose:
      if (ev.xexpose.window == ui->_window) {
        ui->_exposed = true;
      }
      break;
    case ConfigureNotify:
      if (ev.xconfigure.window == ui->_window) {
        set_size(ui, ev.xconfigure.width, ev.xconfigure.height);
      } else if (ev.xconfigure.window == ui->_parent && ev.xconfigure.width > 0 && ev.xconfigure.height > 0) {
        // A host that resizes only its own window: the window fills it. Every
        // such event is followed, not only those that differ from the size
        // known here: that size only changes when the window's own event
        // arrives, and a host that first shrinks its window (a toolkit's
        // default size) and then grows it again sends both before that.
        XResizeWindow(ui->_display, ui->_window, static_cast<unsigned>(ev.xconfigure.width),
                      static_cast<unsigned>(ev.xconfigure.height));
      }
      break;
    case DestroyNotify:
      if (ev.xdestroywindow.window == ui->_window) {
        ui->_window_gone = true;
      }
      break;
    case ButtonPress: {
      const XButtonEvent& b = ev.xbutton;
      const int knob = morvane_layout_knob_at(&ui->_layout, b.x, b.y);
      const bool fine = (b.state & ShiftMask) != 0;
      if (ui->_knobs.press(knob, static_cast<int>(b.button), b.y, b.time, fine, ui->_scale, ui->_controls,
                           sink)) {
        ui->_dirty = true;
      }
      break;
    }
    case ButtonRelease: {
      const XButtonEvent& b = ev.xbutton;
      if (ui->_knobs.release(static_cast<int>(b.button), sink)) {
        set_hover(ui, morvane_layout_knob_at(&ui->_layout, b.x, b.y));
        ui->_dirty = true;
      }
      break;
    }
    case MotionNotify: {
      const XMotionEvent& m = ev.xmotion;
      const bool fine = (m.state & ShiftMask) != 0;
      if (ui->_knobs.dragging() >= 0) {
        ui->_dirty |= ui->_knobs.motion(m.y, fine, ui->_controls, sink);
      } else {
        ui->_dirty |= set_hover(ui, morvane_layout_knob_at(&ui->_layout, m.x, m.y));
      }
      break;
    }
    case EnterNotify:
      ui->_dirty |= set_hover(ui, morvane_layout_knob_at(&ui->_layout, ev.xcrossing.x, ev.xcrossing.y));
      break;
    case LeaveNotify:
      if (ui->_knobs.dragging() < 0) {
        ui->_dirty |= set_hover(ui, -1);
      }
      break;
    default:
      break;
  }
}

// Drains this connection's events, lets the meter fall, and paints when the
// picture changed (at most MORVANE_UI_FPS times a second) or was exposed.
int ui_idle(LV2UI_Handle handle)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  while (!ui->_window_gone && XPending(ui->_display) > 0) {
    XEvent ev;
    XNextEvent(ui->_display, &ev);
    handle_event(ui, ev);
  }
  if (ui->_window_gone) {
    // The host destroyed its window and ours with it.
    return 1;
  }
  const double now = monotonic_seconds();
  // No frame for a second after saying WindowOpen: the message may have been
  // lost (a host that started the plug-in's processing after the window, or
  // made a new instance of the plug-in for this window), so it is said
  // again. Once frames flow this costs nothing; the plug-in takes a repeated
  // WindowOpen as it stands.
  if (now - std::max(ui->_last_frame_time, ui->_last_open_sent) > MORVANE_UI_REOPEN_SECONDS) {
    send_window_message(ui, true);
  }
  ui->_dirty |= ui->_meter.advance(now);
  if (ui->_dirty && now - ui->_last_paint >= 1.0 / MORVANE_UI_FPS) {
    paint(ui, true);
    ui->_dirty = false;
    ui->_exposed = false;
    ui->_last_paint = now;
  } else if (ui->_exposed) {
    paint(ui, false);
    ui->_exposed = false;
  }
  return 0;
}

int ui_resize(LV2UI_Feature_Handle handle, int width, int height)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  if (width <= 0 || height <= 0 || width > MORVANE_UI_MAX_SIDE || height > MORVANE_UI_MAX_SIDE ||
      ui->_window_gone) {
    return 1;
  }
  XResizeWindow(ui->_display, ui->_window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFlush(ui->_display);
  set_size(ui, width, height);
  return 0;
}

const void* ui_extension_data(const char* uri)
{
  static const LV2UI_Idle_Interface idle = {ui_idle};
  static const LV2UI_Resize resize = {nullptr, ui_resize};
  if (std::strcmp(uri, LV2_UI__idleInterface) == 0) {
    return &idle;
  }
  if (std::strcmp(uri, LV2_UI__resize) == 0) {
    return &resize;
  }
  return nullptr;
}

void ui_port_event(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  if (buffer == nullptr) {
    return;
  }
  if (format == 0) {
    if (port < MORVANE_NUM_CONTROLS && size == sizeof(float)) {
      float value;
      std::memcpy(&value, buffer, sizeof value);
      value = morvane_clamp_control(port, value);
      if (value != ui->_controls[port]) {
        ui->_controls[port] = value;
        ui->_dirty = true;
      }
    }
    return;
  }
  if (port == MORVANE_NOTIFY && ui->_have_uris && format == ui->_uris._atom_eventTransfer) {
    // A frame read in full or not at all.
    if (morvane_frame_read(&ui->_uris, buffer, size, &ui->_incoming)) {
      ui->_frame = ui->_incoming;
      ui->_have_frame = true;
      ui->_last_frame_time = monotonic_seconds();
      ui->_meter.peak(ui->_frame._output_peak, monotonic_seconds());
      ui->_dirty = true;
    }
  }
}

// Errors of the one request that may race with the host: destroying a window
// the host may just have destroyed with its parent. Only this connection's
// replies are read while it is installed.
int ignore_x_error(Display*, XErrorEvent*)
{
  return 0;
}

void destroy_window(MorvaneUi* ui) noexcept
{
  if (ui->_window == 0) {
    return;
  }
  // Reads what the server says up to now: a DestroyNotify means the host's
  // parent took the window with it.
  XSync(ui->_display, False);
  XEvent ev;
  while (!ui->_window_gone && XCheckTypedWindowEvent(ui->_display, ui->_window, DestroyNotify, &ev)) {
    ui->_window_gone = true;
  }
  if (!ui->_window_gone) {
    // The host may destroy its window at the same time from its own
    // connection; its error, if any, is ours to swallow, and the handler
    // before goes back in place at once.
    XErrorHandler previous = XSetErrorHandler(ignore_x_error);
    XSelectInput(ui->_display, ui->_parent, NoEventMask);
    XDestroyWindow(ui->_display, ui->_window);
    XSync(ui->_display, False);
    XSetErrorHandler(previous);
  }
  ui->_window = 0;
}

void ui_cleanup(LV2UI_Handle handle)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  const morvane_knob_sink sink = knob_sink(ui);
  ui->_knobs.cancel(sink);
  send_window_message(ui, false);
  if (ui->_display != nullptr) {
    release_surfaces(ui);
    destroy_window(ui);
    XCloseDisplay(ui->_display);
  }
  delete ui;
}

// The host's scale factor, if it gives one among its options.
double scale_factor(const LV2_Options_Option* options, const LV2_URID_Map* map) noexcept
{
  if (options == nullptr || map == nullptr) {
    return 1.0;
  }
  const LV2_URID key = map->map(map->handle, LV2_UI__scaleFactor);
  const LV2_URID atom_float = map->map(map->handle, LV2_ATOM__Float);
  for (const LV2_Options_Option* o = options; o->key != 0; ++o) {
    if (o->key == key && o->type == atom_float && o->size == sizeof(float) && o->value != nullptr) {
      float s;
      std::memcpy(&s, o->value, sizeof s);
      // Scales beyond what a screen needs are taken as mistakes.
      if (std::isfinite(s) && s >= 0.25f && s <= 8.0f) {
        return s;
      }
    }
  }
  return 1.0;
}

LV2UI_Handle instantiate_at_level(const LV2UI_Descriptor*, const char*, const char*,
                                  LV2UI_Write_Function write_function, LV2UI_Controller controller,
                                  LV2UI_Widget* widget, const LV2_Feature* const* features)
{
  if (write_function == nullptr || widget == nullptr) {
    return nullptr;
  }
  void* parent = nullptr;
  const LV2_URID_Map* map = nullptr;
  const LV2UI_Resize* resize = nullptr;
  const LV2UI_Touch* touch = nullptr;
  const LV2_Options_Option* options = nullptr;
  for (const LV2_Feature* const* f = features; f != nullptr && *f != nullptr; ++f) {
    const char* uri = (*f)->URI;
    if (std::strcmp(uri, LV2_UI__parent) == 0) {
      parent = (*f)->data;
    } else if (std::strcmp(uri, LV2_URID__map) == 0) {
      map = static_cast<const LV2_URID_Map*>((*f)->data);
    } else if (std::strcmp(uri, LV2_UI__resize) == 0) {
      resize = static_cast<const LV2UI_Resize*>((*f)->data);
    } else if (std::strcmp(uri, LV2_UI__touch) == 0) {
      touch = static_cast<const LV2UI_Touch*>((*f)->data);
    } else if (std::strcmp(uri, LV2_OPTIONS__options) == 0) {
      options = static_cast<const LV2_Options_Option*>((*f)->data);
    }
  }
  if (parent == nullptr) {
    return nullptr;
  }

  auto* ui = new (std::nothrow) MorvaneUi;
  if (ui == nullptr) {
    return nullptr;
  }
  ui->_write = write_function;
  ui->_controller = controller;
  ui->_host_resize = resize != nullptr && resize->ui_resize != nullptr ? resize : nullptr;
  ui->_touch = touch;
  if (map != nullptr && map->map != nullptr) {
    morvane_map_uris(&ui->_uris, map);
    ui->_have_uris = true;
  }
  ui->_scale = scale_factor(options, map);
  for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
    ui->_controls[i] = morvane_controls[i]._default;
  }
  ui->_parent = static_cast<Window>(reinterpret_cast<uintptr_t>(parent));

  ui->_display = XOpenDisplay(nullptr);
  if (ui->_display == nullptr) {
    delete ui;
    return nullptr;
  }
  const int width = scaled(MORVANE_VIEW_DEFAULT_WIDTH, ui->_scale);
  const int height = scaled(MORVANE_VIEW_DEFAULT_HEIGHT, ui->_scale);
  XSetWindowAttributes attrs{};
  // No background: the server leaves exposed parts alone until the copy of
  // the picture arrives, instead of clearing them first (no flicker).
  attrs.background_pixmap = None;
  attrs.border_pixel = 0;
  attrs.event_mask = ExposureMask | StructureNotifyMask | ButtonPressMask | ButtonReleaseMask |
                     PointerMotionMask | EnterWindowMask | LeaveWindowMask;
  ui->_window = XCreateWindow(ui->_display, ui->_parent, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWBackPixmap | CWBorderPixel | CWEventMask, &attrs);
  XWindowAttributes got{};
  // A bad ui:parent makes the window fail; the round trip of the query
  // tells before anything draws into it.
  XErrorHandler previous = XSetErrorHandler(ignore_x_error);
  const Status ok = XGetWindowAttributes(ui->_display, ui->_window, &got);
  XSetErrorHandler(previous);
  if (ok == 0) {
    XCloseDisplay(ui->_display);
    delete ui;
    return nullptr;
  }
  ui->_visual = got.visual;
  // Follows the host's window when the host resizes only that.
  XSelectInput(ui->_display, ui->_parent, StructureNotifyMask);

  XSizeHints hints{};
  hints.flags = PMinSize | PBaseSize;
  hints.min_width = scaled(MORVANE_VIEW_MIN_WIDTH, ui->_scale);
  hints.min_height = scaled(MORVANE_VIEW_MIN_HEIGHT, ui->_scale);
  hints.base_width = width;
  hints.base_height = height;
  XSetWMNormalHints(ui->_display, ui->_window, &hints);
  XStoreName(ui->_display, ui->_window, "morvane");
  XMapRaised(ui->_display, ui->_window);
  XFlush(ui->_display);
  set_size(ui, width, height);

  if (ui->_host_resize != nullptr) {
    ui->_host_resize->ui_resize(ui->_host_resize->handle, width, height);
  }
  *widget = reinterpret_cast<LV2UI_Widget>(static_cast<uintptr_t>(ui->_window));
  send_window_message(ui, true);
  return ui;
}

// Checks the processor before any code of the build's level runs.
MORVANE_BASELINE_CODE LV2UI_Handle ui_instantiate(const LV2UI_Descriptor* descriptor, const char* plugin_uri,
                                                  const char* bundle_path,
                                                  LV2UI_Write_Function write_function,
                                                  LV2UI_Controller controller, LV2UI_Widget* widget,
                                                  const LV2_Feature* const* features)
{
  if (!morvane_cpu_has_build_level()) {
    return nullptr;
  }
  return instantiate_at_level(descriptor, plugin_uri, bundle_path, write_function, controller, widget,
                              features);
}

const LV2UI_Descriptor descriptor = {
  MORVANE_UI_URI, ui_instantiate, ui_cleanup, ui_port_event, ui_extension_data,
};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT MORVANE_BASELINE_CODE const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
  return index == 0 ? &descriptor : nullptr;
}
