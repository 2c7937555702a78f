// SPDX-License-Identifier: LGPL-2.1-or-later
// The window tests' host (see ui_host.h).
#include "ui_host.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include <cairo.h>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

// The process's count of X errors: every connection of the process reports
// to one handler.
int g_x_errors = 0;

int count_x_error(Display* display, XErrorEvent* error)
{
  char text[256] = {};
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, error->request_code,
               error->minor_code, error->resourceid);
  ++g_x_errors;
  return 0;
}

void suil_write(SuilController controller, uint32_t port, uint32_t size, uint32_t protocol, const void* buffer)
{
  static_cast<UiHost*>(controller)->on_write(port, size, protocol, buffer);
}

uint32_t suil_index(SuilController, const char* symbol)
{
  for (uint32_t i = 0; i < MORVANE_NUM_STEREO_CONTROLS; ++i) {
    if (std::strcmp(morvane_controls[i]._symbol, symbol) == 0) {
      return morvane_controls[i]._port;
    }
  }
  return LV2UI_INVALID_PORT_INDEX;
}

void suil_touch(SuilController controller, uint32_t port, bool grabbed)
{
  static_cast<UiHost*>(controller)->on_touch(port, grabbed);
}

int host_resize(LV2UI_Feature_Handle handle, int width, int height)
{
  static_cast<UiHost*>(handle)->on_resize(width, height);
  return 0;
}

}  // namespace

// Pictures ----------------------------------------------------------------------

int pixel_distance(uint32_t a, uint32_t b)
{
  int d = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int ca = static_cast<int>((a >> shift) & 0xff);
    const int cb = static_cast<int>((b >> shift) & 0xff);
    d = std::max(d, std::abs(ca - cb));
  }
  return d;
}

int most_changed_column(const Image& before, const Image& after, const morvane_rect& area)
{
  const int x0 = static_cast<int>(std::ceil(area._x));
  const int x1 = static_cast<int>(std::floor(area._x + area._w)) - 1;
  const int y0 = static_cast<int>(std::ceil(area._y));
  const int y1 = static_cast<int>(std::floor(area._y + area._h)) - 1;
  int best_x = -1;
  long best = 0;
  for (int x = x0; x <= x1; ++x) {
    long change = 0;
    for (int y = y0; y <= y1; ++y) {
      change += pixel_distance(before.at(x, y), after.at(x, y));
    }
    if (change > best) {
      best = change;
      best_x = x;
    }
  }
  return best_x;
}

Image reference_image(int width, int height, double scale, const morvane_view& view, bool stereo)
{
  Image img;
  img._width = width;
  img._height = height;
  img._px.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_t* cr = cairo_create(surface);
  morvane_layout layout;
  morvane_layout_compute(&layout, width, height, scale, stereo);
  morvane_draw(cr, &layout, &view);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      img._px[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = row[x] & 0xffffffu;
    }
  }
  cairo_surface_destroy(surface);
  return img;
}

double fraction_differing(const Image& a, const Image& b, int tolerance)
{
  if (a._width != b._width || a._height != b._height || a._px.empty()) {
    return 1.0;
  }
  size_t differing = 0;
  for (size_t i = 0; i < a._px.size(); ++i) {
    differing += pixel_distance(a._px[i], b._px[i]) > tolerance ? 1 : 0;
  }
  return static_cast<double>(differing) / static_cast<double>(a._px.size());
}

int x_error_count()
{
  return g_x_errors;
}

std::vector<float> sine(double hz, double dbfs, double seconds, double rate)
{
  const double amp = std::pow(10.0, dbfs / 20.0);
  std::vector<float> s(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<float>(amp * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate));
  }
  return s;
}

// The host window ---------------------------------------------------------------

UiHost::UiHost(PluginHost* plugin, double scale, int x, int y, bool offer_touch, bool stereo)
    : _plugin(plugin),
      _stereo(stereo || (plugin != nullptr && plugin->ok() &&
                         std::strcmp(plugin->descriptor()->URI, MORVANE_STEREO_URI) == 0)),
      _scale(static_cast<float>(scale))
{
  LilvTestWorld& w = LilvTestWorld::get();
  if (w.ui_uri().empty()) {
    return;
  }
  _display = XOpenDisplay(nullptr);
  if (_display == nullptr) {
    return;
  }
  XSetErrorHandler(count_x_error);
  const int screen = DefaultScreen(_display);
  const auto width = static_cast<unsigned>(std::lround(MORVANE_VIEW_DEFAULT_WIDTH * scale));
  const auto height = static_cast<unsigned>(std::lround(MORVANE_VIEW_DEFAULT_HEIGHT * scale));
  _parent = XCreateSimpleWindow(_display, RootWindow(_display, screen), x, y, width, height, 0,
                                BlackPixel(_display, screen), BlackPixel(_display, screen));
  XMapWindow(_display, _parent);
  // The pointer out of the way, in the screen's far corner, so that no knob
  // of the new window starts out hovered.
  XTestFakeMotionEvent(_display, screen, DisplayWidth(_display, screen) - 1, DisplayHeight(_display, screen) - 1,
                       CurrentTime);
  XSync(_display, False);

  _host = suil_host_new(suil_write, suil_index, nullptr, nullptr);
  if (offer_touch) {
    suil_host_set_touch_func(_host, suil_touch);
  }
  _resize = LV2UI_Resize{this, host_resize};
  _options[0] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, w.urids().id(LV2_UI__scaleFactor), sizeof(float),
                                   w.urids().id(LV2_ATOM__Float), &_scale};
  _options[1] = LV2_Options_Option{LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};

  const LV2_Feature parent_feature{LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(_parent))};
  const LV2_Feature map_feature{LV2_URID__map, w.urids().map()};
  const LV2_Feature resize_feature{LV2_UI__resize, &_resize};
  const LV2_Feature idle_feature{LV2_UI__idleInterface, nullptr};
  const LV2_Feature options_feature{LV2_OPTIONS__options, _options};
  const LV2_Feature* features[] = {&parent_feature, &map_feature, &resize_feature, &idle_feature,
                                   &options_feature, nullptr};
  // The stereo plug-in's window: the same binary's other descriptor.
  const std::string ui_uri = _stereo ? std::string(MORVANE_STEREO_URI "#ui") : w.ui_uri();
  _instance = suil_instance_new(_host, this, LV2_UI__X11UI, _stereo ? MORVANE_STEREO_URI : MORVANE_URI,
                                ui_uri.c_str(), w.ui_type_uri().c_str(), w.ui_bundle_path().c_str(),
                                w.ui_binary_path().c_str(), features);
  if (_instance == nullptr) {
    return;
  }
  _widget = static_cast<Window>(reinterpret_cast<uintptr_t>(suil_instance_get_widget(_instance)));
  _idle = static_cast<const LV2UI_Idle_Interface*>(
      suil_instance_extension_data(_instance, LV2_UI__idleInterface));
  // A host tells a new window every control value of its plug-in.
  for (uint32_t i = 0; i < (_stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS); ++i) {
    const float value = _plugin != nullptr ? _plugin->controls()[i] : morvane_controls[i]._default;
    suil_instance_port_event(_instance, morvane_controls[i]._port, sizeof value, 0, &value);
  }
}

UiHost::~UiHost()
{
  close();
  if (_host != nullptr) {
    suil_host_free(_host);
  }
  if (_display != nullptr) {
    destroy_parent();
    XSync(_display, False);
    XCloseDisplay(_display);
  }
}

void UiHost::destroy_parent()
{
  if (_parent != 0) {
    XDestroyWindow(_display, _parent);
    XSync(_display, False);
    _parent = 0;
  }
}

void UiHost::close()
{
  if (_instance != nullptr) {
    suil_instance_free(_instance);
    _instance = nullptr;
    _idle = nullptr;
    _widget = 0;
    XSync(_display, False);
  }
}

int UiHost::idle()
{
  if (_instance == nullptr || _idle == nullptr) {
    return -1;
  }
  return _idle->idle(suil_instance_get_handle(_instance));
}

void UiHost::pump(int ms)
{
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    idle();
    XSync(_display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
  } while (std::chrono::steady_clock::now() < end);
  idle();
  XSync(_display, False);
}

void UiHost::set_control(uint32_t port, float value)
{
  const int row = morvane_control_row(port);
  if (_plugin != nullptr && row >= 0) {
    _plugin->controls()[static_cast<uint32_t>(row)] = value;
  }
  if (_instance != nullptr) {
    suil_instance_port_event(_instance, port, sizeof value, 0, &value);
  }
}

void UiHost::send_port_event(uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
  if (_instance != nullptr) {
    suil_instance_port_event(_instance, port, size, format, buffer);
  }
}

bool UiHost::resize_through_extension(int width, int height)
{
  if (_instance == nullptr) {
    return false;
  }
  const auto* resize =
      static_cast<const LV2UI_Resize*>(suil_instance_extension_data(_instance, LV2_UI__resize));
  if (resize == nullptr || resize->ui_resize == nullptr) {
    return false;
  }
  XResizeWindow(_display, _parent, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XSync(_display, False);
  return resize->ui_resize(suil_instance_get_handle(_instance), width, height) == 0;
}

void UiHost::run_audio(const std::vector<float>& signal)
{
  const morvane_uris& uris = LilvTestWorld::get().uris();
  uint32_t blocks = 0;
  if (_plugin == nullptr || !_plugin->ok()) {
    return;
  }
  const size_t block = _plugin->max_block();
  for (size_t pos = 0; pos < signal.size(); pos += block) {
    const auto n = static_cast<uint32_t>(std::min(block, signal.size() - pos));
    std::copy_n(signal.data() + pos, n, _plugin->in_l().begin());
    std::copy_n(signal.data() + pos, n, _plugin->in_r().begin());
    _plugin->run(n);
    _plugin->notify().for_each_event(uris, [&](const LV2_Atom* atom, uint32_t size) {
      if (_instance != nullptr) {
        suil_instance_port_event(_instance, MORVANE_NOTIFY, size, uris._atom_eventTransfer, atom);
      }
    });
    if (++blocks % 8 == 0) {
      idle();
    }
  }
}

void UiHost::resize(int width, int height)
{
  XResizeWindow(_display, _parent, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (_widget != 0) {
    XResizeWindow(_display, _widget, static_cast<unsigned>(width), static_cast<unsigned>(height));
  }
  XSync(_display, False);
}

std::pair<int, int> UiHost::widget_size() const
{
  XWindowAttributes attrs{};
  if (_widget == 0 || XGetWindowAttributes(_display, _widget, &attrs) == 0) {
    return {0, 0};
  }
  return {attrs.width, attrs.height};
}

Image UiHost::capture() const
{
  Image img;
  const auto [width, height] = widget_size();
  if (width <= 0 || height <= 0) {
    return img;
  }
  XImage* ximage = XGetImage(_display, _widget, 0, 0, static_cast<unsigned>(width),
                             static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (ximage == nullptr) {
    return img;
  }
  img._width = width;
  img._height = height;
  img._px.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      img._px[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] =
          static_cast<uint32_t>(XGetPixel(ximage, x, y)) & 0xffffffu;
    }
  }
  XDestroyImage(ximage);
  return img;
}

std::pair<int, int> UiHost::to_root(double x, double y) const
{
  int rx = 0, ry = 0;
  Window child = 0;
  XTranslateCoordinates(_display, _widget, DefaultRootWindow(_display), static_cast<int>(std::lround(x)),
                        static_cast<int>(std::lround(y)), &rx, &ry, &child);
  return {rx, ry};
}

void UiHost::on_write(uint32_t port, uint32_t size, uint32_t protocol, const void* buffer)
{
  const morvane_uris& uris = LilvTestWorld::get().uris();
  const int row = morvane_control_row(port);
  if (protocol == 0 && size == sizeof(float) && row >= 0) {
    float value;
    std::memcpy(&value, buffer, sizeof value);
    _events.push_back(UiEvent{UiEvent::WRITE, port, value});
    if (_plugin != nullptr) {
      _plugin->controls()[static_cast<uint32_t>(row)] = value;
    }
  } else if (protocol == uris._atom_eventTransfer && port == MORVANE_CONTROL && size >= sizeof(LV2_Atom)) {
    const int kind = morvane_window_message_read(&uris, buffer, size);
    _events.push_back(UiEvent{UiEvent::MESSAGE, port, static_cast<float>(kind)});
    if (_plugin != nullptr) {
      _plugin->control().append(buffer, size);
    }
  } else {
    // Anything else is a fault of the window: logged as a message of
    // unknown kind, which the tests refuse.
    _events.push_back(UiEvent{UiEvent::MESSAGE, port, -1.0f});
  }
}

void UiHost::on_touch(uint32_t port, bool grabbed)
{
  _events.push_back(UiEvent{grabbed ? UiEvent::TOUCH_BEGIN : UiEvent::TOUCH_END, port, 0.0f});
}

void UiHost::on_resize(int width, int height)
{
  _size_requests.emplace_back(width, height);
  if (_display != nullptr && _parent != 0) {
    XResizeWindow(_display, _parent, static_cast<unsigned>(width), static_cast<unsigned>(height));
  }
}

// XTest -----------------------------------------------------------------------------

void fake_motion(UiHost& host, double x, double y)
{
  const auto [rx, ry] = host.to_root(x, y);
  XTestFakeMotionEvent(host.display(), DefaultScreen(host.display()), rx, ry, CurrentTime);
  XSync(host.display(), False);
}

void fake_button(UiHost& host, unsigned button, bool press)
{
  XTestFakeButtonEvent(host.display(), button, press ? True : False, CurrentTime);
  XSync(host.display(), False);
}
