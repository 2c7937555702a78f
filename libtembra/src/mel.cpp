// SPDX-License-Identifier: LGPL-2.1-or-later
// Mel scale conversions and mel-spaced frequency grids.
//
// mel = 2595 log10(1 + hz / 700). Both conversions take and return floats
// but compute in double, rounding once at the end, so that a grid built
// here is reproducible to the last bit.
#include "mel.h"

#include <cmath>

namespace {

constexpr double kInv700 = 0.0014285714285714286;    // 1 / 700
constexpr double kInv2595 = 0.00038535645472061658;  // 1 / 2595
constexpr double kLn10 = 2.3025850929940459;

}  // namespace

float hz_to_mel(float hz) noexcept {
  // 1 + hz/700 as one fused multiply-add, then the base-10 logarithm.
  return (float)(2595.0 * std::log10(std::fma((double)hz, kInv700, 1.0)));
}

float mel_to_hz(float mel) noexcept {
  // 10^(mel/2595) written as exp(mel / 2595 * ln 10), multiplied left to right.
  const double m = (double)mel * kInv2595 * kLn10;
  return (float)(700.0 * (std::exp(m) - 1.0));
}

void compute_mel_frequencies(int num_freqs, float* freqs, float min_freq, float max_freq) noexcept {
  const float min_mel = hz_to_mel(min_freq);
  const float max_mel = hz_to_mel(max_freq);
  if (num_freqs <= 0) return;
  const float step = (max_mel - min_mel) / (float)(num_freqs - 1);
  for (int i = 0; i < num_freqs; ++i) {
    // min_mel + i * step rounded once.
    const float mel = std::fma((float)i, step, min_mel);
    freqs[i] = mel_to_hz(mel);
  }
}
