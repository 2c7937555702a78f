/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The window's picture as a pure function: everything is drawn from a
 * plain snapshot (a morvane_view) into any cairo context, by the window,
 * by the tests into image surfaces and by the host's inline display. No
 * X11 here, no state between calls.
 *
 * Coordinates are cairo user units of the target surface; `scale` is the
 * host's UI scale factor (1 at 96 dpi): every length and font size is
 * multiplied by it. */
#ifndef MORVANE_DRAW_H
#define MORVANE_DRAW_H

#include <cairo.h>

#include "controls.h"
#include "frame.h"

/* Smallest and default size of the window at scale 1, in pixels. */
constexpr double MORVANE_VIEW_MIN_WIDTH = 640.0;
constexpr double MORVANE_VIEW_MIN_HEIGHT = 400.0;
constexpr double MORVANE_VIEW_DEFAULT_WIDTH = 900.0;
constexpr double MORVANE_VIEW_DEFAULT_HEIGHT = 540.0;

/* The partials view's axes: frequency from 20 Hz to 20 kHz on the mel
 * scale, level from MORVANE_VIEW_DB_FLOOR to MORVANE_VIEW_DB_CEIL dBFS. */
constexpr double MORVANE_VIEW_MIN_HZ = 20.0;
constexpr double MORVANE_VIEW_MAX_HZ = 20000.0;
constexpr double MORVANE_VIEW_DB_FLOOR = -96.0;
constexpr double MORVANE_VIEW_DB_CEIL = 6.0;

/* An axis-aligned rectangle in user units. */
struct morvane_rect {
  double _x, _y, _w, _h;
};

/* Where each part of the picture goes for a given size and scale. */
struct morvane_layout {
  double _width, _height, _scale;
  morvane_rect _partials;                        // plot area of the partials view (inside its axes)
  morvane_rect _lfo[MORVANE_NUM_SHAKE_LFOS];     // plot area of each shake LFO's curve
  morvane_rect _meter;                           // output level meter
  // Centre and radius of each control's knob; radius 0 for a control
  // without a knob (the twelve reserved range-LFO ports).
  double _knob_x[MORVANE_NUM_CONTROLS];
  double _knob_y[MORVANE_NUM_CONTROLS];
  double _knob_r[MORVANE_NUM_CONTROLS];
};

/* The snapshot drawn: the last frame (or none yet), the control values
 * and the little state of the window itself. */
struct morvane_view {
  const morvane_frame* _frame;                   // NULL: no frame yet, axes and curves only
  float _controls[MORVANE_NUM_CONTROLS];         // port values, in the ports' units
  float _meter_db;                               // meter level, dBFS (-inf or NaN: empty)
  int _active_control;                           // knob under the pointer or being dragged, or -1
};

/* The layout of a width x height picture at `scale`. Sizes below the
 * minimum are laid out as the minimum (and clipped by the surface). */
void morvane_layout_compute(morvane_layout* layout, double width, double height, double scale) noexcept;

/* The control whose knob contains (x, y), or -1. */
int morvane_layout_knob_at(const morvane_layout* layout, double x, double y) noexcept;

/* x of frequency hz (Hz) in the partials area: linear in mel(hz), 20 Hz at
 * the left edge, 20 kHz at the right. */
double morvane_partials_x(const morvane_rect* area, double hz) noexcept;

/* y of a level (dBFS) in the partials area: MORVANE_VIEW_DB_CEIL at the top,
 * MORVANE_VIEW_DB_FLOOR at the bottom. */
double morvane_partials_y(const morvane_rect* area, double db) noexcept;

/* Draws the whole window: partials view, the three LFOs' curves with their
 * current values, the knobs and the meter. */
void morvane_draw(cairo_t* cr, const morvane_layout* layout, const morvane_view* view) noexcept;

/* Draws the partials alone, filling width x height from (0, 0), for small
 * pictures such as a host's inline display: no labels, no knobs. */
void morvane_draw_partials_only(cairo_t* cr, double width, double height,
                                const morvane_frame* frame) noexcept;

#endif /* MORVANE_DRAW_H */
