// SPDX-License-Identifier: LGPL-2.1-or-later
// What the window sends the X server: nothing while nothing shown changes,
// only the rectangles that changed when a frame moves a little, and a new
// picture at a new size when the host changes the scale factor through the
// options interface. The window is driven by a host of this file's own that
// loads morvane_ui.so directly, so that it can reach the window's extension
// data (its upload counts, its options interface) by the window's handle.
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <lv2/atom/forge.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include "draw.h"
#include "frame.h"
#include "lilv_world.h"
#include "ui_stats.h"

// Xlib after the LV2 headers, whose declarations its macros would break.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The window in a top-level X window of this host, on the display in
// DISPLAY.
class DirectUi {
public:
  explicit DirectUi(float scale = 1.0f)
  {
    LilvTestWorld& world = LilvTestWorld::get();
    _display = XOpenDisplay(nullptr);
    if (_display == nullptr || world.ui_binary_path().empty()) {
      return;
    }
    // The pointer far from the window: no knob is hovered.
    XWarpPointer(_display, None, DefaultRootWindow(_display), 0, 0, 0, 0, 1279, 1023);
    _parent = XCreateSimpleWindow(_display, DefaultRootWindow(_display), 0, 0, 900, 540, 0, 0, 0);
    XMapWindow(_display, _parent);
    XSync(_display, False);
    _object = dlopen(world.ui_binary_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (_object == nullptr) {
      return;
    }
    auto entry = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(_object, "lv2ui_descriptor"));
    _descriptor = entry != nullptr ? entry(0) : nullptr;
    if (_descriptor == nullptr) {
      return;
    }
    LV2_URID_Map* map = world.urids().map();
    _scale = scale;
    _options[0] = {LV2_OPTIONS_INSTANCE, 0, map->map(map->handle, LV2_UI__scaleFactor), sizeof(float),
                   map->map(map->handle, LV2_ATOM__Float), &_scale};
    _options[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    _resize = {this, [](LV2UI_Feature_Handle h, int w, int ht) {
                 static_cast<DirectUi*>(h)->_size_requests.emplace_back(w, ht);
                 return 0;
               }};
    const LV2_Feature parent = {LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(_parent))};
    const LV2_Feature map_feature = {LV2_URID__map, map};
    const LV2_Feature resize = {LV2_UI__resize, &_resize};
    const LV2_Feature options = {LV2_OPTIONS__options, _options};
    const LV2_Feature* features[] = {&parent, &map_feature, &resize, &options, nullptr};
    LV2UI_Widget widget = nullptr;
    _handle = _descriptor->instantiate(_descriptor, MORVANE_URI, world.ui_bundle_path().c_str(),
                                       [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {}, this,
                                       &widget, features);
    _widget = static_cast<Window>(reinterpret_cast<uintptr_t>(widget));
    if (_handle != nullptr) {
      _idle = static_cast<const LV2UI_Idle_Interface*>(_descriptor->extension_data(LV2_UI__idleInterface));
      _counter = static_cast<const morvane_ui_upload_counter*>(_descriptor->extension_data(MORVANE_UI__uploadCounts));
    }
  }
  ~DirectUi()
  {
    if (_handle != nullptr) {
      _descriptor->cleanup(_handle);
    }
    if (_display != nullptr) {
      XDestroyWindow(_display, _parent);
      XCloseDisplay(_display);
    }
    // The window's object stays loaded (-z nodelete); closing the handle is
    // all a host does.
    if (_object != nullptr) {
      dlclose(_object);
    }
  }
  DirectUi(const DirectUi&) = delete;
  DirectUi& operator=(const DirectUi&) = delete;

  bool ok() const { return _handle != nullptr && _idle != nullptr && _counter != nullptr; }
  const LV2UI_Descriptor* descriptor() const { return _descriptor; }
  LV2UI_Handle handle() const { return _handle; }
  const std::vector<std::pair<int, int>>& size_requests() const { return _size_requests; }

  // Idle calls every 5 ms for `ms` milliseconds, as a host's timer.
  void pump(int ms)
  {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      _idle->idle(_handle);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    XSync(_display, False);
  }

  void send_frame(const morvane_frame& frame)
  {
    const morvane_uris& uris = LilvTestWorld::get().uris();
    alignas(8) uint8_t buf[8192];
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, LilvTestWorld::get().urids().map());
    lv2_atom_forge_set_buffer(&forge, buf, sizeof buf);
    ASSERT_TRUE(morvane_frame_forge(&forge, &uris, &frame));
    const auto* atom = reinterpret_cast<const LV2_Atom*>(buf);
    _descriptor->port_event(_handle, MORVANE_NOTIFY, static_cast<uint32_t>(sizeof(LV2_Atom) + atom->size),
                            uris._atom_eventTransfer, atom);
  }

  morvane_ui_upload_counts counts() const
  {
    morvane_ui_upload_counts c{};
    _counter->read(_handle, &c);
    return c;
  }

  std::pair<int, int> size() const
  {
    XWindowAttributes a{};
    XGetWindowAttributes(_display, _widget, &a);
    return {a.width, a.height};
  }

  // The window's pixels, 0x00RRGGBB.
  std::vector<uint32_t> pixels(int w, int h) const
  {
    std::vector<uint32_t> out(static_cast<size_t>(w) * static_cast<size_t>(h));
    XImage* image = XGetImage(_display, _widget, 0, 0, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes,
                              ZPixmap);
    if (image == nullptr) {
      return {};
    }
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        out[static_cast<size_t>(y * w + x)] = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffffu;
      }
    }
    XDestroyImage(image);
    return out;
  }

private:
  Display* _display = nullptr;
  Window _parent = 0;
  Window _widget = 0;
  void* _object = nullptr;
  const LV2UI_Descriptor* _descriptor = nullptr;
  LV2UI_Handle _handle = nullptr;
  const LV2UI_Idle_Interface* _idle = nullptr;
  const morvane_ui_upload_counter* _counter = nullptr;
  float _scale = 1.0f;
  LV2_Options_Option _options[2]{};
  LV2UI_Resize _resize{};
  std::vector<std::pair<int, int>> _size_requests;
};

// Resonators on a harmonic series, the output silent (the meter stays empty).
morvane_frame harmonic_frame()
{
  morvane_frame f{};
  for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
    const float hz = 110.0f * static_cast<float>(k + 1);
    const float amp = 0.3f / static_cast<float>(k + 1);
    f._analysed_freqs[k] = hz;
    f._analysed_amps[k] = amp;
    f._shaken_freqs[k] = hz * 1.01f;
    f._shaken_amps[k] = amp * 0.8f;
  }
  f._sample_rate = 48000.0f;
  f._audible = MORVANE_NUM_PARTIALS;
  return f;
}

#define REQUIRE_WINDOW(ui)                                                          \
  ASSERT_FALSE(LilvTestWorld::get().ui_binary_path().empty()) << "no window in the bundle"; \
  ASSERT_TRUE((ui).ok()) << "the window did not open"

TEST(UiRepaint, SendsNothingWhileTheFrameStaysTheSame)
{
  DirectUi ui;
  REQUIRE_WINDOW(ui);
  const morvane_frame f = harmonic_frame();
  ui.send_frame(f);
  ui.pump(200);
  const morvane_ui_upload_counts first = ui.counts();
  EXPECT_GE(first._bytes, 900u * 540u * 4u);
  for (int i = 0; i < 10; ++i) {
    ui.send_frame(f);
    ui.pump(20);
  }
  const morvane_ui_upload_counts later = ui.counts();
  EXPECT_EQ(later._bytes, first._bytes);
  EXPECT_EQ(later._repaints, first._repaints);
}

TEST(UiRepaint, OneMovedPartialSendsItsStripAndTheWindowShowsTheNewFrame)
{
  DirectUi ui;
  REQUIRE_WINDOW(ui);
  morvane_frame f = harmonic_frame();
  ui.send_frame(f);
  ui.pump(200);
  const morvane_ui_upload_counts before = ui.counts();
  f._shaken_amps[20] *= 3.0f;
  f._shaken_freqs[20] *= 1.03f;
  ui.send_frame(f);
  ui.pump(100);
  const morvane_ui_upload_counts after = ui.counts();
  const uint64_t sent = after._bytes - before._bytes;
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, 900u * 540u * 4u / 50u);
  EXPECT_EQ(after._still, before._still);

  // What the server shows is the whole picture of the new frame.
  morvane_view view{};
  view._frame = &f;
  for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
    view._controls[p] = morvane_controls[p]._default;
  }
  view._meter_db = -INFINITY;
  view._active_control = -1;
  morvane_layout layout;
  morvane_layout_compute(&layout, 900, 540, 1.0);
  cairo_surface_t* expected = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 900, 540);
  cairo_t* cr = cairo_create(expected);
  morvane_draw(cr, &layout, &view);
  cairo_destroy(cr);
  cairo_surface_flush(expected);
  const std::vector<uint32_t> shown = ui.pixels(900, 540);
  ASSERT_EQ(shown.size(), 900u * 540u);
  const unsigned char* data = cairo_image_surface_get_data(expected);
  const int stride = cairo_image_surface_get_stride(expected);
  int differing = 0;
  for (int y = 0; y < 540; ++y) {
    for (int x = 0; x < 900; ++x) {
      uint32_t p;
      std::memcpy(&p, data + y * stride + 4 * x, sizeof p);
      differing += (p & 0xffffffu) != shown[static_cast<size_t>(y * 900 + x)];
    }
  }
  cairo_surface_destroy(expected);
  EXPECT_EQ(differing, 0);
}

TEST(UiRepaint, MeterBelowItsScaleStopsTheRepaints)
{
  DirectUi ui;
  REQUIRE_WINDOW(ui);
  morvane_frame f = harmonic_frame();
  // -58.4 dBFS: lit, below the scale's -60 within a tenth of a second of
  // its half-second hold.
  f._output_peak = 0.0012f;
  ui.send_frame(f);
  ui.pump(900);
  const morvane_ui_upload_counts rested = ui.counts();
  ui.pump(500);
  EXPECT_EQ(ui.counts()._repaints, rested._repaints);
  EXPECT_EQ(ui.counts()._bytes, rested._bytes);
}

TEST(UiRepaint, ScaleFactorSetThroughTheOptionsInterfaceResizesAndRedraws)
{
  DirectUi ui;
  REQUIRE_WINDOW(ui);
  ui.pump(100);
  ASSERT_EQ(ui.size(), std::make_pair(900, 540));
  const auto* iface =
      static_cast<const LV2_Options_Interface*>(ui.descriptor()->extension_data(LV2_OPTIONS__interface));
  ASSERT_NE(iface, nullptr);
  LV2_URID_Map* map = LilvTestWorld::get().urids().map();
  float scale = 2.0f;
  LV2_Options_Option options[2] = {{LV2_OPTIONS_INSTANCE, 0, map->map(map->handle, LV2_UI__scaleFactor),
                                    sizeof(float), map->map(map->handle, LV2_ATOM__Float), &scale},
                                   {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  const uint64_t stills = ui.counts()._still;
  EXPECT_EQ(iface->set(ui.handle(), options), static_cast<uint32_t>(LV2_OPTIONS_SUCCESS));
  ui.pump(100);
  EXPECT_EQ(ui.size(), std::make_pair(1800, 1080));
  ASSERT_FALSE(ui.size_requests().empty());
  EXPECT_EQ(ui.size_requests().back(), std::make_pair(1800, 1080));
  EXPECT_GT(ui.counts()._still, stills);
  // A scale no screen has is refused and changes nothing.
  scale = 100.0f;
  EXPECT_EQ(iface->set(ui.handle(), options), static_cast<uint32_t>(LV2_OPTIONS_ERR_BAD_VALUE));
  ui.pump(50);
  EXPECT_EQ(ui.size(), std::make_pair(1800, 1080));
}

}  // namespace
