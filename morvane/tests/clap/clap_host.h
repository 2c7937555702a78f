/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tests' CLAP host: morvane.clap loaded with dlopen as hosts load it,
// one plug-in instance driven with stereo buffers, parameter and transport
// events at chosen samples, and the state through memory streams; the
// plug-in's window in an X11 window of the test's, driven by the host's
// timer, and what the plug-in sends the host (output events, flush and
// resize requests) recorded.
#ifndef MORVANE_TESTS_CLAP_HOST_H
#define MORVANE_TESTS_CLAP_HOST_H

#include <cstdint>
#include <utility>
#include <vector>

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/ext/timer-support.h>
#include <clap/plugin-factory.h>
#include <clap/plugin.h>

// morvane.clap loaded and its entry initialised; unloaded (its entry
// deinitialised) when destroyed unless `resident`.
class ClapFile {
public:
  explicit ClapFile(bool resident);
  ~ClapFile();
  ClapFile(const ClapFile&) = delete;
  ClapFile& operator=(const ClapFile&) = delete;
  const clap_plugin_factory_t* factory() const { return _factory; }

private:
  void* _handle = nullptr;
  const clap_plugin_entry_t* _entry = nullptr;
  const clap_plugin_factory_t* _factory = nullptr;
};

// Whether morvane.clap is mapped in the process.
bool clap_file_loaded();

// The file, loaded and its entry initialised once for the program, and
// kept loaded to its end.
const clap_plugin_factory_t* clap_test_factory();

class ClapInstance {
public:
  // The plug-in `id` made by `factory`; ok() is false when it cannot be.
  explicit ClapInstance(const char* id, const clap_plugin_factory_t* factory = clap_test_factory());
  ~ClapInstance();
  ClapInstance(const ClapInstance&) = delete;
  ClapInstance& operator=(const ClapInstance&) = delete;

  bool ok() const { return _plugin != nullptr && _params != nullptr && _state != nullptr; }
  const clap_plugin_t* plugin() const { return _plugin; }
  const clap_plugin_params_t* params() const { return _params; }
  const clap_plugin_audio_ports_t* audio_ports() const { return _ports; }

  // std::srand(seed), then activate: the engines draw their phase offsets.
  bool activate(double rate, uint32_t max_frames, unsigned seed);
  void deactivate();

  // Events for the next process, at sample `time` of its block.
  void param(uint32_t time, clap_id id, double value);
  void transport(uint32_t time, const clap_event_transport_t& t);
  // The queued parameter events through the parameters' flush, as hosts
  // set an instance that does not process.
  void flush();
  // The transport every following block carries (null: none).
  void block_transport(const clap_event_transport_t* t) { _block_transport = t; }

  // One block of n samples; the queued events are consumed.
  clap_process_status process(const float* in_l, const float* in_r, float* out_l, float* out_r, uint32_t n);

  double value(clap_id id) const;
  std::vector<uint8_t> save() const;
  bool load(const std::vector<uint8_t>& bytes);

  union Event {
    clap_event_header_t header;
    clap_event_param_value_t param;
    clap_event_param_gesture_t gesture;
    clap_event_transport_t transport;
  };

  // The window, in X11 window `parent` at `scale`, as hosts make it:
  // create, set_scale, get_size, set_parent, show. False when any step fails.
  bool open_window(unsigned long parent, double scale = 1.0);
  // The plug-in's gui, once open_window asked for it.
  const clap_plugin_gui_t* gui() const { return _gui; }
  // The window's size as get_size says it.
  std::pair<uint32_t, uint32_t> window_size() const;
  void close_window();
  // The host's timers fire once.
  void timer();
  // The start and stop of processing, as hosts say them around blocks.
  void processing(bool on);

  // What the plug-in sent: its output events (of process and flush), and
  // its requests.
  const std::vector<Event>& output() const { return _output; }
  void clear_output() { _output.clear(); }
  int flush_requests() const { return _flush_requests; }
  const std::vector<std::pair<uint32_t, uint32_t>>& resize_requests() const { return _resize_requests; }
  // Timers the plug-in holds.
  std::size_t timers() const { return _timers.size(); }

  // Host side, for its extensions.
  bool take_output(const clap_event_header_t* e);
  bool register_timer(uint32_t period_ms, clap_id* id);
  bool unregister_timer(clap_id id);
  void request_flush() { ++_flush_requests; }
  void request_resize(uint32_t width, uint32_t height) { _resize_requests.emplace_back(width, height); }

private:
  void queue(const Event& e);

  clap_host_t _host{};
  const clap_plugin_t* _plugin = nullptr;
  const clap_plugin_params_t* _params = nullptr;
  const clap_plugin_state_t* _state = nullptr;
  const clap_plugin_audio_ports_t* _ports = nullptr;
  bool _active = false;
  std::vector<Event> _events;
  const clap_event_transport_t* _block_transport = nullptr;
  int64_t _steady = 0;
  const clap_plugin_gui_t* _gui = nullptr;
  const clap_plugin_timer_support_t* _timer_support = nullptr;
  bool _window = false;
  std::vector<Event> _output;  // reserved: recording never allocates in a block
  std::vector<clap_id> _timers;
  clap_id _next_timer = 1;
  int _flush_requests = 0;
  std::vector<std::pair<uint32_t, uint32_t>> _resize_requests;
};

// A transport at `seconds` and `beats` (quarter notes), playing or not, at
// `bpm` in 4/4, every timeline flag set.
clap_event_transport_t clap_transport(double seconds, double beats, double bpm, bool playing);

#endif  // MORVANE_TESTS_CLAP_HOST_H
