/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The window's picture as a pure function: everything is drawn from a
 * plain snapshot (a morvane_view) into any cairo context, by the window and
 * by the tests into image surfaces. No X11 here, no state between calls.
 *
 * The picture is two layers: the still layer (panels, grid, labels, knobs,
 * the LFOs' sync switches and curves), which changes only with the size,
 * the scale, the controls, the knob under the pointer and the frame's
 * audible count and sample rate; and the moving layer on top of it (the
 * partials, the LFOs' current values and phases, the meter, the host's
 * tempo and transport), which changes with frames. The window
 * keeps the still layer and repaints only where the moving layer changed.
 *
 * Coordinates are cairo user units of the target surface; `scale` is the
 * host's UI scale factor (1 at 96 dpi): every length and font size is
 * multiplied by it.
 *
 * Controls are named by their row of morvane_controls (controls.h), not
 * by their LV2 port index.
 *
 * The stereo plug-in's window (a layout made with stereo) has a panel of
 * its own between the LFO panels and the gain: its Mid / Left / Right
 * switch, a key to the partials' colours, and its Width and Offset knobs.
 * The partials show the frame's field (draw_partials.h). */
#ifndef MORVANE_DRAW_H
#define MORVANE_DRAW_H

#include <cstddef>

#include <cairo.h>

#include "controls.h"
#include "draw_partials.h"
#include "frame.h"

/* Smallest and default size of the window at scale 1, in pixels. */
constexpr double MORVANE_VIEW_MIN_WIDTH = 640.0;
constexpr double MORVANE_VIEW_MIN_HEIGHT = 400.0;
constexpr double MORVANE_VIEW_DEFAULT_WIDTH = 900.0;
constexpr double MORVANE_VIEW_DEFAULT_HEIGHT = 540.0;
/* The stereo window's smallest width: its panel beside LFO panels as wide
 * as the mono window's smallest. */
constexpr double MORVANE_VIEW_STEREO_MIN_WIDTH = 792.0;

/* Where each part of the picture goes for a given size and scale. */
struct morvane_layout {
  double _width, _height, _scale;
  bool _stereo;                                  // the stereo plug-in's window
  morvane_rect _partials;                        // plot area of the partials view (inside its axes)
  morvane_rect _lfo[MORVANE_NUM_SHAKE_LFOS];     // plot area of each shake LFO's curve
  morvane_rect _meter;                           // output level meter
  morvane_rect _tempo;                           // the host's tempo and transport, in the partials' header
  // Each shake LFO's Free / Song / Tempo switch: segment k sets the sync
  // row to k (morvane_sync).
  morvane_rect _sync[MORVANE_NUM_SHAKE_LFOS][3];
  // The stereo window's panel, its Mid / Left / Right switch (segment k
  // sets the stereo mode to k) and the key to the partials' colours; all
  // empty in the mono window.
  morvane_rect _stereo_panel;
  morvane_rect _stereo_mode[2];
  morvane_rect _pan_key;
  // Centre and radius of each control row's knob; radius 0 for a row
  // without one (the reserved range-LFO ports, the switches, the stereo
  // rows in the mono window). An LFO's cycle has its rate's place: one of
  // the two is shown (morvane_knob_shown).
  double _knob_x[MORVANE_NUM_STEREO_CONTROLS];
  double _knob_y[MORVANE_NUM_STEREO_CONTROLS];
  double _knob_r[MORVANE_NUM_STEREO_CONTROLS];
};

/* The snapshot drawn: the last frame (or none yet), the control values
 * and the little state of the window itself. */
struct morvane_view {
  const morvane_frame* _frame;                   // NULL: no frame yet, axes and curves only
  // Control values by row, in the ports' units; the mono window's leaves
  // the stereo rows as they are.
  float _controls[MORVANE_NUM_STEREO_CONTROLS];
  float _meter_db;                               // meter level, dBFS (-inf or NaN: empty)
  int _active_control;                           // row of the knob under the pointer or dragged, or -1
};

/* The layout of a width x height picture at `scale`, of the stereo
 * plug-in's window with `stereo`. Sizes below the minimum are laid out as
 * the minimum (and clipped by the surface). */
void morvane_layout_compute(morvane_layout* layout, double width, double height, double scale,
                            bool stereo = false) noexcept;

/* The row of the knob shown with `controls` (MORVANE_NUM_STEREO_CONTROLS
 * values by row) that contains (x, y), or -1. */
int morvane_layout_knob_at(const morvane_layout* layout, const float* controls, double x, double y) noexcept;

/* The row of the switch whose segment contains (x, y), or -1: a shake
 * LFO's sync row (the segment's value, morvane_sync, goes to *value) or,
 * in the stereo window, the stereo mode's (morvane_stereo_mode). */
int morvane_layout_switch_at(const morvane_layout* layout, double x, double y, float* value) noexcept;

/* The text under a knob for `value` of row `row`, with its unit; an
 * enumeration shows the label of its scale point, and a cycle between two
 * points its length in quarter notes ("2.50 q"). */
void morvane_control_text(uint32_t row, float value, char* buf, size_t size) noexcept;

/* What the header says of the host's song in `frame`: its tempo and
 * whether the transport rolls ("\u25b6 120.0 bpm", "\u25a0 96.0 bpm"), "no
 * transport" before the host has said, "" without a frame. */
void morvane_tempo_text(const morvane_frame* frame, char* buf, size_t size) noexcept;

/* Draws the whole window: the still layer, then the moving layer. */
void morvane_draw(cairo_t* cr, const morvane_layout* layout, const morvane_view* view) noexcept;

/* Most rectangles morvane_moving_damage returns. */
constexpr int MORVANE_VIEW_MAX_DAMAGE = 48;

/* Draws the still layer: everything but the moving layer. */
void morvane_draw_still(cairo_t* cr, const morvane_layout* layout, const morvane_view* view) noexcept;

/* Draws the moving layer over the still layer of the same view: the
 * partials (in the stereo window with their places in the field), each
 * switched-on LFO's current value (its number, level line
 * and a dot at its phase along the curve), the meter's bar and number, and
 * the header's tempo and transport. It paints only inside the
 * rectangles morvane_moving_damage can return. */
void morvane_draw_moving(cairo_t* cr, const morvane_layout* layout, const morvane_view* view) noexcept;

/* Whether the still layers of two views differ. */
bool morvane_still_differs(const morvane_view* a, const morvane_view* b) noexcept;

/* For two views with the same still layer: the rectangles (whole pixels, at
 * most MORVANE_VIEW_MAX_DAMAGE) outside which the moving layers of `before`
 * and `after` paint the same pixels. Returns their number, 0 when nothing
 * moved: an LFO switched off, a meter below its scale or a tempo that
 * rounds to the same text moves nothing. */
int morvane_moving_damage(const morvane_layout* layout, const morvane_view* before, const morvane_view* after,
                          morvane_rect* boxes) noexcept;

/* Brings the picture under `cr`, which shows `before` over `still` (the
 * still layer of both views, an image of the picture's size), up to
 * `after`: inside the rectangles of morvane_moving_damage it puts the still
 * layer back and draws the moving layer of `after` on it. Adds those
 * rectangles, cut to the picture, to `changed`. */
void morvane_draw_update(cairo_t* cr, cairo_surface_t* still, const morvane_layout* layout,
                         const morvane_view* before, const morvane_view* after, cairo_region_t* changed) noexcept;

#endif /* MORVANE_DRAW_H */
