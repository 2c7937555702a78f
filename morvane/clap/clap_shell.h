/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The CLAP shell around the LV2 plug-in: one CLAP plug-in instance holds
 * one hosted LV2 instance (hosted_plugin.h: the same code, linked in) and
 * feeds it the CLAP buffers of each stretch and the host's transport as
 * time:Position objects. A parameter event splits the block at its
 * sample, since the LV2 instance reads its controls once a run.
 *
 * Threads: create, init, destroy, activate, deactivate, the parameters'
 * descriptions and the state run on the host's main thread; process,
 * reset and flush (while active) on its audio thread, without
 * allocation, lock or system call. */
#ifndef MORVANE_CLAP_SHELL_H
#define MORVANE_CLAP_SHELL_H

#include <cstdint>

#include <clap/events.h>
#include <clap/host.h>
#include <clap/plugin.h>

#include "hosted_plugin.h"

struct clap_gui;

struct clap_shell {
  clap_plugin_t _plugin;
  const clap_host_t* _host;
  uint32_t _max_frames;
  hosted_plugin _core;  // the LV2 instance, its controls and song
  clap_gui* _gui;       // the window's side (clap_gui.h)
};

/* The shell of `plugin`. */
inline clap_shell* clap_shell_of(const clap_plugin_t* plugin)
{
  return static_cast<clap_shell*>(plugin->plugin_data);
}

/* A new shell for the LV2 descriptor at `lv2_index` (0 mono, 1 stereo),
 * with `desc` as its CLAP descriptor; NULL when memory runs out. */
const clap_plugin_t* clap_shell_create(const clap_host_t* host, const clap_plugin_descriptor_t* desc,
                                       uint32_t lv2_index) noexcept;

/* Takes one parameter value event into the control values (out of range:
 * clamped; not finite or not ours: ignored). Audio thread while active. */
void clap_shell_take_param(clap_shell* shell, const clap_event_header_t* event) noexcept;

/* The transport `t` as the shell's core reads it, at sample rate `rate`. */
hosted_transport clap_shell_transport(const clap_event_transport_t& t, double rate) noexcept;

/* The extensions. */
extern const struct clap_plugin_params morvane_clap_params;
extern const struct clap_plugin_state morvane_clap_state;
extern const struct clap_plugin_audio_ports morvane_clap_audio_ports;

#endif /* MORVANE_CLAP_SHELL_H */
