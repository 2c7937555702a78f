#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The VST3 plug-in in a real DAW, against the LV2 plug-in in the same DAW:
# Ardour 7 on its dummy audio backend, driven headless by ardour7-lua
# (ardour_vst3.lua) and ardour7-export, as ardour_daw_test.sh drives it.
#   1. Ardour's VST3 scanner indexes morvane.vst3 into a private cache:
#      one class, "morvane", at the build's version, with two inputs and
#      two outputs like the LV2 plug-in;
#   2. two 48 kHz sessions, each with a mono track holding the speech
#      recording: one with the LV2 plug-in and the factory preset "Smeared
#      freeze", the other with the VST3 plug-in, whose controls are set by
#      their raw parameter index to the values Ardour reported for the LV2
#      one (the parameters come in the same order, one per control port);
#      Ardour lists the VST3 plug-in's programs as its presets, the nine
#      factory presets, and the program "Smeared freeze" gives the LV2
#      preset's values;
#   3. the VST3 session, reopened, holds the same values (they came back
#      from the plug-in's saved state);
#   4. both sessions are exported; the VST3 export lies within the LV2
#      test's bounds of the LV2 export, in level and in every octave band
#      (ardour_check.py audio). The two are not compared sample by sample:
#      each plug-in draws its oscillators' random phase offsets from the C
#      library's generator when Ardour creates it, and where that generator
#      stands then is Ardour's business. The preset holds its LFO flat, so
#      the sound does not depend on when Ardour started the plug-in.
#
#   ardour_vst3_test.sh OUT_DIR
# Environment: LV2_PATH (holding the built morvane.lv2), MORVANE_VST3_DIR
# (the folder holding the built morvane.vst3), MORVANE_BUNDLE,
# MORVANE_RENDER, PYTHON; optional MORVANE_RECORDING. Exits 77 (skipped)
# when Ardour 7 is not installed, unless MORVANE_REQUIRE_DAW=1.
set -euo pipefail
out=${1:?output folder}
here=$(cd "$(dirname "$0")" && pwd)
uri=http://morvane.example.org/plugins/morvane
python=${PYTHON:-/usr/bin/python3}
recording=${MORVANE_RECORDING:-/usr/share/sounds/alsa/Front_Center.wav}
preset="Smeared freeze"
scanner=/usr/lib/ardour7/ardour-vst3-scanner
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"
: "${MORVANE_VST3_DIR:?MORVANE_VST3_DIR must name the folder holding morvane.vst3}"
: "${MORVANE_BUNDLE:?MORVANE_BUNDLE must name the built morvane.lv2}"
: "${MORVANE_RENDER:?MORVANE_RENDER must name morvane-render}"
# shellcheck source=morvane/tests/ardour_common.sh
source "$here/ardour_common.sh"

ardour_require sox soxi
[ -x "$scanner" ] || skip "Ardour 7's VST3 scanner is not installed at $scanner"
[ -r "$recording" ] || skip "$recording is not installed (package alsa-utils)"
bundle=$MORVANE_VST3_DIR/morvane.vst3
[ -f "$bundle/Contents/x86_64-linux/morvane.so" ] || fail "no $bundle/Contents/x86_64-linux/morvane.so"
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
ardour_private_home
export VST3_PATH=$MORVANE_VST3_DIR
started=$(date +%s)

# The report lines of one kind in LOG, the kind's name dropped.
lines() { { grep $'^morvane-daw\t'"$2"$'\t' "$1" || true; } | cut -f3-; }

echo "== Ardour's VST3 scanner"
LD_LIBRARY_PATH=/usr/lib/ardour7 run 120 "$out/scan.log" "$scanner" -f -v "$bundle" || fail "the scan"
cache=$(grep -l "bundle=\"$bundle\"" "$XDG_CACHE_HOME"/ardour7/vst/*.v3i 2>/dev/null | head -n 1 || true)
[ -n "$cache" ] || { cat "$out/scan.log"; fail "the scanner wrote no cache entry for $bundle"; }
version=$(sed -n 's/^project(morvane VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
info=$(grep -o '<VST3Info [^>]*' "$cache")
for want in 'name="morvane"' "version=\"$version\"" 'n_inputs="2"' 'n_outputs="2"'; do
  grep -qF "$want" <<<"$info" || fail "the scanned class lacks $want: $info"
done
[ "$(grep -c '<VST3Info ' "$cache")" = 1 ] || fail "the bundle does not hold exactly one class: $(cat "$cache")"
uid=$(sed -n 's/.* uid="\([0-9A-F]*\)".*/\1/p' <<<"$info")
echo "  class $uid: $info"

sox "$recording" -e floating-point -b 32 "$out/voice.wav"
for format in lv2 vst3; do
  ardour_lua "$here/ardour_session.lua" "$out/$format-create.log" create "$out/$format" "$format"
  "$python" "$here/ardour_add_region.py" "$out/$format" "$format" Voice "$out/voice.wav" || fail "placing the recording"
done

echo "== the LV2 plug-in with '$preset'"
ardour_lua "$here/ardour_vst3.lua" "$out/lv2.log" lv2 "$out/lv2" lv2 "$uri" "$preset"
# By the control's number: the VST3 plug-in's raw parameter index.
mapfile -t settings < <(lines "$out/lv2.log" value | cut -f1,3 | tr '\t' '=')
[ "${#settings[@]}" -gt 20 ] || { cat "$out/lv2.log"; fail "Ardour reported ${#settings[@]} LV2 controls"; }

echo "== the VST3 plug-in, its controls set by parameter index"
# The labels of the LV2 plug-in's presets, "|" after each, sorted.
sordi "$MORVANE_BUNDLE/presets.ttl" > "$out/presets.nt"
want_presets=$("$python" - "$out/presets.nt" "$uri" <<'PY'
import sys
applies, labels = set(), {}
for line in open(sys.argv[1]):
    s, p, o = line.split(" ", 2)
    o = o.rstrip(" .\n")
    if p == "<http://lv2plug.in/ns/lv2core#appliesTo>" and o == f"<{sys.argv[2]}>":
        applies.add(s)
    if p == "<http://www.w3.org/2000/01/rdf-schema#label>":
        labels[s] = o.strip('"')
print("|".join(sorted(labels[s] for s in applies)) + "|")
PY
)
log=$out/vst3.log
ardour_lua "$here/ardour_vst3.lua" "$log" vst3 "$out/vst3" vst3 "$uid" "$want_presets" "$preset" "${settings[@]}"
presets=$(lines "$log" preset | LC_ALL=C sort | tr '\n' '|')
[ "$(lines "$log" plugin | cut -f2)" = morvane ] || { cat "$log"; fail "Ardour did not insert the VST3 plug-in"; }
[ "$(lines "$log" instances)" = 1 ] || fail "Ardour runs $(lines "$log" instances) instances"
[ "$presets" = "$want_presets" ] || fail "Ardour lists the programs '$presets', the LV2 presets are '$want_presets'"

# The VST3 plug-in's raw parameter indices are the controls' numbers.
lines "$log" value | awk -F '\t' '$1 != $2 { exit 1 }' || fail "the VST3 parameter indices are not 0, 1, 2 ..."
# same A B: two "NUMBER<TAB>INDEX<TAB>VALUE" lists agree by number, each
# value within what Ardour's single-precision fraction of the range keeps.
same() {
  "$python" - "$1" "$2" "$3" <<'PY'
import sys
a = {n: v for n, _, v in (l.split("\t") for l in sys.argv[1].splitlines())}
b = {n: v for n, _, v in (l.split("\t") for l in sys.argv[2].splitlines())}
if a.keys() != b.keys():
    sys.exit(f"{sys.argv[3]}: parameters {sorted(a)} against {sorted(b)}")
for k in a:
    x, y = float(a[k]), float(b[k])
    if abs(x - y) > 1e-5 * max(1.0, abs(x)):
        sys.exit(f"{sys.argv[3]}: parameter {k} is {y}, expected {x}")
PY
}
same "$(lines "$out/lv2.log" value)" "$(lines "$log" program-value)" "the program's values" ||
  fail "the program '$preset' does not give the LV2 preset's values"
same "$(lines "$out/lv2.log" value)" "$(lines "$log" value)" "the VST3 plug-in's values" || fail "the values set"

echo "== the VST3 session reopened"
ardour_lua "$here/ardour_vst3.lua" "$out/reopen.log" reopen "$out/vst3" vst3
same "$(lines "$log" value)" "$(lines "$out/reopen.log" value)" "after reopening" || fail "the values did not survive"

echo "== both sessions exported"
ardour_export "$out/lv2" lv2 "$out/lv2.wav" 30
ardour_export "$out/vst3" vst3 "$out/vst3.wav" 30
"$MORVANE_RENDER" "$out/voice.wav" "$out/plain.wav" --bundle "$MORVANE_BUNDLE" --quiet || fail "morvane-render"
"$python" "$here/ardour_check.py" audio --input "$out/voice.wav" --export "$out/vst3.wav" --render "$out/lv2.wav" \
  --plain "$out/plain.wav" --max-level-db 1.0 --max-band-db 2.0 || fail "the VST3 export against the LV2 export"
# How close they came, for the record: when Ardour made both plug-ins with
# the generator at the same state, they differ only by Ardour's rounding
# of the parameter values.
"$python" - "$out/lv2.wav" "$out/vst3.wav" <<'PY'
import sys
import numpy as np
import soundfile as sf
a, _ = sf.read(sys.argv[1], dtype="float32")
b, _ = sf.read(sys.argv[2], dtype="float32")
print(f"largest sample difference between the exports: {float(np.max(np.abs(a - b))):.3g}")
PY
echo "PASS: Ardour scanned and ran the VST3 plug-in with its programs, kept its settings over a reopen," \
     "and exported within 1 dB (level) and 2 dB (octave bands) of the LV2 plug-in, in $(( $(date +%s) - started )) s"
