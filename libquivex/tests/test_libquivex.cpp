// SPDX-License-Identifier: LGPL-2.1-or-later
// The effect engine as a whole: creation and release, the per-sample
// pipeline against two resonator engines driven by hand, and the
// guarantees of the buffer interface (gain, block sizes, bad input,
// settings that must not change the sound).
#include <gtest/gtest.h>

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
#include "libquivex_restart.h"
#include "libtembra_internal.h"
#include "shaking.h"

// Under AddressSanitizer or ThreadSanitizer the sanitizer owns the C
// allocator and the address space: the allocator replacement below is left
// out and the tests that depend on it are skipped.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUIVEX_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUIVEX_TEST_SANITIZED 1
#endif
#endif
#ifndef QUIVEX_TEST_SANITIZED
#define QUIVEX_TEST_SANITIZED 0
#endif

// Allocation probe: the test executable's malloc, calloc and free pass
// through to the C library, and while armed they count allocations, can
// make one of them fail, and keep track of the blocks still alive.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void __libc_free(void* p);
}

namespace {
constexpr int kMaxTracked = 4096;
bool g_armed;
long g_fail_at;
long g_allocs;
int g_live;
void* g_blocks[kMaxTracked];

[[maybe_unused]] void* probe_track(void* p)
{
    if (p != nullptr && g_live < kMaxTracked)
        g_blocks[g_live++] = p;
    return p;
}

[[maybe_unused]] void probe_untrack(void* p)
{
    for (int i = 0; i < g_live; ++i) {
        if (g_blocks[i] == p) {
            g_blocks[i] = g_blocks[--g_live];
            return;
        }
    }
}

[[maybe_unused]] bool probe_fails_now() { return g_allocs++ == g_fail_at; }

void probe_arm(long fail_at)
{
    g_fail_at = fail_at;
    g_allocs = 0;
    g_live = 0;
    g_armed = true;
}

void probe_disarm() { g_armed = false; }
}  // namespace

#if !QUIVEX_TEST_SANITIZED
extern "C" void* malloc(std::size_t size) noexcept
{
    if (!g_armed)
        return __libc_malloc(size);
    if (probe_fails_now())
        return nullptr;
    return probe_track(__libc_malloc(size));
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept
{
    if (!g_armed)
        return __libc_calloc(count, size);
    if (probe_fails_now())
        return nullptr;
    return probe_track(__libc_calloc(count, size));
}

extern "C" void free(void* p) noexcept
{
    if (g_armed && p != nullptr)
        probe_untrack(p);
    __libc_free(p);
}
#endif

namespace {

constexpr int kRate = 48000;
constexpr int kReso = 112;
constexpr double kPi = 3.141592653589793;

// Tones at 220, 660 and 1500 Hz with a little noise, deterministic.
std::vector<float> test_signal(int n, unsigned seed = 1)
{
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    std::vector<float> x(n);
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        x[i] = static_cast<float>(0.3 * std::sin(2.0 * kPi * 220.0 * t) +
                                  0.2 * std::sin(2.0 * kPi * 660.0 * t + 0.5) +
                                  0.1 * std::sin(2.0 * kPi * 1500.0 * t + 1.0)) +
               noise(gen);
    }
    return x;
}

// An engine created right after srand(seed), so two engines made with the
// same seed draw the same random phase offsets.
struct Engine {
    explicit Engine(unsigned seed)
    {
        std::srand(seed);
        q = libquivex_new(kRate);
    }
    ~Engine() { libquivex_free(q); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Processes x in blocks of the given sizes, cycling through them.
    std::vector<float> run(std::vector<float> x, const std::vector<int>& blocks = {256})
    {
        std::size_t pos = 0;
        for (std::size_t b = 0; pos < x.size(); ++b) {
            const int len = std::min<int>(blocks[b % blocks.size()], static_cast<int>(x.size() - pos));
            libquivex_next_buffer(q, x.data() + pos, len);
            pos += static_cast<std::size_t>(len);
        }
        return x;
    }

    libquivex q;
};


// The analysis and resynthesis engines driven by hand, made like the
// effect engine makes them: one after the other, right after srand(seed).
struct HandPipeline {
    explicit HandPipeline(unsigned seed) : ai(kReso), fi(kReso), pi(kReso)
    {
        std::srand(seed);
        lr0 = libtembra_new(kRate, kReso, 20.0f, 20000.0f, 31);
        lr1 = libtembra_new(kRate, kReso, 20.0f, 20000.0f, 31);
    }
    ~HandPipeline()
    {
        libtembra_free(lr0);
        libtembra_free(lr1);
    }
    HandPipeline(const HandPipeline&) = delete;
    HandPipeline& operator=(const HandPipeline&) = delete;

    void analyse(float x)
    {
        libtembra_update(lr0, x);
        libtembra_get_buffers(lr0, ai.data(), fi.data(), pi.data());
    }
    float synthesise()
    {
        libtembra_update_synth(lr1, ai.data(), fi.data(), pi.data());
        return libtembra_get_synth(lr1);
    }

    libtembra lr0;
    libtembra lr1;
    std::vector<float> ai, fi, pi;
};

double rms(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    double e = 0.0;
    for (std::size_t i = from; i < to; ++i)
        e += static_cast<double>(x[i]) * x[i];
    return std::sqrt(e / static_cast<double>(to - from));
}

}  // namespace

TEST(EngineLifecycle, NewEngineHasDefaultsAndNullIsHarmless)
{
    libquivex_free(nullptr);
    EXPECT_EQ(libquivex_new(0), nullptr);

    libquivex q = libquivex_new(44100);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->_srate, 44100UL);
    EXPECT_EQ(q->_gain, 1.0f);
    EXPECT_EQ(q->_num_reso, kReso);
    ASSERT_NE(q->_lr0, nullptr);
    ASSERT_NE(q->_lr1, nullptr);
    EXPECT_NE(q->_lr0, q->_lr1);
    for (int j = 0; j < NUM_LFOS; ++j) {
        const lfo& l = q->_lfos[j];
        EXPECT_EQ(l._amp, 0.0f);
        EXPECT_EQ(l._freq, 0.0f);
        EXPECT_EQ(l._amount, 0.0f);
        EXPECT_EQ(l._mod, 0.5f);
        EXPECT_EQ(l._phase, 0.0f);
        EXPECT_EQ(l._phase_incr, 0.0f);
    }
    for (int k = 0; k < kReso; ++k)
        EXPECT_EQ(q->_alphas[k], 0.0f);
    libquivex_free(q);
}

TEST(EngineLifecycle, FailedAllocationAnywhereReturnsNullAndLeaksNothing)
{
    if (QUIVEX_TEST_SANITIZED)
        GTEST_SKIP() << "the sanitizer owns the allocator";
    long points = 0;
    for (long fail_at = 0;; ++fail_at) {
        probe_arm(fail_at);
        libquivex q = libquivex_new(kRate);
        const long made = g_allocs;
        const int live = g_live;
        probe_disarm();
        if (made <= fail_at) {  // every allocation succeeded
            ASSERT_NE(q, nullptr);
            EXPECT_GT(live, 0);
            g_armed = true;  // keep the blocks of the new engine tracked
            libquivex_free(q);
            const int left = g_live;
            probe_disarm();
            EXPECT_EQ(left, 0) << "blocks left after libquivex_free";
            points = made;
            break;
        }
        EXPECT_EQ(q, nullptr) << "allocation " << fail_at << " failed";
        EXPECT_EQ(live, 0) << "allocation " << fail_at << " failed";
        if (q != nullptr)
            libquivex_free(q);
        ASSERT_LT(fail_at, 10000);
    }
    // The engine's own eight allocations plus two resonator engines.
    EXPECT_GT(points, 8);
}

TEST(EngineLifecycle, EachSetterStoresItsValueInItsOwnField)
{
    using Setter = void (*)(libquivex, float);
    struct Row {
        Setter set;
        int lfo;
        float lfo::*field;
    };
    const Row rows[] = {
        {libquivex_set_lfo_amp_amp, LFO_SHAKE_AMP, &lfo::_amp},
        {libquivex_set_lfo_amp_freq, LFO_SHAKE_AMP, &lfo::_freq},
        {libquivex_set_lfo_amp_amount, LFO_SHAKE_AMP, &lfo::_amount},
        {libquivex_set_lfo_amp_mod, LFO_SHAKE_AMP, &lfo::_mod},
        {libquivex_set_lfo_freq_amp, LFO_SHAKE_FREQ, &lfo::_amp},
        {libquivex_set_lfo_freq_freq, LFO_SHAKE_FREQ, &lfo::_freq},
        {libquivex_set_lfo_freq_amount, LFO_SHAKE_FREQ, &lfo::_amount},
        {libquivex_set_lfo_freq_mod, LFO_SHAKE_FREQ, &lfo::_mod},
        {libquivex_set_lfo_time_amp, LFO_SHAKE_TIME, &lfo::_amp},
        {libquivex_set_lfo_time_freq, LFO_SHAKE_TIME, &lfo::_freq},
        {libquivex_set_lfo_time_amount, LFO_SHAKE_TIME, &lfo::_amount},
        {libquivex_set_lfo_time_mod, LFO_SHAKE_TIME, &lfo::_mod},
        {libquivex_set_lfo_amp_range_amp, LFO_AMP_RANGE, &lfo::_amp},
        {libquivex_set_lfo_amp_range_freq, LFO_AMP_RANGE, &lfo::_freq},
        {libquivex_set_lfo_amp_range_amount, LFO_AMP_RANGE, &lfo::_amount},
        {libquivex_set_lfo_amp_range_mod, LFO_AMP_RANGE, &lfo::_mod},
        {libquivex_set_lfo_freq_range_amp, LFO_FREQ_RANGE, &lfo::_amp},
        {libquivex_set_lfo_freq_range_freq, LFO_FREQ_RANGE, &lfo::_freq},
        {libquivex_set_lfo_freq_range_amount, LFO_FREQ_RANGE, &lfo::_amount},
        {libquivex_set_lfo_freq_range_mod, LFO_FREQ_RANGE, &lfo::_mod},
        {libquivex_set_lfo_time_range_amp, LFO_TIME_RANGE, &lfo::_amp},
        {libquivex_set_lfo_time_range_freq, LFO_TIME_RANGE, &lfo::_freq},
        {libquivex_set_lfo_time_range_amount, LFO_TIME_RANGE, &lfo::_amount},
        {libquivex_set_lfo_time_range_mod, LFO_TIME_RANGE, &lfo::_mod},
    };
    Engine e(1);
    ASSERT_NE(e.q, nullptr);
    libquivex_set_gain(e.q, -3.5f);
    EXPECT_EQ(e.q->_gain, -3.5f);
    int r = 0;
    for (const Row& row : rows) {
        // Out-of-range values are stored as they are.
        const float v = 100.25f + static_cast<float>(r++);
        row.set(e.q, v);
        int hits = 0;
        for (int j = 0; j < NUM_LFOS; ++j)
            for (float lfo::*f : {&lfo::_amp, &lfo::_freq, &lfo::_amount, &lfo::_mod})
                hits += (e.q->_lfos[j].*f == v) ? 1 : 0;
        EXPECT_EQ(e.q->_lfos[row.lfo].*row.field, v) << "row " << r - 1;
        EXPECT_EQ(hits, 1) << "row " << r - 1;
    }
}

TEST(EnginePipeline, DefaultEngineIsPlainResynthesisOfTwoResonatorEngines)
{
    const auto x = test_signal(12000);
    Engine e(42);
    ASSERT_NE(e.q, nullptr);
    const auto y = e.run(x);

    HandPipeline hand(42);
    ASSERT_NE(hand.lr0, nullptr);
    ASSERT_NE(hand.lr1, nullptr);
    double energy = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        hand.analyse(x[i]);
        const float expected = hand.synthesise();
        ASSERT_EQ(y[i], expected) << "sample " << i;
        energy += static_cast<double>(y[i]) * y[i];
    }
    EXPECT_GT(energy, 1.0);
}

TEST(EnginePipeline, ShakenEngineRunsStagesBetweenAnalysisAndSynthesisThenAdvancesLfos)
{
    const auto x = test_signal(6000);
    Engine e(9);
    ASSERT_NE(e.q, nullptr);
    set_shaking(e.q);
    libquivex_set_gain(e.q, 0.8f);
    const auto y = e.run(x, {500});

    // The same stages on a record of their own, between two resonator
    // engines driven by hand; the LFO phases advance after each sample.
    HandPipeline hand(9);
    auto* rec = static_cast<_libquivex*>(std::calloc(1, sizeof(_libquivex)));
    rec->_srate = kRate;
    rec->_num_reso = kReso;
    ASSERT_TRUE(shake_state_new(rec));
    set_shaking(rec);
    for (auto& l : rec->_lfos)
        lfo_comp_phase_incr(&l, kRate);

    for (std::size_t i = 0; i < x.size(); ++i) {
        hand.analyse(x[i]);
        shake_stages(rec, hand.ai.data(), hand.fi.data(), kReso);
        const float out = hand.synthesise();
        for (auto& l : rec->_lfos)
            lfo_incr_phase(&l);
        ASSERT_EQ(y[i], out * 0.8f) << "sample " << i;
    }
    shake_state_free(rec);
    std::free(rec);
}

TEST(EngineOutput, RangeSettersLeaveOutputBitIdentical)
{
    const auto x = test_signal(8000, 3);
    Engine plain(5);
    Engine ranged(5);
    ASSERT_NE(plain.q, nullptr);
    ASSERT_NE(ranged.q, nullptr);
    set_shaking(plain.q);
    set_shaking(ranged.q);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    libquivex_set_lfo_amp_range_amp(ranged.q, 5.0f);
    libquivex_set_lfo_amp_range_freq(ranged.q, 1234.5f);
    libquivex_set_lfo_amp_range_amount(ranged.q, 1.0f);
    libquivex_set_lfo_amp_range_mod(ranged.q, 3.0f);
    libquivex_set_lfo_freq_range_amp(ranged.q, -2.0f);
    libquivex_set_lfo_freq_range_freq(ranged.q, nan);
    libquivex_set_lfo_freq_range_amount(ranged.q, 0.5f);
    libquivex_set_lfo_freq_range_mod(ranged.q, 0.0f);
    libquivex_set_lfo_time_range_amp(ranged.q, inf);
    libquivex_set_lfo_time_range_freq(ranged.q, -7.0f);
    libquivex_set_lfo_time_range_amount(ranged.q, -1.0f);
    libquivex_set_lfo_time_range_mod(ranged.q, 1.0f);
    EXPECT_EQ(plain.run(x), ranged.run(x));
}

TEST(EngineOutput, ZeroGainIsSilentWhileStateKeepsRunning)
{
    const auto x = test_signal(9000, 4);
    Engine always(11);
    Engine muted(11);
    ASSERT_NE(always.q, nullptr);
    ASSERT_NE(muted.q, nullptr);
    set_shaking(always.q);
    set_shaking(muted.q);
    libquivex_set_gain(muted.q, 0.0f);

    std::vector<float> a(x.begin(), x.begin() + 4096);
    std::vector<float> m = a;
    libquivex_next_buffer(always.q, a.data(), 4096);
    libquivex_next_buffer(muted.q, m.data(), 4096);
    for (float v : m)
        ASSERT_EQ(v, 0.0f);

    // Raised again, the muted engine resumes as if it had been playing:
    // its gain glides up from 0 and then applies exactly.
    libquivex_set_gain(muted.q, 0.3f);
    std::vector<float> a2(x.begin() + 4096, x.end());
    std::vector<float> m2 = a2;
    libquivex_next_buffer(always.q, a2.data(), static_cast<int>(a2.size()));
    libquivex_next_buffer(muted.q, m2.data(), static_cast<int>(m2.size()));
    const std::size_t glide = kRate * LIBQUIVEX_GAIN_GLIDE_MS / 1000;
    double energy = 0.0;
    for (std::size_t i = 0; i < a2.size(); ++i) {
        if (i + 1 < glide)
            ASSERT_LT(std::fabs(m2[i]), std::fabs(a2[i] * 0.3f) + 1e-30f) << "sample " << i;
        else
            ASSERT_EQ(m2[i], a2[i] * 0.3f) << "sample " << i;
        energy += static_cast<double>(m2[i]) * m2[i];
    }
    EXPECT_GT(energy, 0.01);
}

// The largest step from one output sample to the next.
static float largest_jump(const std::vector<float>& y, std::size_t from = 1)
{
    float jump = 0.0f;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < y.size(); ++i)
        jump = std::max(jump, std::fabs(y[i] - y[i - 1]));
    return jump;
}

// A 250 Hz tone at full scale, the sound a gain change is heard on.
static std::vector<float> tone_250(int n)
{
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(2.0 * M_PI * 250.0 * i / kRate));
    return x;
}

// Processes x in blocks of `block`, with gain g0 until sample `at` and g1 from
// the block that starts there on.
static std::vector<float> run_gain_step(std::vector<float> x, int block, std::size_t at, float g0, float g1)
{
    Engine e(5);
    libquivex_set_gain(e.q, g0);
    for (std::size_t pos = 0; pos < x.size();) {
        if (pos >= at)
            libquivex_set_gain(e.q, g1);
        const int len = std::min<int>(block, static_cast<int>(x.size() - pos));
        libquivex_next_buffer(e.q, x.data() + pos, len);
        pos += static_cast<std::size_t>(len);
    }
    return x;
}

TEST(EngineGain, StepBetweenBlocksMakesNoJumpBeyondTheSignals)
{
    // Up by 72 dB and down by 72 dB, at block sizes from 1 to 8192: the
    // output never steps further from one sample to the next than the same
    // tone at the louder gain steps by itself (the glide adds under 5 %).
    const auto x = tone_250(24000);
    const std::size_t at = 8192;
    const float quiet = 0.001f, loud = 3.981072f;
    const auto reference = run_gain_step(x, 256, at, loud, loud);
    const float own = largest_jump(reference, 4096);
    ASSERT_GT(own, 0.01f);
    for (int block : {1, 7, 64, 256, 1000, 8192}) {
        for (auto [g0, g1] : {std::pair{quiet, loud}, std::pair{loud, quiet}}) {
            const auto y = run_gain_step(x, block, at, g0, g1);
            EXPECT_LE(largest_jump(y, 4096), own * 1.05f) << "block " << block << " gain " << g0 << " to " << g1;
        }
    }
}

TEST(EngineGain, GlideEndsOnTheExactGainAndConstantGainKeepsItsBits)
{
    const auto x = tone_250(20000);
    const std::size_t at = 4096;
    const std::size_t glide = kRate * LIBQUIVEX_GAIN_GLIDE_MS / 1000;
    const auto stepped = run_gain_step(x, 64, at, 1.0f, 0.5f);
    const auto constant = run_gain_step(x, 64, at, 0.5f, 0.5f);
    const auto unity = run_gain_step(x, 64, at, 1.0f, 1.0f);
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (i < at) {
            ASSERT_EQ(stepped[i], unity[i]) << i;  // before the step: the old gain, exactly
        } else if (i >= at + glide) {
            ASSERT_EQ(stepped[i], constant[i]) << i;  // after the glide: the new gain, exactly
        }
    }
    // Within the glide the gain moves monotonically from 1 to 0.5.
    float last = 1.0f;
    for (std::size_t i = at; i < at + glide; ++i) {
        if (std::fabs(unity[i]) < 1e-3f)
            continue;
        const float g = stepped[i] / unity[i];
        EXPECT_LE(g, last + 1e-6f) << i;
        EXPECT_GE(g, 0.5f - 1e-6f) << i;
        last = g;
    }
}

TEST(EngineGain, FirstBufferTakesTheGainAtOnce)
{
    const auto x = tone_250(2000);
    Engine a(9), b(9);
    libquivex_set_gain(a.q, 0.25f);
    const auto y = a.run(x);
    const auto z = b.run(x);
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_EQ(y[i], z[i] * 0.25f) << i;
}

TEST(EngineOutput, NonPositiveLengthLeavesBufferAndPhasesAlone)
{
    const auto x = test_signal(3000, 5);
    Engine touched(13);
    Engine untouched(13);
    ASSERT_NE(touched.q, nullptr);
    ASSERT_NE(untouched.q, nullptr);
    set_shaking(touched.q);
    set_shaking(untouched.q);
    auto head_t = touched.run(std::vector<float>(x.begin(), x.begin() + 1000));
    auto head_u = untouched.run(std::vector<float>(x.begin(), x.begin() + 1000));
    EXPECT_EQ(head_t, head_u);

    float phases[NUM_LFOS];
    for (int j = 0; j < NUM_LFOS; ++j)
        phases[j] = touched.q->_lfos[j]._phase;
    std::vector<float> sentinel = {1.0f, -2.0f, 3.5f, 1e30f};
    const auto before = sentinel;
    libquivex_next_buffer(touched.q, sentinel.data(), 0);
    libquivex_next_buffer(touched.q, sentinel.data(), -4);
    EXPECT_EQ(sentinel, before);
    for (int j = 0; j < NUM_LFOS; ++j)
        EXPECT_EQ(touched.q->_lfos[j]._phase, phases[j]) << "lfo " << j;

    // An empty call still picks up a new rate for the next buffer.
    libquivex_set_lfo_amp_freq(touched.q, 12.0f);
    libquivex_next_buffer(touched.q, sentinel.data(), 0);
    EXPECT_FLOAT_EQ(touched.q->_lfos[LFO_SHAKE_AMP]._phase_incr,
                    static_cast<float>(12.0 * 2.0 * kPi / kRate));
    libquivex_set_lfo_amp_freq(touched.q, 3.0f);

    EXPECT_EQ(touched.run(std::vector<float>(x.begin() + 1000, x.end())),
              untouched.run(std::vector<float>(x.begin() + 1000, x.end())));
}

TEST(EngineOutput, RateChangeBetweenBuffersContinuesFromCurrentPhase)
{
    const auto x = test_signal(2000, 6);
    Engine e(17);
    ASSERT_NE(e.q, nullptr);
    set_shaking(e.q);
    libquivex_set_lfo_amp_freq(e.q, 2.0f);
    e.run(std::vector<float>(x.begin(), x.begin() + 1000), {1000});
    const lfo at_change = e.q->_lfos[LFO_SHAKE_AMP];
    ASSERT_GT(at_change._phase, 0.1f);

    libquivex_set_lfo_amp_freq(e.q, 7.0f);
    e.run(std::vector<float>(x.begin() + 1000, x.end()), {1000});

    // The new rate runs on from the phase the old rate reached.
    lfo expected = at_change;
    expected._freq = 7.0f;
    lfo_comp_phase_incr(&expected, kRate);
    for (int i = 0; i < 1000; ++i)
        lfo_incr_phase(&expected);
    EXPECT_EQ(e.q->_lfos[LFO_SHAKE_AMP]._phase, expected._phase);
    EXPECT_EQ(e.q->_lfos[LFO_SHAKE_AMP]._phase_incr, expected._phase_incr);
}

TEST(EngineOutput, NonFiniteInputCountsAsSilenceAndToneReturns)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const int bad_from = 4800;
    const int bad_len = 64;
    const int bad_to = bad_from + bad_len;
    const auto clean = test_signal(bad_to + kRate / 5, 7);
    auto broken = clean;
    auto zeroed = clean;
    for (int i = bad_from; i < bad_to; ++i) {
        broken[static_cast<std::size_t>(i)] = (i % 3 == 0) ? nan : ((i % 3 == 1) ? inf : -inf);
        zeroed[static_cast<std::size_t>(i)] = 0.0f;
    }
    Engine eb(19);
    Engine ez(19);
    Engine ec(19);
    ASSERT_NE(eb.q, nullptr);
    ASSERT_NE(ez.q, nullptr);
    ASSERT_NE(ec.q, nullptr);
    const auto yb = eb.run(broken);
    const auto yz = ez.run(zeroed);
    const auto yc = ec.run(clean);

    for (std::size_t i = 0; i < yb.size(); ++i)
        ASSERT_TRUE(std::isfinite(yb[i])) << "sample " << i;
    EXPECT_EQ(yb, yz);
    // Between 50 and 100 ms after the bad stretch the tone is back at about
    // the level of an engine that never saw it.
    const std::size_t from = static_cast<std::size_t>(bad_to + kRate / 20);
    const std::size_t to = static_cast<std::size_t>(bad_to + kRate / 10);
    const double level = rms(yc, from, to);
    ASSERT_GT(level, 0.01);
    EXPECT_GT(rms(yb, from, to), 0.5 * level);
    EXPECT_LT(rms(yb, from, to), 1.5 * level);
}

TEST(EngineOutput, BlockSizesDoNotChangeOutput)
{
    const auto x = test_signal(10000, 8);
    Engine whole(23);
    Engine pieces(23);
    ASSERT_NE(whole.q, nullptr);
    ASSERT_NE(pieces.q, nullptr);
    set_shaking(whole.q);
    set_shaking(pieces.q);
    EXPECT_EQ(whole.run(x, {static_cast<int>(x.size())}), pieces.run(x, {1, 7, 256, 33, 1024, 2, 500}));
}

// Bitwise equality of two outputs.
static bool same_samples(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// A restart returns the engine to what creation left, settings kept: an
// engine that ran shaken audio and was restarted gives what a fresh engine
// with the same random phase offsets gives, and restarting a fresh engine
// changes nothing.
TEST(EngineRestart, RestartedEngineMatchesAFreshOneAndAFreshOneIsUnchanged)
{
    const auto before = test_signal(12000, 6);
    const auto after = test_signal(6000, 7);
    Engine used(13);
    ASSERT_NE(used.q, nullptr);
    set_shaking(used.q);
    libquivex_set_gain(used.q, 0.7f);
    used.run(before);
    libquivex_restart(used.q, libtembra_restart);
    EXPECT_EQ(used.q->_gain, 0.7f);
    EXPECT_EQ(used.q->_lfos[LFO_SHAKE_TIME]._freq, 7.0f);

    Engine fresh(13);
    Engine fresh_restarted(13);
    ASSERT_NE(fresh.q, nullptr);
    ASSERT_NE(fresh_restarted.q, nullptr);
    for (libquivex q : {fresh.q, fresh_restarted.q}) {
        set_shaking(q);
        libquivex_set_gain(q, 0.7f);
    }
    libquivex_restart(fresh_restarted.q, libtembra_restart);
    const std::vector<float> expected = fresh.run(after);
    EXPECT_TRUE(same_samples(used.run(after), expected));
    EXPECT_TRUE(same_samples(fresh_restarted.run(after), expected));
}
