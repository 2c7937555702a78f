/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The morvane LV2 plug-in: port indices and URI.
 *
 * Hosts reach the plug-in through lv2_descriptor and the descriptor's entry
 * points. morvane.so also exports the engines' whole C API (libtembra,
 * libquivex, the decibel helpers), its own calls among which are bound
 * inside the object.
 *
 * Ports 0 to 24 are control inputs (gain in dB, then four settings for each
 * of six LFOs), 25 and 26 the audio inputs (only the left one is processed),
 * 27 and 28 the audio outputs (both receive the processed left input).
 * Ports 29 and 30 are optional atom ports for the plug-in's window:
 * messages from it (control) and frames of the analysis to it (notify);
 * see frame.h. The host's song position also comes on control.
 * Ports 31 to 36 are control inputs: for each shake LFO (amplitude,
 * frequency, smoothing time) its sync mode (0 Free, 1 Song, 2 Tempo) and
 * its cycle in Tempo, in quarter notes.
 * The stereo plug-in (MORVANE_STEREO_URI) has all of these ports, with
 * the same indices, and three more control inputs: 37 the stereo mode
 * (0 Mid, 1 Left / Right), 38 the width (%) and 39 the right channel's LFO
 * offset (degrees). */
#ifndef MORVANE_MORVANE_H
#define MORVANE_MORVANE_H

#define MORVANE_URI "http://morvane.example.org/plugins/morvane"
#define MORVANE_STEREO_URI "http://morvane.example.org/plugins/morvane-stereo"

typedef enum {
  MORVANE_GAIN = 0,
  MORVANE_LFO_SHAKE_AMP_AMP = 1,
  MORVANE_LFO_SHAKE_AMP_FREQ = 2,
  MORVANE_LFO_SHAKE_AMP_AMOUNT = 3,
  MORVANE_LFO_SHAKE_AMP_MOD = 4,
  MORVANE_LFO_SHAKE_FREQ_AMP = 5,
  MORVANE_LFO_SHAKE_FREQ_FREQ = 6,
  MORVANE_LFO_SHAKE_FREQ_AMOUNT = 7,
  MORVANE_LFO_SHAKE_FREQ_MOD = 8,
  MORVANE_LFO_SHAKE_TIME_AMP = 9,
  MORVANE_LFO_SHAKE_TIME_FREQ = 10,
  MORVANE_LFO_SHAKE_TIME_AMOUNT = 11,
  MORVANE_LFO_SHAKE_TIME_MOD = 12,
  MORVANE_LFO_AMP_RANGE_AMP = 13,
  MORVANE_LFO_AMP_RANGE_FREQ = 14,
  MORVANE_LFO_AMP_RANGE_AMOUNT = 15,
  MORVANE_LFO_AMP_RANGE_MOD = 16,
  MORVANE_LFO_FREQ_RANGE_AMP = 17,
  MORVANE_LFO_FREQ_RANGE_FREQ = 18,
  MORVANE_LFO_FREQ_RANGE_AMOUNT = 19,
  MORVANE_LFO_FREQ_RANGE_MOD = 20,
  MORVANE_LFO_TIME_RANGE_AMP = 21,
  MORVANE_LFO_TIME_RANGE_FREQ = 22,
  MORVANE_LFO_TIME_RANGE_AMOUNT = 23,
  MORVANE_LFO_TIME_RANGE_MOD = 24,
  MORVANE_INPUT_L = 25,
  MORVANE_INPUT_R = 26,
  MORVANE_OUTPUT_L = 27,
  MORVANE_OUTPUT_R = 28,
  MORVANE_CONTROL = 29,
  MORVANE_NOTIFY = 30,
  MORVANE_LFO_SHAKE_AMP_SYNC = 31,
  MORVANE_LFO_SHAKE_AMP_CYCLE = 32,
  MORVANE_LFO_SHAKE_FREQ_SYNC = 33,
  MORVANE_LFO_SHAKE_FREQ_CYCLE = 34,
  MORVANE_LFO_SHAKE_TIME_SYNC = 35,
  MORVANE_LFO_SHAKE_TIME_CYCLE = 36,
  /* The stereo plug-in's own controls, after all of the mono one's ports. */
  MORVANE_STEREO_MODE = 37,
  MORVANE_WIDTH = 38,
  MORVANE_LFO_OFFSET = 39
} PortIndex;

#endif /* MORVANE_MORVANE_H */
