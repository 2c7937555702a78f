// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's drawing: a whole 900x540 picture of a moving frame into an
// ARGB32 image surface (the window's budget is a few milliseconds of its 30
// frames a second), and the partials alone at a host's inline-display size.
#include <benchmark/benchmark.h>

#include <cmath>

#include <cairo.h>

#include <tembra/mel.h>

#include "draw.h"

namespace {

// Frame number `n` of a harmonic spectrum under a slow shake, all audible
// at 48 kHz.
void moving_frame(morvane_frame* f, int n)
{
  compute_mel_frequencies(MORVANE_NUM_PARTIALS, f->_analysed_freqs, 20.0f, 20000.0f);
  const double t = n / 30.0;
  for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
    const double hz = f->_analysed_freqs[k];
    const double near = std::fabs(std::remainder(hz, 110.0)) / 110.0;
    const double amp = 0.5 * std::exp(-hz / 3000.0) * (1.0 - 0.9 * near);
    f->_analysed_amps[k] = static_cast<float>(amp);
    f->_shaken_amps[k] = static_cast<float>(amp * std::cos(2.0 * M_PI * 0.7 * t + 0.1 * k));
    f->_shaken_freqs[k] = static_cast<float>(hz * std::exp(0.05 * std::sin(2.0 * M_PI * 1.3 * t)));
  }
  f->_lfo_values[0] = static_cast<float>(std::cos(2.0 * M_PI * 0.7 * t));
  f->_lfo_values[1] = static_cast<float>(0.05 * std::sin(2.0 * M_PI * 1.3 * t));
  f->_lfo_values[2] = static_cast<float>(0.05 * (1.0 + std::cos(2.0 * M_PI * 0.2 * t)));
  f->_output_peak = 0.4f;
  f->_sample_rate = 48000.0f;
  f->_audible = MORVANE_NUM_PARTIALS;
}

// Every control at its default, nothing under the pointer.
morvane_view default_view()
{
  morvane_view view{};
  for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
    view._controls[p] = morvane_controls[p]._default;
  }
  view._active_control = -1;
  return view;
}

void BM_DrawWindow900x540(benchmark::State& state)
{
  morvane_layout layout;
  morvane_layout_compute(&layout, 900, 540, 1.0);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 900, 540);
  cairo_t* cr = cairo_create(surface);
  morvane_frame frame{};
  morvane_view view = default_view();
  view._frame = &frame;
  view._controls[3] = 60.0f;
  view._controls[7] = 30.0f;
  int n = 0;
  for (auto _ : state) {
    moving_frame(&frame, n);
    view._meter_db = static_cast<float>(-12.0 + 6.0 * std::sin(n * 0.1));
    morvane_draw(cr, &layout, &view);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    ++n;
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_DrawWindow900x540)->Unit(benchmark::kMillisecond);

// The same window before the first frame: panels, axes, text and knobs
// without the partials, the part of the cost that does not move.
void BM_DrawWindowWithoutFrame900x540(benchmark::State& state)
{
  morvane_layout layout;
  morvane_layout_compute(&layout, 900, 540, 1.0);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 900, 540);
  cairo_t* cr = cairo_create(surface);
  morvane_view view = default_view();
  view._meter_db = -12.0f;
  for (auto _ : state) {
    morvane_draw(cr, &layout, &view);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_DrawWindowWithoutFrame900x540)->Unit(benchmark::kMillisecond);

void BM_DrawPartialsOnly200x100(benchmark::State& state)
{
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 100);
  cairo_t* cr = cairo_create(surface);
  morvane_frame frame{};
  int n = 0;
  for (auto _ : state) {
    moving_frame(&frame, n);
    morvane_draw_partials_only(cr, 200, 100, &frame);
    cairo_surface_flush(surface);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    ++n;
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
BENCHMARK(BM_DrawPartialsOnly200x100)->Unit(benchmark::kMicrosecond);

}  // namespace
