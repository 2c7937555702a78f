// SPDX-License-Identifier: LGPL-2.1-or-later
// The partials' drawing with cairo alone (see draw_partials.h).
#include "draw_partials.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <tembra/mel.h>

#include "palette.h"

using namespace morvane_palette;

namespace {

bool in_hz_range(double hz)
{
  return hz >= MORVANE_VIEW_MIN_HZ && hz <= MORVANE_VIEW_MAX_HZ;
}

// Level in dBFS of a resynthesised amplitude, or NaN if it has none on the
// view: not finite, zero or below the floor. A negative amplitude is played
// with its sign flipped (the amplitude LFO swings through zero), so its
// level is that of its magnitude.
double level_db(float amp)
{
  const double a = std::fabs(static_cast<double>(amp));
  if (!std::isfinite(a) || a <= 0.0) {
    return NAN;
  }
  const double db = 20.0 * std::log10(a);
  return db >= MORVANE_VIEW_DB_FLOOR ? db : NAN;
}

int audible_count(const morvane_frame* frame)
{
  return std::clamp(static_cast<int>(frame->_audible), 0, MORVANE_NUM_PARTIALS);
}

// Nyquist frequency of the frame if it falls inside the view, else NaN.
double nyquist_in_view(const morvane_frame* frame)
{
  const double nyquist = 0.5 * static_cast<double>(frame->_sample_rate);
  return std::isfinite(nyquist) && nyquist > MORVANE_VIEW_MIN_HZ && nyquist < MORVANE_VIEW_MAX_HZ ? nyquist : NAN;
}

// Where `count` partials stand in area `a`: each one's x from its frequency
// and y from its level, held at the top when above the ceiling; _shown is
// false for one that has no place (NaN, a frequency outside the axis, a
// level that is not finite).
struct partial_points {
  double _x[MORVANE_NUM_PARTIALS];
  double _y[MORVANE_NUM_PARTIALS];
  bool _shown[MORVANE_NUM_PARTIALS];
};

void place_partials(const morvane_rect& a, const float* freqs, const float* amps, int count, partial_points* p)
{
  for (int k = 0; k < count; ++k) {
    const double hz = freqs[k];
    const double db = level_db(amps[k]);
    p->_shown[k] = in_hz_range(hz) && std::isfinite(db);
    p->_x[k] = p->_shown[k] ? morvane_partials_x(&a, hz) : 0.0;
    p->_y[k] = p->_shown[k] ? std::max(morvane_partials_y(&a, db), a._y) : 0.0;
  }
}

// Sizes of the marks, in units of s.
constexpr double LINE_W = 2.0;
constexpr double CAP_W = 5.0;
constexpr double CAP_H = 1.5;
constexpr double RING_OUTER = 2.95;
constexpr double RING_INNER = 1.85;
constexpr double LINK_W = 1.0;
constexpr double LINK_MIN = 4.0;  // shorter links are hidden under the ring
constexpr double STUB_W = 1.5;
constexpr double STUB_H = 6.0;

// Left edge of a column `w` whole pixels wide centred as near x as whole
// pixels allow.
double column_left(double x, double w)
{
  return std::round(x - 0.5 * w);
}

// Where a channel's lines stand across their frequency: centred on it
// (the mono plug-in, Mid), or wholly left (-1) or right (1) of it, the
// stereo plug-in's two channels in Left / Right, so that a partial both
// channels share shows both colours side by side.
double column_at(double x, double w, int side)
{
  return side == 0 ? column_left(x, w) : side < 0 ? std::round(x) - w : std::round(x);
}

bool same_tint(const partial_tint& a, const partial_tint& b)
{
  auto same = [](const colour& x, const colour& y) { return x._r == y._r && x._g == y._g && x._b == y._b; };
  return same(a._low, b._low) && same(a._high, b._high) && same(a._cap, b._cap);
}

// The sounding lines: from the floor up to each level, brighter the
// higher, with a bright cap whose top edge is the level; even resonators
// in tints[0], odd ones in tints[1]. Lines and caps stand on whole pixels
// across: their sides are not blended, which halves the cost of the fill.
void partials_sounding(cairo_t* cr, const morvane_rect& a, const partial_points& p, int count, double s,
                       const partial_tint* tints, int side)
{
  const double bottom = a._y + a._h;
  double line_w = std::max(1.0, std::round(LINE_W * s));
  double cap_w = std::max(1.0, std::round(CAP_W * s));
  if (side != 0) {
    cap_w = std::max(line_w, std::ceil(0.5 * cap_w));
  }
  bool any = false;
  for (int k = 0; k < count && !any; ++k) {
    any = p._shown[k];
  }
  if (!any) {
    return;
  }
  // Resonators of one tint are drawn together: all of them for one tint,
  // else the even and the odd ones apart.
  const int groups = same_tint(tints[0], tints[1]) ? 1 : 2;
  // The ramp drawn once into a column one line wide, and copied under each
  // line: pixels copied instead of a gradient worked out for each of them
  // (0.45 ms a picture before, 0.1 ms with the copies).
  const double top = std::floor(a._y);
  const int column_h = static_cast<int>(std::ceil(bottom) - top);
  for (int g = 0; g < groups; ++g) {
    const partial_tint& t = tints[g];
    cairo_surface_t* column =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(line_w), std::max(1, column_h));
    cairo_t* cc = cairo_create(column);
    cairo_pattern_t* ramp = cairo_pattern_create_linear(0.0, bottom - top, 0.0, a._y - top);
    cairo_pattern_add_color_stop_rgba(ramp, 0.0, t._low._r, t._low._g, t._low._b, 0.55);
    cairo_pattern_add_color_stop_rgba(ramp, 0.55, t._high._r, t._high._g, t._high._b, 0.85);
    cairo_pattern_add_color_stop_rgba(ramp, 1.0, t._cap._r, t._cap._g, t._cap._b, 1.0);
    cairo_set_source(cc, ramp);
    cairo_paint(cc);
    cairo_pattern_destroy(ramp);
    cairo_destroy(cc);
    for (int k = groups == 1 ? 0 : g; k < count; k += groups) {
      if (p._shown[k]) {
        const double x = column_at(p._x[k], line_w, side);
        cairo_set_source_surface(cr, column, x, top);
        cairo_rectangle(cr, x, p._y[k], line_w, bottom - p._y[k]);
        cairo_fill(cr);
      }
    }
    cairo_surface_destroy(column);
  }
  const double cap_h = std::max(1.0, CAP_H * s);
  for (int g = 0; g < groups; ++g) {
    for (int k = groups == 1 ? 0 : g; k < count; k += groups) {
      if (p._shown[k]) {
        cairo_rectangle(cr, column_at(p._x[k], cap_w, side), p._y[k], cap_w, cap_h);
      }
    }
    set_colour(cr, tints[g]._cap, 0.95);
    cairo_fill(cr);
  }
}

// A faint line of whole pixels from (x0, y0) to (x1, y1) added to the path
// as rectangles: along its longer axis one pixel a step, the pixels that
// fall in one row (or column) of the shorter axis merged into one
// rectangle. The fill of these rectangles takes a few hundredths of the
// time cairo's stroke of 112 lines took (0.9 ms a picture antialiased,
// 0.25 ms without), and whole pixels are drawn the same however the
// picture is clipped.
void link_runs(cairo_t* cr, double x0, double y0, double x1, double y1, double s)
{
  const double t = std::max(1.0, std::round(LINK_W * s));
  const double ax = std::floor(x0), ay = std::floor(y0), bx = std::floor(x1), by = std::floor(y1);
  const bool steep = std::fabs(by - ay) >= std::fabs(bx - ax);
  // u along the longer axis, v along the shorter.
  const double u0 = steep ? ay : ax, u1 = steep ? by : bx;
  const double v0 = steep ? ax : ay, v1 = steep ? bx : by;
  const double step = u1 >= u0 ? 1.0 : -1.0;
  const double slope = u1 != u0 ? (v1 - v0) / (u1 - u0) : 0.0;
  double run_start = u0;
  double run_v = v0;
  for (double u = u0;; u += step) {
    const bool last = u == u1;
    const double v = last ? v1 : std::round(v0 + (u - u0) * slope);
    if (v != run_v) {
      const double lo = std::min(run_start, u - step), len = std::fabs(u - step - run_start) + 1.0;
      steep ? cairo_rectangle(cr, run_v, lo, t, len) : cairo_rectangle(cr, lo, run_v, len, t);
      run_start = u;
      run_v = v;
    }
    if (last) {
      const double lo = std::min(run_start, u), len = std::fabs(u - run_start) + 1.0;
      steep ? cairo_rectangle(cr, run_v, lo, t, len) : cairo_rectangle(cr, lo, run_v, len, t);
      break;
    }
  }
}

// Half the side of the ring's picture, whole pixels beyond its centre pixel.
int ring_half(double s)
{
  return static_cast<int>(std::ceil(RING_OUTER * s + 0.5));
}

// Left (or top) pixel of the ring's picture for a ring at x (or y): its
// centre on the middle of the pixel that holds x.
double ring_corner(double x, double s)
{
  return std::floor(x) - ring_half(s);
}

// The analysed rings: one annulus drawn once into a small picture and
// copied to each ring's pixel. Filling 112 annuli as paths took 1.3 ms a
// picture; the copies take 0.06 ms.
void partials_rings(cairo_t* cr, const partial_points& ring, int count, double s, colour tone)
{
  const int side = 2 * ring_half(s) + 1;
  cairo_surface_t* sprite = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
  cairo_t* sc = cairo_create(sprite);
  const double c = 0.5 * side;
  cairo_arc(sc, c, c, RING_OUTER * s, 0.0, 2.0 * PI);
  cairo_new_sub_path(sc);
  cairo_arc(sc, c, c, RING_INNER * s, 0.0, 2.0 * PI);
  cairo_set_fill_rule(sc, CAIRO_FILL_RULE_EVEN_ODD);
  set_colour(sc, tone, 0.7);
  cairo_fill(sc);
  cairo_destroy(sc);
  for (int k = 0; k < count; ++k) {
    if (ring._shown[k]) {
      const double x = ring_corner(ring._x[k], s);
      const double y = ring_corner(ring._y[k], s);
      cairo_set_source_surface(cr, sprite, x, y);
      cairo_rectangle(cr, x, y, side, side);
      cairo_fill(cr);
    }
  }
  cairo_surface_destroy(sprite);
}

// One channel of a frame as the partials view draws it.
struct channel_view {
  const float* _analysed_amps;
  const float* _analysed_freqs;
  const float* _shaken_amps;
  const float* _shaken_freqs;
  partial_tint _tints[2];  // of the even and the odd resonators
  colour _marks;           // of the analysed rings and their links
  int _side;               // column_at's: 0, or -1 and 1 for Left / Right
};

// A frame's channels, returns their number: the mono plug-in's one; in Mid
// the one analysis, resonator k at pan (-1)^(k+1) * width (the lowest, k =
// 0, on the left); in Left / Right the left and the right channel. A frame
// of an unknown kind is drawn as a mono one.
int channels_of(const morvane_frame* f, channel_view* out)
{
  out[0] = {f->_analysed_amps, f->_analysed_freqs, f->_shaken_amps, f->_shaken_freqs,
            {PARTIAL_TINT, PARTIAL_TINT}, ANALYSED, 0};
  if (f->_stereo == MORVANE_FRAME_MID) {
    const double w = std::isfinite(f->_width) ? std::clamp(0.01 * static_cast<double>(f->_width), 0.0, 1.0) : 0.0;
    out[0]._tints[0] = pan_tint(-w);
    out[0]._tints[1] = pan_tint(w);
  } else if (f->_stereo == MORVANE_FRAME_LEFT_RIGHT) {
    out[0]._tints[0] = out[0]._tints[1] = LEFT_TINT;
    out[0]._marks = LEFT_TINT._cap;
    out[0]._side = -1;
    out[1] = {f->_right_analysed_amps, f->_right_analysed_freqs, f->_right_shaken_amps, f->_right_shaken_freqs,
              {RIGHT_TINT, RIGHT_TINT}, RIGHT_TINT._cap, 1};
    return 2;
  }
  return 1;
}

void partials_lines(cairo_t* cr, const morvane_rect& a, const morvane_frame* frame, double s, bool marks)
{
  const double bottom = a._y + a._h;
  const int audible = audible_count(frame);
  cairo_save(cr);
  cairo_rectangle(cr, a._x, a._y, a._w, a._h);
  cairo_clip(cr);

  if (marks) {
    // A grey stub on the floor per resonator kept silent (the channels'
    // resonators are kept silent alike).
    for (int k = audible; k < MORVANE_NUM_PARTIALS; ++k) {
      const double hz = frame->_analysed_freqs[k];
      if (in_hz_range(hz)) {
        const double x = morvane_partials_x(&a, hz);
        cairo_rectangle(cr, x - 0.5 * STUB_W * s, bottom - STUB_H * s, STUB_W * s, STUB_H * s);
      }
    }
    set_colour(cr, SILENT, 0.8);
    cairo_fill(cr);
  }

  channel_view channels[2];
  const int n = channels_of(frame, channels);
  // Where each sounding resonator is played, and where it was analysed.
  partial_points shaken[2];
  partial_points ring[2];
  for (int c = 0; c < n; ++c) {
    place_partials(a, channels[c]._shaken_freqs, channels[c]._shaken_amps, audible, &shaken[c]);
  }
  if (marks) {
    // A faint line from where each was analysed to where the shake took it.
    for (int c = 0; c < n; ++c) {
      place_partials(a, channels[c]._analysed_freqs, channels[c]._analysed_amps, audible, &ring[c]);
      for (int k = 0; k < audible; ++k) {
        if (ring[c]._shown[k] && shaken[c]._shown[k] &&
            std::hypot(ring[c]._x[k] - shaken[c]._x[k], ring[c]._y[k] - shaken[c]._y[k]) > LINK_MIN * s) {
          link_runs(cr, ring[c]._x[k], ring[c]._y[k], shaken[c]._x[k], shaken[c]._y[k], s);
        }
      }
      set_colour(cr, channels[c]._marks, 0.16);
      cairo_fill(cr);
    }
  }
  for (int c = 0; c < n; ++c) {
    partials_sounding(cr, a, shaken[c], audible, s, channels[c]._tints, channels[c]._side);
  }
  if (marks) {
    for (int c = 0; c < n; ++c) {
      partials_rings(cr, ring[c], audible, s, channels[c]._marks);
    }
  }
  cairo_restore(cr);
}

// What resonator k shows with marks, and the box it paints in.
struct partial_marks {
  // Sounding: shaken point and ring (x, y; NaN when not shown); silent:
  // the stub's x in _sx (NaN when not shown).
  double _sx, _sy, _rx, _ry;
  double _x0, _y0, _x1, _y1;  // box, empty when _x0 > _x1
};

void marks_of(const morvane_rect& a, double s, const partial_points& shaken, const partial_points& ring,
              const morvane_frame* frame, int audible, int side, int k, partial_marks* m)
{
  const double bottom = a._y + a._h;
  // A pixel around every mark for its antialiased edge.
  const double pad = 1.0;
  m->_sx = m->_sy = m->_rx = m->_ry = NAN;
  m->_x0 = m->_y0 = INFINITY;
  m->_x1 = m->_y1 = -INFINITY;
  auto add = [&](double x0, double y0, double x1, double y1) {
    m->_x0 = std::min(m->_x0, x0 - pad);
    m->_y0 = std::min(m->_y0, y0 - pad);
    m->_x1 = std::max(m->_x1, x1 + pad);
    m->_y1 = std::max(m->_y1, y1 + pad);
  };
  if (k >= audible) {
    // The silent stubs belong to the first channel.
    const double hz = frame->_analysed_freqs[k];
    if (side <= 0 && in_hz_range(hz)) {
      m->_sx = morvane_partials_x(&a, hz);
      add(m->_sx - 0.5 * STUB_W * s, bottom - STUB_H * s, m->_sx + 0.5 * STUB_W * s, bottom);
    }
    return;
  }
  if (shaken._shown[k]) {
    m->_sx = shaken._x[k];
    m->_sy = shaken._y[k];
    const double w = std::max({1.0, std::round(LINE_W * s), std::round(CAP_W * s)});
    const double x0 = side == 0 ? column_left(m->_sx, w) : std::round(m->_sx) - w;
    add(x0, m->_sy, side == 0 ? x0 + w : std::round(m->_sx) + w, bottom);
  }
  if (ring._shown[k]) {
    m->_rx = ring._x[k];
    m->_ry = ring._y[k];
    const double side = 2 * ring_half(s) + 1;
    add(ring_corner(m->_rx, s), ring_corner(m->_ry, s), ring_corner(m->_rx, s) + side,
        ring_corner(m->_ry, s) + side);
  }
  if (shaken._shown[k] && ring._shown[k]) {
    // The link's pixels lie between the two ends' pixels, its width beyond.
    const double w = std::max(1.0, std::round(LINK_W * s));
    add(std::min(m->_sx, m->_rx) - w, std::min(m->_sy, m->_ry) - w, std::max(m->_sx, m->_rx) + w,
        std::max(m->_sy, m->_ry) + w);
  }
}

bool same_marks(const partial_marks& a, const partial_marks& b)
{
  auto same = [](double x, double y) { return x == y || (std::isnan(x) && std::isnan(y)); };
  return same(a._sx, b._sx) && same(a._sy, b._sy) && same(a._rx, b._rx) && same(a._ry, b._ry);
}

void all_marks(const morvane_rect& a, double s, const morvane_frame* frame, const channel_view& c,
               partial_marks* marks)
{
  const int audible = audible_count(frame);
  partial_points shaken;
  partial_points ring;
  place_partials(a, c._shaken_freqs, c._shaken_amps, audible, &shaken);
  place_partials(a, c._analysed_freqs, c._analysed_amps, audible, &ring);
  for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
    marks_of(a, s, shaken, ring, frame, audible, c._side, k, &marks[k]);
  }
}

}  // namespace

double morvane_partials_x(const morvane_rect* area, double hz) noexcept
{
  const double lo = hz_to_mel(static_cast<float>(MORVANE_VIEW_MIN_HZ));
  const double hi = hz_to_mel(static_cast<float>(MORVANE_VIEW_MAX_HZ));
  const double mel = hz_to_mel(static_cast<float>(hz));
  return area->_x + area->_w * (mel - lo) / (hi - lo);
}

double morvane_partials_y(const morvane_rect* area, double db) noexcept
{
  return area->_y + area->_h * (MORVANE_VIEW_DB_CEIL - db) / (MORVANE_VIEW_DB_CEIL - MORVANE_VIEW_DB_FLOOR);
}

void morvane_draw_silent_band(cairo_t* cr, const morvane_rect* area, const morvane_frame* frame, double s) noexcept
{
  if (cr == nullptr || area == nullptr || frame == nullptr) {
    return;
  }
  const morvane_rect& a = *area;
  const double nyquist = nyquist_in_view(frame);
  if (!std::isfinite(nyquist) || audible_count(frame) >= MORVANE_NUM_PARTIALS) {
    return;
  }
  const double bottom = a._y + a._h;
  const double xn = morvane_partials_x(&a, nyquist);
  cairo_save(cr);
  cairo_rectangle(cr, a._x, a._y, a._w, a._h);
  cairo_clip(cr);
  cairo_rectangle(cr, xn, a._y, a._x + a._w - xn, a._h);
  set_colour(cr, SILENT, 0.07);
  cairo_fill(cr);
  const double step = 7.0 * s;
  for (double x = xn - a._h; x < a._x + a._w; x += step) {
    cairo_move_to(cr, x, bottom);
    cairo_line_to(cr, x + a._h, a._y);
  }
  cairo_save(cr);
  cairo_rectangle(cr, xn, a._y, a._x + a._w - xn, a._h);
  cairo_clip(cr);
  cairo_set_line_width(cr, 0.8 * s);
  set_colour(cr, SILENT, 0.12);
  cairo_stroke(cr);
  cairo_restore(cr);
  cairo_move_to(cr, xn, a._y);
  cairo_line_to(cr, xn, bottom);
  cairo_set_line_width(cr, s);
  set_colour(cr, SILENT, 0.45);
  cairo_stroke(cr);
  cairo_restore(cr);
}

void morvane_draw_partials(cairo_t* cr, const morvane_rect* area, const morvane_frame* frame, double s,
                           bool marks) noexcept
{
  if (cr == nullptr || area == nullptr || frame == nullptr) {
    return;
  }
  partials_lines(cr, *area, frame, s, marks);
}

int morvane_partials_damage(const morvane_rect* area, double s, const morvane_frame* before,
                            const morvane_frame* after, morvane_rect* boxes, int max_boxes) noexcept
{
  if (area == nullptr || boxes == nullptr || max_boxes <= 0 || !(area->_w > 0.0) || !(area->_h > 0.0)) {
    return 0;
  }
  const morvane_rect& a = *area;
  // The area in whole pixels; every box stays inside it.
  const double ax0 = std::floor(a._x);
  const double ay0 = std::floor(a._y);
  const double ax1 = std::ceil(a._x + a._w);
  const double ay1 = std::ceil(a._y + a._h);
  // A new count, another stereo mode or width in Mid (every colour) redraws
  // the whole area.
  if (before == nullptr || after == nullptr || audible_count(before) != audible_count(after) ||
      before->_stereo != after->_stereo ||
      (after->_stereo == MORVANE_FRAME_MID && std::memcmp(&before->_width, &after->_width, sizeof(float)) != 0)) {
    boxes[0] = {ax0, ay0, ax1 - ax0, ay1 - ay0};
    return 1;
  }
  channel_view old_channels[2];
  channel_view new_channels[2];
  const int channels = channels_of(before, old_channels);
  channels_of(after, new_channels);
  partial_marks old_marks[2][MORVANE_NUM_PARTIALS];
  partial_marks new_marks[2][MORVANE_NUM_PARTIALS];
  for (int c = 0; c < channels; ++c) {
    all_marks(a, s, before, old_channels[c], old_marks[c]);
    all_marks(a, s, after, new_channels[c], new_marks[c]);
  }

  // Vertical strips of whole pixels, each with the box of what changed in
  // it: resonators spread over the width damage little of the height.
  constexpr int MAX_STRIPS = 32;
  const int strips = std::min(MAX_STRIPS, max_boxes);
  double edge[MAX_STRIPS + 1];
  for (int i = 0; i <= strips; ++i) {
    edge[i] = i == strips ? ax1 : std::floor(ax0 + (ax1 - ax0) * i / strips);
  }
  double x0[MAX_STRIPS], y0[MAX_STRIPS], x1[MAX_STRIPS], y1[MAX_STRIPS];
  std::fill(x0, x0 + strips, INFINITY);
  std::fill(y0, y0 + strips, INFINITY);
  std::fill(x1, x1 + strips, -INFINITY);
  std::fill(y1, y1 + strips, -INFINITY);
  auto add = [&](const partial_marks& m) {
    if (!(m._x0 <= m._x1)) {
      return;
    }
    for (int i = 0; i < strips; ++i) {
      if (m._x1 > edge[i] && m._x0 < edge[i + 1]) {
        x0[i] = std::min(x0[i], std::max(m._x0, edge[i]));
        x1[i] = std::max(x1[i], std::min(m._x1, edge[i + 1]));
        y0[i] = std::min(y0[i], m._y0);
        y1[i] = std::max(y1[i], m._y1);
      }
    }
  };
  for (int c = 0; c < channels; ++c) {
    for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
      if (!same_marks(old_marks[c][k], new_marks[c][k])) {
        add(old_marks[c][k]);
        add(new_marks[c][k]);
      }
    }
  }
  int n = 0;
  for (int i = 0; i < strips; ++i) {
    if (x0[i] <= x1[i]) {
      const double bx0 = std::max(ax0, std::floor(x0[i]));
      const double bx1 = std::min(ax1, std::ceil(x1[i]));
      const double by0 = std::max(ay0, std::floor(y0[i]));
      const double by1 = std::min(ay1, std::ceil(y1[i]));
      if (bx0 < bx1 && by0 < by1) {
        boxes[n++] = {bx0, by0, bx1 - bx0, by1 - by0};
      }
    }
  }
  return n;
}

void morvane_draw_partials_only(cairo_t* cr, double width, double height, const morvane_frame* frame) noexcept
{
  if (cr == nullptr || cairo_status(cr) != CAIRO_STATUS_SUCCESS || !std::isfinite(width) ||
      !std::isfinite(height) || width <= 0.0 || height <= 0.0) {
    return;
  }
  cairo_save(cr);
  cairo_rectangle(cr, 0.0, 0.0, width, height);
  set_colour(cr, PLOT);
  cairo_fill(cr);
  // Line widths follow the picture's size: a mixer strip's 150 pixels get
  // hairlines, a larger picture a little more.
  const morvane_rect a{0.0, 0.0, width, height};
  const double s = std::clamp(width / 400.0, 0.5, 2.0);
  cairo_set_line_width(cr, 1.0);
  for (double hz : {100.0, 1000.0, 10000.0}) {
    const double x = std::round(morvane_partials_x(&a, hz)) + 0.5;
    cairo_move_to(cr, x, 0.0);
    cairo_line_to(cr, x, height);
  }
  for (double db : {0.0, -48.0}) {
    const double y = std::round(morvane_partials_y(&a, db)) + 0.5;
    cairo_move_to(cr, 0.0, y);
    cairo_line_to(cr, width, y);
  }
  set_colour(cr, GRID, 0.07);
  cairo_stroke(cr);
  if (frame != nullptr) {
    partials_lines(cr, a, frame, s, false);
  }
  cairo_restore(cr);
}
