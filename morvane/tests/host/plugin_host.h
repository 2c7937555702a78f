/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tests' one way to load and run the plug-in: an instance made by lilv
// from the test world, driven with buffers the host owns, with the window's
// data path (URID map, atom ports, inline display) offered or not.
#ifndef MORVANE_TESTS_HOST_PLUGIN_HOST_H
#define MORVANE_TESTS_HOST_PLUGIN_HOST_H

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>

#include "atom_buffer.h"
#include "frame.h"
#include "inline_display.h"
#include "lilv_world.h"
#include "morvane_internal.h"

// Control values in port units (dB, Hz, percent), indexed by the control
// table's row: the port index for ports 0 to 24, control_row() for the
// ports after the atom ports. The mono plug-in connects the first
// MORVANE_NUM_CONTROLS, the stereo one all.
using Controls = std::array<float, MORVANE_NUM_STEREO_CONTROLS>;

// The row of control port `port` (which must be one).
inline uint32_t control_row(uint32_t port)
{
  return static_cast<uint32_t>(morvane_control_row(port));
}

// The defaults of the table the plug-in clamps to.
Controls default_controls();

// The inline display's queue_draw feature, counting the calls (from any
// thread: the plug-in calls it from run).
struct QueueDrawCounter {
  std::atomic<int> calls{0};
  morvane_inline_queue_draw feature{this, [](void* h) { static_cast<QueueDrawCounter*>(h)->calls++; }};
};

// What a host offers and connects besides the audio and control ports.
struct HostSetup {
  std::size_t max_block = 8192;  // samples a run may take
  bool stereo = false;           // the stereo plug-in instead of the mono one
  // std::srand(seed) before instantiate: hosts made with the same seed hold
  // engines with the same random phase offsets.
  unsigned seed = 1;
  bool offer_urid_map = false;    // the world's map, as LV2_URID__map
  bool offer_queue_draw = false;  // the inline display's queue_draw, counted
  bool connect_atom_ports = false;  // control (in) and notify (out)
  uint32_t control_capacity = 1024;  // body bytes of each atom buffer
  uint32_t notify_capacity = 8192;
  // The type written in the notify port before each run: atom:Chunk (as
  // jalv does) or atom:Sequence.
  bool notify_offered_as_chunk = false;
};

// One plug-in instance through lilv, activated, with its own control values
// and audio buffers (and atom buffers) connected. Made and run on one
// thread at a time; run is real-time safe (no allocation, no lock).
class PluginHost {
public:
  // As every host before the window: nothing offered, no atom port.
  PluginHost(double rate, std::size_t max_block, unsigned seed = 1);
  PluginHost(double rate, const HostSetup& setup);
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  bool ok() const { return _instance != nullptr; }
  double rate() const { return _rate; }
  std::size_t max_block() const { return _setup.max_block; }
  LilvInstance* instance() const { return _instance; }
  LV2_Handle handle() const { return lilv_instance_get_handle(_instance); }
  const LV2_Descriptor* descriptor() const { return lilv_instance_get_descriptor(_instance); }

  Controls& controls() { return _controls; }
  std::vector<float>& in_l() { return _in_l; }
  std::vector<float>& in_r() { return _in_r; }
  std::vector<float>& out_l() { return _out_l; }
  std::vector<float>& out_r() { return _out_r; }
  // Connects any port to any buffer (or null), as a host may.
  void connect(uint32_t port, void* data) { lilv_instance_connect_port(_instance, port, data); }

  // The plug-in's URIDs in the world's map, and the atom buffers.
  const morvane_uris& ids() const { return LilvTestWorld::get().uris(); }
  AtomBuffer& control() { return _control; }
  AtomBuffer& notify() { return _notify; }
  // The window's WindowOpen or WindowClosed message, for the next run.
  bool send_window_message(bool open) { return ::send_window_message(_control, ids(), open); }

  // One run of n <= max_block() samples. With the atom ports connected,
  // as hosts make it: the notify port's capacity offered before, the
  // messages on the control port consumed after.
  void run(uint32_t n);
  // Runs signal through the left input in blocks of `block` samples and
  // returns the left output.
  std::vector<float> process(const std::vector<float>& signal, std::size_t block);
  // Runs left and right through the inputs in blocks of `block` samples and
  // returns both outputs.
  std::array<std::vector<float>, 2> process_stereo(const std::vector<float>& left, const std::vector<float>& right,
                                                   std::size_t block);

  // Runs after which the notify port held an event.
  long runs_with_notify_events() const { return _runs_with_events; }
  // The inline display's queue_draw calls so far.
  int queue_draws() const { return _queue_draw.calls.load(); }

private:
  double _rate;
  HostSetup _setup;
  Controls _controls;
  std::vector<float> _in_l, _in_r, _out_l, _out_r;
  AtomBuffer _control, _notify;
  QueueDrawCounter _queue_draw;
  LV2_Feature _map_feature{};
  LV2_Feature _queue_draw_feature{};
  const LV2_Feature* _features[3] = {};
  LV2_URID _chunk;  // atom:Chunk in the world's map
  LilvInstance* _instance = nullptr;
  long _runs_with_events = 0;
};

// A deterministic test signal: three partials (220, 660 and 1500 Hz at
// 48 kHz) with a slow swell, plus a little noise from a fixed generator.
std::vector<float> test_signal(std::size_t n, double rate = 48000.0);

#endif  // MORVANE_TESTS_HOST_PLUGIN_HOST_H
