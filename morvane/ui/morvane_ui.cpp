// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in's window: an X11 child window of the host's ui:parent,
// drawn with cairo through the drawing module (draw.h).
//
// Each instance opens its own connection to the X server, so two windows
// in one process, or a host's own toolkit, never share a queue: the host
// calls idle() (ui:idleInterface), which drains this connection's events
// and repaints when something shown changed, at most MORVANE_UI_FPS times a
// second. Pictures are drawn into an off-screen image of the window's size
// and then copied, so the window never shows half a picture. The image is in
// this process's memory, not a server pixmap: cairo's server-side text keeps
// its record of the connection alive after the connection closes (lost
// memory at every opening), and the picture is the very one the drawing
// module makes anywhere else.
//
// The still layer (panels, text, knobs, sync switches, curves) is kept in
// an image of its own and drawn again only when it changes (size, scale, a
// control, the knob under the pointer). A new frame restores the still layer and draws
// the moving layer only inside the rectangles the drawing module says
// changed, and only those rectangles go to the server; when nothing moved,
// nothing is drawn or sent. A frame with speech costs 0.6 ms of drawing at
// 900x540 instead of 3.8 ms for the whole picture (bench_draw), and sends
// about a seventh of the bytes.
//
// The window tells the plug-in it is open (WindowOpen on the control port)
// so that the plug-in sends frames on its notify port, and closed
// (WindowClosed) when it goes.
//
// One binary serves both plug-ins: the stereo plug-in's window (its own
// descriptor) has the stereo panel and takes the three stereo ports.
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
#include "ui_stats.h"

// Xlib last: its macros (Bool, Status ...) would break the LV2 headers.
#include <cairo-xlib.h>
#include <cairo.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#define MORVANE_UI_URI MORVANE_URI "#ui"
#define MORVANE_STEREO_UI_URI MORVANE_STEREO_URI "#ui"

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
  LV2_URID _scale_key = 0;    // ui:scaleFactor, 0 without a URID map
  LV2_URID _atom_float = 0;
  bool _stereo = false;       // the stereo plug-in's window

  // X11 and cairo.
  Display* _display = nullptr;
  Window _parent = 0;
  Window _window = 0;
  bool _window_gone = false;       // destroyed with the host's parent
  Visual* _visual = nullptr;
  int _depth = 0;
  int _width = 0;
  int _height = 0;
  GC _gc = nullptr;
  bool _shm_usable = false;             // the server reads pictures from shared memory
  XShmSegmentInfo _shm{};               // _back's shared memory (shmaddr NULL when none)
  bool _shm_pending = false;            // puts from it the server may not have read yet
  XImage* _image = nullptr;             // _back's pixels as the server takes them, or NULL
  cairo_surface_t* _surface = nullptr;  // the window, for servers that take other pixels
  cairo_surface_t* _still = nullptr;    // the still layer, the window's size
  cairo_surface_t* _back = nullptr;     // the picture: still and moving layers

  // What is shown.
  morvane_layout _layout{};
  morvane_frame _frame{};
  morvane_frame _incoming{};
  bool _have_frame = false;
  float _controls[MORVANE_NUM_STEREO_CONTROLS] = {};  // by row of morvane_controls
  morvane_meter _meter;
  morvane_knob_input _knobs;
  int _hover = -1;  // row of the knob under the pointer

  // Frames: when the last one came and when WindowOpen was last sent.
  double _last_frame_time = -1.0;
  double _last_open_sent = -1.0;

  // What the picture in _back shows (valid when _shown_valid).
  bool _shown_valid = false;
  bool _shown_has_frame = false;
  morvane_frame _shown_frame{};
  float _shown_controls[MORVANE_NUM_STEREO_CONTROLS] = {};
  float _shown_meter_db = 0.0f;
  int _shown_active = -1;

  // Repainting.
  bool _dirty = true;                   // something shown may have changed
  cairo_region_t* _exposed = nullptr;   // parts of the window to copy again
  double _last_paint = -1.0;
  morvane_ui_upload_counts _counts{};
};

// The control rows of the window's plug-in.
uint32_t num_rows(const MorvaneUi* ui) noexcept
{
  return ui->_stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS;
}

// The window's smallest width at scale 1.
double min_width(const MorvaneUi* ui) noexcept
{
  return ui->_stereo ? MORVANE_VIEW_STEREO_MIN_WIDTH : MORVANE_VIEW_MIN_WIDTH;
}

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
  morvane_layout_compute(&ui->_layout, width, height, ui->_scale, ui->_stereo);
  if (ui->_surface != nullptr) {
    cairo_xlib_surface_set_size(ui->_surface, width, height);
  }
  ui->_shown_valid = false;
  ui->_dirty = true;
}

// The view as it is now.
morvane_view current_view(const MorvaneUi* ui) noexcept
{
  morvane_view view{};
  view._frame = ui->_have_frame ? &ui->_frame : nullptr;
  std::memcpy(view._controls, ui->_controls, sizeof view._controls);
  view._meter_db = ui->_meter.level_db();
  view._active_control = ui->_knobs.dragging() >= 0 ? ui->_knobs.dragging() : ui->_hover;
  return view;
}

// The view the picture in _back shows.
morvane_view shown_view(const MorvaneUi* ui) noexcept
{
  morvane_view view{};
  view._frame = ui->_shown_has_frame ? &ui->_shown_frame : nullptr;
  std::memcpy(view._controls, ui->_shown_controls, sizeof view._controls);
  view._meter_db = ui->_shown_meter_db;
  view._active_control = ui->_shown_active;
  return view;
}

void remember_shown(MorvaneUi* ui, const morvane_view& view) noexcept
{
  ui->_shown_valid = true;
  ui->_shown_has_frame = view._frame != nullptr;
  if (view._frame != nullptr) {
    ui->_shown_frame = *view._frame;
  }
  std::memcpy(ui->_shown_controls, view._controls, sizeof ui->_shown_controls);
  ui->_shown_meter_db = view._meter_db;
  ui->_shown_active = view._active_control;
}

// Errors of the requests that may fail without harm: destroying a window
// the host may just have destroyed with its parent, a bad ui:parent, the
// test of shared memory. Only this connection's replies are read while it
// is installed.
int ignore_x_error(Display*, XErrorEvent*)
{
  return 0;
}

// Whether the window takes cairo's RGB24 pixels as they are: a 24-bit
// true-colour window with 32 bits a pixel and red, green and blue where
// cairo puts them (the rule on today's servers). The pictures then go to
// the server straight from _back; otherwise cairo converts them.
bool window_takes_rgb24(const MorvaneUi* ui) noexcept
{
  const Visual* v = ui->_visual;
  return ui->_depth == 24 && v != nullptr && v->red_mask == 0xff0000 && v->green_mask == 0xff00 &&
         v->blue_mask == 0xff;
}

int native_byte_order() noexcept
{
  const uint32_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1 ? LSBFirst : MSBFirst;
}

// Whether this connection can share memory with its server (a server on
// this machine that offers MIT-SHM, in this byte order): one pixel of the
// root window read through a segment of our own tells.
bool shared_memory_works(Display* display) noexcept
{
  if (XShmQueryExtension(display) == False || ImageByteOrder(display) != native_byte_order()) {
    return false;
  }
  XShmSegmentInfo info{};
  const int screen = DefaultScreen(display);
  XImage* image = XShmCreateImage(display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
                                  ZPixmap, nullptr, &info, 1, 1);
  if (image == nullptr) {
    return false;
  }
  bool works = false;
  info.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * 4, IPC_CREAT | 0600);
  if (info.shmid >= 0) {
    info.shmaddr = static_cast<char*>(shmat(info.shmid, nullptr, 0));
    if (info.shmaddr != reinterpret_cast<char*>(-1)) {
      image->data = info.shmaddr;
      info.readOnly = False;
      XErrorHandler previous = XSetErrorHandler(ignore_x_error);
      if (XShmAttach(display, &info) != False) {
        works = XShmGetImage(display, DefaultRootWindow(display), image, 0, 0, AllPlanes) != False;
        XShmDetach(display, &info);
      }
      XSync(display, False);
      XSetErrorHandler(previous);
      shmdt(info.shmaddr);
    }
    shmctl(info.shmid, IPC_RMID, nullptr);
  }
  image->data = nullptr;
  XDestroyImage(image);
  return works;
}

// _back in shared memory with an image of it the server reads there.
cairo_surface_t* shared_back(MorvaneUi* ui) noexcept
{
  XImage* image = XShmCreateImage(ui->_display, ui->_visual, 24, ZPixmap, nullptr, &ui->_shm,
                                  static_cast<unsigned>(ui->_width), static_cast<unsigned>(ui->_height));
  if (image == nullptr) {
    return nullptr;
  }
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, ui->_width);
  if (image->bits_per_pixel != 32 || image->bytes_per_line != stride) {
    XDestroyImage(image);
    return nullptr;
  }
  ui->_shm.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(stride) * static_cast<size_t>(ui->_height), IPC_CREAT | 0600);
  if (ui->_shm.shmid < 0) {
    XDestroyImage(image);
    return nullptr;
  }
  ui->_shm.shmaddr = static_cast<char*>(shmat(ui->_shm.shmid, nullptr, 0));
  ui->_shm.readOnly = True;
  if (ui->_shm.shmaddr == reinterpret_cast<char*>(-1) || XShmAttach(ui->_display, &ui->_shm) == False) {
    if (ui->_shm.shmaddr != reinterpret_cast<char*>(-1)) {
      shmdt(ui->_shm.shmaddr);
    }
    shmctl(ui->_shm.shmid, IPC_RMID, nullptr);
    ui->_shm = XShmSegmentInfo{};
    XDestroyImage(image);
    return nullptr;
  }
  // Removed once both sides let go of it, even if this process dies.
  XSync(ui->_display, False);
  shmctl(ui->_shm.shmid, IPC_RMID, nullptr);
  image->data = ui->_shm.shmaddr;
  ui->_image = image;
  return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(ui->_shm.shmaddr),
                                             CAIRO_FORMAT_RGB24, ui->_width, ui->_height, stride);
}

// An image of _back (in this process's memory) for XPutImage, or NULL.
XImage* image_of_back(MorvaneUi* ui) noexcept
{
  auto* data = reinterpret_cast<char*>(cairo_image_surface_get_data(ui->_back));
  XImage* image = XCreateImage(ui->_display, ui->_visual, 24, ZPixmap, 0, data, static_cast<unsigned>(ui->_width),
                               static_cast<unsigned>(ui->_height), 32, cairo_image_surface_get_stride(ui->_back));
  if (image == nullptr) {
    return nullptr;
  }
  if (image->bits_per_pixel != 32) {
    image->data = nullptr;
    XDestroyImage(image);
    return nullptr;
  }
  // The pixels are in this machine's byte order; Xlib swaps them for a
  // server of the other order.
  image->byte_order = native_byte_order();
  return image;
}

// Frees _back, _still and the image and shared memory under _back.
void free_pictures(MorvaneUi* ui) noexcept
{
  for (cairo_surface_t** picture : {&ui->_back, &ui->_still}) {
    if (*picture != nullptr) {
      cairo_surface_destroy(*picture);
      *picture = nullptr;
    }
  }
  if (ui->_image != nullptr) {
    ui->_image->data = nullptr;  // the pixels are _back's
    XDestroyImage(ui->_image);
    ui->_image = nullptr;
  }
  if (ui->_shm.shmaddr != nullptr) {
    // The server keeps its own mapping until it has read the last puts.
    XShmDetach(ui->_display, &ui->_shm);
    shmdt(ui->_shm.shmaddr);
    ui->_shm = XShmSegmentInfo{};
    ui->_shm_pending = false;
  }
}

// Makes the pictures at the window's size; false if cairo could not. The
// picture goes to the server from shared memory where it can (the server
// copies the changed rectangles from there: 0.3 MB a frame with speech
// that pass no socket, a tenth of the host's GUI thread in jalv.gtk3),
// else with XPutImage, else through cairo.
bool ensure_pictures(MorvaneUi* ui) noexcept
{
  if (ui->_back != nullptr && cairo_image_surface_get_width(ui->_back) == ui->_width &&
      cairo_image_surface_get_height(ui->_back) == ui->_height) {
    return true;
  }
  free_pictures(ui);
  ui->_shown_valid = false;
  if (window_takes_rgb24(ui) && ui->_shm_usable) {
    ui->_back = shared_back(ui);
  }
  if (ui->_back == nullptr) {
    ui->_back = cairo_image_surface_create(CAIRO_FORMAT_RGB24, ui->_width, ui->_height);
    if (window_takes_rgb24(ui) && cairo_surface_status(ui->_back) == CAIRO_STATUS_SUCCESS) {
      ui->_image = image_of_back(ui);
    }
  }
  ui->_still = cairo_image_surface_create(CAIRO_FORMAT_RGB24, ui->_width, ui->_height);
  if (cairo_surface_status(ui->_back) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_status(ui->_still) != CAIRO_STATUS_SUCCESS) {
    return false;
  }
  if (ui->_image == nullptr && ui->_surface == nullptr) {
    ui->_surface = cairo_xlib_surface_create(ui->_display, ui->_window, ui->_visual, ui->_width, ui->_height);
  }
  return true;
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
  free_pictures(ui);
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

// Sends the parts of _back in `region` (cut to the picture) to the window.
void upload(MorvaneUi* ui, cairo_region_t* region) noexcept
{
  const cairo_rectangle_int_t whole = {0, 0, cairo_image_surface_get_width(ui->_back),
                                       cairo_image_surface_get_height(ui->_back)};
  cairo_region_intersect_rectangle(region, &whole);
  const int n = cairo_region_num_rectangles(region);
  if (n == 0) {
    return;
  }
  if (ui->_image == nullptr) {
    cairo_t* cr = cairo_create(ui->_surface);
    for (int i = 0; i < n; ++i) {
      cairo_rectangle_int_t r;
      cairo_region_get_rectangle(region, i, &r);
      cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    }
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, ui->_back, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(ui->_surface);
  }
  for (int i = 0; i < n; ++i) {
    cairo_rectangle_int_t r;
    cairo_region_get_rectangle(region, i, &r);
    if (ui->_shm.shmaddr != nullptr) {
      XShmPutImage(ui->_display, ui->_window, ui->_gc, ui->_image, r.x, r.y, r.x, r.y,
                   static_cast<unsigned>(r.width), static_cast<unsigned>(r.height), False);
      ui->_shm_pending = true;
    } else if (ui->_image != nullptr) {
      XPutImage(ui->_display, ui->_window, ui->_gc, ui->_image, r.x, r.y, r.x, r.y, static_cast<unsigned>(r.width),
                static_cast<unsigned>(r.height));
    }
    ui->_counts._bytes += 4u * static_cast<uint64_t>(r.width) * static_cast<uint64_t>(r.height);
    ++ui->_counts._rectangles;
  }
  XFlush(ui->_display);
}

// Brings _back up to the view now and sends what changed (and what was
// exposed). Returns whether anything was drawn.
bool paint(MorvaneUi* ui) noexcept
{
  if (ui->_window_gone || ui->_width <= 0 || ui->_height <= 0 || !ensure_pictures(ui)) {
    return false;
  }
  if (ui->_shm_pending) {
    // The server may still be reading the last puts: a round trip, long
    // done by the next frame.
    XSync(ui->_display, False);
    ui->_shm_pending = false;
  }
  const morvane_view view = current_view(ui);
  const morvane_view shown = shown_view(ui);
  cairo_region_t* changed = cairo_region_create();
  if (!ui->_shown_valid || morvane_still_differs(&shown, &view)) {
    cairo_t* cr = cairo_create(ui->_still);
    morvane_draw_still(cr, &ui->_layout, &view);
    cairo_destroy(cr);
    cr = cairo_create(ui->_back);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, ui->_still, 0, 0);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    morvane_draw_moving(cr, &ui->_layout, &view);
    cairo_destroy(cr);
    const cairo_rectangle_int_t whole = {0, 0, ui->_width, ui->_height};
    cairo_region_union_rectangle(changed, &whole);
    ++ui->_counts._still;
  } else {
    cairo_t* cr = cairo_create(ui->_back);
    morvane_draw_update(cr, ui->_still, &ui->_layout, &shown, &view, changed);
    cairo_destroy(cr);
  }
  remember_shown(ui, view);
  const bool drawn = !cairo_region_is_empty(changed);
  if (drawn) {
    cairo_surface_flush(ui->_back);
    ++ui->_counts._repaints;
  }
  if (ui->_exposed != nullptr) {
    cairo_region_union(changed, ui->_exposed);
    cairo_region_destroy(ui->_exposed);
    ui->_exposed = nullptr;
  }
  upload(ui, changed);
  cairo_region_destroy(changed);
  return drawn;
}

bool set_hover(MorvaneUi* ui, int knob) noexcept
{
  if (!morvane_knob_shown(ui->_controls, knob)) {
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
        if (ui->_exposed == nullptr) {
          ui->_exposed = cairo_region_create();
        }
        const cairo_rectangle_int_t r = {ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height};
        cairo_region_union_rectangle(ui->_exposed, &r);
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
      const int knob = morvane_layout_knob_at(&ui->_layout, ui->_controls, b.x, b.y);
      const bool fine = (b.state & ShiftMask) != 0;
      float mode = 0.0f;
      const int sync = morvane_layout_switch_at(&ui->_layout, b.x, b.y, &mode);
      if (knob < 0 && sync >= 0 && b.button == MORVANE_BUTTON_LEFT && ui->_knobs.dragging() < 0) {
        // A switch segment: the mode at once, as one gesture. The rate's
        // place may now hold the cycle.
        if (morvane_switch_press(static_cast<uint32_t>(sync), mode, ui->_controls, sink)) {
          set_hover(ui, morvane_layout_knob_at(&ui->_layout, ui->_controls, b.x, b.y));
          ui->_dirty = true;
        }
      } else if (ui->_knobs.press(knob, static_cast<int>(b.button), b.y, b.time, fine, ui->_scale,
                                  ui->_controls, sink)) {
        ui->_dirty = true;
      }
      break;
    }
    case ButtonRelease: {
      const XButtonEvent& b = ev.xbutton;
      if (ui->_knobs.release(static_cast<int>(b.button), sink)) {
        set_hover(ui, morvane_layout_knob_at(&ui->_layout, ui->_controls, b.x, b.y));
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
        ui->_dirty |= set_hover(ui, morvane_layout_knob_at(&ui->_layout, ui->_controls, m.x, m.y));
      }
      break;
    }
    case EnterNotify:
      ui->_dirty |= set_hover(ui, morvane_layout_knob_at(&ui->_layout, ui->_controls, ev.xcrossing.x, ev.xcrossing.y));
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
int idle_on_connection(MorvaneUi* ui) noexcept
{
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
    // Only a picture actually drawn counts against the rate.
    if (paint(ui)) {
      ui->_last_paint = now;
    }
    ui->_dirty = false;
  } else if (ui->_exposed != nullptr) {
    if (ui->_shown_valid) {
      upload(ui, ui->_exposed);
      cairo_region_destroy(ui->_exposed);
      ui->_exposed = nullptr;
    } else {
      paint(ui);
    }
  }
  return 0;
}

// The host may destroy its window, and ours with it, from its own
// connection at any moment: pictures already on their way to the server
// then fail against a window that is gone. Those errors are this
// connection's alone and harmless, so they are not left to the process's
// handler (Xlib's default one exits): only this connection is read while
// the window's idle runs.
int ui_idle(LV2UI_Handle handle)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  XErrorHandler previous = XSetErrorHandler(ignore_x_error);
  const int result = idle_on_connection(ui);
  XSetErrorHandler(previous);
  return result;
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

// The scale factor in `o`, or NaN if `o` is no usable ui:scaleFactor.
double scale_in(const MorvaneUi* ui, const LV2_Options_Option& o) noexcept
{
  if (ui->_scale_key == 0 || o.key != ui->_scale_key || o.type != ui->_atom_float || o.size != sizeof(float) ||
      o.value == nullptr) {
    return NAN;
  }
  float s;
  std::memcpy(&s, o.value, sizeof s);
  // Scales beyond what a screen needs are taken as mistakes.
  return std::isfinite(s) && s >= 0.25f && s <= 8.0f ? s : NAN;
}

// A new scale factor while the window is open: the window keeps its size
// in the host's units, so its pixels grow or shrink with the scale, and
// the host hears of the new size.
void set_scale(MorvaneUi* ui, double scale) noexcept
{
  if (scale == ui->_scale || ui->_window_gone) {
    return;
  }
  const double ratio = scale / ui->_scale;
  ui->_scale = scale;
  const int width = std::clamp(static_cast<int>(std::lround(ui->_width * ratio)), 1, MORVANE_UI_MAX_SIDE);
  const int height = std::clamp(static_cast<int>(std::lround(ui->_height * ratio)), 1, MORVANE_UI_MAX_SIDE);
  XSizeHints hints{};
  hints.flags = PMinSize | PBaseSize;
  hints.min_width = scaled(min_width(ui), scale);
  hints.min_height = scaled(MORVANE_VIEW_MIN_HEIGHT, scale);
  hints.base_width = width;
  hints.base_height = height;
  XSetWMNormalHints(ui->_display, ui->_window, &hints);
  XResizeWindow(ui->_display, ui->_window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFlush(ui->_display);
  // The layout at the new scale, even when the size stays.
  ui->_width = 0;
  set_size(ui, width, height);
  if (ui->_host_resize != nullptr) {
    ui->_host_resize->ui_resize(ui->_host_resize->handle, width, height);
  }
}

uint32_t ui_options_get(LV2UI_Handle, LV2_Options_Option* options)
{
  return options != nullptr && options->key != 0 ? LV2_OPTIONS_ERR_UNKNOWN : LV2_OPTIONS_SUCCESS;
}

// The host's options after instantiation: ui:scaleFactor is followed,
// anything else is not known here.
uint32_t ui_options_set(LV2UI_Handle handle, const LV2_Options_Option* options)
{
  auto* ui = static_cast<MorvaneUi*>(handle);
  uint32_t result = LV2_OPTIONS_SUCCESS;
  for (const LV2_Options_Option* o = options; o != nullptr && o->key != 0; ++o) {
    const double scale = scale_in(ui, *o);
    if (std::isfinite(scale)) {
      set_scale(ui, scale);
    } else if (o->key == ui->_scale_key) {
      result |= LV2_OPTIONS_ERR_BAD_VALUE;
    } else {
      result |= LV2_OPTIONS_ERR_BAD_KEY;
    }
  }
  return result;
}

void ui_read_counts(LV2UI_Handle handle, morvane_ui_upload_counts* counts)
{
  *counts = static_cast<const MorvaneUi*>(handle)->_counts;
}

const void* ui_extension_data(const char* uri)
{
  static const LV2UI_Idle_Interface idle = {ui_idle};
  static const LV2UI_Resize resize = {nullptr, ui_resize};
  static const LV2_Options_Interface options = {ui_options_get, ui_options_set};
  static const morvane_ui_upload_counter counter = {ui_read_counts};
  if (std::strcmp(uri, LV2_UI__idleInterface) == 0) {
    return &idle;
  }
  if (std::strcmp(uri, LV2_UI__resize) == 0) {
    return &resize;
  }
  if (std::strcmp(uri, LV2_OPTIONS__interface) == 0) {
    return &options;
  }
  if (std::strcmp(uri, MORVANE_UI__uploadCounts) == 0) {
    return &counter;
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
    // Control ports by their row; any other port (the stereo ports in the
    // mono window) is none of the window's.
    const int row = morvane_control_row(port);
    if (row >= 0 && static_cast<uint32_t>(row) < num_rows(ui) && size == sizeof(float)) {
      const auto r = static_cast<uint32_t>(row);
      float value;
      std::memcpy(&value, buffer, sizeof value);
      value = morvane_clamp_control(r, value);
      if (value != ui->_controls[r]) {
        ui->_controls[r] = value;
        ui->_dirty = true;
        // A new sync mode may put the cycle in the hovered rate's place.
        if (ui->_knobs.dragging() < 0 && !morvane_knob_shown(ui->_controls, ui->_hover)) {
          ui->_hover = -1;
        }
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
  if (ui->_exposed != nullptr) {
    cairo_region_destroy(ui->_exposed);
  }
  if (ui->_display != nullptr) {
    // Pictures sent to a window the host has just destroyed fail here, as
    // in idle: harmless, and this connection's alone.
    XErrorHandler previous = XSetErrorHandler(ignore_x_error);
    release_surfaces(ui);
    if (ui->_gc != nullptr) {
      XFreeGC(ui->_display, ui->_gc);
    }
    destroy_window(ui);
    XCloseDisplay(ui->_display);
    XSetErrorHandler(previous);
  }
  delete ui;
}

// The host's scale factor, if it gives one among its options.
double scale_factor(const MorvaneUi* ui, const LV2_Options_Option* options) noexcept
{
  for (const LV2_Options_Option* o = options; o != nullptr && o->key != 0; ++o) {
    const double s = scale_in(ui, *o);
    if (std::isfinite(s)) {
      return s;
    }
  }
  return 1.0;
}

LV2UI_Handle instantiate_at_level(const LV2UI_Descriptor* descriptor, const char*, const char*,
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
    ui->_scale_key = map->map(map->handle, LV2_UI__scaleFactor);
    ui->_atom_float = map->map(map->handle, LV2_ATOM__Float);
  }
  ui->_scale = scale_factor(ui, options);
  ui->_stereo = descriptor != nullptr && descriptor->URI != nullptr &&
                std::strcmp(descriptor->URI, MORVANE_STEREO_UI_URI) == 0;
  for (uint32_t row = 0; row < num_rows(ui); ++row) {
    ui->_controls[row] = morvane_controls[row]._default;
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
  ui->_depth = got.depth;
  ui->_shm_usable = shared_memory_works(ui->_display);
  ui->_gc = XCreateGC(ui->_display, ui->_window, 0, nullptr);
  // Follows the host's window when the host resizes only that.
  XSelectInput(ui->_display, ui->_parent, StructureNotifyMask);

  XSizeHints hints{};
  hints.flags = PMinSize | PBaseSize;
  hints.min_width = scaled(min_width(ui), ui->_scale);
  hints.min_height = scaled(MORVANE_VIEW_MIN_HEIGHT, ui->_scale);
  hints.base_width = width;
  hints.base_height = height;
  XSetWMNormalHints(ui->_display, ui->_window, &hints);
  XStoreName(ui->_display, ui->_window, ui->_stereo ? "morvane stereo" : "morvane");
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

// The stereo plug-in's window: the same window with the stereo panel.
const LV2UI_Descriptor stereo_descriptor = {
  MORVANE_STEREO_UI_URI, ui_instantiate, ui_cleanup, ui_port_event, ui_extension_data,
};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT MORVANE_BASELINE_CODE const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
  switch (index) {
    case 0: return &descriptor;
    case 1: return &stereo_descriptor;
    default: return nullptr;
  }
}
