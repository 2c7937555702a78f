// SPDX-License-Identifier: LGPL-2.1-or-later
#include "decibel.h"

#include <cmath>

float amp_to_db(float amp) noexcept
{
  // Logarithm first, then the product, both in double; one rounding at the end.
  return static_cast<float>(20.0 * std::log10(static_cast<double>(amp)));
}

float db_to_amp(float db) noexcept
{
  return static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0));
}

void amp_to_db_buf(float* buf, int size) noexcept
{
  for (int k = 0; k < size; ++k) {
    buf[k] = amp_to_db(buf[k]);
  }
}

void db_to_amp_buf(float* buf, int size) noexcept
{
  for (int k = 0; k < size; ++k) {
    buf[k] = db_to_amp(buf[k]);
  }
}

// Both comparisons are false for NaN, so a NaN passes through unchanged.
static float clamp_unit(float v) noexcept
{
  if (v < 0.0f) {
    v = 0.0f;
  }
  if (v > 1.0f) {
    v = 1.0f;
  }
  return v;
}

float normalize_db(float db, float min_db) noexcept
{
  // In float: the difference, its negation, then the division.
  const float diff = db - min_db;
  const float neg = -diff;
  return clamp_unit(neg / min_db);
}

void normalize_db_buf(float* buf, int size, float min_db) noexcept
{
  // One division for the whole buffer; the rounded reciprocal can make a
  // value differ from normalize_db in the last bit.
  const float factor = -1.0f / min_db;
  for (int k = 0; k < size; ++k) {
    const float diff = buf[k] - min_db;
    buf[k] = clamp_unit(diff * factor);
  }
}

float normalize_db_inv(float db_norm, float min_db) noexcept
{
  const float scaled = db_norm * min_db;
  return min_db - scaled;
}
