/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The tests' VST3 host: a bundle's module loaded with dlopen as hosts load
// it, one plug-in instance driven with stereo buffers, parameter changes
// at chosen samples, a process context, the state through memory streams,
// and a component handler that records what the plug-in tells the host.
#ifndef MORVANE_TESTS_VST3_HOST_H
#define MORVANE_TESTS_VST3_HOST_H

#include <cstdint>
#include <utility>
#include <vector>

#include <travesty/audio_processor.h>
#include <travesty/component.h>
#include <travesty/edit_controller.h>
#include <travesty/factory.h>
#include <travesty/unit.h>
#include <travesty/view.h>

// The factory of a bundle's module (loaded once for the program, kept to
// its end); null when it cannot be loaded.
v3_plugin_factory** vst3_test_factory(bool stereo);

// A bundle's module loaded for a while, unloaded (ModuleExit, dlclose)
// when this goes, as hosts unload modules nobody uses.
class Vst3Module {
public:
  explicit Vst3Module(bool stereo);
  ~Vst3Module();
  Vst3Module(const Vst3Module&) = delete;
  Vst3Module& operator=(const Vst3Module&) = delete;
  v3_plugin_factory** factory() const { return _factory; }

private:
  void* _handle = nullptr;
  v3_plugin_factory** _factory = nullptr;
};

// Whether the module is mapped in the process.
bool vst3_module_loaded(bool stereo);

class Vst3Instance {
public:
  // The one class of the mono or stereo bundle (from `factory`, else the
  // program's); ok() is false when it cannot be made or lacks an
  // interface.
  explicit Vst3Instance(bool stereo, v3_plugin_factory** factory = nullptr);
  ~Vst3Instance();
  Vst3Instance(const Vst3Instance&) = delete;
  Vst3Instance& operator=(const Vst3Instance&) = delete;

  bool ok() const
  {
    return _component != nullptr && _processor != nullptr && _controller != nullptr && _units != nullptr;
  }
  v3_component* component() const { return v3_cpp_obj(_component); }
  v3_audio_processor* processor() const { return v3_cpp_obj(_processor); }
  v3_edit_controller* controller() const { return v3_cpp_obj(_controller); }
  v3_unit_information* units() const { return v3_cpp_obj(_units); }
  void* component_self() const { return _component; }
  void* processor_self() const { return _processor; }
  void* controller_self() const { return _controller; }
  void* units_self() const { return _units; }

  // std::srand(seed), then setupProcessing (the engines draw their phase
  // offsets) and activation.
  bool activate(double rate, int32_t max_frames, unsigned seed);
  void deactivate();

  // A change of parameter id to a normalized value at sample `offset` of
  // the next block.
  void param(int32_t offset, v3_param_id id, double normalized);
  // The process context of the following blocks (null: none).
  void context(const v3_process_context* ctx) { _ctx = ctx; }

  // One block of n samples; the queued changes are consumed.
  v3_result process(const float* in_l, const float* in_r, float* out_l, float* out_r, int32_t n);

  // The controller's plain value of a parameter.
  double value(v3_param_id id) const;
  double normalized(v3_param_id id, double plain) const;
  std::vector<uint8_t> save() const;
  bool load(const std::vector<uint8_t>& bytes);

  // The editor view in X11 window `parent` at `scale`, with a plug frame
  // whose run loop keeps the timers the view registers; false when any
  // step fails.
  bool open_window(unsigned long parent, float scale = 1.0f);
  void close_window();
  // The component handler taken back, as from a host that sets none.
  void drop_handler() { controller()->set_component_handler(_controller, nullptr); }
  // The registered timers fire once.
  void timer();
  std::size_t timers() const { return timer_handlers.size(); }
  v3_plugin_view** view() const { return _view; }

  // What the plug-in told the host's component handler: edits (id,
  // normalized value), gestures (+1 begin, -1 end, id) and restart flags,
  // ORed; the sizes its view asked its frame for.
  std::vector<std::pair<v3_param_id, double>> edits;
  std::vector<std::pair<int, v3_param_id>> gestures;
  int32_t restarts = 0;
  std::vector<std::pair<int32_t, int32_t>> resize_requests;
  std::vector<v3_timer_handler**> timer_handlers;
  // The output parameter changes of the last block: (id, normalized value).
  std::vector<std::pair<v3_param_id, double>> outputs;

  struct Queue;
  struct Changes;
  struct Handler;
  struct Frame;

private:
  v3_component** _component = nullptr;
  v3_audio_processor** _processor = nullptr;
  v3_edit_controller** _controller = nullptr;
  v3_unit_information** _units = nullptr;
  bool _active = false;
  const v3_process_context* _ctx = nullptr;
  Changes* _in;
  Changes* _out;
  Handler* _handler;
  Frame* _frame;
  v3_plugin_view** _view = nullptr;
};

// A process context at `samples` and `quarters`, playing or not, at `bpm`
// in 4/4, the bar's start the last multiple of four quarters; every flag
// but the cycle's set.
v3_process_context vst3_context(int64_t samples, double quarters, double bpm, bool playing);

#endif  // MORVANE_TESTS_VST3_HOST_H
