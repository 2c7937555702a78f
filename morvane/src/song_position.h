/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Where the host's song is, sample by sample. A host sends a time:Position
 * object only when something changes (a locate, a loop wrap, a change of
 * speed, tempo or meter, a tempo-map point); in between the song moves by
 * speed x tempo, which this tracker works out from the last position and
 * the samples since, never by summing per-block steps, so ten minutes
 * without a position drift by nothing but double rounding.
 *
 * Song time is kept twice: in frames (for LFOs whose rate is in Hz) and in
 * quarter notes (for LFOs whose cycle is a note value). Until the first
 * position after song_position_restart, the song is unknown: it is taken to
 * start at activation and roll at 120 bpm in 4/4.
 *
 * Audio thread after song_position_init: no allocation, lock or system
 * call. */
#ifndef MORVANE_SONG_POSITION_H
#define MORVANE_SONG_POSITION_H

#include <cstdint>

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

/* The URIDs a position is read with, mapped once at instantiation. */
struct song_uris {
  LV2_URID _atom_Object, _atom_Blank, _atom_Int, _atom_Long, _atom_Float, _atom_Double;
  LV2_URID _time_Position, _time_frame, _time_speed, _time_bar, _time_barBeat, _time_beat, _time_beatUnit,
      _time_beatsPerBar, _time_beatsPerMinute;
};

/* Maps every URI of song_uris with the host's map. */
void song_uris_map(song_uris* uris, const LV2_URID_Map* map) noexcept;

/* Tempo taken until a host says otherwise, in beats per minute. */
constexpr double MORVANE_DEFAULT_BPM = 120.0;

struct song_position {
  double _rate;             // the plug-in's sample rate, Hz
  bool _known;              // a position came since the last restart
  // The last position, as this tracker understood it.
  double _anchor_frame;     // frames since the song's start
  double _anchor_quarters;  // quarter notes since the song's start
  double _speed;            // 0 stopped, 1 rolling, other values varispeed or reverse
  double _bpm;              // beats (of beat_unit notes) per minute
  double _beat_unit;        // 4: a beat is a quarter note
  double _beats_per_bar;
  int64_t _elapsed;         // samples since the last position
};

/* A tracker for a plug-in at `rate` Hz, the song unknown. */
void song_position_init(song_position* song, double rate) noexcept;

/* Forgets every position (the plug-in was activated): the song starts now
 * at 120 bpm in 4/4, rolling. */
void song_position_restart(song_position* song) noexcept;

/* Takes the atom of `size` bytes at `atom` if it is a whole time:Position
 * object (typed atom:Object or atom:Blank, numbers as Int, Long, Float or
 * Double); returns whether it was one and was taken. A position with a NaN
 * or infinite number, a tempo at or below 0, a frame below 0, or a beat
 * unit or beats per bar at or below 0 is ignored: the last good one stays.
 * Keys not sent keep their last values. Quarter notes come from time:beat,
 * else from time:bar and time:barBeat, else from the frame and the tempo. */
bool song_position_read(song_position* song, const song_uris* uris, const LV2_Atom* atom, uint32_t size) noexcept;

/* The song moves on by n samples at its speed. */
void song_position_advance(song_position* song, uint32_t n) noexcept;

/* Frames and quarter notes since the song's start, now. */
double song_position_frame(const song_position* song) noexcept;
double song_position_quarters(const song_position* song) noexcept;

/* Whether the transport rolls (a speed other than 0). */
bool song_position_rolling(const song_position* song) noexcept;

/* The tempo in quarter notes per sample (the beat unit taken into account),
 * at speed 1. */
double song_position_quarters_per_sample(const song_position* song) noexcept;

#endif /* MORVANE_SONG_POSITION_H */
