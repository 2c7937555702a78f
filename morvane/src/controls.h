/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's 25 control ports described once: symbol, names, comment,
 * unit, range, default and how a host or the window should move them. The
 * plug-in clamps to these ranges, the build writes the Turtle description
 * from them (gen_ttl) and the window labels and scales its knobs by them. */
#ifndef MORVANE_CONTROLS_H
#define MORVANE_CONTROLS_H

#include <cstdint>

#include "morvane.h"

/* Number of control input ports: the 25 from port 0, then the six the
 * shake LFOs' song lock added after the atom ports (31 .. 36). */
constexpr uint32_t MORVANE_NUM_CONTROLS = 31;

/* The stereo plug-in's control rows: the mono plug-in's, then its three
 * own (stereo mode, width, LFO offset; ports 37 .. 39). */
constexpr uint32_t MORVANE_NUM_STEREO_CONTROLS = 34;

/* The unit of a control port's value. */
enum morvane_unit { MORVANE_UNIT_NONE, MORVANE_UNIT_DB, MORVANE_UNIT_HZ, MORVANE_UNIT_PERCENT, MORVANE_UNIT_DEGREE };

/* What a control does within its group: a group is the gain alone, or
 * one LFO's four settings. */
enum morvane_role {
  MORVANE_ROLE_GAIN,
  MORVANE_ROLE_DEPTH,
  MORVANE_ROLE_RATE,
  MORVANE_ROLE_AMOUNT,
  MORVANE_ROLE_SHAPE,
  MORVANE_ROLE_SYNC,   // Free, Song or Tempo (morvane_sync)
  MORVANE_ROLE_CYCLE,  // in Tempo, one cycle's length in quarter notes
  MORVANE_ROLE_STEREO_MODE,  // Mid or Left / Right (morvane_stereo_mode)
  MORVANE_ROLE_WIDTH,        // in Mid, how far the partials spread
  MORVANE_ROLE_LFO_OFFSET,   // how far the right channel's shake LFOs lead
};

/* The stereo plug-in's modes. */
enum morvane_stereo_mode { MORVANE_STEREO_MID = 0, MORVANE_STEREO_LEFT_RIGHT = 1 };

/* How hosts and the window present a control: a continuous value, or an
 * lv2:enumeration of labelled scale points. */
enum morvane_kind { MORVANE_KIND_CONTINUOUS, MORVANE_KIND_ENUMERATION };

/* A labelled value of an enumeration. */
struct morvane_scale_point {
  float _value;
  const char* _label;
};

/* The groups: MORVANE_GROUP_GAIN, then the LFOs by number: the three shake
 * LFOs (amplitude, frequency, smoothing time) and the three reserved range
 * LFOs in the same order. */
constexpr int MORVANE_GROUP_GAIN = -1;
constexpr int MORVANE_GROUP_STEREO = -2;  // the stereo plug-in's own controls
constexpr int MORVANE_NUM_LFO_GROUPS = 6;

/* One control port. */
struct morvane_control {
  uint32_t _port;           // its LV2 port index
  int _group;               // MORVANE_GROUP_GAIN or an LFO's number (0 .. 5)
  morvane_role _role;
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
  morvane_kind _kind;
  const morvane_scale_point* _points;  // its scale points, in rising order (NULL: none)
  uint32_t _num_points;
};

/* The control ports, one row each, in port order. Rows carry their port
 * index: controls added later come after the audio and atom ports. The
 * mono plug-in has the first MORVANE_NUM_CONTROLS rows, the stereo one all. */
extern const morvane_control morvane_controls[MORVANE_NUM_STEREO_CONTROLS];

/* The row of control port `port`, or -1 for a port that is no control (of
 * either plug-in: a mono instance takes rows below MORVANE_NUM_CONTROLS). */
int morvane_control_row(uint32_t port) noexcept;

/* The port of the control with `role` in `group`, or -1 if there is none. */
int morvane_control_port(int group, morvane_role role) noexcept;

/* Title of each shake LFO's group of four ports (depth, rate, amount,
 * shape), in the order amplitude, frequency, smoothing time. */
extern const char* const morvane_shake_lfo_names[3];

/* The unit's short label as the window writes it after a value ("dB",
 * "Hz", "%"; "" for none). */
const char* morvane_unit_label(morvane_unit unit) noexcept;

/* value clamped to the range of the control in row `row` (below
 * MORVANE_NUM_CONTROLS); NaN gives its default. */
float morvane_clamp_control(uint32_t row, float value) noexcept;

#endif /* MORVANE_CONTROLS_H */
