// SPDX-License-Identifier: LGPL-2.1-or-later
// The LFOs and the three shake stages, run on their own: LFO values and
// wave shapes, the phase kept within one turn, and what each stage does to
// a buffer at the ends of its dry/wet range.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include <quivex/ewma.h>
#include <quivex/filter_time.h>

#include "libquivex_internal.h"
#include "shake.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr float kTwoPiF = 6.2831855f;
constexpr int kReso = 112;
constexpr int kRate = 48000;

lfo make_lfo(float amp, float mod, float phase)
{
    lfo l;
    lfo_init(&l);
    l._amp = amp;
    l._mod = mod;
    l._phase = phase;
    return l;
}

// The parts of an engine record that the shake stages use, built without
// the two resonator engines.
class StageRig {
public:
    StageRig()
    {
        _rec = static_cast<_libquivex*>(std::calloc(1, sizeof(_libquivex)));
        _rec->_srate = kRate;
        _rec->_gain = 1.0f;
        _rec->_num_reso = kReso;
        shake_state_new(_rec);
    }
    ~StageRig()
    {
        shake_state_free(_rec);
        std::free(_rec);
    }
    StageRig(const StageRig&) = delete;
    StageRig& operator=(const StageRig&) = delete;

    libquivex get() { return _rec; }
    lfo& lfo_at(int j) { return _rec->_lfos[j]; }
    const float* alphas() const { return _rec->_alphas; }

private:
    _libquivex* _rec;
};

std::vector<float> random_values(unsigned seed, float lo, float hi)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(lo, hi);
    std::vector<float> v(kReso);
    for (auto& x : v)
        x = dist(gen);
    return v;
}

}  // namespace

TEST(Lfo, InitialisedLfoIsSilentCosineAtPhaseZero)
{
    lfo l;
    lfo_init(&l);
    EXPECT_EQ(l._amp, 0.0f);
    EXPECT_EQ(l._freq, 0.0f);
    EXPECT_EQ(l._amount, 0.0f);
    EXPECT_EQ(l._mod, 0.5f);
    EXPECT_EQ(l._phase, 0.0f);
    EXPECT_EQ(l._phase_incr, 0.0f);
    EXPECT_EQ(lfo_get_val(&l), 0.0f);
    EXPECT_EQ(lfo_get_val_norm(&l), 0.0f);
}

TEST(Lfo, PhaseZeroGivesFullDepthAtEveryRegularShapeButFlat)
{
    // cos 0 = 1 maps to the top of the sigmoid, which is 1 for every shape
    // below 1: both readings give exactly +amp.
    for (float mod : {0.0f, 0.25f, 0.5f, 0.75f}) {
        const lfo l = make_lfo(0.8f, mod, 0.0f);
        EXPECT_EQ(lfo_get_val(&l), 0.8f) << "mod " << mod;
        EXPECT_EQ(lfo_get_val_norm(&l), 0.8f) << "mod " << mod;
    }
    const lfo flat = make_lfo(0.8f, 1.0f, 0.0f);
    EXPECT_EQ(lfo_get_val(&flat), 0.0f);
    EXPECT_EQ(lfo_get_val_norm(&flat), 0.4f);
}

TEST(Lfo, HalfShapeIsPlainCosine)
{
    const float amp = 1.7f;
    for (int i = 0; i < 200; ++i) {
        const float phase = static_cast<float>(i) * 0.0314f;
        const lfo l = make_lfo(amp, 0.5f, phase);
        const double c = std::cos(static_cast<double>(phase));
        EXPECT_NEAR(lfo_get_val(&l), amp * c, 1e-6) << "phase " << phase;
        EXPECT_NEAR(lfo_get_val_norm(&l), amp * (1.0 + c) * 0.5, 1e-6) << "phase " << phase;
    }
}

TEST(Lfo, ZeroShapeIsSquareWaveInPhaseWithCosine)
{
    const float amp = 0.6f;
    for (int i = 0; i < 200; ++i) {
        const float phase = static_cast<float>(i) * 0.0314f + 0.001f;
        const lfo l = make_lfo(amp, 0.0f, phase);
        const bool up = std::cos(static_cast<double>(phase)) > 0.0;
        EXPECT_EQ(lfo_get_val(&l), up ? amp : -amp) << "phase " << phase;
        EXPECT_EQ(lfo_get_val_norm(&l), up ? amp : 0.0f) << "phase " << phase;
    }
}

TEST(Lfo, FullShapeIsConstantAtEveryPhase)
{
    for (int i = 0; i < 100; ++i) {
        const float phase = static_cast<float>(i) * 0.0628f;
        const lfo l = make_lfo(0.9f, 1.0f, phase);
        EXPECT_EQ(lfo_get_val(&l), 0.0f);
        EXPECT_EQ(lfo_get_val_norm(&l), 0.45f);
    }
}

TEST(Lfo, ShapingKeepsPeriodSignAndSymmetry)
{
    // The sigmoid acts after the cosine: for every shape the value has the
    // sign of the cosine, so its zero crossings (and its period) stay put,
    // and half a turn later it is mirrored.
    for (float mod : {0.1f, 0.3f, 0.7f, 0.9f}) {
        for (int i = 0; i < 100; ++i) {
            const float phase = static_cast<float>(i) * 0.0311f + 0.01f;
            const double c = std::cos(static_cast<double>(phase));
            const lfo l = make_lfo(1.0f, mod, phase);
            const lfo opposite = make_lfo(1.0f, mod, phase + static_cast<float>(kPi));
            const float v = lfo_get_val(&l);
            if (std::fabs(c) > 1e-3) {
                EXPECT_EQ(v > 0.0f, c > 0.0) << "mod " << mod << " phase " << phase;
            }
            EXPECT_NEAR(lfo_get_val(&opposite), -v, 1e-4) << "mod " << mod << " phase " << phase;
            const float n = lfo_get_val_norm(&l);
            EXPECT_GE(n, 0.0f);
            EXPECT_LE(n, 1.0f);
        }
    }
}

TEST(Lfo, ApplyAmountMixesDryAndScaled)
{
    const auto xs = random_values(3, -5.0f, 5.0f);
    lfo l = make_lfo(1.0f, 0.5f, 0.0f);
    for (float x : xs) {
        l._amount = 0.0f;
        EXPECT_EQ(lfo_apply_amount(&l, 0.37f, x), x);
        l._amount = 1.0f;
        EXPECT_EQ(lfo_apply_amount(&l, 0.37f, x), 0.37f * x);
        l._amount = 0.25f;
        EXPECT_NEAR(lfo_apply_amount(&l, -2.0f, x), x * (0.75 - 0.5), 1e-6);
    }
}

TEST(Lfo, MixesRoundOnlyTheWetProductToFloat)
{
    // The dry term and the sum are formed in double, the wet product in
    // float: over many inputs this differs from an all-float mix, and the
    // stages must give the documented one exactly.
    std::mt19937 gen(12);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> wide(-3.0f, 3.0f);
    int differs_from_float = 0;
    for (int i = 0; i < 2000; ++i) {
        lfo l = make_lfo(1.0f, 0.5f, 0.0f);
        l._amount = unit(gen);
        const float v = wide(gen);
        const float x = wide(gen);
        const float wet = (l._amount * v) * x;
        const float documented =
            static_cast<float>((1.0 - static_cast<double>(l._amount)) * static_cast<double>(x) + wet);
        const float all_float = (1.0f - l._amount) * x + wet;
        ASSERT_EQ(lfo_apply_amount(&l, v, x), documented) << i;
        differs_from_float += documented != all_float ? 1 : 0;
    }
    EXPECT_GT(differs_from_float, 0);
}

// Total advance of an LFO over steps samples, undoing the wraps.
static double unwrapped_advance(lfo* l, long steps)
{
    double advance = 0.0;
    for (long i = 0; i < steps; ++i) {
        const float before = l->_phase;
        lfo_incr_phase(l);
        double d = static_cast<double>(l->_phase) - static_cast<double>(before);
        if (d < 0.0)
            d += static_cast<double>(kTwoPiF);
        advance += d;
    }
    return advance;
}

TEST(LfoPhase, OneTurnPerPeriodAndHeldAtZeroRate)
{
    lfo l = make_lfo(1.0f, 0.5f, 0.0f);
    l._freq = 2.0f;
    lfo_comp_phase_incr(&l, kRate);
    // 2 Hz: ten turns in 240000 samples.
    EXPECT_NEAR(unwrapped_advance(&l, 240000), 20.0 * kPi, 20.0 * kPi * 2e-3);

    l._freq = 0.0f;
    lfo_comp_phase_incr(&l, kRate);
    const float held = l._phase;
    for (int i = 0; i < 1000; ++i)
        lfo_incr_phase(&l);
    EXPECT_EQ(l._phase, held);
}

TEST(LfoPhase, StaysWithinOneTurnForAnyRate)
{
    for (float freq : {0.3f, 7.0f, 1000.0f, 23999.0f, -4.0f, -20000.0f}) {
        lfo l = make_lfo(1.0f, 0.5f, 0.0f);
        l._freq = freq;
        lfo_comp_phase_incr(&l, kRate);
        for (int i = 0; i < 100000; ++i) {
            lfo_incr_phase(&l);
            ASSERT_GE(l._phase, 0.0f) << "freq " << freq << " step " << i;
            ASSERT_LT(l._phase, kTwoPiF) << "freq " << freq << " step " << i;
        }
    }
}

TEST(LfoPhase, WrapChangesNothingBeforeFirstTurnAndKeepsCosineAfter)
{
    lfo l = make_lfo(1.0f, 0.5f, 0.0f);
    l._freq = 3.0f;
    lfo_comp_phase_incr(&l, kRate);
    float unwrapped = 0.0f;
    int step = 0;
    while (unwrapped + l._phase_incr < kTwoPiF) {
        lfo_incr_phase(&l);
        unwrapped = unwrapped + l._phase_incr;
        ASSERT_EQ(l._phase, unwrapped) << "step " << step;
        ++step;
    }
    EXPECT_GT(step, 15000);
    // At the wrap the value is that of the unwrapped phase, and the next
    // turn takes as long as the first.
    lfo_incr_phase(&l);
    unwrapped = unwrapped + l._phase_incr;
    ASSERT_LT(l._phase, 0.01f);
    EXPECT_NEAR(lfo_get_val(&l), std::cos(static_cast<double>(unwrapped)), 1e-6);
    const int first_turn = step + 1;
    int second_turn = 0;
    float before = 0.0f;
    do {
        before = l._phase;
        lfo_incr_phase(&l);
        ++second_turn;
    } while (l._phase >= before);
    EXPECT_NEAR(second_turn, first_turn, 2);
}

TEST(LfoPhase, SlowLfoStillMovesAfterTwentyMinutes)
{
    lfo l = make_lfo(1.0f, 0.5f, 0.0f);
    l._freq = 1.0f;
    lfo_comp_phase_incr(&l, kRate);
    for (long i = 0; i < 20L * 60L * kRate; ++i)
        lfo_incr_phase(&l);
    // The next second still sweeps one full turn and the whole wave.
    lfo probe = l;
    EXPECT_NEAR(unwrapped_advance(&probe, kRate), 2.0 * kPi, 2.0 * kPi * 0.01);
    float lo = 2.0f;
    float hi = -2.0f;
    for (int i = 0; i < kRate; ++i) {
        lfo_incr_phase(&l);
        const float v = lfo_get_val(&l);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_GT(hi, 0.999f);
    EXPECT_LT(lo, -0.999f);
}

TEST(ShakeStages, ZeroAmountLeavesEveryBufferUnchanged)
{
    StageRig rig;
    for (int j : {LFO_SHAKE_AMP, LFO_SHAKE_FREQ, LFO_SHAKE_TIME}) {
        rig.lfo_at(j) = make_lfo(0.7f, 0.3f, 1.1f);
        rig.lfo_at(j)._amount = 0.0f;
    }
    for (int call = 0; call < 5; ++call) {
        const auto ai0 = random_values(10 + call, 0.0f, 2.0f);
        const auto fi0 = random_values(20 + call, 20.0f, 20000.0f);
        const auto pi0 = random_values(30 + call, -3.0f, 3.0f);
        auto ai = ai0;
        auto fi = fi0;
        auto pi = pi0;
        shake_amps(rig.get(), ai.data(), kReso);
        EXPECT_EQ(ai, ai0);
        shake_freqs(rig.get(), fi.data(), kReso);
        EXPECT_EQ(fi, fi0);
        shake_time(rig.get(), ai.data(), kReso);
        EXPECT_EQ(ai, ai0);
        shake_stages(rig.get(), ai.data(), fi.data(), kReso);
        EXPECT_EQ(ai, ai0);
        EXPECT_EQ(fi, fi0);
        EXPECT_EQ(pi, pi0);
    }
}

TEST(ShakeStages, FullAmountAtZeroDepthZeroesAmplitudes)
{
    StageRig rig;
    rig.lfo_at(LFO_SHAKE_AMP)._amount = 1.0f;
    for (float phase : {0.0f, 1.0f, 3.0f}) {
        rig.lfo_at(LFO_SHAKE_AMP)._phase = phase;
        auto ai = random_values(5, -1.0f, 3.0f);
        shake_amps(rig.get(), ai.data(), kReso);
        for (float a : ai)
            EXPECT_EQ(a, 0.0f);
    }
}

TEST(ShakeStages, FullAmountScalesAmplitudesByLfoIncludingSignFlip)
{
    StageRig rig;
    lfo& l = rig.lfo_at(LFO_SHAKE_AMP);
    l = make_lfo(1.0f, 0.5f, 0.0f);
    l._amount = 1.0f;
    const auto ai0 = random_values(6, 0.0f, 2.0f);
    auto ai = ai0;
    shake_amps(rig.get(), ai.data(), kReso);
    EXPECT_EQ(ai, ai0);  // LFO at +1
    l._phase = static_cast<float>(kPi);
    ai = ai0;
    shake_amps(rig.get(), ai.data(), kReso);
    for (int k = 0; k < kReso; ++k)
        EXPECT_NEAR(ai[k], -ai0[k], 1e-6f) << k;
    l._amount = 0.5f;
    l._phase = static_cast<float>(kPi / 2.0);
    ai = ai0;
    shake_amps(rig.get(), ai.data(), kReso);  // LFO at 0: half the dry value
    for (int k = 0; k < kReso; ++k)
        EXPECT_NEAR(ai[k], 0.5f * ai0[k], 1e-6f) << k;
}

TEST(ShakeStages, FrequencyDepthIsInNaturalLogUnits)
{
    StageRig rig;
    lfo& l = rig.lfo_at(LFO_SHAKE_FREQ);
    const auto fi0 = random_values(7, 20.0f, 10000.0f);

    // Zero depth: pitch is exactly 1, frequencies stay whatever the amount.
    for (float amount : {0.0f, 0.5f, 1.0f}) {
        l = make_lfo(0.0f, 0.5f, 0.4f);
        l._amount = amount;
        auto fi = fi0;
        shake_freqs(rig.get(), fi.data(), kReso);
        EXPECT_EQ(fi, fi0) << "amount " << amount;
    }
    // Depth ln 2, fully wet: one octave up at the top of the wave, one down
    // half a turn later.
    l = make_lfo(static_cast<float>(std::log(2.0)), 0.5f, 0.0f);
    l._amount = 1.0f;
    auto fi = fi0;
    shake_freqs(rig.get(), fi.data(), kReso);
    for (int k = 0; k < kReso; ++k)
        EXPECT_NEAR(fi[k] / fi0[k], 2.0f, 1e-6f) << k;
    l._phase = static_cast<float>(kPi);
    fi = fi0;
    shake_freqs(rig.get(), fi.data(), kReso);
    for (int k = 0; k < kReso; ++k)
        EXPECT_NEAR(fi[k] / fi0[k], 0.5f, 1e-6f) << k;
}

TEST(ShakeStages, TimeLfoSetsSmoothingFromTenthOfMsUpwards)
{
    StageRig rig;
    lfo& l = rig.lfo_at(LFO_SHAKE_TIME);
    const float shortest = ewma_ms_to_alpha(kRate, 0.1f);
    auto ai = random_values(8, 0.0f, 1.0f);

    // Zero depth: 0.1 ms for every resonator, whatever the phase.
    for (float phase : {0.0f, 2.0f}) {
        l = make_lfo(0.0f, 0.5f, phase);
        shake_time(rig.get(), ai.data(), kReso);
        for (int k = 0; k < kReso; ++k)
            EXPECT_EQ(rig.alphas()[k], shortest) << k;
    }
    // Full depth at the top of the wave: 0.1 ms at the lowest resonator up
    // to 10 s at the highest, growing with the index.
    l = make_lfo(1.0f, 0.5f, 0.0f);
    shake_time(rig.get(), ai.data(), kReso);
    EXPECT_EQ(rig.alphas()[0], shortest);
    EXPECT_EQ(rig.alphas()[kReso - 1], ewma_ms_to_alpha(kRate, 10000.0f));
    EXPECT_FLOAT_EQ(rig.alphas()[kReso / 2 + 1], ewma_ms_to_alpha(kRate, 0.1f + 9999.9f * 57.0f / 111.0f));
    for (int k = 1; k < kReso; ++k)
        EXPECT_GT(rig.alphas()[k], rig.alphas()[k - 1]) << k;
}

TEST(ShakeStages, TimeFilterKeepsRunningWhileDry)
{
    // A stage held dry for a while and then turned wet gives what a stage
    // that was wet all along gives: the filter followed the amplitudes.
    StageRig dry_first;
    StageRig wet_always;
    for (StageRig* rig : {&dry_first, &wet_always}) {
        rig->lfo_at(LFO_SHAKE_TIME) = make_lfo(0.01f, 0.5f, 0.0f);
        rig->lfo_at(LFO_SHAKE_TIME)._amount = 1.0f;
    }
    dry_first.lfo_at(LFO_SHAKE_TIME)._amount = 0.0f;
    for (int call = 0; call < 60; ++call) {
        if (call == 40)
            dry_first.lfo_at(LFO_SHAKE_TIME)._amount = 1.0f;
        const auto ai0 = random_values(100 + call, 0.0f, 1.0f);
        auto a = ai0;
        auto b = ai0;
        shake_time(dry_first.get(), a.data(), kReso);
        shake_time(wet_always.get(), b.data(), kReso);
        if (call < 40) {
            ASSERT_EQ(a, ai0) << "call " << call;
        } else {
            ASSERT_EQ(a, b) << "call " << call;
        }
    }
}

TEST(ShakeStages, LongSmoothingHoldsHighResonatorsBackAndAmountMixes)
{
    StageRig rig;
    StageRig twin;
    for (StageRig* r : {&rig, &twin}) {
        r->lfo_at(LFO_SHAKE_TIME) = make_lfo(1.0f, 0.5f, 0.0f);
        r->lfo_at(LFO_SHAKE_TIME)._amount = 1.0f;
    }
    std::vector<float> a(kReso);
    std::vector<float> b(kReso);
    for (int call = 0; call < 48; ++call) {  // 1 ms of a unit step
        std::fill(a.begin(), a.end(), 1.0f);
        std::fill(b.begin(), b.end(), 1.0f);
        shake_time(rig.get(), a.data(), kReso);
        shake_time(twin.get(), b.data(), kReso);
    }
    EXPECT_GT(a[0], 0.999f);         // 0.1 ms: settled
    EXPECT_LT(a[kReso - 1], 0.01f);  // 10 s: barely moved
    for (int k = 1; k < kReso; ++k)
        EXPECT_LE(a[k], a[k - 1]) << k;

    // Half wet: the mean of the dry value and the smoothed one.
    rig.lfo_at(LFO_SHAKE_TIME)._amount = 0.5f;
    std::fill(a.begin(), a.end(), 1.0f);
    std::fill(b.begin(), b.end(), 1.0f);
    shake_time(rig.get(), a.data(), kReso);
    shake_time(twin.get(), b.data(), kReso);
    for (int k = 0; k < kReso; ++k)
        EXPECT_NEAR(a[k], 0.5f * (1.0f + b[k]), 1e-6f) << k;
}

// The time stage recomputes its coefficients only when the LFO value (or
// the buffer size) changed: whatever came before, the coefficients are the
// ones of the current value and size, bit for bit.
TEST(ShakeStages, TimeCoefficientsFollowTheLfoValueAndSizeWhenReused)
{
    StageRig rig;
    lfo& l = rig.lfo_at(LFO_SHAKE_TIME);
    auto ai = random_values(9, 0.0f, 1.0f);
    auto expect_alphas_of = [&](float lfo_val, int size) {
        for (int k = 0; k < size; ++k) {
            const float t = static_cast<float>(k) / static_cast<float>(size - 1);
            const float ms = static_cast<float>(static_cast<double>(t * lfo_val) * 9999.9 + 0.1);
            ASSERT_EQ(rig.alphas()[k], ewma_ms_to_alpha(kRate, ms)) << "size " << size << ", k " << k;
        }
    };
    l = make_lfo(0.7f, 0.5f, 1.0f);
    const float v1 = lfo_get_val_norm(&l);
    shake_time(rig.get(), ai.data(), kReso);
    expect_alphas_of(v1, kReso);
    // Same value, smaller size: positions k / (size - 1) of the new size.
    shake_time(rig.get(), ai.data(), 13);
    expect_alphas_of(v1, 13);
    // Another value, then back to the first.
    l = make_lfo(0.7f, 0.5f, 2.5f);
    shake_time(rig.get(), ai.data(), kReso);
    expect_alphas_of(lfo_get_val_norm(&l), kReso);
    l = make_lfo(0.7f, 0.5f, 1.0f);
    shake_time(rig.get(), ai.data(), kReso);
    expect_alphas_of(v1, kReso);
}

// The three shake values are remembered while the LFOs stand still; every
// change of a phase, a shape or a depth, and of the floating-point mode,
// gives the values a fresh evaluation gives.
TEST(ShakeStages, LfoValuesFollowEveryChangeOfPhaseShapeDepthAndMode)
{
    StageRig rig;
    auto expect_fresh = [&](const char* when) {
        float a, f, t;
        shake_lfo_values(rig.get(), &a, &f, &t);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(a), std::bit_cast<std::uint32_t>(lfo_get_val(&rig.lfo_at(LFO_SHAKE_AMP))))
            << when;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(f),
                  std::bit_cast<std::uint32_t>(lfo_get_val(&rig.lfo_at(LFO_SHAKE_FREQ))))
            << when;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(t),
                  std::bit_cast<std::uint32_t>(lfo_get_val_norm(&rig.lfo_at(LFO_SHAKE_TIME))))
            << when;
    };
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040u);
    for (int j : {LFO_SHAKE_AMP, LFO_SHAKE_FREQ, LFO_SHAKE_TIME}) {
        lfo& l = rig.lfo_at(j);
        l._amp = 0.8f;
        l._phase = 1.0f;
        l._mod = 0.3f;
    }
    expect_fresh("first values");
    expect_fresh("nothing changed");
    for (int j : {LFO_SHAKE_AMP, LFO_SHAKE_FREQ, LFO_SHAKE_TIME}) {
        lfo& l = rig.lfo_at(j);
        l._phase = std::nextafter(l._phase, 7.0f);
        expect_fresh("a phase one ulp on");
        l._mod = 0.7f;
        expect_fresh("a new shape");
        l._amp = -0.25f;
        expect_fresh("a new depth");
    }
    // A subnormal shape is read as zero with denormals-are-zero set, so the
    // same fields give other values in the other mode.
    rig.lfo_at(LFO_SHAKE_AMP)._mod = 1e-40f;
    rig.lfo_at(LFO_SHAKE_AMP)._phase = 1.5707964f;  // the curve's middle, where the shape tells
    expect_fresh("subnormal shape, flushed");
    _mm_setcsr(saved & ~0x8040u);
    expect_fresh("subnormal shape, kept");
    _mm_setcsr(saved);
}
