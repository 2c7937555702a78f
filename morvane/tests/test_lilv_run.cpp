// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in driven through liblilv as a host drives it: instantiation,
// port connection and run, compared with the effect engine run directly.
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <quivex/libquivex.h>

#include <gtest/gtest.h>

#include "denormal_guard.h"
#include "decibel.h"
#include "plugin_host.h"

namespace {

constexpr double RATE = 48000.0;
constexpr std::size_t MAX_BLOCK = 512;
// Irregular block lengths, as hosts use them, cycled over a signal.
constexpr uint32_t BLOCKS[] = {256, 1, 97, 512, 31, 400};

// Runs signal through host in the block pattern above; returns the left
// output.
std::vector<float> process(PluginHost& host, const std::vector<float>& signal)
{
  std::vector<float> out;
  std::size_t pos = 0;
  for (std::size_t b = 0; pos < signal.size(); ++b) {
    const std::size_t n = std::min<std::size_t>(BLOCKS[b % std::size(BLOCKS)], signal.size() - pos);
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(pos), n, host.in_l().begin());
    host.run(static_cast<uint32_t>(n));
    out.insert(out.end(), host.out_l().begin(), host.out_l().begin() + static_cast<std::ptrdiff_t>(n));
    pos += n;
  }
  return out;
}

// The values the engine's setters take, in port order: linear gain,
// then each LFO's depth, rate, and dry/wet and shape as fractions (the 25
// ports before the audio ports; the song lock's ports have no setter).
constexpr uint32_t ENGINE_CONTROLS = MORVANE_LFO_TIME_RANGE_MOD + 1;
using EngineSettings = std::array<float, ENGINE_CONTROLS>;

// The effect engine on its own, created after the same srand as a
// PluginHost, run in the same blocks with flush-to-zero as the plug-in runs.
std::vector<float> run_engine(const EngineSettings& s, const std::vector<float>& signal,
                              unsigned seed = 1)
{
  std::srand(seed);
  libquivex q = libquivex_new(static_cast<unsigned long>(RATE));
  EXPECT_NE(q, nullptr);
  if (!q) {
    return {};
  }
  void (*const setters[ENGINE_CONTROLS])(libquivex, float) = {
    libquivex_set_gain,
    libquivex_set_lfo_amp_amp, libquivex_set_lfo_amp_freq,
    libquivex_set_lfo_amp_amount, libquivex_set_lfo_amp_mod,
    libquivex_set_lfo_freq_amp, libquivex_set_lfo_freq_freq,
    libquivex_set_lfo_freq_amount, libquivex_set_lfo_freq_mod,
    libquivex_set_lfo_time_amp, libquivex_set_lfo_time_freq,
    libquivex_set_lfo_time_amount, libquivex_set_lfo_time_mod,
    libquivex_set_lfo_amp_range_amp, libquivex_set_lfo_amp_range_freq,
    libquivex_set_lfo_amp_range_amount, libquivex_set_lfo_amp_range_mod,
    libquivex_set_lfo_freq_range_amp, libquivex_set_lfo_freq_range_freq,
    libquivex_set_lfo_freq_range_amount, libquivex_set_lfo_freq_range_mod,
    libquivex_set_lfo_time_range_amp, libquivex_set_lfo_time_range_freq,
    libquivex_set_lfo_time_range_amount, libquivex_set_lfo_time_range_mod,
  };
  std::vector<float> out(signal);
  std::size_t pos = 0;
  for (std::size_t b = 0; pos < out.size(); ++b) {
    const std::size_t n = std::min<std::size_t>(BLOCKS[b % std::size(BLOCKS)], out.size() - pos);
    for (uint32_t i = 0; i < ENGINE_CONTROLS; ++i) {
      setters[i](q, s[i]);
    }
    const tembra_fp::DenormalGuard guard;
    libquivex_next_buffer(q, out.data() + pos, static_cast<int>(n));
    pos += n;
  }
  libquivex_free(q);
  return out;
}

// Bit-for-bit equality, reporting the first sample that differs.
::testing::AssertionResult bit_equal(const std::vector<float>& a, const std::vector<float>& b)
{
  if (a.size() != b.size()) {
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
      return ::testing::AssertionFailure()
             << "sample " << i << ": " << a[i] << " vs " << b[i];
    }
  }
  return ::testing::AssertionSuccess();
}

double rms(const std::vector<float>& x, std::size_t from = 0)
{
  double sum = 0.0;
  for (std::size_t i = from; i < x.size(); ++i) {
    sum += static_cast<double>(x[i]) * x[i];
  }
  return std::sqrt(sum / static_cast<double>(x.size() - from));
}

bool all_finite(const std::vector<float>& x)
{
  return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}

// The AMOUNT and MOD ports, the two last of each LFO's four.
bool is_percent(uint32_t port)
{
  return port > MORVANE_GAIN && (port - 1) % 4 >= 2;
}

// LFO settings that make every shake stage audible. The percentages are
// ones where 0.01 times the value rounds differently in float than in
// double, so a conversion in the wrong precision shows.
Controls shaken_controls()
{
  Controls c = default_controls();
  c[MORVANE_GAIN] = -3.0f;
  c[MORVANE_LFO_SHAKE_AMP_AMP] = 0.8f;
  c[MORVANE_LFO_SHAKE_AMP_FREQ] = 3.0f;
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 36.0f;
  c[MORVANE_LFO_SHAKE_AMP_MOD] = 43.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMP] = 0.3f;
  c[MORVANE_LFO_SHAKE_FREQ_FREQ] = 2.5f;
  c[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 66.0f;
  c[MORVANE_LFO_SHAKE_FREQ_MOD] = 50.0f;
  c[MORVANE_LFO_SHAKE_TIME_AMP] = 0.4f;
  c[MORVANE_LFO_SHAKE_TIME_FREQ] = 0.7f;
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 33.0f;
  c[MORVANE_LFO_SHAKE_TIME_MOD] = 72.0f;
  return c;
}

class LilvRun : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(LilvTestWorld::get().plugin(), nullptr)
        << "no plug-in " << MORVANE_URI << " under " << MORVANE_TEST_LV2_PATH;
  }
  const std::vector<float> signal = test_signal(4800);
};

// The engine sees the sample rate the host gives: a 1 kHz tone comes out
// at 1 kHz at every common rate.
TEST_F(LilvRun, FollowsAToneAtCommonSampleRates)
{
  for (double rate : {44100.0, 48000.0, 96000.0}) {
    SCOPED_TRACE(rate);
    PluginHost host(rate, MAX_BLOCK);
    ASSERT_TRUE(host.ok());
    const std::size_t n = static_cast<std::size_t>(rate * 0.4);
    std::vector<float> tone(n);
    for (std::size_t i = 0; i < n; ++i) {
      tone[i] = static_cast<float>(0.5 * std::sin(6.283185307179586 * 1000.0 * static_cast<double>(i) / rate));
    }
    const std::vector<float> out = process(host, tone);
    ASSERT_TRUE(all_finite(out));
    // Over the second half, once the resonators have locked on.
    const std::size_t from = n / 2;
    EXPECT_GT(rms(out, from), 0.1 * rms(tone, from));
    int crossings = 0;
    for (std::size_t i = from + 1; i < n; ++i) {
      crossings += (out[i - 1] < 0.0f) != (out[i] < 0.0f);
    }
    const double hz = crossings / 2.0 / (static_cast<double>(n - from) / rate);
    EXPECT_NEAR(hz, 1000.0, 10.0);
  }
}

TEST_F(LilvRun, RejectsSampleRatesNoEngineCanRun)
{
  const LilvPlugin* plugin = LilvTestWorld::get().plugin();
  for (double rate : {0.0, 0.5, -48000.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
    SCOPED_TRACE(rate);
    LilvInstance* instance = lilv_plugin_instantiate(plugin, rate, nullptr);
    EXPECT_EQ(instance, nullptr);
    if (instance) {
      lilv_instance_free(instance);
    }
  }
}

// Mono processing: the right input is never read, and both outputs carry
// the processed left input.
TEST_F(LilvRun, RightInputIsIgnoredAndBothOutputsAgree)
{
  PluginHost silent(RATE, MAX_BLOCK);
  PluginHost noisy(RATE, MAX_BLOCK);
  ASSERT_TRUE(silent.ok() && noisy.ok());
  silent.controls() = noisy.controls() = shaken_controls();
  std::vector<float> out_silent, out_noisy;
  uint32_t lcg = 99u;
  for (std::size_t pos = 0; pos < signal.size(); pos += 300) {
    for (PluginHost* h : {&silent, &noisy}) {
      std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(pos), 300, h->in_l().begin());
    }
    for (float& v : noisy.in_r()) {
      lcg = lcg * 1664525u + 1013904223u;
      v = static_cast<float>(lcg >> 8) / 8388608.0f - 1.0f;
    }
    silent.run(300);
    noisy.run(300);
    for (PluginHost* h : {&silent, &noisy}) {
      ASSERT_EQ(std::memcmp(h->out_l().data(), h->out_r().data(), 300 * sizeof(float)), 0);
    }
    out_silent.insert(out_silent.end(), silent.out_l().begin(), silent.out_l().begin() + 300);
    out_noisy.insert(out_noisy.end(), noisy.out_l().begin(), noisy.out_l().begin() + 300);
  }
  EXPECT_TRUE(bit_equal(out_silent, out_noisy));
  EXPECT_GT(rms(out_silent), 0.01);
}

// Without a left input or left output run writes nothing and the engine
// does not advance: afterwards the instance continues as a fresh one.
TEST_F(LilvRun, UnconnectedLeftInputOrOutputWritesNothing)
{
  constexpr float SENTINEL = 1234.5f;
  for (uint32_t missing : {static_cast<uint32_t>(MORVANE_INPUT_L), static_cast<uint32_t>(MORVANE_OUTPUT_L)}) {
    SCOPED_TRACE(missing);
    PluginHost host(RATE, MAX_BLOCK);
    PluginHost fresh(RATE, MAX_BLOCK);
    ASSERT_TRUE(host.ok() && fresh.ok());
    std::fill(host.out_l().begin(), host.out_l().end(), SENTINEL);
    std::fill(host.out_r().begin(), host.out_r().end(), SENTINEL);
    std::copy_n(signal.begin(), MAX_BLOCK, host.in_l().begin());
    host.connect(missing, nullptr);
    for (int i = 0; i < 4; ++i) {
      host.run(MAX_BLOCK);
    }
    for (float v : host.out_l()) {
      ASSERT_EQ(v, SENTINEL);
    }
    for (float v : host.out_r()) {
      ASSERT_EQ(v, SENTINEL);
    }
    host.connect(missing, missing == MORVANE_INPUT_L ? host.in_l().data() : host.out_l().data());
    EXPECT_TRUE(bit_equal(process(host, signal), process(fresh, signal)));
  }
}

// Without a right output the left output is still processed.
TEST_F(LilvRun, UnconnectedRightOutputStillProcessesLeft)
{
  PluginHost host(RATE, MAX_BLOCK);
  PluginHost full(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok() && full.ok());
  host.connect(MORVANE_OUTPUT_R, nullptr);
  EXPECT_TRUE(bit_equal(process(host, signal), process(full, signal)));
}

TEST_F(LilvRun, ZeroSamplesWritesNothingAndAdvancesNothing)
{
  PluginHost host(RATE, MAX_BLOCK);
  PluginHost fresh(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok() && fresh.ok());
  host.controls() = fresh.controls() = shaken_controls();
  std::fill(host.out_l().begin(), host.out_l().end(), -7.0f);
  std::fill(host.out_r().begin(), host.out_r().end(), -7.0f);
  std::copy_n(signal.begin(), MAX_BLOCK, host.in_l().begin());
  for (int i = 0; i < 10; ++i) {
    host.run(0);
  }
  for (std::size_t i = 0; i < MAX_BLOCK; ++i) {
    ASSERT_EQ(host.out_l()[i], -7.0f);
    ASSERT_EQ(host.out_r()[i], -7.0f);
  }
  EXPECT_TRUE(bit_equal(process(host, signal), process(fresh, signal)));
}

// A host may hand the left input and output the same buffer.
TEST_F(LilvRun, InPlaceBuffersGiveTheSameOutput)
{
  PluginHost separate(RATE, MAX_BLOCK);
  PluginHost in_place(RATE, MAX_BLOCK);
  ASSERT_TRUE(separate.ok() && in_place.ok());
  separate.controls() = in_place.controls() = shaken_controls();
  std::vector<float> shared(MAX_BLOCK);
  in_place.connect(MORVANE_INPUT_L, shared.data());
  in_place.connect(MORVANE_OUTPUT_L, shared.data());
  std::vector<float> out_in_place;
  for (std::size_t pos = 0; pos < signal.size(); pos += 160) {
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(pos), 160, shared.begin());
    in_place.run(160);
    ASSERT_EQ(std::memcmp(shared.data(), in_place.out_r().data(), 160 * sizeof(float)), 0);
    out_in_place.insert(out_in_place.end(), shared.begin(), shared.begin() + 160);
  }
  std::vector<float> out_separate;
  for (std::size_t pos = 0; pos < signal.size(); pos += 160) {
    std::copy_n(signal.begin() + static_cast<std::ptrdiff_t>(pos), 160, separate.in_l().begin());
    separate.run(160);
    out_separate.insert(out_separate.end(), separate.out_l().begin(), separate.out_l().begin() + 160);
  }
  EXPECT_TRUE(bit_equal(out_in_place, out_separate));
}

// Values beyond a port's range act as the nearest bound, so any float a
// host sends keeps the output finite.
TEST_F(LilvRun, OutOfRangeControlsActAsTheNearestBound)
{
  const float inf = std::numeric_limits<float>::infinity();
  for (float beyond : {1e30f, inf, -1e30f, -inf}) {
    SCOPED_TRACE(beyond);
    PluginHost wild(RATE, MAX_BLOCK);
    PluginHost bound(RATE, MAX_BLOCK);
    ASSERT_TRUE(wild.ok() && bound.ok());
    for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
      wild.controls()[i] = beyond;
      bound.controls()[i] = beyond > 0 ? morvane_controls[i]._max : morvane_controls[i]._min;
    }
    const std::vector<float> out = process(wild, signal);
    EXPECT_TRUE(all_finite(out));
    EXPECT_TRUE(bit_equal(out, process(bound, signal)));
  }
}

TEST_F(LilvRun, NanControlsActAsTheirDefaults)
{
  PluginHost nan(RATE, MAX_BLOCK);
  PluginHost defaults(RATE, MAX_BLOCK);
  ASSERT_TRUE(nan.ok() && defaults.ok());
  nan.controls().fill(std::numeric_limits<float>::quiet_NaN());
  const std::vector<float> out = process(nan, signal);
  EXPECT_TRUE(all_finite(out));
  EXPECT_GT(rms(out), 0.01);
  EXPECT_TRUE(bit_equal(out, process(defaults, signal)));
}

// The gain is applied last as one float product, so -6 dB scales every
// sample of the 0 dB output by exactly db_to_amp(-6).
TEST_F(LilvRun, GainScalesOutputByItsLinearFactor)
{
  PluginHost unity(RATE, MAX_BLOCK);
  PluginHost minus6(RATE, MAX_BLOCK);
  ASSERT_TRUE(unity.ok() && minus6.ok());
  unity.controls() = minus6.controls() = shaken_controls();
  unity.controls()[MORVANE_GAIN] = 0.0f;
  minus6.controls()[MORVANE_GAIN] = -6.0f;
  std::vector<float> expected = process(unity, signal);
  const float g = db_to_amp(-6.0f);
  for (float& v : expected) {
    v *= g;
  }
  EXPECT_TRUE(bit_equal(process(minus6, signal), expected));
}

// The plug-in adds nothing to the engine: with the port values converted
// (gain through db_to_amp, percentages times 0.01 in double) the engine run
// directly gives the same samples, bit for bit.
TEST_F(LilvRun, OutputEqualsTheEngineRunDirectly)
{
  Controls c = shaken_controls();
  c[MORVANE_LFO_AMP_RANGE_AMP] = 0.3f;
  c[MORVANE_LFO_FREQ_RANGE_FREQ] = 7.0f;
  c[MORVANE_LFO_TIME_RANGE_AMOUNT] = 80.0f;
  PluginHost host(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok());
  host.controls() = c;
  EngineSettings s;
  for (uint32_t i = 0; i < ENGINE_CONTROLS; ++i) {
    s[i] = is_percent(i) ? static_cast<float>(0.01 * static_cast<double>(c[i])) : c[i];
  }
  s[MORVANE_GAIN] = db_to_amp(c[MORVANE_GAIN]);
  const std::vector<float> out = process(host, signal);
  EXPECT_GT(rms(out), 0.01);
  EXPECT_TRUE(bit_equal(out, run_engine(s, signal)));
}

// 0 dB is a gain of exactly 1 and the percentages 0, 50 and 100 are exactly
// the fractions 0, 0.5 and 1.
TEST_F(LilvRun, RoundPortValuesReachTheEngineExactly)
{
  Controls c = default_controls();
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 50.0f;
  c[MORVANE_LFO_SHAKE_AMP_MOD] = 100.0f;
  c[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 100.0f;
  c[MORVANE_LFO_SHAKE_FREQ_MOD] = 0.0f;
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 50.0f;
  PluginHost host(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok());
  host.controls() = c;
  // The fractions written out, not computed.
  auto exact_fraction = [](float pc) { return pc == 0.0f ? 0.0f : pc == 50.0f ? 0.5f : 1.0f; };
  EngineSettings s;
  for (uint32_t i = 0; i < ENGINE_CONTROLS; ++i) {
    if (is_percent(i)) {
      ASSERT_TRUE(c[i] == 0.0f || c[i] == 50.0f || c[i] == 100.0f);
    }
    s[i] = is_percent(i) ? exact_fraction(c[i]) : c[i];
  }
  s[MORVANE_GAIN] = 1.0f;
  EXPECT_TRUE(bit_equal(process(host, signal), run_engine(s, signal)));
}

// The twelve reserved range ports feed no stage.
TEST_F(LilvRun, RangeLfoPortsLeaveTheOutputUnchanged)
{
  PluginHost plain(RATE, MAX_BLOCK);
  PluginHost ranged(RATE, MAX_BLOCK);
  ASSERT_TRUE(plain.ok() && ranged.ok());
  plain.controls() = ranged.controls() = shaken_controls();
  for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
    if (morvane_controls[i]._reserved) {
      ranged.controls()[i] = morvane_controls[i]._max;
    }
  }
  EXPECT_TRUE(bit_equal(process(plain, signal), process(ranged, signal)));
}

// Re-activation starts the instance afresh, as hosts expect after a bypass
// toggle: an instance that ran a tone under long smoothing, was deactivated
// and activated again gives, bit for bit, what a fresh instance with the
// same random phase offsets gives. The first activate of a fresh instance
// (the host's own, then one more) changes nothing.
TEST_F(LilvRun, ReactivationStartsAfreshLikeAFreshInstance)
{
  Controls c = shaken_controls();
  c[MORVANE_LFO_SHAKE_TIME_AMP] = 1.0f;  // up to 10 s of smoothing at the top
  c[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 100.0f;
  const std::vector<float> tone = test_signal(24000);

  PluginHost used(RATE, MAX_BLOCK);  // rand() seeded 1
  ASSERT_TRUE(used.ok());
  used.controls() = c;
  const std::vector<float> heard = process(used, tone);
  ASSERT_GT(std::abs(heard.back()) + std::abs(heard[heard.size() - 2]), 0.0f);
  lilv_instance_deactivate(used.instance());
  lilv_instance_activate(used.instance());
  const std::vector<float> restarted = process(used, signal);

  PluginHost fresh(RATE, MAX_BLOCK);  // seeded 1 again: the same phase offsets
  ASSERT_TRUE(fresh.ok());
  fresh.controls() = c;
  EXPECT_TRUE(bit_equal(restarted, process(fresh, signal)));

  PluginHost twice(RATE, MAX_BLOCK);
  ASSERT_TRUE(twice.ok());
  twice.controls() = c;
  lilv_instance_deactivate(twice.instance());
  lilv_instance_activate(twice.instance());
  EXPECT_TRUE(bit_equal(process(twice, signal), restarted));
}

// run sets flush-to-zero for itself only: the host's floating-point mode,
// whatever it is, is the same after the call.
TEST_F(LilvRun, RunRestoresTheHostsFloatingPointMode)
{
  PluginHost host(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok());
  std::copy_n(signal.begin(), MAX_BLOCK, host.in_l().begin());
  const unsigned int original = _mm_getcsr();
  // Default masks with round-to-nearest; with round-down; with FTZ already on.
  for (unsigned int mode : {0x1F80u, 0x1F80u | 0x2000u, 0x1F80u | 0x8000u}) {
    _mm_setcsr(mode);
    host.run(MAX_BLOCK);
    const unsigned int after = _mm_getcsr();
    _mm_setcsr(original);
    // Exception flags (bits 0-5) may be raised by the processing; every
    // control bit must be back.
    EXPECT_EQ(after & ~0x3Fu, mode) << std::hex << after;
  }
}

// run treats subnormal operands as zero whatever the host's mode. The
// host here unmasks the denormal-operand exception: any arithmetic on a
// subnormal that is not read as zero would stop the process with SIGFPE.
TEST_F(LilvRun, RunReadsSubnormalsAsZeroEvenWhenTheHostDoesNot)
{
  PluginHost host(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok());
  host.controls() = shaken_controls();
  std::vector<float> subnormal(signal.size());
  for (std::size_t i = 0; i < subnormal.size(); ++i) {
    // The test signal scaled into the subnormal range (below 2^-126).
    subnormal[i] = signal[i] * 0x1p-127f;
  }
  EXPECT_EXIT(
      {
        const unsigned int original = _mm_getcsr();
        _mm_setcsr(0x1F80u & ~0x0100u);  // default masks, denormal operand unmasked
        for (std::size_t pos = 0; pos < subnormal.size(); pos += MAX_BLOCK) {
          std::copy_n(subnormal.begin() + static_cast<std::ptrdiff_t>(pos),
                      std::min(MAX_BLOCK, subnormal.size() - pos), host.in_l().begin());
          host.run(static_cast<uint32_t>(std::min(MAX_BLOCK, subnormal.size() - pos)));
        }
        _mm_setcsr(original);
        std::_Exit(0);  // no static destructors in the child
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(LilvRun, PortsBeyondTheTableAreIgnored)
{
  PluginHost host(RATE, MAX_BLOCK);
  PluginHost fresh(RATE, MAX_BLOCK);
  ASSERT_TRUE(host.ok() && fresh.ok());
  std::vector<float> stray(MAX_BLOCK, 3.0f);
  for (uint32_t port : {29u, 30u, 1000u, 0xFFFFFFFFu}) {
    host.connect(port, stray.data());
  }
  EXPECT_TRUE(bit_equal(process(host, signal), process(fresh, signal)));
  for (float v : stray) {
    ASSERT_EQ(v, 3.0f);
  }
}

}  // namespace
