// SPDX-License-Identifier: LGPL-2.1-or-later
// The song position between the host's positions, and the shake LFOs locked
// to it, without an engine: every expected value is worked out here from
// tempo, speed and time.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <lv2/time/time.h>

#include "lfo_lock.h"
#include "song_position.h"
#include "song_positions.h"
#include "urid_map.h"

namespace {

constexpr double kRate = 48000.0;

struct Song {
  TestUridMap map;
  song_uris uris{};
  song_position song{};
  Song()
  {
    song_uris_map(&uris, map.map());
    song_position_init(&song, kRate);
  }
  bool take(const Position& p) { return song_position_read(&song, &uris, p.atom(), p.size()); }
  // Seconds of song in blocks of `block` samples.
  void roll(double seconds, uint32_t block = 512)
  {
    for (auto left = static_cast<int64_t>(seconds * kRate); left > 0; left -= block)
      song_position_advance(&song, static_cast<uint32_t>(std::min<int64_t>(left, block)));
  }
};

}  // namespace

TEST(SongPosition, TenMinutesFromOnePositionStayWithinAMillisecond)
{
  Song s;
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__frame, 0, 'l'}, {LV2_TIME__speed, 1, 'f'},
                                      {LV2_TIME__beatsPerMinute, 120, 'f'}, {LV2_TIME__bar, 0, 'l'},
                                      {LV2_TIME__barBeat, 0, 'f'}, {LV2_TIME__beatUnit, 4, 'i'},
                                      {LV2_TIME__beatsPerBar, 4, 'f'}})));
  lfo_lock song_lock{}, tempo_lock{};
  lfo_lock_begin(&song_lock, MORVANE_SYNC_SONG, 4.0f, 4.0, &s.song, true);
  lfo_lock_begin(&tempo_lock, MORVANE_SYNC_TEMPO, 4.0f, 0.5, &s.song, true);
  for (int block = 0; block < static_cast<int>(600 * kRate / 333); ++block) {
    song_position_advance(&s.song, 333);
    lfo_lock_begin(&song_lock, MORVANE_SYNC_SONG, 4.0f, 4.0, &s.song, false);
    lfo_lock_begin(&tempo_lock, MORVANE_SYNC_TEMPO, 4.0f, 0.5, &s.song, false);
    lfo_lock_advance(&song_lock, 333);
    lfo_lock_advance(&tempo_lock, 333);
  }
  const double seconds = std::floor(600 * kRate / 333) * 333 / kRate;
  EXPECT_NEAR(song_position_frame(&s.song) / kRate, seconds, 1e-3);
  EXPECT_NEAR(song_position_quarters(&s.song) / 2.0, seconds, 1e-3);  // two quarters a second
  // The phases: 4 Hz, and an eighth note (4 cycles a second) at 120 bpm,
  // within a millionth of a cycle.
  const double cycles = 4.0 * seconds;
  EXPECT_NEAR(lfo_lock_phase(&song_lock), cycles - std::floor(cycles), 1e-6);
  EXPECT_NEAR(lfo_lock_phase(&tempo_lock), cycles - std::floor(cycles), 1e-6);
}

TEST(SongPosition, FollowsTempoMeterSpeedAndDirection)
{
  Song s;
  // Ardour's types, then a tempo change after one second: 90 bpm from beat 2.
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__frame, 0, 'l'}, {LV2_TIME__beatsPerMinute, 120, 'f'},
                                      {LV2_TIME__speed, 1, 'f'}})));
  s.roll(1.0);
  EXPECT_NEAR(song_position_quarters(&s.song), 2.0, 1e-9);
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__frame, kRate, 'd'}, {LV2_TIME__beatsPerMinute, 90, 'd'},
                                      {LV2_TIME__beat, 2, 'd'}}, true)));
  s.roll(2.0);
  EXPECT_NEAR(song_position_quarters(&s.song), 2.0 + 3.0, 1e-9);
  // 6/8: beats are eighths. time:beat wins over a bar count made stale by
  // the meter change.
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__beat, 20, 'i'}, {LV2_TIME__beatUnit, 8, 'i'},
                                      {LV2_TIME__beatsPerBar, 6, 'i'}, {LV2_TIME__bar, 1, 'i'},
                                      {LV2_TIME__barBeat, 0, 'f'}, {LV2_TIME__beatsPerMinute, 120, 'f'}})));
  EXPECT_NEAR(song_position_quarters(&s.song), 10.0, 1e-9);
  s.roll(1.0);  // 120 eighths a minute: one quarter a second
  EXPECT_NEAR(song_position_quarters(&s.song), 11.0, 1e-9);
  // Without time:beat, bars and beats count.
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__bar, 2, 'l'}, {LV2_TIME__barBeat, 3, 'f'}})));
  EXPECT_NEAR(song_position_quarters(&s.song), (2 * 6 + 3) * 0.5, 1e-9);
  // Half speed backwards.
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__speed, -0.5, 'f'}})));
  s.roll(2.0);
  EXPECT_NEAR(song_position_quarters(&s.song), 7.5 - 1.0, 1e-9);
  // Stopped: the song stands, but a locked LFO runs on at its own pace.
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__speed, 0, 'f'}})));
  lfo_lock lock{};
  lfo_lock_begin(&lock, MORVANE_SYNC_TEMPO, 1.0f, 1.0, &s.song, true);
  const double start = lfo_lock_phase(&lock);
  s.roll(0.5);
  lfo_lock_advance(&lock, static_cast<uint32_t>(0.5 * kRate));
  EXPECT_NEAR(song_position_quarters(&s.song), 6.5, 1e-9);
  // A quarter a second and a cycle a quarter: half a turn on.
  EXPECT_NEAR(lfo_lock_phase(&lock), std::fmod(start + 0.5, 1.0), 1e-9);
}

TEST(SongPosition, BadPositionsKeepTheLastGoodOne)
{
  Song s;
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__frame, 4800, 'l'}, {LV2_TIME__beatsPerMinute, 100, 'f'}})));
  const double quarters = song_position_quarters(&s.song);
  for (const Position& bad :
       {Position(s.map, {{LV2_TIME__beatsPerMinute, NAN, 'f'}}), Position(s.map, {{LV2_TIME__frame, -1, 'l'}}),
        Position(s.map, {{LV2_TIME__beatsPerMinute, 0, 'd'}}), Position(s.map, {{LV2_TIME__beatsPerMinute, -5, 'i'}}),
        Position(s.map, {{LV2_TIME__beatUnit, 0, 'i'}}), Position(s.map, {{LV2_TIME__beatsPerBar, 0, 'f'}}),
        Position(s.map, {{LV2_TIME__speed, INFINITY, 'd'}, {LV2_TIME__frame, 0, 'l'}})}) {
    EXPECT_FALSE(s.take(bad));
    EXPECT_EQ(song_position_quarters(&s.song), quarters);
  }
  // An object of another type, and a position cut short, are no position.
  const Position cut(s.map, {{LV2_TIME__frame, 0, 'l'}});
  EXPECT_FALSE(song_position_read(&s.song, &s.uris, cut.atom(), cut.size() - 4));
  EXPECT_EQ(song_position_quarters(&s.song), quarters);
}

TEST(LfoLock, SongWaitsForAPositionTempoRunsAt120FromActivation)
{
  Song s;
  lfo_lock song_lock{}, tempo_lock{};
  const lfo_drive free_song = lfo_lock_begin(&song_lock, MORVANE_SYNC_SONG, 3.0f, 4.0, &s.song, true);
  EXPECT_FALSE(free_song._set_phase);
  EXPECT_EQ(free_song._rate_hz, 3.0f);
  // A cycle of one bar at 120 bpm: half a hertz, phase 0 at activation.
  const lfo_drive tempo = lfo_lock_begin(&tempo_lock, MORVANE_SYNC_TEMPO, 3.0f, 4.0, &s.song, true);
  EXPECT_TRUE(tempo._set_phase);
  EXPECT_EQ(tempo._phase, 0.0);
  EXPECT_FLOAT_EQ(tempo._rate_hz, 0.5f);
  // A locate to 1.25 s: "Song" at 3 Hz is 3.75 cycles in.
  s.roll(0.3);
  ASSERT_TRUE(s.take(Position(s.map, {{LV2_TIME__frame, 1.25 * kRate, 'l'}, {LV2_TIME__speed, 1, 'f'}})));
  const lfo_drive song = lfo_lock_begin(&song_lock, MORVANE_SYNC_SONG, 3.0f, 4.0, &s.song, true);
  EXPECT_TRUE(song._set_phase);
  EXPECT_NEAR(song._phase, 0.75 * 2 * M_PI, 1e-9);
  // Turning the rate changes the pace, not the phase.
  lfo_lock_advance(&song_lock, 4800);
  const lfo_drive faster = lfo_lock_begin(&song_lock, MORVANE_SYNC_SONG, 6.0f, 4.0, &s.song, false);
  EXPECT_NEAR(faster._phase, (0.75 + 0.3 - 1.0) * 2 * M_PI, 1e-9);
  EXPECT_EQ(faster._rate_hz, 6.0f);
}
