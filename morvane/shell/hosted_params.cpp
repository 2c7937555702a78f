// SPDX-License-Identifier: LGPL-2.1-or-later
// How every format's shell presents a control to its host: stepped or
// not, and its value as text and back (see hosted_plugin.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hosted_plugin.h"

bool hosted_stepped(uint32_t row) noexcept
{
  const morvane_control& c = morvane_controls[row];
  if (c._kind != MORVANE_KIND_ENUMERATION) {
    return false;
  }
  for (uint32_t i = 0; i < c._num_points; ++i) {
    if (c._points[i]._value != std::nearbyint(c._points[i]._value)) {
      return false;
    }
  }
  return true;
}

void hosted_value_text(uint32_t row, double value, char* display, uint32_t size) noexcept
{
  const morvane_control& c = morvane_controls[row];
  const double v = morvane_clamp_control(row, static_cast<float>(value));
  for (uint32_t i = 0; i < c._num_points; ++i) {
    const double p = c._points[i]._value;
    if (std::fabs(v - p) <= 1e-6 * std::fabs(p)) {
      std::snprintf(display, size, "%s", c._points[i]._label);
      return;
    }
  }
  const char* unit = morvane_unit_label(c._unit);
  switch (c._unit) {
    case MORVANE_UNIT_DB: std::snprintf(display, size, "%.1f %s", v, unit); break;
    case MORVANE_UNIT_HZ: std::snprintf(display, size, v < 10.0 ? "%.2f %s" : "%.1f %s", v, unit); break;
    case MORVANE_UNIT_PERCENT: std::snprintf(display, size, "%.0f %s", v, unit); break;
    case MORVANE_UNIT_DEGREE: std::snprintf(display, size, "%.0f%s", v, unit); break;
    case MORVANE_UNIT_NONE: std::snprintf(display, size, c._role == MORVANE_ROLE_CYCLE ? "%.3g q" : "%.3f", v); break;
  }
}

bool hosted_text_value(uint32_t row, const char* display, double* value) noexcept
{
  const morvane_control& c = morvane_controls[row];
  for (uint32_t i = 0; i < c._num_points; ++i) {
    if (std::strcmp(display, c._points[i]._label) == 0) {
      *value = c._points[i]._value;
      return true;
    }
  }
  char* end = nullptr;
  const double v = std::strtod(display, &end);
  if (end == display || !std::isfinite(v)) {
    return false;
  }
  *value = std::clamp(v, static_cast<double>(c._min), static_cast<double>(c._max));
  return true;
}
