// SPDX-License-Identifier: LGPL-2.1-or-later
// Sigmoid shaping curve built from a power curve mirrored about (0.5, 0.5).
#include "sigmoid.h"

#include <algorithm>
#include <cmath>

#include "sigmoid_pow.h"

double sigmoid_pow(double t, double e) noexcept
{
    t = std::clamp(t, 0.0, 1.0);
    // The lower half is the power curve t^e squeezed onto [0, 0.5] x
    // [0, 0.5]; the upper half is its mirror image through the centre point.
    if (t < 0.5)
        return std::pow(t + t, e) * 0.5;
    return 1.0 - std::pow(2.0 - (t + t), e) * 0.5;
}

// The power curve's exponent -log2 a makes its value at t = 0.5 equal to
// a: 0.5^(-log2 a) = a.
double sigmoid(double t, double a) noexcept { return sigmoid_pow(t, -std::log2(a)); }
