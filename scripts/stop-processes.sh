# SPDX-License-Identifier: LGPL-2.1-or-later
# Sourced by the scripts that start servers and hosts of their own (the JACK
# and window tests, docs/make-pictures): stop_processes stops the processes
# whose ids the array `pids` holds, the last started first (clients before
# their servers), each given 3 s to go before it is killed.
stop_processes() {
  local i pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[$i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}
