#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The amplitude LFO locked to the song in a real DAW: Ardour 7 on its dummy
# audio backend, driven headless by ardour7-lua (ardour_song_lock.lua) and
# ardour7-export, as ardour_daw_test.sh drives it.
#   1. a 48 kHz session at 100 bpm in 4/4 holding a steady 240 Hz tone of
#      14 s (ardour_add_region.py puts it on the track), the plug-in on the
#      track with the "Eighth tremolo" preset: the amplitude LFO in Tempo,
#      one cycle an eighth note (0.3 s at 100 bpm), depth 1, amount 50 %;
#   2. the whole song is exported twice: the two files must be
#      bit-identical (with the LFO locked, nothing of the sound depends on
#      how long Ardour ran the plug-in before the export);
#   3. the session range is set to start at bar 5 plus a 1/32 note (sample
#      464400: a quarter of the LFO's cycle off its grid) and exported
#      again: its envelope must lie on the full export's from there on
#      within 1 ms (song_lock_check.py late: the phase of the envelopes'
#      LFO component against the song's clock; the measure must also see a
#      10 ms slip). Ardour sends a time:Position at every process cycle
#      while it exports, its beat rounded to 1/1920 beat (0.31 ms here),
#      which bounds how far two exports can differ.
#   4. with MORVANE_DAW_FREE=1 the same is measured, without a bound, with
#      the LFO in Free at the same period (rate 3.333 Hz): how far a late
#      export of an unlocked LFO lies off (75 ms when it was measured).
# Ardour's export itself now and then aborts or hangs (see
# ardour_common.sh): each export is tried up to five times.
#
#   ardour_song_lock_test.sh OUT_DIR
# Environment: LV2_PATH (holding the built morvane.lv2), MORVANE_URI,
# PYTHON. Exits 77 (skipped) when Ardour 7 is not installed, unless
# MORVANE_REQUIRE_DAW=1, which makes that a failure.
set -euo pipefail
out=${1:?output folder}
here=$(cd "$(dirname "$0")" && pwd)
uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}
python=${PYTHON:-/usr/bin/python3}
: "${LV2_PATH:?LV2_PATH must name the folder holding morvane.lv2}"

bpm=100
# Bar 5 starts after 16 quarter notes (9.6 s, 460800 samples); a 1/32 note
# is an eighth of a quarter (75 ms, 3600 samples).
late_start=464400
cycle_seconds=0.3   # an eighth note at 100 bpm
tone_seconds=14
max_offset_ms=1.0

# shellcheck source=morvane/tests/ardour_common.sh
source "$here/ardour_common.sh"
ardour_require sox

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
ardour_private_home

# lua LOG PHASE ARGS...: one phase of ardour_song_lock.lua.
lua() { ardour_lua "$here/ardour_song_lock.lua" "$@"; }
# export_song SESSION WAV: the session "song" exported.
export_song() { ardour_export "$1" song "$2"; }
# session FOLDER CONFIGURE_ARGS...: a session "song" at $bpm in FOLDER with
# the tone on its track and the plug-in configured.
session() {
  local dir=$out/$1/song
  mkdir -p "$out/$1"
  shift
  lua "$dir-create.log" create "$dir" song "$bpm"
  grep -qx $'morvane-daw\ttempo\t0\t'"$bpm" "$dir-create.log" \
    || { cat "$dir-create.log"; fail "the session's tempo is not $bpm bpm"; }
  "$python" "$here/ardour_add_region.py" "$dir" song Tone "$tone" || fail "placing the tone"
  lua "$dir-configure.log" configure "$dir" song "$uri" "Eighth tremolo" "$@"
}
# expect LOG LABEL VALUE: the configure phase read the control back at VALUE.
expect() {
  grep -qx $'morvane-daw\tvalue\t'"$2"$'\t'"$3" "$1" || { grep $'\tvalue\t' "$1"; fail "$2 is not $3"; }
}

started=$(date +%s)
tone=$out/tone.wav
sox -n -r 48000 -c 1 -e floating-point -b 32 "$tone" synth "$tone_seconds" sine 240 vol 0.25
frames=$(soxi -s "$tone")

echo "== a session at $bpm bpm, the tone on its track, the plug-in in Tempo (Eighth tremolo)"
session locked
expect "$out/locked/song-configure.log" "Amplitude LFO sync" 2
expect "$out/locked/song-configure.log" "Amplitude LFO cycle" 0.5

echo "== the whole song exported twice"
export_song "$out/locked/song" "$out/full-1.wav"
export_song "$out/locked/song" "$out/full-2.wav"
"$python" "$here/song_lock_check.py" identical "$out/full-1.wav" "$out/full-2.wav" \
  || fail "two exports of the same song differ"

echo "== exported from bar 5 plus a 1/32 note (sample $late_start)"
lua "$out/locked/range.log" range "$out/locked/song" song "$late_start" "$frames"
grep -qx $'morvane-daw\tsession-range\t'"$late_start"$'\t'"$frames" "$out/locked/range.log" \
  || { cat "$out/locked/range.log"; fail "the session range was not set"; }
grep -qx $'morvane-daw\tbbt\t'"$late_start"$'\t5|1|240' "$out/locked/range.log" \
  || { cat "$out/locked/range.log"; fail "sample $late_start is not bar 5 plus a 1/32 note"; }
export_song "$out/locked/song" "$out/late.wav"
"$python" "$here/song_lock_check.py" late --full "$out/full-1.wav" --late "$out/late.wav" \
  --start "$late_start" --cycle-seconds "$cycle_seconds" --max-offset-ms "$max_offset_ms" \
  || fail "the late export's envelope does not lie on the full one's"

if [ "${MORVANE_DAW_FREE:-0}" = 1 ]; then
  echo "== the same with the LFO in Free at the same period (measured, not held to a bound)"
  session free "Amplitude LFO sync=0" "Amplitude LFO rate=3.3333333"
  expect "$out/free/song-configure.log" "Amplitude LFO sync" 0
  export_song "$out/free/song" "$out/free-full.wav"
  lua "$out/free/range.log" range "$out/free/song" song "$late_start" "$frames"
  export_song "$out/free/song" "$out/free-late.wav"
  "$python" "$here/song_lock_check.py" late --full "$out/free-full.wav" --late "$out/free-late.wav" \
    --start "$late_start" --cycle-seconds "$cycle_seconds" --report-only || fail "measuring Free"
fi
echo "PASS: with the LFO in Tempo, two exports are bit-identical and an export from bar 5 + 1/32" \
     "lies on the full one within $max_offset_ms ms, in $(( $(date +%s) - started )) s"
