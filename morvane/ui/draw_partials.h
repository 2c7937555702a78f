/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The partials view's drawing with cairo alone (no text, no X11): the
 * plug-in links it for a host's inline display, and the window's drawing
 * (draw.h) puts the same partials in its bigger picture.
 *
 * A sounding resonator is a vertical line at its shaken frequency up to its
 * shaken level (what the oscillators play) and, with marks, a small hollow
 * ring where the analysis put it; resonators kept silent above Nyquist are
 * grey stubs on the floor, over a hatched band from Nyquist up.
 *
 * The stereo plug-in's frames (frame.h) show its field: in Mid each line's
 * colour goes from the mono teal towards blue for a partial on the left or
 * pink for one on the right, as far as its pan (partial k at
 * (-1)^(k+1) * width); in Left / Right the left channel's lines are blue
 * and stand just left of their frequency, the right channel's pink just
 * right of it, each with rings of its own colour.
 *
 * Coordinates are cairo user units; `s` is the unit of line widths (the
 * window's scale factor). Pure functions, any non-real-time thread. */
#ifndef MORVANE_DRAW_PARTIALS_H
#define MORVANE_DRAW_PARTIALS_H

#include <cairo.h>

#include "frame.h"

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

/* x of frequency hz (Hz) in the partials area: linear in mel(hz), 20 Hz at
 * the left edge, 20 kHz at the right. */
double morvane_partials_x(const morvane_rect* area, double hz) noexcept;

/* y of a level (dBFS) in the partials area: MORVANE_VIEW_DB_CEIL at the top,
 * MORVANE_VIEW_DB_FLOOR at the bottom. */
double morvane_partials_y(const morvane_rect* area, double db) noexcept;

/* The hatched band from Nyquist up, when the frame keeps resonators silent
 * (what changes only with the sample rate and the audible count). */
void morvane_draw_silent_band(cairo_t* cr, const morvane_rect* area, const morvane_frame* frame,
                              double s) noexcept;

/* The resonators of `frame` inside `area` (clipped to it): the sounding
 * lines and, with `marks`, the analysed rings and the silent stubs. */
void morvane_draw_partials(cairo_t* cr, const morvane_rect* area, const morvane_frame* frame, double s,
                           bool marks) noexcept;

/* The rectangles (whole pixels, inside `area`, at most `max_boxes`) that
 * morvane_draw_partials with marks paints differently for `after` than for
 * `before`: the resonators whose marks moved, gathered into vertical
 * strips. Either frame NULL, or a different audible count, gives the whole
 * area. Returns the number of rectangles written. */
int morvane_partials_damage(const morvane_rect* area, double s, const morvane_frame* before,
                            const morvane_frame* after, morvane_rect* boxes, int max_boxes) noexcept;

/* Draws the partials alone, filling width x height from (0, 0), for small
 * pictures such as a host's inline display: no labels, no marks, the
 * stereo plug-in's colours as in the window. */
void morvane_draw_partials_only(cairo_t* cr, double width, double height,
                                const morvane_frame* frame) noexcept;

#endif /* MORVANE_DRAW_PARTIALS_H */
