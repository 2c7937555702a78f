/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Prints, for docs/make-pictures, how the resonator engine's analysis
 * follows a sine sweep: a 3 s exponential sweep from 100 Hz to 3200 Hz at
 * 48 kHz into an engine set up as the effect sets up its analysis (112
 * resonators on the mel grid from 20 Hz to 20 kHz, range limiting on).
 * Every 10 ms it prints "time sweep_hz" and then, for each resonator, its
 * frequency readout (Hz) and amplitude readout. The first line lists the
 * resonators' natural frequencies. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <tembra/libtembra.h>

#define RATE 48000
#define NUM_RESO 112

int main(void)
{
  libtembra engine = libtembra_new(RATE, NUM_RESO, 20.0f, 20000.0f,
                                   LIBTEMBRA_MEL_SCALE | LIBTEMBRA_LIMIT_RESO_RANGE);
  if (!engine) {
    fprintf(stderr, "tracking_sweep: out of memory\n");
    return 1;
  }
  float natural[NUM_RESO], ai[NUM_RESO], fi[NUM_RESO];
  libtembra_get_natural_frequencies(engine, natural);
  printf("natural");
  for (int k = 0; k < NUM_RESO; ++k) {
    printf(" %.3f", natural[k]);
  }
  printf("\n");

  const double seconds = 3.0, f0 = 100.0, f1 = 3200.0;
  const double growth = log(f1 / f0) / seconds;
  double phase = 0.0;
  const int total = (int)(seconds * RATE), every = RATE / 100;
  for (int n = 0; n < total; ++n) {
    const double t = (double)n / RATE;
    const double f = f0 * exp(growth * t);
    phase += 6.283185307179586 * f / RATE;
    libtembra_update(engine, (float)(0.5 * sin(phase)));
    if (n % every == every - 1) {
      libtembra_get_buffers(engine, ai, fi, NULL);
      printf("%.4f %.3f", t, f);
      for (int k = 0; k < NUM_RESO; ++k) {
        printf(" %.3f %.6f", fi[k], ai[k]);
      }
      printf("\n");
    }
  }
  libtembra_free(engine);
  return 0;
}
