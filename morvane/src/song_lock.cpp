// SPDX-License-Identifier: LGPL-2.1-or-later
// The shake LFOs locked to the host's song (see song_lock.h).
#include "song_lock.h"

#include <cmath>

namespace {

constexpr double TWO_PI = 6.283185307179586;

// The engine's rate setter of each shake LFO.
void (*const set_rate[MORVANE_NUM_SHAKE_LFOS])(libquivex, float) = {
  libquivex_set_lfo_amp_freq, libquivex_set_lfo_freq_freq, libquivex_set_lfo_time_freq};

}  // namespace

void song_lock_init(song_lock* lock, const LV2_URID_Map* map, double rate) noexcept
{
  *lock = song_lock{};
  if (map != nullptr && map->map != nullptr) {
    song_uris_map(&lock->_uris, map);
    lock->_mapped = true;
  }
  song_position_init(&lock->_song, rate);
  song_lock_restart(lock);
}

void song_lock_restart(song_lock* lock) noexcept
{
  song_position_restart(&lock->_song);
  for (lfo_lock& l : lock->_locks) {
    lfo_lock_restart(&l);
  }
  lock->_position = true;
}

bool song_lock_is_position(const song_lock* lock, const morvane_event& event, uint32_t offset,
                           song_position* taken) noexcept
{
  if (!lock->_mapped) {
    return false;
  }
  *taken = lock->_song;
  song_position_advance(taken, offset);
  return song_position_read(taken, &lock->_uris, event._atom, event._size);
}

void song_lock_take(song_lock* lock, const song_position& taken) noexcept
{
  lock->_song = taken;
  lock->_position = true;
}

bool song_lock_any_locked(const lfo_timing timing[MORVANE_NUM_SHAKE_LFOS]) noexcept
{
  for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
    if (timing[i]._mode != MORVANE_SYNC_FREE) {
      return true;
    }
  }
  return false;
}

void song_lock_begin(song_lock* lock, libquivex engine, const lfo_timing timing[MORVANE_NUM_SHAKE_LFOS]) noexcept
{
  for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
    const lfo_timing& t = timing[i];
    const lfo_drive drive = lfo_lock_begin(&lock->_locks[i], t._mode, t._rate_hz, t._cycle, &lock->_song,
                                           lock->_position);
    if (drive._set_phase) {
      set_rate[i](engine, drive._rate_hz);
      libquivex_set_lfo_phase(engine, i, drive._phase);
    }
  }
  lock->_position = false;
}

void song_lock_advance(song_lock* lock, uint32_t n) noexcept
{
  song_position_advance(&lock->_song, n);
  for (lfo_lock& l : lock->_locks) {
    lfo_lock_advance(&l, n);
  }
}

void song_lock_end(const song_lock* lock, libquivex engine) noexcept
{
  for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
    const double phase = lfo_lock_phase(&lock->_locks[i]);
    if (phase >= 0.0) {
      libquivex_set_lfo_phase(engine, i, phase * TWO_PI);
    }
  }
}
