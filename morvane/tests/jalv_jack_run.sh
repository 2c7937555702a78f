#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The plug-in in a real real-time host: jalv on a JACK server with the dummy
# backend (48 kHz, 256-frame periods, no real-time privileges needed). A
# metronome feeds the plug-in's left input, jack_rec records both outputs
# for a few seconds, and the recording must be finite and carry signal on
# both channels. (On a loaded machine the dummy backend may report xruns,
# in which a period can be recorded before the plug-in finished it, so the
# two channels are not compared sample by sample.) jalv quits when its standard input ends, so it
# reads from a FIFO this script holds open until the recording is done.
#   jalv_jack_run.sh OUT_DIR      (LV2_PATH, MORVANE_URI and PYTHON set)
# Exit 77 (skipped) when jackd, jalv or jack_rec is missing.
set -euo pipefail
out=${1:?output folder}
for tool in jackd jalv jack_rec jack_metro jack_connect jack_wait jack_lsp; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
rm -rf "$out"
mkdir -p "$out"
# A server name of our own, so parallel runs and a user's server don't meet.
export JACK_DEFAULT_SERVER="morvane-test-$$-$RANDOM"
export JACK_NO_AUDIO_RESERVATION=1
export JACK_NO_START_SERVER=1
# shellcheck source=scripts/stop-processes.sh
source "$(dirname "$0")/../../scripts/stop-processes.sh"
pids=()
cleanup() {
  exec 7>&- || true
  # Clients first, the server last; each is given 3 s to go.
  stop_processes
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$out"/*.log; do echo "--- $f"; tail -20 "$f"; done; exit 1; }

jackd --no-realtime -d dummy -r 48000 -p 256 >"$out/jackd.log" 2>&1 &
pids+=($!)
jack_wait -w -t 10 >/dev/null || fail "jackd did not start"

jack_metro -b 300 -f 440 -A 0.5 -D 120 -n src >"$out/metro.log" 2>&1 &
pids+=($!)

mkfifo "$out/stdin"
jalv -n fx \
  -c lfo_shake_amp_amount=60 -c lfo_shake_freq_amount=40 -c lfo_shake_time_amount=50 \
  "$MORVANE_URI" <"$out/stdin" >"$out/jalv.log" 2>&1 &
jalv_pid=$!
pids+=($jalv_pid)
exec 7>"$out/stdin"   # jalv's standard input stays open while fd 7 does

# Wait for both clients' ports.
for _ in $(seq 100); do
  ports=$(jack_lsp 2>/dev/null || true)
  if grep -q '^fx:output_r$' <<<"$ports" && grep -q '^src:' <<<"$ports"; then break; fi
  kill -0 "$jalv_pid" 2>/dev/null || fail "jalv exited early"
  sleep 0.1
done
src=$(jack_lsp | grep '^src:' | head -1)
[ -n "$src" ] || fail "no metronome port"
grep -q '^fx:output_r$' <<<"$(jack_lsp)" || fail "jalv has no output ports"
jack_connect "$src" fx:input_l || fail "cannot connect $src to fx:input_l"

timeout -k 5 30 jack_rec -f "$out/out.wav" -d 4 -b 32 fx:output_l fx:output_r \
  >"$out/jack_rec.log" 2>&1 || fail "jack_rec failed"

# Closing the FIFO ends jalv's input: it must quit by itself.
exec 7>&-
for _ in $(seq 50); do kill -0 "$jalv_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$jalv_pid" 2>/dev/null && fail "jalv did not quit at the end of its input"

"${PYTHON:-python3}" - "$out/out.wav" <<'PY' || fail "the recording is wrong"
import sys
import numpy as np
import soundfile as sf
x, rate = sf.read(sys.argv[1], dtype="float32", always_2d=True)
print(f"recording: {x.shape[0]} frames at {rate} Hz, {x.shape[1]} channels")
assert rate == 48000, rate
assert x.shape[1] == 2 and x.shape[0] >= 3 * rate, x.shape
assert np.all(np.isfinite(x)), "non-finite samples"
level = float(np.sqrt(np.mean(x[rate:, 0].astype(np.float64) ** 2)))
print(f"rms after the first second: {level:.4f}, peak {float(np.max(np.abs(x))):.3f}")
assert level > 1e-3, "no signal"
assert np.max(np.abs(x)) < 10.0, "implausibly loud"
right = float(np.sqrt(np.mean(x[rate:, 1].astype(np.float64) ** 2)))
assert right > 1e-3, "no signal on the right output"
PY
echo "PASS: jalv on jackd, recording finite with signal"
