#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# A host process that already holds functions named like the plug-in's own
# (here a preloaded library of wrong namesakes) cannot take over the
# plug-in's calls: lv2apply renders a recording, with the shaking LFOs
# moving, to the same samples with and without the namesakes preloaded.
#   hijack_through_lv2apply.sh NAMESAKES.so OUTDIR
set -euo pipefail
namesakes=$1
outdir=$2
uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}
python=${PYTHON:-/usr/bin/python3}
recording=${MORVANE_RECORDING:-/usr/share/sounds/alsa/Front_Center.wav}
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"

mkdir -p "$outdir"
sox "$recording" -e floating-point -b 32 "$outdir/input.wav"
controls=(-c gain -3 -c lfo_shake_amp_amount 50 -c lfo_shake_amp_amp 1 -c lfo_shake_amp_freq 4
          -c lfo_shake_time_amount 60 -c lfo_shake_time_amp 0.5 -c lfo_shake_freq_amount 30)
lv2apply -i "$outdir/input.wav" -o "$outdir/plain.wav" "${controls[@]}" "$uri"
LD_PRELOAD=$namesakes lv2apply -i "$outdir/input.wav" -o "$outdir/preloaded.wav" \
  "${controls[@]}" "$uri"

"$python" - "$outdir/plain.wav" "$outdir/preloaded.wav" <<'PY'
import sys
import numpy as np
import soundfile as sf
plain, _ = sf.read(sys.argv[1], dtype="float32")
preloaded, _ = sf.read(sys.argv[2], dtype="float32")
rms = float(np.sqrt(np.mean(plain.astype(np.float64) ** 2)))
if rms < 1e-3:
    sys.exit(f"FAIL: the plain render is silent (RMS {rms})")
if plain.shape != preloaded.shape:
    sys.exit(f"FAIL: lengths differ: {plain.shape} and {preloaded.shape}")
differ = int(np.count_nonzero(plain.view(np.uint32) != preloaded.view(np.uint32)))
if differ:
    rms2 = float(np.sqrt(np.mean(preloaded.astype(np.float64) ** 2)))
    sys.exit(f"FAIL: {differ} of {plain.size} samples differ with the namesakes preloaded "
             f"(RMS {rms:.4f} -> {rms2:.4f})")
print(f"{plain.size} samples identical with the namesakes preloaded (RMS {rms:.4f})")
PY
