#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# lv2apply, the LV2 tools' file renderer, runs a real speech recording
# through the plug-in: the plain resynthesis keeps the input's strongest
# partials, a 4 Hz amplitude LFO at 50 % puts a 4 Hz tremolo on it, a
# frequency LFO and out-of-range control values still give finite sound.
#   lv2apply_renders_recording.sh OUTDIR
# Exits 77 (skipped) when the recording is not installed.
set -euo pipefail
outdir=$1
here=$(cd "$(dirname "$0")" && pwd)
uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}
python=${PYTHON:-/usr/bin/python3}
recording=${MORVANE_RECORDING:-/usr/share/sounds/alsa/Front_Center.wav}
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"

if [ ! -r "$recording" ]; then
  echo "SKIP: $recording is not installed (package alsa-utils)"
  exit 77
fi
mkdir -p "$outdir"
# lv2apply writes the input's sample format: a float input gives a float
# output, so a NaN or infinity would reach the analysis instead of being
# clipped away by 16-bit conversion.
sox "$recording" -e floating-point -b 32 "$outdir/input.wav"

render() {
  local name=$1
  shift
  lv2apply -i "$outdir/input.wav" -o "$outdir/$name.wav" "$@" "$uri"
  echo "== $name: $*"
}

render plain
"$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/plain.wav" --partials

render tremolo -c lfo_shake_amp_amount 50 -c lfo_shake_amp_amp 1 -c lfo_shake_amp_freq 4
"$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/tremolo.wav" --partials \
  --tremolo 4 --reference "$outdir/plain.wav"

render wobble -c lfo_shake_freq_amount 100 -c lfo_shake_freq_amp 0.3 -c lfo_shake_freq_freq 2
"$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/wobble.wav"

render smear -c lfo_shake_time_amount 100 -c lfo_shake_time_amp 1 -c lfo_shake_time_freq 0.5
"$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/smear.wav"

# Far outside every declared range: the plug-in clamps, the output stays
# finite (the gain is clamped to +12 dB, so it may be loud; the amplitude
# LFO becomes a square wave of depth 2, its shape clamped to 0 %).
render out_of_range -c gain 1e30 -c lfo_shake_amp_amp 1e30 -c lfo_shake_amp_amount 1e9 \
  -c lfo_shake_freq_amp 1e9 -c lfo_shake_freq_amount 1e9 -c lfo_shake_freq_freq 1e9 \
  -c lfo_shake_time_amp 1e9 -c lfo_shake_time_amount -1e9 -c lfo_shake_amp_mod -1e4
"$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/out_of_range.wav"
echo "renders in $outdir"
