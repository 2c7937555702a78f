/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's side of a host's inline display (inline_display.h): run
 * takes a snapshot of the partials a few times a second and hands it to the
 * host's GUI thread without a lock; render draws the latest one with cairo
 * (morvane_inline_draw). */
#ifndef MORVANE_INLINE_PICTURE_H
#define MORVANE_INLINE_PICTURE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include <quivex/libquivex.h>

#include "frame.h"
#include "frame_source.h"
#include "inline_display.h"

/* Pictures for a host's inline display: at most this many a second. */
constexpr uint32_t MORVANE_INLINE_PICTURES_PER_SECOND = 8;

/* Snapshots pass from run to render through three slots: one being written
 * by run, one the latest finished, one being drawn by render. run publishes
 * by swapping its slot with the latest; render takes the latest by swapping
 * it with its own. Each side only ever touches its own slot, so neither
 * waits for the other. */
struct inline_picture {
  // Fixed at instantiate.
  bool _enabled;                     // the host offered queue_draw
  morvane_inline_queue_draw _queue;  // the host's queue_draw feature (handle, function)
  // run's side (the audio thread).
  frame_source _source;              // when the next snapshot is due, and the peak until then
  int _write_slot;
  bool _have_published;              // at least one snapshot went out
  morvane_frame _last_published;     // run's copy of what it last published
  // Shared: the slots, and which one is the latest.
  morvane_frame _slots[3];
  std::atomic<int> _latest;          // the latest slot, | MORVANE_INLINE_FRESH until render takes it
  // render's side (the host's GUI thread).
  int _read_slot;
  bool _has_picture;                 // render has taken at least one snapshot
  morvane_inline_surface _surface;   // pixels returned to the host, owned here
  size_t _surface_bytes;
};
constexpr int MORVANE_INLINE_FRESH = 4;

/* Sets up a picture for a plug-in at `rate` Hz following `song` (as
 * frame_source_init); queue is the host's queue_draw feature or NULL,
 * without which nothing is ever snapshot or drawn. Returns false when
 * memory runs out (inline_picture_free then releases what was taken). */
bool inline_picture_init(inline_picture* picture, const morvane_inline_queue_draw* queue, double rate,
                         const song_lock* song) noexcept;

/* After a run of n_samples whose output peaked at run_peak: a snapshot of
 * `engine` (and of the stereo plug-in's `field`, NULL for the mono one;
 * see frame_source_fill) every 1/8 s of audio, published and a redraw
 * asked for only when what it draws changed. Audio thread: no allocation,
 * lock or system call. */
void inline_picture_run(inline_picture* picture, libquivex engine, const stereo_field* field, float run_peak,
                        uint32_t n_samples) noexcept;

/* The latest snapshot drawn in at most w x h pixels, or NULL. The host's
 * GUI thread, while run goes on. */
morvane_inline_surface* inline_picture_render(inline_picture* picture, uint32_t w, uint32_t h) noexcept;

/* Releases the pixels. */
void inline_picture_free(inline_picture* picture) noexcept;

#endif /* MORVANE_INLINE_PICTURE_H */
