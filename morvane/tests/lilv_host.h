/* SPDX-License-Identifier: LGPL-2.1-or-later */
// A small LV2 host for the tests, built on liblilv: it loads the bundle the
// build just made (from the test folder of LV2 bundles), instantiates the
// plug-in and drives it with buffers the tests own.
#ifndef MORVANE_TESTS_LILV_HOST_H
#define MORVANE_TESTS_LILV_HOST_H

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include "morvane.h"
#include "morvane_internal.h"

// The lilv world with the test folder as its whole LV2 path, loaded once
// for the test program.
class LilvTestWorld {
public:
  static LilvTestWorld& get()
  {
    static LilvTestWorld world;
    return world;
  }

  LilvWorld* world() const { return _world; }
  const LilvPlugin* plugin() const { return _plugin; }
  // A node for uri that the world owns until the program ends.
  const LilvNode* uri(const char* uri)
  {
    LilvNode* node = lilv_new_uri(_world, uri);
    _nodes.push_back(node);
    return node;
  }

  LilvTestWorld(const LilvTestWorld&) = delete;
  LilvTestWorld& operator=(const LilvTestWorld&) = delete;

private:
  LilvTestWorld() : _world(lilv_world_new())
  {
    LilvNode* path = lilv_new_string(_world, MORVANE_TEST_LV2_PATH);
    lilv_world_set_option(_world, LILV_OPTION_LV2_PATH, path);
    lilv_node_free(path);
    lilv_world_load_all(_world);
    _plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world), uri(MORVANE_URI));
  }
  ~LilvTestWorld()
  {
    for (LilvNode* node : _nodes) {
      lilv_node_free(node);
    }
    lilv_world_free(_world);
  }

  LilvWorld* _world;
  const LilvPlugin* _plugin = nullptr;
  std::vector<LilvNode*> _nodes;
};

// Control values in port units (dB, Hz, percent), indexed by PortIndex.
using Controls = std::array<float, MORVANE_NUM_CONTROLS>;

// The defaults of the table the plug-in clamps to.
inline Controls default_controls()
{
  Controls c{};
  for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
    c[i] = morvane_controls[i]._default;
  }
  return c;
}

// One plug-in instance through lilv, with its own control values and audio
// buffers connected. The process-wide rand() is seeded first, so two hosts
// made with the same seed hold engines with the same random phase offsets.
class PluginHost {
public:
  explicit PluginHost(double rate, std::size_t max_block, unsigned seed = 1,
                      const LV2_Feature* const* features = nullptr)
      : _controls(default_controls()),
        _in_l(max_block, 0.0f), _in_r(max_block, 0.0f),
        _out_l(max_block, 0.0f), _out_r(max_block, 0.0f)
  {
    std::srand(seed);
    _instance = lilv_plugin_instantiate(LilvTestWorld::get().plugin(), rate, features);
    if (!_instance) {
      return;
    }
    for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
      lilv_instance_connect_port(_instance, i, &_controls[i]);
    }
    connect(MORVANE_INPUT_L, _in_l.data());
    connect(MORVANE_INPUT_R, _in_r.data());
    connect(MORVANE_OUTPUT_L, _out_l.data());
    connect(MORVANE_OUTPUT_R, _out_r.data());
    lilv_instance_activate(_instance);
  }
  ~PluginHost()
  {
    if (_instance) {
      lilv_instance_deactivate(_instance);
      lilv_instance_free(_instance);
    }
  }
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  bool ok() const { return _instance != nullptr; }
  LilvInstance* instance() const { return _instance; }
  Controls& controls() { return _controls; }
  void connect(uint32_t port, void* data) { lilv_instance_connect_port(_instance, port, data); }
  void run(uint32_t n) { lilv_instance_run(_instance, n); }

  std::vector<float>& in_l() { return _in_l; }
  std::vector<float>& in_r() { return _in_r; }
  std::vector<float>& out_l() { return _out_l; }
  std::vector<float>& out_r() { return _out_r; }

  // Runs signal through the left input in blocks of `block` samples and
  // returns the left output.
  std::vector<float> process(const std::vector<float>& signal, std::size_t block)
  {
    std::vector<float> result;
    result.reserve(signal.size());
    for (std::size_t pos = 0; pos < signal.size(); pos += block) {
      const std::size_t n = std::min(block, signal.size() - pos);
      std::copy(signal.begin() + static_cast<std::ptrdiff_t>(pos),
                signal.begin() + static_cast<std::ptrdiff_t>(pos + n), _in_l.begin());
      run(static_cast<uint32_t>(n));
      result.insert(result.end(), _out_l.begin(), _out_l.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return result;
  }

private:
  Controls _controls;
  std::vector<float> _in_l, _in_r, _out_l, _out_r;
  LilvInstance* _instance = nullptr;
};

// A deterministic test signal: three partials (220, 660 and 1500 Hz at
// 48 kHz) with a slow swell, plus a little noise from a fixed generator.
inline std::vector<float> test_signal(std::size_t n, double rate = 48000.0)
{
  std::vector<float> s(n);
  uint32_t lcg = 12345u;
  const double two_pi = 6.283185307179586;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    lcg = lcg * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(lcg >> 8) / 16777216.0 - 0.5) * 0.02;
    const double swell = 0.5 + 0.5 * std::sin(two_pi * 3.0 * t);
    s[i] = static_cast<float>(0.4 * std::sin(two_pi * 220.0 * t) +
                              0.25 * swell * std::sin(two_pi * 660.0 * t) +
                              0.15 * std::sin(two_pi * 1500.0 * t) + noise);
  }
  return s;
}

#endif  // MORVANE_TESTS_LILV_HOST_H
