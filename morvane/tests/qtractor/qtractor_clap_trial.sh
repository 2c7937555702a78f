#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# morvane.clap in Qtractor, headless: Xvfb, a JACK server with the dummy
# backend, and Qtractor opening sessions this script writes (an audio track
# holding a short sawtooth clip, the plug-in on the track). For each run
# Qtractor plays the session, jack_rec records the master bus, SIGUSR1
# makes Qtractor save the session, and SIGTERM ends it. The runs:
#   A  mono plug-in, the settings in Qtractor's own parameter list only;
#   B  mono plug-in, the settings in the plug-in's state only (the
#      parameter list at the defaults): what a reopened project holds;
#   C  the stereo plug-in, the settings in its state.
# Run B also opens the plug-in's window in Qtractor and keeps a picture of
# it while playing.
# Each recording is compared (level, octave bands) with morvane-render's
# output of the same clip with the same settings and at the defaults, and
# with the dry clip; each saved session's plug-in state is decoded and
# compared with the settings. A trial, not a CI test: it prints what it
# found and exits 1 if a check fails.
#   qtractor_clap_trial.sh [OUT_DIR]   (run from anywhere; MORVANE_BUILD
#                                       names the build folder, default
#                                       build next to this tree)
# On a machine without /dev/snd/seq Qtractor's MIDI engine cannot start,
# and Qtractor then closes its audio engine too; seq_shim.c stands in for
# the sequencer (LD_PRELOAD).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=${MORVANE_BUILD:-$root/build}
out=${1:-/tmp/morvane-qtractor-trial}
clap=$build/clap/morvane.clap
render=$build/tools/morvane-render
py=/usr/bin/python3
for tool in qtractor jackd jack_rec jack_lsp jack_wait Xvfb xdotool xwd xwininfo convert sox cc; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed"; exit 77; }
done
if [ ! -f "$clap" ] || [ ! -x "$render" ]; then echo "SKIP: no $clap or $render"; exit 77; fi

rm -rf "$out"
mkdir -p "$out/home/.config/rncbc.org" "$out/run"
chmod 700 "$out/run"
export HOME=$out/home XDG_RUNTIME_DIR=$out/run
export JACK_DEFAULT_SERVER="morvane-qtractor-$$"
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
# A copy of the plug-in, so that a rebuild meanwhile cannot pull it from
# under a running host.
mkdir -p "$out/clap"
cp "$clap" "$out/clap/"
clap=$out/clap/morvane.clap
export CLAP_PATH=$out/clap MORVANE_CLAP_FILE=$clap
# shellcheck source=../../../scripts/stop-processes.sh
source "$root/scripts/stop-processes.sh"
pids=()
trap stop_processes EXIT
log() { echo "[$(date +%T)] $*"; }

cc -std=c11 -D_GNU_SOURCE -Wall -Wextra -Werror -O2 -shared -fPIC -o "$out/seq_shim.so" \
  "$here/seq_shim.c" -l:libasound.so.2

# Qtractor's options: messages into a log file rather than its window, no
# autosave.
cat >"$out/home/.config/rncbc.org/Qtractor.conf" <<EOF
[AutoSave]
Enabled=false
[Options]
Display\\StdoutCapture=false
Logging\\MessagesLog=true
Logging\\MessagesLogPath=$out/qtractor-messages.log
[Program]
Version=0.9.31
EOF

exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
pids+=("$!")
read -r -t 10 display <&3 || { echo "FAIL: Xvfb did not start"; exit 1; }
export DISPLAY=:$display
log "Xvfb on $DISPLAY, jackd $(jackd --version 2>/dev/null | head -1 | awk '{print $3}')," \
  "$(qtractor -v 2>/dev/null | head -1) ($(QT_QPA_PLATFORM=offscreen qtractor -v 2>&1 | grep '^Qt:'))"

# Qtractor's scanner (the program its plug-in dialog runs) reads
# "TYPE:FILE" lines and answers one line per plug-in found: type, name,
# audio ins:outs, MIDI ins:outs, parameters, flags (GUI when there is a
# window), file, index, id hash.
scanner=/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan
status=0
if [ -x "$scanner" ]; then
  (echo "CLAP:$clap"; sleep 3) | timeout 10 env QT_QPA_PLATFORM=offscreen "$scanner" >"$out/scan.txt" 2>&1 || true
  log "scan: $(grep -c '^CLAP|' "$out/scan.txt") plug-in(s)"
  sed 's/^/    /' "$out/scan.txt"
  [ "$(grep -c '^CLAP|morvane' "$out/scan.txt")" = 2 ] || { log "FAIL: the scan did not find both plug-ins"; status=1; }
fi

# The clip: 4 s of a 220 Hz sawtooth at -8 dB, and the references.
sox -n -r 48000 -c 1 -b 16 "$out/tone.wav" synth 4 sawtooth 220 gain -8 fade 0.01 4 0.05
settings=(gain=-12 lfo_shake_amp_freq=2 lfo_shake_amp_amount=80 lfo_shake_freq_amp=0.693 lfo_shake_freq_amount=100)
sets=()
for s in "${settings[@]}"; do sets+=(--set "$s"); done
"$render" "$out/tone.wav" "$out/ref_set.wav" "${sets[@]}" >/dev/null
"$render" "$out/tone.wav" "$out/ref_default.wav" >/dev/null
"$render" "$out/tone.wav" "$out/ref_stereo_set.wav" --stereo "${sets[@]}" >/dev/null

# Sessions: session.py NAME OUT.qtr PLUGIN_INDEX [--state] [PORT=VALUE ...]
# The values go into Qtractor's parameter list, or with --state into the
# plug-in's state, the list then holding those ports' defaults (its stream: "MRVN", version, count, then port index and
# float bits, little-endian; kept by Qtractor compressed as Qt's qCompress
# does, in base64).
cat >"$out/session.py" <<'PY'
import base64, os, struct, sys, zlib
name, path, index = sys.argv[1], sys.argv[2], int(sys.argv[3])
args = sys.argv[4:]
in_state = bool(args) and args[0] == "--state"
values = dict(a.split("=") for a in args[1:] if in_state) if in_state else dict(a.split("=") for a in args)
names = {"0": "Gain", "2": "Amplitude LFO rate", "3": "Amplitude LFO amount", "5": "Frequency LFO depth",
         "7": "Frequency LFO amount"}
params = configs = ""
if in_state:
    stream = b"MRVN" + struct.pack("<II", 1, len(values))
    stream += b"".join(struct.pack("<If", int(k), float(v)) for k, v in values.items())
    blob = base64.b64encode(struct.pack(">I", len(stream)) + zlib.compress(stream)).decode()
    configs = f'<configs><config key="state">{blob}</config></configs>'
    # Qtractor's own list says the defaults, so that it shows which one wins.
    defaults = {"0": 0, "2": 4, "3": 0, "5": 0.1, "7": 0}
    params = "\n".join(f'      <param name="{names[r]}" index="{r}">{v}</param>' for r, v in defaults.items())
else:
    params = "\n".join(f'      <param name="{names[r]}" index="{r}">{v}</param>' for r, v in values.items())
directory = path.rsplit("/", 1)[0]
names = {"0": "Gain", "2": "Amplitude LFO rate", "3": "Amplitude LFO amount", "5": "Frequency LFO depth",
         "7": "Frequency LFO amount"}
params = "\n".join(f'      <param name="{names[r]}" index="{r}">{v}</param>' for r, v in values.items())
open(path, "w").write(f"""<!DOCTYPE qtractorSession>
<session name="{name}" version="Qtractor 0.9.31">
 <properties>
  <directory>{directory}</directory>
  <sample-rate>48000</sample-rate>
  <tempo>120</tempo>
  <ticks-per-beat>960</ticks-per-beat>
  <beats-per-bar>4</beats-per-bar>
  <beat-divisor>2</beat-divisor>
 </properties>
 <files>
  <audio-list>
   <file name="tone.wav">tone.wav</file>
  </audio-list>
 </files>
 <devices>
  <audio-engine>
   <audio-bus name="Master" mode="duplex">
    <channels>2</channels>
    <auto-connect>0</auto-connect>
   </audio-bus>
  </audio-engine>
 </devices>
 <tracks>
  <track name="fx" type="audio">
   <properties>
    <input-bus>Master</input-bus>
    <output-bus>Master</output-bus>
   </properties>
   <clips>
    <clip name="tone">
     <properties>
      <start>0</start>
      <offset>0</offset>
      <length>192000</length>
     </properties>
     <audio-clip>
      <filename>tone.wav</filename>
     </audio-clip>
    </clip>
   </clips>
   <plugins>
    <plugin type="CLAP">
     <filename>{os.environ["MORVANE_CLAP_FILE"]}</filename>
     <index>{index}</index>
     <activated>1</activated>
     {configs}
     <params>
{params}
     </params>
    </plugin>
   </plugins>
  </track>
 </tracks>
</session>
""")
PY

# One run: open SESSION, wait for the master bus, record 6 s while playing
# from the start, save (SIGUSR1) and quit (SIGTERM).
host_pid=
stop_host() {
  kill -TERM "$host_pid" 2>/dev/null || return 0
  for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$host_pid" 2>/dev/null && { log "qtractor ignored SIGTERM"; kill -9 "$host_pid"; }
  wait "$host_pid" 2>/dev/null || true
}
# Each run has a JACK server of its own: the JACK transport, which Qtractor
# follows, would otherwise start where the previous run stopped.
run_host() {
  local tag=$1 jack_pid
  jackd --no-realtime -d dummy -r 48000 -p 256 >"$out/jackd_$tag.log" 2>&1 &
  jack_pid=$!
  pids+=("$jack_pid")
  jack_wait -w -t 10 >/dev/null 2>&1 || { log "$tag: jackd did not start"; return 1; }
  play_and_save "$@" || { stop_host; kill "$jack_pid"; wait "$jack_pid" || true; return 1; }
  stop_host
  kill "$jack_pid"
  wait "$jack_pid" || true
  cp "$out/qtractor-messages.log" "$out/messages_$tag.log"
  log "$tag: $(grep -c XRUN "$out/messages_$tag.log" || true) xrun message(s)"
}
play_and_save() {
  local tag=$1 session=$2 t0 t1
  : >"$out/qtractor-messages.log"
  t0=$(date +%s.%N)
  LD_PRELOAD=$out/seq_shim.so qtractor "$session" >"$out/qtractor-$tag.log" 2>&1 &
  host_pid=$!
  pids+=("$host_pid")
  for _ in $(seq 300); do
    jack_lsp 2>/dev/null | grep -q '^Qtractor:Master/out_2$' && grep -q 'Open session' "$out/qtractor-messages.log" && break
    kill -0 "$host_pid" 2>/dev/null || { log "$tag: qtractor exited early"; return 1; }
    sleep 0.1
  done
  t1=$(date +%s.%N)
  jack_lsp | grep -q '^Qtractor:Master/out_2$' || { log "$tag: no master bus after 30 s"; return 1; }
  log "$tag: session open, master bus up after $(awk "BEGIN {printf \"%.1f\", $t1 - $t0}") s"
  sleep 1
  # The transport's Play button, on Qtractor's main window (its widest
  # one), 240 px right and 77 px below the window's corner. (Qtractor does
  # not follow the JACK transport's start with the session's default
  # transport mode, nor does a key reach it without a window manager.)
  local win x y w best=0
  for win in $(xdotool search --class qtractor); do
    read -r w < <(xdotool getwindowgeometry "$win" | awk '/Geometry/ {split($2, g, "x"); print g[1]}')
    if [ "${w:-0}" -gt "$best" ]; then
      best=$w
      read -r x y < <(xdotool getwindowgeometry "$win" | awk '/Position/ {split($2, p, ","); print p[1], p[2]}')
    fi
  done
  [ "$best" -gt 0 ] || { log "$tag: no Qtractor window"; return 1; }
  # Run B opens the plug-in's window first: a double click on the plug-in
  # in the track's list, 180 px right and 179 px below the corner.
  if [ "$tag" = B ]; then
    xdotool mousemove $((x + 180)) $((y + 179)) click --repeat 2 --delay 80 1
    sleep 2
  fi
  timeout -k 5 30 jack_rec -f "$out/rec_$tag.wav" -d 6 -b 32 Qtractor:Master/out_1 Qtractor:Master/out_2 \
    >"$out/jack_rec_$tag.log" 2>&1 &
  local rec=$!
  sleep 0.3
  xdotool mousemove $((x + 240)) $((y + 77)) click 1
  sleep 1
  xwd -root -silent | convert xwd:- "$out/playing_$tag.png"
  if [ "$tag" = B ]; then
    # The plug-in's own window is the child of Qtractor's editor window
    # (captured by itself: the root's picture shows it black).
    local editor='' child='' win
    for win in $(xdotool search --class qtractor); do
      case $(xdotool getwindowname "$win") in morvane*) editor=$win ;; esac
    done
    [ -n "$editor" ] && child=$(timeout 10 xwininfo -children -id "$editor" | awk '$1 ~ /^0x/ {print $1; exit}')
    if [ -n "$child" ]; then
      timeout 10 xwd -id "$child" -silent | convert xwd:- "$out/window_$tag.png"
      log "$tag: plug-in window $(xwininfo -id "$child" | awk '/Width|Height/ {printf "%s ", $2}')px," \
        "pixel spread $(convert "$out/window_$tag.png" -format '%[fx:standard_deviation]' info:)"
    else
      log "$tag: FAIL no plug-in window in Qtractor's editor"; return 1
    fi
  fi
  wait "$rec" || { log "$tag: jack_rec failed"; return 1; }
  local before
  before=$(stat -c %Y "$session")
  sleep 1.1
  kill -USR1 "$host_pid"
  for _ in $(seq 100); do [ "$(stat -c %Y "$session")" != "$before" ] && break; sleep 0.1; done
  cp "$session" "$out/saved_$tag.qtr"
}

# The settings above by port index (Qtractor's parameter list indexes
# its rows, which for these ports are the port indices too).
ports=("0=-12" "2=2" "3=80" "5=0.693" "7=100")

for tag in A B C; do mkdir -p "$out/$tag"; cp "$out/tone.wav" "$out/$tag/"; done
"$py" "$out/session.py" A "$out/A/a.qtr" 0 "${ports[@]}"
"$py" "$out/session.py" B "$out/B/b.qtr" 0 --state "${ports[@]}"
"$py" "$out/session.py" C "$out/C/c.qtr" 1 --state "${ports[@]}"
for tag in A B C; do
  cp "$out/$tag/${tag,,}.qtr" "$out/opened_$tag.qtr"
  run_host "$tag" "$out/$tag/${tag,,}.qtr" || status=1
done

"$py" - "$out" "${settings[@]}" <<'PY' || status=1
import base64, re, struct, sys, zlib
import numpy as np
import soundfile as sf
out, settings = sys.argv[1], dict(s.split("=") for s in sys.argv[2:])
ports = {"gain": 0, "lfo_shake_amp_freq": 2, "lfo_shake_amp_amount": 3,
         "lfo_shake_freq_amp": 5, "lfo_shake_freq_amount": 7}
ok = True

def check(cond, what):
    global ok
    print(("  ok   " if cond else "  FAIL ") + what)
    ok &= bool(cond)

def signal(path):
    x, rate = sf.read(path, dtype="float64", always_2d=True)
    assert rate == 48000
    return x

def played(x):
    # From the first sample above -60 dB to 4 s later (the clip's length).
    lead = np.nonzero(np.max(np.abs(x), axis=1) > 1e-3)[0]
    if len(lead) == 0:
        return x[:0]
    return x[lead[0]: lead[0] + 4 * 48000]

def level(x):
    return 10 * np.log10(np.mean(x[:, 0] ** 2) + 1e-20)

def bands(x):
    # Energy in octave bands from 55 Hz to 14 kHz, in dB, over the left channel.
    power = np.abs(np.fft.rfft(x[:, 0] * np.hanning(len(x)))) ** 2
    freqs = np.fft.rfftfreq(len(x), 1 / 48000)
    edges = 55 * 2.0 ** np.arange(9)
    return np.array([10 * np.log10(power[(freqs >= a) & (freqs < b)].sum() + 1e-20)
                     for a, b in zip(edges[:-1], edges[1:])])

def distance(a, b):
    d = bands(a) - bands(b)
    return float(np.sqrt(np.mean((d - d.mean()) ** 2)))   # shape only, level apart

def state(path):
    text = open(path).read()
    m = re.search(r'<config key="state">(.*?)</config>', text, re.S)
    if m is None:
        return None
    raw = base64.b64decode("".join(m.group(1).split()))
    data = zlib.decompress(raw[4:])          # Qt's qCompress: length, then zlib
    assert data[:4] == b"MRVN", data[:4]
    n = struct.unpack("<I", data[8:12])[0]
    return {pid: val for pid, val in (struct.unpack("<If", data[12 + 8 * i: 20 + 8 * i]) for i in range(n))}

def params(path):
    text = open(path).read()
    # Qtractor writes the two attributes in either order.
    return {int(re.search(r'index="(\d+)"', a).group(1)): float(v)
            for a, v in re.findall(r'<param ([^>]*)>([^<]*)</param>', text)}

dry = played(signal(f"{out}/tone.wav"))
ref_set, ref_default = played(signal(f"{out}/ref_set.wav")), played(signal(f"{out}/ref_default.wav"))
ref_stereo = played(signal(f"{out}/ref_stereo_set.wav"))
print(f"references: dry {level(dry):.1f} dB, render with the settings {level(ref_set):.1f} dB,"
      f" at the defaults {level(ref_default):.1f} dB (level of the left channel, 4 s)")
for tag, ref in (("A", ref_set), ("B", ref_set), ("C", ref_stereo)):
    print(f"run {tag}:")
    try:
        rec = signal(f"{out}/rec_{tag}.wav")
    except Exception as e:
        check(False, f"recording: {e}")
        continue
    x = played(rec)
    check(len(x) >= 3 * 48000, f"recording has {len(x) / 48000:.2f} s of signal")
    if len(x) < 48000:
        continue
    check(np.all(np.isfinite(x)), "finite")
    lv = level(x)
    if tag == "A":
        # Qtractor's parameter list alone: what Qtractor does with it is reported, not judged.
        near = "settings" if abs(lv - level(ref)) < abs(lv - level(ref_default)) else "defaults"
        print(f"  note level {lv:.1f} dB: the plug-in played at the {near}")
        st = state(f"{out}/saved_A.qtr")
        print("  note saved state: " + ", ".join(f"{ports[k]}={st.get(ports[k]):g}" for k in settings) if st else "  note no state saved")
        continue
    print(f"       level {lv:.1f} dB; band shape distance to: render with the settings"
          f" {distance(x, ref):.2f} dB, at the defaults {distance(x, ref_default):.2f} dB,"
          f" dry {distance(x, dry):.2f} dB")
    check(abs(lv - level(ref)) < 2.0, f"level within 2 dB of the render with the settings ({level(ref):.1f} dB)")
    check(abs(lv - level(ref_default)) > 6.0, "level not the defaults' one")
    check(distance(x, ref) < distance(x, dry), "band shape nearer the effect's than the dry clip's")
    if tag == "C":
        check(np.sqrt(np.mean(x[:, 1] ** 2)) > 1e-3, "right channel carries signal")
    st = state(f"{out}/saved_{tag}.qtr")
    check(st is not None, "saved session holds the plug-in's state")
    if st is not None:
        bad = {k: (st.get(ports[k]), float(v)) for k, v in settings.items()
               if st.get(ports[k]) is None or abs(st[ports[k]] - float(v)) > 1e-3 * max(1.0, abs(float(v)))}
        check(not bad, f"state holds the settings ({len(st)} controls)" + (f", wrong: {bad}" if bad else ""))
    if tag != "A":
        saved = params(f"{out}/saved_{tag}.qtr")
        check(all(abs(saved.get(ports[k], 1e9) - float(v)) < 1e-3 * max(1.0, abs(float(v))) for k, v in settings.items()),
              "parameter list saved after reopening shows the state's values: "
              + ", ".join(f"{ports[k]}={saved.get(ports[k])}" for k in settings))
sys.exit(0 if ok else 1)
PY
[ "$status" = 0 ] && echo "PASS: morvane.clap in Qtractor" || echo "FAIL: see above and $out"
exit "$status"
