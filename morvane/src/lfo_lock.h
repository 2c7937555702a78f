/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A shake LFO locked to the host's song. In "Song" the LFO keeps its rate
 * in Hz and takes its phase from the song's time; in "Tempo" one cycle
 * lasts a note value and its phase comes from the song's quarter notes.
 * Phase 0, the wave's top, falls on the song's start and on every whole
 * cycle counted from there.
 *
 * The phase is kept here in double, in turns: set from the song at each
 * position the host sends (and when the mode changes), advanced with the
 * current settings in between, so that turning Rate or Cycle changes the
 * speed without a jump, and with the settings constant the phase is a
 * function of the song position alone. The plug-in hands it to the engine
 * at the start of every stretch of audio it processes, together with the
 * rate the engine advances it by within the stretch.
 *
 * "Free" leaves the engine's LFO alone. "Song" does too until the host has
 * sent a position since activation; "Tempo" then runs at 120 bpm from
 * activation. Transport stopped: the LFO runs on at its rate (at the last
 * tempo in "Tempo"). Audio thread: no allocation, lock or system call. */
#ifndef MORVANE_LFO_LOCK_H
#define MORVANE_LFO_LOCK_H

#include <cstdint>

#include "song_position.h"

/* The values of a shake LFO's sync port. */
enum morvane_sync { MORVANE_SYNC_FREE = 0, MORVANE_SYNC_SONG = 1, MORVANE_SYNC_TEMPO = 2 };

/* The phase is anchor + turns_per_sample x samples since the anchor, so
 * that with the settings constant it does not depend on how the host cuts
 * the audio into blocks; a new pace re-anchors where the phase is. */
struct lfo_lock {
  bool _locked;              // the phase is the LFO's, handed to the engine
  morvane_sync _mode;        // the mode of the last stretch
  double _anchor;            // turns, in [0, 1)
  int64_t _since_anchor;     // samples
  double _turns_per_sample;  // the pace since the anchor
};

/* What the engine's LFO gets for one stretch of audio. */
struct lfo_drive {
  bool _set_phase;     // false: leave the engine's phase alone (free running)
  double _phase;       // radians, when _set_phase
  float _rate_hz;      // the rate to set, Hz (negative runs backwards)
};

/* Not locked: the next locked stretch takes its phase from the song. */
void lfo_lock_restart(lfo_lock* lock) noexcept;

/* At the start of a stretch: the drive for an LFO in `mode` with rate
 * `rate_hz` and, in "Tempo", a cycle of `cycle_quarters` quarter notes.
 * `position` says a position has just been taken (or the song restarted):
 * a locked LFO then takes its phase from the song. */
lfo_drive lfo_lock_begin(lfo_lock* lock, morvane_sync mode, float rate_hz, double cycle_quarters,
                         const song_position* song, bool position) noexcept;

/* At the end of a stretch of n samples: a locked phase moves on. */
void lfo_lock_advance(lfo_lock* lock, uint32_t n) noexcept;

/* The locked phase in turns ([0, 1)), or a negative value when free. */
double lfo_lock_phase(const lfo_lock* lock) noexcept;

#endif /* MORVANE_LFO_LOCK_H */
