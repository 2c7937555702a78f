#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# lv2info, the LV2 tools' plug-in inspector, finds the plug-in on LV2_PATH
# and reads its class, maintainer, feature and 37 ports from the bundle.
set -euo pipefail
uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"

out=$(lv2info "$uri")
fail() { echo "FAIL: $*" >&2; echo "$out" >&2; exit 1; }

grep -Eq '^[[:space:]]*Name:[[:space:]]+morvane$' <<<"$out" || fail "no plug-in name"
grep -Eq 'Class:[[:space:]]+Spectral Plugin' <<<"$out" || fail "not a spectral plug-in"
grep -Eq 'Author:[[:space:]]+morvane developers' <<<"$out" || fail "no maintainer"
# The optional features are listed one a line after the heading.
sed -n '/Optional Features:/,/Extension Data:/p' <<<"$out" | grep -q 'hardRTCapable' || fail "hardRTCapable not offered"
grep -q 'Required Features' <<<"$out" && fail "the plug-in requires a feature"
ports=$(grep -Ec '^[[:space:]]*Port [0-9]+:' <<<"$out")
[ "$ports" -eq 37 ] || fail "$ports ports, expected 37"
for sym in gain lfo_shake_amp_amp lfo_shake_freq_amp lfo_shake_time_amp \
           lfo_time_range_mod input_l input_r output_l output_r control notify; do
  grep -Eq "Symbol:[[:space:]]+$sym\$" <<<"$out" || fail "no port $sym"
done
grep -q 'ui#X11UI' <<<"$out" || fail "no X11 window listed"
grep -q 'morvane_ui.so' <<<"$out" || fail "the window's object is not listed"
echo "lv2info: morvane with $ports ports and its window"
