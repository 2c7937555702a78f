#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Validates the bundle's Turtle: syntax with sordi, the LV2 vocabulary with
# lv2_validate, and with check_ports.py what neither checks (port indices,
# unique symbols, defaults within their ranges) for each plug-in; the
# manifest and morvane.ttl describe both, the mono and the stereo one.
#   validate_turtle.sh path/to/morvane.lv2
set -euo pipefail
bundle=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
python=${PYTHON:-/usr/bin/python3}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

ttls=("$bundle/manifest.ttl" "$bundle/morvane.ttl")
for ttl in "${ttls[@]}"; do
  # sordi needs a base URI for the relative references of the manifest.
  if ! sordi -i turtle -o ntriples "file://$ttl" > "$tmp/$(basename "$ttl").nt" 2> "$tmp/sordi.err"; then
    echo "FAIL: $ttl is not valid Turtle:" >&2
    cat "$tmp/sordi.err" >&2
    exit 1
  fi
  if [ -s "$tmp/sordi.err" ]; then
    echo "FAIL: sordi complained about $ttl:" >&2
    cat "$tmp/sordi.err" >&2
    exit 1
  fi
done

# lv2_validate exits 0 even when it finds errors: judge by what it prints.
lv2_validate "${ttls[@]}" > "$tmp/validate.log" 2>&1 || true
if ! grep -q 'Found 0 errors' "$tmp/validate.log" || grep -q '^error' "$tmp/validate.log"; then
  echo "FAIL: lv2_validate reports errors:" >&2
  cat "$tmp/validate.log" >&2
  exit 1
fi
if grep -q '^warning' "$tmp/validate.log"; then
  echo "FAIL: lv2_validate warns:" >&2
  grep -A3 '^warning' "$tmp/validate.log" >&2
  exit 1
fi

plugin_type='<http://www.w3.org/1999/02/22-rdf-syntax-ns#type> <http://lv2plug.in/ns/lv2core#Plugin>'
for uri in http://morvane.example.org/plugins/morvane http://morvane.example.org/plugins/morvane-stereo; do
  for nt in "$tmp"/manifest.ttl.nt "$tmp"/morvane.ttl.nt; do
    grep -qF "<$uri> $plugin_type" "$nt" || { echo "FAIL: $(basename "$nt" .nt) does not describe $uri" >&2; exit 1; }
  done
done

"$python" "$here/check_ports.py" "$tmp"/*.nt
echo "bundle Turtle valid: $(grep -o 'Found 0 errors.*' "$tmp/validate.log")"
