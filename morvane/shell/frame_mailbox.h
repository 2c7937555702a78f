/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The window's data path inside a plug-in of another format that hosts
 * the LV2 instance: the frames the instance writes to its notify port go
 * from the audio thread to the main thread (the window), and the window's
 * open or closed state goes the other way, without lock or allocation and
 * with no copy on the audio thread: the instance forges its frame straight
 * into one of three buffers.
 *
 * The three buffers turn as a triple buffer: the audio thread connects
 * the notify port to its back buffer before each run; a run that wrote a
 * frame trades the back buffer for the middle one by one atomic exchange,
 * marking it fresh; the main thread trades its front buffer for a fresh
 * middle one the same way, and so reads the newest frame, never one being
 * written. Frames the main thread did not come for in time are dropped,
 * which is what a window wants of them.
 *
 * The window's state is one atomic flag: the audio thread writes a
 * WindowOpen or WindowClosed message into the instance's control sequence
 * when the flag differs from what the instance heard last, as the window
 * itself says it to an LV2 host, and connects the notify port only while
 * the instance has heard the window open. */
#ifndef MORVANE_SHELL_FRAME_MAILBOX_H
#define MORVANE_SHELL_FRAME_MAILBOX_H

#include <atomic>
#include <cstdint>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>

#include "frame.h"

/* Bytes of each notify buffer: the notify port's declared minimum, which
 * holds the largest frame. */
constexpr uint32_t FRAME_MAILBOX_BYTES = 4096;

struct frame_mailbox {
  alignas(16) uint8_t _buffers[3][FRAME_MAILBOX_BYTES];
  morvane_uris _uris;
  // Audio thread.
  uint8_t _back;   // the buffer the instance writes into
  bool _told_open;  // the instance last heard WindowOpen
  // Both: the middle buffer's index, FRAME_MAILBOX_FRESH when it holds a
  // frame the main thread has not taken.
  std::atomic<uint8_t> _middle;
  std::atomic<bool> _open;  // the window is open and wants frames
  // Main thread.
  uint8_t _front;  // the buffer the main thread reads
};

/* Main thread, before any other call: URIDs from the map the LV2 instance
 * is given. */
void frame_mailbox_init(frame_mailbox* mailbox, const LV2_URID_Map* map) noexcept;

/* Audio thread. */
/* A new LV2 instance, which has heard of no window yet. */
void frame_mailbox_restart(frame_mailbox* mailbox) noexcept;
/* Into the control sequence being forged (at its start, before any event):
 * WindowOpen or WindowClosed at frame 0 when the instance must hear it. */
void frame_mailbox_forge_message(frame_mailbox* mailbox, LV2_Atom_Forge* forge) noexcept;
/* What to connect the notify port to for the next run: the back buffer,
 * ready for output, while the instance has heard the window open; NULL
 * otherwise. */
LV2_Atom_Sequence* frame_mailbox_notify(frame_mailbox* mailbox) noexcept;
/* After the run: the back buffer, when it holds a frame, goes to the main
 * thread. */
void frame_mailbox_after_run(frame_mailbox* mailbox) noexcept;

/* Main thread. */
/* The window opened (true) or closed. */
void frame_mailbox_set_open(frame_mailbox* mailbox, bool open) noexcept;
/* The newest sequence of frames published since the last call, or NULL;
 * valid until the next call. */
const LV2_Atom_Sequence* frame_mailbox_take(frame_mailbox* mailbox) noexcept;

#endif /* MORVANE_SHELL_FRAME_MAILBOX_H */
