/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Where the pictures of the engine come from: the plug-in's window (at most
 * 30 frames a second) and a host's inline display (at most 8) each keep one
 * frame_source, which decides when a frame is due, gathers the output's
 * peak in between and fills the frame from the engine. Audio thread, after
 * frame_source_init: no allocation, lock or system call. */
#ifndef MORVANE_FRAME_SOURCE_H
#define MORVANE_FRAME_SOURCE_H

#include <cstdint>

#include <quivex/libquivex.h>

#include "frame.h"

struct song_lock;
struct stereo_field;

struct frame_source {
  double _rate;         // the plug-in's sample rate, Hz
  uint32_t _interval;   // samples between frames
  uint32_t _since;      // samples since the last frame (held at UINT32_MAX)
  float _peak;          // largest |output sample| since the last frame
  uint32_t _sequence;   // number of the last frame filled (0: none yet)
  const song_lock* _song;  // the host's song as the plug-in follows it, or NULL
};

/* A source of at most frames_per_second frames a second of audio at `rate`
 * Hz, its first frame due at once; its frames tell the tempo and transport
 * of `song` (NULL: unknown). */
void frame_source_init(frame_source* source, double rate, uint32_t frames_per_second,
                       const song_lock* song) noexcept;

/* Makes the next frame due at once and forgets the peak (a window opened). */
void frame_source_restart(frame_source* source) noexcept;

/* After a run of n_samples whose output peaked at run_peak: whether a frame
 * is due. */
bool frame_source_advance(frame_source* source, float run_peak, uint32_t n_samples) noexcept;

/* The kind of frame (morvane_frame_stereo) a plug-in with the stereo
 * field `field` sends now: MORVANE_FRAME_MONO for NULL (the mono
 * plug-in), else the mode its engines play in. */
int32_t frame_source_stereo(const stereo_field* field) noexcept;

/* Fills *frame with what `engine` holds after its last sample (partials,
 * LFO values and phases), the peak since the last frame and the song's
 * tempo and transport, gives it the next sequence number and its checksum,
 * and starts the next interval. The stereo plug-in passes its field
 * (`engine` is its left engine; NULL for the mono plug-in): the frame then
 * says its mode and width and, in Left / Right, holds the right engine's
 * partials too. */
void frame_source_fill(frame_source* source, libquivex engine, const stereo_field* field,
                       morvane_frame* frame) noexcept;

/* The largest |sample| of out[0 .. n). */
float morvane_buffer_peak(const float* out, uint32_t n) noexcept;

#endif /* MORVANE_FRAME_SOURCE_H */
