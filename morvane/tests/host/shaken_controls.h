/* SPDX-License-Identifier: LGPL-2.1-or-later */
// What the plug-in format shells' tests share: settings that shake every
// stage and spread the stereo field, which they run their plug-ins with
// against the LV2 plug-in, and the LV2 twin's reference for a split block.
#ifndef MORVANE_TESTS_HOST_SHAKEN_CONTROLS_H
#define MORVANE_TESTS_HOST_SHAKEN_CONTROLS_H

#include <cstdint>
#include <vector>

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

// Runs the LV2 twin `lv2` over samples [from, to) of the channels in_l and
// in_r (its controls as they stand) and appends what it wrote to want_l and
// want_r: the reference a shell's block split at `from` and `to` must
// match.
inline void append_lv2_stretch(PluginHost& lv2, float* in_l, float* in_r, uint32_t from, uint32_t to,
                               std::vector<float>& want_l, std::vector<float>& want_r)
{
  lv2.connect(MORVANE_INPUT_L, in_l + from);
  lv2.connect(MORVANE_INPUT_R, in_r + from);
  lilv_instance_run(lv2.instance(), to - from);
  want_l.insert(want_l.end(), lv2.out_l().begin(), lv2.out_l().begin() + (to - from));
  want_r.insert(want_r.end(), lv2.out_r().begin(), lv2.out_r().begin() + (to - from));
}

#endif  // MORVANE_TESTS_HOST_SHAKEN_CONTROLS_H
