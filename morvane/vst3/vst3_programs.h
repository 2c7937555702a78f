/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The factory presets as VST3 programs, in the order of the LV2 bundle's
 * presets file; the table is written at build time from that file
 * (gen_programs.cpp). */
#ifndef MORVANE_VST3_PROGRAMS_H
#define MORVANE_VST3_PROGRAMS_H

#include <cstdint>

/* A control a program sets: its LV2 port index and value. */
struct vst3_program_value {
  uint32_t _port;
  float _value;
};

/* A program sets the controls it lists and leaves the others as they are. */
struct vst3_program {
  const char* _name;
  bool _stereo_only;  // offered by the stereo plug-in alone
  const vst3_program_value* _values;
  uint32_t _num_values;
};

extern const vst3_program vst3_programs[];
extern const uint32_t vst3_num_programs;

#endif /* MORVANE_VST3_PROGRAMS_H */
