/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Internals of the morvane plug-in that the tests and tools reach: the
 * control ports' description (controls.h) and the port counts. None of this
 * is exported from the shared object. */
#ifndef MORVANE_MORVANE_INTERNAL_H
#define MORVANE_MORVANE_INTERNAL_H

#include <cstdint>

#include "controls.h"
#include "morvane.h"

/* Number of ports: the 25 controls, the 4 audio ports and the window's
 * two atom ports. */
constexpr uint32_t MORVANE_NUM_PORTS = 31;

#endif /* MORVANE_MORVANE_INTERNAL_H */
