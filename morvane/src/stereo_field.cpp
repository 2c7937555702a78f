// SPDX-License-Identifier: LGPL-2.1-or-later
// The stereo plug-in's roads through its two engines (see stereo_field.h).
#include "stereo_field.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls.h"
#include "libquivex_restart.h"
#include "libtembra_internal.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr double FADE_MS = 3.0;

// The road is about to change: the right engine starts from the left one's
// state wherever it is used, so that no partial of a stretch it last
// played long ago sounds again.
void switch_road(stereo_field* field)
{
  if (field->_wanted != stereo_road::MID) {
    libquivex_copy_state(field->_right, field->_left, libtembra_copy_state);
  }
  field->_road = field->_wanted;
}

// n (at most STEREO_FIELD_PIECE) samples along the road in use. The input
// is copied first, so any of the host's buffers may be the same.
void play_piece(stereo_field* field, const float* in_l, const float* in_r, float* out_l, float* out_r, uint32_t n)
{
  const libquivex left = field->_left;
  const libquivex right = field->_right;
  libquivex_follow_lfos(right, left, field->_offset);
  const int count = static_cast<int>(n);
  if (field->_road == stereo_road::LEFT_RIGHT) {
    std::memcpy(field->_in_a, in_l, sizeof(float) * n);
    std::memcpy(field->_in_b, in_r, sizeof(float) * n);
    std::memcpy(out_l, field->_in_a, sizeof(float) * n);
    std::memcpy(out_r, field->_in_b, sizeof(float) * n);
    libquivex_next_buffer(left, out_l, count);
    libquivex_next_buffer(right, out_r, count);
    return;
  }
  // (x + x) / 2 is x exactly: with both channels alike, the mono signal.
  for (uint32_t i = 0; i < n; ++i) {
    field->_in_a[i] = (in_l[i] + in_r[i]) * 0.5f;
  }
  if (field->_road == stereo_road::MID) {
    libquivex_next_buffer_stereo(left, field->_in_a, out_l, out_r, count);
  } else {
    libquivex_next_buffer_pair(left, right, field->_in_a, out_l, out_r, count);
  }
}

}  // namespace

void stereo_field_gains(double width, float* gains_l, float* gains_r, int n) noexcept
{
  const double root2 = std::sqrt(2.0);
  for (int k = 0; k < n; ++k) {
    const double pan = (k % 2 == 0 ? -1.0 : 1.0) * width;
    if (pan == 0.0) {
      gains_l[k] = gains_r[k] = 1.0f;
      continue;
    }
    // cos(pi/4 (1 + p)) is sin(pi/4 (1 - p)): written so, the two sides
    // mirror each other to the bit and a partial hard on one side is
    // exactly silent on the other.
    gains_l[k] = static_cast<float>(root2 * std::sin(PI / 4.0 * (1.0 - pan)));
    gains_r[k] = static_cast<float>(root2 * std::sin(PI / 4.0 * (1.0 + pan)));
  }
}

stereo_road stereo_field_road(float mode, float offset_degrees) noexcept
{
  if (std::lround(mode) == MORVANE_STEREO_LEFT_RIGHT) {
    return stereo_road::LEFT_RIGHT;
  }
  return offset_degrees != 0.0f ? stereo_road::MID_OFFSET : stereo_road::MID;
}

bool stereo_field_init(stereo_field* field, unsigned long rate) noexcept
{
  field->_left = libquivex_new(rate);
  field->_right = field->_left != nullptr ? libquivex_new(rate) : nullptr;
  if (field->_right == nullptr) {
    return false;
  }
  libquivex_share_phase_offsets(field->_right, field->_left);
  const double fade = static_cast<double>(rate) * (0.001 * FADE_MS);
  field->_fade_len = std::max(1, static_cast<int>(std::lround(fade)));
  field->_width_bits = std::nanf("");
  field->_offset = 0.0;
  field->_wanted = stereo_road::MID;
  stereo_field_restart(field);
  return true;
}

void stereo_field_free(stereo_field* field) noexcept
{
  libquivex_free(field->_left);
  libquivex_free(field->_right);
  field->_left = field->_right = nullptr;
}

void stereo_field_restart(stereo_field* field) noexcept
{
  field->_started = false;
  field->_fade_pos = field->_fade_len;
}

void stereo_field_set(stereo_field* field, float mode, float width_percent, float offset_degrees) noexcept
{
  if (std::memcmp(&width_percent, &field->_width_bits, sizeof(float)) != 0) {
    field->_width_bits = width_percent;
    stereo_field_gains(0.01 * static_cast<double>(width_percent), field->_gains_l, field->_gains_r,
                       LIBQUIVEX_NUM_RESONATORS);
    libquivex_set_partial_gains(field->_left, field->_gains_l, field->_gains_r);
    libquivex_set_partial_gains(field->_right, field->_gains_l, field->_gains_r);
  }
  field->_offset = static_cast<double>(offset_degrees) * (PI / 180.0);
  field->_wanted = stereo_field_road(mode, offset_degrees);
}

void stereo_field_play(stereo_field* field, const float* in_l, const float* in_r, float* out_l, float* out_r,
                       uint32_t start, uint32_t end) noexcept
{
  if (!field->_started) {
    // The first piece after instantiation or activation takes the road
    // asked for at once, at full level: both engines are fresh.
    field->_started = true;
    field->_road = field->_wanted;
  }
  const int len = field->_fade_len;
  while (start < end) {
    if (field->_wanted != field->_road && field->_fade_pos == 0) {
      switch_road(field);
    }
    uint32_t n = std::min<uint32_t>(end - start, STEREO_FIELD_PIECE);
    int step = 0;  // the level's direction over this piece
    if (field->_wanted != field->_road) {
      n = std::min<uint32_t>(n, static_cast<uint32_t>(field->_fade_pos));
      step = -1;
    } else if (field->_fade_pos < len) {
      n = std::min<uint32_t>(n, static_cast<uint32_t>(len - field->_fade_pos));
      step = 1;
    }
    play_piece(field, in_l + start, in_r + start, out_l + start, out_r + start, n);
    if (step != 0) {
      for (uint32_t i = start; i < start + n; ++i) {
        field->_fade_pos += step;
        const float level = static_cast<float>(field->_fade_pos) / static_cast<float>(len);
        out_l[i] *= level;
        out_r[i] *= level;
      }
    }
    start += n;
  }
}
