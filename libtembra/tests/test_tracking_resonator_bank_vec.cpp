// SPDX-License-Identifier: LGPL-2.1-or-later
// Tests of the tracking resonator bank: tracking behaviour, thresholds,
// range limiting, readouts (4-lane body against scalar remainder) and the
// life cycle.
#include <gtest/gtest.h>
#include <xmmintrin.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "sanitized.h"

#include <tembra/tracking_resonator_bank_vec.h>

#include "femto_floor.h"
#include "tracking_resonator_bank_vec_internal.h"

namespace {

constexpr float kRate = 48000.0f;
constexpr double kPi = 3.14159265358979323846;

struct BankDeleter {
    void operator()(_tracking_resonator_bank_vec* t) const { tracking_resonator_bank_vec_free(t); }
};
using Bank = std::unique_ptr<_tracking_resonator_bank_vec, BankDeleter>;

Bank make_bank(const std::vector<float>& f, const std::vector<float>& a, const std::vector<float>& b,
               const std::vector<float>& g, float rate = kRate) {
    return Bank(tracking_resonator_bank_vec_new(static_cast<int>(f.size()), f.data(), a.data(), b.data(),
                                                g.data(), rate));
}

// Same alpha, beta and gamma for every resonator.
Bank make_bank(const std::vector<float>& f, float alpha, float beta, float gamma, float rate = kRate) {
    const std::size_t n = f.size();
    return make_bank(f, std::vector<float>(n, alpha), std::vector<float>(n, beta),
                     std::vector<float>(n, gamma), rate);
}

// The smoothing law of the resonator engine.
float alpha_of(double f, double rate) { return static_cast<float>(1.0 - std::exp(-(f / rate) / std::log(1.0 + f))); }

// Bank on a mel grid with the engine's coefficients (beta = alpha, gamma = alpha / 2).
Bank make_mel_bank(int n, float lo, float hi) {
    auto mel = [](double hz) { return 2595.0 * std::log10(1.0 + hz / 700.0); };
    std::vector<float> f(n), a(n), g(n);
    for (int i = 0; i < n; ++i) {
        const double m = mel(lo) + (mel(hi) - mel(lo)) * i / (n - 1);
        f[i] = static_cast<float>(700.0 * (std::pow(10.0, m / 2595.0) - 1.0));
        a[i] = alpha_of(f[i], kRate);
        g[i] = a[i] * 0.5f;
    }
    return make_bank(f, a, a, g);
}

std::vector<float> read(void (*readout)(tracking_resonator_bank_vec, float*, int), const Bank& t) {
    std::vector<float> v(static_cast<std::size_t>(t->_num_resonators));
    readout(t.get(), v.data(), static_cast<int>(v.size()));
    return v;
}
std::vector<float> frequencies(const Bank& t) { return read(tracking_resonator_bank_vec_get_frequencies, t); }
std::vector<float> powers(const Bank& t) { return read(tracking_resonator_bank_vec_get_powers, t); }
std::vector<float> amplitudes(const Bank& t) { return read(tracking_resonator_bank_vec_get_amplitudes, t); }

// Frequency readout of resonator i after it has returned to rest from
// tracking: its natural frequency converted to omega in single precision
// and back.
float returned_frequency(const Bank& t, int i) {
    const float factor = static_cast<float>(static_cast<double>(t->_sample_rate_inv) * (-6.283185307179586));
    return -((t->_samplerate * t->_two_pi_inv) * (t->_natural_frequencies[i] * factor));
}

// True when readout is a resting resonator's frequency: the natural
// frequency converted to omega, either on return or, for a resonator that
// never had to recompute it, at construction, and back.
bool reads_rest_frequency(const Bank& t, int i, float readout) {
    const float at_construction = static_cast<float>(
        double{t->_natural_frequencies[i]} * ((1.0 / double{t->_samplerate}) * (-6.283185307179586)));
    return readout == returned_frequency(t, i) ||
           readout == -((t->_samplerate * t->_two_pi_inv) * at_construction);
}

// A sinusoid generator: amplitude a, frequency f Hz, sample index k.
float tone(double a, double f, long k) { return static_cast<float>(a * std::sin(2.0 * kPi * f * k / kRate)); }

double modulus(const Bank& t, int i) { return std::hypot(double{t->_p_Zc[i]}, double{t->_p_Zs[i]}); }

std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }
float next_up(float x) { return std::nextafter(x, std::numeric_limits<float>::infinity()); }
float next_down(float x) { return std::nextafter(x, -std::numeric_limits<float>::infinity()); }

// Finds C = (cc, ss) whose float power cc*cc + ss*ss is exactly target.
bool state_with_power(float target, float& cc, float& ss) {
    float c = std::sqrt(target);
    while (c * c > target) c = next_down(c);
    const float rest = target - c * c;
    if (rest == 0.0f) { cc = c; ss = 0.0f; return true; }
    for (float s = std::sqrt(rest) * 0.5f; s < std::sqrt(rest) * 2.0f; s = next_up(s)) {
        if (c * c + s * s == target) { cc = c; ss = s; return true; }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Construction and readouts before any update

TEST(TrackingBankReadouts, BeforeAnyUpdateTheBankReadsAtRest) {
    const std::vector<float> f = {30, 100, 440, 1000, 4000, 12000, 19000};
    Bank t = make_bank(f, 0.01f, 0.02f, 0.005f);
    ASSERT_TRUE(t);
    const int n = static_cast<int>(f.size());
    EXPECT_EQ(tracking_resonator_bank_vec_get_num_resonators(t.get()), n);
    EXPECT_EQ(tracking_resonator_bank_vec_get_samplerate(t.get()), kRate);
    EXPECT_EQ(tracking_resonator_bank_vec_get_accPower(t.get()), 0.0001f);
    EXPECT_EQ(read(tracking_resonator_bank_vec_get_natural_frequencies, t), f);
    const std::vector<float> zeros(f.size(), 0.0f);
    EXPECT_EQ(powers(t), zeros);
    EXPECT_EQ(amplitudes(t), zeros);
    EXPECT_EQ(read(tracking_resonator_bank_vec_get_phases, t), zeros);
    EXPECT_EQ(read(tracking_resonator_bank_vec_get_delta_phases, t), zeros);
    const std::vector<float> fr = frequencies(t);
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(fr[i], f[i], f[i] * 1e-6f) << i;
        EXPECT_EQ(t->_p_Zc[i], 1.0f);
        EXPECT_EQ(t->_p_Zs[i], 0.0f);
        EXPECT_EQ(t->_omega_range_min[i], -1.0f);
        EXPECT_EQ(t->_omega_range_max[i], -1.0f);
        // The rotation belongs to omega and turns the phasor forwards
        // (negative angle) by 2 pi f / rate.
        EXPECT_NEAR(t->_p_omega[i], -2.0 * kPi * f[i] / kRate, 1e-6);
        EXPECT_NEAR(std::hypot(t->_p_Wc[i], t->_p_Ws[i]), 1.0, 1e-6);
        EXPECT_EQ(t->_p_Wcps[i], t->_p_Wc[i] + t->_p_Ws[i]);
    }
    EXPECT_EQ(t->_limit_range, 0);
}

TEST(TrackingBankReadouts, ArrayReadoutsWriteMinOfSizeAndResonatorCount) {
    Bank t = make_bank({100, 200, 300, 400, 500, 600, 700}, 0.05f, 0.05f, 0.01f);
    for (long k = 0; k < 200; ++k) tracking_resonator_bank_vec_update(t.get(), tone(1.0, 310, k));
    using Readout = void (*)(tracking_resonator_bank_vec, float*, int);
    const Readout readouts[] = {
        tracking_resonator_bank_vec_get_frequencies, tracking_resonator_bank_vec_get_resonant_frequencies,
        tracking_resonator_bank_vec_get_natural_frequencies, tracking_resonator_bank_vec_get_powers,
        tracking_resonator_bank_vec_get_amplitudes, tracking_resonator_bank_vec_get_phases,
        tracking_resonator_bank_vec_get_delta_phases};
    const float sentinel = -12345.0f;
    for (Readout r : readouts) {
        std::vector<float> full(7);
        r(t.get(), full.data(), 7);
        for (int size : {-3, 0, 1, 3, 4, 5, 7, 8, 12}) {
            std::vector<float> dest(16, sentinel);
            r(t.get(), dest.data(), size);
            const int count = std::clamp(size, 0, 7);
            for (int i = 0; i < 16; ++i) {
                if (i < count) {
                    EXPECT_EQ(bits(dest[i]), bits(full[i])) << "size " << size << " entry " << i;
                } else {
                    EXPECT_EQ(dest[i], sentinel) << "size " << size << " entry " << i;
                }
            }
        }
    }
}

TEST(TrackingBankReadouts, EmptyBankUpdatesAndWritesNothing) {
    Bank t(tracking_resonator_bank_vec_new(0, nullptr, nullptr, nullptr, nullptr, kRate));
    ASSERT_TRUE(t);
    EXPECT_EQ(tracking_resonator_bank_vec_get_num_resonators(t.get()), 0);
    EXPECT_EQ(tracking_resonator_bank_vec_get_accPower(t.get()), 0.0001f);
    tracking_resonator_bank_vec_update(t.get(), 0.7f);
    EXPECT_EQ(tracking_resonator_bank_vec_get_accPower(t.get()), 0.0f);
    float dest[4] = {9, 9, 9, 9};
    tracking_resonator_bank_vec_get_frequencies(t.get(), dest, 4);
    tracking_resonator_bank_vec_get_natural_frequencies(t.get(), dest, 4);
    tracking_resonator_bank_vec_get_powers(t.get(), dest, 4);
    tracking_resonator_bank_vec_get_amplitudes(t.get(), dest, 4);
    tracking_resonator_bank_vec_get_phases(t.get(), dest, 4);
    tracking_resonator_bank_vec_get_delta_phases(t.get(), dest, 4);
    for (float d : dest) EXPECT_EQ(d, 9.0f);
    EXPECT_EQ(tracking_resonator_bank_vec_get_resonant_frequency_value(t.get(), 0), 0.0f);
    tracking_resonator_bank_vec_limit_reso_range(t.get(), 3);
    EXPECT_EQ(t->_limit_range, 3);
}

TEST(TrackingBankReadouts, FrequencyReadoutsAgreeAndIndexPastTheEndReadsZero) {
    Bank t = make_mel_bank(7, 100.0f, 8000.0f);
    for (long k = 0; k < 3000; ++k) tracking_resonator_bank_vec_update(t.get(), tone(0.5, 1234, k) + tone(0.3, 5100, k));
    const std::vector<float> fr = frequencies(t);
    EXPECT_EQ(read(tracking_resonator_bank_vec_get_resonant_frequencies, t), fr);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(bits(tracking_resonator_bank_vec_get_resonant_frequency_value(t.get(), i)), bits(fr[i])) << i;
    EXPECT_EQ(tracking_resonator_bank_vec_get_resonant_frequency_value(t.get(), 7), 0.0f);
    EXPECT_EQ(tracking_resonator_bank_vec_get_resonant_frequency_value(t.get(), 1000), 0.0f);
}

// An odd bank so that entries 0-3 come from the 4-lane body and 4-6 from the
// scalar remainder: both must give the correctly rounded values.
TEST(TrackingBankReadouts, VectorBodyAndScalarRemainderGiveTheSameValues) {
    Bank t = make_bank({100, 200, 300, 400, 500, 600, 700}, 0.05f, 0.05f, 0.01f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-24, 4);
    std::uniform_real_distribution<float> omega(-3.1f, -1e-5f);
    for (int trial = 0; trial < 2000; ++trial) {
        for (int i = 0; i < 7; ++i) {
            t->_cc[i] = std::ldexp(mantissa(rng), exponent(rng));
            t->_ss[i] = std::ldexp(mantissa(rng), exponent(rng));
            t->_p_omega[i] = omega(rng);
        }
        const std::vector<float> p = powers(t), a = amplitudes(t), fr = frequencies(t);
        for (int i = 0; i < 7; ++i) {
            const float c = t->_cc[i], s = t->_ss[i];
            const float power = c * c + s * s;
            ASSERT_EQ(bits(p[i]), bits(power)) << i;
            // sqrt in double rounded to float is the correctly rounded sqrtf.
            const float amp = double{power} > 1e-15 ? static_cast<float>(std::sqrt(double{power})) : 0.0f;
            ASSERT_EQ(bits(a[i]), bits(amp)) << i << " power " << power;
            ASSERT_EQ(bits(fr[i]), bits(tracking_resonator_bank_vec_get_resonant_frequency_value(t.get(), i))) << i;
        }
    }
}

TEST(TrackingBankReadouts, AmplitudeFloorIsTheDoubleComparisonInEveryLane) {
    // For float p, (double)p > 1e-15 exactly when p >= floor, because floor
    // lies above 1e-15 and the float just below it does not.
    constexpr float floor = tembra_floor::kFemtoFloor;
    EXPECT_GT(double{floor}, 1e-15);
    EXPECT_LE(double{next_down(floor)}, 1e-15);

    // Powers straddling the floor, placed in every lane of the body and the
    // remainder; plus 1e-16, which reads a power but no amplitude.
    const float targets[] = {next_down(next_down(floor)), next_down(floor), floor, next_up(floor),
                             static_cast<float>(1e-16)};
    Bank t = make_bank({100, 200, 300, 400, 500, 600, 700}, 0.05f, 0.05f, 0.01f);
    for (float target : targets) {
        float cc = 0, ss = 0;
        ASSERT_TRUE(state_with_power(target, cc, ss)) << target;
        for (int lane = 0; lane < 7; ++lane) {
            for (int i = 0; i < 7; ++i) t->_cc[i] = t->_ss[i] = 0.0f;
            t->_cc[lane] = cc;
            t->_ss[lane] = ss;
            const std::vector<float> p = powers(t), a = amplitudes(t);
            EXPECT_EQ(p[lane], target);
            const float expected = double{target} > 1e-15 ? std::sqrt(target) : 0.0f;
            EXPECT_EQ(a[lane], expected) << "lane " << lane << " power " << target;
            EXPECT_EQ(a[lane] > 0.0f, target >= floor);
        }
    }
}

// ---------------------------------------------------------------------------
// Tracking

TEST(TrackingBankTracking, ToneOffTheResonatorPullsByTheFractionGammaPerSample) {
    // Fast smoothing and a slow tracking rate, so the measured offset follows
    // the actual one closely; the offset should then decay as (1 - gamma)^k.
    const float gamma = 1e-4f;
    Bank t = make_bank({4000.0f}, 0.02f, 0.02f, gamma);
    const double f_in = 4020.0;
    long k = 0;
    for (; k < 2000; ++k) tracking_resonator_bank_vec_update(t.get(), tone(1.0, f_in, k));
    const double offset1 = f_in - frequencies(t)[0];
    const int steps = 5000;
    for (int j = 0; j < steps; ++j, ++k) tracking_resonator_bank_vec_update(t.get(), tone(1.0, f_in, k));
    const double offset2 = f_in - frequencies(t)[0];
    ASSERT_GT(offset1, 10.0);
    ASSERT_GT(offset2, 0.0);
    const double measured = 1.0 - std::pow(offset2 / offset1, 1.0 / steps);
    EXPECT_NEAR(measured, gamma, 0.03 * gamma);
}

TEST(TrackingBankTracking, LocksOntoNearbyToneAndReadsHalfItsAmplitude) {
    // Engine coefficients at 1 kHz, tone 12 Hz above.
    const float a = alpha_of(1000.0, kRate);
    Bank t = make_bank({1000.0f}, a, a, a * 0.5f);
    const double amp = 0.4, f_in = 1012.0;
    for (long k = 0; k < 48000; ++k) tracking_resonator_bank_vec_update(t.get(), tone(amp, f_in, k));
    EXPECT_NEAR(frequencies(t)[0], f_in, 0.05);
    EXPECT_NEAR(amplitudes(t)[0], amp / 2, amp / 2 * 0.005);
    EXPECT_EQ(tracking_resonator_bank_vec_get_accPower(t.get()), powers(t)[0]);
    // Locked: C no longer turns, so the phase step is 0 apart from the
    // ripple at twice the frequency.
    EXPECT_NEAR(read(tracking_resonator_bank_vec_get_delta_phases, t)[0], 0.0, 1e-4);
}

TEST(TrackingBankTracking, SilenceKeepsEveryResonatorAtItsNaturalFrequency) {
    Bank t = make_mel_bank(112, 20.0f, 20000.0f);
    const int n = 112;
    const float floor_threshold = static_cast<float>(0.001 * 0.001);
    std::vector<float> wc, ws;
    for (int k = 0; k < 100; ++k) {
        tracking_resonator_bank_vec_update(t.get(), 0.0f);
        EXPECT_EQ(tracking_resonator_bank_vec_get_accPower(t.get()), 0.0f);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(t->_p_frequency[i], t->_natural_frequencies[i]) << i;
            ASSERT_EQ(t->_track_frequency_power_threshold[i], floor_threshold) << i;
        }
        if (k == 0) {
            wc.assign(t->_p_Wc, t->_p_Wc + n);
            ws.assign(t->_p_Ws, t->_p_Ws + n);
        } else {
            // At rest the rotation is never recomputed.
            ASSERT_TRUE(std::equal(wc.begin(), wc.end(), t->_p_Wc));
            ASSERT_TRUE(std::equal(ws.begin(), ws.end(), t->_p_Ws));
        }
    }
    const std::vector<float> fr = frequencies(t);
    for (int i = 0; i < n; ++i) {
        EXPECT_TRUE(reads_rest_frequency(t, i, fr[i])) << i;
        EXPECT_NEAR(fr[i], t->_natural_frequencies[i], t->_natural_frequencies[i] * 1e-6f) << i;
    }
}

TEST(TrackingBankTracking, ReturnsToNaturalFrequencyAtOnceWhenPowerFallsAndPhasorRunsOn) {
    Bank t = make_bank({8000.0f}, 0.05f, 0.05f, 0.01f);
    for (long k = 0; k < 3000; ++k) tracking_resonator_bank_vec_update(t.get(), tone(1.0, 8030.0, k));
    ASSERT_NEAR(frequencies(t)[0], 8030.0, 1.0);

    bool returned = false;
    for (int k = 0; k < 2000 && !returned; ++k) {
        const float zc = t->_p_Zc[0], zs = t->_p_Zs[0];
        const float before = frequencies(t)[0];
        tracking_resonator_bank_vec_update(t.get(), 0.0f);
        const float power = powers(t)[0];
        if (power > t->_track_frequency_power_threshold[0]) {
            // Still tracking: the frequency stays near the tone.
            ASSERT_GT(frequencies(t)[0], 8020.0f);
            continue;
        }
        returned = true;
        // Still up at the tone one update before, at the natural frequency now.
        EXPECT_GT(before, 8020.0f);
        EXPECT_EQ(t->_p_frequency[0], 8000.0f);
        EXPECT_EQ(frequencies(t)[0], returned_frequency(t, 0));
        // Z went on from where it was, turned by the new omega already.
        const double turned = std::remainder(std::atan2(double{t->_p_Zs[0]}, double{t->_p_Zc[0]}) -
                                                 std::atan2(double{zs}, double{zc}),
                                             2 * kPi);
        EXPECT_NEAR(turned, t->_p_omega[0], 1e-5);
        EXPECT_NEAR(modulus(t, 0), 1.0, 1e-6);
    }
    ASSERT_TRUE(returned);
    // And it stays there: no gliding back.
    for (int k = 0; k < 100; ++k) {
        tracking_resonator_bank_vec_update(t.get(), 0.0f);
        ASSERT_EQ(frequencies(t)[0], returned_frequency(t, 0));
    }
}

TEST(TrackingBankTracking, LoudLowPartialRaisesThresholdsOfHigherResonatorsOnly) {
    const float floor_threshold = static_cast<float>(0.001 * 0.001);
    auto expected_threshold = [](float max_power) {
        return static_cast<float>(std::max(double{max_power}, 0.001) * 0.001);
    };
    // A weak partial near the upper resonator is tracked when alone...
    {
        Bank t = make_bank({200.0f, 2000.0f}, 0.003f, 0.003f, 0.0015f);
        for (long k = 0; k < 20000; ++k) tracking_resonator_bank_vec_update(t.get(), tone(0.01, 2010.0, k));
        EXPECT_NEAR(frequencies(t)[1], 2010.0, 1.0);
    }
    // ... but ignored under a loud partial at the lower resonator, whose
    // power sets the upper threshold in the same sample.
    {
        Bank t = make_bank({200.0f, 2000.0f}, 0.003f, 0.003f, 0.0015f);
        for (long k = 0; k < 20000; ++k) {
            tracking_resonator_bank_vec_update(t.get(), tone(1.0, 200.0, k) + tone(0.01, 2010.0, k));
            const std::vector<float> p = powers(t);
            ASSERT_EQ(t->_track_frequency_power_threshold[0], floor_threshold);
            ASSERT_EQ(t->_track_frequency_power_threshold[1], expected_threshold(p[0])) << k;
            // Once the onset transient has passed, the upper one stays at rest.
            if (k >= 2000) {
                ASSERT_TRUE(reads_rest_frequency(t, 1, frequencies(t)[1])) << k;
            }
        }
        EXPECT_GT(t->_track_frequency_power_threshold[1], 1e-4f);
    }
    // A loud upper partial leaves the lower threshold alone: the weak lower
    // partial is still tracked.
    {
        Bank t = make_bank({200.0f, 2000.0f}, 0.003f, 0.003f, 0.0015f);
        for (long k = 0; k < 20000; ++k) {
            tracking_resonator_bank_vec_update(t.get(), tone(1.0, 2000.0, k) + tone(0.01, 210.0, k));
            ASSERT_EQ(t->_track_frequency_power_threshold[0], floor_threshold);
        }
        EXPECT_NEAR(frequencies(t)[0], 210.0, 1.0);
        EXPECT_EQ(tracking_resonator_bank_vec_get_accPower(t.get()), std::max(powers(t)[0], powers(t)[1]));
    }
}

TEST(TrackingBankTracking, NaNInputLeavesResonatorsAtRestWithUnitPhasors) {
    Bank t = make_bank({100, 200, 300, 400, 500, 600, 700}, 0.05f, 0.05f, 0.01f);
    for (long k = 0; k < 500; ++k) tracking_resonator_bank_vec_update(t.get(), tone(1.0, 310, k));
    tracking_resonator_bank_vec_update(t.get(), std::numeric_limits<float>::quiet_NaN());
    for (long k = 0; k < 500; ++k) tracking_resonator_bank_vec_update(t.get(), tone(1.0, 310, k));
    const std::vector<float> fr = frequencies(t), a = amplitudes(t);
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(reads_rest_frequency(t, i, fr[i])) << i;
        EXPECT_EQ(a[i], 0.0f) << i;  // NaN power reads no amplitude, body and remainder alike
        EXPECT_NEAR(modulus(t, i), 1.0, 1e-6) << i;
    }
}

// ---------------------------------------------------------------------------
// Range limiting

TEST(TrackingBankRange, BandsRunBetweenTheMidpointsOfNeighbours) {
    Bank t = make_bank({100.0f, 200.0f, 400.0f}, 0.01f, 0.01f, 0.005f);
    tracking_resonator_bank_vec_limit_reso_range(t.get(), 1);
    EXPECT_EQ(t->_limit_range, 1);
    const double lo[] = {50, 150, 300}, hi[] = {150, 300, 400};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t->_omega_range_min[i], static_cast<float>(hi[i] * -6.283185307179586 / kRate)) << i;
        EXPECT_EQ(t->_omega_range_max[i], static_cast<float>(lo[i] * -6.283185307179586 / kRate)) << i;
    }
    // Switching off keeps the ranges; any nonzero flag is stored as given.
    const float min1 = t->_omega_range_min[1];
    tracking_resonator_bank_vec_limit_reso_range(t.get(), 0);
    EXPECT_EQ(t->_limit_range, 0);
    EXPECT_EQ(t->_omega_range_min[1], min1);
    tracking_resonator_bank_vec_limit_reso_range(t.get(), 7);
    EXPECT_EQ(t->_limit_range, 7);
    EXPECT_EQ(t->_omega_range_min[1], min1);
}

TEST(TrackingBankRange, ResonatorsStayInsideTheirBands) {
    // Bands 50-150, 150-300 and 300-400 Hz. 160 Hz lies just above the
    // lowest band, 420 Hz above the top one.
    auto run = [](bool limited, double f_in) {
        Bank t = make_bank({100.0f, 200.0f, 400.0f}, 0.005f, 0.005f, 0.0025f);
        if (limited) tracking_resonator_bank_vec_limit_reso_range(t.get(), 1);
        for (long k = 0; k < 40000; ++k) {
            tracking_resonator_bank_vec_update(t.get(), tone(0.5, f_in, k));
            if (!limited) continue;
            const std::vector<float> fr = frequencies(t);
            EXPECT_TRUE(fr[0] > 50.0f && fr[0] < 150.0f) << k << ": " << fr[0];
            EXPECT_TRUE(fr[1] > 150.0f && fr[1] < 300.0f) << k << ": " << fr[1];
            // The top resonator can only go down from its natural frequency.
            EXPECT_TRUE(fr[2] > 300.0f && (fr[2] < 400.0f || reads_rest_frequency(t, 2, fr[2]))) << k << ": " << fr[2];
            if (::testing::Test::HasFailure()) break;
        }
        return t;
    };
    const Bank low = run(true, 160.0);
    EXPECT_GT(frequencies(low)[0], 145.0f);  // pressed against the upper edge of its band
    EXPECT_NEAR(frequencies(low)[1], 160.0, 0.5);
    const Bank high = run(true, 420.0);
    EXPECT_NEAR(frequencies(high)[2], 400.0, 0.5);  // held at (or just below) its upper edge
    // Without limits the same resonators follow the tones out of their bands.
    EXPECT_NEAR(frequencies(run(false, 160.0))[0], 160.0, 0.5);
    EXPECT_NEAR(frequencies(run(false, 420.0))[2], 420.0, 0.5);
}

TEST(TrackingBankRange, CandidateOnABoundIsRejectedAndOneInsideAccepted) {
    // Identical banks fed identically up to sample 1000 hold identical state;
    // the update at sample 1000 produces the same candidate in each.
    constexpr long primed_samples = 1000;
    auto primed = [] {
        Bank t = make_bank({100.0f, 200.0f, 400.0f}, 0.01f, 0.01f, 0.005f);
        tracking_resonator_bank_vec_limit_reso_range(t.get(), 1);
        for (long k = 0; k < primed_samples; ++k) tracking_resonator_bank_vec_update(t.get(), tone(0.5, 220.0, k));
        return t;
    };
    const float last_sample = tone(0.5, 220.0, primed_samples);

    Bank free_run = primed();
    const float previous = free_run->_p_omega[1];
    tracking_resonator_bank_vec_update(free_run.get(), last_sample);
    const float candidate = free_run->_p_omega[1];
    ASSERT_NE(candidate, previous);
    // The bound the candidate moves towards, and one step past the candidate.
    const bool falling = candidate < previous;
    auto bound = [falling](const Bank& t) -> float& {
        return falling ? t->_omega_range_min[1] : t->_omega_range_max[1];
    };
    const float past = std::nextafter(candidate, falling ? -1.0f : 0.0f);

    Bank on_bound = primed();
    bound(on_bound) = candidate;
    const float wc = on_bound->_p_Wc[1], ws = on_bound->_p_Ws[1];
    tracking_resonator_bank_vec_update(on_bound.get(), last_sample);
    EXPECT_EQ(on_bound->_p_omega[1], previous);  // rejected, not clamped to the bound
    EXPECT_EQ(on_bound->_p_Wc[1], wc);
    EXPECT_EQ(on_bound->_p_Ws[1], ws);

    Bank just_inside = primed();
    bound(just_inside) = past;
    tracking_resonator_bank_vec_update(just_inside.get(), last_sample);
    EXPECT_EQ(just_inside->_p_omega[1], candidate);
}

// ---------------------------------------------------------------------------
// Long-run stability and life cycle

TEST(TrackingBankStability, PhasorStaysOnUnitCircleOverTenMillionSamples) {
    // One resonator tracks a tone (omega changes every sample), one rests.
    Bank t = make_bank({1000.0f, 15000.0f}, alpha_of(1000, kRate), alpha_of(1000, kRate), alpha_of(1000, kRate) / 2);
    double worst = 0.0;
    const double step = 2.0 * kPi * 1003.0 / kRate;
    double phase = 0.0;
    for (long k = 0; k < 10'000'000; ++k) {
        tracking_resonator_bank_vec_update(t.get(), static_cast<float>(0.5 * std::sin(phase)));
        phase += step;
        if (phase > kPi) phase -= 2.0 * kPi;
        if (k % 997 == 0) worst = std::max({worst, std::fabs(modulus(t, 0) - 1.0), std::fabs(modulus(t, 1) - 1.0)});
    }
    EXPECT_NEAR(frequencies(t)[0], 1003.0, 0.05);
    EXPECT_LT(worst, 3e-7);
}

std::size_t address_space_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// The C library keeps a few freed small blocks in a per-thread cache that
// its statistics count as in use; filling that cache for the record's size
// makes the next free of a record show up in the statistics.
void fill_small_block_cache() {
    void* blocks[8];
    for (void*& b : blocks) b = std::malloc(sizeof(_tracking_resonator_bank_vec));
    for (void* b : blocks) std::free(b);
}

TEST(TrackingBankLifecycle, AllocationFailureReturnsNullAndReleasesEverything) {
    if (TEMBRA_TEST_SANITIZED) GTEST_SKIP() << "the sanitizer owns the allocator";
    // Arrays of 40 MB are served by mmap and do not touch memory; an address
    // space limit lets the first k of them succeed and the next one fail.
    constexpr int n = 10'000'000;
    constexpr std::size_t array_bytes = std::size_t{n} * sizeof(float);
    float* input = static_cast<float*>(std::calloc(n, sizeof(float)));
    ASSERT_NE(input, nullptr);
    rlimit original{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &original), 0);
    // Pass 0 only warms up: first calls may allocate lazily inside the C
    // library, which must not count as a leak.
    for (std::size_t pass = 0; pass < 26; ++pass) {
        const std::size_t k = pass == 0 ? 0 : pass - 1;
        const std::size_t used = address_space_bytes();
        rlimit tight = original;
        tight.rlim_cur = std::min<rlim_t>(original.rlim_cur, used + k * array_bytes + array_bytes / 2);
        fill_small_block_cache();
        const struct mallinfo2 before = mallinfo2();
        ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
        tracking_resonator_bank_vec t = tracking_resonator_bank_vec_new(n, input, input, input, input, kRate);
        setrlimit(RLIMIT_AS, &original);
        const struct mallinfo2 after = mallinfo2();
        EXPECT_EQ(t, nullptr) << "only " << k << " arrays fit";
        tracking_resonator_bank_vec_free(t);  // NULL: does nothing
        if (pass == 0) continue;
        EXPECT_EQ(after.hblkhd, before.hblkhd) << "mapped arrays leaked after " << k;
        EXPECT_EQ(after.uordblks, before.uordblks) << "heap blocks leaked after " << k;
    }
    std::free(input);

    // A successful bank gives everything back too.
    tracking_resonator_bank_vec_free(make_mel_bank(112, 20.0f, 20000.0f).release());
    fill_small_block_cache();
    const struct mallinfo2 before = mallinfo2();
    tracking_resonator_bank_vec_free(make_mel_bank(112, 20.0f, 20000.0f).release());
    const struct mallinfo2 after = mallinfo2();
    EXPECT_EQ(after.uordblks, before.uordblks);
}

}  // namespace

// The whole-bank passes of the update (vector bodies and scalar remainders)
// leave every state array bit for bit as the one-resonator-at-a-time form
// does, for bank sizes around the vector widths, with range limiting on and
// off, through tones, noise, silence and overflow to NaN, under
// flush-to-zero and denormals-are-zero as the engine runs.
TEST(TrackingBankUpdate, WholeBankPassesMatchOneByOneBitForBit) {
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040u);
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    for (int n : {2, 3, 4, 5, 7, 8, 9, 11, 12, 13, 16, 17, 56, 112}) {
        for (int limit : {0, 1}) {
            Bank fast = make_mel_bank(n, 20.0f, 20000.0f);
            Bank plain = make_mel_bank(n, 20.0f, 20000.0f);
            tracking_resonator_bank_vec_limit_reso_range(fast.get(), limit);
            tracking_resonator_bank_vec_limit_reso_range(plain.get(), limit);
            for (int s = 0; s < 6000; ++s) {
                float x;
                if (s < 2000)
                    x = static_cast<float>(0.4 * std::sin(2.0 * kPi * 440.0 * s / kRate) +
                                           0.2 * std::sin(2.0 * kPi * 3000.0 * s / kRate));
                else if (s < 3500)
                    x = noise(gen);
                else if (s < 5990)
                    x = 0.0f;
                else
                    x = s == 5990 ? 3e38f : 1.0f;  // the state overflows
                tracking_resonator_bank_vec_update(fast.get(), x);
                tracking_resonator_bank_vec_update_one_by_one(plain.get(), x);
                const float* const a[] = {fast->_cos, fast->_sin, fast->_cc, fast->_ss, fast->_dpc, fast->_dps,
                                          fast->_track_frequency_power_threshold, fast->_p_omega, fast->_p_Zc,
                                          fast->_p_Zs, fast->_p_Wc, fast->_p_Ws, fast->_p_Wcps, fast->_p_frequency};
                const float* const b[] = {plain->_cos, plain->_sin, plain->_cc, plain->_ss, plain->_dpc, plain->_dps,
                                          plain->_track_frequency_power_threshold, plain->_p_omega, plain->_p_Zc,
                                          plain->_p_Zs, plain->_p_Wc, plain->_p_Ws, plain->_p_Wcps, plain->_p_frequency};
                for (std::size_t k = 0; k < std::size(a); ++k)
                    ASSERT_EQ(std::memcmp(a[k], b[k], sizeof(float) * static_cast<std::size_t>(n)), 0)
                        << "array " << k << ", n " << n << ", limit " << limit << ", sample " << s;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(fast->_accPower), std::bit_cast<std::uint32_t>(plain->_accPower));
            }
        }
    }
    _mm_setcsr(saved);
}
