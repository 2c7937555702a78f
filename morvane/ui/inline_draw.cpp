// SPDX-License-Identifier: LGPL-2.1-or-later
// The inline display's picture (inline_display.h): the partials alone,
// drawn with cairo into the plug-in's pixels. The plug-in links this with
// the partials' drawing (draw_partials.cpp) and cairo, nothing else of the
// window.
#include <cairo.h>

#include "draw_partials.h"
#include "inline_display.h"

int morvane_inline_draw(const morvane_frame* frame, unsigned char* data, int width, int height,
                        int stride) noexcept
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
