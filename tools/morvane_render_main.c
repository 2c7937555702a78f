/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* morvane-render's entry point, compiled for baseline x86-64 so that it runs
 * on any x86-64 processor: it answers --help and --version, then checks that
 * the processor has the level the engines are compiled for, and only then
 * calls into code of that level. Without the check an older processor would
 * die on an illegal instruction before printing anything. */
#include <stdio.h>
#include <string.h>

#include "cpu_level.h"
#include "morvane_render.h"

#ifndef MORVANE_RENDER_LV2_INSTALL_DIR
#define MORVANE_RENDER_LV2_INSTALL_DIR "lib/lv2/morvane.lv2"
#endif
#ifndef MORVANE_RENDER_BUILD_BUNDLE
#define MORVANE_RENDER_BUILD_BUNDLE ""
#endif
#ifndef MORVANE_VERSION
#define MORVANE_VERSION "unknown"
#endif

static const char usage[] =
  "usage: morvane-render IN OUT [--preset NAME] [--set SYMBOL=VALUE ...] [--block N]\n"
  "                      [--bpm N]\n"
  "       morvane-render IN OUT --stereo [--mode mid|left-right] [--width PERCENT]\n"
  "                      [--lfo-offset DEGREES] [other options as above]\n"
  "       morvane-render [--stereo] --list-presets | --list-controls\n"
  "       morvane-render --help | --version\n"
  "\n"
  "Runs the morvane effect over the audio file IN and writes OUT.\n"
  "\n"
  "  --preset NAME        start from a factory preset: its short name\n"
  "                       (octave-wobble), its label (\"Octave wobble\") or its URI\n"
  "  --set SYMBOL=VALUE   set one control, by its port symbol, in port units\n"
  "                       (dB, Hz, percent, degrees); applied after the preset, may\n"
  "                       repeat. Values outside a port's range are clamped, as in\n"
  "                       a host\n"
  "  --block N            frames per run call, 1 to 1048576 (default 512)\n"
  "  --bpm N              render IN as a song that starts at its first sample\n"
  "                       at N beats per minute in 4/4, as a host's transport\n"
  "                       would play it: LFOs in Song and Tempo follow it.\n"
  "                       Without it, Song runs free and Tempo at 120 bpm\n"
  "  --stereo             run the stereo plug-in (morvane stereo) over the first\n"
  "                       two channels of IN (a mono IN feeds both inputs); OUT\n"
  "                       has two channels. Its presets and controls are the\n"
  "                       mono plug-in's and its own (stereo-tremolo; stereo_mode,\n"
  "                       width, lfo_offset)\n"
  "  --mode MODE          with --stereo: mid (one analysis of both channels, its\n"
  "                       partials spread by the width; the default) or\n"
  "                       left-right (each channel on its own)\n"
  "  --width PERCENT      with --stereo, in mid: how far the partials spread,\n"
  "                       0 to 100 (default 100; 0, with no LFO offset, gives\n"
  "                       two equal channels)\n"
  "  --lfo-offset DEGREES with --stereo: how far the right channel's shake LFOs\n"
  "                       run ahead of the left's, 0 to 180 (default 0)\n"
  "                       --mode, --width and --lfo-offset are applied in order\n"
  "                       with --set, after the preset; out-of-range values are\n"
  "                       refused\n"
  "  --bundle DIR         read ports and presets from this morvane.lv2 folder\n"
  "  --list-presets       print the presets' names and labels (with --stereo,\n"
  "                       the stereo plug-in's)\n"
  "  --list-controls      print the control symbols with range and default\n"
  "                       (with --stereo, the stereo plug-in's)\n"
  "  --quiet              no progress bar and no summary\n"
  "  --help               print this text\n"
  "  --version            print the program's name and version\n"
  "\n"
  "Files: anything libsndfile reads (WAV, FLAC, AIFF, ...). Without --stereo\n"
  "the effect is mono and, like the plug-in in a host, processes the first\n"
  "(left) channel only; every channel of OUT carries the result, and OUT keeps\n"
  "the channel count of IN. OUT keeps the sample rate and sample format of IN;\n"
  "its container follows OUT's extension (.wav, .flac, .aif/.aiff) and is\n"
  "otherwise that of IN. Integer formats clip at full scale. A progress bar\n"
  "appears on stderr for inputs longer than 5 seconds when stderr is a terminal.\n"
  "\n"
  "Without --bundle the bundle is looked for beside the installed program\n"
  "(../" MORVANE_RENDER_LV2_INSTALL_DIR ")";

/* The options whose next argument is their value, so that
 * `--preset --help` names a preset rather than asking for help. */
static int takes_value(const char* arg)
{
  return strcmp(arg, "--preset") == 0 || strcmp(arg, "--set") == 0 ||
         strcmp(arg, "--block") == 0 || strcmp(arg, "--bundle") == 0 || strcmp(arg, "--bpm") == 0 ||
         strcmp(arg, "--mode") == 0 || strcmp(arg, "--width") == 0 || strcmp(arg, "--lfo-offset") == 0;
}

int main(int argc, char** argv)
{
  for (int i = 1; i < argc; ++i) {
    if (takes_value(argv[i])) {
      ++i;
    } else if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(usage, stdout);
      /* A distribution build has no build tree to fall back to. */
      if (MORVANE_RENDER_BUILD_BUNDLE[0] != '\0') {
        fputs(" and then in the build tree", stdout);
      }
      fputs(".\n", stdout);
      return 0;
    } else if (strcmp(argv[i], "--version") == 0) {
      printf("morvane-render %s\n"
             "Copyright (C) 2026 morvane developers\n"
             "License LGPL-2.1-or-later: GNU Lesser General Public License,\n"
             "version 2.1 or later. This is free software: you are free to change\n"
             "and redistribute it. There is NO WARRANTY, to the extent permitted by law.\n",
             MORVANE_VERSION);
      return 0;
    }
  }
  if (!morvane_cpu_has_build_level()) {
    fputs("morvane-render: this processor lacks AVX2, FMA and the other x86-64-v3 "
          "instructions that morvane needs\n", stderr);
    return 1;
  }
  return morvane_render_run(argc, argv);
}
