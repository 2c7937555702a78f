// SPDX-License-Identifier: LGPL-2.1-or-later
// The stereo plug-in through liblilv: the cases where it must give the mono
// plug-in's output bit for bit, what width and the LFO offset do to the
// two outputs, and switching its roads without a burst.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "plugin_host.h"
#include "stereo_field.h"

namespace {

constexpr double RATE = 48000.0;
constexpr std::size_t BLOCK = 300;  // more than one of the plug-in's pieces
constexpr unsigned SEED = 7;

using Stereo = std::array<std::vector<float>, 2>;

// Shaking settings: every shake LFO moves the sound.
void shake(Controls& c)
{
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 50.0f;
  c[MORVANE_LFO_SHAKE_AMP_FREQ] = 3.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 40.0f;
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 30.0f;
}

void set(Controls& c, uint32_t port, float value) { c[control_row(port)] = value; }

std::vector<float> mono(const std::vector<float>& signal)
{
  PluginHost host(RATE, HostSetup{.max_block = BLOCK, .seed = SEED});
  shake(host.controls());
  return host.process(signal, BLOCK);
}

Stereo stereo(const std::vector<float>& left, const std::vector<float>& right, float mode, float width,
              float offset, void (*settings)(Controls&) = shake)
{
  PluginHost host(RATE, HostSetup{.max_block = BLOCK, .stereo = true, .seed = SEED});
  EXPECT_TRUE(host.ok());
  settings(host.controls());
  set(host.controls(), MORVANE_STEREO_MODE, mode);
  set(host.controls(), MORVANE_WIDTH, width);
  set(host.controls(), MORVANE_LFO_OFFSET, offset);
  return host.process_stereo(left, right, BLOCK);
}

std::vector<float> tone(std::size_t n, double hz, double amplitude = 0.5)
{
  std::vector<float> s(n);
  for (std::size_t i = 0; i < n; ++i) {
    s[i] = static_cast<float>(amplitude * std::sin(6.283185307179586 * hz * static_cast<double>(i) / RATE));
  }
  return s;
}

double correlation(const std::vector<float>& a, const std::vector<float>& b, std::size_t from = 0)
{
  double ab = 0.0, aa = 0.0, bb = 0.0;
  for (std::size_t i = from; i < a.size(); ++i) {
    ab += double(a[i]) * b[i];
    aa += double(a[i]) * a[i];
    bb += double(b[i]) * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

double energy(const Stereo& s, std::size_t from)
{
  double e = 0.0;
  for (const auto& channel : s) {
    for (std::size_t i = from; i < channel.size(); ++i) {
      e += double(channel[i]) * channel[i];
    }
  }
  return e;
}

// Root mean square over windows of `len` samples, from `from` on.
std::vector<float> envelope(const std::vector<float>& s, std::size_t from, std::size_t len)
{
  std::vector<float> env;
  for (std::size_t i = from; i + len <= s.size(); i += len) {
    double e = 0.0;
    for (std::size_t k = i; k < i + len; ++k) {
      e += double(s[k]) * s[k];
    }
    env.push_back(static_cast<float>(std::sqrt(e / double(len))));
  }
  return env;
}

double largest_step(const std::vector<float>& s, std::size_t from, std::size_t to)
{
  double step = 0.0;
  for (std::size_t i = std::max<std::size_t>(from, 1); i < to && i < s.size(); ++i) {
    step = std::max(step, std::fabs(double(s[i]) - s[i - 1]));
  }
  return step;
}

}  // namespace

TEST(StereoPlugin, EqualChannelsGiveTheMonoOutputInMidAtWidthZeroAndInLeftRight)
{
  const std::vector<float> x = test_signal(24000);
  const std::vector<float> expected = mono(x);
  for (const float mode : {0.0f, 1.0f}) {
    const Stereo out = stereo(x, x, mode, 0.0f, 0.0f);
    for (int side = 0; side < 2; ++side) {
      ASSERT_EQ(out[side].size(), expected.size());
      EXPECT_EQ(0, std::memcmp(out[side].data(), expected.data(), expected.size() * sizeof(float)))
          << "mode " << mode << ", output " << side;
    }
  }
}

TEST(StereoPlugin, LeftRightGivesEachChannelItsMonoOutput)
{
  const std::vector<float> x = test_signal(24000);
  const std::vector<float> y = tone(24000, 330.0);
  const Stereo out = stereo(x, y, 1.0f, 100.0f, 0.0f);
  const std::vector<float> expected[2] = {mono(x), mono(y)};
  for (int side = 0; side < 2; ++side) {
    EXPECT_EQ(0, std::memcmp(out[side].data(), expected[side].data(), expected[side].size() * sizeof(float)))
        << "output " << side;
  }
}

TEST(StereoPlugin, LeftRightKeepsASignalOnTheRightOnTheRight)
{
  const std::vector<float> silence(24000, 0.0f);
  const Stereo out = stereo(silence, test_signal(24000), 1.0f, 100.0f, 0.0f);
  EXPECT_EQ(energy({out[0], {}}, 0), 0.0);
  EXPECT_GT(energy({out[1], {}}, 0), 1.0);
}

TEST(StereoPlugin, WidthSpreadsThePartialsApart)
{
  const auto plain = [](Controls&) {};
  const std::size_t settle = 4800;
  for (const std::vector<float>& x : {test_signal(48000), tone(48000, 220.0)}) {
    const Stereo narrow = stereo(x, x, 0.0f, 0.0f, 0.0f, plain);
    const Stereo wide = stereo(x, x, 0.0f, 100.0f, 0.0f, plain);
    EXPECT_NEAR(correlation(narrow[0], narrow[1], settle), 1.0, 1e-12);
    EXPECT_LT(correlation(wide[0], wide[1], settle), 0.5);
  }
  // On noise every partial carries its own share: the field's total energy
  // stays where it is at width 0.
  std::vector<float> noise(48000);
  uint32_t lcg = 99u;
  for (float& v : noise) {
    lcg = lcg * 1664525u + 1013904223u;
    v = static_cast<float>(static_cast<double>(lcg >> 8) / 16777216.0 - 0.5);
  }
  const double e0 = energy(stereo(noise, noise, 0.0f, 0.0f, 0.0f, plain), settle);
  const double e100 = energy(stereo(noise, noise, 0.0f, 100.0f, 0.0f, plain), settle);
  EXPECT_LT(std::fabs(10.0 * std::log10(e100 / e0)), 1.5);
}

TEST(StereoPlugin, PanGainsKeepThePowerOfEveryPartial)
{
  float gl[LIBQUIVEX_NUM_RESONATORS], gr[LIBQUIVEX_NUM_RESONATORS];
  for (const double width : {0.0, 0.1, 0.37, 0.5, 0.9, 1.0}) {
    stereo_field_gains(width, gl, gr, LIBQUIVEX_NUM_RESONATORS);
    for (int k = 0; k < LIBQUIVEX_NUM_RESONATORS; ++k) {
      EXPECT_NEAR(double(gl[k]) * gl[k] + double(gr[k]) * gr[k], 2.0, 1e-6) << "width " << width << ", " << k;
      // Neighbours on opposite sides, each the same distance from the centre.
      if (k > 0) {
        EXPECT_EQ(gl[k], gr[k - 1]);
      }
    }
  }
  stereo_field_gains(0.0, gl, gr, LIBQUIVEX_NUM_RESONATORS);
  for (int k = 0; k < LIBQUIVEX_NUM_RESONATORS; ++k) {
    EXPECT_EQ(gl[k], 1.0f);
    EXPECT_EQ(gr[k], 1.0f);
  }
  stereo_field_gains(1.0, gl, gr, LIBQUIVEX_NUM_RESONATORS);
  EXPECT_EQ(gl[0], static_cast<float>(std::sqrt(2.0)));  // the lowest partial on the left
  EXPECT_EQ(gr[0], 0.0f);
}

TEST(StereoPlugin, OppositeLfosPutTheTremoloEnvelopesInAntiphase)
{
  const auto tremolo = [](Controls& c) {
    c[MORVANE_LFO_SHAKE_AMP_AMP] = 1.0f;
    c[MORVANE_LFO_SHAKE_AMP_FREQ] = 2.0f;
    c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 50.0f;
  };
  const std::vector<float> x = tone(96000, 440.0);
  for (const float mode : {0.0f, 1.0f}) {
    const Stereo out = stereo(x, x, mode, 0.0f, 180.0f, tremolo);
    const std::vector<float> left = envelope(out[0], 9600, 2400);
    const std::vector<float> right = envelope(out[1], 9600, 2400);
    double ml = 0.0, mr = 0.0;
    for (std::size_t i = 0; i < left.size(); ++i) {
      ml += left[i];
      mr += right[i];
    }
    std::vector<float> l = left, r = right;
    for (std::size_t i = 0; i < l.size(); ++i) {
      l[i] -= static_cast<float>(ml / double(l.size()));
      r[i] -= static_cast<float>(mr / double(r.size()));
    }
    EXPECT_LT(correlation(l, r), -0.9) << "mode " << mode;
  }
}

TEST(StereoPlugin, SwitchingRoadsNeverStepsBeyondTheSignalsOwnSteps)
{
  const std::vector<float> x = test_signal(48000 * 3);
  std::vector<float> y = x;
  std::reverse(y.begin(), y.end());  // a different right channel
  // The largest sample-to-sample step each road makes on its own.
  double own = 0.0;
  for (const auto& [mode, offset] : {std::pair{0.0f, 0.0f}, {0.0f, 90.0f}, {1.0f, 0.0f}}) {
    const Stereo steady = stereo(x, y, mode, 100.0f, offset);
    own = std::max({own, largest_step(steady[0], 4800, x.size()), largest_step(steady[1], 4800, x.size())});
  }
  // Every 0.2 s another road: Mid, Mid with an offset, Left / Right, ...
  PluginHost host(RATE, HostSetup{.max_block = BLOCK, .stereo = true, .seed = SEED});
  shake(host.controls());
  Stereo out;
  const float roads[][2] = {{0.0f, 0.0f}, {0.0f, 90.0f}, {1.0f, 0.0f}, {0.0f, 0.0f},
                            {1.0f, 45.0f}, {0.0f, 90.0f}, {0.0f, 0.0f}, {1.0f, 0.0f}};
  const std::size_t stretch = 9600;
  for (std::size_t pos = 0; pos < x.size(); pos += BLOCK) {
    const auto* road = roads[(pos / stretch) % std::size(roads)];
    set(host.controls(), MORVANE_STEREO_MODE, road[0]);
    set(host.controls(), MORVANE_LFO_OFFSET, road[1]);
    const Stereo part = host.process_stereo({x.begin() + long(pos), x.begin() + long(pos + BLOCK)},
                                            {y.begin() + long(pos), y.begin() + long(pos + BLOCK)}, BLOCK);
    for (int side = 0; side < 2; ++side) {
      out[side].insert(out[side].end(), part[side].begin(), part[side].end());
    }
  }
  // Around each switch: the fade out, the fade in and 10 ms after.
  for (std::size_t at = stretch; at < x.size(); at += stretch) {
    for (int side = 0; side < 2; ++side) {
      EXPECT_LE(largest_step(out[side], at, at + BLOCK + 2 * 144 + 480), own) << "output " << side << " at " << at;
    }
  }
}
