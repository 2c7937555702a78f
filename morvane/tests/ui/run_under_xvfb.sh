#!/bin/bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Runs a command on a private X server: Xvfb on a display number it picks
# itself (-displayfd), with DISPLAY set for the command, and the server
# stopped afterwards. Without Xvfb the test is skipped (77), unless
# MORVANE_REQUIRE_UI=1, when that is a failure.
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
  if [ "${MORVANE_REQUIRE_UI:-0}" = "1" ]; then
    echo "Xvfb is not installed, and MORVANE_REQUIRE_UI=1" >&2
    exit 1
  fi
  echo "Xvfb is not installed: skipped" >&2
  exit 77
fi

workdir=$(mktemp -d)
displayfile="$workdir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$displayfile" 2>"$workdir/xvfb.log" &
xvfb_pid=$!
cleanup() {
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT

# Xvfb writes the display number once it accepts connections.
for _ in $(seq 1 100); do
  if [ -s "$displayfile" ]; then
    break
  fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
if [ ! -s "$displayfile" ]; then
  echo "Xvfb did not start:" >&2
  cat "$workdir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$displayfile")"
"$@"
