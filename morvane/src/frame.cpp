// SPDX-License-Identifier: LGPL-2.1-or-later
// Writing and reading the frames and window messages of frame.h.
#include "frame.h"

#include "controls.h"

#include <cstddef>
#include <cstring>

#include <lv2/atom/util.h>

namespace {

// The properties morvane_frame_read has seen, a bit each: the eleven every
// frame has, then the stereo plug-in's.
constexpr unsigned MONO_SEEN = 2047u;
constexpr unsigned STEREO_MODE_SEEN = 0x1000u;
constexpr unsigned WIDTH_SEEN = 0x2000u;
constexpr unsigned RIGHT_SEEN = 0xf0000u;  // the right channel's four vectors

// A property's value as an atom:Vector of `count` floats.
bool forge_floats(LV2_Atom_Forge* forge, LV2_URID key, const morvane_uris* uris, const float* values,
                  uint32_t count)
{
  return lv2_atom_forge_key(forge, key) &&
         lv2_atom_forge_vector(forge, sizeof(float), uris->_atom_Float, count, values);
}

// The stereo plug-in's properties of `frame`: its mode and width and, in
// Left / Right, the right channel's four vectors.
bool forge_stereo_part(LV2_Atom_Forge* forge, const morvane_uris* uris, const morvane_frame* frame)
{
  const bool left_right = frame->_stereo == MORVANE_FRAME_LEFT_RIGHT;
  if (!lv2_atom_forge_key(forge, uris->_stereo_mode) ||
      !lv2_atom_forge_int(forge, left_right ? MORVANE_STEREO_LEFT_RIGHT : MORVANE_STEREO_MID) ||
      !lv2_atom_forge_key(forge, uris->_width) || !lv2_atom_forge_float(forge, frame->_width)) {
    return false;
  }
  return !left_right ||
         (forge_floats(forge, uris->_right_analysed_amplitudes, uris, frame->_right_analysed_amps,
                       MORVANE_NUM_PARTIALS) &&
          forge_floats(forge, uris->_right_analysed_frequencies, uris, frame->_right_analysed_freqs,
                       MORVANE_NUM_PARTIALS) &&
          forge_floats(forge, uris->_right_shaken_amplitudes, uris, frame->_right_shaken_amps, MORVANE_NUM_PARTIALS) &&
          forge_floats(forge, uris->_right_shaken_frequencies, uris, frame->_right_shaken_freqs,
                       MORVANE_NUM_PARTIALS));
}

// The float vector `value` of `count` floats into out; false if it is not one.
bool read_floats(const morvane_uris* uris, const LV2_Atom* value, float* out, uint32_t count)
{
  if (value->type != uris->_atom_Vector || value->size < sizeof(LV2_Atom_Vector_Body)) {
    return false;
  }
  const auto* vec = reinterpret_cast<const LV2_Atom_Vector*>(value);
  if (vec->body.child_type != uris->_atom_Float || vec->body.child_size != sizeof(float) ||
      value->size != sizeof(LV2_Atom_Vector_Body) + count * sizeof(float)) {
    return false;
  }
  std::memcpy(out, vec + 1, count * sizeof(float));
  return true;
}

// The object at `atom`, if `size` bytes hold a whole atom:Object header.
const LV2_Atom_Object* object_at(const morvane_uris* uris, const void* atom, uint32_t size)
{
  if (atom == nullptr || size < sizeof(LV2_Atom_Object)) {
    return nullptr;
  }
  const auto* obj = static_cast<const LV2_Atom_Object*>(atom);
  if (obj->atom.type != uris->_atom_Object || obj->atom.size < sizeof(LV2_Atom_Object_Body) ||
      obj->atom.size > size - sizeof(LV2_Atom)) {
    return nullptr;
  }
  return obj;
}

}  // namespace

void morvane_map_uris(morvane_uris* uris, const LV2_URID_Map* map) noexcept
{
  LV2_URID_Map_Handle h = map->handle;
  uris->_atom_Object = map->map(h, LV2_ATOM__Object);
  uris->_atom_Vector = map->map(h, LV2_ATOM__Vector);
  uris->_atom_Float = map->map(h, LV2_ATOM__Float);
  uris->_atom_Int = map->map(h, LV2_ATOM__Int);
  uris->_atom_Sequence = map->map(h, LV2_ATOM__Sequence);
  uris->_atom_eventTransfer = map->map(h, LV2_ATOM__eventTransfer);
  uris->_frame = map->map(h, MORVANE__Frame);
  uris->_window_open = map->map(h, MORVANE__WindowOpen);
  uris->_window_closed = map->map(h, MORVANE__WindowClosed);
  uris->_analysed_amplitudes = map->map(h, MORVANE__analysedAmplitudes);
  uris->_analysed_frequencies = map->map(h, MORVANE__analysedFrequencies);
  uris->_shaken_amplitudes = map->map(h, MORVANE__shakenAmplitudes);
  uris->_shaken_frequencies = map->map(h, MORVANE__shakenFrequencies);
  uris->_lfo_values = map->map(h, MORVANE__lfoValues);
  uris->_output_peak = map->map(h, MORVANE__outputPeak);
  uris->_sample_rate = map->map(h, MORVANE__sampleRate);
  uris->_audible_resonators = map->map(h, MORVANE__audibleResonators);
  uris->_lfo_phases = map->map(h, MORVANE__lfoPhases);
  uris->_song_tempo = map->map(h, MORVANE__songTempo);
  uris->_transport = map->map(h, MORVANE__transport);
  uris->_stereo_mode = map->map(h, MORVANE__stereoMode);
  uris->_width = map->map(h, MORVANE__width);
  uris->_right_analysed_amplitudes = map->map(h, MORVANE__rightAnalysedAmplitudes);
  uris->_right_analysed_frequencies = map->map(h, MORVANE__rightAnalysedFrequencies);
  uris->_right_shaken_amplitudes = map->map(h, MORVANE__rightShakenAmplitudes);
  uris->_right_shaken_frequencies = map->map(h, MORVANE__rightShakenFrequencies);
}

uint32_t morvane_frame_event_size(int32_t stereo) noexcept
{
  const auto padded = [](uint32_t n) { return lv2_atom_pad_size(n); };
  const uint32_t property = sizeof(LV2_Atom_Property_Body);
  const uint32_t vector = property + sizeof(LV2_Atom_Vector_Body);
  // Vectors of partials: four, eight with the right channel's.
  const uint32_t partial_vectors = stereo == MORVANE_FRAME_LEFT_RIGHT ? 8 : 4;
  // Single values: peak, rate, audible count, tempo, transport; the stereo
  // plug-in's mode and width.
  const uint32_t singles = stereo == MORVANE_FRAME_MONO ? 5 : 7;
  const uint32_t body = sizeof(LV2_Atom_Object_Body) +
                        partial_vectors * padded(vector + MORVANE_NUM_PARTIALS * sizeof(float)) +
                        2 * padded(vector + MORVANE_NUM_SHAKE_LFOS * sizeof(float)) +
                        singles * padded(property + sizeof(float));
  return sizeof(LV2_Atom_Event) + body;
}

bool morvane_frame_forge(LV2_Atom_Forge* forge, const morvane_uris* uris,
                         const morvane_frame* frame) noexcept
{
  LV2_Atom_Forge_Frame object;
  if (!lv2_atom_forge_object(forge, &object, 0, uris->_frame)) {
    return false;
  }
  const bool ok =
      forge_floats(forge, uris->_analysed_amplitudes, uris, frame->_analysed_amps, MORVANE_NUM_PARTIALS) &&
      forge_floats(forge, uris->_analysed_frequencies, uris, frame->_analysed_freqs, MORVANE_NUM_PARTIALS) &&
      forge_floats(forge, uris->_shaken_amplitudes, uris, frame->_shaken_amps, MORVANE_NUM_PARTIALS) &&
      forge_floats(forge, uris->_shaken_frequencies, uris, frame->_shaken_freqs, MORVANE_NUM_PARTIALS) &&
      forge_floats(forge, uris->_lfo_values, uris, frame->_lfo_values, MORVANE_NUM_SHAKE_LFOS) &&
      lv2_atom_forge_key(forge, uris->_output_peak) && lv2_atom_forge_float(forge, frame->_output_peak) &&
      lv2_atom_forge_key(forge, uris->_sample_rate) && lv2_atom_forge_float(forge, frame->_sample_rate) &&
      lv2_atom_forge_key(forge, uris->_audible_resonators) && lv2_atom_forge_int(forge, frame->_audible) &&
      forge_floats(forge, uris->_lfo_phases, uris, frame->_lfo_phases, MORVANE_NUM_SHAKE_LFOS) &&
      lv2_atom_forge_key(forge, uris->_song_tempo) && lv2_atom_forge_float(forge, frame->_song_tempo) &&
      lv2_atom_forge_key(forge, uris->_transport) && lv2_atom_forge_int(forge, frame->_transport);
  // The stereo plug-in's part: nothing of it in a mono frame, whose bytes
  // stay those the mono plug-in always sent.
  const bool stereo_ok = !ok || frame->_stereo == MORVANE_FRAME_MONO || forge_stereo_part(forge, uris, frame);
  lv2_atom_forge_pop(forge, &object);
  return ok && stereo_ok;
}

bool morvane_frame_read(const morvane_uris* uris, const void* atom, uint32_t size,
                        morvane_frame* frame) noexcept
{
  const LV2_Atom_Object* obj = object_at(uris, atom, size);
  if (obj == nullptr || obj->body.otype != uris->_frame) {
    return false;
  }
  // Walk the properties by hand: each must lie within the object.
  const auto* base = reinterpret_cast<const uint8_t*>(&obj->body);
  const uint32_t end = obj->atom.size;
  uint32_t offset = sizeof(LV2_Atom_Object_Body);
  unsigned seen = 0;
  int32_t stereo_mode = -1;  // the stereoMode property's value, -1 without one
  frame->_width = 0.0f;
  while (offset < end) {
    if (end - offset < sizeof(LV2_Atom_Property_Body)) {
      return false;
    }
    const auto* prop = reinterpret_cast<const LV2_Atom_Property_Body*>(base + offset);
    if (prop->value.size > end - offset - sizeof(LV2_Atom_Property_Body)) {
      return false;
    }
    const LV2_Atom* value = &prop->value;
    const LV2_URID key = prop->key;
    bool ok = true;
    if (key == uris->_analysed_amplitudes) {
      ok = read_floats(uris, value, frame->_analysed_amps, MORVANE_NUM_PARTIALS), seen |= 1u;
    } else if (key == uris->_analysed_frequencies) {
      ok = read_floats(uris, value, frame->_analysed_freqs, MORVANE_NUM_PARTIALS), seen |= 2u;
    } else if (key == uris->_shaken_amplitudes) {
      ok = read_floats(uris, value, frame->_shaken_amps, MORVANE_NUM_PARTIALS), seen |= 4u;
    } else if (key == uris->_shaken_frequencies) {
      ok = read_floats(uris, value, frame->_shaken_freqs, MORVANE_NUM_PARTIALS), seen |= 8u;
    } else if (key == uris->_lfo_values) {
      ok = read_floats(uris, value, frame->_lfo_values, MORVANE_NUM_SHAKE_LFOS), seen |= 16u;
    } else if (key == uris->_lfo_phases) {
      ok = read_floats(uris, value, frame->_lfo_phases, MORVANE_NUM_SHAKE_LFOS), seen |= 256u;
    } else if (key == uris->_output_peak || key == uris->_sample_rate || key == uris->_song_tempo) {
      ok = value->type == uris->_atom_Float && value->size == sizeof(float);
      float* to = key == uris->_output_peak ? &frame->_output_peak
                : key == uris->_sample_rate ? &frame->_sample_rate
                                            : &frame->_song_tempo;
      if (ok) {
        std::memcpy(to, value + 1, sizeof(float));
      }
      seen |= key == uris->_output_peak ? 32u : key == uris->_sample_rate ? 64u : 512u;
    } else if (key == uris->_audible_resonators || key == uris->_transport) {
      ok = value->type == uris->_atom_Int && value->size == sizeof(int32_t);
      if (ok) {
        std::memcpy(key == uris->_transport ? &frame->_transport : &frame->_audible, value + 1, sizeof(int32_t));
      }
      seen |= key == uris->_transport ? 1024u : 128u;
    } else if (key == uris->_stereo_mode) {
      ok = value->type == uris->_atom_Int && value->size == sizeof(int32_t);
      if (ok) {
        std::memcpy(&stereo_mode, value + 1, sizeof(int32_t));
      }
      seen |= STEREO_MODE_SEEN;
    } else if (key == uris->_width) {
      ok = value->type == uris->_atom_Float && value->size == sizeof(float);
      if (ok) {
        std::memcpy(&frame->_width, value + 1, sizeof(float));
      }
      seen |= WIDTH_SEEN;
    } else if (key == uris->_right_analysed_amplitudes) {
      ok = read_floats(uris, value, frame->_right_analysed_amps, MORVANE_NUM_PARTIALS), seen |= 0x10000u;
    } else if (key == uris->_right_analysed_frequencies) {
      ok = read_floats(uris, value, frame->_right_analysed_freqs, MORVANE_NUM_PARTIALS), seen |= 0x20000u;
    } else if (key == uris->_right_shaken_amplitudes) {
      ok = read_floats(uris, value, frame->_right_shaken_amps, MORVANE_NUM_PARTIALS), seen |= 0x40000u;
    } else if (key == uris->_right_shaken_frequencies) {
      ok = read_floats(uris, value, frame->_right_shaken_freqs, MORVANE_NUM_PARTIALS), seen |= 0x80000u;
    }
    if (!ok) {
      return false;
    }
    offset += lv2_atom_pad_size(sizeof(LV2_Atom_Property_Body) + value->size);
  }
  if ((seen & MONO_SEEN) != MONO_SEEN || frame->_audible < 0 || frame->_audible > MORVANE_NUM_PARTIALS ||
      frame->_transport < MORVANE_TRANSPORT_UNKNOWN || frame->_transport > MORVANE_TRANSPORT_ROLLING) {
    return false;
  }
  // The stereo part whole or absent: a mode with its width, the right
  // channel's vectors all four in Left / Right and none otherwise.
  const unsigned stereo_part = seen & ~MONO_SEEN;
  if (stereo_part == 0u) {
    frame->_stereo = MORVANE_FRAME_MONO;
    return true;
  }
  if (stereo_mode == MORVANE_STEREO_MID && stereo_part == (STEREO_MODE_SEEN | WIDTH_SEEN)) {
    frame->_stereo = MORVANE_FRAME_MID;
    return true;
  }
  if (stereo_mode == MORVANE_STEREO_LEFT_RIGHT && stereo_part == (STEREO_MODE_SEEN | WIDTH_SEEN | RIGHT_SEEN)) {
    frame->_stereo = MORVANE_FRAME_LEFT_RIGHT;
    return true;
  }
  return false;
}

uint32_t morvane_window_message(const morvane_uris* uris, bool open, void* buf,
                                uint32_t capacity) noexcept
{
  if (capacity < sizeof(LV2_Atom_Object)) {
    return 0;
  }
  LV2_Atom_Object obj{};
  obj.atom.type = uris->_atom_Object;
  obj.atom.size = sizeof(LV2_Atom_Object_Body);
  obj.body.id = 0;
  obj.body.otype = open ? uris->_window_open : uris->_window_closed;
  std::memcpy(buf, &obj, sizeof obj);
  return sizeof obj;
}

int morvane_window_message_read(const morvane_uris* uris, const void* atom, uint32_t size) noexcept
{
  const LV2_Atom_Object* obj = object_at(uris, atom, size);
  if (obj == nullptr) {
    return -1;
  }
  if (obj->body.otype == uris->_window_open) {
    return 1;
  }
  if (obj->body.otype == uris->_window_closed) {
    return 0;
  }
  return -1;
}

uint32_t morvane_frame_checksum(const morvane_frame* frame) noexcept
{
  const auto* bytes = reinterpret_cast<const uint8_t*>(frame);
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < offsetof(morvane_frame, _sequence); ++i) {
    hash = (hash ^ bytes[i]) * 16777619u;
  }
  return hash;
}
