// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's input and meter logic, without X11: how pointer gestures on
// a knob turn into port values (drag, wheel, double-click), and how the
// output meter rises and falls. The window feeds it events and draws what
// it says; the tests drive it directly.
#ifndef MORVANE_UI_KNOB_H
#define MORVANE_UI_KNOB_H

#include <cstdint>
#include <limits>

#include "controls.h"

// Pixels of vertical drag (at scale 1) that sweep a knob's whole range.
constexpr double MORVANE_KNOB_DRAG_PIXELS = 200.0;
// Fraction of the range one wheel notch moves.
constexpr double MORVANE_KNOB_WHEEL_STEP = 0.01;
// Factor by which Shift makes drag and wheel finer.
constexpr double MORVANE_KNOB_FINE = 0.1;
// Two presses on one knob at most this far apart (ms) are a double-click.
constexpr unsigned long MORVANE_KNOB_DOUBLE_CLICK_MS = 300;

// Controls are named by their row of morvane_controls (see controls.h);
// a row's LV2 port index is morvane_controls[row]._port.

// Whether control row `row` has a knob of its own (the reserved range-LFO
// ports and the enumerations have none; the stereo plug-in's Width and
// Offset have, which only its window places).
bool morvane_knob_visible(int row) noexcept;

// Whether row `row` is a stepped knob: an enumeration moved through its
// scale points (a shake LFO's cycle, shown in place of its rate in Tempo).
bool morvane_knob_stepped(int row) noexcept;

// A shake LFO's sync mode (morvane_sync) in `values` (floats by row): the value rounded, as the plug-in takes it.
int morvane_lfo_sync_mode(const float* values, int lfo) noexcept;

// Whether row `row`'s knob is shown with these control values: a visible
// knob or a stepped one, and of an LFO's rate and cycle only the one its
// sync mode uses (the cycle in Tempo, else the rate).
bool morvane_knob_shown(const float* values, int row) noexcept;

// The scale point of row `row` nearest to `value` (nearest in log(value)
// for rows moved on a log scale), or -1 for a row without points.
int morvane_knob_point(uint32_t row, float value) noexcept;

// Position of `value` along row's range in [0, 1]: linear, or linear in
// log(value) for the rows moved on a log scale.
double morvane_knob_position(uint32_t row, float value) noexcept;

// The value at `position` (clamped to [0, 1]) along row's range; the
// inverse of morvane_knob_position.
float morvane_knob_value(uint32_t row, double position) noexcept;

// Where the window's gestures go: a port value written, and the begin and
// end of a gesture (the host's ui:touch). Both take the LV2 port index.
struct morvane_knob_sink {
  void* _handle;
  void (*_write)(void* handle, uint32_t port, float value);
  void (*_touch)(void* handle, uint32_t port, bool grabbed);
};

// X11's pointer buttons as the window sees them.
enum morvane_button { MORVANE_BUTTON_LEFT = 1, MORVANE_BUTTON_WHEEL_UP = 4, MORVANE_BUTTON_WHEEL_DOWN = 5 };

// The gesture in progress on the window's knobs. Values live in the
// caller's array of floats by row (MORVANE_NUM_STEREO_CONTROLS of them,
// or as many as the rows its window shows), which each change
// updates before it is written to the sink. A stepped knob moves a scale
// point at a time: a wheel notch one point, a drag one point every
// MORVANE_KNOB_DRAG_PIXELS / (points - 1) pixels, always to the point's
// exact value. Each member returns whether anything shown changed.
class morvane_knob_input {
public:
  // A button pressed over the knob of row `row` (-1: over no knob) at
  // height y, server time `time_ms`. `scale` is the window's scale factor.
  bool press(int row, int button, double y, unsigned long time_ms, bool fine, double scale,
             float* values, const morvane_knob_sink& sink) noexcept;
  // The pointer moved to height y (a drag moves its knob).
  bool motion(double y, bool fine, float* values, const morvane_knob_sink& sink) noexcept;
  // A button released: ends a drag.
  bool release(int button, const morvane_knob_sink& sink) noexcept;
  // Ends a drag without a release (the window is going away).
  void cancel(const morvane_knob_sink& sink) noexcept;

  // The row of the knob being dragged, or -1.
  int dragging() const noexcept { return _drag_row; }

private:
  bool set(uint32_t row, float value, float* values, const morvane_knob_sink& sink) noexcept;
  float step(uint32_t row, float value, bool up) const noexcept;

  int _drag_row = -1;
  double _drag_y = 0.0;
  double _drag_position = 0.0;  // unrounded position, so slow drags add up
  double _scale = 1.0;
  int _last_press_row = -1;
  unsigned long _last_press_ms = 0;
};

// A click on segment `value` of a switch of row `row`: a shake LFO's Free /
// Song / Tempo (a sync row) or the stereo window's Mid / Left / Right.
// Writes the value, framed by touch, unless the switch is at it already.
// Returns whether the value changed.
bool morvane_switch_press(uint32_t row, float value, float* values, const morvane_knob_sink& sink) noexcept;

// The output meter: it jumps up to each new peak, holds it for
// MORVANE_METER_HOLD_S, then falls at MORVANE_METER_FALL_DB_PER_S until
// it leaves the scale (then it is -infinity: empty).
constexpr double MORVANE_METER_HOLD_S = 0.5;
constexpr double MORVANE_METER_FALL_DB_PER_S = 20.0;
constexpr double MORVANE_METER_FLOOR_DB = -96.0;

class morvane_meter {
public:
  // A peak (linear, |sample|) seen at time t (s). NaN and negative peaks
  // are ignored.
  void peak(float linear, double t) noexcept;
  // Lets the meter fall until time t; returns whether its level changed.
  bool advance(double t) noexcept;
  // The level shown, dBFS, -infinity when empty.
  float level_db() const noexcept { return static_cast<float>(_db); }

private:
  double _db = -std::numeric_limits<double>::infinity();
  double _hold_until = 0.0;
  double _last_t = 0.0;
};

#endif  // MORVANE_UI_KNOB_H
