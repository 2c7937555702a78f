/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The plug-in's LV2 window embedded by a plug-in of another format: the
 * window's own code (its LV2 UI descriptor, linked into the same file),
 * played the LV2 host's part for. It is put into the host's X11 window
 * (ui:parent), given the format's URID map, its scale factor
 * (ui:scaleFactor), ui:resize and ui:touch, and its idle interface is
 * called by shell_window_idle.
 *
 * What the window writes goes back to the format through callbacks: a
 * float on a control port is a control changed by the window, ui:touch
 * frames its gestures, its WindowOpen and WindowClosed messages say that
 * it wants frames or no longer does, and its ui:resize requests give its
 * size. The format shows its control values with shell_window_control and
 * hands over the notify port's frames with shell_window_notify.
 *
 * Main thread only. The window's libraries (cairo, pango and what they
 * bring, Xlib) are pinned in the process the first time a window opens, so
 * that a host may unload the plug-in's file: pango registers GLib types
 * that would outlive an unloaded copy of it, and cairo's and fontconfig's
 * lifelong caches would be lost memory. */
#ifndef MORVANE_SHELL_WINDOW_H
#define MORVANE_SHELL_WINDOW_H

#include <cstdint>

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

/* Milliseconds between two idle calls: the window paints at most 60 times
 * a second. */
constexpr uint32_t SHELL_WINDOW_IDLE_MS = 16;

/* The format's side. */
struct shell_window_host {
  void* _handle;
  /* The window set the control on LV2 port `port` to `value`. */
  void (*_control)(void* handle, uint32_t port, float value);
  /* A gesture on the control on `port` begins (true) or ends. */
  void (*_touch)(void* handle, uint32_t port, bool begin);
  /* The window opened and wants frames (true), or closed. */
  void (*_open)(void* handle, bool open);
  /* The window's size in pixels, as it set it. */
  void (*_resize)(void* handle, int width, int height);
};

struct shell_window;

/* The window's size in pixels at `scale`: its default and its least. */
void shell_window_default_size(bool stereo, double scale, int* width, int* height) noexcept;
void shell_window_min_size(bool stereo, double scale, int* width, int* height) noexcept;

/* The window of the mono or the stereo plug-in in X11 window `parent` at
 * `scale`, with `map` (the map the LV2 instance has); NULL when it cannot
 * be made (no display, a bad parent, no memory). */
shell_window* shell_window_create(bool stereo, unsigned long parent, double scale, LV2_URID_Map* map,
                                  const shell_window_host& host) noexcept;
/* Closes the window (it says WindowClosed first). */
void shell_window_destroy(shell_window* window) noexcept;

/* Shows the control value `value` of LV2 port `port`. */
void shell_window_control(shell_window* window, uint32_t port, float value) noexcept;
/* Hands the window the frames of a notify sequence. */
void shell_window_notify(shell_window* window, const LV2_Atom_Sequence* notify) noexcept;
/* Lets the window handle its events and paint; false once its X window is
 * gone (destroyed with the host's). */
bool shell_window_idle(shell_window* window) noexcept;
/* Resizes the window; false if it refused. */
bool shell_window_set_size(shell_window* window, int width, int height) noexcept;
/* A new scale factor: the window resizes with it and says its new size. */
bool shell_window_set_scale(shell_window* window, double scale) noexcept;

#endif /* MORVANE_SHELL_WINDOW_H */
