/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Compiled as strict C11 with warnings as errors: every public header of
 * libtembra must be valid C, and the API must be usable from C. */
#include <tembra/damp_oscillator_bank_vec.h>
#include <tembra/libtembra.h>
#include <tembra/mel.h>
#include <tembra/oscillator_bank_vec.h>
#include <tembra/tembra_api.h>
#include <tembra/tracking_resonator_bank_vec.h>

#include <math.h>
#include <stddef.h>

int tembra_c_api_roundtrip(void);

/* Analyses and resynthesises a 1 kHz tone from C; returns 1 when the
 * resynthesis is finite and not silent. */
int tembra_c_api_roundtrip(void) {
  libtembra lr = libtembra_new(48000, 16, 20.0f, 20000.0f, LIBTEMBRA_MEL_SCALE | LIBTEMBRA_DAMP_OSC);
  if (lr == NULL) return 0;
  float ai[16], fi[16], pi[16];
  double energy = 0.0;
  int finite = 1;
  for (int n = 0; n < 4800; ++n) {
    float x = (float)(0.5 * sin(6.283185307179586 * 1000.0 * n / 48000.0));
    libtembra_update(lr, x);
    libtembra_get_buffers(lr, ai, fi, pi);
    libtembra_update_synth(lr, ai, fi, pi);
    float y = libtembra_get_synth(lr);
    if (!isfinite(y)) finite = 0;
    energy += (double)y * y;
  }
  libtembra_free(lr);
  libtembra_free(NULL);
  return finite && energy > 0.0 && hz_to_mel(0.0f) == 0.0f;
}
