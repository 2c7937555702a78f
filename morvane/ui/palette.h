// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's colours (a dark theme) and the little cairo helpers that
// set them, shared by the partials' drawing and the rest of the window.
#ifndef MORVANE_UI_PALETTE_H
#define MORVANE_UI_PALETTE_H

#include <cairo.h>

namespace morvane_palette {

struct colour {
  double _r, _g, _b;
};

constexpr colour rgb(unsigned hex)
{
  return {static_cast<double>((hex >> 16) & 0xff) / 255.0, static_cast<double>((hex >> 8) & 0xff) / 255.0,
          static_cast<double>(hex & 0xff) / 255.0};
}

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

// A resonator's line from the floor up (low, then high) and its cap. The
// mono plug-in's, and a centred partial's, in PARTIAL_TINT; the stereo
// plug-in's partials go from it towards LEFT_TINT or RIGHT_TINT with their
// place in the field, and in Left / Right each channel has its side's.
struct partial_tint {
  colour _low, _high, _cap;
};
constexpr partial_tint PARTIAL_TINT = {PARTIAL_LOW, PARTIAL_HIGH, PARTIAL_CAP};
constexpr partial_tint LEFT_TINT = {rgb(0x1f3c8f), rgb(0x6f9dff), rgb(0xd9e4ff)};
constexpr partial_tint RIGHT_TINT = {rgb(0x7d2146), rgb(0xff6f9f), rgb(0xffd8e5)};

constexpr colour mix(colour a, colour b, double t)
{
  return {a._r + (b._r - a._r) * t, a._g + (b._g - a._g) * t, a._b + (b._b - a._b) * t};
}

// The tint of a partial at pan p (-1 hard left, 0 centre, 1 hard right).
constexpr partial_tint pan_tint(double p)
{
  const partial_tint& side = p < 0.0 ? LEFT_TINT : RIGHT_TINT;
  const double t = p < 0.0 ? -p : p;
  return {mix(PARTIAL_TINT._low, side._low, t), mix(PARTIAL_TINT._high, side._high, t),
          mix(PARTIAL_TINT._cap, side._cap, t)};
}

constexpr double PI = 3.14159265358979323846;

inline void set_colour(cairo_t* cr, colour c, double alpha = 1.0)
{
  cairo_set_source_rgba(cr, c._r, c._g, c._b, alpha);
}

}  // namespace morvane_palette

#endif  // MORVANE_UI_PALETTE_H
