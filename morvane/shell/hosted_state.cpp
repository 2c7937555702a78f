// SPDX-License-Identifier: LGPL-2.1-or-later
// The state of a hosted plug-in, the same bytes in every format: every
// control's value and nothing else, as a small versioned binary stream,
// little-endian:
//   "MRVN", version (u32, 1), count (u32), then count pairs of
//   parameter id (the LV2 port index, u32) and value (IEEE float bits, u32).
// Loading takes ids this plug-in knows (a newer version's extra ids are
// passed over) and gives any control the stream lacks its default, so an
// older project opens as it sounded.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "hosted_plugin.h"

namespace {

constexpr uint8_t MAGIC[4] = {'M', 'R', 'V', 'N'};
constexpr uint32_t VERSION = 1;
constexpr uint32_t MAX_ENTRIES = 1024;

void put_u32(uint8_t* at, uint32_t v)
{
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<uint8_t>(v >> (8 * i));
  }
}

uint32_t get_u32(const uint8_t* at)
{
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

}  // namespace

bool hosted_save(const hosted_plugin* h, hosted_write_fn write, void* context) noexcept
{
  uint8_t bytes[MORVANE_HOSTED_STATE_BYTES];
  std::memcpy(bytes, MAGIC, 4);
  put_u32(bytes + 4, VERSION);
  put_u32(bytes + 8, h->_num_controls);
  for (uint32_t row = 0; row < h->_num_controls; ++row) {
    const float value = h->_values[row].load(std::memory_order_relaxed);
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put_u32(bytes + 12 + 8 * row, morvane_controls[row]._port);
    put_u32(bytes + 16 + 8 * row, bits);
  }
  return write(context, bytes, 12 + 8 * uint64_t{h->_num_controls});
}

bool hosted_load(hosted_plugin* h, hosted_read_fn read, void* context) noexcept
{
  uint8_t header[12];
  if (!read(context, header, sizeof header) || std::memcmp(header, MAGIC, 4) != 0 ||
      get_u32(header + 4) != VERSION || get_u32(header + 8) > MAX_ENTRIES) {
    return false;
  }
  float values[MORVANE_NUM_STEREO_CONTROLS];
  for (uint32_t row = 0; row < h->_num_controls; ++row) {
    values[row] = morvane_controls[row]._default;
  }
  for (uint32_t i = get_u32(header + 8); i > 0; --i) {
    uint8_t entry[8];
    if (!read(context, entry, sizeof entry)) {
      return false;
    }
    const int row = hosted_row(h, get_u32(entry));
    const uint32_t bits = get_u32(entry + 4);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (row >= 0 && std::isfinite(value)) {
      const morvane_control& c = morvane_controls[row];
      values[row] = std::clamp(value, c._min, c._max);
    }
  }
  for (uint32_t row = 0; row < h->_num_controls; ++row) {
    h->_values[row].store(values[row], std::memory_order_relaxed);
  }
  h->_reload.store(true, std::memory_order_release);
  return true;
}
