/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The three shake LFOs and the host's song: the song's position
 * (song_position.h) and each LFO's lock to it (lfo_lock.h), and what the
 * engine is told. run cuts its buffer at every position the host sends, so
 * that a position applies from its own sample: for each stretch it calls
 * song_lock_begin, processes the stretch, then song_lock_advance.
 * Audio thread after song_lock_init: no allocation, lock or system call. */
#ifndef MORVANE_SONG_LOCK_H
#define MORVANE_SONG_LOCK_H

#include <cstdint>

#include <lv2/urid/urid.h>
#include <quivex/libquivex.h>

#include "frame.h"
#include "lfo_lock.h"
#include "sequence_reader.h"
#include "song_position.h"

/* One shake LFO's settings as its ports give them. */
struct lfo_timing {
  morvane_sync _mode;
  float _rate_hz;         // its Rate port
  double _cycle;          // its Cycle port, quarter notes
};

struct song_lock {
  bool _mapped;           // the host gave urid:map: positions can be read
  song_uris _uris;
  song_position _song;
  lfo_lock _locks[MORVANE_NUM_SHAKE_LFOS];
  bool _position;         // a position was taken at the start of the next stretch
};

/* Song unknown, LFOs free. map may be NULL: then no position is read. */
void song_lock_init(song_lock* lock, const LV2_URID_Map* map, double rate) noexcept;

/* The plug-in was activated: every position is forgotten. */
void song_lock_restart(song_lock* lock) noexcept;

/* If `event`, `offset` samples after the start of the current stretch, is
 * a good time:Position, returns true without taking it yet: the caller
 * processes the stretch up to it, then calls song_lock_take. */
bool song_lock_is_position(const song_lock* lock, const morvane_event& event, uint32_t offset,
                           song_position* taken) noexcept;
void song_lock_take(song_lock* lock, const song_position& taken) noexcept;

/* Whether any of the three LFOs is in a locked mode. */
bool song_lock_any_locked(const lfo_timing timing[MORVANE_NUM_SHAKE_LFOS]) noexcept;

/* At the start of a stretch: the rate and, when locked, the phase of each
 * shake LFO into `engine`. Free LFOs get their Rate port's value, as the
 * control loop gave it. */
void song_lock_begin(song_lock* lock, libquivex engine, const lfo_timing timing[MORVANE_NUM_SHAKE_LFOS]) noexcept;

/* After a stretch of n samples. */
void song_lock_advance(song_lock* lock, uint32_t n) noexcept;

/* At the end of run: the locked LFOs' phases into `engine`, so that it
 * holds the song's phase to float precision between runs. */
void song_lock_end(const song_lock* lock, libquivex engine) noexcept;

#endif /* MORVANE_SONG_LOCK_H */
