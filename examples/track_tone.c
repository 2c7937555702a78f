/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* track_tone: runs morvane's resonator engine (libtembra) on a sine tone
 * and prints which resonator locked onto it and the frequency it reads.
 *
 *   track_tone [FREQ_HZ [SAMPLE_RATE]]     (default 440 Hz at 48000 Hz)
 *
 * Build against an installed morvane:
 *   cc track_tone.c $(pkg-config --cflags --libs tembra) -lm -o track_tone
 * or with CMake: find_package(morvane) and link morvane::tembra (see
 * CMakeLists.txt beside this file). */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <tembra/libtembra.h>

#define NUM_RESONATORS 112

int main(int argc, char** argv)
{
  const double freq = argc > 1 ? atof(argv[1]) : 440.0;
  const int rate = argc > 2 ? atoi(argv[2]) : 48000;
  if (!(freq > 20.0 && freq < 0.45 * rate)) {
    fprintf(stderr, "track_tone: the tone must lie between 20 Hz and 0.45 x the rate\n");
    return 2;
  }

  /* The grid the effect analyses with: 112 resonators spaced on the mel
   * scale from 20 Hz to 20 kHz, each kept within its own band. */
  libtembra engine = libtembra_new(rate, NUM_RESONATORS, 20.0f, 20000.0f,
                                   LIBTEMBRA_MEL_SCALE | LIBTEMBRA_LIMIT_RESO_RANGE);
  if (!engine) {
    fprintf(stderr, "track_tone: cannot create the engine\n");
    return 1;
  }

  /* One second of the tone at amplitude 0.5, one sample at a time. */
  double phase = 0.0;
  for (int n = 0; n < rate; ++n) {
    libtembra_update(engine, (float)(0.5 * sin(phase)));
    phase = fmod(phase + 6.283185307179586 * freq / rate, 6.283185307179586);
  }

  /* The latest readouts: amplitude and frequency of every resonator. */
  float amplitude[NUM_RESONATORS], frequency[NUM_RESONATORS], natural[NUM_RESONATORS];
  libtembra_get_buffers(engine, amplitude, frequency, NULL);
  libtembra_get_natural_frequencies(engine, natural);
  int best = 0;
  for (int k = 1; k < NUM_RESONATORS; ++k) {
    if (amplitude[k] > amplitude[best]) {
      best = k;
    }
  }
  printf("tone %.2f Hz: resonator %d (natural %.2f Hz) tracks %.2f Hz at amplitude %.3f\n",
         freq, best, natural[best], frequency[best], amplitude[best]);
  libtembra_free(engine);
  return 0;
}
