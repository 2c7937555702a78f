// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's drawing: a whole 900x540 picture of a moving frame into an
// image surface, the update the window makes for each new frame (the
// moving layer over the kept still layer, inside the rectangles that
// changed), at scale 1 and 2, and the partials alone at a host's
// inline-display size.
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

// The default view with two LFOs switched on, showing frame `f`.
morvane_view moving_view(const morvane_frame* f)
{
  morvane_view view = default_view();
  view._frame = f;
  view._controls[3] = 60.0f;
  view._controls[7] = 30.0f;
  return view;
}

// The whole picture drawn again for every frame, as the window did before
// it kept its still layer. Arguments: scale (1 or 2) at 900x540 units.
void BM_DrawWindow(benchmark::State& state)
{
  const double scale = static_cast<double>(state.range(0));
  const int w = static_cast<int>(900 * scale);
  const int h = static_cast<int>(540 * scale);
  morvane_layout layout;
  morvane_layout_compute(&layout, w, h, scale);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(surface);
  morvane_frame frame{};
  morvane_view view = moving_view(&frame);
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
BENCHMARK(BM_DrawWindow)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// What the window does for each new frame: the moving layer of the new
// view over the kept still layer, inside the rectangles that changed
// (every partial moves, two LFOs and the meter too). Arguments as above.
void BM_FrameUpdate(benchmark::State& state)
{
  const double scale = static_cast<double>(state.range(0));
  const int w = static_cast<int>(900 * scale);
  const int h = static_cast<int>(540 * scale);
  morvane_layout layout;
  morvane_layout_compute(&layout, w, h, scale);
  cairo_surface_t* still = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  morvane_frame frames[2] = {};
  moving_frame(&frames[0], 0);
  morvane_view before = moving_view(&frames[0]);
  before._meter_db = -12.0f;
  cairo_t* still_cr = cairo_create(still);
  morvane_draw_still(still_cr, &layout, &before);
  cairo_destroy(still_cr);
  cairo_t* cr = cairo_create(picture);
  morvane_draw(cr, &layout, &before);
  cairo_region_t* changed = cairo_region_create();
  int n = 1;
  double pixels = 0.0;
  for (auto _ : state) {
    morvane_frame* next = &frames[n & 1];
    moving_frame(next, n);
    morvane_view after = moving_view(next);
    after._meter_db = static_cast<float>(-12.0 + 6.0 * std::sin(n * 0.1));
    morvane_draw_update(cr, still, &layout, &before, &after, changed);
    cairo_surface_flush(picture);
    benchmark::DoNotOptimize(cairo_image_surface_get_data(picture));
    for (int i = 0; i < cairo_region_num_rectangles(changed); ++i) {
      cairo_rectangle_int_t r;
      cairo_region_get_rectangle(changed, i, &r);
      pixels += static_cast<double>(r.width) * r.height;
    }
    cairo_region_destroy(changed);
    changed = cairo_region_create();
    before = after;
    ++n;
  }
  // Share of the picture sent to the server per frame.
  state.counters["sent"] = pixels / (static_cast<double>(state.iterations()) * w * h);
  cairo_region_destroy(changed);
  cairo_destroy(cr);
  cairo_surface_destroy(picture);
  cairo_surface_destroy(still);
}
BENCHMARK(BM_FrameUpdate)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

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
