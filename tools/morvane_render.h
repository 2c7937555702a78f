/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The two halves of morvane-render: main (morvane_render_main.c, built for
 * baseline x86-64) answers --help and --version and checks the processor;
 * morvane_render_run (morvane_render.cpp, built for the engines' level) does
 * everything else. */
#ifndef MORVANE_RENDER_H
#define MORVANE_RENDER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Parses the command line (without --help and --version) and renders;
 * returns the exit status. */
int morvane_render_run(int argc, char** argv);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_RENDER_H */
