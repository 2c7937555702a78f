#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The shared object's dynamic symbol table defines exactly the names of the
# export list: nothing missing, nothing extra (no C++ runtime, no helpers).
#   check_exports.sh path/to/morvane.so path/to/exports.txt
set -euo pipefail
so=$1
list=$2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

nm -D --defined-only --format=posix "$so" | awk '{print $1}' | sort > "$tmp/exported"
grep -v '^[[:space:]]*$' "$list" | sort > "$tmp/expected"

if [ "$(sort -u "$tmp/expected" | wc -l)" -ne "$(wc -l < "$tmp/expected")" ]; then
  echo "FAIL: the export list names a symbol twice" >&2
  exit 1
fi
if ! diff -u "$tmp/expected" "$tmp/exported" > "$tmp/diff"; then
  echo "FAIL: exported symbols differ from $list ('-' missing, '+' extra):" >&2
  tail -n +3 "$tmp/diff" | grep '^[-+]' >&2
  exit 1
fi
# Every exported name is a function.
if nm -D --defined-only --format=posix "$so" | awk '$2 != "T" {bad=1; print} END {exit !bad}' >&2; then
  echo "FAIL: exported symbols above are not functions in the text section" >&2
  exit 1
fi
echo "$(wc -l < "$tmp/exported") exported symbols match $list"
