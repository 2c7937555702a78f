// SPDX-License-Identifier: LGPL-2.1-or-later
// lv2_rtf: the real-time factor of one LV2 plug-in on a real recording.
//
//   lv2_rtf URI WAV [SECONDS] [BLOCK] [SYMBOL=VALUE ...]
//
// Loads the plug-in through lilv from the LV2 path, loops the mono (or
// left) channel of a 16-bit or float WAV file to SECONDS of audio (default
// 60), runs it in blocks of BLOCK frames (default 256) with every control at
// its default except the ones given, and prints the seconds of audio
// processed per second of CPU time. Every audio input gets the recording;
// CV and atom ports are left unconnected, so only plain audio effects fit.
// Both plug-ins of the bundle do; the stereo one's road is chosen by its
// controls: stereo_mode=0 (Mid, with lfo_offset=DEGREES for the second shake
// path) or stereo_mode=1 (Left / Right), width=PERCENT.
// lv2bench feeds silence at default settings, where a resonator bank rests
// and costs little; this host measures the work a real signal causes.
#include <lilv/lilv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Reads the first channel of a RIFF/WAVE file (PCM 16-bit or IEEE float).
bool read_wav(const char* path, std::vector<float>& out, double& rate) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  std::vector<unsigned char> data;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  std::fclose(f);
  auto u16 = [&](size_t o) { return (uint32_t)data[o] | ((uint32_t)data[o + 1] << 8); };
  auto u32 = [&](size_t o) { return u16(o) | (u16(o + 2) << 16); };
  if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0) return false;
  uint32_t format = 0, channels = 0, bits = 0;
  for (size_t o = 12; o + 8 <= data.size();) {
    const uint32_t size = u32(o + 4);
    if (std::memcmp(&data[o], "fmt ", 4) == 0) {
      format = u16(o + 8);
      channels = u16(o + 10);
      rate = u32(o + 12);
      bits = u16(o + 22);
    } else if (std::memcmp(&data[o], "data", 4) == 0 && channels > 0) {
      const size_t frame = channels * (bits / 8);
      for (size_t p = o + 8; p + frame <= o + 8 + size && p + frame <= data.size(); p += frame) {
        if (format == 1 && bits == 16) {
          out.push_back((float)(int16_t)u16(p) / 32768.0f);
        } else if (format == 3 && bits == 32) {
          float v;
          std::memcpy(&v, &data[p], 4);
          out.push_back(v);
        } else {
          return false;
        }
      }
    }
    o += 8 + size + (size & 1);
  }
  return !out.empty();
}

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s URI WAV [SECONDS] [BLOCK] [SYMBOL=VALUE ...]\n", argv[0]);
    return 2;
  }
  const char* uri = argv[1];
  std::vector<float> rec;
  double rate = 48000.0;
  if (!read_wav(argv[2], rec, rate)) {
    std::fprintf(stderr, "lv2_rtf: cannot read %s\n", argv[2]);
    return 1;
  }
  const double seconds = argc > 3 ? std::atof(argv[3]) : 60.0;
  const uint32_t block = argc > 4 ? (uint32_t)std::atoi(argv[4]) : 256u;

  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  LilvNode* uri_node = lilv_new_uri(world, uri);
  const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri_node);
  if (plugin == nullptr) {
    std::fprintf(stderr, "lv2_rtf: no plug-in %s on the LV2 path\n", uri);
    return 1;
  }
  LilvInstance* inst = lilv_plugin_instantiate(plugin, rate, nullptr);
  if (inst == nullptr) {
    std::fprintf(stderr, "lv2_rtf: %s does not instantiate\n", uri);
    return 1;
  }

  LilvNode* audio = lilv_new_uri(world, LILV_URI_AUDIO_PORT);
  LilvNode* control = lilv_new_uri(world, LILV_URI_CONTROL_PORT);
  LilvNode* input = lilv_new_uri(world, LILV_URI_INPUT_PORT);
  const uint32_t nports = lilv_plugin_get_num_ports(plugin);
  std::vector<float> mins(nports), maxs(nports), defs(nports);
  lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defs.data());
  std::vector<float> controls(nports, 0.0f);
  std::vector<std::vector<float>> buffers(nports);
  std::vector<uint32_t> audio_in;
  for (uint32_t p = 0; p < nports; ++p) {
    const LilvPort* port = lilv_plugin_get_port_by_index(plugin, p);
    if (lilv_port_is_a(plugin, port, control)) {
      controls[p] = defs[p] == defs[p] ? defs[p] : 0.0f;
      const char* sym = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
      for (int a = 5; a < argc; ++a) {
        const char* eq = std::strchr(argv[a], '=');
        if (eq && std::string(argv[a], (size_t)(eq - argv[a])) == sym) controls[p] = (float)std::atof(eq + 1);
      }
      lilv_instance_connect_port(inst, p, &controls[p]);
    } else if (lilv_port_is_a(plugin, port, audio)) {
      buffers[p].assign(block, 0.0f);
      lilv_instance_connect_port(inst, p, buffers[p].data());
      if (lilv_port_is_a(plugin, port, input)) audio_in.push_back(p);
    }
  }

  lilv_instance_activate(inst);
  const uint64_t total = (uint64_t)(seconds * rate);
  size_t pos = 0;
  double busy = 0.0;
  for (uint64_t done = 0; done < total; done += block) {
    for (uint32_t p : audio_in) {
      for (uint32_t k = 0; k < block; ++k) buffers[p][k] = rec[(pos + k) % rec.size()];
    }
    pos += block;
    const double t0 = cpu_seconds();
    lilv_instance_run(inst, block);
    busy += cpu_seconds() - t0;
  }
  lilv_instance_deactivate(inst);
  std::printf("%.2f\n", busy > 0.0 ? seconds / busy : 0.0);

  lilv_instance_free(inst);
  lilv_node_free(audio);
  lilv_node_free(control);
  lilv_node_free(input);
  lilv_node_free(uri_node);
  lilv_world_free(world);
  return 0;
}
