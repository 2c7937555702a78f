#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The presets file is valid Turtle (sordi) and, read together with the
# manifest and the plug-in description, valid LV2 (lv2_validate): every
# preset's properties and value types as the presets vocabulary defines.
# The manifest, which hosts read to list presets, says of each the same
# label and the same plug-ins it applies to as presets.ttl; every preset
# applies to a plug-in of the bundle.
#   validate_presets.sh path/to/morvane.lv2
set -euo pipefail
bundle=$(cd "$1" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if ! sordi -i turtle -o ntriples "file://$bundle/presets.ttl" > "$tmp/presets.nt" 2> "$tmp/sordi.err" ||
   [ -s "$tmp/sordi.err" ]; then
  echo "FAIL: presets.ttl is not clean Turtle:" >&2
  cat "$tmp/sordi.err" >&2
  exit 1
fi
presets=$(grep -c '<http://www.w3.org/1999/02/22-rdf-syntax-ns#type> <http://lv2plug.in/ns/ext/presets#Preset>' "$tmp/presets.nt")
listed=$(grep -c 'a pset:Preset' "$bundle/manifest.ttl")
if [ "$presets" -ne "$listed" ]; then
  echo "FAIL: presets.ttl holds $presets presets, the manifest lists $listed" >&2
  exit 1
fi

# The manifest repeats each label and plug-in for hosts that list presets
# without loading them: the two must agree.
sordi -i turtle -o ntriples "file://$bundle/manifest.ttl" > "$tmp/manifest.nt"
label='<http://www.w3.org/2000/01/rdf-schema#label>'
applies='<http://lv2plug.in/ns/lv2core#appliesTo>'
preset_uri='<http://morvane.example.org/presets#'
for what in "$label" "$applies"; do
  if ! diff <(grep -F "$preset_uri" "$tmp/manifest.nt" | grep -F " $what " | sort) \
            <(grep -F " $what " "$tmp/presets.nt" | sort) >&2; then
    echo "FAIL: the presets' $what differ between manifest.ttl and presets.ttl" >&2
    exit 1
  fi
done
plugins=$(grep -F '<http://www.w3.org/1999/02/22-rdf-syntax-ns#type> <http://lv2plug.in/ns/lv2core#Plugin>' \
            "$tmp/manifest.nt" | cut -d' ' -f1 | sort -u)
while read -r _ _ plugin _; do
  grep -qxF "$plugin" <<<"$plugins" || { echo "FAIL: a preset applies to $plugin, not a plug-in of the bundle" >&2; exit 1; }
done < <(grep -F " $applies " "$tmp/presets.nt")
for plugin in $plugins; do
  echo "  $plugin: $(grep -cF " $applies $plugin " "$tmp/presets.nt") presets"
done

lv2_validate "$bundle/manifest.ttl" "$bundle/morvane.ttl" "$bundle/presets.ttl" > "$tmp/validate.log" 2>&1 || true
if ! grep -q 'Found 0 errors' "$tmp/validate.log" || grep -q '^\(error\|warning\)' "$tmp/validate.log"; then
  echo "FAIL: lv2_validate:" >&2
  cat "$tmp/validate.log" >&2
  exit 1
fi
echo "presets valid: $presets presets, $(grep -o 'Found 0 errors.*' "$tmp/validate.log")"
