#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# A lilv host (lv2apply) runs each plug-in of the bundle over half a second
# of a shaken tone under valgrind's memcheck (the stereo one in Left / Right
# with an LFO offset, so that both of its engines run): no memory error and
# no leak (definite, indirect or possible) is allowed. Blocks that the dynamic loader keeps
# after lilv unloads the plug-in are "still reachable" and not counted;
# pixman's own one-time tables (plugin_memcheck.supp) are suppressed.
#   valgrind_lv2apply.sh OUT_DIR      (LV2_PATH, MORVANE_URI and PYTHON set;
#                                      MORVANE_STEREO_URI optional)
# Exit 77 (skipped) when valgrind or lv2apply is missing.
set -euo pipefail
out=${1:?output folder}
for tool in valgrind lv2apply; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
rm -rf "$out"
mkdir -p "$out"
"${PYTHON:-python3}" - "$out/in.wav" <<'PY'
import sys
import numpy as np
import soundfile as sf
t = np.arange(24000) / 48000.0
x = 0.4 * np.sin(2 * np.pi * 440 * t) + 0.2 * np.sin(2 * np.pi * 1250 * t)
x[12000] = np.nan  # one bad sample on the way
sf.write(sys.argv[1], x.astype(np.float32), 48000, subtype="FLOAT")
PY
stereo_uri=${MORVANE_STEREO_URI:-http://morvane.example.org/plugins/morvane-stereo}
# memcheck NAME URI CONTROL_ARGS...: one lv2apply run of URI under memcheck.
memcheck() {
  local name=$1 uri=$2 status=0
  shift 2
  # pixman's one-time tables, lost when lilv unloads the plug-in and pixman
  # with it, are suppressed (plugin_memcheck.supp); naming them needs the
  # unloaded objects' names (--keep-debuginfo).
  valgrind --tool=memcheck --error-exitcode=3 --leak-check=full --keep-debuginfo=yes \
    --suppressions="$(dirname "$0")/plugin_memcheck.supp" \
    --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible \
    --log-file="$out/$name-memcheck.log" \
    lv2apply -i "$out/in.wav" -o "$out/$name.wav" \
      -c lfo_shake_amp_amount 50 -c lfo_shake_freq_amount 50 -c lfo_shake_time_amount 50 "$@" \
      "$uri" || status=$?
  echo "== $name ($uri)"
  grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|All heap blocks" "$out/$name-memcheck.log" || true
  if [ "$status" -ne 0 ]; then
    echo "FAIL: memcheck status $status"; tail -40 "$out/$name-memcheck.log"; exit 1
  fi
  grep -q "ERROR SUMMARY: 0 errors" "$out/$name-memcheck.log" || { echo "FAIL: memcheck errors"; exit 1; }
  "${PYTHON:-python3}" - "$out/$name.wav" <<'PY'
import sys
import numpy as np
import soundfile as sf
y, rate = sf.read(sys.argv[1], dtype="float32", always_2d=True)
assert np.all(np.isfinite(y)), "non-finite output"
assert float(np.min(np.sqrt(np.mean(y[4800:] ** 2, axis=0)))) > 0.05, "no signal"
print(f"output: {y.shape[0]} frames, {y.shape[1]} channels, finite, rms {float(np.sqrt(np.mean(y ** 2))):.3f}")
PY
}
memcheck mono "$MORVANE_URI"
memcheck stereo "$stereo_uri" -c stereo_mode 1 -c lfo_offset 90
echo "PASS: memcheck clean"
