/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* The effect engine's record, shared by its sources (libquivex.cpp and the
 * shake stages, shake.cpp and shake_time.cpp) and by the unit tests;
 * nothing else may depend on its layout. */
#ifndef QUIVEX_LIBQUIVEX_INTERNAL_H
#define QUIVEX_LIBQUIVEX_INTERNAL_H

#include <tembra/libtembra.h>

#include "filter_time.h"
#include "lfo.h"
#include "libquivex.h"
#include "simd_path.h"

/* Index of each LFO in the engine's table. Only the first three drive a
 * stage; the range entries are stored and advanced but read by nothing. */
enum {
    LFO_SHAKE_AMP = 0,
    LFO_SHAKE_FREQ = 1,
    LFO_SHAKE_TIME = 2,
    LFO_AMP_RANGE = 3,
    LFO_FREQ_RANGE = 4,
    LFO_TIME_RANGE = 5,
    NUM_LFOS = 6
};

struct _libquivex {
    tembra_simd::Path _path;  // vector path of the shake stages' kernels, chosen at creation
    unsigned long _srate;  // sample rate, Hz; converted to int where used
    float _gain;           // linear output gain, as set: the glide's target
    // The gain in use glides to _gain (see libquivex_set_gain): the gain the
    // glide started from, the target it was started for, and the samples
    // it still has to go (0: _gain applies as it is).
    float _gain_from;
    float _gain_to;
    int _gain_glide_left;
    int _gain_glide_len;   // samples of a whole glide at this rate
    int _gain_started;     // 0 until the first buffer after _new or a restart
    int _num_reso;         // resonators per engine, length of every array
    libtembra _lr0;        // analysis engine
    libtembra _lr1;        // resynthesis engine
    float* _ai_buf;        // amplitudes, between analysis and resynthesis
    float* _fi_buf;        // frequencies, Hz
    float* _pi_buf;        // phases, radians
    lfo _lfos[NUM_LFOS];
    filter_time _filter;   // smooths the amplitudes along time
    float* _alphas;        // the filter's per-resonator coefficients
    float* _tmp_buf;       // amplitudes before smoothing (the dry copy)
    // The time stage's coefficients depend only on the time LFO's value (and
    // the rate and size): they are recomputed only when it changes.
    int _alphas_valid;     // nonzero once _alphas holds the values for:
    int _alphas_size;      // the size and
    float _alphas_lfo_val; // the LFO value they were computed for
    float* _time_t;        // k / (_num_reso - 1) for each resonator k, or NULL
    int _num_audible;      // resonators below half the sample rate; those
                           // above it (at rates below 40 kHz) stay silent
    // The three shake LFOs' values are a function of their phases, shapes
    // and depths (and the floating-point mode): while those keep their bits
    // (LFOs at rest, the default), the values are not evaluated again.
    float _lfo_key[9];     // phase, _mod and _amp of each shake LFO
    unsigned _lfo_key_mode; // the MXCSR mode bits, or ~0 before the first
    float _lfo_vals[3];    // amplitude, frequency and time LFO values
    // Stereo: each partial's weight in the left and the right output. The
    // weights as last set, those in use, and where a glide between them
    // started; the weights in use glide like the gain, over _gain_glide_len
    // samples (0 left: in use = as set).
    float* _weights_set[2];
    float* _weights[2];
    float* _weights_from[2];
    int _weights_glide_left;
    int _weights_started;  // 0 until the first stereo buffer after _new or a restart
    int _weights_changed;  // set since the last stereo buffer
};

#endif /* QUIVEX_LIBQUIVEX_INTERNAL_H */
