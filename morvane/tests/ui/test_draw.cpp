// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's drawing, rendered into image surfaces. Frequencies are placed
// by the mel formula worked out here (mel_x), levels by the dB axis, knobs by
// the layout, and a partial's pixels are told from the grid by rendering the
// same snapshot without it and comparing. The picture updated over its still
// layer is held to the whole picture drawn at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include <cairo.h>

#include <tembra/mel.h>
#include <quivex/libquivex.h>

#include "draw.h"
#include "inline_display.h"
#include "knob.h"

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

// An ARGB32 picture and its pixels' brightness.
class image {
public:
  image(int w, int h)
      : _surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)), _cr(cairo_create(_surface))
  {
  }
  ~image()
  {
    cairo_destroy(_cr);
    cairo_surface_destroy(_surface);
  }
  image(const image&) = delete;
  image& operator=(const image&) = delete;

  cairo_t* cr() const { return _cr; }
  int width() const { return cairo_image_surface_get_width(_surface); }
  int height() const { return cairo_image_surface_get_height(_surface); }

  uint32_t pixel(int x, int y) const
  {
    cairo_surface_flush(_surface);
    const unsigned char* row = cairo_image_surface_get_data(_surface) + y * cairo_image_surface_get_stride(_surface);
    return reinterpret_cast<const uint32_t*>(row)[x];
  }

  // Mean of red, green and blue, 0 to 255.
  double brightness(int x, int y) const
  {
    const uint32_t p = pixel(x, y);
    return (((p >> 16) & 0xff) + ((p >> 8) & 0xff) + (p & 0xff)) / 3.0;
  }

  // Largest change of a channel between this picture and `other` at (x, y).
  int change(const image& other, int x, int y) const
  {
    const uint32_t a = pixel(x, y);
    const uint32_t b = other.pixel(x, y);
    int most = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      most = std::max(most, std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)));
    }
    return most;
  }

  bool healthy() const
  {
    return cairo_status(_cr) == CAIRO_STATUS_SUCCESS && cairo_surface_status(_surface) == CAIRO_STATUS_SUCCESS;
  }

private:
  cairo_surface_t* _surface;
  cairo_t* _cr;
};

// A frame with every resonator on the mel grid and silent, all audible at
// 48 kHz.
// x of hz in area a: mel(f) = 2595 log10(1 + f / 700), linear from 20 Hz at
// the left edge to 20 kHz at the right.
double mel_x(const morvane_rect& a, double hz)
{
  auto mel = [](double f) { return 2595.0 * std::log10(1.0 + f / 700.0); };
  return a._x + a._w * (mel(hz) - mel(20.0)) / (mel(20000.0) - mel(20.0));
}

morvane_frame silent_frame()
{
  morvane_frame f{};
  compute_mel_frequencies(MORVANE_NUM_PARTIALS, f._analysed_freqs, 20.0f, 20000.0f);
  std::copy(std::begin(f._analysed_freqs), std::end(f._analysed_freqs), f._shaken_freqs);
  f._sample_rate = 48000.0f;
  f._audible = MORVANE_NUM_PARTIALS;
  return f;
}

// Resonator k analysed at (hz, amp) and played at (shaken_hz, shaken_amp).
void set_partial(morvane_frame* f, int k, float hz, float amp, float shaken_hz, float shaken_amp)
{
  f->_analysed_freqs[k] = hz;
  f->_analysed_amps[k] = amp;
  f->_shaken_freqs[k] = shaken_hz;
  f->_shaken_amps[k] = shaken_amp;
}

morvane_view default_view(const morvane_frame* frame)
{
  morvane_view v{};
  v._frame = frame;
  for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
    v._controls[p] = morvane_controls[p]._default;
  }
  v._meter_db = -12.0f;
  v._active_control = -1;
  return v;
}

struct rendered {
  morvane_layout _layout;
  std::unique_ptr<image> _image;
};

rendered render(const morvane_view& view, int w = 900, int h = 540, double scale = 1.0)
{
  rendered r;
  morvane_layout_compute(&r._layout, w, h, scale);
  r._image = std::make_unique<image>(w, h);
  morvane_draw(r._image->cr(), &r._layout, &view);
  return r;
}

rendered render_frame(const morvane_frame& frame)
{
  return render(default_view(&frame));
}

// Pixel index range [first, last] of a rectangle, kept inside the picture.
struct pixel_box {
  int _x0, _y0, _x1, _y1;
};

pixel_box inside(const morvane_rect& a, const image& img)
{
  return {std::max(0, static_cast<int>(std::ceil(a._x))), std::max(0, static_cast<int>(std::ceil(a._y))),
          std::min(img.width() - 1, static_cast<int>(std::floor(a._x + a._w)) - 1),
          std::min(img.height() - 1, static_cast<int>(std::floor(a._y + a._h)) - 1)};
}

// Column of the plot where `a` differs most from `b`, summed over rows.
int most_changed_column(const image& a, const image& b, const pixel_box& box)
{
  int best = -1;
  long best_sum = 0;
  for (int x = box._x0; x <= box._x1; ++x) {
    long sum = 0;
    for (int y = box._y0; y <= box._y1; ++y) {
      sum += a.change(b, x, y);
    }
    if (sum > best_sum) {
      best_sum = sum;
      best = x;
    }
  }
  return best;
}

int changed_pixels(const image& a, const image& b, const pixel_box& box, int threshold = 0)
{
  int n = 0;
  for (int y = box._y0; y <= box._y1; ++y) {
    for (int x = box._x0; x <= box._x1; ++x) {
      n += a.change(b, x, y) > threshold;
    }
  }
  return n;
}

double circle_rect_distance(double cx, double cy, const morvane_rect& r)
{
  const double dx = std::max({r._x - cx, 0.0, cx - (r._x + r._w)});
  const double dy = std::max({r._y - cy, 0.0, cy - (r._y + r._h)});
  return std::hypot(dx, dy);
}

TEST(Partials, PartialLandsAtItsMelX)
{
  const morvane_frame empty = silent_frame();
  const rendered base = render_frame(empty);
  for (float hz : {250.0f, 1000.0f, 4000.0f}) {
    morvane_frame f = empty;
    set_partial(&f, 40, hz, 0.5f, hz, 0.5f);
    const rendered with = render_frame(f);
    const morvane_rect& a = with._layout._partials;
    const int column = most_changed_column(*with._image, *base._image, inside(a, *with._image));
    EXPECT_NEAR(column + 0.5, mel_x(a, hz), 1.0) << hz << " Hz";
  }
}

TEST(Partials, LineTopStandsAtItsLevel)
{
  const morvane_frame empty = silent_frame();
  const rendered base = render_frame(empty);
  for (float amp : {0.9f, 0.5f, 0.05f, 0.002f}) {
    morvane_frame f = empty;
    // The analysed ring is elsewhere, so the column holds the line alone.
    set_partial(&f, 40, 3000.0f, amp, 1000.0f, amp);
    const rendered with = render_frame(f);
    const morvane_rect& a = with._layout._partials;
    const int column = static_cast<int>(std::floor(mel_x(a, 1000.0)));
    const pixel_box box = inside(a, *with._image);
    int top = -1;
    for (int y = box._y0; y <= box._y1 && top < 0; ++y) {
      if (with._image->change(*base._image, column, y) > 60) {
        top = y;
      }
    }
    const double level_y = morvane_partials_y(&a, 20.0 * std::log10(amp));
    EXPECT_NEAR(top, level_y, 1.0) << amp;
    // The line runs down to the floor.
    EXPECT_GT(with._image->change(*base._image, column, box._y1), 20) << amp;
  }
}

TEST(Partials, AnalysedMarkSitsAtTheAnalysedFrequencyApartFromTheLine)
{
  const morvane_frame empty = silent_frame();
  const rendered base = render_frame(empty);
  morvane_frame f = empty;
  set_partial(&f, 30, 500.0f, 0.25f, 2000.0f, 0.25f);
  const rendered with = render_frame(f);
  const morvane_rect& a = with._layout._partials;
  const double level_y = morvane_partials_y(&a, 20.0 * std::log10(0.25));
  const double x_analysed = mel_x(a, 500.0);
  const double x_shaken = mel_x(a, 2000.0);
  const pixel_box around = {static_cast<int>(x_analysed) - 4, static_cast<int>(level_y) - 4,
                            static_cast<int>(x_analysed) + 4, static_cast<int>(level_y) + 4};
  EXPECT_GT(changed_pixels(*with._image, *base._image, around, 40), 4);
  // Half-way down: the line stands at the shaken frequency, not under the mark.
  const int mid_y = static_cast<int>(0.5 * (level_y + a._y + a._h));
  EXPECT_EQ(with._image->change(*base._image, static_cast<int>(x_analysed), mid_y), 0);
  EXPECT_GT(with._image->change(*base._image, static_cast<int>(x_shaken), mid_y), 40);
}

TEST(Partials, NegativeAmplitudeIsDrawnAtItsMagnitude)
{
  morvane_frame plus = silent_frame();
  set_partial(&plus, 50, 1500.0f, 0.3f, 1600.0f, 0.3f);
  morvane_frame minus = plus;
  minus._shaken_amps[50] = -0.3f;
  minus._analysed_amps[50] = -0.3f;
  const rendered a = render_frame(plus);
  const rendered b = render_frame(minus);
  EXPECT_EQ(changed_pixels(*a._image, *b._image, inside(a._layout._partials, *a._image)), 0);
  EXPECT_GT(changed_pixels(*a._image, *render_frame(silent_frame())._image, inside(a._layout._partials, *a._image)),
            0);
}

// Frames whose every resonator has no valid frequency or level: whatever
// else they hold, the plot is the plot of a frame with nothing in it.
TEST(Partials, GarbageValuesDrawNothingAndKeepCairoHealthy)
{
  const float garbage[] = {NaN, INF, -INF, -1.0f, 0.0f, -0.0f, 1e30f, -1e30f, 1e-40f, 5.0f, 30000.0f};
  const float bad_levels[] = {NaN, INF, -INF, 0.0f, -0.0f, 1e-30f, -1e-30f, 1e-40f};
  morvane_frame nothing{};
  nothing._sample_rate = NaN;
  for (int32_t audible : {-5, 0, 56, 112, 1000}) {
    nothing._audible = audible;
    const rendered base = render_frame(nothing);

    morvane_frame bad_freqs = nothing;
    morvane_frame bad_amps = silent_frame();
    bad_amps._sample_rate = NaN;
    bad_amps._audible = audible;
    for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
      bad_freqs._analysed_freqs[k] = garbage[k % std::size(garbage)];
      bad_freqs._shaken_freqs[k] = garbage[(k / 3) % std::size(garbage)];
      bad_freqs._analysed_amps[k] = garbage[(k / 5) % std::size(garbage)];
      bad_freqs._shaken_amps[k] = garbage[(k / 7) % std::size(garbage)];
      bad_amps._analysed_amps[k] = bad_levels[k % std::size(bad_levels)];
      bad_amps._shaken_amps[k] = bad_levels[(k / 3) % std::size(bad_levels)];
    }
    // Valid frequencies with no level: the silent resonators' stubs stay.
    morvane_frame quiet = silent_frame();
    quiet._sample_rate = NaN;
    quiet._audible = audible;
    const rendered quiet_base = render_frame(quiet);
    for (morvane_frame* f : {&bad_freqs, &bad_amps}) {
      const rendered& expected = f == &bad_freqs ? base : quiet_base;
      f->_lfo_values[0] = NaN;
      f->_lfo_values[1] = INF;
      f->_lfo_values[2] = -INF;
      f->_output_peak = NaN;
      morvane_view v = default_view(f);
      v._meter_db = NaN;
      const rendered r = render(v);
      ASSERT_TRUE(r._image->healthy()) << audible;
      EXPECT_EQ(changed_pixels(*r._image, *expected._image, inside(r._layout._partials, *r._image)), 0) << audible;
    }
    // The picture of the bands alone.
    image small(200, 100);
    image small_base(200, 100);
    morvane_draw_partials_only(small.cr(), 200, 100, &bad_freqs);
    morvane_draw_partials_only(small_base.cr(), 200, 100, &nothing);
    ASSERT_TRUE(small.healthy());
    EXPECT_EQ(changed_pixels(small, small_base, {0, 0, 199, 99}), 0) << audible;
  }
}

TEST(Partials, GarbageControlsAndNoFrameKeepCairoHealthy)
{
  morvane_view v = default_view(nullptr);
  for (float value : {NaN, INF, -INF, 1e30f, -1e30f}) {
    std::fill(std::begin(v._controls), std::end(v._controls), value);
    v._meter_db = value;
    v._active_control = 7;
    const rendered r = render(v);
    EXPECT_TRUE(r._image->healthy()) << value;
  }
}

TEST(Partials, ResonatorsAboveTheAudibleCountDrawNoSoundingLine)
{
  // At 32 kHz the resonators above 16 kHz are kept silent.
  morvane_frame f = silent_frame();
  f._sample_rate = 32000.0f;
  int audible = 0;
  while (audible < MORVANE_NUM_PARTIALS && f._analysed_freqs[audible] < 16000.0f) {
    ++audible;
  }
  ASSERT_LT(audible, MORVANE_NUM_PARTIALS);
  f._audible = audible;
  const int k = MORVANE_NUM_PARTIALS - 3;
  const float hz = f._analysed_freqs[k];
  const rendered base = render_frame(f);
  set_partial(&f, k, hz, 0.5f, hz, 0.5f);
  const rendered loud = render_frame(f);
  const morvane_rect& a = base._layout._partials;
  EXPECT_EQ(changed_pixels(*loud._image, *base._image, inside(a, *loud._image)), 0);
  // The same resonator counted audible does draw its line.
  f._audible = MORVANE_NUM_PARTIALS;
  const rendered sounding = render_frame(f);
  const int x = static_cast<int>(mel_x(a, hz));
  const int y = static_cast<int>(0.5 * (morvane_partials_y(&a, 20.0 * std::log10(0.5)) + a._y + a._h));
  EXPECT_GT(sounding._image->change(*base._image, x, y), 40);
}

TEST(Layout, KnobsStayApartInsideAndOffTheOtherAreas)
{
  struct size {
    double _w, _h, _scale;
  };
  for (const size& sz : {size{640, 400, 1}, size{900, 540, 1}, size{1800, 1080, 2}, size{1280, 800, 1}}) {
    morvane_layout l;
    morvane_layout_compute(&l, sz._w, sz._h, sz._scale);
    std::vector<morvane_rect> areas = {l._partials, l._meter, l._tempo};
    for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
      areas.push_back(l._lfo[i]);
      for (const morvane_rect& segment : l._sync[i]) {
        areas.push_back(segment);
      }
    }
    for (const morvane_rect& r : areas) {
      EXPECT_GT(r._w, 0.0);
      EXPECT_GT(r._h, 0.0);
      EXPECT_GE(r._x, 0.0);
      EXPECT_GE(r._y, 0.0);
      EXPECT_LE(r._x + r._w, sz._w);
      EXPECT_LE(r._y + r._h, sz._h);
    }
    for (size_t i = 0; i < areas.size(); ++i) {
      for (size_t j = i + 1; j < areas.size(); ++j) {
        const bool apart = areas[i]._x + areas[i]._w <= areas[j]._x || areas[j]._x + areas[j]._w <= areas[i]._x ||
                           areas[i]._y + areas[i]._h <= areas[j]._y || areas[j]._y + areas[j]._h <= areas[i]._y;
        EXPECT_TRUE(apart) << i << " " << j << " at " << sz._w;
      }
    }
    for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
      const double r = l._knob_r[p];
      const morvane_control& c = morvane_controls[p];
      if (c._reserved || c._role == MORVANE_ROLE_SYNC) {
        EXPECT_EQ(r, 0.0) << p;
        continue;
      }
      // A cycle takes its rate's place, one of the two shown at a time.
      const int rate = morvane_control_row(static_cast<uint32_t>(morvane_control_port(c._group, MORVANE_ROLE_RATE)));
      if (c._role == MORVANE_ROLE_CYCLE) {
        EXPECT_EQ(l._knob_x[p], l._knob_x[rate]) << p;
        EXPECT_EQ(l._knob_y[p], l._knob_y[rate]) << p;
        EXPECT_EQ(r, l._knob_r[rate]) << p;
        continue;
      }
      EXPECT_GE(r, 10.0 * sz._scale) << p;
      const double x = l._knob_x[p];
      const double y = l._knob_y[p];
      EXPECT_TRUE(x - r >= 0 && x + r <= sz._w && y - r >= 0 && y + r <= sz._h) << p << " at " << sz._w;
      for (const morvane_rect& a : areas) {
        EXPECT_GE(circle_rect_distance(x, y, a), r) << p << " at " << sz._w;
      }
      for (uint32_t q = p + 1; q < MORVANE_NUM_CONTROLS; ++q) {
        if (l._knob_r[q] > 0.0 && morvane_controls[q]._role != MORVANE_ROLE_CYCLE) {
          EXPECT_GE(std::hypot(x - l._knob_x[q], y - l._knob_y[q]), r + l._knob_r[q]) << p << " " << q;
        }
      }
    }
  }
}

TEST(Layout, SizesBelowTheMinimumAreLaidOutAsTheMinimum)
{
  morvane_layout small;
  morvane_layout minimum;
  morvane_layout_compute(&small, 100, 50, 1.0);
  morvane_layout_compute(&minimum, MORVANE_VIEW_MIN_WIDTH, MORVANE_VIEW_MIN_HEIGHT, 1.0);
  EXPECT_EQ(small._width, MORVANE_VIEW_MIN_WIDTH);
  EXPECT_EQ(small._height, MORVANE_VIEW_MIN_HEIGHT);
  EXPECT_EQ(small._partials._w, minimum._partials._w);
  EXPECT_EQ(small._partials._h, minimum._partials._h);
  for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
    EXPECT_EQ(small._knob_x[p], minimum._knob_x[p]);
    EXPECT_EQ(small._knob_y[p], minimum._knob_y[p]);
    EXPECT_EQ(small._knob_r[p], minimum._knob_r[p]);
  }
}

TEST(Layout, DoubleScaleDoublesTheDefaultLayout)
{
  morvane_layout one;
  morvane_layout two;
  morvane_layout_compute(&one, 900, 540, 1.0);
  morvane_layout_compute(&two, 1800, 1080, 2.0);
  EXPECT_DOUBLE_EQ(two._partials._w, 2.0 * one._partials._w);
  EXPECT_DOUBLE_EQ(two._partials._h, 2.0 * one._partials._h);
  for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
    EXPECT_DOUBLE_EQ(two._knob_x[p], 2.0 * one._knob_x[p]);
    EXPECT_DOUBLE_EQ(two._knob_r[p], 2.0 * one._knob_r[p]);
  }
}

TEST(Layout, KnobAtFindsEachControlAtItsKnobOnly)
{
  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0);
  morvane_view v = default_view(nullptr);
  for (uint32_t p = 0; p < MORVANE_NUM_CONTROLS; ++p) {
    if (!morvane_knob_shown(v._controls, static_cast<int>(p))) {
      continue;
    }
    const double x = l._knob_x[p];
    const double y = l._knob_y[p];
    const double r = l._knob_r[p];
    EXPECT_EQ(morvane_layout_knob_at(&l, v._controls, x, y), static_cast<int>(p));
    EXPECT_EQ(morvane_layout_knob_at(&l, v._controls, x + 0.9 * r, y), static_cast<int>(p));
    EXPECT_EQ(morvane_layout_knob_at(&l, v._controls, x, y - 0.9 * r), static_cast<int>(p));
    EXPECT_EQ(morvane_layout_knob_at(&l, v._controls, x + 1.1 * r, y + 1.1 * r), -1);
  }
  // In Tempo the rate's place holds the cycle.
  const uint32_t rate = MORVANE_LFO_SHAKE_TIME_FREQ;
  v._controls[morvane_control_row(MORVANE_LFO_SHAKE_TIME_SYNC)] = 2.0f;
  EXPECT_EQ(morvane_layout_knob_at(&l, v._controls, l._knob_x[rate], l._knob_y[rate]),
            morvane_control_row(MORVANE_LFO_SHAKE_TIME_CYCLE));
  const float* controls = v._controls;
  const morvane_rect& a = l._partials;
  EXPECT_EQ(morvane_layout_knob_at(&l, controls, a._x + 0.5 * a._w, a._y + 0.5 * a._h), -1);
  EXPECT_EQ(morvane_layout_knob_at(&l, controls, -10, -10), -1);
  EXPECT_EQ(morvane_layout_knob_at(&l, controls, NaN, 100), -1);
  // A reserved port is never hit, even given a radius.
  const uint32_t reserved = MORVANE_LFO_TIME_RANGE_MOD;
  ASSERT_TRUE(morvane_controls[reserved]._reserved);
  l._knob_x[reserved] = a._x + 0.5 * a._w;
  l._knob_y[reserved] = a._y + 0.5 * a._h;
  l._knob_r[reserved] = 20.0;
  EXPECT_EQ(morvane_layout_knob_at(&l, controls, l._knob_x[reserved], l._knob_y[reserved]), -1);
}

TEST(Knobs, RateKnobMovesOnALogScale)
{
  // Half-way on a log scale points the knob's pointer straight up.
  morvane_frame f = silent_frame();
  morvane_view v = default_view(&f);
  const uint32_t rate = 2;
  ASSERT_TRUE(morvane_controls[rate]._logarithmic);
  const float lo = morvane_controls[rate]._min;
  const float hi = morvane_controls[rate]._max;
  v._controls[rate] = std::sqrt(lo * hi);
  const rendered up = render(v);
  v._controls[rate] = 0.5f * (lo + hi);
  const rendered linear_middle = render(v);
  const double x = up._layout._knob_x[rate];
  const double y = up._layout._knob_y[rate] - 0.45 * up._layout._knob_r[rate];
  EXPECT_GT(up._image->brightness(static_cast<int>(x), static_cast<int>(y)),
            linear_middle._image->brightness(static_cast<int>(x), static_cast<int>(y)) + 60.0);
}

// The curve's first sample (phase 0, the wave's peak) stands as high above
// the zero line as the depth is against the port's maximum.
TEST(Lfo, CurveHeightShowsTheDepthAgainstItsMaximum)
{
  morvane_frame f = silent_frame();
  f._lfo_values[1] = NaN;  // no value marker over the curve
  morvane_view v = default_view(&f);
  const uint32_t depth = 5;
  v._controls[depth] = 0.5f * morvane_controls[depth]._max;
  v._controls[7] = 100.0f;
  v._controls[8] = 50.0f;
  float wave[4];
  libquivex_lfo_wave(LIBQUIVEX_LFO_FREQ, v._controls[depth], 0.5f, wave, 4);
  const rendered r = render(v);
  const morvane_rect& a = r._layout._lfo[1];
  // Bipolar: +max at the top, -max at the bottom.
  const double peak_y = a._y + a._h * (1.0 - (wave[0] / morvane_controls[depth]._max + 1.0) * 0.5);
  const int x = static_cast<int>(a._x) + 2;
  int top = -1;
  const double plot = r._image->brightness(x, static_cast<int>(a._y) + 1);
  for (int y = static_cast<int>(a._y) + 1; y < static_cast<int>(a._y + a._h) && top < 0; ++y) {
    if (r._image->brightness(x, y) > plot + 60.0) {
      top = y;
    }
  }
  EXPECT_NEAR(top, peak_y, 2.0);
}

TEST(Lfo, PanelDimsWhenItsAmountIsZero)
{
  morvane_frame f = silent_frame();
  morvane_view v = default_view(&f);
  v._controls[1] = 1.5f;
  v._controls[3] = 100.0f;
  const rendered on = render(v);
  v._controls[3] = 0.0f;
  const rendered off = render(v);
  const pixel_box box = inside(on._layout._lfo[0], *on._image);
  double sum_on = 0.0;
  double sum_off = 0.0;
  for (int y = box._y0; y <= box._y1; ++y) {
    for (int x = box._x0; x <= box._x1; ++x) {
      sum_on += on._image->brightness(x, y);
      sum_off += off._image->brightness(x, y);
    }
  }
  EXPECT_LT(sum_off, 0.8 * sum_on);
}

// The dot stands where the curve is at the engine's phase: one cycle drawn
// from phase 0 at the plot's left edge to 2 pi at its right.
TEST(Lfo, DotStandsAtThePhaseInEveryMode)
{
  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0);
  const morvane_rect& a = l._lfo[0];
  for (float sync : {0.0f, 1.0f, 2.0f}) {
    for (double phase : {0.6, 2.0, 3.14159, 4.5, 5.8}) {
      morvane_frame f = silent_frame();
      f._lfo_values[0] = 0.25f;
      f._lfo_phases[0] = static_cast<float>(phase);
      morvane_view v = default_view(&f);
      v._controls[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 60.0f;
      v._controls[morvane_control_row(MORVANE_LFO_SHAKE_AMP_SYNC)] = sync;
      const rendered with = render(v);
      // The same without the value: no level line, no dot.
      f._lfo_values[0] = NaN;
      const rendered without = render(v);
      const int column = most_changed_column(*with._image, *without._image, inside(a, *with._image));
      EXPECT_NEAR(column, a._x + a._w * phase / (2.0 * M_PI), 1.5) << "phase " << phase << ", sync " << sync;
    }
  }
}

TEST(Knobs, CycleShowsItsNoteValueOrItsQuarters)
{
  const uint32_t cycle = morvane_control_row(MORVANE_LFO_SHAKE_AMP_CYCLE);
  char buf[32];
  const std::pair<float, const char*> cases[] = {
      {1.0f / 3.0f, "1/8 T"}, {0.375f, "1/16 ."}, {64.0f, "16/1"}, {4.0f, "1/1"}, {2.5f, "2.50 q"}, {20.0f, "20.0 q"},
      {1000.0f, "16/1"}, {NaN, "1/1"}};
  for (const auto& [value, label] : cases) {
    morvane_control_text(cycle, value, buf, sizeof buf);
    EXPECT_STREQ(buf, label) << value;
  }
  morvane_control_text(MORVANE_LFO_SHAKE_AMP_FREQ, 2.5f, buf, sizeof buf);
  EXPECT_STREQ(buf, "2.50 Hz");
}

TEST(Header, TempoTextSaysTheTempoAndWhetherTheTransportRolls)
{
  morvane_frame f = silent_frame();
  char buf[32];
  morvane_tempo_text(nullptr, buf, sizeof buf);
  EXPECT_STREQ(buf, "");
  f._transport = MORVANE_TRANSPORT_UNKNOWN;
  morvane_tempo_text(&f, buf, sizeof buf);
  EXPECT_STREQ(buf, "no transport");
  f._transport = MORVANE_TRANSPORT_ROLLING;
  f._song_tempo = 120.0f;
  morvane_tempo_text(&f, buf, sizeof buf);
  EXPECT_STREQ(buf, "\u25b6 120.0 bpm");
  f._transport = MORVANE_TRANSPORT_STOPPED;
  f._song_tempo = 96.5f;
  morvane_tempo_text(&f, buf, sizeof buf);
  EXPECT_STREQ(buf, "\u25a0 96.5 bpm");
  f._song_tempo = NaN;
  morvane_tempo_text(&f, buf, sizeof buf);
  EXPECT_STREQ(buf, "\u25a0");
}

TEST(PartialsOnly, TinySizesDrawWithoutError)
{
  morvane_frame f = silent_frame();
  for (int k = 0; k < MORVANE_NUM_PARTIALS; k += 3) {
    set_partial(&f, k, f._analysed_freqs[k], 0.1f, f._analysed_freqs[k] * 1.02f, 0.08f);
  }
  for (auto [w, h] : {std::pair{1, 1}, std::pair{20, 10}, std::pair{150, 60}, std::pair{300, 200}}) {
    image img(w, h);
    morvane_draw_partials_only(img.cr(), w, h, &f);
    EXPECT_TRUE(img.healthy()) << w << "x" << h;
  }
  image img(10, 10);
  morvane_draw_partials_only(img.cr(), 0, -3, &f);
  morvane_draw_partials_only(img.cr(), NaN, 10, &f);
  morvane_draw_partials_only(img.cr(), 10, 10, nullptr);
  EXPECT_TRUE(img.healthy());
}

TEST(PartialsOnly, PartialLandsAtItsMelXAcrossTheWholePicture)
{
  const morvane_frame empty = silent_frame();
  image base(200, 100);
  morvane_draw_partials_only(base.cr(), 200, 100, &empty);
  const morvane_rect whole{0, 0, 200, 100};
  for (float hz : {250.0f, 1000.0f, 4000.0f}) {
    morvane_frame f = empty;
    set_partial(&f, 60, hz, 0.5f, hz, 0.5f);
    image with(200, 100);
    morvane_draw_partials_only(with.cr(), 200, 100, &f);
    EXPECT_NEAR(most_changed_column(with, base, {0, 0, 199, 99}) + 0.5, mel_x(whole, hz), 1.0);
  }
}

TEST(Mapping, FrequencyGoesWhereTheMelFormulaPutsIt)
{
  const morvane_rect a{10, 20, 300, 200};
  EXPECT_NEAR(morvane_partials_x(&a, 20.0), a._x, 1e-3);
  EXPECT_NEAR(morvane_partials_x(&a, 20000.0), a._x + a._w, 1e-3);
  // 700 Hz is mel 2595 log10(2) = 781.2; 20 Hz 31.75, 20 kHz 3816.9.
  EXPECT_NEAR(morvane_partials_x(&a, 700.0), a._x + a._w * (781.170 - 31.749) / (3816.92 - 31.749), 0.01);
  for (double hz : {31.0, 100.0, 440.0, 1000.0, 2500.0, 7000.0, 15000.0}) {
    EXPECT_NEAR(morvane_partials_x(&a, hz), mel_x(a, hz), 0.01) << hz;
  }
  EXPECT_DOUBLE_EQ(morvane_partials_y(&a, MORVANE_VIEW_DB_CEIL), a._y);
  EXPECT_DOUBLE_EQ(morvane_partials_y(&a, MORVANE_VIEW_DB_FLOOR), a._y + a._h);
}

// Still and moving layers ---------------------------------------------------

// A frame of speech-like partials at time step n: every resonator's level
// and frequency wander, some drop below the view's floor.
morvane_frame wandering_frame(int n)
{
  morvane_frame f = silent_frame();
  uint32_t seed = 2654435761u * static_cast<uint32_t>(n + 1);
  auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<double>(seed >> 8) / 16777216.0;
  };
  for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
    const double amp = next() < 0.15 ? 1e-6 : 0.6 * next();
    set_partial(&f, k, f._analysed_freqs[k], static_cast<float>(amp),
                static_cast<float>(f._analysed_freqs[k] * (0.9 + 0.2 * next())), static_cast<float>(amp * next()));
  }
  for (int i = 0; i < MORVANE_NUM_SHAKE_LFOS; ++i) {
    f._lfo_values[i] = static_cast<float>(0.08 * (next() - 0.5));
    f._lfo_phases[i] = static_cast<float>(6.283185 * next());
  }
  // The host's song: its transport and a tempo that changes now and then.
  f._transport = n % 3;
  f._song_tempo = 90.0f + 10.0f * static_cast<float>(n % 4);
  return f;
}

morvane_view lively_view(const morvane_frame* f, float meter_db)
{
  morvane_view v = default_view(f);
  v._controls[morvane_control_port(0, MORVANE_ROLE_AMOUNT)] = 60.0f;
  v._controls[morvane_control_port(1, MORVANE_ROLE_AMOUNT)] = 30.0f;
  v._meter_db = meter_db;
  return v;
}

// Largest channel difference between two pictures of one size.
int largest_change(const image& a, const image& b)
{
  int most = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      most = std::max(most, a.change(b, x, y));
    }
  }
  return most;
}

// A picture of `before` brought up to `after` over the still layer, as the
// window does; every pixel must match `after` drawn whole. The moving layer
// is clipped to whole-pixel rectangles only, so the two are bit for bit the
// same. The stereo window's frames: Left / Right with both channels moving,
// then Mid, then only its width (every colour).
TEST(Layers, UpdatedPictureEqualsTheWholePictureDrawnAtOnce)
{
  for (const auto& [scale, stereo] : {std::pair{1.0, false}, std::pair{2.0, false}, std::pair{1.0, true}}) {
    const int w = static_cast<int>(900 * scale);
    const int h = static_cast<int>(540 * scale);
    morvane_layout l;
    morvane_layout_compute(&l, w, h, scale, stereo);
    morvane_frame frames[7];
    for (int n = 0; n < 5; ++n) {
      frames[n] = wandering_frame(n);
      const morvane_frame right = wandering_frame(n + 10);
      std::copy_n(right._analysed_amps, MORVANE_NUM_PARTIALS, frames[n]._right_analysed_amps);
      std::copy_n(right._analysed_freqs, MORVANE_NUM_PARTIALS, frames[n]._right_analysed_freqs);
      std::copy_n(right._shaken_amps, MORVANE_NUM_PARTIALS, frames[n]._right_shaken_amps);
      std::copy_n(right._shaken_freqs, MORVANE_NUM_PARTIALS, frames[n]._right_shaken_freqs);
      frames[n]._stereo = !stereo ? MORVANE_FRAME_MONO : n < 3 ? MORVANE_FRAME_LEFT_RIGHT : MORVANE_FRAME_MID;
      frames[n]._width = 100.0f;
    }
    // Mid at another width alone: every colour.
    frames[4] = frames[3];
    frames[4]._width = 40.0f;
    // A harmonic series, then one resonator of it louder and higher: a
    // change that leaves most of the plot as it was.
    frames[5] = silent_frame();
    for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
      const float hz = 110.0f * static_cast<float>(k + 1);
      set_partial(&frames[5], k, hz, 0.3f / static_cast<float>(k + 1), hz * 1.01f, 0.24f / static_cast<float>(k + 1));
    }
    frames[6] = frames[5];
    frames[6]._shaken_amps[20] *= 3.0f;
    frames[6]._shaken_freqs[20] *= 1.03f;
    morvane_view before = lively_view(&frames[0], -12.0f);
    image updated(w, h);
    morvane_draw(updated.cr(), &l, &before);
    image still(w, h);
    morvane_draw_still(still.cr(), &l, &before);
    cairo_surface_flush(cairo_get_target(still.cr()));
    for (int n = 1; n < 7; ++n) {
      const morvane_view after = lively_view(&frames[n], -12.0f + 2.5f * static_cast<float>(n));
      ASSERT_FALSE(morvane_still_differs(&before, &after));
      cairo_region_t* changed = cairo_region_create();
      morvane_draw_update(updated.cr(), cairo_get_target(still.cr()), &l, &before, &after, changed);
      cairo_region_destroy(changed);
      image whole(w, h);
      morvane_draw(whole.cr(), &l, &after);
      ASSERT_EQ(largest_change(updated, whole), 0) << "scale " << scale << ", stereo " << stereo << ", frame " << n;
      before = after;
    }
  }
}

// Every pixel that differs between two frames' pictures lies in the region
// the update reports, and a single moved partial reports a thin strip.
TEST(Layers, ChangedRegionHoldsEveryChangedPixelAndLittleMore)
{
  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0);
  const morvane_frame a = wandering_frame(7);
  morvane_frame b = wandering_frame(8);
  morvane_frame one = a;
  set_partial(&one, 50, a._analysed_freqs[50], 0.4f, a._analysed_freqs[50] * 1.05f, 0.3f);
  for (const morvane_frame* next : {&b, &one}) {
    const morvane_view va = lively_view(&a, -20.0f);
    const morvane_view vb = lively_view(next, next == &b ? -18.0f : -20.0f);
    image pa(900, 540);
    image pb(900, 540);
    morvane_draw(pa.cr(), &l, &va);
    morvane_draw(pb.cr(), &l, &vb);
    image still(900, 540);
    morvane_draw_still(still.cr(), &l, &va);
    cairo_surface_flush(cairo_get_target(still.cr()));
    cairo_region_t* changed = cairo_region_create();
    morvane_draw_update(pa.cr(), cairo_get_target(still.cr()), &l, &va, &vb, changed);
    int outside = 0;
    int differing = 0;
    image fresh(900, 540);
    morvane_draw(fresh.cr(), &l, &va);
    for (int y = 0; y < 540; ++y) {
      for (int x = 0; x < 900; ++x) {
        if (fresh.change(pb, x, y) > 0) {
          ++differing;
          outside += !cairo_region_contains_point(changed, x, y);
        }
      }
    }
    EXPECT_GT(differing, 0);
    EXPECT_EQ(outside, 0);
    if (next == &one) {
      // The resonator's strip of the plot, its ring and line: a sliver.
      cairo_rectangle_int_t box;
      cairo_region_get_extents(changed, &box);
      EXPECT_LT(box.width, 40);
      EXPECT_GT(box.width, 0);
    }
    cairo_region_destroy(changed);
  }
}

TEST(Layers, NothingMovesWhenNothingShownChanges)
{
  morvane_layout l;
  morvane_layout_compute(&l, 900, 540, 1.0);
  morvane_rect boxes[MORVANE_VIEW_MAX_DAMAGE];
  morvane_frame a = wandering_frame(3);
  morvane_frame b = a;
  // The same frame again.
  morvane_view va = lively_view(&a, -30.0f);
  morvane_view vb = lively_view(&b, -30.0f);
  EXPECT_EQ(morvane_moving_damage(&l, &va, &vb, boxes), 0);
  // A switched-off LFO (amount 0) whose value moves, levels below the
  // floor that change, a meter that falls below its scale.
  const uint32_t amount = morvane_control_port(2, MORVANE_ROLE_AMOUNT);
  va._controls[amount] = 0.0f;
  vb._controls[amount] = 0.0f;
  b._lfo_values[2] = a._lfo_values[2] + 0.5f;
  for (int k = 0; k < MORVANE_NUM_PARTIALS; ++k) {
    if (a._shaken_amps[k] < 1e-5f) {
      b._shaken_amps[k] = a._shaken_amps[k] * 0.5f;
      b._analysed_amps[k] = a._analysed_amps[k] * 0.5f;
    }
  }
  va._meter_db = -70.0f;
  vb._meter_db = -95.0f;
  // The switched-off LFO's phase moves; a tempo that prints the same.
  b._lfo_phases[2] = a._lfo_phases[2] + 1.0f;
  a._transport = b._transport = MORVANE_TRANSPORT_ROLLING;
  a._song_tempo = 120.0f;
  b._song_tempo = 120.04f;
  EXPECT_FALSE(morvane_still_differs(&va, &vb));
  EXPECT_EQ(morvane_moving_damage(&l, &va, &vb, boxes), 0);
  // A switched-on LFO whose phase alone moves moves its dot.
  morvane_view vc = vb;
  morvane_frame c = b;
  vc._frame = &c;
  c._lfo_phases[0] = b._lfo_phases[0] + 0.5f;
  EXPECT_GT(morvane_moving_damage(&l, &vb, &vc, boxes), 0);
  // While a change that shows does move something.
  vb._meter_db = -50.0f;
  EXPECT_GT(morvane_moving_damage(&l, &va, &vb, boxes), 0);
  // A control or the knob under the pointer changes the still layer.
  vb = va;
  vb._active_control = 2;
  EXPECT_TRUE(morvane_still_differs(&va, &vb));
}

// The stereo plug-in's partials ---------------------------------------------

// Where a pixel's colour leans: to the blue of the left, the pink of the
// right, or the mono teal (green above red and blue).
enum class lean { LEFT, RIGHT, NEUTRAL, NONE };

lean lean_of(uint32_t p)
{
  const int r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
  if (b > g + 30 && b > r + 30) {
    return lean::LEFT;
  }
  if (r > g + 30 && r > b + 30) {
    return lean::RIGHT;
  }
  return g > r + 30 && g > b ? lean::NEUTRAL : lean::NONE;
}

// The lean of the line at `hz` in `area` of `img`, `dx` pixels from the
// pixel under its frequency, at the height of -50 dBFS (inside every line
// of the tests' partials).
lean line_lean(const image& img, const morvane_rect& area, double hz, int dx)
{
  const double y = area._y + area._h * (6.0 + 50.0) / 102.0;
  return lean_of(img.pixel(static_cast<int>(std::round(mel_x(area, hz))) + dx, static_cast<int>(y)));
}

// A tone of eight harmonics of 300 Hz on resonators 30 to 37, levels
// -10 dB and below.
morvane_frame harmonic_frame(int32_t stereo, float width)
{
  morvane_frame f = silent_frame();
  f._stereo = stereo;
  f._width = width;
  for (int h = 1; h <= 8; ++h) {
    const float hz = 300.0f * static_cast<float>(h);
    set_partial(&f, 29 + h, hz, 0.3f / static_cast<float>(h), hz, 0.3f / static_cast<float>(h));
  }
  return f;
}

// Drawn in the stereo window and in the inline picture alike: in Mid at
// 100 % the even resonators blue (the lowest, 30, on the left), the odd
// ones pink; at 0 % all the mono teal; in Left / Right each channel in
// its side's colour, a partial both share blue just left of its frequency
// and pink just right of it.
TEST(Stereo, PartialsShowTheirPlaceInTheFieldInTheWindowAndTheInlinePicture)
{
  // Left: 300 and 900 Hz; right: 900 and 2400 Hz.
  morvane_frame both = silent_frame();
  both._stereo = MORVANE_FRAME_LEFT_RIGHT;
  for (auto [k, hz, right] : {std::tuple{30, 300.0f, false}, {32, 900.0f, false}, {32, 900.0f, true}, {37, 2400.0f, true}}) {
    (right ? both._right_analysed_freqs : both._analysed_freqs)[k] = hz;
    (right ? both._right_shaken_freqs : both._shaken_freqs)[k] = hz;
    (right ? both._right_analysed_amps : both._analysed_amps)[k] = 0.1f;
    (right ? both._right_shaken_amps : both._shaken_amps)[k] = 0.1f;
  }
  const morvane_frame mid = harmonic_frame(MORVANE_FRAME_MID, 100.0f);
  const morvane_frame centred = harmonic_frame(MORVANE_FRAME_MID, 0.0f);
  for (bool window : {true, false}) {
    auto lean_at = [&](const morvane_frame& f, double hz, int dx) {
      if (window) {
        morvane_view v = default_view(&f);
        rendered r;
        morvane_layout_compute(&r._layout, 900, 540, 1.0, true);
        r._image = std::make_unique<image>(900, 540);
        morvane_draw(r._image->cr(), &r._layout, &v);
        return line_lean(*r._image, r._layout._partials, hz, dx);
      }
      image img(400, 200);
      morvane_draw_partials_only(img.cr(), 400, 200, &f);
      return line_lean(img, {0, 0, 400, 200}, hz, dx);
    };
    for (int h = 1; h <= 8; ++h) {
      const double hz = 300.0 * h;
      // Resonator 29 + h: even for odd harmonics.
      EXPECT_EQ(lean_at(mid, hz, 0), h % 2 == 1 ? lean::LEFT : lean::RIGHT) << hz << " Hz, window " << window;
      EXPECT_EQ(lean_at(centred, hz, 0), lean::NEUTRAL) << hz << " Hz, window " << window;
    }
    EXPECT_EQ(lean_at(both, 300.0, -1), lean::LEFT) << window;
    EXPECT_EQ(lean_at(both, 2400.0, 0), lean::RIGHT) << window;
    EXPECT_EQ(lean_at(both, 900.0, -1), lean::LEFT) << window;
    EXPECT_EQ(lean_at(both, 900.0, 0), lean::RIGHT) << window;
  }
}

TEST(InlinePicture, RefusesAShortStrideAndDrawsThePartialsAlone)
{
  const morvane_frame f = wandering_frame(1);
  std::vector<unsigned char> pixels(160 * 4 * 80);
  EXPECT_EQ(morvane_inline_draw(&f, pixels.data(), 160, 80, 160 * 4 - 4), -1);
  EXPECT_EQ(morvane_inline_draw(&f, nullptr, 160, 80, 160 * 4), -1);
  EXPECT_EQ(morvane_inline_draw(&f, pixels.data(), 0, 80, 160 * 4), -1);
  ASSERT_EQ(morvane_inline_draw(&f, pixels.data(), 160, 80, 160 * 4), 0);
  image expected(160, 80);
  morvane_draw_partials_only(expected.cr(), 160, 80, &f);
  int differing = 0;
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 160; ++x) {
      uint32_t p;
      std::memcpy(&p, &pixels[static_cast<size_t>(y * 160 + x) * 4], sizeof p);
      differing += p != expected.pixel(x, y);
    }
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
