/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Internals of the morvane plug-in that the tests and tools reach: the
 * control ports' description (controls.h) and the port counts. None of this
 * is exported from the shared object. */
#ifndef MORVANE_MORVANE_INTERNAL_H
#define MORVANE_MORVANE_INTERNAL_H

#include <cstdint>

#include "controls.h"
#include "morvane.h"

/* Number of ports: the 25 controls, the 4 audio ports, the two atom ports
 * and the six song-lock controls. */
constexpr uint32_t MORVANE_NUM_PORTS = 37;

/* The stereo plug-in's: those and its three own controls. */
constexpr uint32_t MORVANE_NUM_STEREO_PORTS = 40;

/* The snapshot the instance's last inline-display picture was drawn from,
 * or NULL before the first one; for the tests, from the thread that asked
 * for the picture. */
struct morvane_frame;
const morvane_frame* morvane_inline_snapshot(void* instance) noexcept;

/* The instance's effect engine, for the tests that read its LFO phases
 * (libquivex_get_lfo_phases) between runs. */
struct _libquivex;
_libquivex* morvane_engine(void* instance) noexcept;

#endif /* MORVANE_MORVANE_INTERNAL_H */
