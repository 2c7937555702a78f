#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs what morvane ships on an emulated processor (qemu-x86_64 -cpu CPU).
#
#   run_on_cpu.sh below CPU   CPU lacks the build's level: the renderer says so
#                             in one line and exits 1, --help and --version still
#                             work, and every creating entry point of each
#                             library returns NULL; nothing dies on a signal.
#   run_on_cpu.sh at CPU      CPU has the level but not AVX-512: every library
#                             creates its objects, and the renderer's output
#                             samples equal the native run's, bit for bit, on a
#                             short tone and a shaken chirp.
#
# Environment: RENDER (morvane-render), PROBE (create_everything), LIBS
# (the shared objects, one dlopen each), PYTHON, WORK (scratch folder).
# Without qemu-x86_64 the test is skipped (77), unless MORVANE_REQUIRE_QEMU=1.
set -uo pipefail
mode=$1 cpu=$2
: "${RENDER:?}" "${PROBE:?}" "${LIBS:?}" "${PYTHON:=/usr/bin/python3}" "${WORK:?}"

if ! command -v qemu-x86_64 >/dev/null; then
  if [ "${MORVANE_REQUIRE_QEMU:-0}" = 1 ]; then
    echo "FAIL: qemu-x86_64 (package qemu-user) is not installed"
    exit 1
  fi
  echo "skipped: qemu-x86_64 (package qemu-user) is not installed"
  exit 77
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mkdir -p "$WORK"
errfile="$WORK/stderr-$mode"

# Runs "$@" under the emulated processor; stdout to $WORK/out, stderr without
# qemu's own warnings (about features it does not emulate) to $errfile.
# Returns the exit status; 128+N means the program died on signal N.
emulate() {
  qemu-x86_64 -cpu "$cpu" "$@" >"$WORK/out" 2>"$errfile.raw"
  local status=$?
  grep -v '^qemu-x86_64: warning:' "$errfile.raw" >"$errfile"
  return $status
}

# Expects exit status $1 from the command that follows.
expect_status() {
  local want=$1; shift
  emulate "$@"
  local got=$?
  if [ $got -ge 128 ]; then
    fail "$* died on signal $((got - 128)) under -cpu $cpu"
    sed 's/^/    /' "$errfile"
  elif [ $got -ne "$want" ]; then
    fail "$* exited with $got, not $want, under -cpu $cpu"
    sed 's/^/    /' "$errfile" "$WORK/out"
  fi
  return 0
}

case $mode in
  below)
    sox -q -n -r 48000 -c 1 -b 32 -e float "$WORK/tone.wav" synth 0.1 sine 440
    expect_status 1 "$RENDER" "$WORK/tone.wav" "$WORK/never.wav"
    line="morvane-render: this processor lacks AVX2, FMA and the other x86-64-v3 instructions that morvane needs"
    if [ "$(cat "$errfile")" != "$line" ]; then
      fail "the renderer's message is not the one line expected:"
      sed 's/^/    /' "$errfile"
    fi
    [ -e "$WORK/never.wav" ] && fail "the renderer left an output file"
    expect_status 0 "$RENDER" --help
    grep -q '^usage: morvane-render' "$WORK/out" || fail "--help printed no usage"
    expect_status 0 "$RENDER" --version
    grep -Eq '^morvane-render [0-9]+\.[0-9]+\.[0-9]+$' <(head -1 "$WORK/out") ||
      fail "--version printed no name and version"
    for lib in $LIBS; do
      expect_status 0 "$PROBE" "$lib" null
      sed "s|^|    $(basename "$lib"): |" "$WORK/out"
    done
    ;;
  at)
    for lib in $LIBS; do
      expect_status 0 "$PROBE" "$lib" created
      sed "s|^|    $(basename "$lib"): |" "$WORK/out"
    done
    sox -q -n -r 48000 -c 1 -b 32 -e float "$WORK/tone.wav" synth 0.25 sine 440 vol 0.5
    sox -q -n -r 48000 -c 1 -b 32 -e float "$WORK/chirp.wav" synth 0.5 sine 60:12000 vol 0.5
    for case in "tone.wav" "chirp.wav --preset octave-wobble"; do
      set -- $case
      name=${1%.wav}; shift
      "$RENDER" "$WORK/$name.wav" "$WORK/$name-native.wav" --quiet "$@" ||
        fail "the native render of $name failed"
      expect_status 0 "$RENDER" "$WORK/$name.wav" "$WORK/$name-emulated.wav" --quiet "$@"
      "$PYTHON" - "$WORK/$name-native.wav" "$WORK/$name-emulated.wav" <<'PY' || fail "$name differs"
import sys
import numpy as np
import soundfile as sf
a, _ = sf.read(sys.argv[1], dtype="float32")
b, _ = sf.read(sys.argv[2], dtype="float32")
rms = float(np.sqrt(np.mean(a.astype(np.float64) ** 2)))
if a.shape != b.shape:
    sys.exit(f"    lengths differ: {a.shape} and {b.shape}")
if rms < 1e-3:
    sys.exit(f"    the native render is silent (RMS {rms})")
differ = int(np.count_nonzero(a.view(np.uint32) != b.view(np.uint32)))
print(f"    {sys.argv[1]}: {a.shape[0]} samples, RMS {rms:.4f}, {differ} differ")
sys.exit(1 if differ else 0)
PY
    done
    ;;
  *)
    echo "usage: run_on_cpu.sh below|at CPU" >&2
    exit 2
    ;;
esac

[ $failures -eq 0 ] && echo "passed under -cpu $cpu" || echo "$failures failure(s) under -cpu $cpu"
[ $failures -eq 0 ]
