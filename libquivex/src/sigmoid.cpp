// SPDX-License-Identifier: LGPL-2.1-or-later
// Sigmoid shaping curve built from a power curve mirrored about (0.5, 0.5).
#include "sigmoid.h"

#include <algorithm>
#include <cmath>

// Power curve on [0, 1] whose value at t = 0.5 is a: 0.5^(-log2 a) = a.
static double beta_a(double t, double a) { return std::pow(t, -std::log2(a)); }

double sigmoid(double t, double a) noexcept
{
    t = std::clamp(t, 0.0, 1.0);
    // The lower half is the power curve squeezed onto [0, 0.5] x [0, 0.5];
    // the upper half is its mirror image through the centre point.
    if (t < 0.5)
        return beta_a(t + t, a) * 0.5;
    return 1.0 - beta_a(2.0 - (t + t), a) * 0.5;
}
