// SPDX-License-Identifier: LGPL-2.1-or-later
// A host's inline display on the plug-in's side (see inline_picture.h).
#include "inline_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

bool inline_picture_init(inline_picture* picture, const morvane_inline_queue_draw* queue, double rate,
                         const song_lock* song) noexcept
{
  picture->_write_slot = 0;
  picture->_read_slot = 1;
  picture->_latest.store(2, std::memory_order_relaxed);
  frame_source_init(&picture->_source, rate, MORVANE_INLINE_PICTURES_PER_SECOND, song);
  if (queue == nullptr || queue->queue_draw == nullptr) {
    return true;
  }
  picture->_queue = *queue;
  picture->_enabled = true;
  return true;
}

// Whether two snapshots draw the same picture: the partials alone, with
// the stereo plug-in's mode, width and right channel.
static bool same_partials(const morvane_frame& a, const morvane_frame& b) noexcept
{
  const bool same_right =
      a._stereo != MORVANE_FRAME_LEFT_RIGHT ||
      (std::memcmp(a._right_analysed_amps, b._right_analysed_amps, sizeof a._right_analysed_amps) == 0 &&
       std::memcmp(a._right_analysed_freqs, b._right_analysed_freqs, sizeof a._right_analysed_freqs) == 0 &&
       std::memcmp(a._right_shaken_amps, b._right_shaken_amps, sizeof a._right_shaken_amps) == 0 &&
       std::memcmp(a._right_shaken_freqs, b._right_shaken_freqs, sizeof a._right_shaken_freqs) == 0);
  return a._audible == b._audible && a._sample_rate == b._sample_rate && a._stereo == b._stereo &&
         std::memcmp(&a._width, &b._width, sizeof a._width) == 0 &&
         std::memcmp(a._analysed_amps, b._analysed_amps, sizeof a._analysed_amps) == 0 &&
         std::memcmp(a._analysed_freqs, b._analysed_freqs, sizeof a._analysed_freqs) == 0 &&
         std::memcmp(a._shaken_amps, b._shaken_amps, sizeof a._shaken_amps) == 0 &&
         std::memcmp(a._shaken_freqs, b._shaken_freqs, sizeof a._shaken_freqs) == 0 && same_right;
}

void inline_picture_run(inline_picture* picture, libquivex engine, const stereo_field* field, float run_peak,
                        uint32_t n_samples) noexcept
{
  inline_picture& d = *picture;
  if (!frame_source_advance(&d._source, run_peak, n_samples)) {
    return;
  }
  morvane_frame* slot = &d._slots[d._write_slot];
  frame_source_fill(&d._source, engine, field, slot);
  // While the partials keep their bits (in silence the analysis comes to
  // rest) there is nothing new to draw, even though the LFOs and the peak
  // move on.
  if (d._have_published && same_partials(*slot, d._last_published)) {
    return;
  }
  std::memcpy(&d._last_published, slot, sizeof *slot);
  d._have_published = true;
  const int previous = d._latest.exchange(d._write_slot | MORVANE_INLINE_FRESH, std::memory_order_acq_rel);
  d._write_slot = previous & 3;
  d._queue.queue_draw(d._queue.handle);
}

// The latest snapshot is taken by swapping slots, never by waiting. The
// picture keeps a 2:1 shape within what the host offers.
morvane_inline_surface* inline_picture_render(inline_picture* picture, uint32_t w, uint32_t h) noexcept
{
  inline_picture& d = *picture;
  if (!d._enabled || w == 0 || h == 0 || w > 4096 || h > 4096) {
    return nullptr;
  }
  if ((d._latest.load(std::memory_order_acquire) & MORVANE_INLINE_FRESH) != 0) {
    const int previous = d._latest.exchange(d._read_slot, std::memory_order_acq_rel);
    d._read_slot = previous & 3;
    d._has_picture = true;
  }
  if (!d._has_picture) {
    return nullptr;
  }
  const int width = static_cast<int>(w);
  const int height = static_cast<int>(std::min(h, std::max<uint32_t>(1, w / 2)));
  const int stride = width * 4;
  const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
  if (bytes > d._surface_bytes) {
    auto* data = static_cast<unsigned char*>(std::realloc(d._surface.data, bytes));
    if (data == nullptr) {
      return nullptr;
    }
    d._surface.data = data;
    d._surface_bytes = bytes;
  }
  d._surface.width = width;
  d._surface.height = height;
  d._surface.stride = stride;
  if (morvane_inline_draw(&d._slots[d._read_slot], d._surface.data, width, height, stride) != 0) {
    return nullptr;
  }
  return &d._surface;
}

void inline_picture_free(inline_picture* picture) noexcept
{
  std::free(picture->_surface.data);
}
