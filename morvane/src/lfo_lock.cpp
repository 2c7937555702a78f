// SPDX-License-Identifier: LGPL-2.1-or-later
// Shake LFOs locked to the host's song (see lfo_lock.h).
#include "lfo_lock.h"

#include <cmath>

namespace {

constexpr double TWO_PI = 6.283185307179586;

double fraction(double turns) noexcept
{
  const double f = turns - std::floor(turns);
  return f < 1.0 ? f : 0.0;
}

// The phase, in turns, that the song position gives.
double song_phase(morvane_sync mode, float rate_hz, double cycle, const song_position* song) noexcept
{
  if (mode == MORVANE_SYNC_SONG) {
    return fraction(static_cast<double>(rate_hz) * (song_position_frame(song) / song->_rate));
  }
  return fraction(song_position_quarters(song) / cycle);
}

// Turns a sample: the song's speed while it rolls, the LFO's own pace while
// it stands.
double turns_per_sample(morvane_sync mode, float rate_hz, double cycle, const song_position* song) noexcept
{
  const double pace = mode == MORVANE_SYNC_SONG ? static_cast<double>(rate_hz) / song->_rate
                                                : song_position_quarters_per_sample(song) / cycle;
  return song_position_rolling(song) ? pace * song->_speed : pace;
}

}  // namespace

void lfo_lock_restart(lfo_lock* lock) noexcept
{
  *lock = lfo_lock{};
}

double lfo_lock_phase(const lfo_lock* lock) noexcept
{
  if (!lock->_locked) {
    return -1.0;
  }
  return fraction(lock->_anchor + lock->_turns_per_sample * static_cast<double>(lock->_since_anchor));
}

lfo_drive lfo_lock_begin(lfo_lock* lock, morvane_sync mode, float rate_hz, double cycle_quarters,
                         const song_position* song, bool position) noexcept
{
  if (mode == MORVANE_SYNC_FREE || (mode == MORVANE_SYNC_SONG && !song->_known)) {
    lock->_locked = false;
    lock->_mode = mode;
    return {false, 0.0, rate_hz};
  }
  const double pace = turns_per_sample(mode, rate_hz, cycle_quarters, song);
  if (!lock->_locked || position || mode != lock->_mode) {
    lock->_anchor = song_phase(mode, rate_hz, cycle_quarters, song);
    lock->_since_anchor = 0;
  } else if (pace != lock->_turns_per_sample) {
    lock->_anchor = lfo_lock_phase(lock);
    lock->_since_anchor = 0;
  }
  lock->_locked = true;
  lock->_mode = mode;
  lock->_turns_per_sample = pace;
  return {true, lfo_lock_phase(lock) * TWO_PI, static_cast<float>(pace * song->_rate)};
}

void lfo_lock_advance(lfo_lock* lock, uint32_t n) noexcept
{
  if (lock->_locked) {
    lock->_since_anchor += n;
  }
}
