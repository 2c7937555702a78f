/* SPDX-License-Identifier: LGPL-2.1-or-later */
// Settings that shake every stage and spread the stereo field: what the
// plug-in format shells' tests run their plug-ins with against the LV2
// plug-in.
#ifndef MORVANE_TESTS_HOST_SHAKEN_CONTROLS_H
#define MORVANE_TESTS_HOST_SHAKEN_CONTROLS_H

#include "plugin_host.h"

inline Controls shaken_controls()
{
  Controls c = default_controls();
  c[MORVANE_GAIN] = -3.0f;
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 80.0f;
  c[MORVANE_LFO_SHAKE_AMP_FREQ] = 6.5f;
  c[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 60.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMP] = 0.4f;
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 50.0f;
  c[MORVANE_LFO_SHAKE_TIME_MOD] = 20.0f;
  c[control_row(MORVANE_WIDTH)] = 70.0f;
  c[control_row(MORVANE_LFO_OFFSET)] = 90.0f;
  return c;
}

// The same with the amplitude LFO in Tempo (an eighth note a cycle) and the
// frequency LFO in Song at 3 Hz: what the shells' transport tests lock to
// the song.
inline Controls song_locked_controls()
{
  Controls c = shaken_controls();
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 70.0f;
  c[control_row(MORVANE_LFO_SHAKE_AMP_SYNC)] = 2.0f;
  c[control_row(MORVANE_LFO_SHAKE_AMP_CYCLE)] = 0.5f;
  c[MORVANE_LFO_SHAKE_FREQ_FREQ] = 3.0f;
  c[control_row(MORVANE_LFO_SHAKE_FREQ_SYNC)] = 1.0f;
  return c;
}

#endif  // MORVANE_TESTS_HOST_SHAKEN_CONTROLS_H
