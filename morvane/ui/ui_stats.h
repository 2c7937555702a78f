/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* What the window has sent the X server, for tests and measurements: the
 * window's extension data under MORVANE_UI__uploadCounts (no host asks
 * for it). */
#ifndef MORVANE_UI_STATS_H
#define MORVANE_UI_STATS_H

#include <cstdint>

#include <lv2/ui/ui.h>

#include "morvane.h"

#define MORVANE_UI__uploadCounts MORVANE_URI "#uploadCounts"

/* Counts since the window opened. */
struct morvane_ui_upload_counts {
  uint64_t _bytes;       // picture bytes sent (4 a pixel)
  uint64_t _rectangles;  // rectangles sent
  uint64_t _repaints;    // pictures drawn, whole or in part
  uint64_t _still;       // of which with the still layer drawn again
};

/* The extension data: reads the counts of window `ui`. The host's UI
 * thread. */
struct morvane_ui_upload_counter {
  void (*read)(LV2UI_Handle ui, morvane_ui_upload_counts* counts);
};

#endif /* MORVANE_UI_STATS_H */
