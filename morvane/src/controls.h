/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's 25 control ports described once: symbol, names, comment,
 * unit, range, default and how a host or the window should move them. The
 * plug-in clamps to these ranges, the build writes the Turtle description
 * from them (gen_ttl) and the window labels and scales its knobs by them. */
#ifndef MORVANE_CONTROLS_H
#define MORVANE_CONTROLS_H

#include <cstdint>

#include "morvane.h"

/* Number of control input ports: indices 0 .. MORVANE_NUM_CONTROLS - 1. */
constexpr uint32_t MORVANE_NUM_CONTROLS = 25;

/* The unit of a control port's value. */
enum morvane_unit { MORVANE_UNIT_NONE, MORVANE_UNIT_DB, MORVANE_UNIT_HZ, MORVANE_UNIT_PERCENT };

/* One control port. */
struct morvane_control {
  const char* _symbol;      // lv2:symbol
  const char* _name;        // lv2:name, as hosts list it ("Amplitude LFO rate")
  const char* _short_name;  // the window's knob label within its group ("Rate")
  const char* _comment;     // rdfs:comment
  morvane_unit _unit;
  float _min;
  float _default;
  float _max;
  bool _logarithmic;        // hosts and the window move it on a log scale
  bool _reserved;           // a range-LFO port: runs, changes no sample, hidden
};

/* The control ports, indexed by PortIndex from MORVANE_GAIN to
 * MORVANE_LFO_TIME_RANGE_MOD. */
extern const morvane_control morvane_controls[MORVANE_NUM_CONTROLS];

/* Title of each shake LFO's group of four ports (depth, rate, amount,
 * shape), in the order amplitude, frequency, smoothing time. */
extern const char* const morvane_shake_lfo_names[3];

/* The unit's short label as the window writes it after a value ("dB",
 * "Hz", "%"; "" for none). */
const char* morvane_unit_label(morvane_unit unit) noexcept;

/* value clamped to the range of control port `port` (below
 * MORVANE_NUM_CONTROLS); NaN gives the port's default. */
float morvane_clamp_control(uint32_t port, float value) noexcept;

#endif /* MORVANE_CONTROLS_H */
