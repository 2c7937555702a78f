/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A program of a user who links the installed effect engine: a 440 Hz
 * tone through libquivex at 48 kHz; prints the RMS of the second half and
 * fails when the engine cannot be created or the output is silent. Built
 * by the install tests (tree and Debian packages) through pkg-config. */
#include <math.h>
#include <stdio.h>
#include <quivex/libquivex.h>
int main(void)
{
  float buf[4800];
  for (int i = 0; i < 4800; ++i) buf[i] = (float)(0.5 * sin(0.0576 * i));
  libquivex q = libquivex_new(48000);
  if (!q) return 1;
  libquivex_set_gain(q, 1.0f);
  libquivex_next_buffer(q, buf, 4800);
  double e = 0.0;
  for (int i = 2400; i < 4800; ++i) e += (double)buf[i] * buf[i];
  libquivex_free(q);
  printf("rms %.4f\n", sqrt(e / 2400.0));
  return e > 0.0 ? 0 : 1;
}
