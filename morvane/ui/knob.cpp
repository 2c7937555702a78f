// SPDX-License-Identifier: LGPL-2.1-or-later
// Knob gestures and meter ballistics (see knob.h).
#include "knob.h"

#include <algorithm>
#include <cmath>

#include "lfo_lock.h"

namespace {

uint32_t port_of(uint32_t row) noexcept
{
  return morvane_controls[row]._port;
}

bool is_row(int row) noexcept
{
  return row >= 0 && row < static_cast<int>(MORVANE_NUM_STEREO_CONTROLS);
}

}  // namespace

bool morvane_knob_visible(int row) noexcept
{
  return is_row(row) && !morvane_controls[row]._reserved && morvane_controls[row]._kind == MORVANE_KIND_CONTINUOUS;
}

bool morvane_knob_stepped(int row) noexcept
{
  return is_row(row) && !morvane_controls[row]._reserved && morvane_controls[row]._kind == MORVANE_KIND_ENUMERATION &&
         morvane_controls[row]._role == MORVANE_ROLE_CYCLE && morvane_controls[row]._num_points > 0;
}

int morvane_lfo_sync_mode(const float* values, int lfo) noexcept
{
  const int row = morvane_control_row(static_cast<uint32_t>(morvane_control_port(lfo, MORVANE_ROLE_SYNC)));
  if (row < 0) {
    return MORVANE_SYNC_FREE;
  }
  const auto r = static_cast<uint32_t>(row);
  return static_cast<int>(std::lround(morvane_clamp_control(r, values[r])));
}

bool morvane_knob_shown(const float* values, int row) noexcept
{
  if (!morvane_knob_visible(row) && !morvane_knob_stepped(row)) {
    return false;
  }
  const morvane_control& c = morvane_controls[row];
  if (c._role != MORVANE_ROLE_RATE && c._role != MORVANE_ROLE_CYCLE) {
    return true;
  }
  const bool tempo = morvane_lfo_sync_mode(values, c._group) == MORVANE_SYNC_TEMPO;
  return (c._role == MORVANE_ROLE_CYCLE) == tempo;
}

int morvane_knob_point(uint32_t row, float value) noexcept
{
  const morvane_control& c = morvane_controls[row];
  if (c._points == nullptr || c._num_points == 0) {
    return -1;
  }
  const bool log_scale = c._logarithmic && c._min > 0.0f;
  auto axis = [log_scale](double v) { return log_scale ? std::log(v) : v; };
  const double v = axis(morvane_clamp_control(row, value));
  int best = 0;
  for (uint32_t i = 1; i < c._num_points; ++i) {
    if (std::fabs(axis(c._points[i]._value) - v) < std::fabs(axis(c._points[best]._value) - v)) {
      best = static_cast<int>(i);
    }
  }
  return best;
}

double morvane_knob_position(uint32_t row, float value) noexcept
{
  const morvane_control& c = morvane_controls[row];
  const double v = morvane_clamp_control(row, value);
  if (c._max <= c._min) {
    return 0.0;
  }
  if (c._logarithmic && c._min > 0.0f) {
    return std::log(v / c._min) / std::log(static_cast<double>(c._max) / c._min);
  }
  return (v - c._min) / (static_cast<double>(c._max) - c._min);
}

float morvane_knob_value(uint32_t row, double position) noexcept
{
  const morvane_control& c = morvane_controls[row];
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
  return morvane_clamp_control(row, static_cast<float>(v));
}

bool morvane_knob_input::set(uint32_t row, float value, float* values, const morvane_knob_sink& sink) noexcept
{
  value = morvane_clamp_control(row, value);
  if (values[row] == value) {
    return false;
  }
  values[row] = value;
  sink._write(sink._handle, port_of(row), value);
  return true;
}

// The next scale point above (below) `value`, or `value` past the last
// one: a value between two points steps to one of them.
float morvane_knob_input::step(uint32_t row, float value, bool up) const noexcept
{
  const morvane_control& c = morvane_controls[row];
  const float v = morvane_clamp_control(row, value);
  for (uint32_t i = 0; i < c._num_points; ++i) {
    const float point = c._points[up ? i : c._num_points - 1 - i]._value;
    if (up ? point > v : point < v) {
      return point;
    }
  }
  return value;
}

bool morvane_knob_input::press(int row, int button, double y, unsigned long time_ms, bool fine, double scale,
                               float* values, const morvane_knob_sink& sink) noexcept
{
  const bool stepped = morvane_knob_stepped(row);
  if (_drag_row >= 0 || !(stepped || morvane_knob_visible(row))) {
    return false;
  }
  const auto r = static_cast<uint32_t>(row);
  if (button == MORVANE_BUTTON_WHEEL_UP || button == MORVANE_BUTTON_WHEEL_DOWN) {
    const bool up = button == MORVANE_BUTTON_WHEEL_UP;
    const double sign = up ? 1.0 : -1.0;
    float value;
    if (stepped) {
      value = step(r, values[r], up);
    } else {
      const double distance = MORVANE_KNOB_WHEEL_STEP * (fine ? MORVANE_KNOB_FINE : 1.0);
      value = morvane_knob_value(r, morvane_knob_position(r, values[r]) + sign * distance);
    }
    if (value == values[r]) {
      return false;  // at the end of the range: no gesture for the host
    }
    sink._touch(sink._handle, port_of(r), true);
    set(r, value, values, sink);
    sink._touch(sink._handle, port_of(r), false);
    return true;
  }
  if (button != MORVANE_BUTTON_LEFT) {
    return false;
  }
  // The server's time is 32 bits of milliseconds and wraps around; the
  // difference taken in 32 bits is still the time between the presses.
  const auto since = static_cast<uint32_t>(time_ms - _last_press_ms);
  if (row == _last_press_row && since <= MORVANE_KNOB_DOUBLE_CLICK_MS) {
    _last_press_row = -1;
    sink._touch(sink._handle, port_of(r), true);
    const bool changed = set(r, morvane_controls[r]._default, values, sink);
    sink._touch(sink._handle, port_of(r), false);
    return changed;
  }
  _last_press_row = row;
  _last_press_ms = time_ms;
  _drag_row = row;
  _drag_y = y;
  if (stepped) {
    // A stepped knob's position counts points: 0 the first, 1 the last.
    const auto last = static_cast<double>(morvane_controls[r]._num_points - 1);
    _drag_position = last > 0.0 ? morvane_knob_point(r, values[r]) / last : 0.0;
  } else {
    _drag_position = morvane_knob_position(r, values[r]);
  }
  _scale = scale > 0.0 && std::isfinite(scale) ? scale : 1.0;
  sink._touch(sink._handle, port_of(r), true);
  return true;
}

bool morvane_knob_input::motion(double y, bool fine, float* values, const morvane_knob_sink& sink) noexcept
{
  if (_drag_row < 0) {
    return false;
  }
  const auto r = static_cast<uint32_t>(_drag_row);
  // Up is more. Each motion adds its own distance, so pressing or letting
  // go of Shift during a drag changes the speed from there on.
  const double dy = _drag_y - y;
  _drag_y = y;
  _drag_position += dy / (MORVANE_KNOB_DRAG_PIXELS * _scale) * (fine ? MORVANE_KNOB_FINE : 1.0);
  _drag_position = std::clamp(_drag_position, 0.0, 1.0);
  if (morvane_knob_stepped(_drag_row)) {
    const morvane_control& c = morvane_controls[r];
    const auto point = std::lround(_drag_position * static_cast<double>(c._num_points - 1));
    return set(r, c._points[point]._value, values, sink);
  }
  return set(r, morvane_knob_value(r, _drag_position), values, sink);
}

bool morvane_knob_input::release(int button, const morvane_knob_sink& sink) noexcept
{
  if (button != MORVANE_BUTTON_LEFT || _drag_row < 0) {
    return false;
  }
  cancel(sink);
  return true;
}

void morvane_knob_input::cancel(const morvane_knob_sink& sink) noexcept
{
  if (_drag_row >= 0) {
    sink._touch(sink._handle, port_of(static_cast<uint32_t>(_drag_row)), false);
    _drag_row = -1;
  }
}

bool morvane_switch_press(uint32_t row, float value, float* values, const morvane_knob_sink& sink) noexcept
{
  if (row >= MORVANE_NUM_STEREO_CONTROLS ||
      (morvane_controls[row]._role != MORVANE_ROLE_SYNC && morvane_controls[row]._role != MORVANE_ROLE_STEREO_MODE)) {
    return false;
  }
  value = morvane_clamp_control(row, value);
  if (values[row] == value) {
    return false;
  }
  sink._touch(sink._handle, port_of(row), true);
  values[row] = value;
  sink._write(sink._handle, port_of(row), value);
  sink._touch(sink._handle, port_of(row), false);
  return true;
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
