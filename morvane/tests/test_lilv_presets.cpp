// SPDX-License-Identifier: LGPL-2.1-or-later
// The factory presets, loaded through lilv as a host loads them: their
// description and values, and what they do to a real recording.
#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sndfile.h>

#include <gtest/gtest.h>

#include "presets.h"

namespace {

// A short speech recording that ships with alsa-utils.
constexpr const char* kRecording = "/usr/share/sounds/alsa/Front_Center.wav";
constexpr std::size_t kBlock = 512;

// The first channel of a sound file and its rate; empty when unreadable.
std::vector<float> read_left(const char* path, int* rate)
{
  SF_INFO info{};
  SNDFILE* f = sf_open(path, SFM_READ, &info);
  if (!f) {
    return {};
  }
  std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
  sf_readf_float(f, frames.data(), info.frames);
  sf_close(f);
  std::vector<float> left(static_cast<std::size_t>(info.frames));
  for (std::size_t i = 0; i < left.size(); ++i) {
    left[i] = frames[i * static_cast<std::size_t>(info.channels)];
  }
  *rate = info.samplerate;
  return left;
}

// In-place radix-2 FFT of a power-of-two length.
void fft(std::vector<std::complex<double>>& x)
{
  const std::size_t n = x.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      std::swap(x[i], x[j]);
    }
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -6.283185307179586 / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1.0;
      for (std::size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> a = x[i + k], b = x[i + k + len / 2] * wk;
        x[i + k] = a + b;
        x[i + k + len / 2] = a - b;
        wk *= w;
      }
    }
  }
}

// Band-energy spectrogram in dB: Hann windows of 2048 samples every 512,
// power summed over third-octave bands from 50 Hz up to the Nyquist
// frequency. Bands of that width are close to the ear's own resolution,
// and summing over them hides the fine beating between neighbouring
// oscillators that the random phase offsets of the resynthesis decide.
using Spectrogram = std::vector<std::vector<double>>;
Spectrogram spectrogram(const std::vector<float>& x, int rate)
{
  constexpr std::size_t n = 2048, hop = 512;
  std::vector<std::size_t> edges;
  for (double f = 50.0; f < 0.5 * rate; f *= std::pow(2.0, 1.0 / 3.0)) {
    edges.push_back(static_cast<std::size_t>(f * n / rate));
  }
  edges.push_back(n / 2);
  Spectrogram s;
  std::vector<std::complex<double>> frame(n);
  for (std::size_t pos = 0; pos + n <= x.size(); pos += hop) {
    for (std::size_t i = 0; i < n; ++i) {
      const double w = 0.5 - 0.5 * std::cos(6.283185307179586 * static_cast<double>(i) / n);
      frame[i] = w * static_cast<double>(x[pos + i]);
    }
    fft(frame);
    std::vector<double> db;
    for (std::size_t b = 0; b + 1 < edges.size(); ++b) {
      double power = 1e-30;
      for (std::size_t k = edges[b]; k < std::max(edges[b + 1], edges[b] + 1); ++k) {
        power += std::norm(frame[k]);
      }
      db.push_back(10.0 * std::log10(power));
    }
    s.push_back(db);
  }
  return s;
}

// Mean absolute difference in dB between two spectrograms, over the cells
// where either lies within 60 dB of the louder one's peak; quieter cells
// are raised to that floor first, so inaudible detail does not count. A
// plain level change of g dB gives g.
double spectral_distance(const Spectrogram& a, const Spectrogram& b)
{
  double peak = -1e300;
  for (const Spectrogram* s : {&a, &b}) {
    for (const auto& frame : *s) {
      peak = std::max(peak, *std::max_element(frame.begin(), frame.end()));
    }
  }
  const double floor = peak - 60.0;
  double sum = 0.0;
  std::size_t cells = 0;
  for (std::size_t t = 0; t < std::min(a.size(), b.size()); ++t) {
    for (std::size_t k = 0; k < a[t].size(); ++k) {
      const double da = std::max(a[t][k], floor), db = std::max(b[t][k], floor);
      if (da > floor || db > floor) {
        sum += std::abs(da - db);
        ++cells;
      }
    }
  }
  return cells ? sum / static_cast<double>(cells) : 0.0;
}

// 1 dB is about the smallest change of level a listener notices; presets
// are to sound clearly different, so every pair must lie at least three
// such steps apart. The threshold is raised further, to twice the
// distance between two renders of one setting that differ only in the
// resynthesis' random phase offsets (which no listener would call two
// different sounds), if that distance comes out larger.
constexpr double kAudibleDb = 3.0;

std::vector<float> render(const Controls& controls, const std::vector<float>& signal, int rate, unsigned seed = 1)
{
  PluginHost host(rate, kBlock, seed);
  EXPECT_TRUE(host.ok());
  if (!host.ok()) {
    return {};
  }
  host.controls() = controls;
  return host.process(signal, kBlock);
}

class LilvPresets : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(LilvTestWorld::get().plugin(), nullptr) << "plug-in not found on the test LV2 path";
    presets = load_presets();
  }
  std::vector<LoadedPreset> presets;
};

TEST_F(LilvPresets, AtLeastSixLabelledPresetsApplyToThePlugin)
{
  EXPECT_GE(presets.size(), 6u);
  std::set<std::string> labels, names;
  LilvTestWorld& w = LilvTestWorld::get();
  for (const LoadedPreset& p : presets) {
    SCOPED_TRACE(p.uri);
    EXPECT_TRUE(p.loaded);
    EXPECT_FALSE(p.label.empty());
    labels.insert(p.label);
    names.insert(p.name);
    LilvNode* node = lilv_new_uri(w.world(), p.uri.c_str());
    EXPECT_TRUE(lilv_world_ask(w.world(), node, w.uri("http://lv2plug.in/ns/lv2core#appliesTo"),
                               w.uri(MORVANE_URI)));
    lilv_node_free(node);
  }
  EXPECT_EQ(labels.size(), presets.size()) << "two presets share a label";
  EXPECT_EQ(names.size(), presets.size()) << "two presets share a name";
}

TEST_F(LilvPresets, EveryPresetSetsEachControlOnceWithinItsRange)
{
  LilvTestWorld& w = LilvTestWorld::get();
  for (const LoadedPreset& p : presets) {
    SCOPED_TRACE(p.name);
    EXPECT_TRUE(p.non_float.empty()) << p.non_float.size() << " values are not floats";
    EXPECT_EQ(p.values.size(), static_cast<std::size_t>(MORVANE_NUM_CONTROLS));
    for (const auto& [symbol, value] : p.values) {
      const uint32_t index = control_index(symbol);
      ASSERT_LT(index, MORVANE_NUM_CONTROLS) << symbol << " is not a control port";
      // In range as the Turtle declares it, and as the plug-in clamps.
      LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
      lilv_port_get_range(w.plugin(), lilv_plugin_get_port_by_index(w.plugin(), morvane_controls[index]._port), &def,
                          &min, &max);
      ASSERT_TRUE(min && max);
      EXPECT_GE(value, lilv_node_as_float(min)) << symbol;
      EXPECT_LE(value, lilv_node_as_float(max)) << symbol;
      EXPECT_EQ(morvane_clamp_control(index, value), value) << symbol;
      lilv_node_free(def);
      lilv_node_free(min);
      lilv_node_free(max);
    }
  }
}

// Every factory preset applies to both plug-ins; the stereo plug-in has one
// more, which applies to it alone and sets all its controls, its own three
// included: Left / Right, the amplitude LFO at 2 Hz, depth 1, amount 50 %,
// the right channel's LFOs half a cycle ahead.
TEST_F(LilvPresets, FactoryPresetsApplyToBothPluginsTheStereoOneToTheStereoAlone)
{
  LilvTestWorld& w = LilvTestWorld::get();
  ASSERT_NE(w.stereo_plugin(), nullptr);
  const std::vector<LoadedPreset> stereo = load_presets(true);
  EXPECT_EQ(presets.size(), 9u);
  ASSERT_EQ(stereo.size(), 10u);
  std::set<std::string> mono_uris, stereo_uris;
  for (const LoadedPreset& p : presets) {
    mono_uris.insert(p.uri);
  }
  const LilvNode* applies = w.uri("http://lv2plug.in/ns/lv2core#appliesTo");
  const LoadedPreset* own = nullptr;
  for (const LoadedPreset& p : stereo) {
    SCOPED_TRACE(p.uri);
    stereo_uris.insert(p.uri);
    const bool shared = mono_uris.count(p.uri) == 1;
    LilvNode* node = lilv_new_uri(w.world(), p.uri.c_str());
    EXPECT_TRUE(lilv_world_ask(w.world(), node, applies, w.uri(MORVANE_STEREO_URI)));
    EXPECT_EQ(lilv_world_ask(w.world(), node, applies, w.uri(MORVANE_URI)), shared);
    lilv_node_free(node);
    if (!shared) {
      EXPECT_EQ(own, nullptr) << "more than one preset of the stereo plug-in alone";
      own = &p;
    }
  }
  for (const std::string& uri : mono_uris) {
    EXPECT_EQ(stereo_uris.count(uri), 1u) << uri << " does not apply to the stereo plug-in";
  }
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->name, "stereo-tremolo");
  EXPECT_EQ(own->label, "Stereo tremolo");
  EXPECT_TRUE(own->non_float.empty());
  ASSERT_EQ(own->values.size(), static_cast<std::size_t>(MORVANE_NUM_STEREO_CONTROLS));
  for (const auto& [symbol, value] : own->values) {
    const uint32_t row = control_index(symbol, true);
    ASSERT_LT(row, MORVANE_NUM_STEREO_CONTROLS) << symbol << " is not a control port";
    EXPECT_EQ(morvane_clamp_control(row, value), value) << symbol;
  }
  const std::map<std::string, float> set = {{"stereo_mode", 1.0f},         {"lfo_offset", 180.0f},
                                            {"lfo_shake_amp_amp", 1.0f},    {"lfo_shake_amp_freq", 2.0f},
                                            {"lfo_shake_amp_amount", 50.0f}, {"lfo_shake_freq_amount", 0.0f},
                                            {"lfo_shake_time_amount", 0.0f}, {"lfo_shake_amp_sync", 0.0f}};
  for (const auto& [symbol, value] : set) {
    EXPECT_EQ(own->values.at(symbol), value) << symbol;
  }
  // The shared presets leave the stereo plug-in's own three controls alone.
  for (const LoadedPreset& p : presets) {
    EXPECT_EQ(p.values.count("stereo_mode") + p.values.count("width") + p.values.count("lfo_offset"), 0u) << p.name;
  }
}

// Stereo tremolo on a steady tone: each channel swells while the other
// fades, so the two channels' envelopes move against each other.
TEST_F(LilvPresets, StereoTremoloSwellsOneSideWhileTheOtherFades)
{
  const std::vector<LoadedPreset> stereo = load_presets(true);
  const auto own = std::find_if(stereo.begin(), stereo.end(),
                                [](const LoadedPreset& p) { return p.name == "stereo-tremolo"; });
  ASSERT_NE(own, stereo.end());
  constexpr int rate = 48000;
  std::vector<float> tone(2 * rate);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<float>(0.3 * std::sin(6.283185307179586 * 300.0 * static_cast<double>(i) / rate));
  }
  PluginHost host(rate, HostSetup{.max_block = kBlock, .stereo = true});
  ASSERT_TRUE(host.ok());
  host.controls() = preset_controls(*own);
  const auto out = host.process_stereo(tone, tone, kBlock);
  // RMS envelopes in 20 ms windows after the first half second.
  std::vector<double> env[2];
  for (int c = 0; c < 2; ++c) {
    for (std::size_t pos = rate / 2; pos + rate / 50 <= tone.size(); pos += rate / 50) {
      double e = 0.0;
      for (std::size_t i = pos; i < pos + rate / 50; ++i) {
        e += double(out[c][i]) * out[c][i];
      }
      env[c].push_back(std::sqrt(e / (rate / 50)));
    }
  }
  double mean[2] = {0.0, 0.0};
  for (int c = 0; c < 2; ++c) {
    for (double v : env[c]) {
      mean[c] += v / static_cast<double>(env[c].size());
    }
  }
  double ab = 0.0, aa = 0.0, bb = 0.0;
  for (std::size_t i = 0; i < env[0].size(); ++i) {
    const double a = env[0][i] - mean[0], b = env[1][i] - mean[1];
    ab += a * b;
    aa += a * a;
    bb += b * b;
  }
  EXPECT_GT(mean[0], 0.01);
  EXPECT_LT(ab / std::sqrt(aa * bb), -0.8);
}

TEST_F(LilvPresets, SpectralDistanceMeasuresALevelChangeInDecibels)
{
  int rate = 0;
  const std::vector<float> speech = read_left(kRecording, &rate);
  if (speech.empty()) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  std::vector<float> louder(speech);
  const float g = static_cast<float>(std::pow(10.0, 1.0 / 20.0));
  for (float& v : louder) {
    v *= g;
  }
  EXPECT_NEAR(spectral_distance(spectrogram(speech, rate), spectrogram(louder, rate)), 1.0, 0.05);
  EXPECT_EQ(spectral_distance(spectrogram(speech, rate), spectrogram(speech, rate)), 0.0);
}

TEST_F(LilvPresets, PresetsSoundDistinctFromDefaultAndEachOtherOnSpeech)
{
  int rate = 0;
  const std::vector<float> speech = read_left(kRecording, &rate);
  if (speech.empty()) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  const double same_sound =
    spectral_distance(spectrogram(render(default_controls(), speech, rate, 1), rate),
                      spectrogram(render(default_controls(), speech, rate, 2), rate));
  const double threshold = std::max(kAudibleDb, 2.0 * same_sound);
  std::printf("threshold %.2f dB (two phase-offset draws lie %.2f dB apart)\n", threshold,
              same_sound);
  std::vector<std::string> names = {"(default)"};
  std::vector<Spectrogram> specs = {spectrogram(render(default_controls(), speech, rate), rate)};
  for (const LoadedPreset& p : presets) {
    const std::vector<float> out = render(preset_controls(p), speech, rate);
    ASSERT_EQ(out.size(), speech.size());
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return std::isfinite(v); }))
      << p.name << " gives non-finite output";
    names.push_back(p.name);
    specs.push_back(spectrogram(out, rate));
  }
  for (std::size_t i = 0; i < specs.size(); ++i) {
    for (std::size_t j = i + 1; j < specs.size(); ++j) {
      const double d = spectral_distance(specs[i], specs[j]);
      EXPECT_GT(d, threshold) << names[i] << " and " << names[j] << " lie " << d << " dB apart";
    }
  }
}

}  // namespace
