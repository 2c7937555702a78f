# SPDX-License-Identifier: LGPL-2.1-or-later
# shellcheck shell=bash
# What the Ardour tests share, sourced by each (ardour_daw_test.sh,
# ardour_song_lock_test.sh, ardour_stereo_test.sh):
#   ardour_require TOOL...   skips (exit 77) unless ardour7-lua and
#                            ardour7-export are installed (a failure with
#                            MORVANE_REQUIRE_DAW=1); fails when another
#                            TOOL named is missing
#   ardour_private_home      HOME and the XDG folders in a fresh temporary
#                            folder, removed on exit: Ardour writes its
#                            configuration, caches and plug-in scan there
#   run SECONDS LOG CMD...   one phase, its output kept in LOG and shown on
#                            failure; a phase that outlives SECONDS fails
#   ardour_lua SCRIPT LOG PHASE ARGS...
#                            one ardour7-lua phase of SCRIPT, which must
#                            print its closing "done" line
#   ardour_export SESSION_DIR NAME WAV [SECONDS]
#                            the session range through the master bus into
#                            a 32-bit float WAV, up to five attempts
#   skip MESSAGE, fail MESSAGE
# Each ardour7-lua phase is a process of its own: one process is not safe
# with more than one session. Ardour's export code itself now and then
# aborts (heap corruption as it frees its export channels' ring buffers) or
# hangs: 8 of 40 attempts over 32 runs with the plug-in, 3 of 6 on the same
# session without it. So a failed export is tried again, up to five times,
# each retry announced.

fail() { echo "FAIL: $*"; exit 1; }

skip() {
  if [ "${MORVANE_REQUIRE_DAW:-0}" = 1 ]; then
    echo "FAIL: $* (MORVANE_REQUIRE_DAW=1)"
    exit 1
  fi
  echo "skipped: $*"
  exit 77
}

ardour_require() {
  local tool
  for tool in ardour7-lua ardour7-export; do
    command -v "$tool" >/dev/null || skip "Ardour 7 ($tool) is not installed"
  done
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
  done
}

ardour_private_home() {
  ardour_home=$(mktemp -d "${TMPDIR:-/tmp}/morvane-daw-home.XXXXXX")
  trap 'rm -rf "$ardour_home"' EXIT
  export HOME=$ardour_home
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
  export XDG_CACHE_HOME=$HOME/.cache XDG_STATE_HOME=$HOME/.local/state
  export XDG_RUNTIME_DIR=$HOME/run
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
  mkdir -p "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
}

# A phase takes a few seconds; the export now and then hangs in Ardour's
# own code instead of crashing, which the time limit turns into a failed
# attempt.
run() {
  local seconds=$1 log=$2
  shift 2
  if ! timeout -k 10 "$seconds" "$@" >"$log" 2>&1; then
    cat "$log"
    return 1
  fi
}

ardour_lua() {
  local script=$1 log=$2 phase=$3
  shift 3
  run 120 "$log" ardour7-lua "$script" "$phase" "$@" || fail "the $phase phase"
  grep -qx $'morvane-daw\tdone\t'"$phase" "$log" || { cat "$log"; fail "the $phase phase did not finish"; }
}

ardour_export() {
  local session=$1 name=$2 wav=$3 seconds=${4:-60} attempt
  for attempt in 1 2 3 4 5; do
    rm -f "$wav"
    if run "$seconds" "${wav%.wav}-$attempt.log" ardour7-export -b float -o "$wav" "$session" "$name" \
       && [ -s "$wav" ]; then
      [ "$attempt" = 1 ] || echo "export succeeded at attempt $attempt"
      return 0
    fi
    echo "export attempt $attempt of 5 failed (Ardour's export crashed, hung or wrote nothing)"
    if [ "$attempt" -lt 5 ]; then echo "retrying the export"; fi
  done
  fail "five export attempts failed for $wav"
}
