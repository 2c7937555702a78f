#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# lv2apply, the LV2 tools' file renderer, runs a real speech recording
# through the plug-in: the plain resynthesis keeps the input's strongest
# partials, a 4 Hz amplitude LFO at 50 % puts a 4 Hz tremolo on it, a
# frequency LFO and out-of-range control values still give finite sound.
# Then through the stereo plug-in, the recording on both inputs (lv2apply
# feeds a mono file to every input): in Left / Right with the LFO offset at
# 180 degrees the left output has the 4 Hz tremolo and the right one the
# same tremolo half a cycle ahead; out-of-range values of its own controls
# too give finite sound on both outputs.
#   lv2apply_renders_recording.sh OUTDIR
# Exits 77 (skipped) when the recording is not installed.
set -euo pipefail
outdir=$1
here=$(cd "$(dirname "$0")" && pwd)
uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}
stereo_uri=${MORVANE_STEREO_URI:-http://morvane.example.org/plugins/morvane-stereo}
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

# render NAME ARGS... [PLUGIN_URI]: the mono plug-in unless another is named last.
render() {
  local name=$1 plugin=$uri
  shift
  if [ $# -gt 0 ] && [[ ${!#} == http://* ]]; then
    plugin=${!#}
    set -- "${@:1:$#-1}"
  fi
  lv2apply -i "$outdir/input.wav" -o "$outdir/$name.wav" "$@" "$plugin"
  echo "== $name: $* ($plugin)"
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

render stereo_plain -c stereo_mode 1 "$stereo_uri"
render stereo_tremolo -c stereo_mode 1 -c lfo_offset 180 -c lfo_shake_amp_amount 50 -c lfo_shake_amp_amp 1 \
  -c lfo_shake_amp_freq 4 "$stereo_uri"
for channel in 0 1; do
  "$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/stereo_tremolo.wav" --channel "$channel" \
    --tremolo 4 --tremolo-phase $((180 * channel)) --reference "$outdir/stereo_plain.wav"
done
render stereo_out_of_range -c stereo_mode 1e9 -c width -1e9 -c lfo_offset 1e30 -c lfo_shake_amp_amount 1e9 \
  -c lfo_shake_freq_amount 1e9 -c lfo_shake_freq_amp 1e9 "$stereo_uri"
for channel in 0 1; do
  "$python" "$here/analyse_render.py" "$outdir/input.wav" "$outdir/stereo_out_of_range.wav" --channel "$channel"
done
echo "renders in $outdir"
