/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Internals of the morvane plug-in that the tests reach: the table of
 * control ranges the plug-in clamps to (which the Turtle description must
 * repeat) and the clamp itself. None of this is exported from the shared
 * object. */
#ifndef MORVANE_MORVANE_INTERNAL_H
#define MORVANE_MORVANE_INTERNAL_H

#include <cstdint>

#include "morvane.h"

/* Number of control input ports: indices 0 .. MORVANE_NUM_CONTROLS - 1. */
constexpr uint32_t MORVANE_NUM_CONTROLS = 25;
/* Number of ports of every kind. */
constexpr uint32_t MORVANE_NUM_PORTS = 29;

/* Range and default of one control port, as the Turtle declares them. */
struct morvane_control_range {
  float _min;
  float _default;
  float _max;
};

/* The control ranges, indexed by PortIndex from MORVANE_GAIN to
 * MORVANE_LFO_TIME_RANGE_MOD. */
extern const morvane_control_range morvane_control_ranges[MORVANE_NUM_CONTROLS];

/* value clamped to the range of control port `port` (below
 * MORVANE_NUM_CONTROLS); NaN gives the port's default. */
float morvane_clamp_control(uint32_t port, float value) noexcept;

#endif /* MORVANE_MORVANE_INTERNAL_H */
