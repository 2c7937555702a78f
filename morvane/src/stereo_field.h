/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The stereo plug-in's two channels. Three roads through the engines:
 *   Mid          one engine analyses (L + R) / 2 and resynthesises it into
 *                both outputs, each partial placed in the field by Width;
 *   Mid, offset  as Mid, and a second engine shakes the same analysis with
 *                its LFOs ahead by the offset for the right output;
 *   Left / Right each channel through an engine of its own.
 * The second engine always has the first one's random phase offsets, so a
 * centred source folds to mono without cancelling. A change of road fades
 * the outputs out, makes the second engine start from the first one's
 * state (never from stale partials), and fades them in again.
 * Audio thread after stereo_field_init: no allocation, lock or system call. */
#ifndef MORVANE_STEREO_FIELD_H
#define MORVANE_STEREO_FIELD_H

#include <cstdint>

#include <quivex/libquivex.h>

/* Each partial's gain in each output for a width from 0 to 1: resonator k
 * at pan p = (-1)^(k+1) * width (k from 0: the lowest on the left),
 * left gain sqrt 2 cos(pi/4 (1 + p)) and right gain sqrt 2 sin(pi/4 (1 + p)),
 * so that the two squared sum to 2,
 * in double, rounded to float once; a centred partial gets exactly 1 in
 * both. n floats each. */
void stereo_field_gains(double width, float* gains_l, float* gains_r, int n) noexcept;

enum class stereo_road { MID, MID_OFFSET, LEFT_RIGHT };

/* The road the controls ask for: the mode, and in Mid whether the offset
 * (degrees) is other than 0. */
stereo_road stereo_field_road(float mode, float offset_degrees) noexcept;

/* Scratch for one piece of input, so that any aliasing of the host's
 * buffers is harmless. */
constexpr uint32_t STEREO_FIELD_PIECE = 256;

struct stereo_field {
  libquivex _left;        // the left (or mid) engine: created first
  libquivex _right;       // the right channel's engine
  stereo_road _road;      // in use
  stereo_road _wanted;    // asked for by the controls
  bool _started;          // a first piece has been played since activation
  int _fade_len;          // samples of a fade, about 3 ms
  int _fade_pos;          // the outputs' level is _fade_pos / _fade_len
  float _width_bits;      // the width the gains were computed for (NaN: none)
  double _offset;         // the right LFOs' lead, radians
  float _gains_l[LIBQUIVEX_NUM_RESONATORS];
  float _gains_r[LIBQUIVEX_NUM_RESONATORS];
  float _in_a[STEREO_FIELD_PIECE];  // mid or left input of a piece
  float _in_b[STEREO_FIELD_PIECE];  // right input of a piece
};

/* Both engines at `rate` Hz: the left one first, drawing the random phase
 * offsets a mono instance draws, then the right one, which takes the left
 * one's. Returns false when memory runs out (nothing then to free but what
 * stereo_field_free frees). */
bool stereo_field_init(stereo_field* field, unsigned long rate) noexcept;
void stereo_field_free(stereo_field* field) noexcept;

/* After activate has restarted both engines: the next piece starts afresh. */
void stereo_field_restart(stereo_field* field) noexcept;

/* The stereo controls of this run: mode, width (%) and offset (degrees). */
void stereo_field_set(stereo_field* field, float mode, float width_percent, float offset_degrees) noexcept;

/* Processes samples [start, end) of the inputs into the outputs. Before it,
 * the caller has given the left engine this stretch's LFO rates and
 * phases; the right engine follows them here. */
void stereo_field_play(stereo_field* field, const float* in_l, const float* in_r, float* out_l, float* out_r,
                       uint32_t start, uint32_t end) noexcept;

#endif /* MORVANE_STEREO_FIELD_H */
