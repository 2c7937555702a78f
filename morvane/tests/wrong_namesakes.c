/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* A library a host might load first, defining functions with the names of
 * morvane's exported helpers and engine calls but other behaviour: each one
 * that the plug-in used instead of its own would change or silence its
 * output. Preloaded (LD_PRELOAD) by hijack_through_lv2apply.sh. */
#include <string.h>

#include <quivex/ewma.h>
#include <quivex/filter_time.h>
#include <quivex/libquivex.h>
#include <tembra/libtembra.h>
#include <tembra/mel.h>

#include "decibel.h"

float amp_to_db(float amp) { (void)amp; return -1000.0f; }
float db_to_amp(float db) { (void)db; return 0.0f; }
float hz_to_mel(float hz) { (void)hz; return 0.0f; }
float mel_to_hz(float mel) { (void)mel; return 0.0f; }
float ewma_ms_to_alpha(int srate, float ms) { (void)srate; (void)ms; return 0.999f; }

void compute_mel_frequencies(int num_freqs, float* freqs, float min_freq, float max_freq)
{
  (void)min_freq;
  (void)max_freq;
  for (int i = 0; i < num_freqs; ++i) {
    freqs[i] = 1000.0f;
  }
}

void libtembra_update(libtembra lr, float sample) { (void)lr; (void)sample; }
void libquivex_set_gain(libquivex lr, float gain) { (void)lr; (void)gain; }
void filter_time_process(filter_time f, float* buf) { (void)f; (void)buf; }

void libquivex_next_buffer(libquivex lr, float* buf, int nsamps)
{
  (void)lr;
  if (nsamps > 0) {
    memset(buf, 0, (size_t)nsamps * sizeof(float));
  }
}
