#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The stereo plug-in in a real DAW: Ardour 7 on its dummy audio backend,
# driven headless by ardour7-lua (ardour_stereo.lua) and ardour7-export.
#   1. two 48 kHz sessions, each with a stereo track holding the speech
#      recording on both channels (the same samples: a mono source), and
#      the stereo plug-in on the track with the "Smeared freeze" preset in
#      Mid, at width 100 % in one and 0 % in the other;
#   2. Ardour runs the plug-in as one instance taking the track's two
#      channels to two (a plug-in with one input would be run as two
#      copies), the only plug-in on the route, and lists its ten presets,
#      Stereo tremolo among them;
#   3. each session is exported: at 100 % the two channels of the export
#      differ (the partials are spread apart), at 0 % they are the same
#      signal; each channel's level lies within 1 dB of morvane-render's
#      stereo render of the same file and settings (ardour_check.py
#      channels). The preset holds its one LFO flat, so the level does not
#      depend on when Ardour started the plug-in; what remains are the
#      random phase offsets, which moved a channel's level by up to 0.5 dB
#      in the mono test (ardour_daw_test.sh), while a channel Ardour did
#      not feed would take 6 dB off.
#
#   ardour_stereo_test.sh OUT_DIR
# Environment: LV2_PATH (holding the built morvane.lv2), MORVANE_BUNDLE
# (the built bundle), MORVANE_RENDER (morvane-render), PYTHON; optional
# MORVANE_STEREO_URI, MORVANE_RECORDING (a mono 48 kHz recording).
# Exits 77 (skipped) when Ardour 7 is not installed, unless
# MORVANE_REQUIRE_DAW=1, which makes that a failure.
set -euo pipefail
out=${1:?output folder}
here=$(cd "$(dirname "$0")" && pwd)
uri=${MORVANE_STEREO_URI:-http://morvane.example.org/plugins/morvane-stereo}
python=${PYTHON:-/usr/bin/python3}
recording=${MORVANE_RECORDING:-/usr/share/sounds/alsa/Front_Center.wav}
preset="Smeared freeze"
max_level_db=1.0
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"
: "${MORVANE_BUNDLE:?MORVANE_BUNDLE must name the built morvane.lv2}"
: "${MORVANE_RENDER:?MORVANE_RENDER must name morvane-render}"
# shellcheck source=morvane/tests/ardour_common.sh
source "$here/ardour_common.sh"

ardour_require sox soxi
[ -r "$recording" ] || skip "$recording is not installed (package alsa-utils)"
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
ardour_private_home

# expect LOG FIELDS...: the phase reported exactly this line.
expect() {
  local log=$1 line
  shift
  line=$(printf '\t%s' morvane-daw "$@")
  grep -qxF "${line:1}" "$log" || { grep $'^morvane-daw\t' "$log"; fail "no line '$*' in $log"; }
}

started=$(date +%s)
# The recording as 32-bit float, once per channel of the region.
sox "$recording" -e floating-point -b 32 "$out/voice-left.wav"
cp "$out/voice-left.wav" "$out/voice-right.wav"

for width in 100 0; do
  echo "== a stereo track, the same signal on both channels, the stereo plug-in in Mid at width $width %"
  dir=$out/width-$width/pair
  mkdir -p "$out/width-$width"
  ardour_lua "$here/ardour_stereo.lua" "$dir-create.log" create "$dir" pair
  expect "$dir-create.log" track Pair 2 2
  "$python" "$here/ardour_add_region.py" "$dir" pair Pair "$out/voice-left.wav" "$out/voice-right.wav" \
    || fail "placing the recording"
  log=$dir-configure.log
  ardour_lua "$here/ardour_stereo.lua" "$log" configure "$dir" pair "$uri" "$preset" \
    "Stereo mode=0" "Width=$width"
  expect "$log" plugin "$uri" "morvane stereo"
  # One instance, two channels in and two out, alone on the route.
  expect "$log" streams 2 2 2
  expect "$log" instances 1
  expect "$log" route-plugins 1
  presets=$(grep -c $'^morvane-daw\tpreset\t' "$log" || true)
  [ "$presets" = 10 ] || { grep $'\tpreset\t' "$log"; fail "Ardour lists $presets presets, expected 10"; }
  expect "$log" preset "Stereo tremolo"
  expect "$log" loaded "$preset"
  expect "$log" value "Smoothing LFO amount" 100
  expect "$log" value "Stereo mode" 0
  expect "$log" value Width "$width"
  expect "$log" value "LFO offset" 0

  ardour_export "$dir" pair "$out/export-$width.wav"
done

echo "== the exports' channels, against morvane-render --stereo"
sox -M "$out/voice-left.wav" "$out/voice-right.wav" "$out/voice-stereo.wav"
for width in 100 0; do
  "$MORVANE_RENDER" "$out/voice-stereo.wav" "$out/render-$width.wav" --stereo --preset "$preset" \
    --mode mid --width "$width" --bundle "$MORVANE_BUNDLE" --quiet || fail "morvane-render"
done
"$python" "$here/ardour_check.py" channels --input "$out/voice-left.wav" --export "$out/export-100.wav" \
  --render "$out/render-100.wav" --max-level-db "$max_level_db" --differ \
  || fail "at width 100 % the export's channels"
"$python" "$here/ardour_check.py" channels --input "$out/voice-left.wav" --export "$out/export-0.wav" \
  --render "$out/render-0.wav" --max-level-db "$max_level_db" --equal \
  || fail "at width 0 % the export's channels"
echo "PASS: Ardour runs the stereo plug-in as one instance with two inputs and two outputs;" \
     "its export's channels differ at width 100 % and are the same at 0 %, in $(( $(date +%s) - started )) s"
