// SPDX-License-Identifier: LGPL-2.1-or-later
// The window in the CLAP test host, for the guide's picture
// (docs/make-pictures): the mono plug-in with the vibrato-cloud preset and
// its shake amounts up, a stopped transport at 120 bpm, a recording (raw 32-bit floats at 48 kHz) playing
// into it in a loop at the pace of real time, and a dozen screenshots of
// its window written as PREFIX-1.ppm ... PREFIX-12.ppm, 0.27 s apart after
// 3 s of playing, on the X server in DISPLAY.
//   morvane_clap_picture RECORDING.f32 PREFIX
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "clap_host.h"
#include "presets.h"
#include "x_parent.h"

int main(int argc, char** argv)
{
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RECORDING.f32 PREFIX\n", argv[0]);
    return 2;
  }
  std::vector<float> loop;
  if (FILE* f = std::fopen(argv[1], "rb")) {
    float x;
    while (std::fread(&x, sizeof x, 1, f) == 1) {
      loop.push_back(x);
    }
    std::fclose(f);
  }
  if (loop.empty()) {
    std::fprintf(stderr, "%s: no samples in %s\n", argv[0], argv[1]);
    return 1;
  }
  loop.resize(loop.size() + 14400, 0.0f);  // 0.3 s of silence between two plays

  constexpr uint32_t kBlock = 256;
  constexpr double kRate = 48000.0;
  XParent parent(900, 540);
  ClapInstance clap("org.example.morvane.mono");
  if (!parent.ok() || !clap.ok() || !clap.activate(kRate, kBlock, 1)) {
    std::fprintf(stderr, "%s: no X server or no plug-in\n", argv[0]);
    return 1;
  }
  Controls controls = default_controls();
  for (const LoadedPreset& p : load_presets()) {
    if (p.name == "vibrato-cloud") {
      controls = preset_controls(p);
    }
  }
  controls[MORVANE_LFO_SHAKE_AMP_AMOUNT] = 60.0f;
  controls[MORVANE_LFO_SHAKE_FREQ_AMOUNT] = 50.0f;
  controls[MORVANE_LFO_SHAKE_TIME_AMOUNT] = 40.0f;
  for (uint32_t row = 0; row < MORVANE_NUM_CONTROLS; ++row) {
    clap.param(0, morvane_controls[row]._port, controls[row]);
  }
  if (!clap.open_window(parent.window())) {
    std::fprintf(stderr, "%s: the window did not open\n", argv[0]);
    return 1;
  }

  // A host's transport, stopped at 120 bpm, as jalv's in window.png.
  const clap_event_transport_t transport = clap_transport(0.0, 0.0, 120.0, false);
  clap.block_transport(&transport);
  std::vector<float> in(kBlock), out_l(kBlock), out_r(kBlock);
  const auto start = std::chrono::steady_clock::now();
  size_t pos = 0;
  uint64_t played = 0;
  int shots = 0;
  double next_shot = 3.0;
  while (shots < 12) {
    for (uint32_t i = 0; i < kBlock; ++i) {
      in[i] = loop[pos];
      pos = (pos + 1) % loop.size();
    }
    clap.process(in.data(), in.data(), out_l.data(), out_r.data(), kBlock);
    played += kBlock;
    const double seconds = static_cast<double>(played) / kRate;
    std::this_thread::sleep_until(start + std::chrono::duration<double>(seconds));
    if (played % (3 * kBlock) == 0) {
      clap.timer();
    }
    if (seconds >= next_shot) {
      next_shot += 0.27;
      const std::vector<uint32_t> px = parent.capture();
      const std::string name = std::string(argv[2]) + "-" + std::to_string(++shots) + ".ppm";
      FILE* f = std::fopen(name.c_str(), "wb");
      if (f == nullptr || px.size() != 900u * 540u) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], name.c_str());
        return 1;
      }
      std::fprintf(f, "P6\n900 540\n255\n");
      for (const uint32_t p : px) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, f);
      }
      std::fclose(f);
    }
  }
  clap.close_window();
  return 0;
}
