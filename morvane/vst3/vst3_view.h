/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's window in VST3 hosts: an IPlugView on "X11EmbedWindowID"
 * around the LV2 window (shell_window.h), driven by a timer of the host's
 * run loop, which the view asks the host's plug frame for.
 *
 * Threads: the view lives on the host's main thread, where the timer lets
 * the window take the newest frame (frame_mailbox.h), show the control
 * values that changed, and handle its events. A control the window
 * changes goes to the host as an edit (beginEdit, performEdit, endEdit
 * through the component handler), for the host to record and pass on to
 * the processor; with no handler it goes to the audio thread through a
 * lock-free queue (control_queue.h), taken at the next block's first
 * sample. The audio-thread hooks allocate nothing and make no system
 * call. */
#ifndef MORVANE_VST3_VIEW_H
#define MORVANE_VST3_VIEW_H

#include <travesty/view.h>

#include "control_queue.h"
#include "controls.h"
#include "frame_mailbox.h"

struct vst3_plugin;
struct vst3_view;

/* The window's side of a plug-in, made with it. */
struct vst3_gui {
  frame_mailbox _mailbox;
  control_queue _queue;
  // Main thread.
  vst3_view* _view = nullptr;  // the view while one lives (not owned)
  float _window_values[MORVANE_NUM_STEREO_CONTROLS] = {};  // last shown or made by the window (NaN: to show)
  bool _touching[MORVANE_NUM_STEREO_CONTROLS] = {};        // a gesture of the window's is on
};

/* Main thread, when the plug-in is made (its URID map ready) and freed. */
vst3_gui* vst3_gui_new(vst3_plugin* p) noexcept;
void vst3_gui_free(vst3_gui* gui) noexcept;

/* The editor view (name "editor"), its reference count at one; NULL for
 * another name or while a view of this plug-in lives. */
v3_plugin_view** vst3_view_create(vst3_plugin* p, const char* name) noexcept;

/* Audio thread: the window's control changes that wait in the queue into
 * the controls. */
void vst3_gui_drain(vst3_plugin* p) noexcept;

#endif /* MORVANE_VST3_VIEW_H */
