// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's picture (see draw.h). Everything is drawn from the snapshot
// into the given cairo context; text goes through one pango layout made from
// that context per call, so nothing outlives a call.
//
// The partials view puts each sounding resonator as a vertical line at its
// shaken frequency up to its shaken level (what the oscillators play), and a
// small hollow ring where the analysis put it: the shake is the distance
// between the two. Resonators kept silent above Nyquist show as grey stubs
// on the floor, over a hatched band from Nyquist up.
#include "draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include <pango/pangocairo.h>

#include <quivex/libquivex.h>
#include <tembra/mel.h>

namespace {

struct colour {
  double _r, _g, _b;
};

constexpr colour rgb(unsigned hex)
{
  return {static_cast<double>((hex >> 16) & 0xff) / 255.0, static_cast<double>((hex >> 8) & 0xff) / 255.0,
          static_cast<double>(hex & 0xff) / 255.0};
}

// Dark theme.
constexpr colour BACKGROUND = rgb(0x101216);
constexpr colour PANEL = rgb(0x1a1d23);
constexpr colour PANEL_EDGE = rgb(0x2a2e37);
constexpr colour PLOT = rgb(0x0c0e11);
constexpr colour GRID = rgb(0xffffff);
constexpr colour TEXT = rgb(0xd8dce4);
constexpr colour TEXT_DIM = rgb(0x7d8493);
constexpr colour PARTIAL_LOW = rgb(0x1d5d73);
constexpr colour PARTIAL_HIGH = rgb(0x58e6d1);
constexpr colour PARTIAL_CAP = rgb(0xc6fff4);
constexpr colour ANALYSED = rgb(0xf2f4f8);
constexpr colour SILENT = rgb(0x6b7180);
constexpr colour KNOB_TRACK = rgb(0x2c313b);
constexpr colour KNOB_BODY_HI = rgb(0x3b414d);
constexpr colour KNOB_BODY_LO = rgb(0x1e2128);
constexpr colour METER_LOW = rgb(0x43c27a);
constexpr colour METER_MID = rgb(0xe6c84a);
constexpr colour METER_HIGH = rgb(0xf0564e);
// One accent per shake LFO, shared by its curve and its knobs; the gain
// knob takes the partials' colour.
constexpr colour LFO_ACCENT[MORVANE_NUM_SHAKE_LFOS] = {rgb(0x4fd1c5), rgb(0xa78bfa), rgb(0xf6ad55)};
constexpr colour GAIN_ACCENT = rgb(0x58e6d1);

constexpr double PI = 3.14159265358979323846;
// Knob sweep: 270 degrees clockwise from the lower left.
constexpr double KNOB_START = 0.75 * PI;
constexpr double KNOB_SWEEP = 1.5 * PI;

// The meter's range, dBFS.
constexpr double METER_FLOOR_DB = -60.0;
constexpr double METER_CEIL_DB = 6.0;

// Layout constants at scale 1, pixels.
constexpr double MARGIN = 8.0;
constexpr double GAP = 8.0;
constexpr double COLUMN_W = 66.0;    // meter and gain column
constexpr double BAND_H = 178.0;     // LFO panels and gain knob
constexpr double HEADER_H = 22.0;    // title row of a panel
constexpr double AXIS_LEFT = 40.0;   // dB labels left of the partials plot
constexpr double AXIS_RIGHT = 12.0;
constexpr double AXIS_BOTTOM = 20.0; // Hz labels under the partials plot
constexpr double KNOB_R = 18.0;
constexpr double GAIN_KNOB_R = 21.0;
constexpr double KNOB_LABEL_H = 22.0; // label row above a knob, gap included
constexpr double KNOB_VALUE_H = 20.0; // value row under a knob
constexpr double METER_W = 12.0;

constexpr double FONT_SMALL = 9.0;
constexpr double FONT_TITLE = 10.5;

void set_colour(cairo_t* cr, colour c, double alpha = 1.0)
{
  cairo_set_source_rgba(cr, c._r, c._g, c._b, alpha);
}

colour mix(colour a, colour b, double t)
{
  return {a._r + (b._r - a._r) * t, a._g + (b._g - a._g) * t, a._b + (b._b - a._b) * t};
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r)
{
  r = std::min({r, w * 0.5, h * 0.5});
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -0.5 * PI, 0.0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0.0, 0.5 * PI);
  cairo_arc(cr, x + r, y + h - r, r, 0.5 * PI, PI);
  cairo_arc(cr, x + r, y + r, r, PI, 1.5 * PI);
  cairo_close_path(cr);
}

void panel(cairo_t* cr, double x, double y, double w, double h, double s)
{
  rounded_rect(cr, x + 0.5 * s, y + 0.5 * s, w - s, h - s, 6.0 * s);
  set_colour(cr, PANEL);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, s);
  set_colour(cr, PANEL_EDGE);
  cairo_stroke(cr);
}

// Text through one pango layout per drawing call.
class text_painter {
public:
  text_painter(cairo_t* cr, double scale)
      : _cr(cr), _scale(scale), _layout(pango_cairo_create_layout(cr)),
        _font(pango_font_description_from_string("Sans"))
  {
    size(FONT_SMALL, false);
  }
  ~text_painter()
  {
    pango_font_description_free(_font);
    g_object_unref(_layout);
  }
  text_painter(const text_painter&) = delete;
  text_painter& operator=(const text_painter&) = delete;

  // Font size at scale 1 (pixels) and weight for the next texts.
  void size(double px, bool bold)
  {
    pango_font_description_set_absolute_size(_font, px * _scale * PANGO_SCALE);
    pango_font_description_set_weight(_font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(_layout, _font);
  }

  // Width of `str` in user units.
  double width(const char* str)
  {
    pango_layout_set_text(_layout, str, -1);
    PangoRectangle logical;
    pango_layout_get_extents(_layout, nullptr, &logical);
    return static_cast<double>(logical.width) / PANGO_SCALE;
  }

  // Draws `str` with its logical box's point (ax, ay) (0 left/top, 1
  // right/bottom) at (x, y); returns the box's width.
  double draw(const char* str, double x, double y, double ax, double ay)
  {
    pango_layout_set_text(_layout, str, -1);
    PangoRectangle logical;
    pango_layout_get_extents(_layout, nullptr, &logical);
    const double w = static_cast<double>(logical.width) / PANGO_SCALE;
    const double h = static_cast<double>(logical.height) / PANGO_SCALE;
    cairo_move_to(_cr, x - ax * w - static_cast<double>(logical.x) / PANGO_SCALE,
                  y - ay * h - static_cast<double>(logical.y) / PANGO_SCALE);
    pango_cairo_show_layout(_cr, _layout);
    return w;
  }

private:
  cairo_t* _cr;
  double _scale;
  PangoLayout* _layout;
  PangoFontDescription* _font;
};

double sane_scale(double scale)
{
  return std::isfinite(scale) && scale > 0.0 ? std::clamp(scale, 0.25, 8.0) : 1.0;
}

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

// Faint grid of the partials plot: decades and their 2 and 5, dB lines
// every `db_step`.
void partials_grid(cairo_t* cr, const morvane_rect& a, double s, double db_step)
{
  static constexpr double hz_lines[] = {50, 100, 200, 500, 1000, 2000, 5000, 10000};
  static constexpr double hz_minor[] = {300, 400, 600, 700, 800, 900, 3000, 4000, 6000, 7000, 8000, 9000, 15000};
  cairo_set_line_width(cr, s);
  for (double hz : hz_minor) {
    const double x = morvane_partials_x(&a, hz);
    cairo_move_to(cr, x, a._y);
    cairo_line_to(cr, x, a._y + a._h);
  }
  set_colour(cr, GRID, 0.025);
  cairo_stroke(cr);
  for (double hz : hz_lines) {
    const double x = morvane_partials_x(&a, hz);
    cairo_move_to(cr, x, a._y);
    cairo_line_to(cr, x, a._y + a._h);
  }
  for (double db = MORVANE_VIEW_DB_CEIL - db_step; db > MORVANE_VIEW_DB_FLOOR; db -= db_step) {
    if (db != 0.0) {
      const double y = morvane_partials_y(&a, db);
      cairo_move_to(cr, a._x, y);
      cairo_line_to(cr, a._x + a._w, y);
    }
  }
  set_colour(cr, GRID, 0.06);
  cairo_stroke(cr);
  // 0 dBFS, the full-scale line.
  const double y0 = morvane_partials_y(&a, 0.0);
  cairo_move_to(cr, a._x, y0);
  cairo_line_to(cr, a._x + a._w, y0);
  set_colour(cr, GRID, 0.14);
  cairo_stroke(cr);
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
    if (p->_shown[k]) {
      p->_x[k] = morvane_partials_x(&a, hz);
      p->_y[k] = std::max(morvane_partials_y(&a, db), a._y);
    }
  }
}

// The sounding lines: from the floor up to each level, brighter the
// higher, with a bright cap whose top edge is the level.
void partials_sounding(cairo_t* cr, const morvane_rect& a, const partial_points& p, int count, double s)
{
  const double bottom = a._y + a._h;
  // Lines as filled rectangles: one fill of the whole set, no stroker.
  const double line_w = std::max(1.0, 2.0 * s);
  bool any = false;
  for (int k = 0; k < count; ++k) {
    if (p._shown[k]) {
      cairo_rectangle(cr, p._x[k] - 0.5 * line_w, p._y[k], line_w, bottom - p._y[k]);
      any = true;
    }
  }
  if (!any) {
    return;
  }
  cairo_pattern_t* ramp = cairo_pattern_create_linear(0.0, bottom, 0.0, a._y);
  cairo_pattern_add_color_stop_rgba(ramp, 0.0, PARTIAL_LOW._r, PARTIAL_LOW._g, PARTIAL_LOW._b, 0.55);
  cairo_pattern_add_color_stop_rgba(ramp, 0.55, PARTIAL_HIGH._r, PARTIAL_HIGH._g, PARTIAL_HIGH._b, 0.85);
  cairo_pattern_add_color_stop_rgba(ramp, 1.0, PARTIAL_CAP._r, PARTIAL_CAP._g, PARTIAL_CAP._b, 1.0);
  cairo_set_source(cr, ramp);
  cairo_fill(cr);
  cairo_pattern_destroy(ramp);
  const double cap_w = std::max(1.0, 5.0 * s);
  const double cap_h = std::max(1.0, 1.5 * s);
  for (int k = 0; k < count; ++k) {
    if (p._shown[k]) {
      cairo_rectangle(cr, p._x[k] - 0.5 * cap_w, p._y[k], cap_w, cap_h);
    }
  }
  set_colour(cr, PARTIAL_CAP, 0.95);
  cairo_fill(cr);
}

// The partials of `frame` inside area `a` (clipped to it). `s` is the unit
// of line widths; `marks` adds the analysed rings and the silent stubs.
void partials_lines(cairo_t* cr, const morvane_rect& a, const morvane_frame* frame, double s, bool marks)
{
  const double bottom = a._y + a._h;
  const int audible = audible_count(frame);
  cairo_save(cr);
  cairo_rectangle(cr, a._x, a._y, a._w, a._h);
  cairo_clip(cr);

  // Silent above Nyquist: a hatched band and a grey stub per resonator.
  if (marks) {
    const double nyquist = nyquist_in_view(frame);
    if (std::isfinite(nyquist) && audible < MORVANE_NUM_PARTIALS) {
      const double xn = morvane_partials_x(&a, nyquist);
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
    }
    for (int k = audible; k < MORVANE_NUM_PARTIALS; ++k) {
      const double hz = frame->_analysed_freqs[k];
      if (in_hz_range(hz)) {
        const double x = morvane_partials_x(&a, hz);
        cairo_rectangle(cr, x - 0.75 * s, bottom - 6.0 * s, 1.5 * s, 6.0 * s);
      }
    }
    set_colour(cr, SILENT, 0.8);
    cairo_fill(cr);
  }

  // Where each sounding resonator is played.
  partial_points shaken;
  place_partials(a, frame->_shaken_freqs, frame->_shaken_amps, audible, &shaken);

  if (marks) {
    // Where each was analysed, and a faint line from there to where the
    // shake took it.
    partial_points ring;
    place_partials(a, frame->_analysed_freqs, frame->_analysed_amps, audible, &ring);
    for (int k = 0; k < audible; ++k) {
      if (ring._shown[k] && shaken._shown[k] &&
          std::hypot(ring._x[k] - shaken._x[k], ring._y[k] - shaken._y[k]) > 4.0 * s) {
        cairo_move_to(cr, ring._x[k], ring._y[k]);
        cairo_line_to(cr, shaken._x[k], shaken._y[k]);
      }
    }
    cairo_set_line_width(cr, 0.8 * s);
    set_colour(cr, ANALYSED, 0.16);
    cairo_stroke(cr);

    partials_sounding(cr, a, shaken, audible, s);

    // Rings as annuli filled even-odd, cheaper than stroking circles.
    for (int k = 0; k < audible; ++k) {
      if (ring._shown[k]) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, ring._x[k], ring._y[k], 2.95 * s, 0.0, 2.0 * PI);
        cairo_new_sub_path(cr);
        cairo_arc(cr, ring._x[k], ring._y[k], 1.85 * s, 0.0, 2.0 * PI);
      }
    }
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    set_colour(cr, ANALYSED, 0.7);
    cairo_fill(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  } else {
    partials_sounding(cr, a, shaken, audible, s);
  }
  cairo_restore(cr);
}

// Frequency labels under the plot, in order of importance: a label that
// would touch one already placed is left out, so narrow views keep the
// decades.
void partials_hz_labels(text_painter& text, const morvane_rect& a, double s)
{
  struct tick {
    double _hz;
    const char* _label;
  };
  static constexpr tick ticks[] = {{100, "100"}, {1000, "1k"}, {10000, "10k"}, {500, "500"}, {5000, "5k"},
                                   {2000, "2k"},  {200, "200"}, {50, "50"},     {20, "20"},   {20000, "20k"}};
  double left[std::size(ticks)];
  double right[std::size(ticks)];
  int placed = 0;
  const double y = a._y + a._h + 4.0 * s;
  for (const tick& t : ticks) {
    const double x = morvane_partials_x(&a, t._hz);
    const double w = text.width(t._label);
    // The ends are aligned inside the plot's width.
    const double x0 = std::clamp(x - 0.5 * w, a._x - 2.0 * s, a._x + a._w + 2.0 * s - w);
    bool free = true;
    for (int i = 0; i < placed; ++i) {
      if (x0 < right[i] + 6.0 * s && x0 + w + 6.0 * s > left[i]) {
        free = false;
      }
    }
    if (free) {
      text.draw(t._label, x0, y, 0.0, 0.0);
      left[placed] = x0;
      right[placed] = x0 + w;
      ++placed;
    }
  }
}

// dB step of the level grid: lines at least about two text heights apart.
double db_grid_step(const morvane_rect& a, double s)
{
  const double px_per_db = a._h / (MORVANE_VIEW_DB_CEIL - MORVANE_VIEW_DB_FLOOR);
  for (double step : {6.0, 12.0, 24.0}) {
    if (2.0 * step * px_per_db >= 26.0 * s) {
      return step;
    }
  }
  return 48.0;
}

void partials_db_labels(text_painter& text, const morvane_rect& a, double s, double step)
{
  const double x = a._x - 6.0 * s;
  char buf[16];
  // Full scale carries the unit.
  for (double db = 0.0; db >= MORVANE_VIEW_DB_FLOOR; db -= 2.0 * step) {
    std::snprintf(buf, sizeof buf, db == 0.0 ? "0 dB" : "%.0f", db);
    const double y = std::clamp(morvane_partials_y(&a, db), a._y + 5.0 * s, a._y + a._h - 5.0 * s);
    text.draw(buf, x, y, 1.0, 0.5);
  }
}

// The header's key to the marks, right-aligned at (x_right, y); returns
// its left edge.
double partials_legend(cairo_t* cr, text_painter& text, double x_right, double y, double s, bool silent)
{
  double x = x_right;
  if (silent) {
    set_colour(cr, TEXT_DIM);
    x -= text.draw("silent above Nyquist", x, y, 1.0, 0.5) + 5.0 * s;
    cairo_rectangle(cr, x - 1.5 * s, y - 4.0 * s, 1.5 * s, 8.0 * s);
    set_colour(cr, SILENT);
    cairo_fill(cr);
    x -= 14.0 * s;
  }
  set_colour(cr, TEXT_DIM);
  x -= text.draw("analysed", x, y, 1.0, 0.5) + 7.0 * s;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, 2.4 * s, 0.0, 2.0 * PI);
  cairo_set_line_width(cr, 1.1 * s);
  set_colour(cr, ANALYSED, 0.8);
  cairo_stroke(cr);
  x -= 16.0 * s;
  set_colour(cr, TEXT_DIM);
  x -= text.draw("resynthesised", x, y, 1.0, 0.5) + 6.0 * s;
  cairo_rectangle(cr, x - 2.0 * s, y - 5.0 * s, 2.0 * s, 10.0 * s);
  set_colour(cr, PARTIAL_HIGH);
  cairo_fill(cr);
  return x - 2.0 * s;
}

void draw_partials_view(cairo_t* cr, text_painter& text, const morvane_layout& l, const morvane_frame* frame)
{
  const double s = l._scale;
  const morvane_rect& a = l._partials;
  const double px = MARGIN * s;
  const double py = MARGIN * s;
  const double pw = a._x + a._w + AXIS_RIGHT * s - px;
  const double ph = a._y + a._h + AXIS_BOTTOM * s - py;
  panel(cr, px, py, pw, ph, s);

  cairo_rectangle(cr, a._x, a._y, a._w, a._h);
  set_colour(cr, PLOT);
  cairo_fill(cr);
  const double step = db_grid_step(a, s);
  partials_grid(cr, a, s, step);

  text.size(FONT_SMALL, false);
  set_colour(cr, TEXT_DIM);
  partials_hz_labels(text, a, s);
  partials_db_labels(text, a, s, step);

  // Header: title, what the frame says, and the key.
  const double hy = py + 0.5 * (a._y - py);
  text.size(FONT_TITLE, true);
  set_colour(cr, TEXT);
  double x = px + 10.0 * s;
  x += text.draw("PARTIALS", x, hy, 0.0, 0.5) + 10.0 * s;
  text.size(FONT_SMALL, false);
  const bool silent = frame != nullptr && audible_count(frame) < MORVANE_NUM_PARTIALS;
  const double room = partials_legend(cr, text, a._x + a._w, hy, s, silent) - 12.0 * s - x;
  // What the frame says, as long as fits before the key.
  char info[2][96] = {"waiting for audio", ""};
  if (frame != nullptr) {
    const int audible = audible_count(frame);
    const double rate = static_cast<double>(frame->_sample_rate);
    if (std::isfinite(rate) && rate > 0.0 && rate < 1e7) {
      std::snprintf(info[0], sizeof info[0], "%d of %d resonators sounding \xc2\xb7 %.1f kHz", audible,
                    MORVANE_NUM_PARTIALS, rate * 0.001);
      std::snprintf(info[1], sizeof info[1], "%d/%d \xc2\xb7 %.1f kHz", audible, MORVANE_NUM_PARTIALS,
                    rate * 0.001);
    } else {
      std::snprintf(info[0], sizeof info[0], "%d of %d resonators sounding", audible, MORVANE_NUM_PARTIALS);
      std::snprintf(info[1], sizeof info[1], "%d/%d", audible, MORVANE_NUM_PARTIALS);
    }
  }
  set_colour(cr, TEXT_DIM);
  for (const char* line : info) {
    if (line[0] != '\0' && text.width(line) <= room) {
      text.draw(line, x, hy, 0.0, 0.5);
      break;
    }
  }

  if (frame != nullptr) {
    partials_lines(cr, a, frame, s, true);
    const double nyquist = nyquist_in_view(frame);
    if (silent && std::isfinite(nyquist)) {
      const double xn = morvane_partials_x(&a, nyquist);
      text.size(FONT_SMALL, false);
      if (a._x + a._w - xn > text.width("Nyquist") + 8.0 * s) {
        set_colour(cr, TEXT_DIM);
        text.draw("Nyquist", xn + 4.0 * s, a._y + 4.0 * s, 0.0, 0.0);
      }
    }
  } else {
    text.size(FONT_TITLE, false);
    set_colour(cr, TEXT_DIM, 0.6);
    text.draw("waiting for audio", a._x + 0.5 * a._w, a._y + 0.5 * a._h, 0.5, 0.5);
  }
}

// A control's value as a position from 0 (minimum) to 1 (maximum).
double knob_position(uint32_t port, float value)
{
  const morvane_control& c = morvane_controls[port];
  const double v = morvane_clamp_control(port, value);
  const double lo = c._min;
  const double hi = c._max;
  if (c._logarithmic && lo > 0.0) {
    return std::clamp(std::log(v / lo) / std::log(hi / lo), 0.0, 1.0);
  }
  return std::clamp((v - lo) / (hi - lo), 0.0, 1.0);
}

// A control's value as the window writes it, with its unit.
void format_value(uint32_t port, float value, char* buf, size_t size)
{
  const morvane_control& c = morvane_controls[port];
  const double v = morvane_clamp_control(port, value);
  const char* unit = morvane_unit_label(c._unit);
  switch (c._unit) {
    case MORVANE_UNIT_DB: std::snprintf(buf, size, "%.1f %s", v, unit); break;
    case MORVANE_UNIT_HZ: std::snprintf(buf, size, v < 10.0 ? "%.2f %s" : "%.1f %s", v, unit); break;
    case MORVANE_UNIT_PERCENT: std::snprintf(buf, size, "%.0f %s", v, unit); break;
    case MORVANE_UNIT_NONE: std::snprintf(buf, size, "%.3f", v); break;
  }
}

void draw_knob(cairo_t* cr, text_painter& text, const morvane_layout& l, uint32_t port, float value,
               colour accent, bool active, bool dim)
{
  const double s = l._scale;
  const double cx = l._knob_x[port];
  const double cy = l._knob_y[port];
  const double r = l._knob_r[port];
  const morvane_control& c = morvane_controls[port];
  const double lw = std::max(1.0, 3.0 * s);
  const double ra = r - 0.5 * lw;  // the arcs stay inside r
  const double t = knob_position(port, value);
  const double angle = KNOB_START + KNOB_SWEEP * t;
  // A range through zero is drawn from zero (gain from 0 dB).
  const double origin =
      c._min < 0.0f && c._max > 0.0f ? KNOB_START + KNOB_SWEEP * knob_position(port, 0.0f) : KNOB_START;

  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, lw);
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, ra, KNOB_START, KNOB_START + KNOB_SWEEP);
  set_colour(cr, active ? mix(KNOB_TRACK, TEXT, 0.15) : KNOB_TRACK);
  cairo_stroke(cr);
  if (std::fabs(angle - origin) > 1e-3) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, cx, cy, ra, std::min(angle, origin), std::max(angle, origin));
    set_colour(cr, dim ? mix(accent, TEXT_DIM, 0.6) : accent, active ? 1.0 : 0.85);
    cairo_stroke(cr);
  }

  // Body with a light from the top, and the pointer.
  const double rb = r * 0.66;
  cairo_pattern_t* body = cairo_pattern_create_linear(0.0, cy - rb, 0.0, cy + rb);
  cairo_pattern_add_color_stop_rgb(body, 0.0, KNOB_BODY_HI._r, KNOB_BODY_HI._g, KNOB_BODY_HI._b);
  cairo_pattern_add_color_stop_rgb(body, 1.0, KNOB_BODY_LO._r, KNOB_BODY_LO._g, KNOB_BODY_LO._b);
  cairo_new_sub_path(cr);
  cairo_arc(cr, cx, cy, rb, 0.0, 2.0 * PI);
  cairo_set_source(cr, body);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(body);
  cairo_set_line_width(cr, s);
  if (active) {
    set_colour(cr, accent, 0.9);
  } else {
    set_colour(cr, rgb(0x0a0b0e), 0.8);
  }
  cairo_stroke(cr);
  cairo_move_to(cr, cx + std::cos(angle) * rb * 0.3, cy + std::sin(angle) * rb * 0.3);
  cairo_line_to(cr, cx + std::cos(angle) * rb * 0.9, cy + std::sin(angle) * rb * 0.9);
  cairo_set_line_width(cr, std::max(1.0, 1.8 * s));
  set_colour(cr, active ? rgb(0xffffff) : TEXT);
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);

  text.size(FONT_SMALL, active);
  set_colour(cr, active ? TEXT : TEXT_DIM);
  text.draw(c._short_name, cx, cy - r - 3.0 * s, 0.5, 1.0);
  char buf[32];
  format_value(port, value, buf, sizeof buf);
  text.size(FONT_SMALL, false);
  set_colour(cr, active ? accent : (dim ? TEXT_DIM : TEXT));
  text.draw(buf, cx, cy + r + 3.0 * s, 0.5, 0.0);
}

// Port of shake LFO `lfo`'s depth, rate, amount and shape.
uint32_t lfo_port(int lfo, int which)
{
  return static_cast<uint32_t>(1 + 4 * lfo + which);
}

void draw_lfo_panel(cairo_t* cr, text_painter& text, const morvane_layout& l, const morvane_view& v, int i)
{
  const double s = l._scale;
  const morvane_rect& a = l._lfo[i];
  const double px = a._x - 10.0 * s;
  const double py = a._y - HEADER_H * s;
  const double pw = a._w + 20.0 * s;
  const double ph = BAND_H * s;
  panel(cr, px, py, pw, ph, s);

  const uint32_t depth_port = lfo_port(i, 0);
  const float depth = morvane_clamp_control(depth_port, v._controls[depth_port]);
  const float shape = morvane_clamp_control(lfo_port(i, 3), v._controls[lfo_port(i, 3)]) * 0.01f;
  const bool on = morvane_clamp_control(lfo_port(i, 2), v._controls[lfo_port(i, 2)]) > 0.0f;
  const colour accent = LFO_ACCENT[i];
  const colour curve_colour = on ? accent : TEXT_DIM;
  const bool bipolar = i != LIBQUIVEX_LFO_TIME;
  const double top = morvane_controls[depth_port]._max;
  const double bottom_value = bipolar ? -top : 0.0;
  auto value_y = [&](double value) {
    const double t = (value - bottom_value) / (top - bottom_value);
    return a._y + a._h - std::clamp(t, 0.0, 1.0) * a._h;
  };

  // Title and the current value.
  const double hy = py + 0.5 * HEADER_H * s + 1.0 * s;
  text.size(FONT_TITLE, true);
  set_colour(cr, on ? TEXT : TEXT_DIM);
  text.draw(morvane_shake_lfo_names[i], px + 10.0 * s, hy, 0.0, 0.5);
  cairo_new_sub_path(cr);
  cairo_arc(cr, px + pw - 14.0 * s, hy, 3.0 * s, 0.0, 2.0 * PI);
  set_colour(cr, accent, on ? 1.0 : 0.25);
  cairo_fill(cr);
  const double now = v._frame != nullptr ? static_cast<double>(v._frame->_lfo_values[i]) : NAN;
  text.size(FONT_SMALL, false);
  set_colour(cr, TEXT_DIM);
  if (!on) {
    text.draw("off", px + pw - 22.0 * s, hy, 1.0, 0.5);
  } else if (std::isfinite(now)) {
    char buf[24];
    std::snprintf(buf, sizeof buf, bipolar ? "%+.3f" : "%.3f", now);
    text.draw(buf, px + pw - 22.0 * s, hy, 1.0, 0.5);
  }

  // Plot: zero line, the cycle as the engine computes it.
  cairo_rectangle(cr, a._x, a._y, a._w, a._h);
  set_colour(cr, PLOT);
  cairo_fill(cr);
  cairo_set_line_width(cr, s);
  for (double q : {0.25, 0.5, 0.75}) {
    cairo_move_to(cr, a._x + q * a._w, a._y);
    cairo_line_to(cr, a._x + q * a._w, a._y + a._h);
  }
  set_colour(cr, GRID, 0.04);
  cairo_stroke(cr);
  const double y0 = value_y(0.0);
  cairo_move_to(cr, a._x, y0);
  cairo_line_to(cr, a._x + a._w, y0);
  set_colour(cr, GRID, 0.12);
  cairo_stroke(cr);

  constexpr int N = 128;
  float wave[N];
  libquivex_lfo_wave(i, depth, shape, wave, N);
  cairo_save(cr);
  cairo_rectangle(cr, a._x, a._y, a._w, a._h);
  cairo_clip(cr);
  for (int k = 0; k <= N; ++k) {
    const double x = a._x + a._w * k / N;
    const double w = wave[k % N];
    cairo_line_to(cr, x, value_y(std::isfinite(w) ? w : 0.0));
  }
  cairo_path_t* curve = cairo_copy_path(cr);
  cairo_line_to(cr, a._x + a._w, y0);
  cairo_line_to(cr, a._x, y0);
  cairo_close_path(cr);
  set_colour(cr, curve_colour, on ? 0.16 : 0.06);
  cairo_fill(cr);
  cairo_append_path(cr, curve);
  cairo_path_destroy(curve);
  cairo_set_line_width(cr, std::max(1.0, 1.8 * s));
  // Segments of a pixel or two: a bevel looks as round as a round join.
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL);
  set_colour(cr, curve_colour, on ? 1.0 : 0.5);
  cairo_stroke(cr);

  // The current value: a level line, and a dot where the falling half of
  // the cycle (from the left) comes nearest to it.
  if (std::isfinite(now)) {
    const double y = value_y(now);
    cairo_move_to(cr, a._x, y);
    cairo_line_to(cr, a._x + a._w, y);
    const double dash = 3.0 * s;
    cairo_set_dash(cr, &dash, 1, 0.0);
    cairo_set_line_width(cr, s);
    set_colour(cr, TEXT, 0.35);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0.0);
    int nearest = 0;
    for (int k = 1; k <= N / 2; ++k) {
      if (std::fabs(wave[k] - now) < std::fabs(wave[nearest] - now)) {
        nearest = k;
      }
    }
    const double x = a._x + a._w * nearest / N;
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, 5.0 * s, 0.0, 2.0 * PI);
    set_colour(cr, curve_colour, 0.25);
    cairo_fill(cr);
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, 2.8 * s, 0.0, 2.0 * PI);
    set_colour(cr, rgb(0xffffff), on ? 1.0 : 0.5);
    cairo_fill(cr);
  }
  cairo_restore(cr);

  for (int which = 0; which < 4; ++which) {
    const uint32_t port = lfo_port(i, which);
    draw_knob(cr, text, l, port, v._controls[port], accent, v._active_control == static_cast<int>(port), !on);
  }
}

colour meter_colour(double db)
{
  if (db < -18.0) {
    return METER_LOW;
  }
  if (db < -6.0) {
    return mix(METER_LOW, METER_MID, (db + 18.0) / 12.0);
  }
  if (db < 0.0) {
    return mix(METER_MID, METER_HIGH, (db + 6.0) / 6.0);
  }
  return METER_HIGH;
}

void draw_meter(cairo_t* cr, text_painter& text, const morvane_layout& l, const morvane_view& v)
{
  const double s = l._scale;
  const morvane_rect& m = l._meter;
  const double px = l._width - (MARGIN + COLUMN_W) * s;
  const double py = MARGIN * s;
  const double pw = COLUMN_W * s;
  const double ph = l._partials._y + l._partials._h + AXIS_BOTTOM * s - py;
  panel(cr, px, py, pw, ph, s);

  text.size(FONT_TITLE, true);
  set_colour(cr, TEXT);
  text.draw("OUT", px + 0.5 * pw, py + 0.5 * (m._y - py), 0.5, 0.5);

  auto db_y = [&](double db) {
    return m._y + m._h * (METER_CEIL_DB - db) / (METER_CEIL_DB - METER_FLOOR_DB);
  };
  cairo_rectangle(cr, m._x, m._y, m._w, m._h);
  set_colour(cr, PLOT);
  cairo_fill(cr);

  const double db = static_cast<double>(v._meter_db);
  const bool lit = std::isfinite(db) && db > METER_FLOOR_DB;
  if (lit) {
    const double y = db_y(std::min(db, METER_CEIL_DB));
    cairo_pattern_t* ramp = cairo_pattern_create_linear(0.0, db_y(METER_FLOOR_DB), 0.0, db_y(METER_CEIL_DB));
    const double stops[] = {-60.0, -18.0, -6.0, 0.0, 6.0};
    for (double d : stops) {
      const colour c = meter_colour(d);
      cairo_pattern_add_color_stop_rgb(ramp, (d - METER_FLOOR_DB) / (METER_CEIL_DB - METER_FLOOR_DB), c._r, c._g,
                                       c._b);
    }
    cairo_rectangle(cr, m._x + s, y, m._w - 2.0 * s, m._y + m._h - y);
    cairo_set_source(cr, ramp);
    cairo_fill(cr);
    cairo_pattern_destroy(ramp);
  }

  // Scale: marks across the bar, numbers to its left.
  text.size(FONT_SMALL, false);
  char buf[16];
  for (double d : {6.0, 0.0, -6.0, -12.0, -24.0, -36.0, -48.0, -60.0}) {
    const double y = db_y(d);
    cairo_move_to(cr, m._x - 3.0 * s, y);
    cairo_line_to(cr, m._x, y);
    cairo_move_to(cr, m._x, y);
    cairo_line_to(cr, m._x + m._w, y);
    std::snprintf(buf, sizeof buf, d > 0.0 ? "+%.0f" : "%.0f", d);
    set_colour(cr, d == 0.0 ? TEXT : TEXT_DIM);
    text.draw(buf, m._x - 5.0 * s, y, 1.0, 0.5);
  }
  cairo_set_line_width(cr, s);
  set_colour(cr, BACKGROUND, 0.7);
  cairo_stroke(cr);

  // The number: the level now, red above full scale.
  text.size(FONT_SMALL, true);
  if (lit) {
    std::snprintf(buf, sizeof buf, "%.1f dB", db);
    set_colour(cr, db > 0.0 ? METER_HIGH : TEXT);
  } else {
    std::snprintf(buf, sizeof buf, "-\xe2\x88\x9e dB");
    set_colour(cr, TEXT_DIM);
  }
  text.draw(buf, px + 0.5 * pw, m._y + m._h + 0.5 * AXIS_BOTTOM * s + s, 0.5, 0.5);
}

void draw_gain(cairo_t* cr, text_painter& text, const morvane_layout& l, const morvane_view& v)
{
  const double s = l._scale;
  const double px = l._width - (MARGIN + COLUMN_W) * s;
  const double py = l._lfo[0]._y - HEADER_H * s;
  panel(cr, px, py, COLUMN_W * s, BAND_H * s, s);
  draw_knob(cr, text, l, MORVANE_GAIN, v._controls[MORVANE_GAIN], GAIN_ACCENT,
            v._active_control == MORVANE_GAIN, false);
}

}  // namespace

void morvane_layout_compute(morvane_layout* layout, double width, double height, double scale) noexcept
{
  if (layout == nullptr) {
    return;
  }
  const double s = sane_scale(scale);
  const double w = std::isfinite(width) ? std::max(width, MORVANE_VIEW_MIN_WIDTH * s) : MORVANE_VIEW_MIN_WIDTH * s;
  const double h =
      std::isfinite(height) ? std::max(height, MORVANE_VIEW_MIN_HEIGHT * s) : MORVANE_VIEW_MIN_HEIGHT * s;
  *layout = morvane_layout{};
  layout->_width = w;
  layout->_height = h;
  layout->_scale = s;

  const double m = MARGIN * s;
  const double gap = GAP * s;
  const double col_w = COLUMN_W * s;
  const double band_h = BAND_H * s;
  const double main_w = w - 2.0 * m - gap - col_w;  // partials and LFO panels
  const double top_h = h - 2.0 * m - gap - band_h;  // partials and meter panels
  const double band_y = m + top_h + gap;

  layout->_partials = {m + AXIS_LEFT * s, m + HEADER_H * s, main_w - (AXIS_LEFT + AXIS_RIGHT) * s,
                       top_h - (HEADER_H + AXIS_BOTTOM) * s};

  const double col_x = w - m - col_w;
  layout->_meter = {col_x + col_w - 16.0 * s - METER_W * s, layout->_partials._y, METER_W * s,
                    layout->_partials._h};

  // Each LFO panel: title, curve, a row of four knobs with their labels.
  const double panel_w = (main_w - 2.0 * gap) / MORVANE_NUM_SHAKE_LFOS;
  for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
    const double px = m + i * (panel_w + gap);
    const double cell = (panel_w - 12.0 * s) / 4.0;
    const double r = std::min(KNOB_R * s, 0.3 * cell);
    const double knobs_h = KNOB_LABEL_H * s + 2.0 * r + KNOB_VALUE_H * s;
    const double plot_h = band_h - HEADER_H * s - knobs_h - 8.0 * s;
    layout->_lfo[i] = {px + 10.0 * s, band_y + HEADER_H * s, panel_w - 20.0 * s, plot_h};
    const double ky = band_y + HEADER_H * s + plot_h + KNOB_LABEL_H * s + r;
    for (int which = 0; which < 4; ++which) {
      const uint32_t port = lfo_port(i, which);
      layout->_knob_x[port] = px + 6.0 * s + cell * (which + 0.5);
      layout->_knob_y[port] = ky;
      layout->_knob_r[port] = r;
    }
  }

  // Gain: alone in the column under the meter.
  layout->_knob_x[MORVANE_GAIN] = col_x + 0.5 * col_w;
  layout->_knob_y[MORVANE_GAIN] = band_y + 0.5 * band_h + 2.0 * s;
  layout->_knob_r[MORVANE_GAIN] = std::min(GAIN_KNOB_R * s, 0.34 * col_w);
}

int morvane_layout_knob_at(const morvane_layout* layout, double x, double y) noexcept
{
  if (layout == nullptr || !std::isfinite(x) || !std::isfinite(y)) {
    return -1;
  }
  int best = -1;
  double best_d = 0.0;
  for (uint32_t port = 0; port < MORVANE_NUM_CONTROLS; ++port) {
    const double r = layout->_knob_r[port];
    if (morvane_controls[port]._reserved || !(r > 0.0)) {
      continue;
    }
    const double d = std::hypot(x - layout->_knob_x[port], y - layout->_knob_y[port]);
    if (d <= r && (best < 0 || d < best_d)) {
      best = static_cast<int>(port);
      best_d = d;
    }
  }
  return best;
}

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

void morvane_draw(cairo_t* cr, const morvane_layout* layout, const morvane_view* view) noexcept
{
  if (cr == nullptr || layout == nullptr || view == nullptr || cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    return;
  }
  cairo_save(cr);
  // Arcs flattened to a quarter pixel: indistinguishable, and fewer
  // segments for the rasteriser than the default tenth.
  cairo_set_tolerance(cr, 0.25);
  const morvane_layout& l = *layout;
  cairo_rectangle(cr, 0.0, 0.0, l._width, l._height);
  set_colour(cr, BACKGROUND);
  cairo_fill(cr);
  {
    text_painter text(cr, l._scale);
    draw_partials_view(cr, text, l, view->_frame);
    for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
      draw_lfo_panel(cr, text, l, *view, i);
    }
    draw_meter(cr, text, l, *view);
    draw_gain(cr, text, l, *view);
  }
  cairo_restore(cr);
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
