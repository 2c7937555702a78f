// SPDX-License-Identifier: LGPL-2.1-or-later
#include <gtest/gtest.h>
#include <quivex/filter_time.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "filter_time_internal.h"

namespace {

struct FilterDeleter {
    void operator()(_filter_time* f) const { filter_time_free(f); }
};
using FilterPtr = std::unique_ptr<_filter_time, FilterDeleter>;

FilterPtr make_filter(int n) { return FilterPtr(filter_time_new(n)); }

TEST(FilterTime, NewFilterIsZeroed)
{
    auto f = make_filter(112);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->_buf_size, 112);
    for (int k = 0; k < 112; ++k) {
        EXPECT_EQ(f->_alphas[k], 0.0f);
        EXPECT_EQ(f->_prev_buf[k], 0.0f);
    }
    filter_time_free(nullptr);  // harmless
}

TEST(FilterTime, EmptyOrNegativeSizeDoesNothing)
{
    for (int n : {0, -1, -100}) {
        auto f = make_filter(n);
        ASSERT_NE(f, nullptr) << "n=" << n;
        float buf[4] = {1.0f, 2.0f, 3.0f, 4.0f};
        const float alphas[4] = {0.5f, 0.5f, 0.5f, 0.5f};
        filter_time_set_alphas(f.get(), alphas);
        filter_time_process(f.get(), buf);
        EXPECT_EQ(buf[0], 1.0f);
        EXPECT_EQ(buf[3], 4.0f);
    }
}

TEST(FilterTime, ConstantInputApproachesGeometrically)
{
    constexpr int n = 3;
    const float alphas[n] = {0.25f, 0.9f, 0.5f};
    const float x[n] = {1.0f, -2.5f, 1e-3f};
    auto f = make_filter(n);
    ASSERT_NE(f, nullptr);
    filter_time_set_alphas(f.get(), alphas);

    float buf[n];
    std::copy(x, x + n, buf);
    filter_time_process(f.get(), buf);
    double err[n];
    for (int k = 0; k < n; ++k) {
        EXPECT_FLOAT_EQ(buf[k], (1.0f - alphas[k]) * x[k]) << "k=" << k;
        err[k] = double(x[k]) - buf[k];
    }
    for (int step = 1; step < 30; ++step) {
        std::copy(x, x + n, buf);
        filter_time_process(f.get(), buf);
        for (int k = 0; k < n; ++k) {
            const double e = double(x[k]) - buf[k];
            // The distance to the target shrinks by alpha each step, up to the
            // float rounding of each output.
            EXPECT_NEAR(e, alphas[k] * err[k], 4e-7 * std::fabs(x[k])) << "step=" << step;
            EXPECT_EQ(f->_prev_buf[k], buf[k]);
            err[k] = e;
        }
    }
    // After many steps every bin sits on its target.
    for (int step = 0; step < 400; ++step) {
        std::copy(x, x + n, buf);
        filter_time_process(f.get(), buf);
    }
    for (int k = 0; k < n; ++k)
        EXPECT_NEAR(buf[k], x[k], 1e-6 * std::fabs(x[k])) << "k=" << k;
}

TEST(FilterTime, ZeroCoefficientPassesThroughAndRemembersLastInput)
{
    constexpr int n = 7;  // not a multiple of four
    auto f = make_filter(n);
    ASSERT_NE(f, nullptr);
    std::vector<float> in(n), buf(n);
    for (int round = 0; round < 5; ++round) {
        for (int k = 0; k < n; ++k)
            in[k] = std::sin(0.7f * k + 1.3f * round) * (k + 1);
        buf = in;
        filter_time_process(f.get(), buf.data());
        for (int k = 0; k < n; ++k) {
            EXPECT_EQ(buf[k], in[k]);
            EXPECT_EQ(f->_prev_buf[k], in[k]);
        }
    }
}

TEST(FilterTime, BinsAreIndependent)
{
    constexpr int n = 5;
    const float alphas[n] = {0.0f, 0.3f, 0.6f, 0.9f, 0.99f};
    auto all = make_filter(n);
    ASSERT_NE(all, nullptr);
    filter_time_set_alphas(all.get(), alphas);
    std::vector<float> out_all;
    for (int step = 0; step < 20; ++step) {
        float buf[n];
        for (int k = 0; k < n; ++k)
            buf[k] = (step % 3 == 0) ? float(k + 1) : -0.5f * k;
        filter_time_process(all.get(), buf);
        out_all.insert(out_all.end(), buf, buf + n);
    }
    // Each bin run alone with the same input gives the same sequence.
    for (int k = 0; k < n; ++k) {
        auto one = make_filter(1);
        ASSERT_NE(one, nullptr);
        filter_time_set_alphas(one.get(), &alphas[k]);
        for (int step = 0; step < 20; ++step) {
            float v = (step % 3 == 0) ? float(k + 1) : -0.5f * k;
            filter_time_process(one.get(), &v);
            EXPECT_EQ(v, out_all[step * n + k]) << "k=" << k << " step=" << step;
        }
    }
}

TEST(FilterTime, SetAlphasCopiesWithoutClamping)
{
    const float alphas[3] = {-0.5f, 1.0f, 2.0f};
    auto f = make_filter(3);
    ASSERT_NE(f, nullptr);
    filter_time_set_alphas(f.get(), alphas);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(f->_alphas[k], alphas[k]);
    EXPECT_NE(f->_alphas, alphas);
}

TEST(FilterTime, StepMixesDoubleInputTermWithFloatMemoryTerm)
{
    // Values chosen so that the exact mixture of precisions matters: all-float
    // and all-double evaluation both land on a different float.
    const float a = 0.6744858f, x = -0.25059396f, p = -0.12207674f;
    const volatile float memory_f = a * p;  // float product, rounded
    const double expected_d = (1.0 - double(a)) * double(x) + double(memory_f);
    const float expected = static_cast<float>(expected_d);

    const float all_double = static_cast<float>((1.0 - double(a)) * double(x) + double(a) * double(p));
    const volatile float in_f = (1.0f - a) * x;
    const float all_float = in_f + memory_f;
    ASSERT_NE(expected, all_double);
    ASSERT_NE(expected, all_float);

    auto f = make_filter(1);
    ASSERT_NE(f, nullptr);
    float v = p;
    filter_time_process(f.get(), &v);  // coefficient 0: memory becomes p
    ASSERT_EQ(f->_prev_buf[0], p);
    filter_time_set_alphas(f.get(), &a);
    v = x;
    filter_time_process(f.get(), &v);
    EXPECT_EQ(v, expected);
    EXPECT_EQ(f->_prev_buf[0], expected);
}

}  // namespace
