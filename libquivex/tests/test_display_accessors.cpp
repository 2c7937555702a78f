// SPDX-License-Identifier: LGPL-2.1-or-later
// The engine's read-only accessors for a display: the partials it analysed
// and resynthesised, the shake LFOs' values, and one LFO cycle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include <quivex/libquivex.h>

#include "libquivex_internal.h"

namespace {

constexpr int kRate = 48000;
constexpr int N = LIBQUIVEX_NUM_RESONATORS;

std::vector<float> tone(double hz, double amplitude, int n)
{
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * hz * i / kRate));
    return x;
}

struct Partials {
    std::vector<float> aa = std::vector<float>(N), af = std::vector<float>(N), sa = std::vector<float>(N),
                       sf = std::vector<float>(N);
    int audible = -1;
    void read(libquivex q) { audible = libquivex_get_partials(q, aa.data(), af.data(), sa.data(), sf.data()); }
};

}  // namespace

TEST(DisplayAccessors, ToneShowsAtItsFrequencyAndLevel)
{
    std::srand(3);
    libquivex q = libquivex_new(kRate);
    ASSERT_NE(q, nullptr);
    auto x = tone(1000.0, 0.5, kRate);
    libquivex_next_buffer(q, x.data(), static_cast<int>(x.size()));
    Partials p;
    p.read(q);
    EXPECT_EQ(p.audible, N);
    int loudest = 0;
    for (int k = 1; k < N; ++k)
        if (p.aa[static_cast<std::size_t>(k)] > p.aa[static_cast<std::size_t>(loudest)])
            loudest = k;
    EXPECT_NEAR(p.af[static_cast<std::size_t>(loudest)], 1000.0f, 5.0f);
    EXPECT_NEAR(p.aa[static_cast<std::size_t>(loudest)], 0.5f, 0.1f);
    // With every amount at 0 the shake changes nothing: what is played is
    // what was analysed.
    for (std::size_t k = 0; k < static_cast<std::size_t>(N); ++k) {
        EXPECT_EQ(p.sa[k], p.aa[k]) << k;
        EXPECT_EQ(p.sf[k], p.af[k]) << k;
    }
    libquivex_free(q);
}

TEST(DisplayAccessors, ReadingChangesNoOutputSample)
{
    const auto x = tone(440.0, 0.3, 20000);
    std::vector<float> plain = x, watched = x;
    std::srand(7);
    libquivex a = libquivex_new(kRate);
    std::srand(7);
    libquivex b = libquivex_new(kRate);
    ASSERT_TRUE(a && b);
    for (libquivex q : {a, b}) {
        libquivex_set_lfo_amp_amount(q, 1.0f);
        libquivex_set_lfo_freq_amount(q, 1.0f);
        libquivex_set_lfo_freq_freq(q, 3.0f);
        libquivex_set_lfo_time_amount(q, 0.5f);
    }
    Partials p;
    float lfo[3];
    for (std::size_t pos = 0; pos < x.size(); pos += 500) {
        libquivex_next_buffer(a, plain.data() + pos, 500);
        libquivex_next_buffer(b, watched.data() + pos, 500);
        p.read(b);
        libquivex_get_lfo_values(b, lfo);
    }
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_EQ(plain[i], watched[i]) << i;
    libquivex_free(a);
    libquivex_free(b);
}

TEST(DisplayAccessors, ShakenPartialsFollowTheFrequencyLfoAndSilenceAboveNyquist)
{
    // At 32 kHz the top of the grid lies above Nyquist: those resonators are
    // reported silent; the frequency LFO moves the played frequencies by
    // exp(its value) away from the analysed ones.
    std::srand(1);
    libquivex q = libquivex_new(32000);
    ASSERT_NE(q, nullptr);
    libquivex_set_lfo_freq_amount(q, 1.0f);
    libquivex_set_lfo_freq_amp(q, 0.5f);
    libquivex_set_lfo_freq_freq(q, 0.0f);
    std::vector<float> x(4000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * 700.0 * static_cast<double>(i) / 32000.0));
    libquivex_next_buffer(q, x.data(), static_cast<int>(x.size()));
    Partials p;
    p.read(q);
    ASSERT_GT(p.audible, 0);
    ASSERT_LT(p.audible, N);
    float lfo[3];
    libquivex_get_lfo_values(q, lfo);
    EXPECT_FLOAT_EQ(lfo[1], 0.5f);  // rate 0 holds the LFO at phase 0, its peak
    for (int k = 0; k < N; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (k >= p.audible) {
            EXPECT_EQ(p.sa[i], 0.0f) << k;
        }
        EXPECT_NEAR(p.sf[i], p.af[i] * std::exp(0.5f), p.af[i] * 1e-5f) << k;
    }
    libquivex_free(q);
}

TEST(DisplayAccessors, LfoWaveIsTheCurveTheEngineRuns)
{
    // Whatever phase the engine's LFOs stand at, the values it reports are
    // the wave's values at that phase, to the bit.
    std::srand(2);
    libquivex q = libquivex_new(kRate);
    ASSERT_NE(q, nullptr);
    libquivex_set_lfo_amp_amp(q, 1.5f);
    libquivex_set_lfo_amp_mod(q, 0.2f);
    libquivex_set_lfo_freq_amp(q, 0.9f);
    libquivex_set_lfo_freq_mod(q, 0.8f);
    libquivex_set_lfo_time_amp(q, 0.3f);
    libquivex_set_lfo_time_mod(q, 0.05f);
    std::vector<float> buf(64, 0.0f);
    libquivex_next_buffer(q, buf.data(), 64);  // the shapes take effect
    std::vector<float> amp(100), freq(100), time(100);
    libquivex_lfo_wave(LIBQUIVEX_LFO_AMP, 1.5f, 0.2f, amp.data(), 100);
    libquivex_lfo_wave(LIBQUIVEX_LFO_FREQ, 0.9f, 0.8f, freq.data(), 100);
    libquivex_lfo_wave(LIBQUIVEX_LFO_TIME, 0.3f, 0.05f, time.data(), 100);
    for (int k = 0; k < 100; ++k) {
        const float phase = static_cast<float>(6.283185307179586 * k / 100.0);
        for (int j = 0; j < 3; ++j)
            q->_lfos[j]._phase = phase;
        float lfo[3];
        libquivex_get_lfo_values(q, lfo);
        const auto i = static_cast<std::size_t>(k);
        EXPECT_EQ(lfo[0], amp[i]) << k;
        EXPECT_EQ(lfo[1], freq[i]) << k;
        EXPECT_EQ(lfo[2], time[i]) << k;
    }
    libquivex_free(q);

    // Bipolar within +-depth, the time LFO unipolar within 0..depth; a
    // shape of 0.5 is a plain cosine.
    std::vector<float> wave(100);
    libquivex_lfo_wave(LIBQUIVEX_LFO_FREQ, 0.7f, 0.5f, wave.data(), 100);
    for (int k = 0; k < 100; ++k)
        EXPECT_NEAR(wave[static_cast<std::size_t>(k)], 0.7 * std::cos(2.0 * M_PI * k / 100.0), 1e-5) << k;
    libquivex_lfo_wave(LIBQUIVEX_LFO_TIME, 0.4f, 0.5f, wave.data(), 100);
    for (float v : wave) {
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 0.4f);
    }
    // Nothing is written for a bad index or length.
    std::vector<float> untouched(4, 9.0f);
    libquivex_lfo_wave(7, 1.0f, 0.5f, untouched.data(), 4);
    libquivex_lfo_wave(LIBQUIVEX_LFO_AMP, 1.0f, 0.5f, untouched.data(), 0);
    for (float v : untouched)
        EXPECT_EQ(v, 9.0f);
}

// A phase set from outside is the one the next sample uses: the top of the
// wave at 0, the bottom at pi; many turns keep the fraction to float
// precision; NaN changes nothing; within a buffer the rate advances it.
TEST(EngineLfoPhase, SetPhaseIsTheNextSamplesPhaseTakenWithinOneTurn)
{
    std::srand(5);
    libquivex q = libquivex_new(kRate);
    ASSERT_NE(q, nullptr);
    libquivex_set_lfo_amp_amp(q, 1.0f);
    libquivex_set_lfo_amp_mod(q, 0.5f);
    float values[3], phases[3];

    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_AMP, M_PI);
    libquivex_get_lfo_values(q, values);
    EXPECT_NEAR(values[0], -1.0f, 1e-6f);
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_AMP, 0.0);
    libquivex_get_lfo_values(q, values);
    EXPECT_NEAR(values[0], 1.0f, 1e-6f);

    // A million turns and one radian, and one turn back from 0.25 rad.
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_FREQ, 2.0 * M_PI * 1e6 + 1.0);
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_TIME, 0.25 - 2.0 * M_PI);
    libquivex_get_lfo_phases(q, phases);
    EXPECT_NEAR(phases[1], 1.0f, 2e-6f);
    EXPECT_NEAR(phases[2], 0.25f, 1e-6f);
    // Just below a whole turn rounds to 2 pi in float, which is 0.
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_TIME, std::nextafter(2.0 * M_PI, 0.0));
    libquivex_get_lfo_phases(q, phases);
    EXPECT_EQ(phases[2], 0.0f);
    // Bad phases and bad LFO numbers change nothing.
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_FREQ, std::nan(""));
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_FREQ, INFINITY);
    libquivex_set_lfo_phase(q, 3, 2.0);
    libquivex_set_lfo_phase(q, -1, 2.0);
    libquivex_get_lfo_phases(q, phases);
    EXPECT_NEAR(phases[1], 1.0f, 2e-6f);
    EXPECT_EQ(phases[2], 0.0f);

    // 480 samples at 5 Hz from phase 1: a twentieth of a turn further.
    libquivex_set_lfo_amp_freq(q, 5.0f);
    libquivex_set_lfo_phase(q, LIBQUIVEX_LFO_AMP, 1.0);
    std::vector<float> x(480, 0.0f);
    libquivex_next_buffer(q, x.data(), static_cast<int>(x.size()));
    libquivex_get_lfo_phases(q, phases);
    // (480 float additions: within 1e-4 rad.)
    EXPECT_NEAR(phases[0], 1.0 + 2.0 * M_PI * 5.0 * 480 / kRate, 1e-4);
    libquivex_free(q);
}
