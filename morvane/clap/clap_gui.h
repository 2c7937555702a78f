/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's window in CLAP hosts: the gui extension (X11, embedded)
 * and timer-support, around the LV2 window (shell_window.h).
 *
 * Threads: the window lives on the host's main thread, where the host's
 * timer lets it take the newest frame (frame_mailbox.h), show the control
 * values that changed, and handle its events. Controls the window changes
 * go to the audio thread through a lock-free queue (control_queue.h):
 * process, or the parameters' flush when the host does not process, takes
 * them at the block's first sample and tells the host with gesture begin,
 * value and gesture end events. The hooks below are the shell's: the
 * audio-thread ones allocate nothing and make no system call. */
#ifndef MORVANE_CLAP_GUI_H
#define MORVANE_CLAP_GUI_H

#include <clap/events.h>
#include <clap/ext/gui.h>
#include <clap/ext/timer-support.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>

struct clap_shell;
struct clap_gui;

/* Main thread, when the shell is made (its URID map ready) and freed. */
clap_gui* clap_gui_new(clap_shell* shell) noexcept;
void clap_gui_free(clap_gui* gui) noexcept;

/* Audio thread (and main thread while inactive). */
/* A new LV2 instance was made: it has heard of no window. */
void clap_gui_instance_made(clap_shell* shell) noexcept;
/* Into the control sequence being forged, first: the window's open or
 * closed message when the instance must hear it. */
void clap_gui_forge_message(clap_shell* shell, LV2_Atom_Forge* forge) noexcept;
/* What the notify port connects to for the next run (NULL: no window). */
LV2_Atom_Sequence* clap_gui_notify(clap_shell* shell) noexcept;
/* After a run: its frame, if any, goes to the window. */
void clap_gui_after_run(clap_shell* shell) noexcept;
/* The window's control changes into the plug-in, and to the host as
 * events on `out` (may be NULL). */
void clap_gui_drain(clap_shell* shell, const clap_output_events_t* out) noexcept;
/* The host started (true) or stopped processing. */
void clap_gui_processing(clap_shell* shell, bool processing) noexcept;

extern const clap_plugin_gui_t morvane_clap_gui;
extern const clap_plugin_timer_support_t morvane_clap_timer_support;

#endif /* MORVANE_CLAP_GUI_H */
