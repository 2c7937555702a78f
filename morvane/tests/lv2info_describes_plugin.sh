#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# lv2info, the LV2 tools' plug-in inspector, finds both plug-ins of the
# bundle on LV2_PATH and reads each one's name, class, maintainer, features,
# window, presets and ports: morvane with 37 ports and nine presets,
# morvane stereo with 40 (its own stereo_mode, width and lfo_offset among
# them) and ten, Stereo tremolo the one more.
set -euo pipefail
mono_uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}
stereo_uri=${MORVANE_STEREO_URI:-http://morvane.example.org/plugins/morvane-stereo}
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"

# describe URI NAME PORTS PRESETS SYMBOL...: lv2info's description of URI.
describe() {
  local uri=$1 name=$2 want_ports=$3 want_presets=$4 out ports presets sym
  shift 4
  out=$(lv2info "$uri")
  fail() { echo "FAIL: $uri: $*" >&2; echo "$out" >&2; exit 1; }
  grep -Eq "^[[:space:]]*Name:[[:space:]]+$name\$" <<<"$out" || fail "not named '$name'"
  grep -Eq 'Class:[[:space:]]+Spectral Plugin' <<<"$out" || fail "not a spectral plug-in"
  grep -Eq 'Author:[[:space:]]+morvane developers' <<<"$out" || fail "no maintainer"
  # The optional features are listed one a line after the heading.
  sed -n '/Optional Features:/,/Extension Data:/p' <<<"$out" | grep -q 'hardRTCapable' || fail "hardRTCapable not offered"
  grep -q 'Required Features' <<<"$out" && fail "the plug-in requires a feature"
  ports=$(grep -Ec '^[[:space:]]*Port [0-9]+:' <<<"$out")
  [ "$ports" -eq "$want_ports" ] || fail "$ports ports, expected $want_ports"
  for sym in gain lfo_shake_amp_amp lfo_shake_freq_amp lfo_shake_time_amp \
             lfo_time_range_mod input_l input_r output_l output_r control notify "$@"; do
    grep -Eq "Symbol:[[:space:]]+$sym\$" <<<"$out" || fail "no port $sym"
  done
  # The presets are listed by label, one a line, up to the first port.
  presets=$(sed -n '/^[[:space:]]*Presets:/,/^[[:space:]]*Port 0:/p' <<<"$out" | sed '1d;$d' | grep -c '[^[:space:]]' || true)
  [ "$presets" -eq "$want_presets" ] || fail "$presets presets, expected $want_presets"
  grep -q 'ui#X11UI' <<<"$out" || fail "no X11 window listed"
  grep -q 'morvane_ui.so' <<<"$out" || fail "the window's object is not listed"
  echo "lv2info: $name with $ports ports, $presets presets and its window"
  stereo_symbols_seen=$(grep -Ec 'Symbol:[[:space:]]+(stereo_mode|width|lfo_offset)$' <<<"$out" || true)
  stereo_presets_seen=$(grep -c 'Stereo tremolo' <<<"$out" || true)
}

describe "$mono_uri" morvane 37 9
# The mono plug-in has none of the stereo one's own ports and preset.
[ "$stereo_symbols_seen" = 0 ] || { echo "FAIL: the mono plug-in has stereo ports" >&2; exit 1; }
[ "$stereo_presets_seen" = 0 ] || { echo "FAIL: the mono plug-in lists Stereo tremolo" >&2; exit 1; }
describe "$stereo_uri" "morvane stereo" 40 10 stereo_mode width lfo_offset
[ "$stereo_presets_seen" -ge 1 ] || { echo "FAIL: the stereo plug-in does not list Stereo tremolo" >&2; exit 1; }
