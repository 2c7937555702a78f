// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in, loaded by lilv, against what a host or a signal chain might
// send: every kind of bad audio (NaN, infinities, subnormals, the largest
// floats, DC, full-scale squares, single spikes), any float on any control
// port, and every common sample rate from 8 kHz to 384 kHz.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "plugin_host.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;

std::vector<float> tone(std::size_t n, double freq, double rate, double amp = 0.5)
{
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<float>(amp * std::sin(kTwoPi * freq * static_cast<double>(i) / rate));
    return s;
}

bool all_finite(const std::vector<float>& y)
{
    for (float v : y)
        if (!std::isfinite(v))
            return false;
    return true;
}

double rms(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    double e = 0.0;
    for (std::size_t i = from; i < to; ++i)
        e += static_cast<double>(x[i]) * x[i];
    return std::sqrt(e / static_cast<double>(to - from));
}

// Level of the component at freq in x[from, to), by correlation with a
// Hann-windowed complex exponential.
double level_at(const std::vector<float>& x, std::size_t from, std::size_t to, double freq, double rate)
{
    double re = 0.0, im = 0.0, wsum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double w = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(i - from) / static_cast<double>(to - from));
        const double ph = kTwoPi * freq * static_cast<double>(i) / rate;
        re += w * x[i] * std::cos(ph);
        im += w * x[i] * std::sin(ph);
        wsum += w;
    }
    return 2.0 * std::hypot(re, im) / wsum;
}

struct BadAudio {
    const char* name;
    float (*sample)(std::size_t i);
};

const BadAudio kBadAudio[] = {
    {"quiet NaN", [](std::size_t) { return std::numeric_limits<float>::quiet_NaN(); }},
    {"signalling NaN", [](std::size_t) { return std::numeric_limits<float>::signaling_NaN(); }},
    {"+infinity", [](std::size_t) { return std::numeric_limits<float>::infinity(); }},
    {"-infinity", [](std::size_t) { return -std::numeric_limits<float>::infinity(); }},
    {"alternating NaN and infinities", [](std::size_t i) {
         return i % 3 == 0 ? std::numeric_limits<float>::quiet_NaN()
                           : (i % 3 == 1 ? std::numeric_limits<float>::infinity()
                                         : -std::numeric_limits<float>::infinity());
     }},
    {"subnormals", [](std::size_t i) { return (i % 2 ? 1.0f : -1.0f) * 1e-40f * static_cast<float>(1 + i % 7); }},
    {"smallest subnormal", [](std::size_t) { return std::numeric_limits<float>::denorm_min(); }},
    {"DC at full scale", [](std::size_t) { return 1.0f; }},
    {"DC at -1", [](std::size_t) { return -1.0f; }},
    {"full-scale square at 100 Hz", [](std::size_t i) { return (i / 240) % 2 ? 1.0f : -1.0f; }},
    {"full-scale square at Nyquist", [](std::size_t i) { return i % 2 ? 1.0f : -1.0f; }},
    {"single spike", [](std::size_t i) { return i == 0 ? 1.0f : 0.0f; }},
    {"single spike of 100", [](std::size_t i) { return i == 0 ? 100.0f : 0.0f; }},
};

}  // namespace

// Each kind of bad audio for 100 ms in the middle of a tone: the output is
// finite throughout, and from 100 ms after the bad stretch the tone is back
// at the level of an instance that heard only the tone.
TEST(HostileAudio, BadAudioGivesFiniteOutputAndToneReturnsWithin100ms)
{
    const double rate = 48000.0;
    const std::size_t bad_from = 9600, bad_len = 4800, bad_to = bad_from + bad_len;
    const std::size_t n = bad_to + 4800 + 4800;  // 100 ms to settle, 100 ms measured
    const auto clean = tone(n, 1000.0, rate);
    PluginHost ref(rate, 512, 7);
    ASSERT_TRUE(ref.ok());
    const auto yc = ref.process(clean, 256);
    const std::size_t from = bad_to + 4800, to = n;
    const double want = level_at(yc, from, to, 1000.0, rate);
    ASSERT_GT(want, 0.1);
    for (const BadAudio& bad : kBadAudio) {
        auto x = clean;
        for (std::size_t i = bad_from; i < bad_to; ++i)
            x[i] = bad.sample(i - bad_from);
        PluginHost host(rate, 512, 7);
        ASSERT_TRUE(host.ok());
        const auto y = host.process(x, 256);
        EXPECT_TRUE(all_finite(y)) << bad.name;
        // Many resonators lock onto one tone, each with its own phase
        // offset, so its level depends on which locked after the onset:
        // what counts is that the tone is back and is the main part of the
        // output (the lowest resonators may still ring from a loud burst).
        const double got = level_at(y, from, to, 1000.0, rate);
        EXPECT_GT(got, 0.5 * want) << bad.name;
        EXPECT_LT(got, 3.0 * want) << bad.name;
        EXPECT_GT(got / std::sqrt(2.0), 0.35 * rms(y, from, to)) << bad.name;
    }
}

TEST(HostileAudio, LargestFloatsGiveFiniteOutputAndTheToneComesBack)
{
    // The engine holds samples beyond +-1e6 at that bound, so a burst of the
    // largest floats leaves the resonators ringing at that level; they
    // settle within seconds (the 20 Hz resonator's time constant is 150 ms).
    const double rate = 48000.0;
    const std::size_t n = 48000 * 3;
    const auto clean = tone(n, 1000.0, rate);
    PluginHost ref(rate, 1024, 3);
    const auto yc = ref.process(clean, 1024);
    const double want = level_at(yc, n - 4800, n, 1000.0, rate);
    for (float big : {FLT_MAX, -FLT_MAX, 1e30f, 1e7f}) {
        auto x = clean;
        for (std::size_t i = 4800; i < 4800 + 480; ++i)
            x[i] = (i / 12) % 2 ? big : (i % 5 ? -big : big);
        PluginHost host(rate, 1024, 3);
        ASSERT_TRUE(host.ok());
        const auto y = host.process(x, 1024);
        EXPECT_TRUE(all_finite(y)) << big;
        const double got = level_at(y, n - 4800, n, 1000.0, rate);
        EXPECT_GT(got, 0.5 * want) << big;
        EXPECT_LT(got, 3.0 * want) << big;
        EXPECT_GT(got / std::sqrt(2.0), 0.5 * rms(y, n - 4800, n)) << big;
    }
}

// Any float on any control port (the port's range ends, NaN, infinities,
// the largest floats, negative values, subnormals), one port at a time and
// all at once, on a loud signal: the output stays finite and a tone still
// comes through with every port back at its default.
TEST(HostileControls, AnyFloatOnAnyControlPortGivesFiniteOutput)
{
    const float nasty[] = {std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           FLT_MAX, -FLT_MAX, -1.0f, -1e-45f, 1e-45f, 1e9f, -1e9f};
    const double rate = 48000.0;
    const auto x = tone(4096, 440.0, rate, 1.0);
    int tried = 0;
    for (uint32_t port = 0; port < MORVANE_NUM_CONTROLS; ++port) {
        PluginHost host(rate, 512, 1);
        ASSERT_TRUE(host.ok());
        // The other shake stages fully wet, so every port matters.
        host.controls()[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 100.0f;
        host.controls()[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 100.0f;
        host.controls()[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 100.0f;
        for (float v : nasty) {
            host.controls()[port] = v;
            const auto y = host.process(x, 512);
            ASSERT_TRUE(all_finite(y)) << "port " << port << " value " << v;
            ++tried;
        }
    }
    for (float v : nasty) {
        PluginHost host(rate, 512, 1);
        for (uint32_t port = 0; port < MORVANE_NUM_CONTROLS; ++port)
            host.controls()[port] = v;
        ASSERT_TRUE(all_finite(host.process(x, 512))) << "every port at " << v;
        host.controls() = default_controls();
        const auto y = host.process(tone(9600, 440.0, rate), 512);
        EXPECT_TRUE(all_finite(y));
        EXPECT_GT(rms(y, 4800, 9600), 0.05) << "every port was " << v;
        ++tried;
    }
    EXPECT_EQ(tried, static_cast<int>(MORVANE_NUM_CONTROLS * 10 + 10));
}

// At every common rate a tone and noise give finite output and the tone
// comes out at its own frequency and level.
TEST(SampleRates, EveryRateFrom8kTo384kGivesFiniteOutputCarryingTheTone)
{
    for (double rate : {8000.0, 11025.0, 16000.0, 22050.0, 32000.0, 44100.0, 48000.0,
                        88200.0, 96000.0, 176400.0, 192000.0, 384000.0}) {
        const std::size_t n = static_cast<std::size_t>(rate * 0.6);
        auto x = tone(n, 440.0, rate, 0.4);
        uint32_t lcg = 99;
        for (std::size_t i = n / 2; i < n; ++i) {
            lcg = lcg * 1664525u + 1013904223u;
            x[i] += (static_cast<float>(lcg >> 8) / 16777216.0f - 0.5f) * 0.4f;
        }
        PluginHost host(rate, 1024, 5);
        ASSERT_TRUE(host.ok()) << rate;
        const auto y = host.process(x, 1024);
        ASSERT_TRUE(all_finite(y)) << rate;
        const std::size_t a = static_cast<std::size_t>(rate * 0.2), b = static_cast<std::size_t>(rate * 0.3);
        const double at_tone = level_at(y, a, b, 440.0, rate);
        // Resonators above the Nyquist frequency (at rates below 40 kHz)
        // are silent, so no alias of the tone is added to it.
        EXPECT_NEAR(at_tone, 0.4, 0.08) << rate;
        EXPECT_GT(rms(y, n / 2, n), 0.05) << rate;
    }
}
