/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The mixer-strip picture some hosts (Ardour and hosts derived from it)
 * show of a plug-in: the inline-display extension, declared here because
 * no Debian package ships its header, and the drawing of the picture,
 * which the plug-in links (morvane/ui/inline_draw.cpp, with cairo). */
#ifndef MORVANE_INLINE_DISPLAY_H
#define MORVANE_INLINE_DISPLAY_H

#include <stdint.h>

#include <lv2/core/lv2.h>

#define MORVANE_INLINEDISPLAY_URI "http://harrisonconsoles.com/lv2/inlinedisplay"
#define MORVANE_INLINEDISPLAY__interface MORVANE_INLINEDISPLAY_URI "#interface"
#define MORVANE_INLINEDISPLAY__queue_draw MORVANE_INLINEDISPLAY_URI "#queue_draw"

/* A picture the plug-in owns: cairo's ARGB32 pixels (native-endian,
 * premultiplied alpha), `stride` bytes a row, valid until the next render
 * or cleanup. */
struct morvane_inline_surface {
  unsigned char* data;
  int width;
  int height;
  int stride;
};

/* The host's feature (its data): ask for a new picture. Allowed from run. */
struct morvane_inline_queue_draw {
  void* handle;
  void (*queue_draw)(void* handle);
};

/* The plug-in's extension data: the host's GUI thread asks for a picture
 * of at most w x h pixels; NULL for nothing to show. */
struct morvane_inline_interface {
  morvane_inline_surface* (*render)(LV2_Handle instance, uint32_t w, uint32_t h);
};

struct morvane_frame;

/* Draws `frame`'s partials (NULL: the empty grid) into width x height
 * ARGB32 pixels at data (stride bytes a row). Returns 0 on success, -1 for
 * a bad size or stride or a cairo failure. Any non-real-time thread. */
int morvane_inline_draw(const morvane_frame* frame, unsigned char* data, int width, int height,
                        int stride) noexcept;

#endif /* MORVANE_INLINE_DISPLAY_H */
