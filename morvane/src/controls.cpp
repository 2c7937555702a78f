// SPDX-License-Identifier: LGPL-2.1-or-later
// The control ports' one description (see controls.h). With every AMOUNT at
// 0 % the plug-in is a plain resynthesis, whatever the other LFO settings
// are. Depths: the amplitude LFO's is a factor on the amplitudes; the
// frequency LFO's is in natural-log units (ln 2 is one octave, so the
// maximum swings two octaves up and down); the smoothing LFO's is the
// fraction of the 0.1 ms to 10 s smoothing time reached by the highest
// resonator. The three range LFOs are reserved: they run but feed no stage.
#include "controls.h"

#include <algorithm>
#include <cmath>

// The sync modes of a shake LFO (morvane_sync's values).
constexpr morvane_scale_point SYNC_POINTS[] = {{0.0f, "Free"}, {1.0f, "Song"}, {2.0f, "Tempo"}};
#define SYNC_COMMENT(lfo)                                                                                          \
  "How the " lfo " LFO keeps time. Free: at its rate in Hz from when the plug-in starts. Song: at its rate in "   \
  "Hz, its phase taken from the host's song position, so every playback and export of the same bars shakes "     \
  "alike. Tempo: one cycle lasts the note value of its Cycle port, its phase taken from the song's beats."

// One cycle's length in quarter notes, labelled with note values: "T" a
// triplet, "." a dotted note, "2/1" two whole notes.
constexpr morvane_scale_point CYCLE_POINTS[] = {
  {0.125f, "1/32"}, {1.0f / 6.0f, "1/16 T"}, {0.25f, "1/16"}, {1.0f / 3.0f, "1/8 T"}, {0.375f, "1/16 ."},
  {0.5f, "1/8"}, {2.0f / 3.0f, "1/4 T"}, {0.75f, "1/8 ."}, {1.0f, "1/4"}, {4.0f / 3.0f, "1/2 T"},
  {1.5f, "1/4 ."}, {2.0f, "1/2"}, {8.0f / 3.0f, "1/1 T"}, {3.0f, "1/2 ."}, {4.0f, "1/1"},
  {6.0f, "1/1 ."}, {8.0f, "2/1"}, {16.0f, "4/1"}, {32.0f, "8/1"}, {64.0f, "16/1"},
};
constexpr uint32_t NUM_CYCLE_POINTS = sizeof CYCLE_POINTS / sizeof CYCLE_POINTS[0];
#define CYCLE_COMMENT(lfo)                                                                                        \
  "In Tempo, the length of one cycle of the " lfo " LFO in quarter notes, from a 1/32 note (0.125) to 16 bars "  \
  "of 4/4 (64). Any value in the range is taken as it is."

// The stereo plug-in's modes.
constexpr morvane_scale_point STEREO_MODE_POINTS[] = {{0.0f, "Mid"}, {1.0f, "Left / Right"}};

const morvane_control morvane_controls[MORVANE_NUM_STEREO_CONTROLS] = {
  {MORVANE_GAIN, MORVANE_GROUP_GAIN, MORVANE_ROLE_GAIN,
   "gain", "Gain", "Gain",
   "Output gain.",
   MORVANE_UNIT_DB, -60.0f, 0.0f, 12.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_AMP_AMP, 0, MORVANE_ROLE_DEPTH,
   "lfo_shake_amp_amp", "Amplitude LFO depth", "Depth",
   "Depth of the amplitude LFO, a factor on the amplitudes: with the amount at 100 % each resonator's amplitude swings between -depth and +depth times its analysed value, so 1 follows the wave fully and 2 doubles the amplitudes at the peaks.",
   MORVANE_UNIT_NONE, 0.0f, 1.0f, 2.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_AMP_FREQ, 0, MORVANE_ROLE_RATE,
   "lfo_shake_amp_freq", "Amplitude LFO rate", "Rate",
   "Rate of the amplitude LFO.",
   MORVANE_UNIT_HZ, 0.01f, 4.0f, 20.0f, true, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_AMP_AMOUNT, 0, MORVANE_ROLE_AMOUNT,
   "lfo_shake_amp_amount", "Amplitude LFO amount", "Amount",
   "Dry/wet mix of the amplitude LFO: 0 % leaves the amplitudes untouched, 100 % applies the full swing.",
   MORVANE_UNIT_PERCENT, 0.0f, 0.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_AMP_MOD, 0, MORVANE_ROLE_SHAPE,
   "lfo_shake_amp_mod", "Amplitude LFO shape", "Shape",
   "Wave shape of the amplitude LFO: 50 % is a cosine, towards 0 % a square wave, towards 100 % a flat line.",
   MORVANE_UNIT_PERCENT, 0.0f, 50.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_FREQ_AMP, 1, MORVANE_ROLE_DEPTH,
   "lfo_shake_freq_amp", "Frequency LFO depth", "Depth",
   "Depth of the frequency LFO in natural-log units: with the amount at 100 % each resonator's frequency swings between exp(-depth) and exp(+depth) times its analysed value, so ln 2 = 0.693 is one octave up and down and the maximum 1.386 two octaves.",
   MORVANE_UNIT_NONE, 0.0f, 0.1f, 1.386294f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_FREQ_FREQ, 1, MORVANE_ROLE_RATE,
   "lfo_shake_freq_freq", "Frequency LFO rate", "Rate",
   "Rate of the frequency LFO.",
   MORVANE_UNIT_HZ, 0.01f, 5.0f, 20.0f, true, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_FREQ_AMOUNT, 1, MORVANE_ROLE_AMOUNT,
   "lfo_shake_freq_amount", "Frequency LFO amount", "Amount",
   "Dry/wet mix of the frequency LFO: 0 % leaves the frequencies untouched, 100 % applies the full swing.",
   MORVANE_UNIT_PERCENT, 0.0f, 0.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_FREQ_MOD, 1, MORVANE_ROLE_SHAPE,
   "lfo_shake_freq_mod", "Frequency LFO shape", "Shape",
   "Wave shape of the frequency LFO: 50 % is a cosine, towards 0 % a square wave, towards 100 % a flat line.",
   MORVANE_UNIT_PERCENT, 0.0f, 50.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_TIME_AMP, 2, MORVANE_ROLE_DEPTH,
   "lfo_shake_time_amp", "Smoothing LFO depth", "Depth",
   "Depth of the smoothing LFO, a fraction of a 0.1 ms to 10 s smoothing time: at the LFO's peak the amplitudes are smoothed over 0.1 ms at the lowest resonator rising to 0.1 ms + depth x 10 s at the highest.",
   MORVANE_UNIT_NONE, 0.0f, 0.1f, 1.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_TIME_FREQ, 2, MORVANE_ROLE_RATE,
   "lfo_shake_time_freq", "Smoothing LFO rate", "Rate",
   "Rate of the smoothing LFO.",
   MORVANE_UNIT_HZ, 0.01f, 0.5f, 20.0f, true, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_TIME_AMOUNT, 2, MORVANE_ROLE_AMOUNT,
   "lfo_shake_time_amount", "Smoothing LFO amount", "Amount",
   "Dry/wet mix of the smoothing LFO: 0 % leaves the amplitudes unsmoothed, 100 % takes the smoothed amplitudes only.",
   MORVANE_UNIT_PERCENT, 0.0f, 0.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_TIME_MOD, 2, MORVANE_ROLE_SHAPE,
   "lfo_shake_time_mod", "Smoothing LFO shape", "Shape",
   "Wave shape of the smoothing LFO: 50 % is a cosine, towards 0 % a square wave, towards 100 % a flat line.",
   MORVANE_UNIT_PERCENT, 0.0f, 50.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_AMP_RANGE_AMP, 3, MORVANE_ROLE_DEPTH,
   "lfo_amp_range_amp", "Amplitude range LFO depth", "Depth",
   "Depth of this LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 1.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_AMP_RANGE_FREQ, 3, MORVANE_ROLE_RATE,
   "lfo_amp_range_freq", "Amplitude range LFO rate", "Rate",
   "Rate of the amplitude range LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_HZ, 0.01f, 1.0f, 20.0f, true, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_AMP_RANGE_AMOUNT, 3, MORVANE_ROLE_AMOUNT,
   "lfo_amp_range_amount", "Amplitude range LFO amount", "Amount",
   "Dry/wet mix of this LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_PERCENT, 0.0f, 0.0f, 100.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_AMP_RANGE_MOD, 3, MORVANE_ROLE_SHAPE,
   "lfo_amp_range_mod", "Amplitude range LFO shape", "Shape",
   "Wave shape of the amplitude range LFO: 50 % is a cosine, towards 0 % a square wave, towards 100 % a flat line. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_PERCENT, 0.0f, 50.0f, 100.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_FREQ_RANGE_AMP, 4, MORVANE_ROLE_DEPTH,
   "lfo_freq_range_amp", "Frequency range LFO depth", "Depth",
   "Depth of this LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 1.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_FREQ_RANGE_FREQ, 4, MORVANE_ROLE_RATE,
   "lfo_freq_range_freq", "Frequency range LFO rate", "Rate",
   "Rate of the frequency range LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_HZ, 0.01f, 1.0f, 20.0f, true, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_FREQ_RANGE_AMOUNT, 4, MORVANE_ROLE_AMOUNT,
   "lfo_freq_range_amount", "Frequency range LFO amount", "Amount",
   "Dry/wet mix of this LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_PERCENT, 0.0f, 0.0f, 100.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_FREQ_RANGE_MOD, 4, MORVANE_ROLE_SHAPE,
   "lfo_freq_range_mod", "Frequency range LFO shape", "Shape",
   "Wave shape of the frequency range LFO: 50 % is a cosine, towards 0 % a square wave, towards 100 % a flat line. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_PERCENT, 0.0f, 50.0f, 100.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_TIME_RANGE_AMP, 5, MORVANE_ROLE_DEPTH,
   "lfo_time_range_amp", "Smoothing range LFO depth", "Depth",
   "Depth of this LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 1.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_TIME_RANGE_FREQ, 5, MORVANE_ROLE_RATE,
   "lfo_time_range_freq", "Smoothing range LFO rate", "Rate",
   "Rate of the smoothing range LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_HZ, 0.01f, 1.0f, 20.0f, true, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_TIME_RANGE_AMOUNT, 5, MORVANE_ROLE_AMOUNT,
   "lfo_time_range_amount", "Smoothing range LFO amount", "Amount",
   "Dry/wet mix of this LFO. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_PERCENT, 0.0f, 0.0f, 100.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_TIME_RANGE_MOD, 5, MORVANE_ROLE_SHAPE,
   "lfo_time_range_mod", "Smoothing range LFO shape", "Shape",
   "Wave shape of the smoothing range LFO: 50 % is a cosine, towards 0 % a square wave, towards 100 % a flat line. Reserved: this LFO runs but feeds no stage yet, so the port has no audible effect.",
   MORVANE_UNIT_PERCENT, 0.0f, 50.0f, 100.0f, false, true,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_SHAKE_AMP_SYNC, 0, MORVANE_ROLE_SYNC,
   "lfo_shake_amp_sync", "Amplitude LFO sync", "Sync",
   SYNC_COMMENT("amplitude"),
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 2.0f, false, false,
   MORVANE_KIND_ENUMERATION, SYNC_POINTS, 3},
  {MORVANE_LFO_SHAKE_AMP_CYCLE, 0, MORVANE_ROLE_CYCLE,
   "lfo_shake_amp_cycle", "Amplitude LFO cycle", "Cycle",
   CYCLE_COMMENT("amplitude"),
   MORVANE_UNIT_NONE, 0.125f, 4.0f, 64.0f, true, false,
   MORVANE_KIND_ENUMERATION, CYCLE_POINTS, NUM_CYCLE_POINTS},
  {MORVANE_LFO_SHAKE_FREQ_SYNC, 1, MORVANE_ROLE_SYNC,
   "lfo_shake_freq_sync", "Frequency LFO sync", "Sync",
   SYNC_COMMENT("frequency"),
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 2.0f, false, false,
   MORVANE_KIND_ENUMERATION, SYNC_POINTS, 3},
  {MORVANE_LFO_SHAKE_FREQ_CYCLE, 1, MORVANE_ROLE_CYCLE,
   "lfo_shake_freq_cycle", "Frequency LFO cycle", "Cycle",
   CYCLE_COMMENT("frequency"),
   MORVANE_UNIT_NONE, 0.125f, 4.0f, 64.0f, true, false,
   MORVANE_KIND_ENUMERATION, CYCLE_POINTS, NUM_CYCLE_POINTS},
  {MORVANE_LFO_SHAKE_TIME_SYNC, 2, MORVANE_ROLE_SYNC,
   "lfo_shake_time_sync", "Smoothing LFO sync", "Sync",
   SYNC_COMMENT("smoothing"),
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 2.0f, false, false,
   MORVANE_KIND_ENUMERATION, SYNC_POINTS, 3},
  {MORVANE_LFO_SHAKE_TIME_CYCLE, 2, MORVANE_ROLE_CYCLE,
   "lfo_shake_time_cycle", "Smoothing LFO cycle", "Cycle",
   CYCLE_COMMENT("smoothing"),
   MORVANE_UNIT_NONE, 0.125f, 4.0f, 64.0f, true, false,
   MORVANE_KIND_ENUMERATION, CYCLE_POINTS, NUM_CYCLE_POINTS},
  {MORVANE_STEREO_MODE, MORVANE_GROUP_STEREO, MORVANE_ROLE_STEREO_MODE,
   "stereo_mode", "Stereo mode", "Mode",
   "Mid: one analysis of the sum of both channels, its partials spread across the field by Width. Left / Right: "
   "each channel analysed and resynthesised on its own with the same settings, so a stereo recording keeps its "
   "image.",
   MORVANE_UNIT_NONE, 0.0f, 0.0f, 1.0f, false, false,
   MORVANE_KIND_ENUMERATION, STEREO_MODE_POINTS, 2},
  {MORVANE_WIDTH, MORVANE_GROUP_STEREO, MORVANE_ROLE_WIDTH,
   "width", "Width", "Width",
   "In Mid, how far the partials spread: neighbouring partials go to opposite sides, each this far from the "
   "centre. At 0 % both outputs are the same.",
   MORVANE_UNIT_PERCENT, 0.0f, 100.0f, 100.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
  {MORVANE_LFO_OFFSET, MORVANE_GROUP_STEREO, MORVANE_ROLE_LFO_OFFSET,
   "lfo_offset", "LFO offset", "Offset",
   "How far the right channel's shake LFOs run ahead of the left's, in both modes: at 180 degrees a tremolo "
   "moves from side to side.",
   MORVANE_UNIT_DEGREE, 0.0f, 0.0f, 180.0f, false, false,
   MORVANE_KIND_CONTINUOUS, nullptr, 0},
};

const char* const morvane_shake_lfo_names[3] = {"Amplitude LFO", "Frequency LFO", "Smoothing LFO"};

const char* morvane_unit_label(morvane_unit unit) noexcept
{
  switch (unit) {
    case MORVANE_UNIT_DB: return "dB";
    case MORVANE_UNIT_HZ: return "Hz";
    case MORVANE_UNIT_PERCENT: return "%";
    case MORVANE_UNIT_DEGREE: return "\u00b0";
    case MORVANE_UNIT_NONE: break;
  }
  return "";
}

int morvane_control_row(uint32_t port) noexcept
{
  for (uint32_t row = 0; row < MORVANE_NUM_STEREO_CONTROLS; ++row) {
    if (morvane_controls[row]._port == port) {
      return static_cast<int>(row);
    }
  }
  return -1;
}

int morvane_control_port(int group, morvane_role role) noexcept
{
  for (const morvane_control& c : morvane_controls) {
    if (c._group == group && c._role == role) {
      return static_cast<int>(c._port);
    }
  }
  return -1;
}

float morvane_clamp_control(uint32_t row, float value) noexcept
{
  const morvane_control& c = morvane_controls[row];
  if (std::isnan(value)) {
    return c._default;
  }
  return std::clamp(value, c._min, c._max);
}
