// SPDX-License-Identifier: LGPL-2.1-or-later
// The effect engine's stereo roads: one analysis resynthesised into two
// outputs weighted per partial, a second shake path on that analysis whose
// LFOs follow the first one's, shared random phase offsets, and an engine
// that goes on from another one's state. The expected samples come from
// mono engines built after the same srand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <quivex/libquivex.h>
#include <tembra/libtembra.h>

#include "libquivex_internal.h"
#include "libquivex_restart.h"
#include "libtembra_internal.h"
#include "shaking.h"

namespace {

constexpr int kRate = 48000;
constexpr int kReso = LIBQUIVEX_NUM_RESONATORS;
constexpr double kPi = 3.141592653589793;
constexpr int kGlide = kRate * LIBQUIVEX_GAIN_GLIDE_MS / 1000;
const std::vector<int> kBlocks = {256, 1, 100, 37, 512, 64};

struct Free {
    void operator()(_libquivex* q) const { libquivex_free(q); }
};
using Engine = std::unique_ptr<_libquivex, Free>;


// A shaking engine made right after srand(seed): one seed, one set of
// random phase offsets.
Engine make(unsigned seed)
{
    std::srand(seed);
    Engine e(libquivex_new(kRate));
    if (e)
        set_shaking(e.get());
    return e;
}

// Tones at 220, 660 and 1500 Hz with a little noise.
std::vector<float> test_signal(int n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    std::vector<float> x(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        x[static_cast<std::size_t>(i)] =
            static_cast<float>(0.3 * std::sin(2.0 * kPi * 220.0 * t) + 0.2 * std::sin(2.0 * kPi * 660.0 * t + 0.5) +
                               0.1 * std::sin(2.0 * kPi * 1500.0 * t + 1.0)) +
            noise(gen);
    }
    return x;
}

// Calls step(pos, len) over n samples in blocks cycling through kBlocks.
template <class Step>
void in_blocks(std::size_t n, Step step)
{
    for (std::size_t pos = 0, b = 0; pos < n; ++b) {
        const int len = std::min<int>(kBlocks[b % kBlocks.size()], static_cast<int>(n - pos));
        step(pos, len);
        pos += static_cast<std::size_t>(len);
    }
}

bool same_samples(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

double energy(const std::vector<float>& x)
{
    double e = 0.0;
    for (float v : x)
        e += static_cast<double>(v) * v;
    return e;
}

}  // namespace

// With every partial gain 1 both outputs are the mono road's, also when the
// input is one of the outputs.
TEST(EngineStereo, UnitGainsGiveTheMonoOutputOnBothSidesEvenInPlace)
{
    const auto x = test_signal(9000, 1);
    Engine mono = make(21), stereo = make(21);
    ASSERT_TRUE(mono && stereo);
    libquivex_set_gain(mono.get(), 0.8f);
    libquivex_set_gain(stereo.get(), 0.8f);
    std::vector<float> y = x, l(x.size()), r(x.size());
    std::size_t b = 0;
    in_blocks(x.size(), [&](std::size_t pos, int len) {
        libquivex_next_buffer(mono.get(), y.data() + pos, len);
        const float* in = x.data() + pos;
        if (b % 3 != 0) {  // in place: the input is the left or the right output
            float* io = (b % 3 == 1 ? l.data() : r.data()) + pos;
            std::memcpy(io, in, sizeof(float) * static_cast<std::size_t>(len));
            in = io;
        }
        libquivex_next_buffer_stereo(stereo.get(), in, l.data() + pos, r.data() + pos, len);
        ++b;
    });
    EXPECT_TRUE(same_samples(l, y));
    EXPECT_TRUE(same_samples(r, y));
    EXPECT_GT(energy(y), 10.0);
}

// New partial gains glide in a straight line over 10 ms, across buffers,
// then scale the outputs exactly (1/2 left, 2 right: powers of two);
// setting them again changes nothing and gains that are not finite silence.
TEST(EngineStereo, PartialGainsGlideInAStraightLineThenScaleTheOutputsExactly)
{
    const auto x = test_signal(12000, 2);
    Engine mono = make(22), stereo = make(22);
    ASSERT_TRUE(mono && stereo);
    const std::vector<float> halves(kReso, 0.5f), twos(kReso, 2.0f);
    std::size_t at = 0;  // where the glide starts: the first buffer from 4096 on
    std::vector<float> y = x, l(x.size()), r(x.size());
    in_blocks(x.size(), [&](std::size_t pos, int len) {
        if (pos >= 4096 && (at == 0 || pos < at + 1000)) {  // later: the same gains again
            at = at == 0 ? pos : at;
            libquivex_set_partial_gains(stereo.get(), halves.data(), twos.data());
        }
        libquivex_next_buffer(mono.get(), y.data() + pos, len);
        libquivex_next_buffer_stereo(stereo.get(), x.data() + pos, l.data() + pos, r.data() + pos, len);
    });
    for (std::size_t i = 0; i < at; ++i)
        ASSERT_TRUE(l[i] == y[i] && r[i] == y[i]) << i;
    float last_l = 1.0f, last_r = 1.0f;
    int checked = 0;
    for (std::size_t i = at; i < x.size(); ++i) {
        const std::size_t j = i - at;  // the glide's sample, from 0
        if (j + 1 >= kGlide) {
            ASSERT_EQ(l[i], y[i] * 0.5f) << i;
            ASSERT_EQ(r[i], y[i] * 2.0f) << i;
            continue;
        }
        if (std::fabs(y[i]) < 0.05f)
            continue;
        const double done = static_cast<double>(j + 1) / kGlide;
        const float gl = l[i] / y[i], gr = r[i] / y[i];
        EXPECT_NEAR(gl, 1.0 - 0.5 * done, 1e-4) << i;
        EXPECT_NEAR(gr, 1.0 + done, 1e-4) << i;
        EXPECT_LE(gl, last_l + 1e-4f) << i;
        EXPECT_GE(gr, last_r - 1e-4f) << i;
        last_l = gl;
        last_r = gr;
        ++checked;
    }
    EXPECT_GT(checked, 100);

    const float inf = INFINITY;
    const std::vector<float> infinite(kReso, inf), nans(kReso, NAN);
    libquivex_set_partial_gains(stereo.get(), infinite.data(), nans.data());
    std::vector<float> l2(2 * kGlide), r2(2 * kGlide);
    libquivex_next_buffer_stereo(stereo.get(), x.data(), l2.data(), r2.data(), 2 * kGlide);
    for (std::size_t i = kGlide - 1; i < l2.size(); ++i) {
        ASSERT_EQ(l2[i], 0.0f) << i;
        ASSERT_EQ(r2[i], 0.0f) << i;
    }
}

// Phase offsets shared (the right engine drew others), LFOs following at
// offset 0: both outputs of the pair road are the mono road's; without the
// shared offsets the right one is not.
TEST(EngineStereo, PairWithSharedOffsetsAndFollowedLfosGivesTheMonoOutputOnBothSides)
{
    const auto x = test_signal(9000, 3);
    Engine mono = make(23), left = make(23), right = make(24), unshared = make(25), unshared_left = make(23);
    ASSERT_TRUE(mono && left && right && unshared && unshared_left);
    libquivex_share_phase_offsets(right.get(), left.get());
    std::vector<float> y = x, l(x.size()), r(x.size()), l2(x.size()), r2(x.size());
    in_blocks(x.size(), [&](std::size_t pos, int len) {
        libquivex_next_buffer(mono.get(), y.data() + pos, len);
        libquivex_follow_lfos(right.get(), left.get(), 0.0);
        libquivex_next_buffer_pair(left.get(), right.get(), x.data() + pos, l.data() + pos, r.data() + pos, len);
        libquivex_follow_lfos(unshared.get(), unshared_left.get(), 0.0);
        libquivex_next_buffer_pair(unshared_left.get(), unshared.get(), x.data() + pos, l2.data() + pos,
                                   r2.data() + pos, len);
    });
    EXPECT_TRUE(same_samples(l, y));
    EXPECT_TRUE(same_samples(r, y));
    EXPECT_TRUE(same_samples(l2, y));
    EXPECT_FALSE(same_samples(r2, y));
    EXPECT_GT(energy(y), 10.0);
}

// An offset of pi: at the start of every buffer the right LFOs stand half a
// turn from the left ones at the left ones' rates (the right engine's own
// rates differ), and the right output is that of a mono engine whose LFO
// phases are set half a turn ahead.
TEST(EngineStereo, FollowingWithAnOffsetOfPiRunsHalfATurnAheadAtTheSameRates)
{
    const auto x = test_signal(9000, 4);
    Engine mono = make(26), ahead = make(26), left = make(26), right = make(27);
    ASSERT_TRUE(mono && ahead && left && right);
    libquivex_share_phase_offsets(right.get(), left.get());
    libquivex_set_lfo_amp_freq(right.get(), 11.0f);
    libquivex_set_lfo_time_freq(right.get(), 0.5f);
    std::vector<float> y = x, ya = x, l(x.size()), r(x.size());
    in_blocks(x.size(), [&](std::size_t pos, int len) {
        float pl[3], pr[3];
        libquivex_get_lfo_phases(left.get(), pl);
        libquivex_follow_lfos(right.get(), left.get(), kPi);
        libquivex_get_lfo_phases(right.get(), pr);
        for (int j = 0; j < 3; ++j) {
            ASSERT_NEAR(std::remainder(static_cast<double>(pr[j]) - pl[j] - kPi, 2.0 * kPi), 0.0, 1e-6) << j;
            libquivex_set_lfo_phase(ahead.get(), j, static_cast<double>(pl[j]) + kPi);
        }
        libquivex_next_buffer_pair(left.get(), right.get(), x.data() + pos, l.data() + pos, r.data() + pos, len);
        for (int j = 0; j < 3; ++j) {
            ASSERT_EQ(right->_lfos[j]._freq, left->_lfos[j]._freq) << j;
            ASSERT_EQ(right->_lfos[j]._phase_incr, left->_lfos[j]._phase_incr) << j;
        }
        libquivex_next_buffer(mono.get(), y.data() + pos, len);
        libquivex_next_buffer(ahead.get(), ya.data() + pos, len);
    });
    EXPECT_TRUE(same_samples(l, y));
    EXPECT_TRUE(same_samples(r, ya));
    EXPECT_FALSE(same_samples(r, y));
}

// An engine that played other material, given a shaking engine's state in
// the middle of a gain glide and a partial gains glide (both set alike on
// each), goes on exactly as that engine does.
TEST(EngineStereo, CopiedEngineGoesOnBitForBitLikeItsSource)
{
    const auto before = test_signal(6000, 6);
    const auto other = test_signal(3000, 7);
    const auto after = test_signal(5000, 8);
    Engine src = make(28), dst = make(29);
    ASSERT_TRUE(src && dst);
    libquivex_share_phase_offsets(dst.get(), src.get());
    std::vector<float> gl(kReso), gr(kReso), gl2(kReso), gr2(kReso);
    for (int k = 0; k < kReso; ++k) {
        gl[k] = k % 2 ? 0.4f : 1.6f;
        gr[k] = 2.0f - gl[k];
        gl2[k] = 0.1f + 0.01f * static_cast<float>(k);
        gr2[k] = 1.3f - 0.01f * static_cast<float>(k);
    }
    for (libquivex q : {src.get(), dst.get()}) {
        libquivex_set_gain(q, 0.7f);
        libquivex_set_partial_gains(q, gl.data(), gr.data());
    }
    std::vector<float> l(before.size()), r(before.size()), l2(before.size()), r2(before.size());
    libquivex_next_buffer_stereo(src.get(), before.data(), l.data(), r.data(), 5800);
    libquivex_next_buffer_stereo(dst.get(), other.data(), l2.data(), r2.data(), 3000);
    for (libquivex q : {src.get(), dst.get()}) {  // glides 200 samples in at the copy
        libquivex_set_gain(q, 0.3f);
        libquivex_set_partial_gains(q, gl2.data(), gr2.data());
    }
    libquivex_next_buffer_stereo(src.get(), before.data() + 5800, l.data(), r.data(), 200);
    libquivex_set_lfo_freq_amount(dst.get(), 0.9f);  // controls are not copied
    libquivex_copy_state(dst.get(), src.get(), libtembra_copy_state);
    EXPECT_EQ(dst->_lfos[LFO_SHAKE_FREQ]._amount, 0.9f);
    libquivex_set_lfo_freq_amount(dst.get(), 0.5f);
    l.assign(after.size(), 0.0f), r = l2 = r2 = l;
    in_blocks(after.size(), [&](std::size_t pos, int len) {
        libquivex_next_buffer_stereo(src.get(), after.data() + pos, l.data() + pos, r.data() + pos, len);
        libquivex_next_buffer_stereo(dst.get(), after.data() + pos, l2.data() + pos, r2.data() + pos, len);
    });
    EXPECT_TRUE(same_samples(l2, l));
    EXPECT_TRUE(same_samples(r2, r));
    EXPECT_GT(energy(l), 0.05);
}
