// SPDX-License-Identifier: LGPL-2.1-or-later
// The effect engine against input no signal chain should deliver: huge
// finite samples are held at the engine's input bound, inputs within
// +-1e4 are processed exactly as the plain pipeline computes them, and the
// setter values the public header calls safe keep the output finite.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <quivex/libquivex.h>
#include <tembra/libtembra.h>

#include "libquivex_internal.h"
#include "shake.h"

namespace {

constexpr int kRate = 48000;
constexpr int kReso = 112;
constexpr float kBound = 1e6f;  // the engine's input bound

// Engine made right after srand(seed): equal seeds, equal phase offsets.
struct Eng {
    explicit Eng(unsigned seed, unsigned long rate = kRate)
    {
        std::srand(seed);
        q = libquivex_new(rate);
    }
    ~Eng() { libquivex_free(q); }
    Eng(const Eng&) = delete;
    Eng& operator=(const Eng&) = delete;
    std::vector<float> run(std::vector<float> x, int block = 256)
    {
        for (std::size_t pos = 0; pos < x.size(); pos += static_cast<std::size_t>(block)) {
            const int len = std::min<int>(block, static_cast<int>(x.size() - pos));
            libquivex_next_buffer(q, x.data() + pos, len);
        }
        return x;
    }
    libquivex q;
};

void shake_hard(libquivex q)
{
    libquivex_set_gain(q, 3.98f);
    libquivex_set_lfo_amp_amp(q, 2.0f);
    libquivex_set_lfo_amp_freq(q, 11.0f);
    libquivex_set_lfo_amp_amount(q, 1.0f);
    libquivex_set_lfo_amp_mod(q, 0.2f);
    libquivex_set_lfo_freq_amp(q, 1.386294f);
    libquivex_set_lfo_freq_freq(q, 7.0f);
    libquivex_set_lfo_freq_amount(q, 1.0f);
    libquivex_set_lfo_freq_mod(q, 0.7f);
    libquivex_set_lfo_time_amp(q, 1.0f);
    libquivex_set_lfo_time_freq(q, 3.0f);
    libquivex_set_lfo_time_amount(q, 1.0f);
    libquivex_set_lfo_time_mod(q, 0.5f);
}

// The per-sample pipeline written out without any input guard: two
// resonator engines and the shake stages on a record of their own.
struct PlainPipeline {
    explicit PlainPipeline(unsigned seed, int rate = kRate) : rate(rate), ai(kReso), fi(kReso), pi(kReso)
    {
        std::srand(seed);
        lr0 = libtembra_new(rate, kReso, 20.0f, 20000.0f, 31);
        lr1 = libtembra_new(rate, kReso, 20.0f, 20000.0f, 31);
        rec = static_cast<_libquivex*>(std::calloc(1, sizeof(_libquivex)));
        rec->_srate = static_cast<unsigned long>(rate);
        rec->_num_reso = kReso;
        rec->_gain = 1.0f;
        shake_state_new(rec);
    }
    ~PlainPipeline()
    {
        libtembra_free(lr0);
        libtembra_free(lr1);
        shake_state_free(rec);
        std::free(rec);
    }
    PlainPipeline(const PlainPipeline&) = delete;
    PlainPipeline& operator=(const PlainPipeline&) = delete;

    void buffer(float* buf, int n)
    {
        for (auto& l : rec->_lfos)
            lfo_comp_phase_incr(&l, rate);
        for (int i = 0; i < n; ++i) {
            libtembra_update(lr0, buf[i]);
            libtembra_get_buffers(lr0, ai.data(), fi.data(), pi.data());
            shake_stages(rec, ai.data(), fi.data(), kReso);
            libtembra_update_synth(lr1, ai.data(), fi.data(), pi.data());
            const float out = libtembra_get_synth(lr1);
            for (auto& l : rec->_lfos)
                lfo_incr_phase(&l);
            buf[i] = out * rec->_gain;
        }
    }

    int rate;
    libtembra lr0, lr1;
    _libquivex* rec;
    std::vector<float> ai, fi, pi;
};

// Loud material within +-1e4: tones of every level up to the limit,
// noise, a square wave and samples exactly at +-1e4.
std::vector<float> loud_signal(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(-1e4f, 1e4f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const int part = (i * 5) / n;
        const double t = static_cast<double>(i) / kRate;
        float v = 0.0f;
        if (part == 0)
            v = static_cast<float>(1e4 * std::sin(2.0 * M_PI * 440.0 * t));
        else if (part == 1)
            v = u(gen);
        else if (part == 2)
            v = ((i / 60) % 2) ? 1e4f : -1e4f;
        else if (part == 3)
            v = static_cast<float>(std::pow(10.0, (i % 97) / 24.0)) * ((i % 2) ? 1.0f : -1.0f);
        else
            v = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * t));
        x[static_cast<std::size_t>(i)] = v;
    }
    return x;
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

}  // namespace

TEST(InputBound, InputWithinTenThousandIsProcessedExactlyAsThePlainPipeline)
{
    // Neither the input bound nor the silencing of resonators above the
    // Nyquist frequency (rates below 40 kHz only) changes a single bit
    // from 44.1 kHz up.
    struct Case {
        int rate;
        bool shaken;
    };
    for (const Case c : {Case{48000, false}, Case{48000, true}, Case{44100, true}, Case{96000, true}}) {
        const auto x = loud_signal(c.rate / 2, c.shaken ? 3u : 4u);
        Eng e(77, static_cast<unsigned long>(c.rate));
        ASSERT_NE(e.q, nullptr);
        PlainPipeline plain(77, c.rate);
        if (c.shaken) {
            shake_hard(e.q);
            shake_hard(plain.rec);
        }
        const auto y = e.run(x, 300);
        auto z = x;
        for (std::size_t pos = 0; pos < z.size(); pos += 300)
            plain.buffer(z.data() + pos, std::min<int>(300, static_cast<int>(z.size() - pos)));
        for (std::size_t i = 0; i < y.size(); ++i)
            ASSERT_EQ(std::memcmp(&y[i], &z[i], sizeof(float)), 0)
                << "sample " << i << " input " << x[i] << " rate " << c.rate << " shaken " << c.shaken;
    }
}

// Level of the component at freq in x[from, to), by correlation with a
// Hann-windowed complex exponential.
double level_at(const std::vector<float>& x, std::size_t from, std::size_t to, double freq, double rate)
{
    double re = 0.0, im = 0.0, wsum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i - from) / static_cast<double>(to - from));
        const double ph = 2.0 * M_PI * freq * static_cast<double>(i) / rate;
        re += w * x[i] * std::cos(ph);
        im += w * x[i] * std::sin(ph);
        wsum += w;
    }
    return 2.0 * std::hypot(re, im) / wsum;
}

TEST(NyquistGrid, ResonatorsAboveNyquistAreSilentSoAToneKeepsItsLevel)
{
    // At 16 kHz a 440 Hz tone has aliases at 15.56 and 16.44 kHz, where the
    // grid has resonators; left audible they would add the tone twice more.
    // The engine keeps them silent: the plain pipeline (everything audible)
    // and the engine differ, and the engine gives the tone at its level.
    for (int rate : {8000, 16000, 22050, 32000}) {
        std::vector<float> x(static_cast<std::size_t>(rate) / 2);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(0.4 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / rate));
        Eng e(12, static_cast<unsigned long>(rate));
        const auto y = e.run(x);
        const std::size_t a = x.size() / 2, b = x.size();
        const double level = level_at(y, a, b, 440.0, rate);
        EXPECT_NEAR(level, 0.4, 0.06) << rate;
        // The silenced resonators' oscillators carry nothing.
        std::vector<float> nat(kReso);
        libtembra_get_natural_frequencies(e.q->_lr0, nat.data());
        for (int k = 0; k < kReso; ++k) {
            if (nat[static_cast<std::size_t>(k)] >= 0.5f * static_cast<float>(rate)) {
                ASSERT_EQ(e.q->_ai_buf[k], 0.0f) << rate << " resonator " << k;
            }
        }
    }
    // The aliases really are there without the silencing.
    std::vector<float> x(8000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.4 * std::sin(2.0 * M_PI * 440.0 * static_cast<double>(i) / 16000.0));
    PlainPipeline plain(12, 16000);
    plain.buffer(x.data(), static_cast<int>(x.size()));
    EXPECT_GT(level_at(x, 4000, 8000, 440.0, 16000.0), 0.5);
}

TEST(InputBound, HugeFiniteSamplesActAsTheBoundAndKeepOutputFinite)
{
    const float huge[] = {1.0001e6f, 1e7f, 1e19f, 2e19f, 1e30f, FLT_MAX};
    for (float h : huge) {
        // A burst of a square wave at +-h between two stretches of tone.
        std::vector<float> x(9600);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 500.0 * static_cast<double>(i) / kRate));
        auto held = x;
        for (std::size_t i = 2400; i < 2400 + 480; ++i) {
            x[i] = ((i / 24) % 2) ? h : -h;
            held[i] = ((i / 24) % 2) ? kBound : -kBound;
        }
        Eng a(5), b(5);
        shake_hard(a.q);
        shake_hard(b.q);
        const auto ya = a.run(x);
        const auto yb = b.run(held);
        EXPECT_TRUE(all_finite(ya)) << h;
        EXPECT_EQ(ya, yb) << h;
    }
}

TEST(InputBound, UnguardedPipelineIsPoisonedByWhatTheBoundKeepsOut)
{
    // Why the bound is needed: a 1 kHz tone at 1e20 drives the resonator
    // near it to |C| = 5e19, whose power overflows float; fed to the plain
    // pipeline, the output is never finite again.
    std::vector<float> x(9600);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double level = i < 4800 ? 1e20 : 0.5;
        x[i] = static_cast<float>(level * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
    }
    auto y = x;
    PlainPipeline plain(5);
    plain.buffer(x.data(), static_cast<int>(x.size()));
    EXPECT_FALSE(std::isfinite(x.back()));
    // The engine itself stays finite on the same input.
    Eng e(5);
    EXPECT_TRUE(all_finite(e.run(y)));
}

// Every setter swept over the values the public header calls safe, with
// the other stages at their most extreme safe settings, on full-scale
// noise, a tone and a square wave at the input bound: always finite.
TEST(SetterRanges, DocumentedSafeValuesKeepOutputFinite)
{
    using Setter = void (*)(libquivex, float);
    struct Row {
        Setter set;
        std::vector<float> values;
    };
    const float rate = static_cast<float>(kRate);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<Row> rows = {
        {libquivex_set_gain, {-1e20f, -1.0f, 0.0f, 1e-30f, 4.0f, 1e20f}},
        {libquivex_set_lfo_amp_amp, {-1e6f, -2.0f, 0.0f, 2.0f, 1e6f}},
        {libquivex_set_lfo_amp_freq, {-rate, -1.0f, 0.0f, 0.01f, 20.0f, 24000.0f, rate}},
        {libquivex_set_lfo_amp_amount, {0.0f, 0.5f, 1.0f}},
        {libquivex_set_lfo_amp_mod, {0.0f, 1e-6f, 0.5f, 1.0f}},
        {libquivex_set_lfo_freq_amp, {-20.0f, -1.386294f, 0.0f, 1.386294f, 20.0f}},
        {libquivex_set_lfo_freq_freq, {-rate, 0.0f, 5.0f, rate}},
        {libquivex_set_lfo_freq_amount, {0.0f, 0.5f, 1.0f}},
        {libquivex_set_lfo_freq_mod, {0.0f, 1e-6f, 0.5f, 1.0f}},
        {libquivex_set_lfo_time_amp, {-1e30f, -1.0f, 0.0f, 0.5f, 1.0f, 100.0f, 1e30f}},
        {libquivex_set_lfo_time_freq, {-rate, 0.0f, 0.5f, rate}},
        {libquivex_set_lfo_time_amount, {0.0f, 0.5f, 1.0f}},
        {libquivex_set_lfo_time_mod, {0.0f, 1e-6f, 0.5f, 1.0f}},
        // The range LFOs feed nothing: any value at all.
        {libquivex_set_lfo_amp_range_amp, {-FLT_MAX, nan}},
        {libquivex_set_lfo_freq_range_mod, {-inf, 7.0f}},
        {libquivex_set_lfo_time_range_freq, {inf, nan}},
    };
    std::vector<float> x(2400);
    std::mt19937 gen(11);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const int part = static_cast<int>(i / 800);
        x[i] = part == 0 ? u(gen)
             : part == 1 ? static_cast<float>(std::sin(0.1 * static_cast<double>(i)))
                         : (((i / 30) % 2) ? kBound : -kBound);
    }
    int runs = 0;
    for (const Row& row : rows) {
        for (float v : row.values) {
            Eng e(3);
            ASSERT_NE(e.q, nullptr);
            shake_hard(e.q);
            libquivex_set_gain(e.q, 1e20f);
            row.set(e.q, v);
            const auto y = e.run(x, 128);
            ASSERT_TRUE(all_finite(y)) << "row " << (&row - rows.data()) << " value " << v;
            ++runs;
        }
    }
    EXPECT_GT(runs, 50);
}

TEST(SetterRanges, ShapeOutsideZeroToOneOrNanDepthIsNotSafe)
{
    // The values the header warns about really do break the output, which
    // is why the plug-in clamps its ports: a negative shape takes the
    // logarithm of a negative number, a shape above 1 raises 0 to a
    // negative power, and a NaN depth spreads into every amplitude.
    struct Case {
        void (*set)(libquivex, float);
        float value;
    };
    const Case cases[] = {
        {libquivex_set_lfo_amp_mod, -0.5f},
        {libquivex_set_lfo_amp_mod, 1.5f},
        {libquivex_set_lfo_amp_amp, std::numeric_limits<float>::quiet_NaN()},
        {libquivex_set_lfo_freq_amp, 200.0f},
    };
    std::vector<float> x(4800);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.5 * std::sin(0.07 * static_cast<double>(i)));
    for (const Case& c : cases) {
        Eng e(3);
        libquivex_set_lfo_amp_amount(e.q, 1.0f);
        libquivex_set_lfo_freq_amount(e.q, 1.0f);
        libquivex_set_lfo_amp_freq(e.q, 100.0f);
        libquivex_set_lfo_freq_freq(e.q, 100.0f);
        libquivex_set_lfo_amp_amp(e.q, 1.0f);
        c.set(e.q, c.value);
        EXPECT_FALSE(all_finite(e.run(x))) << c.value;
    }
}

TEST(InputBound, ToneComesBackAfterBurstAtTheBound)
{
    // After a burst at the bound the low resonators ring for seconds (their
    // smoothing time is up to 150 ms), yet the output stays finite and
    // returns to the level of an engine that heard only the tone.
    std::vector<float> x(static_cast<std::size_t>(kRate) * 3);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / kRate));
    auto burst = x;
    for (std::size_t i = 4800; i < 4800 + 480; ++i)
        burst[i] = FLT_MAX;
    Eng a(8), b(8);
    const auto ya = a.run(burst);
    const auto yb = b.run(x);
    ASSERT_TRUE(all_finite(ya));
    const std::size_t from = x.size() - kRate / 10;
    const double clean = rms(yb, from, x.size());
    ASSERT_GT(clean, 0.05);
    EXPECT_NEAR(rms(ya, from, x.size()) / clean, 1.0, 0.1);
}
