// SPDX-License-Identifier: LGPL-2.1-or-later
// One hour of varied audio at 48 kHz through the effect engine, with all
// three shake LFOs moving and their settings changing every few seconds,
// in the plug-in's floating-point mode. Throughout, the output must stay
// finite and bounded; at the end the LFOs must still be moving and every
// oscillator phasor (the analysis bank's and the resynthesis bank's) must
// still lie on the unit circle.
//
// MORVANE_SOAK_SECONDS shortens the run for a quick look (default 3600).
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <quivex/libquivex.h>

#include "damp_oscillator_bank_vec_internal.h"
#include "libquivex_internal.h"
#include "shake.h"
#include "libtembra_internal.h"
#include "denormal_guard.h"
#include "morvane_internal.h"
#include "tracking_resonator_bank_vec_internal.h"

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 256;
constexpr double kTwoPi = 6.283185307179586;

// Largest deviation of |Z| from 1 in the analysis banks (which renormalise
// Z every sample) and in the resynthesis banks (which only rotate it, so
// rounding in W can move it off the circle slowly), over both engines.
struct Drift {
    double analysis = 0.0;
    double synthesis = 0.0;
};

Drift phasor_drift(const _libquivex* q)
{
    Drift worst;
    for (const libtembra e : {q->_lr0, q->_lr1}) {
        const _tracking_resonator_bank_vec* t = e->_bank;
        for (int i = 0; i < t->_num_resonators; ++i) {
            const double m = std::hypot(double(t->_p_Zc[i]), double(t->_p_Zs[i]));
            worst.analysis = std::max(worst.analysis, std::fabs(m - 1.0));
        }
        const _damp_oscillator_bank_vec* d = e->_damp_obank;
        for (int i = 0; i < d->_num_oscillators; ++i) {
            const double m = std::hypot(double(d->_Zc[i]), double(d->_Zs[i]));
            worst.synthesis = std::max(worst.synthesis, std::fabs(m - 1.0));
        }
    }
    return worst;
}

// A source of varied test audio: every segment of a few seconds picks a
// kind (tones, a chord with vibrato, a sweep, noise, clicks, a square
// wave, silence, near-silence) and a level from -80 dB to 0 dB.
class Material {
public:
    explicit Material(unsigned seed) : _gen(seed) { next_segment(); }

    float next()
    {
        if (--_left <= 0)
            next_segment();
        const double t = static_cast<double>(_n++) / kRate;
        double v = 0.0;
        switch (_kind) {
            case 0: v = std::sin(kTwoPi * _f * t); break;
            case 1:
                for (int k = 1; k <= 4; ++k)
                    v += std::sin(kTwoPi * _f * k * t + 0.3 * std::sin(kTwoPi * 5.0 * t)) / k;
                v *= 0.5;
                break;
            case 2: _phase += kTwoPi * _f * (1.0 + 20.0 * std::fmod(t, 2.0)) / kRate;
                    v = std::sin(_phase); break;
            case 3: v = _noise(_gen); break;
            case 4: v = (_n % 4800 == 0) ? 1.0 : 0.0; break;
            case 5: v = std::sin(kTwoPi * _f * t) >= 0.0 ? 1.0 : -1.0; break;
            case 6: v = 0.0; break;
            default: v = 1e-30 * _noise(_gen); break;
        }
        return static_cast<float>(_level * v);
    }

    // New shake settings inside the plug-in's port ranges, all three
    // LFOs wet and moving.
    void shake(libquivex q)
    {
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        libquivex_set_gain(q, 0.5f + u(_gen));
        libquivex_set_lfo_amp_amp(q, 2.0f * u(_gen));
        libquivex_set_lfo_amp_freq(q, 0.01f + 19.99f * u(_gen));
        libquivex_set_lfo_amp_amount(q, 0.2f + 0.8f * u(_gen));
        libquivex_set_lfo_amp_mod(q, u(_gen));
        libquivex_set_lfo_freq_amp(q, 1.386294f * u(_gen));
        libquivex_set_lfo_freq_freq(q, 0.01f + 19.99f * u(_gen));
        libquivex_set_lfo_freq_amount(q, 0.2f + 0.8f * u(_gen));
        libquivex_set_lfo_freq_mod(q, u(_gen));
        libquivex_set_lfo_time_amp(q, u(_gen));
        libquivex_set_lfo_time_freq(q, 0.01f + 19.99f * u(_gen));
        libquivex_set_lfo_time_amount(q, 0.2f + 0.8f * u(_gen));
        libquivex_set_lfo_time_mod(q, u(_gen));
    }

private:
    void next_segment()
    {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        _kind = static_cast<int>(u(_gen) * 8.0);
        _f = 30.0 * std::pow(400.0, u(_gen));  // 30 Hz to 12 kHz
        _level = std::pow(10.0, -4.0 * u(_gen));
        _left = static_cast<long>((1.0 + 9.0 * u(_gen)) * kRate);
    }

    std::mt19937 _gen;
    std::normal_distribution<double> _noise{0.0, 0.3};
    int _kind = 0;
    double _f = 440.0, _level = 1.0, _phase = 0.0;
    long _left = 0, _n = 0;
};

}  // namespace

TEST(Soak, OneHourOfShakenAudioStaysFiniteBoundedAndOnTheUnitCircle)
{
    const char* env = std::getenv("MORVANE_SOAK_SECONDS");
    const long seconds = env ? std::atol(env) : 3600;
    ASSERT_GT(seconds, 0);
    const tembra_fp::DenormalGuard guard;
    std::srand(1);
    libquivex q = libquivex_new(kRate);
    ASSERT_NE(q, nullptr);
    Material material(2026);
    material.shake(q);

    const auto start = std::chrono::steady_clock::now();
    const long blocks = seconds * kRate / kBlock;
    std::vector<float> buf(kBlock);
    double peak = 0.0;
    Drift worst;
    long nonfinite = 0;
    float phases_before_end[NUM_LFOS] = {};
    for (long b = 0; b < blocks; ++b) {
        if (b % 2000 == 0)  // new settings about every 10.7 s
            material.shake(q);
        for (float& v : buf)
            v = material.next();
        if (b == blocks - 1)
            for (int j = 0; j < NUM_LFOS; ++j)
                phases_before_end[j] = q->_lfos[j]._phase;
        libquivex_next_buffer(q, buf.data(), kBlock);
        for (float v : buf) {
            if (!std::isfinite(v))
                ++nonfinite;
            else
                peak = std::max(peak, static_cast<double>(std::fabs(v)));
        }
        if (b % (60 * kRate / kBlock) == 0 || b == blocks - 1)
        {
            const Drift d = phasor_drift(q);
            worst.analysis = std::max(worst.analysis, d.analysis);
            worst.synthesis = std::max(worst.synthesis, d.synthesis);
            if (b % (600 * kRate / kBlock) == 0) {
                std::printf("soak: %5ld s, |Z| off by %.3g (analysis) %.3g (resynthesis)\n",
                            b * kBlock / kRate, d.analysis, d.synthesis);
                std::fflush(stdout);
            }
        }
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(nonfinite, 0);
    // Input within +-1 and a gain below 1.5: the resynthesis stays well
    // inside +-100.
    EXPECT_LT(peak, 100.0);
    for (int j = LFO_SHAKE_AMP; j <= LFO_SHAKE_TIME; ++j) {
        EXPECT_NE(q->_lfos[j]._phase, phases_before_end[j]) << "LFO " << j << " stopped";
        EXPECT_GE(q->_lfos[j]._phase, 0.0f);
        EXPECT_LT(q->_lfos[j]._phase, 6.2831855f);
    }
    // The analysis phasors are renormalised every sample and stay within
    // rounding of the circle. The resynthesis phasors are only rotated: the
    // rounding of each W moves |Z| by up to about 1e-7 per sample, which
    // over an hour adds up to some 0.1 (less than 1 dB of level). The bound
    // catches a runaway, not that slow walk.
    EXPECT_LT(worst.analysis, 1e-6);
    EXPECT_LT(worst.synthesis, 0.25);
    std::printf("soak: %ld s of audio in %.1f s, peak |y| %.3g, nonfinite %ld, "
                "largest ||Z| - 1| %.3g (analysis) %.3g (resynthesis)\n",
                seconds, wall, peak, nonfinite, worst.analysis, worst.synthesis);
    libquivex_free(q);
}

TEST(Soak, TwoMinutesOfSilenceLeaveResynthesisPhasorsOnTheUnitCircle)
{
    // In silence every resynthesis oscillator sits at its natural frequency
    // with the same W for every sample, so the rounding of that W moves |Z|
    // the same way each time: the walk off the circle is systematic, not
    // random, and grows without limit. When sound returns, each partial
    // comes out scaled by its |Z|.
    const tembra_fp::DenormalGuard guard;
    std::srand(1);
    libquivex q = libquivex_new(kRate);
    ASSERT_NE(q, nullptr);
    std::vector<float> buf(kBlock, 0.0f);
    for (long b = 0; b < 120L * kRate / kBlock; ++b) {
        std::fill(buf.begin(), buf.end(), 0.0f);
        libquivex_next_buffer(q, buf.data(), kBlock);
    }
    const _damp_oscillator_bank_vec* d = q->_lr1->_damp_obank;
    double lo = 2.0, hi = 0.0;
    for (int i = 0; i < d->_num_oscillators; ++i) {
        const double m = std::hypot(double(d->_Zc[i]), double(d->_Zs[i]));
        lo = std::min(lo, m);
        hi = std::max(hi, m);
    }
    std::printf("after 120 s of silence: |Z| from %.4f to %.4f\n", lo, hi);
    EXPECT_GT(lo, 0.99);
    EXPECT_LT(hi, 1.01);
    libquivex_free(q);
}
