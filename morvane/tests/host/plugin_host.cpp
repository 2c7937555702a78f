// SPDX-License-Identifier: LGPL-2.1-or-later
#include "plugin_host.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

Controls default_controls()
{
  Controls c{};
  for (uint32_t i = 0; i < MORVANE_NUM_STEREO_CONTROLS; ++i) {
    c[i] = morvane_controls[i]._default;
  }
  return c;
}

PluginHost::PluginHost(double rate, std::size_t max_block, unsigned seed)
    : PluginHost(rate, HostSetup{.max_block = max_block, .seed = seed})
{
}

PluginHost::PluginHost(double rate, const HostSetup& setup)
    : _rate(rate), _setup(setup), _controls(default_controls()),
      _in_l(setup.max_block, 0.0f), _in_r(setup.max_block, 0.0f),
      _out_l(setup.max_block, 0.0f), _out_r(setup.max_block, 0.0f),
      _control(setup.control_capacity), _notify(setup.notify_capacity),
      _chunk(LilvTestWorld::get().urids().id(LV2_ATOM__Chunk))
{
  LilvTestWorld& world = LilvTestWorld::get();
  const LilvPlugin* plugin = setup.stereo ? world.stereo_plugin() : world.plugin();
  if (plugin == nullptr) {
    return;
  }
  const LV2_Feature** feature = _features;
  if (setup.offer_urid_map) {
    _map_feature = LV2_Feature{LV2_URID__map, world.urids().map()};
    *feature++ = &_map_feature;
  }
  if (setup.offer_queue_draw) {
    _queue_draw_feature = LV2_Feature{MORVANE_INLINEDISPLAY__queue_draw, &_queue_draw.feature};
    *feature++ = &_queue_draw_feature;
  }
  std::srand(setup.seed);
  _instance = lilv_plugin_instantiate(plugin, rate, _features);
  if (_instance == nullptr) {
    return;
  }
  for (uint32_t i = 0; i < (setup.stereo ? MORVANE_NUM_STEREO_CONTROLS : MORVANE_NUM_CONTROLS); ++i) {
    connect(morvane_controls[i]._port, &_controls[i]);
  }
  connect(MORVANE_INPUT_L, _in_l.data());
  connect(MORVANE_INPUT_R, _in_r.data());
  connect(MORVANE_OUTPUT_L, _out_l.data());
  connect(MORVANE_OUTPUT_R, _out_r.data());
  if (setup.connect_atom_ports) {
    _control.clear_input(ids());
    connect(MORVANE_CONTROL, _control.seq());
    connect(MORVANE_NOTIFY, _notify.seq());
  }
  lilv_instance_activate(_instance);
}

PluginHost::~PluginHost()
{
  if (_instance != nullptr) {
    lilv_instance_deactivate(_instance);
    lilv_instance_free(_instance);
  }
}

void PluginHost::run(uint32_t n)
{
  if (!_setup.connect_atom_ports) {
    lilv_instance_run(_instance, n);
    return;
  }
  _notify.prepare_output_as(_setup.notify_offered_as_chunk ? _chunk : ids()._atom_Sequence);
  lilv_instance_run(_instance, n);
  _control.clear_input(ids());
  if (_notify.seq()->atom.size > sizeof(LV2_Atom_Sequence_Body)) {
    ++_runs_with_events;
  }
}

std::vector<float> PluginHost::process(const std::vector<float>& signal, std::size_t block)
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

std::array<std::vector<float>, 2> PluginHost::process_stereo(const std::vector<float>& left,
                                                             const std::vector<float>& right, std::size_t block)
{
  std::array<std::vector<float>, 2> result;
  for (std::size_t pos = 0; pos < left.size(); pos += block) {
    const auto at = static_cast<std::ptrdiff_t>(pos);
    const auto n = static_cast<std::ptrdiff_t>(std::min(block, left.size() - pos));
    std::copy(left.begin() + at, left.begin() + at + n, _in_l.begin());
    std::copy(right.begin() + at, right.begin() + at + n, _in_r.begin());
    run(static_cast<uint32_t>(n));
    result[0].insert(result[0].end(), _out_l.begin(), _out_l.begin() + n);
    result[1].insert(result[1].end(), _out_r.begin(), _out_r.begin() + n);
  }
  return result;
}

std::vector<float> test_signal(std::size_t n, double rate)
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
