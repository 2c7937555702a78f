// SPDX-License-Identifier: LGPL-2.1-or-later
// The inline display's drawing, exported by morvane_ui.so for the plug-in,
// which opens this object only when a host asks for a picture (so that
// morvane.so itself never loads cairo): the partials alone, drawn by the
// drawing module into the plug-in's pixels.
#include <cairo.h>

#include "draw.h"
#include "inline_display.h"

extern "C" __attribute__((visibility("default"))) int morvane_ui_draw_inline(const morvane_frame* frame,
                                                                             unsigned char* data, int width,
                                                                             int height, int stride) noexcept
{
  if (data == nullptr || width <= 0 || height <= 0 ||
      stride < cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width)) {
    return -1;
  }
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, width, height, stride);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return -1;
  }
  cairo_t* cr = cairo_create(surface);
  morvane_draw_partials_only(cr, width, height, frame);
  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);
  return ok ? 0 : -1;
}
