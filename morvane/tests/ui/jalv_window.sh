#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The plug-in's window in a real host: jalv.gtk3 or jalv.qt5 (suil embeds
# the X11 window in GTK 3 or Qt 5) on a private Xvfb display, the plug-in
# running on a JACK server with the dummy backend and a metronome's tone
# on its left input. It requires that
#   - the host shows the plug-in's own window (an X window named "morvane"
#     inside the host's, viewable and about 900x540: a host that fell back
#     to generic controls, or a window cut to a corner, fails),
#   - the window is not blank (many distinct colours in a screenshot),
#   - two screenshots 0.7 s apart differ while the tone plays (the frames
#     reach the window and it redraws; pairs are taken for up to 10 s),
#   - the host is still running then, and quits on SIGTERM without crashing.
# In jalv.gtk3 the shake amounts are up (jalv.qt5 takes no options).
#   jalv_window.sh HOST OUT_DIR        (LV2_PATH and MORVANE_URI set)
# The screenshots stay in OUT_DIR. Exit 77 (skipped) when a program is
# missing, unless MORVANE_REQUIRE_UI=1, when that is a failure.
set -euo pipefail
host=${1:?host program (jalv.gtk3 or jalv.qt5)}
out=${2:?output folder}
uri=${MORVANE_URI:-http://morvane.example.org/plugins/morvane}

for tool in "$host" Xvfb xwininfo import identify compare jackd jack_wait jack_lsp jack_connect jack_metro; do
  if ! command -v "$tool" >/dev/null; then
    if [ "${MORVANE_REQUIRE_UI:-0}" = 1 ]; then
      echo "FAIL: $tool is not installed, and MORVANE_REQUIRE_UI=1 (scripts/install-deps installs it)"
      exit 1
    fi
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
rm -rf "$out"
mkdir -p "$out"

# shellcheck source=scripts/stop-processes.sh
source "$(dirname "$0")/../../../scripts/stop-processes.sh"
pids=()
cleanup() {
  # Last started first: the host, the tone, JACK, then the X server; each
  # is given 3 s to go.
  stop_processes
}
trap cleanup EXIT
fail() {
  echo "FAIL ($host): $*"
  for f in "$out"/*.log; do echo "--- $f"; tail -n 20 "$f"; done
  exit 1
}

# A display of our own; wide enough that Qt does not shrink the host's
# window below the plug-in's (it caps a new window at 2/3 of the screen).
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -noreset 3>"$out/display" 2>"$out/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$out/display" ] && break
  kill -0 "${pids[0]}" 2>/dev/null || break
  sleep 0.1
done
[ -s "$out/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$out/display")"

# A JACK server of our own, so parallel runs and a user's server don't meet.
export JACK_DEFAULT_SERVER="morvane-ui-$$-$RANDOM"
export JACK_NO_AUDIO_RESERVATION=1
export JACK_NO_START_SERVER=1
jackd --no-realtime -d dummy -r 48000 -p 256 >"$out/jackd.log" 2>&1 &
pids+=($!)
jack_wait -w -t 10 >/dev/null 2>&1 || fail "jackd did not start"

# A 330 Hz tone sounding 550 ms of every 600 ms.
jack_metro -b 100 -f 330 -A 0.5 -D 550 -n src >"$out/metro.log" 2>&1 &
pids+=($!)

# jalv.gtk3 takes options: the shake amounts up. jalv.qt5 takes the URI
# alone (the defaults: the LFOs run, their amounts are 0), and names its
# JACK client after the plug-in.
host_args=()
case $host in
  *gtk*) host_args=(-c lfo_shake_amp_amount=60 -c lfo_shake_freq_amount=40
                    -c lfo_shake_time_amount=50) ;;
esac
"$host" "${host_args[@]}" "$uri" </dev/null >"$out/host.log" 2>&1 &
host_pid=$!
pids+=($host_pid)

# The plug-in's input port, whatever the client's name (only it has one
# called input_l), and the metronome's output.
input=""
src=""
for _ in $(seq 150); do
  ports=$(jack_lsp 2>/dev/null || true)
  input=$(grep ':input_l$' <<<"$ports" | head -n1 || true)
  src=$(grep '^src:' <<<"$ports" | head -n1 || true)
  [ -n "$input" ] && [ -n "$src" ] && break
  kill -0 "$host_pid" 2>/dev/null || fail "$host exited early"
  sleep 0.1
done
[ -n "$src" ] || fail "no metronome port"
[ -n "$input" ] || fail "$host has no input port"
jack_connect "$src" "$input" || fail "cannot connect $src to $input"

# The plug-in's window: named "morvane", below the host's top-level (whose
# title may be the plug-in's name too), as xwininfo's tree shows it.
find_window() {
  xwininfo -root -tree 2>/dev/null | awk '
    # Indentation grows by 3 for each level; the root children are at 5.
    /^ +0x[0-9a-f]+ "morvane": / {
      match($0, /^ +/); depth = (RLENGTH - 5) / 3
      if (depth >= 1 && match($0, /[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+/)) {
        print $1, substr($0, RSTART, RLENGTH); exit
      }
    }'
}
window=""
for _ in $(seq 100); do
  window=$(find_window)
  [ -n "$window" ] && break
  kill -0 "$host_pid" 2>/dev/null || fail "$host exited before showing a window"
  sleep 0.2
done
xwininfo -root -tree >"$out/tree.txt" 2>&1 || true
[ -n "$window" ] || fail "$host shows no window of the plug-in (generic controls?); windows: $(cat "$out/tree.txt")"
id=${window%% *}
geometry=${window#* }
size=${geometry%%+*}
width=${size%x*}
height=${size#*x}
echo "$host: the plug-in's window $id is ${width}x${height}"
xwininfo -id "$id" >"$out/window.txt" 2>&1 || fail "the window $id went away"
grep -q 'Map State: IsViewable' "$out/window.txt" || fail "the window is not viewable: $(cat "$out/window.txt")"

# While the tone plays: pairs of screenshots 0.7 s apart until a pair
# differs, for up to 10 s (on a loaded machine the first frames may take a
# moment: the host starts its update timer, JACK may skip periods).
shot() { import -window "$id" "$1" 2>>"$out/import.log" || fail "cannot take a screenshot of $id"; }
start=$(date +%s%N)
changed=0
for _ in $(seq 14); do
  shot "$out/shot1.png"
  sleep 0.7
  shot "$out/shot2.png"
  # compare exits 1 when the pictures differ; the count goes to stderr.
  changed=$(compare -metric AE "$out/shot1.png" "$out/shot2.png" null: 2>&1 || true)
  changed=${changed%% *}
  [[ $changed =~ ^[0-9]+$ ]] || fail "compare failed: $changed"
  [ "$changed" -ge 100 ] && break
  kill -0 "$host_pid" 2>/dev/null || fail "$host crashed"
done
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
echo "$host: $changed pixels changed in 0.7 s (after $elapsed ms of screenshots)"
[ "$changed" -ge 100 ] || fail "the window does not move while a tone plays ($changed pixels changed)"
# Its size now, when the host had time to settle it.
xwininfo -id "$id" >"$out/window.txt" 2>&1 || fail "the window $id went away"
width=$(sed -n 's/^ *Width: //p' "$out/window.txt")
height=$(sed -n 's/^ *Height: //p' "$out/window.txt")
[ "$width" -ge 800 ] && [ "$height" -ge 480 ] ||
  fail "the window is ${width}x${height}, not about 900x540: the host shows a part of it"
colours=$(identify -format '%k' "$out/shot2.png")
echo "$host: $colours distinct colours"
[ "$colours" -ge 48 ] || fail "the window is blank: $colours distinct colours"

kill -0 "$host_pid" 2>/dev/null || fail "$host crashed"
kill -TERM "$host_pid"
status=0
for _ in $(seq 50); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$host_pid" 2>/dev/null && fail "$host did not quit on SIGTERM"
wait "$host_pid" || status=$?
# 0, or 143 where the host lets SIGTERM end it; a crash is any other death.
[ "$status" = 0 ] || [ "$status" = 143 ] || fail "$host ended with status $status on SIGTERM"
echo "PASS: $host shows the plug-in's window, drawn and moving with the tone"
