#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds the fuzz target and runs it for a bounded time on the seed corpus
# plus whatever it finds (kept in BUILD_DIR/corpus). Fails on any crash,
# sanitizer report or non-finite output.
#   fuzz/run.sh [SECONDS] [BUILD_DIR]     defaults: 60, build-fuzz
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
out=${2:-$root/build-fuzz}
bin=$("$root/fuzz/build.sh" "$out" | tail -1)
mkdir -p "$out/corpus" "$out/artifacts"
cd "$out"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$bin" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=30 \
         -artifact_prefix="$out/artifacts/" -print_final_stats=1 \
         "$out/corpus" "$root/fuzz/seeds" 2>&1 | tee "$out/fuzz.log" | grep -E "^#[0-9]+.*(DONE|pulse)|stat::|ERROR|SUMMARY" || true
status=${PIPESTATUS[0]}
grep -q "stat::number_of_executed_units" "$out/fuzz.log" || { echo "fuzz: no statistics, the run failed"; exit 1; }
if [ "$status" -ne 0 ]; then
  echo "fuzz: failed with status $status; see $out/fuzz.log and $out/artifacts" >&2
  exit "$status"
fi
