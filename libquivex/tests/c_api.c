/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Compiled as strict C11 with warnings as errors: every public header of
 * libquivex must be valid C, and the API must be usable from C. */
#include <quivex/ewma.h>
#include <quivex/filter_time.h>
#include <quivex/libquivex.h>
#include <quivex/quivex_api.h>
#include <quivex/sigmoid.h>

#include <math.h>
#include <stddef.h>

int quivex_c_api_roundtrip(void);

/* Runs the effect on a 440 Hz tone with the amplitude LFO active; returns 1
 * when the output is finite and not silent. */
int quivex_c_api_roundtrip(void) {
  libquivex q = libquivex_new(48000);
  if (q == NULL) return 0;
  libquivex_set_lfo_amp_amp(q, 1.0f);
  libquivex_set_lfo_amp_freq(q, 3.0f);
  libquivex_set_lfo_amp_amount(q, 0.5f);
  float buf[256];
  double energy = 0.0;
  int finite = 1;
  for (int b = 0; b < 20; ++b) {
    for (int n = 0; n < 256; ++n)
      buf[n] = (float)(0.5 * sin(6.283185307179586 * 440.0 * (b * 256 + n) / 48000.0));
    libquivex_next_buffer(q, buf, 256);
    for (int n = 0; n < 256; ++n) {
      if (!isfinite(buf[n])) finite = 0;
      energy += (double)buf[n] * buf[n];
    }
  }
  libquivex_free(q);
  libquivex_free(NULL);
  return finite && energy > 0.0 && sigmoid(0.5, 0.3) == 0.5 && ewma_ms_to_alpha(48000, 0.0f) == 0.0f;
}
