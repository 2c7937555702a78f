// SPDX-License-Identifier: LGPL-2.1-or-later
// Per-bin one-pole low-pass along time: y = (1 - alpha) x + alpha y_prev.
#include "filter_time.h"

#include <immintrin.h>

#include <cstdlib>
#include <cstring>

#include "cpu_level.h"
#include "filter_time_internal.h"
#include "shake_vec.h"

// Everything of filter_time_new after the processor check.
__attribute__((noinline)) static filter_time create_filter_time(int buf_size) noexcept
{
    auto* f = static_cast<_filter_time*>(std::calloc(1, sizeof(_filter_time)));
    if (f == nullptr)
        return nullptr;
    f->_path = tembra_simd::choose_path();
    f->_buf_size = buf_size;
    // An empty filter keeps both arrays NULL; process then does nothing.
    if (buf_size <= 0)
        return f;
    const std::size_t n = static_cast<std::size_t>(buf_size);
    f->_alphas = static_cast<float*>(std::calloc(n, sizeof(float)));
    f->_prev_buf = static_cast<float*>(std::calloc(n, sizeof(float)));
    if (f->_alphas == nullptr || f->_prev_buf == nullptr) {
        filter_time_free(f);
        return nullptr;
    }
    return f;
}

MORVANE_BASELINE_CODE
filter_time filter_time_new(int buf_size) noexcept
{
    if (!morvane_cpu_has_build_level())
        return nullptr;
    return create_filter_time(buf_size);
}

void filter_time_restart(filter_time f) noexcept
{
    if (f->_buf_size <= 0)
        return;
    const std::size_t bytes = static_cast<std::size_t>(f->_buf_size) * sizeof(float);
    std::memset(f->_alphas, 0, bytes);
    std::memset(f->_prev_buf, 0, bytes);
}

void filter_time_copy_state(filter_time f, filter_time from) noexcept
{
    if (f->_buf_size <= 0)
        return;
    const std::size_t bytes = static_cast<std::size_t>(f->_buf_size) * sizeof(float);
    std::memcpy(f->_alphas, from->_alphas, bytes);
    std::memcpy(f->_prev_buf, from->_prev_buf, bytes);
}

MORVANE_BASELINE_CODE
void filter_time_free(filter_time f) noexcept
{
    if (f == nullptr)
        return;
    std::free(f->_alphas);
    std::free(f->_prev_buf);
    std::free(f);
}

void filter_time_set_alphas(filter_time f, const float* alphas) noexcept
{
    if (f->_buf_size <= 0)
        return;
    std::memcpy(f->_alphas, alphas, static_cast<std::size_t>(f->_buf_size) * sizeof(float));
}

void filter_time_process(filter_time f, float* buf) noexcept
{
    const int n = f->_buf_size;
    const float* __restrict alphas = f->_alphas;
    float* __restrict prev = f->_prev_buf;
    float* __restrict x = buf;
    int k = 0;
#if defined(QUIVEX_SHAKE_VEC) && !MORVANE_REFERENCE
    // The groups of four at full vector width, the same double and float
    // operations.
    k = tembra_simd::whole_groups(n);
    quivex_shake_vec::filter_time_n(f->_path, alphas, prev, x, k);
#endif
    for (; k < n; ++k) {
        const float a = alphas[k];
        // The input's weight and its product are in double; the memory term
        // is a float product, widened only for the sum.
        const float memory = a * prev[k];
        const double y = (1.0 - static_cast<double>(a)) * static_cast<double>(x[k]) +
                         static_cast<double>(memory);
        const float yf = static_cast<float>(y);
        prev[k] = yf;
        x[k] = yf;
    }
}
