/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* libquivex: the effect engine.
 *
 * Turns a mono buffer, in place, into its analysed, modulated and
 * resynthesised counterpart: 112 tracking resonators on a mel grid from
 * 20 Hz to 20 kHz analyse every sample, three "shake" LFOs modulate the
 * amplitudes, the frequencies and the smoothing time of the amplitudes,
 * and 112 gliding oscillators resynthesise the result, times the gain.
 *
 * Setters store their value unchanged; it is read from the next
 * libquivex_next_buffer on (_freq at the start of a buffer, everything
 * else at every sample). With every setter within these ranges the output
 * stays finite for any input (tests sweep each range):
 *   gain      |g| up to 1e20 (input is held within +-1e6 and the
 *             resynthesis of 112 resonators stays below about 1e15)
 *   *_amount  0 to 1 (dry to wet) for the three shake LFOs
 *   *_mod     0 to 1 (square wave at 0, cosine at 0.5, flat at 1); below 0
 *             the shaping curve takes the logarithm of a negative number
 *             and above 1 raises 0 to a negative power: NaN or infinity
 *   *_freq    -srate to srate Hz (0 holds the LFO's phase, negative runs
 *             it backwards); faster rates leave the phase outside one turn
 *   amplitude LFO *_amp: |amp| up to 1e6 (amplitudes are scaled by
 *             1 - amount + amount * lfo, lfo within +-amp)
 *   frequency LFO *_amp: natural-log units, ln 2 is one octave; |amp| up
 *             to 20 (frequencies are scaled by up to e^amp; beyond about
 *             88 the factor overflows float)
 *   time LFO *_amp: any finite value (smoothing times at or below 0 mean
 *             no smoothing; huge ones hold the amplitudes)
 * NaN or infinity in any of the shake setters is not safe and, once it
 * reaches the state, stays there.
 * The twelve *_range_* setters are stored and advanced but change nothing.
 *
 * Threads: _new and _free allocate (and call rand()); setters and
 * libquivex_next_buffer run on the audio thread, allocate nothing, take no
 * locks and make no system calls, and must not overlap on one engine. */
#ifndef QUIVEX_LIBQUIVEX_H
#define QUIVEX_LIBQUIVEX_H

#include "quivex_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _libquivex* libquivex;

/* A new engine for srate Hz. Returns NULL when memory runs out (nothing is
 * leaked), for a zero sample rate and on a processor without the build's
 * level (x86-64-v3: AVX2, FMA, BMI2 ...). */
QUIVEX_API libquivex libquivex_new(unsigned long srate) QUIVEX_NOEXCEPT;

/* Destroys the engine and everything it owns. NULL is harmless. */
QUIVEX_API void libquivex_free(libquivex lr) QUIVEX_NOEXCEPT;

/* Processes the first nsamps samples of buf in place. nsamps <= 0 leaves
 * buf and the LFO phases alone. Non-finite input samples are read as 0,
 * samples beyond +-1e6 as +-1e6 (the resonators square their input, which
 * would overflow float from about 1e19 on).
 * Audio thread. */
QUIVEX_API void libquivex_next_buffer(libquivex lr, float* buf, int nsamps) QUIVEX_NOEXCEPT;

/* Linear output gain. A new gain does not apply in full from the next
 * sample, which would click: the gain in use glides to it in a straight
 * line over 10 ms of samples (LIBQUIVEX_GAIN_GLIDE_MS), across buffers,
 * and a newer gain restarts the glide from where it is. The first buffer
 * after _new (or after a restart) starts at the gain set, and a gain that
 * stays constant multiplies every sample by exactly itself. A NaN or
 * infinite gain, or a glide that would overflow, applies at once. */
QUIVEX_API void libquivex_set_gain(libquivex lr, float g) QUIVEX_NOEXCEPT;
#define LIBQUIVEX_GAIN_GLIDE_MS 10

/* Number of resonators, the length of every array below (112). */
#define LIBQUIVEX_NUM_RESONATORS 112

/* What the engine analysed and resynthesised at the last sample it
 * processed, for a display: the analysed amplitudes (linear) and
 * frequencies (Hz) of the 112 resonators, and the amplitudes and
 * frequencies after the shake stages, which the oscillators play. Each
 * pointer may be NULL; the others receive LIBQUIVEX_NUM_RESONATORS floats.
 * Returns how many resonators, from the lowest, are audible: those above
 * half the sample rate are kept silent. Before the first sample every value
 * is 0. Changes nothing the engine computes. Audio thread (between
 * buffers): no allocation, but it reads the whole analysis again, so call it
 * once per display frame, not per sample. */
QUIVEX_API int libquivex_get_partials(libquivex lr, float* analysed_amps, float* analysed_freqs,
                                      float* shaken_amps, float* shaken_freqs) QUIVEX_NOEXCEPT;

/* The current values of the three shake LFOs, into values[0] (amplitude,
 * within +-depth), values[1] (frequency, natural-log units, within
 * +-depth) and values[2] (time, within 0 .. depth): what the next sample's
 * shake stages will use. Audio thread, no allocation. */
QUIVEX_API void libquivex_get_lfo_values(libquivex lr, float* values) QUIVEX_NOEXCEPT;

/* Index of each shake LFO for libquivex_lfo_wave. */
#define LIBQUIVEX_LFO_AMP 0
#define LIBQUIVEX_LFO_FREQ 1
#define LIBQUIVEX_LFO_TIME 2

/* One cycle of shake LFO `lfo` (LIBQUIVEX_LFO_AMP, _FREQ or _TIME) with
 * depth amp and shape mod (0 to 1, as the setters take them): out[k] is
 * the value the engine computes at phase 2 pi k / n, for k from 0 to n - 1
 * (the engine's own LFO functions, not a copy). Does nothing for n <= 0 or
 * another lfo. Any thread; no engine needed. */
QUIVEX_API void libquivex_lfo_wave(int lfo, float amp, float mod, float* out, int n) QUIVEX_NOEXCEPT;

/* Sets the phase of shake LFO `lfo` (LIBQUIVEX_LFO_AMP, _FREQ or _TIME) to
 * `phase` radians, the phase the next sample uses; 0 is the top of the
 * wave, where a new engine starts. A phase outside [0, 2 pi) is taken
 * modulo one turn in double, and one that rounds to 2 pi in float becomes
 * 0. A NaN or infinite phase, or another lfo, changes nothing. A caller
 * that keeps an LFO's phase in double (locked to a host's song position,
 * say) sets it here at the start of each buffer; within the buffer the
 * engine advances it by its rate as usual. Audio thread, between buffers;
 * no allocation. */
QUIVEX_API void libquivex_set_lfo_phase(libquivex lr, int lfo, double phase) QUIVEX_NOEXCEPT;

/* The current phases of the three shake LFOs, radians in [0, 2 pi), into
 * phases[0] (amplitude), phases[1] (frequency) and phases[2] (time): the
 * phases the next sample uses. Audio thread, no allocation. */
QUIVEX_API void libquivex_get_lfo_phases(libquivex lr, float* phases) QUIVEX_NOEXCEPT;

/* Stereo.
 *
 * One engine can resynthesise its analysis into two outputs, each partial
 * weighted by a gain of its own in each output (a place in the stereo
 * field), and a second engine can shake the first one's analysis with its
 * LFOs at a phase of their own (a stereo tremolo or vibrato). */

/* Each partial's gain in the left and in the right output of
 * libquivex_next_buffer_stereo and _pair: LIBQUIVEX_NUM_RESONATORS floats
 * each, copied; a gain that is not finite counts as 0. Until set, every
 * gain is 1. Like the output gain, new gains do not apply at once: the
 * gains in use glide to them in a straight line over
 * LIBQUIVEX_GAIN_GLIDE_MS; the first stereo buffer after _new (or a
 * restart) starts at the gains set. Gains set bit for bit again change
 * nothing. Audio thread, between buffers; no allocation. */
QUIVEX_API void libquivex_set_partial_gains(libquivex lr, const float* left,
                                            const float* right) QUIVEX_NOEXCEPT;

/* As libquivex_next_buffer, with two outputs: the first nsamps samples of
 * `in` are analysed, shaken and resynthesised once, and each output sums
 * the oscillators weighted by its partial gains, times the output gain.
 * With every partial gain exactly 1 each output is what
 * libquivex_next_buffer makes of `in`, bit for bit. `in` may be out_l or
 * out_r (each sample is read before it is written). Audio thread. */
QUIVEX_API void libquivex_next_buffer_stereo(libquivex lr, const float* in, float* out_l, float* out_r,
                                             int nsamps) QUIVEX_NOEXCEPT;

/* Two shake paths on one analysis. lr analyses `in`, shakes and
 * resynthesises it into out_l, weighted by its left partial gains; `right`
 * (another engine at the same rate) takes lr's analysis of each sample,
 * shakes it with its own LFOs and time filter, and resynthesises it with
 * its own oscillators into out_r, weighted by its right partial gains.
 * `right`'s own analysis is not run. Set `right`'s controls as lr's and
 * its LFO phases with libquivex_follow_lfos. Audio thread. */
QUIVEX_API void libquivex_next_buffer_pair(libquivex lr, libquivex right, const float* in, float* out_l,
                                           float* out_r, int nsamps) QUIVEX_NOEXCEPT;

/* Gives lr's three shake LFOs leader's rates and leader's phases plus
 * `offset` radians (exactly leader's at offset 0, else as
 * libquivex_set_lfo_phase takes them): the two then run `offset` apart.
 * Call it at the start of each buffer. Audio thread, between buffers. */
QUIVEX_API void libquivex_follow_lfos(libquivex lr, libquivex leader, double offset) QUIVEX_NOEXCEPT;

/* Gives lr the random phase offsets of `source`'s resonator engines (the
 * engines draw them from rand() when created): lr then resynthesises each
 * partial at the phase `source` does, so that a second channel folds to
 * mono without cancelling, and lr's output for a signal is `source`'s, bit
 * for bit, from the same state. Both engines at the same rate. No
 * allocation. */
QUIVEX_API void libquivex_share_phase_offsets(libquivex lr, libquivex source) QUIVEX_NOEXCEPT;

/* Amplitude shake LFO: depth, rate (Hz), dry/wet fraction, shape. */
QUIVEX_API void libquivex_set_lfo_amp_amp(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_amp_freq(libquivex lr, float f) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_amp_amount(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_amp_mod(libquivex lr, float m) QUIVEX_NOEXCEPT;

/* Frequency shake LFO: depth (natural-log units), rate, dry/wet, shape. */
QUIVEX_API void libquivex_set_lfo_freq_amp(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_freq(libquivex lr, float f) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_amount(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_mod(libquivex lr, float m) QUIVEX_NOEXCEPT;

/* Time shake LFO: depth (fraction of a 0.1 ms to 10 s smoothing time),
 * rate, dry/wet, shape. */
QUIVEX_API void libquivex_set_lfo_time_amp(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_freq(libquivex lr, float f) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_amount(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_mod(libquivex lr, float m) QUIVEX_NOEXCEPT;

/* The three range LFOs: stored and advanced, read by no stage. */
QUIVEX_API void libquivex_set_lfo_amp_range_amp(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_amp_range_freq(libquivex lr, float f) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_amp_range_amount(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_amp_range_mod(libquivex lr, float m) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_range_amp(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_range_freq(libquivex lr, float f) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_range_amount(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_freq_range_mod(libquivex lr, float m) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_range_amp(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_range_freq(libquivex lr, float f) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_range_amount(libquivex lr, float a) QUIVEX_NOEXCEPT;
QUIVEX_API void libquivex_set_lfo_time_range_mod(libquivex lr, float m) QUIVEX_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUIVEX_LIBQUIVEX_H */
