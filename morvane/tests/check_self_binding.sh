#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# A shared object binds its calls to its own exported functions inside
# itself: its dynamic relocations name none of the functions it exports, so
# no other definition of the same name in the process can take them over.
#   check_self_binding.sh path/to/object.so path/to/exports.txt
set -euo pipefail
so=$1
list=$2

relocated=$(readelf -rW "$so" | awk 'NF >= 5 && $3 ~ /^R_X86_64_/ {print $5}' | sed 's/@.*//' | sort -u)
own=$(grep -xF -f <(grep -v '^[[:space:]]*$' "$list") <<<"$relocated" || true)
if [ -n "$own" ]; then
  echo "FAIL: $(basename "$so") reaches these of its own functions through dynamic relocations:"
  sed 's/^/    /' <<<"$own"
  exit 1
fi
count=$(wc -l < <(grep -v '^[[:space:]]*$' "$list"))
echo "$(basename "$so"): no dynamic relocation against any of its $count exported functions"
