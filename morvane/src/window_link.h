/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's side of its window's data path: the window's messages on
 * the control port switch frames on and off, and while a window is open
 * run writes a frame of the engine's partials to the notify port at most
 * 30 times a second of audio and once a run (frame.h). Audio thread, after
 * window_link_init: no allocation, no lock, no system call. */
#ifndef MORVANE_WINDOW_LINK_H
#define MORVANE_WINDOW_LINK_H

#include <cstdint>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>
#include <quivex/libquivex.h>

#include "frame.h"
#include "frame_source.h"
#include "sequence_reader.h"

/* Frames to the window: at most this many a second of audio (and one a run). */
constexpr uint32_t MORVANE_FRAMES_PER_SECOND = 30;

struct window_link {
  bool _mapped;                  // the host gave urid:map: messages can be read, frames written
  morvane_uris _uris;
  LV2_Atom_Forge _forge;
  bool _open;                    // a window said WindowOpen and not yet WindowClosed
  frame_source _source;          // when the next frame is due, and the peak until then
  morvane_frame _frame;          // the frame being written
};

/* A closed link for a plug-in at `rate` Hz following `song` (as
 * frame_source_init); map may be NULL (the host has none), and then no
 * message is read and no frame written. */
void window_link_init(window_link* link, const LV2_URID_Map* map, double rate, const song_lock* song) noexcept;

/* Takes one event of the control port: WindowOpen and WindowClosed switch
 * frames on and off; anything else (other types, garbage) is passed over. */
void window_link_read(window_link* link, const morvane_event& event) noexcept;

/* Whether the next window_link_write can send a frame, so run should
 * measure its output's peak. */
bool window_link_open(const window_link* link, const LV2_Atom_Sequence* notify) noexcept;

/* After a run of n_samples whose output peaked at run_peak: writes
 * `notify` (NULL: nothing) as a valid sequence within the capacity the
 * host set in it, with one frame of `engine` (and of the stereo plug-in's
 * `field`, NULL for the mono plug-in; see frame_source_fill) when one is
 * due and fits. */
void window_link_write(window_link* link, LV2_Atom_Sequence* notify, libquivex engine, const stereo_field* field,
                       float run_peak, uint32_t n_samples) noexcept;

#endif /* MORVANE_WINDOW_LINK_H */
