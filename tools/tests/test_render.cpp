// SPDX-License-Identifier: LGPL-2.1-or-later
// morvane-render against the plug-in as a host runs it through lilv: the
// same samples bit for bit, on a real recording, for the defaults, a
// preset and explicit settings; the files it writes; its errors.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sndfile.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "presets.h"

namespace {

constexpr const char* kRecording = "/usr/share/sounds/alsa/Front_Center.wav";

struct Sound {
  int rate = 0;
  int channels = 0;
  int format = 0;
  std::vector<float> frames;  // interleaved
  std::size_t length() const { return channels ? frames.size() / channels : 0; }
  std::vector<float> channel(int c) const
  {
    std::vector<float> out(length());
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = frames[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
    }
    return out;
  }
};

bool read_sound(const std::string& path, Sound* s)
{
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) {
    return false;
  }
  s->rate = info.samplerate;
  s->channels = info.channels;
  s->format = info.format;
  s->frames.assign(static_cast<std::size_t>(info.frames * info.channels), 0.0f);
  const bool ok = sf_readf_float(f, s->frames.data(), info.frames) == info.frames;
  sf_close(f);
  return ok;
}

bool write_sound(const std::string& path, int format, int rate, int channels,
                 const std::vector<float>& frames)
{
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) {
    return false;
  }
  const sf_count_t n = static_cast<sf_count_t>(frames.size()) / channels;
  const bool ok = sf_writef_float(f, frames.data(), n) == n;
  return sf_close(f) == 0 && ok;
}

struct Result {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out, err;
};

std::string slurp(const std::string& path)
{
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string quote(const std::string& s)
{
  std::string q = "'";
  for (char c : s) {
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return q + "'";
}

class Render : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_NE(LilvTestWorld::get().plugin(), nullptr) << "plug-in not found on the test LV2 path";
    _dir = std::string(MORVANE_RENDER_TEST_DIR) + "/" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(_dir);
    std::filesystem::create_directories(_dir);
  }

  std::string path(const std::string& name) const { return _dir + "/" + name; }

  // Runs morvane-render with args (each quoted for the shell), stdout and
  // stderr to files.
  Result render(const std::vector<std::string>& args) const
  {
    std::string cmd = quote(MORVANE_RENDER);
    for (const std::string& a : args) {
      cmd += " " + quote(a);
    }
    cmd += " >" + quote(path("stdout")) + " 2>" + quote(path("stderr"));
    const int raw = std::system(cmd.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = slurp(path("stdout"));
    r.err = slurp(path("stderr"));
    return r;
  }

  // The recording as a 32-bit float WAV, so the render's output is the
  // plug-in's float output unrounded.
  bool float_recording(const std::string& name, Sound* s) const
  {
    if (!read_sound(kRecording, s)) {
      return false;
    }
    s->format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    return write_sound(path(name), s->format, s->rate, s->channels, s->frames);
  }

  std::string _dir;
};

std::vector<float> plugin_output(const Controls& c, const std::vector<float>& in, int rate,
                                 std::size_t block)
{
  PluginHost host(rate, block);
  EXPECT_TRUE(host.ok());
  if (!host.ok()) {
    return {};
  }
  host.controls() = c;
  return host.process(in, block);
}

::testing::AssertionResult bit_equal(const std::vector<float>& a, const std::vector<float>& b)
{
  if (a.size() != b.size()) {
    return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
      return ::testing::AssertionFailure() << "sample " << i << ": " << a[i] << " vs " << b[i];
    }
  }
  return ::testing::AssertionSuccess();
}

const LoadedPreset* find(const std::vector<LoadedPreset>& presets, const std::string& name)
{
  for (const LoadedPreset& p : presets) {
    if (p.name == name) {
      return &p;
    }
  }
  return nullptr;
}

TEST_F(Render, EqualsThePluginThroughLilvBitForBitOnARecording)
{
  Sound in;
  if (!read_sound(kRecording, &in)) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  ASSERT_TRUE(float_recording("in.wav", &in));
  const std::vector<float> speech = in.channel(0);
  const std::vector<LoadedPreset> presets = load_presets();

  struct Case {
    std::string label;
    std::vector<std::string> args;
    Controls controls;
    std::size_t block;
  };
  std::vector<Case> cases;
  cases.push_back({"defaults", {}, default_controls(), 512});
  for (const char* name : {"octave-wobble", "square-shimmer", "smeared-freeze"}) {
    const LoadedPreset* p = find(presets, name);
    ASSERT_NE(p, nullptr) << name;
    cases.push_back({name, {"--preset", name}, preset_controls(*p), 256});
  }
  // Settings after a preset, one outside its range (clamped by the plug-in
  // as in any host), in blocks that do not divide the length.
  Controls c = preset_controls(*find(presets, "vibrato-cloud"));
  c[MORVANE_GAIN] = 40.0f;
  c[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 37.0f;
  c[MORVANE_LFO_SHAKE_AMP_FREQ] = 2.5f;
  cases.push_back({"preset and settings",
                   {"--preset", "Vibrato cloud", "--set", "gain=40", "--set",
                    "lfo_shake_amp_amount=37", "--set", "lfo_shake_amp_freq=2.5", "--block", "97"},
                   c, 97});

  for (const Case& k : cases) {
    SCOPED_TRACE(k.label);
    std::vector<std::string> args = {path("in.wav"), path("out.wav")};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const Result r = render(args);
    ASSERT_EQ(r.status, 0) << r.err;
    Sound out;
    ASSERT_TRUE(read_sound(path("out.wav"), &out));
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_TRUE(bit_equal(out.channel(0), plugin_output(k.controls, speech, in.rate, k.block)));
  }
}

TEST_F(Render, StereoInputIsProcessedFromItsLeftChannelIntoBoth)
{
  Sound mono;
  if (!read_sound(kRecording, &mono)) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  const std::vector<float> left = mono.channel(0);
  // The right channel: a loud tone that would change the result if read.
  std::vector<float> frames;
  for (std::size_t i = 0; i < left.size(); ++i) {
    frames.push_back(left[i]);
    frames.push_back(static_cast<float>(0.8 * std::sin(0.05 * static_cast<double>(i))));
  }
  ASSERT_TRUE(write_sound(path("stereo.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, mono.rate, 2, frames));
  const Result r = render({path("stereo.wav"), path("out.wav"), "--preset", "slow-tremolo"});
  ASSERT_EQ(r.status, 0) << r.err;
  Sound out;
  ASSERT_TRUE(read_sound(path("out.wav"), &out));
  ASSERT_EQ(out.channels, 2);
  const std::vector<float> expected =
    plugin_output(preset_controls(*find(load_presets(), "slow-tremolo")), left, mono.rate, 512);
  EXPECT_TRUE(bit_equal(out.channel(0), expected));
  EXPECT_TRUE(bit_equal(out.channel(1), expected));
}

std::array<std::vector<float>, 2> stereo_plugin_output(const Controls& c, const std::vector<float>& left,
                                                       const std::vector<float>& right, int rate, std::size_t block)
{
  PluginHost host(rate, HostSetup{.max_block = block, .stereo = true});
  EXPECT_TRUE(host.ok());
  if (!host.ok()) {
    return {};
  }
  host.controls() = c;
  return host.process_stereo(left, right, block);
}

// --stereo runs the stereo plug-in: both channels of the file, bit for bit
// what the plug-in gives through lilv, for its own preset and for a mono
// plug-in's preset with the stereo options; a mono file feeds both inputs.
TEST_F(Render, StereoEqualsTheStereoPluginThroughLilvOnBothChannels)
{
  Sound mono;
  if (!read_sound(kRecording, &mono)) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  // A stereo recording: the voice on the left, a quieter echo of it 0.1 s
  // later on the right.
  const std::vector<float> left = mono.channel(0);
  std::vector<float> right(left.size(), 0.0f), frames;
  const std::size_t delay = static_cast<std::size_t>(mono.rate / 10);
  for (std::size_t i = 0; i < left.size(); ++i) {
    right[i] = i >= delay ? 0.6f * left[i - delay] : 0.0f;
    frames.insert(frames.end(), {left[i], right[i]});
  }
  ASSERT_TRUE(write_sound(path("stereo.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, mono.rate, 2, frames));
  ASSERT_TRUE(write_sound(path("mono.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, mono.rate, 1, left));

  const std::vector<LoadedPreset> mono_presets = load_presets(), stereo_presets = load_presets(true);
  const LoadedPreset* tremolo = find(stereo_presets, "stereo-tremolo");
  ASSERT_NE(tremolo, nullptr);
  Controls wide = preset_controls(*find(mono_presets, "vibrato-cloud"));
  wide[control_row(MORVANE_STEREO_MODE)] = 0.0f;
  wide[control_row(MORVANE_WIDTH)] = 40.0f;
  wide[control_row(MORVANE_LFO_OFFSET)] = 90.0f;
  Controls left_right = default_controls();
  left_right[control_row(MORVANE_STEREO_MODE)] = 1.0f;
  const struct {
    const char* label;
    const char* in;
    std::vector<std::string> args;
    Controls controls;
    std::size_t block;
  } cases[] = {
    {"defaults (Mid, width 100 %)", "stereo.wav", {}, default_controls(), 512},
    {"stereo preset", "stereo.wav", {"--preset", "Stereo tremolo"}, preset_controls(*tremolo), 256},
    {"mono preset and stereo options", "stereo.wav",
     {"--preset", "vibrato-cloud", "--mode", "left-right", "--width", "40", "--lfo-offset", "90", "--mode", "MID",
      "--block", "97"},
     wide, 97},
    {"mono file into both inputs", "mono.wav", {"--set", "stereo_mode=1"}, left_right, 512},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.label);
    std::vector<std::string> args = {path(k.in), path("out.wav"), "--stereo"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const Result r = render(args);
    ASSERT_EQ(r.status, 0) << r.err;
    Sound out;
    ASSERT_TRUE(read_sound(path("out.wav"), &out));
    ASSERT_EQ(out.channels, 2);
    const bool from_mono = std::string(k.in) == "mono.wav";
    const auto expected = stereo_plugin_output(k.controls, left, from_mono ? left : right, mono.rate, k.block);
    EXPECT_TRUE(bit_equal(out.channel(0), expected[0]));
    EXPECT_TRUE(bit_equal(out.channel(1), expected[1]));
  }
}

// In Mid at width 0 % a source with the same signal in both channels comes
// out as two equal channels; at 100 % the partials part and they differ.
TEST_F(Render, StereoWidthZeroOnAMonoSourceGivesEqualChannels)
{
  Sound mono;
  if (!read_sound(kRecording, &mono)) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  std::vector<float> frames;
  for (float v : mono.channel(0)) {
    frames.insert(frames.end(), {v, v});
  }
  ASSERT_TRUE(write_sound(path("dual.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, mono.rate, 2, frames));
  for (const char* width : {"0", "100"}) {
    SCOPED_TRACE(width);
    const Result r = render({path("dual.wav"), path("out.wav"), "--stereo", "--preset", "slow-tremolo",
                             "--mode", "mid", "--width", width});
    ASSERT_EQ(r.status, 0) << r.err;
    Sound out;
    ASSERT_TRUE(read_sound(path("out.wav"), &out));
    ASSERT_EQ(out.channels, 2);
    EXPECT_EQ(bit_equal(out.channel(0), out.channel(1)), std::string(width) == "0");
  }
}

// --bpm N plays the file as a song from its first sample at N bpm: at 120
// bpm a Tempo preset renders exactly as without it (Tempo then runs at 120
// bpm from the first sample), at another tempo differently.
TEST_F(Render, BpmSetsTheTempoOfTheSongTheFileStarts)
{
  Sound mono;
  if (!read_sound(kRecording, &mono)) {
    GTEST_SKIP() << kRecording << " is not installed (alsa-utils)";
  }
  ASSERT_TRUE(write_sound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, mono.rate, 1, mono.channel(0)));
  std::vector<float> outs[3];
  const char* const tempos[3] = {nullptr, "120", "100"};
  for (int k = 0; k < 3; ++k) {
    std::vector<std::string> args = {path("in.wav"), path("out.wav"), "--preset", "eighth-tremolo"};
    if (tempos[k] != nullptr) {
      args.insert(args.end(), {"--bpm", tempos[k]});
    }
    const Result r = render(args);
    ASSERT_EQ(r.status, 0) << r.err;
    Sound out;
    ASSERT_TRUE(read_sound(path("out.wav"), &out));
    outs[k] = out.channel(0);
  }
  EXPECT_TRUE(bit_equal(outs[0], outs[1]));
  EXPECT_FALSE(bit_equal(outs[0], outs[2]));
}

TEST_F(Render, OutputKeepsRateChannelsAndSampleFormatInEachContainer)
{
  // Half a second of a chord at 44.1 kHz, 16-bit.
  const int rate = 44100;
  std::vector<float> chord(rate / 2);
  for (std::size_t i = 0; i < chord.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    chord[i] = static_cast<float>(0.3 * std::sin(6.283185307179586 * 220.0 * t) +
                                  0.2 * std::sin(6.283185307179586 * 330.0 * t));
  }
  ASSERT_TRUE(write_sound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, chord));
  Sound in;
  ASSERT_TRUE(read_sound(path("in.wav"), &in));
  const std::vector<float> expected = plugin_output(default_controls(), in.frames, rate, 512);

  const struct {
    const char* name;
    int container;
  } outputs[] = {{"out.wav", SF_FORMAT_WAV}, {"out.flac", SF_FORMAT_FLAC},
                 {"out.aiff", SF_FORMAT_AIFF}, {"out.raw-name", SF_FORMAT_WAV}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.name);
    const Result r = render({path("in.wav"), path(o.name)});
    ASSERT_EQ(r.status, 0) << r.err;
    Sound out;
    ASSERT_TRUE(read_sound(path(o.name), &out));
    EXPECT_EQ(out.rate, rate);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.format & SF_FORMAT_TYPEMASK, o.container);
    EXPECT_EQ(out.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
    ASSERT_EQ(out.frames.size(), expected.size());
    // 16-bit samples: the plug-in's output rounded to the nearest step.
    double worst = 0.0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      worst = std::max(worst, std::abs(static_cast<double>(out.frames[i]) - expected[i]));
    }
    EXPECT_LE(worst, 1.0 / 32768.0);
  }
}

TEST_F(Render, BadInputAndSettingsFailWithAMessage)
{
  const std::vector<float> tone(4800, 0.25f);
  ASSERT_TRUE(write_sound(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, tone));
  {
    std::ofstream text(path("notes.wav"));
    text << "this is not audio\n";
  }
  const std::string out = path("out.wav");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
    {{path("missing.wav"), out}, "no such file"},
    {{_dir, out}, "not a file"},
    {{path("notes.wav"), out}, "cannot read"},
    {{path("in.wav"), out, "--set", "no_such_control=1"}, "unknown control 'no_such_control'"},
    {{path("in.wav"), out, "--set", "input_l=1"}, "audio port"},
    {{path("in.wav"), out, "--set", "gain=loud"}, "finite number, not 'loud'"},
    {{path("in.wav"), out, "--set", "gain=1.5dB"}, "finite number"},
    {{path("in.wav"), out, "--set", "gain=nan"}, "finite number"},
    {{path("in.wav"), out, "--set", "gain"}, "SYMBOL=VALUE"},
    {{path("in.wav"), out, "--preset", "no-such-preset"}, "unknown preset 'no-such-preset'"},
    {{path("in.wav"), out, "--block", "0"}, "--block"},
    {{path("in.wav"), out, "--block", "64.5"}, "--block"},
    {{path("in.wav"), out, "--frobnicate"}, "unknown option"},
    {{path("in.wav")}, "want an input and an output"},
    {{path("in.wav"), path("no-such-dir/out.wav")}, "cannot write"},
    // The stereo plug-in's options: values out of range or not numbers are
    // refused, not clamped; without --stereo they are no options at all.
    {{path("in.wav"), out, "--stereo", "--width", "101"}, "--width wants a percentage from 0 to 100, not '101'"},
    {{path("in.wav"), out, "--stereo", "--width", "-5"}, "--width wants a percentage"},
    {{path("in.wav"), out, "--stereo", "--width", "half"}, "--width wants a percentage"},
    {{path("in.wav"), out, "--stereo", "--lfo-offset", "270"}, "--lfo-offset wants degrees from 0 to 180"},
    {{path("in.wav"), out, "--stereo", "--lfo-offset", "inf"}, "--lfo-offset wants degrees"},
    {{path("in.wav"), out, "--stereo", "--mode", "side"}, "--mode wants mid or left-right, not 'side'"},
    {{path("in.wav"), out, "--stereo", "--mode"}, "--mode needs mid or left-right"},
    {{path("in.wav"), out, "--width", "50"}, "--width is a setting of the stereo plug-in: add --stereo"},
    {{path("in.wav"), out, "--set", "lfo_offset=90"}, "control of the stereo plug-in: add --stereo"},
    {{path("in.wav"), out, "--preset", "stereo-tremolo"}, "is for the stereo plug-in: add --stereo"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.args.back());
    const Result r = render(k.args);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(k.message), std::string::npos) << r.err;
  }
}

TEST_F(Render, HelpAndListingsDescribeTheRealPorts)
{
  const Result help = render({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: morvane-render IN OUT"), std::string::npos);
  EXPECT_NE(help.out.find("left"), std::string::npos) << "help must say which channel is used";

  const Result presets = render({"--list-presets"});
  EXPECT_EQ(presets.status, 0);
  for (const LoadedPreset& p : load_presets()) {
    EXPECT_NE(presets.out.find(p.name), std::string::npos) << p.name;
    EXPECT_NE(presets.out.find(p.label), std::string::npos) << p.label;
  }

  // Each plug-in's listings hold its own presets and controls, and only
  // the stereo one's its stereo preset and controls.
  LilvTestWorld& w = LilvTestWorld::get();
  for (const bool stereo : {false, true}) {
    SCOPED_TRACE(stereo ? "stereo" : "mono");
    const std::vector<std::string> flag = stereo ? std::vector<std::string>{"--stereo"} : std::vector<std::string>{};
    std::vector<std::string> args = flag;
    args.push_back("--list-presets");
    const Result listed = render(args);
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out.find("stereo-tremolo") != std::string::npos, stereo);
    for (const LoadedPreset& p : load_presets(stereo)) {
      EXPECT_NE(listed.out.find(p.name + " "), std::string::npos) << p.name;
      EXPECT_NE(listed.out.find(p.label), std::string::npos) << p.label;
    }
    args = flag;
    args.push_back("--list-controls");
    const Result controls = render(args);
    EXPECT_EQ(controls.status, 0);
    const LilvPlugin* plugin = stereo ? w.stereo_plugin() : w.plugin();
    for (uint32_t i = 0; i < MORVANE_NUM_STEREO_CONTROLS; ++i) {
      const LilvPort* port = lilv_plugin_get_port_by_index(plugin, morvane_controls[i]._port);
      ASSERT_EQ(port != nullptr, stereo || i < MORVANE_NUM_CONTROLS) << i;
      // The Turtle's symbol where the plug-in has the port.
      const std::string symbol =
        port ? lilv_node_as_string(lilv_port_get_symbol(plugin, port)) : morvane_controls[i]._symbol;
      const std::string lines = "\n" + controls.out;
      EXPECT_EQ(lines.find("\n" + symbol + " ") != std::string::npos, port != nullptr) << symbol;
    }
  }
}

TEST_F(Render, ProgressBarOnlyForLongFilesOnATerminal)
{
  // Six seconds: longer than the five from which the bar shows.
  std::vector<float> tone(6 * 48000);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<float>(0.3 * std::sin(0.06 * static_cast<double>(i)));
  }
  ASSERT_TRUE(write_sound(path("long.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, tone));
  ASSERT_TRUE(write_sound(path("short.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                          std::vector<float>(tone.begin(), tone.begin() + 48000)));

  // stderr a file: no bar.
  const Result quiet = render({path("long.wav"), path("out.wav")});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");

  // stderr a terminal (script(1) runs the command on a pseudo-terminal and
  // copies what it shows to stdout).
  if (std::system("command -v script >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "script(1) is not installed";
  }
  const std::string cmd = quote(MORVANE_RENDER) + " " + quote(path("long.wav")) + " " +
                          quote(path("out.wav"));
  const std::string wrapped = "script -qec " + quote(cmd) + " /dev/null >" +
                              quote(path("tty")) + " 2>&1";
  ASSERT_EQ(std::system(wrapped.c_str()), 0);
  const std::string shown = slurp(path("tty"));
  EXPECT_NE(shown.find("100%"), std::string::npos) << shown;
  EXPECT_NE(shown.find("] "), std::string::npos) << shown;

  const std::string short_cmd = "script -qec " +
                                quote(quote(MORVANE_RENDER) + " " + quote(path("short.wav")) + " " +
                                      quote(path("out.wav"))) +
                                " /dev/null >" + quote(path("tty-short")) + " 2>&1";
  ASSERT_EQ(std::system(short_cmd.c_str()), 0);
  EXPECT_EQ(slurp(path("tty-short")).find('%'), std::string::npos);
}

}  // namespace
