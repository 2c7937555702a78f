// SPDX-License-Identifier: LGPL-2.1-or-later
// A host for the window tests, made the way real hosts are: the bundle the
// build made is found through lilv, the plug-in runs with its atom ports
// connected, and the window is embedded with suil into a top-level X window
// of the host's own, on the X server in DISPLAY (Xvfb in the tests).
//
// The host relays as hosts do: the window's writes to control ports become
// the plug-in's control values, its messages on the control port go into
// the next run's input sequence, each run's frames on the notify port go to
// the window, and control values set by the host go to the window as port
// events. Everything the window sends is logged for the tests.
#ifndef MORVANE_TESTS_HOST_UI_HOST_H
#define MORVANE_TESTS_HOST_UI_HOST_H

#include <cstdint>
#include <string>
#include <vector>

#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <suil/suil.h>

#include "draw.h"
#include "plugin_host.h"

// Xlib after the LV2 headers, whose declarations its macros would break.
#include <X11/Xlib.h>

// The plug-in as the window tests run it: 48 kHz in runs of up to 256
// samples, the URID map it shares with the window offered, both atom ports
// connected, the notify port offered as an atom:Chunk as jalv does.
inline constexpr double kWindowTestRate = 48000.0;
inline constexpr HostSetup kWindowTestPlugin{
  .max_block = 256, .offer_urid_map = true, .connect_atom_ports = true, .notify_offered_as_chunk = true};

// A picture read back from the server: 0x00RRGGBB per pixel.
struct Image {
  int _width = 0, _height = 0;
  std::vector<uint32_t> _px;
  uint32_t at(int x, int y) const { return _px[static_cast<size_t>(y) * static_cast<size_t>(_width) + static_cast<size_t>(x)]; }
};

// Largest of the three channel differences of two pixels.
int pixel_distance(uint32_t a, uint32_t b);

// The picture morvane_draw makes for `view` at width x height, as the
// window (the stereo plug-in's with `stereo`) would show it.
Image reference_image(int width, int height, double scale, const morvane_view& view, bool stereo = false);

// The column of `area` (whole pixels inside it) where `after` differs most
// from `before`, summed over the column's pixels; -1 when nothing differs.
// Where a tone shows in the partials view.
int most_changed_column(const Image& before, const Image& after, const morvane_rect& area);

// Fraction of the pixels of a and b (same size) that differ by more than
// `tolerance` in some channel; 1 when the sizes differ.
double fraction_differing(const Image& a, const Image& b, int tolerance);

// X errors seen by the process's handler since the first host opened.
int x_error_count();

// What the window sent, in order.
struct UiEvent {
  enum Kind { WRITE, TOUCH_BEGIN, TOUCH_END, MESSAGE } _kind;
  uint32_t _port;
  float _value;  // WRITE: the value; MESSAGE: 1 WindowOpen, 0 WindowClosed, -1 other
};

// A host window with the plug-in's window embedded in it.
class UiHost {
public:
  // `plugin` may be null for a window alone. The host's window goes at
  // (x, y) of the screen. The stereo plug-in's window opens for a stereo
  // `plugin`, or with `stereo`.
  explicit UiHost(PluginHost* plugin, double scale = 1.0, int x = 0, int y = 0,
                  bool offer_touch = true, bool stereo = false);
  ~UiHost();
  UiHost(const UiHost&) = delete;
  UiHost& operator=(const UiHost&) = delete;

  // Whether it is the stereo plug-in's window.
  bool stereo() const { return _stereo; }
  // Whether the window opened.
  bool ok() const { return _instance != nullptr && _widget != 0; }
  Display* display() const { return _display; }
  Window widget() const { return _widget; }
  Window parent() const { return _parent; }
  const std::vector<UiEvent>& events() const { return _events; }
  void clear_events() { _events.clear(); }
  // The sizes the window asked for through ui:resize.
  const std::vector<std::pair<int, int>>& size_requests() const { return _size_requests; }

  // Calls the window's idle once; returns what it returned.
  int idle();
  // Calls idle repeatedly for `ms` milliseconds, as a host's timer would.
  void pump(int ms);
  // The host sets a control value (automation, a preset): the plug-in's
  // port and the window both hear of it.
  void set_control(uint32_t port, float value);
  // Any port event, as a host (or a faulty one) may send it.
  void send_port_event(uint32_t port, uint32_t size, uint32_t format, const void* buffer);
  // Tells the window its new size through its ui:resize interface; false
  // if it has none.
  bool resize_through_extension(int width, int height);
  // Runs `signal` through the plug-in in blocks, relaying its frames to the
  // window and calling idle every few blocks.
  void run_audio(const std::vector<float>& signal);
  // Resizes the host's window and the embedded one, as a host does.
  void resize(int width, int height);
  // The window's size as the server has it.
  std::pair<int, int> widget_size() const;
  // The window's pixels.
  Image capture() const;
  // Root coordinates of (x, y) in the window.
  std::pair<int, int> to_root(double x, double y) const;
  // Destroys the host's window (and with it the embedded one) while the
  // instance lives on, as some hosts do before they free it.
  void destroy_parent();
  // Closes the window (suil frees the instance and unloads its object).
  void close();

  // The window's write, touch and message log, relayed from suil.
  void on_write(uint32_t port, uint32_t size, uint32_t protocol, const void* buffer);
  void on_touch(uint32_t port, bool grabbed);
  void on_resize(int width, int height);

private:
  PluginHost* _plugin;
  bool _stereo;
  Display* _display = nullptr;
  Window _parent = 0;
  Window _widget = 0;
  SuilHost* _host = nullptr;
  SuilInstance* _instance = nullptr;
  const LV2UI_Idle_Interface* _idle = nullptr;
  float _scale;
  LV2UI_Resize _resize{};
  LV2_Options_Option _options[2]{};
  std::vector<UiEvent> _events;
  std::vector<std::pair<int, int>> _size_requests;
};

// A sine of `hz` at `dbfs` for `seconds` at `rate`.
std::vector<float> sine(double hz, double dbfs, double seconds, double rate);

// Moves the pointer to (x, y) of the window, with XTest, and waits until
// the server has it.
void fake_motion(UiHost& host, double x, double y);
// Presses or releases pointer button `button`, with XTest.
void fake_button(UiHost& host, unsigned button, bool press);

#endif  // MORVANE_TESTS_HOST_UI_HOST_H
