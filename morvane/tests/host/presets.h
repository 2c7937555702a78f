/* SPDX-License-Identifier: LGPL-2.1-or-later */
// The plug-in's factory presets as a host reads them: related to the
// plug-in through the manifest, loaded from presets.ttl and turned into
// port values by lilv's state loader.
#ifndef MORVANE_TESTS_HOST_PRESETS_H
#define MORVANE_TESTS_HOST_PRESETS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin_host.h"

struct LoadedPreset {
  std::string uri;
  std::string name;   // the URI's fragment, which morvane-render accepts
  std::string label;  // empty when the preset has none
  bool loaded = false;  // lilv made a state of it
  // Every port value lilv emits, by symbol; a value that is not a float
  // atom shows as a symbol in non_float.
  std::map<std::string, float> values;
  std::vector<std::string> non_float;
};

// Every preset related to the plug-in; empty when it is not found.
// The presets that apply to the mono plug-in, or with stereo to the
// stereo one.
std::vector<LoadedPreset> load_presets(bool stereo = false);

// The control table's row of the control port named symbol in the mono
// plug-in's description (with stereo, the stereo one's), or that
// plug-in's number of control rows (MORVANE_NUM_CONTROLS,
// MORVANE_NUM_STEREO_CONTROLS) when no control port has that symbol.
uint32_t control_index(const std::string& symbol, bool stereo = false);

// The preset's values over the defaults, as a host sets them (the stereo
// plug-in's own controls included).
Controls preset_controls(const LoadedPreset& p);

#endif  // MORVANE_TESTS_HOST_PRESETS_H
