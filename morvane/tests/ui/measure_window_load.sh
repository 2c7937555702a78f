#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# What the plug-in's window costs its host, measured rather than tested
# (not run by CI): jalv.gtk3 on a private Xvfb display, the plug-in on a
# JACK server with the dummy backend, the speech recording of alsa-utils
# playing into it in a loop through the vibrato-cloud preset. Prints the
# CPU share of jalv's GUI thread (its main thread, which calls the window's
# idle) and of the X server over SECONDS, and with MORVANE_XTRACE=1 the
# bytes a second the host process sends the X server (through xtrace, a
# proxy display; the Debian package xtrace).
#
#   measure_window_load.sh LV2_PATH window|generic [SECONDS]
#
# "generic" shows jalv's own controls instead of the plug-in's window: the
# baseline the window's cost is taken above.
set -euo pipefail
lv2_path=${1:?LV2 path holding morvane.lv2}
mode=${2:?window or generic}
seconds=${3:-20}
recording=${MORVANE_RECORDING:-/usr/share/sounds/alsa/Front_Center.wav}
python=/usr/bin/python3
out=$(mktemp -d)

source "$(dirname "$0")/../../../scripts/stop-processes.sh"
pids=()
cleanup() {
  stop_processes
  [ -n "${MORVANE_KEEP_LOG:-}" ] && cp "$out"/jalv.log "$MORVANE_KEEP_LOG"
  [ -n "${MORVANE_KEEP_TRACE:-}" ] && cp "$out"/xtrace.log "$MORVANE_KEEP_TRACE"
  rm -rf "$out"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset 3>"$out/display" 2>"$out/xvfb.log" &
xvfb_pid=$!
pids+=($xvfb_pid)
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
[ -s "$out/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$out/display")"
host_display=$DISPLAY
if [ "${MORVANE_XTRACE:-0}" = 1 ]; then
  fake=":$(( 200 + $$ % 300 ))"
  xtrace -d "$DISPLAY" -D "$fake" -n -k -m 0 -o "$out/xtrace.log" >/dev/null 2>&1 &
  pids+=($!)
  sleep 0.5
  host_display=$fake
fi

export JACK_DEFAULT_SERVER="morvane-load-$$" JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
jackd --no-realtime -d dummy -r 48000 -p 256 >"$out/jackd.log" 2>&1 &
pids+=($!)
jack_wait -w -t 10 >/dev/null 2>&1 || { echo "jackd did not start" >&2; exit 1; }

# A JACK client of a few lines plays the recording and 0.3 s of silence in
# a loop.
cat >"$out/play.py" <<'PY'
import ctypes as C, signal, sys
import numpy as np
import soundfile as sf
jack = C.CDLL("libjack.so.0")
jack.jack_client_open.restype = C.c_void_p
jack.jack_port_register.restype = C.c_void_p
jack.jack_port_register.argtypes = [C.c_void_p, C.c_char_p, C.c_char_p, C.c_ulong, C.c_ulong]
jack.jack_port_get_buffer.restype = C.c_void_p
jack.jack_port_get_buffer.argtypes = [C.c_void_p, C.c_uint32]
jack.jack_get_sample_rate.argtypes = [C.c_void_p]
PROCESS = C.CFUNCTYPE(C.c_int, C.c_uint32, C.c_void_p)
jack.jack_set_process_callback.argtypes = [C.c_void_p, PROCESS, C.c_void_p]
jack.jack_activate.argtypes = [C.c_void_p]
status = C.c_int(0)
client = jack.jack_client_open(b"player", 1, C.byref(status))
port = jack.jack_port_register(client, b"out", b"32 bit float mono audio", 2, 0)
rate = jack.jack_get_sample_rate(client)
x, file_rate = sf.read(sys.argv[1], dtype="float32", always_2d=True)
x = x[:, 0]
t = np.arange(int(len(x) * rate / file_rate)) / rate
x = np.interp(t, np.arange(len(x)) / file_rate, x).astype(np.float32)
loop = np.concatenate([x, np.zeros(int(0.3 * rate), np.float32)])
pos = 0
@PROCESS
def process(n, arg):
    global pos
    out = np.ctypeslib.as_array((C.c_float * n).from_address(jack.jack_port_get_buffer(port, n)))
    out[:] = loop[(pos + np.arange(n)) % len(loop)]
    pos = (pos + n) % len(loop)
    return 0
jack.jack_set_process_callback(client, process, None)
jack.jack_activate(client)
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
signal.pause()
PY
"$python" "$out/play.py" "$recording" >"$out/play.log" 2>&1 &
pids+=($!)

args=()
[ "$mode" = generic ] && args=(-g)
LV2_PATH=$lv2_path DISPLAY=$host_display jalv.gtk3 "${args[@]}" -p http://morvane.example.org/presets#vibrato-cloud \
  -c lfo_shake_amp_amount=60 -c lfo_shake_freq_amount=50 -c lfo_shake_time_amount=40 \
  http://morvane.example.org/plugins/morvane </dev/null >"$out/jalv.log" 2>&1 &
jalv_pid=$!
pids+=($jalv_pid)
input=""
for _ in $(seq 150); do
  input=$(jack_lsp 2>/dev/null | grep ':input_l$' | head -n1 || true)
  [ -n "$input" ] && jack_lsp 2>/dev/null | grep -q '^player:out$' && break
  sleep 0.1
done
[ -n "$input" ] || { cat "$out/jalv.log" "$out/play.log" >&2; echo "no plug-in in JACK" >&2; exit 1; }
[ "${MORVANE_SILENT:-0}" = 1 ] || jack_connect player:out "$input"
# Settled: the window open and drawn, the first frames in.
sleep 3

ticks() { awk '{ print $14 + $15 }' "$1"; }
hz=$(getconf CLK_TCK)
gui0=$(ticks /proc/$jalv_pid/task/$jalv_pid/stat)
x0=$(ticks /proc/$xvfb_pid/stat)
bytes0=0
[ -f "$out/xtrace.log" ] && bytes0=$(wc -c <"$out/xtrace.log")
start=$(date +%s%N)
sleep "$seconds"
gui1=$(ticks /proc/$jalv_pid/task/$jalv_pid/stat)
x1=$(ticks /proc/$xvfb_pid/stat)
elapsed=$(( $(date +%s%N) - start ))
line=$(awk -v g=$((gui1 - gui0)) -v x=$((x1 - x0)) -v hz="$hz" -v ns="$elapsed" -v mode="$mode" \
  'BEGIN { s = ns / 1e9; printf "%s: GUI thread %.2f %%, X server %.2f %% of a core", mode, 100 * g / hz / s, 100 * x / hz / s }')
if [ "${MORVANE_XTRACE:-0}" = 1 ]; then
  kill "$jalv_pid" 2>/dev/null || true
  sleep 1
  # xtrace writes each request as "CONN:<:SEQ: LENGTH: Request(...)",
  # LENGTH in bytes; the requests of the measured seconds are those logged
  # after the log's size at the start. Pictures copied from shared memory
  # (MIT-SHM pixmaps, or images) do not pass the connection: their pixels
  # count as the server reads them, 4 bytes each.
  sent=$(tail -c +"$((bytes0 + 1))" "$out/xtrace.log" | awk -F: '
    $2 != "<" || $3 !~ /^[0-9a-f]+$/ || $5 !~ /Request/ { next }
    { n += $4 }
    / CopyArea |MIT-SHM-Request\(130,3\): PutImage / {
      w = h = 0
      for (i = 1; i <= split($0, f, " "); ++i) {
        if (f[i] ~ /^width=/) w = substr(f[i], 7)
        if (f[i] ~ /^height=/) h = substr(f[i], 8)
        if (f[i] ~ /^src-width=/) w = substr(f[i], 11)
        if (f[i] ~ /^src-height=/) h = substr(f[i], 12)
      }
      n += 4 * w * h
    }
    END { printf "%.0f", n }')
  line="$line, $(awk -v b="$sent" -v ns="$elapsed" 'BEGIN { printf "%.0f X bytes/s from the host", b / (ns / 1e9) }')"
fi
echo "$line"
