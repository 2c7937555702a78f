// SPDX-License-Identifier: LGPL-2.1-or-later
// Knob gestures and meter ballistics (see knob.h).
#include "knob.h"

#include <algorithm>
#include <cmath>

bool morvane_knob_visible(int port) noexcept
{
  return port >= 0 && port < static_cast<int>(MORVANE_NUM_CONTROLS) && !morvane_controls[port]._reserved &&
         morvane_controls[port]._kind == MORVANE_KIND_CONTINUOUS;
}

double morvane_knob_position(uint32_t port, float value) noexcept
{
  const morvane_control& c = morvane_controls[port];
  const double v = morvane_clamp_control(port, value);
  if (c._max <= c._min) {
    return 0.0;
  }
  if (c._logarithmic && c._min > 0.0f) {
    return std::log(v / c._min) / std::log(static_cast<double>(c._max) / c._min);
  }
  return (v - c._min) / (static_cast<double>(c._max) - c._min);
}

float morvane_knob_value(uint32_t port, double position) noexcept
{
  const morvane_control& c = morvane_controls[port];
  if (std::isnan(position)) {
    return c._default;
  }
  const double p = std::clamp(position, 0.0, 1.0);
  double v;
  if (c._logarithmic && c._min > 0.0f) {
    v = c._min * std::exp(p * std::log(static_cast<double>(c._max) / c._min));
  } else {
    v = c._min + p * (static_cast<double>(c._max) - c._min);
  }
  // The ends are exact, whatever exp and log round to.
  if (p <= 0.0) {
    v = c._min;
  } else if (p >= 1.0) {
    v = c._max;
  }
  return morvane_clamp_control(port, static_cast<float>(v));
}

bool morvane_knob_input::set(uint32_t port, float value, float* values,
                             const morvane_knob_sink& sink) noexcept
{
  value = morvane_clamp_control(port, value);
  if (values[port] == value) {
    return false;
  }
  values[port] = value;
  sink._write(sink._handle, port, value);
  return true;
}

bool morvane_knob_input::press(int port, int button, double y, unsigned long time_ms, bool fine,
                               double scale, float* values, const morvane_knob_sink& sink) noexcept
{
  if (_drag_port >= 0 || !morvane_knob_visible(port)) {
    return false;
  }
  const auto p = static_cast<uint32_t>(port);
  if (button == MORVANE_BUTTON_WHEEL_UP || button == MORVANE_BUTTON_WHEEL_DOWN) {
    const double step = MORVANE_KNOB_WHEEL_STEP * (fine ? MORVANE_KNOB_FINE : 1.0);
    const double sign = button == MORVANE_BUTTON_WHEEL_UP ? 1.0 : -1.0;
    const float value = morvane_knob_value(p, morvane_knob_position(p, values[p]) + sign * step);
    if (value == values[p]) {
      return false;  // at the end of the range: no gesture for the host
    }
    sink._touch(sink._handle, p, true);
    set(p, value, values, sink);
    sink._touch(sink._handle, p, false);
    return true;
  }
  if (button != MORVANE_BUTTON_LEFT) {
    return false;
  }
  // The server's time is 32 bits of milliseconds and wraps around; the
  // difference taken in 32 bits is still the time between the presses.
  const auto since = static_cast<uint32_t>(time_ms - _last_press_ms);
  if (port == _last_press_port && since <= MORVANE_KNOB_DOUBLE_CLICK_MS) {
    _last_press_port = -1;
    sink._touch(sink._handle, p, true);
    const bool changed = set(p, morvane_controls[p]._default, values, sink);
    sink._touch(sink._handle, p, false);
    return changed;
  }
  _last_press_port = port;
  _last_press_ms = time_ms;
  _drag_port = port;
  _drag_y = y;
  _drag_position = morvane_knob_position(p, values[p]);
  _scale = scale > 0.0 && std::isfinite(scale) ? scale : 1.0;
  sink._touch(sink._handle, p, true);
  return true;
}

bool morvane_knob_input::motion(double y, bool fine, float* values, const morvane_knob_sink& sink) noexcept
{
  if (_drag_port < 0) {
    return false;
  }
  const auto p = static_cast<uint32_t>(_drag_port);
  // Up is more. Each motion adds its own distance, so pressing or letting
  // go of Shift during a drag changes the speed from there on.
  const double dy = _drag_y - y;
  _drag_y = y;
  _drag_position += dy / (MORVANE_KNOB_DRAG_PIXELS * _scale) * (fine ? MORVANE_KNOB_FINE : 1.0);
  _drag_position = std::clamp(_drag_position, 0.0, 1.0);
  return set(p, morvane_knob_value(p, _drag_position), values, sink);
}

bool morvane_knob_input::release(int button, const morvane_knob_sink& sink) noexcept
{
  if (button != MORVANE_BUTTON_LEFT || _drag_port < 0) {
    return false;
  }
  cancel(sink);
  return true;
}

void morvane_knob_input::cancel(const morvane_knob_sink& sink) noexcept
{
  if (_drag_port >= 0) {
    sink._touch(sink._handle, static_cast<uint32_t>(_drag_port), false);
    _drag_port = -1;
  }
}

void morvane_meter::peak(float linear, double t) noexcept
{
  if (!(linear >= 0.0f)) {
    return;
  }
  advance(t);
  const double db = linear > 0.0f ? 20.0 * std::log10(static_cast<double>(linear)) : -std::numeric_limits<double>::infinity();
  if (db >= _db && db > MORVANE_METER_FLOOR_DB) {
    _db = db;
    _hold_until = t + MORVANE_METER_HOLD_S;
  }
}

bool morvane_meter::advance(double t) noexcept
{
  const double from = std::max(_last_t, _hold_until);
  _last_t = std::max(_last_t, t);
  if (!std::isfinite(_db) || t <= from) {
    return false;
  }
  _db -= MORVANE_METER_FALL_DB_PER_S * (t - from);
  if (_db <= MORVANE_METER_FLOOR_DB) {
    _db = -std::numeric_limits<double>::infinity();
  }
  return true;
}
