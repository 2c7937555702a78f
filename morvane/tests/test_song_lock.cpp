// SPDX-License-Identifier: LGPL-2.1-or-later
// The plug-in's shake LFOs locked to a host's song, through lilv, with the
// song positions sent as hosts send them: at a locate, a loop wrap, a stop
// and a restart, a tempo change inside a block, and nothing for long
// stretches in between. The phases expected are worked out here from the
// song, and read from the engine after each run.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <lv2/time/time.h>
#include <quivex/libquivex.h>

#include "morvane_internal.h"
#include "plugin_host.h"
#include "song_positions.h"

namespace {

constexpr double kRate = 48000.0;

HostSetup song_host()
{
  return HostSetup{.max_block = 8192, .seed = 1, .offer_urid_map = true, .connect_atom_ports = true};
}

// The shake LFOs' phases in turns, as the engine holds them after a run.
std::array<double, 3> phases(PluginHost& host)
{
  float radians[3];
  libquivex_get_lfo_phases(morvane_engine(host.handle()), radians);
  return {radians[0] / (2 * M_PI), radians[1] / (2 * M_PI), radians[2] / (2 * M_PI)};
}

// Distance between two phases in turns, across the wrap.
double turn_distance(double a, double b)
{
  const double d = std::fabs(a - b);
  return std::fmin(d, 1.0 - d);
}

double frac(double x) { return x - std::floor(x); }

// The song as the test host plays it: where it is, and the LFOs' phases
// worked out from it (amplitude LFO in Tempo, frequency LFO in Song).
struct SongModel {
  double frame = 0, quarters = 0, bpm = 120, speed = 1;
  double amp_phase = 0, freq_phase = 0;  // turns
  double cycle = 0.5;                    // amplitude LFO: an eighth note
  double rate_hz = 3.0;                  // frequency LFO
  void locate(double f, double q)
  {
    frame = f;
    quarters = q;
    amp_phase = frac(q / cycle);
    freq_phase = frac(rate_hz * f / kRate);
  }
  void advance(uint32_t n)
  {
    const double qps = bpm / 60.0 / kRate;
    if (speed != 0.0) {
      frame += speed * n;
      quarters += speed * n * qps;
      amp_phase = frac(quarters / cycle);
      freq_phase = frac(rate_hz * frame / kRate);
    } else {  // stopped: the LFOs run on at their own pace
      amp_phase = frac(amp_phase + n * qps / cycle);
      freq_phase = frac(freq_phase + n * rate_hz / kRate);
    }
  }
};

class SongLock : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(host.ok());
    host.controls()[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 50.0f;
    host.controls()[control_row(MORVANE_LFO_SHAKE_AMP_SYNC)] = 2.0f;  // Tempo
    host.controls()[control_row(MORVANE_LFO_SHAKE_AMP_CYCLE)] = 0.5f;
    host.controls()[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 20.0f;
    host.controls()[MORVANE_LFO_SHAKE_FREQ_FREQ] = 3.0f;
    host.controls()[control_row(MORVANE_LFO_SHAKE_FREQ_SYNC)] = 1.0f;  // Song
  }
  // A position at sample `at` of the next run of n samples; the model
  // plays up to it, the position applies, the model plays on.
  void run_with(const Position& p, uint32_t at, uint32_t n, double frame, double quarters, double bpm,
                double speed)
  {
    ASSERT_TRUE(host.control().append(p.atom(), p.size(), at));
    model.advance(at);
    model.bpm = bpm;
    model.speed = speed;
    model.locate(frame, quarters);
    model.advance(n - at);
    run_checked(n);
  }
  void run_checked(uint32_t n)
  {
    host.run(n);
    const auto ph = phases(host);
    EXPECT_LT(turn_distance(ph[0], model.amp_phase), 1e-6) << "Tempo LFO at song frame " << model.frame;
    EXPECT_LT(turn_distance(ph[1], model.freq_phase), 1e-6) << "Song LFO at song frame " << model.frame;
  }
  void play(double seconds, uint32_t block = 512)
  {
    for (auto left = static_cast<long>(seconds * kRate); left > 0; left -= block) {
      const auto n = static_cast<uint32_t>(std::min<long>(left, block));
      model.advance(n);
      run_checked(n);
    }
  }
  TestUridMap& map = LilvTestWorld::get().urids();
  PluginHost host{kRate, song_host()};
  SongModel model;
};

}  // namespace

TEST_F(SongLock, PhasesFollowTheSongThroughLocateLoopTempoChangeAndStop)
{
  // Ardour's start: Long frame and bar, Float beat and tempo, Int unit.
  run_with(Position(map, {{LV2_TIME__frame, 0, 'l'}, {LV2_TIME__speed, 1, 'f'}, {LV2_TIME__bar, 0, 'l'},
                          {LV2_TIME__barBeat, 0, 'f'}, {LV2_TIME__beatUnit, 4, 'i'},
                          {LV2_TIME__beatsPerBar, 4, 'f'}, {LV2_TIME__beatsPerMinute, 120, 'f'}}),
           0, 512, 0, 0, 120, 1);
  play(20.0);
  // A locate inside a block, in doubles on a Blank object.
  run_with(Position(map, {{LV2_TIME__frame, 10 * kRate + 77, 'd'}, {LV2_TIME__beat, 20 + 77 / 24000.0, 'd'},
                          {LV2_TIME__beatsPerMinute, 120, 'd'}, {LV2_TIME__speed, 1, 'd'}}, true),
           100, 333, 10 * kRate + 77, 20 + 77 / 24000.0, 120, 1);
  play(1.0, 1000);
  // A tempo-map point inside a block: 90 bpm from where the song is.
  const double frame = model.frame + 37, quarters = model.quarters + 37 * 2.0 / kRate;
  run_with(Position(map, {{LV2_TIME__frame, frame, 'l'}, {LV2_TIME__beat, quarters, 'd'},
                          {LV2_TIME__beatsPerMinute, 90, 'f'}}),
           37, 256, frame, quarters, 90, 1);
  play(2.0, 256);
  // A loop wrap back to bar 2 (beat 8).
  run_with(Position(map, {{LV2_TIME__frame, 8 * 0.5 * kRate, 'l'}, {LV2_TIME__bar, 2, 'l'},
                          {LV2_TIME__barBeat, 0, 'f'}, {LV2_TIME__beatsPerMinute, 90, 'f'}}),
           300, 512, 8 * 0.5 * kRate, 8, 90, 1);
  play(1.5, 64);
  // Stop: the song stands, the LFOs run on; then it rolls again elsewhere.
  run_with(Position(map, {{LV2_TIME__frame, model.frame, 'l'}, {LV2_TIME__speed, 0, 'f'}}), 0, 512,
           model.frame, model.quarters, 90, 0);
  play(1.0);
  run_with(Position(map, {{LV2_TIME__frame, 96000, 'l'}, {LV2_TIME__beat, 3, 'd'}, {LV2_TIME__speed, 1, 'f'}}),
           200, 512, 96000, 3, 90, 1);
  play(1.0);
}

// The same song position reached after different histories gives the same
// phases: what an export starting late and a full export share.
TEST_F(SongLock, SameSongPositionGivesSamePhasesWhateverCameBefore)
{
  PluginHost late{kRate, song_host()};
  late.controls() = host.controls();
  run_with(Position(map, {{LV2_TIME__frame, 0, 'l'}, {LV2_TIME__beat, 0, 'd'}, {LV2_TIME__beatsPerMinute, 100, 'f'}}),
           0, 480, 0, 0, 100, 1);
  play(12.0 - 0.01, 480);  // to 12 s: bar 5 at 100 bpm
  // The late one starts at bar 5 plus a 1/32 note, after a detour.
  const double late_frame = 12.0 * kRate + 0.125 * 0.6 * kRate;
  Position detour(map, {{LV2_TIME__frame, 3 * kRate, 'l'}, {LV2_TIME__beat, 5.5, 'd'},
                        {LV2_TIME__beatsPerMinute, 140, 'f'}});
  late.control().append(detour.atom(), detour.size());
  late.run(4800);
  Position start(map, {{LV2_TIME__frame, late_frame, 'l'}, {LV2_TIME__beat, 20.125, 'd'},
                       {LV2_TIME__beatsPerMinute, 100, 'f'}});
  late.control().append(start.atom(), start.size());
  late.run(480);
  play(0.125 * 0.6, 360);  // the full one to the same point, and on as far
  play(0.01, 480);
  const auto full_phases = phases(host), late_phases = phases(late);
  for (int i = 0; i < 2; ++i) {
    EXPECT_LT(turn_distance(full_phases[i], late_phases[i]), 1e-6) << i;
  }
}

// The seconds, within a 0.5 s cycle, at which the 2 Hz envelope of `out`
// peaks: the phase of its 2 Hz component over four whole cycles (0.5 s to
// 2.5 s), in 2 ms windows.
double envelope_top(const std::vector<float>& out)
{
  const std::size_t win = 96;
  double re = 0, im = 0;
  for (std::size_t at = 24000; at < 120000; at += win) {
    double e = 0;
    for (std::size_t i = at; i < at + win; ++i) {
      e += static_cast<double>(out[i]) * out[i];
    }
    const double t = (static_cast<double>(at) + win / 2.0) / kRate;
    re += e * std::cos(2 * M_PI * 2.0 * t);
    im += e * std::sin(2 * M_PI * 2.0 * t);
  }
  return frac(std::atan2(im, re) / (2 * M_PI)) / 2.0;
}

// A tone shaken in amplitude once a quarter note at 120 bpm, the song at
// beat 0.5 when the run starts: the loudest moments fall a quarter of a
// second later than those of a free LFO at the same 2 Hz, which starts at
// its top (the resynthesis delays both alike).
TEST_F(SongLock, ShakenToneIsLoudestOnTheBeat)
{
  PluginHost free_host{kRate, song_host()};
  free_host.controls() = host.controls();
  free_host.controls()[control_row(MORVANE_LFO_SHAKE_AMP_SYNC)] = 0.0f;
  free_host.controls()[MORVANE_LFO_SHAKE_AMP_FREQ] = 2.0f;
  host.controls()[control_row(MORVANE_LFO_SHAKE_AMP_CYCLE)] = 1.0f;
  Position p(map, {{LV2_TIME__frame, 0, 'l'}, {LV2_TIME__beat, 0.5, 'd'}, {LV2_TIME__beatsPerMinute, 120, 'f'}});
  host.control().append(p.atom(), p.size());
  const std::size_t n = static_cast<std::size_t>(3 * kRate);
  std::vector<float> tone(n);
  for (std::size_t i = 0; i < n; ++i) {
    tone[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * 1000.0 * i / kRate));
  }
  const double locked = envelope_top(host.process(tone, 256));
  const double free_running = envelope_top(free_host.process(tone, 256));
  EXPECT_NEAR(frac((locked - free_running) / 0.5) * 0.5, 0.25, 0.001);
}

// At the new controls' defaults a host's positions change no bit, and
// "Song" before any position plays exactly as "Free".
TEST(SongLockDefaults, PositionsChangeNothingUntilAnLfoIsLocked)
{
  TestUridMap& map = LilvTestWorld::get().urids();
  PluginHost plain(kRate, 8192), told(kRate, song_host()), song_unknown(kRate, 8192);
  ASSERT_TRUE(plain.ok() && told.ok() && song_unknown.ok());
  for (PluginHost* h : {&plain, &told, &song_unknown}) {
    h->controls()[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 60.0f;
    h->controls()[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 40.0f;
  }
  song_unknown.controls()[control_row(MORVANE_LFO_SHAKE_AMP_SYNC)] = 1.0f;
  const std::vector<float> x = test_signal(48000);
  std::vector<float> a = plain.process(x, 300), c = song_unknown.process(x, 300), b;
  for (std::size_t pos = 0; pos < x.size(); pos += 300) {
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(300, x.size() - pos));
    Position p(map, {{LV2_TIME__frame, 1e6 + pos, 'l'}, {LV2_TIME__beatsPerMinute, 77, 'f'}, {LV2_TIME__speed, -1, 'f'}});
    told.control().append(p.atom(), p.size(), pos % 7);
    std::copy_n(x.begin() + static_cast<std::ptrdiff_t>(pos), n, told.in_l().begin());
    told.run(n);
    b.insert(b.end(), told.out_l().begin(), told.out_l().begin() + n);
  }
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(a.data(), c.data(), a.size() * sizeof(float)), 0);
}

// The window's frames tell the song's tempo, whether the transport rolls,
// and the LFOs' phases as the engine holds them.
TEST_F(SongLock, FramesTellTheWindowTempoTransportAndPhases)
{
  std::vector<morvane_frame> frames;
  host.send_window_message(true);
  host.run(256);
  ASSERT_TRUE(read_frames(host.notify(), host.ids(), &frames));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0]._transport, MORVANE_TRANSPORT_UNKNOWN);
  EXPECT_EQ(frames[0]._song_tempo, 120.0f);
  for (auto [speed, transport] : {std::pair{1.0, MORVANE_TRANSPORT_ROLLING}, std::pair{0.0, MORVANE_TRANSPORT_STOPPED}}) {
    Position p(map, {{LV2_TIME__frame, 4800, 'l'}, {LV2_TIME__speed, speed, 'f'}, {LV2_TIME__beatsPerMinute, 93.5, 'f'}});
    host.control().append(p.atom(), p.size());
    host.run(1600);  // a thirtieth of a second: the next frame is due
    frames.clear();
    ASSERT_TRUE(read_frames(host.notify(), host.ids(), &frames));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]._transport, transport);
    EXPECT_EQ(frames[0]._song_tempo, 93.5f);
    float engine_phases[3];
    libquivex_get_lfo_phases(morvane_engine(host.handle()), engine_phases);
    EXPECT_EQ(std::memcmp(frames[0]._lfo_phases, engine_phases, sizeof engine_phases), 0);
  }
}
