/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Restarting an effect engine, for the plug-in's activate: not part of the
 * exported API. */
#ifndef QUIVEX_LIBQUIVEX_RESTART_H
#define QUIVEX_LIBQUIVEX_RESTART_H

#include <tembra/libtembra.h>

#include "libquivex.h"

/* Returns the engine's signal state to what libquivex_new left: the LFOs'
 * phases, the time filter's memory and coefficients, the caches of the LFO
 * values and of the time coefficients, and (through restart_engine) both
 * resonator engines. The control values, the gain and the engines' random
 * phase offsets stay. restart_engine is libtembra_restart, handed in by the
 * caller: it is not exported by libtembra.so.0, so only a program that holds
 * both engines' objects (the plug-in) can restart. */
void libquivex_restart(libquivex lr, void (*restart_engine)(libtembra) noexcept) noexcept;

/* Makes lr's signal state what from's is (both built at one rate): the LFO
 * phases, the time filter, the caches, the gain and partial gains in use and
 * (through copy_engine, which is libtembra_copy_state) both resonator
 * engines, so that lr goes on exactly as from would. The control values,
 * the partial gains as set and lr's random phase offsets stay. For a second
 * channel that starts where the first one is, instead of from stale
 * partials. Audio thread, between buffers: no allocation. */
void libquivex_copy_state(libquivex lr, libquivex from,
                          void (*copy_engine)(libtembra, libtembra) noexcept) noexcept;

#endif /* QUIVEX_LIBQUIVEX_RESTART_H */
