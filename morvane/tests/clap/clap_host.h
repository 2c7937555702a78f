/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tests' CLAP host: morvane.clap loaded with dlopen as hosts load it,
// one plug-in instance driven with stereo buffers, parameter and transport
// events at chosen samples, and the state through memory streams.
#ifndef MORVANE_TESTS_CLAP_HOST_H
#define MORVANE_TESTS_CLAP_HOST_H

#include <cstdint>
#include <vector>

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/plugin-factory.h>
#include <clap/plugin.h>

// The file, loaded and its entry initialised once for the program.
const clap_plugin_factory_t* clap_test_factory();

class ClapInstance {
public:
  // The plug-in `id` made by the factory; ok() is false when it cannot be.
  explicit ClapInstance(const char* id);
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
    clap_event_transport_t transport;
  };

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
};

// A transport at `seconds` and `beats` (quarter notes), playing or not, at
// `bpm` in 4/4, every timeline flag set.
clap_event_transport_t clap_transport(double seconds, double beats, double bpm, bool playing);

#endif  // MORVANE_TESTS_CLAP_HOST_H
