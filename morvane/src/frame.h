/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* What the plug-in and its window say to each other through the two atom
 * ports, 29 (control) and 30 (notify).
 *
 * The window sends, on the `control` port (an atom:Sequence input), an
 * atom:Object of type WindowOpen when it opens and WindowClosed when it
 * closes. While a window is open, `run` writes on the `notify` port (an
 * atom:Sequence output) at most one frame per 1/30 s of audio and per run:
 * an atom:Object of type Frame whose properties are atom:Vectors of floats
 * (the 112 analysed and the 112 shaken amplitudes and frequencies, the
 * three shake LFOs' values and phases) and atom:Floats / atom:Ints (the
 * output's peak since the last frame, the sample rate, the number of
 * audible resonators, the host's tempo and whether its transport rolls).
 * The stereo plug-in's frames add its mode and width and, in Left / Right,
 * the right channel's four vectors of partials; the mono plug-in's frames
 * carry none of these. Both sides write and read them with these
 * functions, so the two cannot disagree. */
#ifndef MORVANE_FRAME_H
#define MORVANE_FRAME_H

#include <cstdint>

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>

#include "morvane.h"

/* Resonators in the engine and shake LFOs in a frame. */
constexpr int MORVANE_NUM_PARTIALS = 112;
constexpr int MORVANE_NUM_SHAKE_LFOS = 3;

#define MORVANE_URI_PREFIX MORVANE_URI "#"
#define MORVANE__Frame MORVANE_URI_PREFIX "Frame"
#define MORVANE__WindowOpen MORVANE_URI_PREFIX "WindowOpen"
#define MORVANE__WindowClosed MORVANE_URI_PREFIX "WindowClosed"
#define MORVANE__analysedAmplitudes MORVANE_URI_PREFIX "analysedAmplitudes"
#define MORVANE__analysedFrequencies MORVANE_URI_PREFIX "analysedFrequencies"
#define MORVANE__shakenAmplitudes MORVANE_URI_PREFIX "shakenAmplitudes"
#define MORVANE__shakenFrequencies MORVANE_URI_PREFIX "shakenFrequencies"
#define MORVANE__lfoValues MORVANE_URI_PREFIX "lfoValues"
#define MORVANE__outputPeak MORVANE_URI_PREFIX "outputPeak"
#define MORVANE__sampleRate MORVANE_URI_PREFIX "sampleRate"
#define MORVANE__audibleResonators MORVANE_URI_PREFIX "audibleResonators"
#define MORVANE__lfoPhases MORVANE_URI_PREFIX "lfoPhases"
#define MORVANE__songTempo MORVANE_URI_PREFIX "songTempo"
#define MORVANE__transport MORVANE_URI_PREFIX "transport"
#define MORVANE__stereoMode MORVANE_URI_PREFIX "stereoMode"
#define MORVANE__width MORVANE_URI_PREFIX "width"
#define MORVANE__rightAnalysedAmplitudes MORVANE_URI_PREFIX "rightAnalysedAmplitudes"
#define MORVANE__rightAnalysedFrequencies MORVANE_URI_PREFIX "rightAnalysedFrequencies"
#define MORVANE__rightShakenAmplitudes MORVANE_URI_PREFIX "rightShakenAmplitudes"
#define MORVANE__rightShakenFrequencies MORVANE_URI_PREFIX "rightShakenFrequencies"

/* The URIDs both sides need, mapped once at instantiation. */
struct morvane_uris {
  LV2_URID _atom_Object;
  LV2_URID _atom_Vector;
  LV2_URID _atom_Float;
  LV2_URID _atom_Int;
  LV2_URID _atom_Sequence;
  LV2_URID _atom_eventTransfer;
  LV2_URID _frame;
  LV2_URID _window_open;
  LV2_URID _window_closed;
  LV2_URID _analysed_amplitudes;
  LV2_URID _analysed_frequencies;
  LV2_URID _shaken_amplitudes;
  LV2_URID _shaken_frequencies;
  LV2_URID _lfo_values;
  LV2_URID _output_peak;
  LV2_URID _sample_rate;
  LV2_URID _audible_resonators;
  LV2_URID _lfo_phases;
  LV2_URID _song_tempo;
  LV2_URID _transport;
  LV2_URID _stereo_mode;
  LV2_URID _width;
  LV2_URID _right_analysed_amplitudes;
  LV2_URID _right_analysed_frequencies;
  LV2_URID _right_shaken_amplitudes;
  LV2_URID _right_shaken_frequencies;
};

/* What a frame says of the host's transport. */
enum morvane_transport {
  MORVANE_TRANSPORT_UNKNOWN = 0,  // no song position since the plug-in was activated
  MORVANE_TRANSPORT_STOPPED = 1,
  MORVANE_TRANSPORT_ROLLING = 2,
};

/* Which plug-in a frame comes from and how its channels go: zero for the
 * mono plug-in, so that a frame made without a word of stereo is a mono
 * one. On the wire the stereo plug-in's stereoMode property holds the
 * mode control's value (MORVANE_STEREO_MID or _LEFT_RIGHT): the mode its
 * engines play in, which follows the control after a short fade. */
enum morvane_frame_stereo {
  MORVANE_FRAME_MONO = 0,
  MORVANE_FRAME_MID = 1,         // one analysis, partial k at pan (-1)^(k+1) * width
  MORVANE_FRAME_LEFT_RIGHT = 2,  // each channel analysed apart: the _right_ vectors hold the right one
};

/* One frame: what the engine analysed and what it resynthesises after the
 * last sample of a run, the shake LFOs' values, the output's peak. */
struct morvane_frame {
  float _analysed_amps[MORVANE_NUM_PARTIALS];   // linear amplitude
  float _analysed_freqs[MORVANE_NUM_PARTIALS];  // Hz
  float _shaken_amps[MORVANE_NUM_PARTIALS];     // after the shake stages
  float _shaken_freqs[MORVANE_NUM_PARTIALS];
  float _lfo_values[MORVANE_NUM_SHAKE_LFOS];    // amplitude, frequency, time
  float _output_peak;                           // largest |sample| since the last frame
  float _sample_rate;                           // Hz
  int32_t _audible;  // resonators below Nyquist; those from here on are kept silent
  float _lfo_phases[MORVANE_NUM_SHAKE_LFOS];    // radians in [0, 2 pi), 0 the wave's top
  float _song_tempo;                            // the host's tempo, beats a minute (120 until it says)
  int32_t _transport;                           // morvane_transport
  int32_t _stereo;                              // morvane_frame_stereo
  float _width;                                 // the stereo plug-in's Width, % (0 in mono frames)
  // In Left / Right, the right channel's engine as the four above are the
  // left one's (its audible count is theirs: one sample rate); otherwise
  // not sent, and whatever they held before.
  float _right_analysed_amps[MORVANE_NUM_PARTIALS];
  float _right_analysed_freqs[MORVANE_NUM_PARTIALS];
  float _right_shaken_amps[MORVANE_NUM_PARTIALS];
  float _right_shaken_freqs[MORVANE_NUM_PARTIALS];
  // Not sent to the window: the plug-in numbers the snapshots it hands to
  // another thread and sums their values, so that a reader can tell a whole
  // snapshot from one written while it read.
  uint32_t _sequence;  // 1, 2, ... in the order filled
  uint32_t _checksum;  // morvane_frame_checksum of the fields above
};

/* 32-bit FNV-1a over the bytes of every field before _sequence. */
uint32_t morvane_frame_checksum(const morvane_frame* frame) noexcept;

/* Maps every URI of morvane_uris with the host's map. */
void morvane_map_uris(morvane_uris* uris, const LV2_URID_Map* map) noexcept;

/* Bytes a frame of kind `stereo` (morvane_frame_stereo) takes as an event
 * of a sequence (event header included). The largest, Left / Right, fits
 * with its sequence's header in the notify port's declared minimum size. */
uint32_t morvane_frame_event_size(int32_t stereo = MORVANE_FRAME_MONO) noexcept;

/* Writes `frame` as an atom:Object at the forge's position; the caller has
 * checked that morvane_frame_event_size(frame->_stereo) bytes are free.
 * Returns false if the forge ran out of room. Real-time safe. */
bool morvane_frame_forge(LV2_Atom_Forge* forge, const morvane_uris* uris,
                         const morvane_frame* frame) noexcept;

/* Reads a frame from `size` bytes at `atom`. Every length is checked
 * against `size`; returns false, leaving *frame partly written, for
 * anything that is not a whole frame (a stereo frame needs its width, and
 * in Left / Right its four right vectors). A frame without stereoMode is a
 * mono one (_stereo MORVANE_FRAME_MONO, _width 0). Values are copied as
 * they are, NaN included: readers decide what to draw. */
bool morvane_frame_read(const morvane_uris* uris, const void* atom, uint32_t size,
                        morvane_frame* frame) noexcept;

/* The window's message: an atom:Object of type WindowOpen (open true) or
 * WindowClosed, written into buf (at least 16 bytes). Returns its size. */
uint32_t morvane_window_message(const morvane_uris* uris, bool open, void* buf,
                                uint32_t capacity) noexcept;

/* What an atom of `size` bytes at `atom` says: 1 for WindowOpen, 0 for
 * WindowClosed, -1 for anything else (another type, too short, garbage). */
int morvane_window_message_read(const morvane_uris* uris, const void* atom, uint32_t size) noexcept;

#endif /* MORVANE_FRAME_H */
