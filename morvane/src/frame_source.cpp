// SPDX-License-Identifier: LGPL-2.1-or-later
// The frames of the window and of the inline display (see frame_source.h).
#include "frame_source.h"

#include <algorithm>
#include <cmath>

#include "song_lock.h"
#include "stereo_field.h"

void frame_source_init(frame_source* source, double rate, uint32_t frames_per_second,
                       const song_lock* song) noexcept
{
  *source = frame_source{};
  source->_rate = rate;
  source->_song = song;
  source->_interval = static_cast<uint32_t>(std::max(1.0, rate / frames_per_second));
  source->_since = source->_interval;
}

void frame_source_restart(frame_source* source) noexcept
{
  source->_since = source->_interval;
  source->_peak = 0.0f;
}

bool frame_source_advance(frame_source* source, float run_peak, uint32_t n_samples) noexcept
{
  source->_peak = std::fmax(source->_peak, run_peak);
  source->_since = source->_since > UINT32_MAX - n_samples ? UINT32_MAX : source->_since + n_samples;
  return source->_since >= source->_interval;
}

int32_t frame_source_stereo(const stereo_field* field) noexcept
{
  if (field == nullptr) {
    return MORVANE_FRAME_MONO;
  }
  return field->_road == stereo_road::LEFT_RIGHT ? MORVANE_FRAME_LEFT_RIGHT : MORVANE_FRAME_MID;
}

void frame_source_fill(frame_source* source, libquivex engine, const stereo_field* field,
                       morvane_frame* frame) noexcept
{
  frame->_audible = libquivex_get_partials(engine, frame->_analysed_amps, frame->_analysed_freqs,
                                           frame->_shaken_amps, frame->_shaken_freqs);
  // The stereo part; a mono frame keeps the zeros it was made with. Both
  // engines run at one rate: the right one's audible count is the left's.
  frame->_stereo = frame_source_stereo(field);
  if (field != nullptr) {
    // The width the engines' gains were last set for (NaN before any run).
    frame->_width = std::isnan(field->_width_bits) ? 0.0f : field->_width_bits;
    if (frame->_stereo == MORVANE_FRAME_LEFT_RIGHT) {
      libquivex_get_partials(field->_right, frame->_right_analysed_amps, frame->_right_analysed_freqs,
                             frame->_right_shaken_amps, frame->_right_shaken_freqs);
    }
  }
  libquivex_get_lfo_values(engine, frame->_lfo_values);
  frame->_output_peak = source->_peak;
  frame->_sample_rate = static_cast<float>(source->_rate);
  libquivex_get_lfo_phases(engine, frame->_lfo_phases);
  const song_position* song = source->_song != nullptr ? &source->_song->_song : nullptr;
  frame->_song_tempo = static_cast<float>(song != nullptr ? song->_bpm : MORVANE_DEFAULT_BPM);
  frame->_transport = song == nullptr || !song->_known ? MORVANE_TRANSPORT_UNKNOWN
                    : song_position_rolling(song)      ? MORVANE_TRANSPORT_ROLLING
                                                       : MORVANE_TRANSPORT_STOPPED;
  frame->_sequence = ++source->_sequence;
  frame->_checksum = morvane_frame_checksum(frame);
  source->_since = 0;
  source->_peak = 0.0f;
}

// NaN is never produced by the engine; fmax would pass over it anyway.
float morvane_buffer_peak(const float* out, uint32_t n) noexcept
{
  float peak = 0.0f;
  for (uint32_t i = 0; i < n; ++i) {
    peak = std::fmax(peak, std::fabs(out[i]));
  }
  return peak;
}
