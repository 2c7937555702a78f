// SPDX-License-Identifier: LGPL-2.1-or-later
// The host's song position between the positions it sends (see
// song_position.h).
#include "song_position.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include <lv2/atom/atom.h>
#include <lv2/time/time.h>

void song_uris_map(song_uris* uris, const LV2_URID_Map* map) noexcept
{
  LV2_URID_Map_Handle h = map->handle;
  uris->_atom_Object = map->map(h, LV2_ATOM__Object);
  uris->_atom_Blank = map->map(h, LV2_ATOM__Blank);
  uris->_atom_Int = map->map(h, LV2_ATOM__Int);
  uris->_atom_Long = map->map(h, LV2_ATOM__Long);
  uris->_atom_Float = map->map(h, LV2_ATOM__Float);
  uris->_atom_Double = map->map(h, LV2_ATOM__Double);
  uris->_time_Position = map->map(h, LV2_TIME__Position);
  uris->_time_frame = map->map(h, LV2_TIME__frame);
  uris->_time_speed = map->map(h, LV2_TIME__speed);
  uris->_time_bar = map->map(h, LV2_TIME__bar);
  uris->_time_barBeat = map->map(h, LV2_TIME__barBeat);
  uris->_time_beat = map->map(h, LV2_TIME__beat);
  uris->_time_beatUnit = map->map(h, LV2_TIME__beatUnit);
  uris->_time_beatsPerBar = map->map(h, LV2_TIME__beatsPerBar);
  uris->_time_beatsPerMinute = map->map(h, LV2_TIME__beatsPerMinute);
}

void song_position_init(song_position* song, double rate) noexcept
{
  *song = song_position{};
  song->_rate = rate;
  song_position_restart(song);
}

void song_position_restart(song_position* song) noexcept
{
  const double rate = song->_rate;
  *song = song_position{};
  song->_rate = rate;
  song->_speed = 1.0;
  song->_bpm = MORVANE_DEFAULT_BPM;
  song->_beat_unit = 4.0;
  song->_beats_per_bar = 4.0;
}

namespace {

// A number of any of the four types, or NaN for anything else (which the
// caller then rejects like a sent NaN).
double number(const song_uris* uris, const LV2_Atom* value) noexcept
{
  const auto* body = reinterpret_cast<const uint8_t*>(value + 1);
  if (value->type == uris->_atom_Int && value->size >= sizeof(int32_t)) {
    int32_t v;
    std::memcpy(&v, body, sizeof v);
    return v;
  }
  if (value->type == uris->_atom_Long && value->size >= sizeof(int64_t)) {
    int64_t v;
    std::memcpy(&v, body, sizeof v);
    return static_cast<double>(v);
  }
  if (value->type == uris->_atom_Float && value->size >= sizeof(float)) {
    float v;
    std::memcpy(&v, body, sizeof v);
    return v;
  }
  if (value->type == uris->_atom_Double && value->size >= sizeof(double)) {
    double v;
    std::memcpy(&v, body, sizeof v);
    return v;
  }
  return NAN;
}

// What one position says; a key not sent stays NaN with its flag false.
struct sent {
  bool _frame, _speed, _bar, _bar_beat, _beat, _beat_unit, _beats_per_bar, _bpm;
  double frame, speed, bar, bar_beat, beat, beat_unit, beats_per_bar, bpm;
};

// Reads the properties of the object at `atom` (`size` bytes, all inside
// the event); false for anything that is not a whole time:Position.
bool read_object(const song_uris* uris, const LV2_Atom* atom, uint32_t size, sent* s) noexcept
{
  if (size < sizeof(LV2_Atom_Object) || atom->size > size - sizeof(LV2_Atom) ||
      atom->size < sizeof(LV2_Atom_Object_Body) ||
      (atom->type != uris->_atom_Object && atom->type != uris->_atom_Blank)) {
    return false;
  }
  const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(atom);
  if (obj->body.otype != uris->_time_Position) {
    return false;
  }
  const auto* body = reinterpret_cast<const uint8_t*>(&obj->body);
  const uint64_t end = atom->size;
  uint64_t offset = sizeof(LV2_Atom_Object_Body);
  constexpr uint64_t header = sizeof(LV2_Atom_Property_Body);
  while (offset + header <= end) {
    const auto* prop = reinterpret_cast<const LV2_Atom_Property_Body*>(body + offset);
    const uint64_t next = offset + header + prop->value.size;
    if (next > end) {
      return false;  // a value longer than the object
    }
    const LV2_URID key = prop->key;
    struct {
      LV2_URID key;
      bool* flag;
      double* value;
    } const slots[] = {
      {uris->_time_frame, &s->_frame, &s->frame},
      {uris->_time_speed, &s->_speed, &s->speed},
      {uris->_time_bar, &s->_bar, &s->bar},
      {uris->_time_barBeat, &s->_bar_beat, &s->bar_beat},
      {uris->_time_beat, &s->_beat, &s->beat},
      {uris->_time_beatUnit, &s->_beat_unit, &s->beat_unit},
      {uris->_time_beatsPerBar, &s->_beats_per_bar, &s->beats_per_bar},
      {uris->_time_beatsPerMinute, &s->_bpm, &s->bpm},
    };
    for (const auto& slot : slots) {
      if (key == slot.key) {
        *slot.flag = true;
        *slot.value = number(uris, &prop->value);
      }
    }
    offset = (next + 7u) & ~uint64_t{7};
  }
  return true;
}

bool finite_if_sent(bool flag, double value) noexcept
{
  return !flag || std::isfinite(value);
}

}  // namespace

bool song_position_read(song_position* song, const song_uris* uris, const LV2_Atom* atom, uint32_t size) noexcept
{
  sent s{};
  if (!read_object(uris, atom, size, &s)) {
    return false;
  }
  if (!finite_if_sent(s._frame, s.frame) || !finite_if_sent(s._speed, s.speed) || !finite_if_sent(s._bar, s.bar) ||
      !finite_if_sent(s._bar_beat, s.bar_beat) || !finite_if_sent(s._beat, s.beat) ||
      !finite_if_sent(s._beat_unit, s.beat_unit) || !finite_if_sent(s._beats_per_bar, s.beats_per_bar) ||
      !finite_if_sent(s._bpm, s.bpm) || (s._bpm && s.bpm <= 0.0) || (s._frame && s.frame < 0.0) ||
      (s._beat_unit && s.beat_unit <= 0.0) || (s._beats_per_bar && s.beats_per_bar <= 0.0)) {
    return false;
  }
  // Where the song is by the last position, before this one moves it.
  const double frame_now = song_position_frame(song);
  const double quarters_now = song_position_quarters(song);
  if (s._speed) {
    song->_speed = s.speed;
  }
  if (s._bpm) {
    song->_bpm = s.bpm;
  }
  if (s._beat_unit) {
    song->_beat_unit = s.beat_unit;
  }
  if (s._beats_per_bar) {
    song->_beats_per_bar = s.beats_per_bar;
  }
  song->_anchor_frame = s._frame ? s.frame : frame_now;
  const double quarter_per_beat = 4.0 / song->_beat_unit;
  if (s._beat) {
    song->_anchor_quarters = s.beat * quarter_per_beat;
  } else if (s._bar && s._bar_beat) {
    song->_anchor_quarters = (s.bar * song->_beats_per_bar + s.bar_beat) * quarter_per_beat;
  } else if (s._frame) {
    song->_anchor_quarters = s.frame * song_position_quarters_per_sample(song);
  } else {
    song->_anchor_quarters = quarters_now;
  }
  song->_elapsed = 0;
  song->_known = true;
  return true;
}

void song_position_advance(song_position* song, uint32_t n) noexcept
{
  song->_elapsed += n;
}

double song_position_frame(const song_position* song) noexcept
{
  return song->_anchor_frame + song->_speed * static_cast<double>(song->_elapsed);
}

double song_position_quarters(const song_position* song) noexcept
{
  return song->_anchor_quarters +
         song->_speed * static_cast<double>(song->_elapsed) * song_position_quarters_per_sample(song);
}

bool song_position_rolling(const song_position* song) noexcept
{
  return song->_speed != 0.0;
}

double song_position_quarters_per_sample(const song_position* song) noexcept
{
  return song->_bpm / 60.0 * (4.0 / song->_beat_unit) / song->_rate;
}
