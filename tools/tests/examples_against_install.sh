#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Installs the build into a fresh prefix and builds examples/ against it as
# a user would: with pkg-config and cc (shared, then static), and with
# CMake's find_package(morvane). Each program must track a tone to within
# 1 Hz. Also checks the installed libraries' SONAMEs and exported symbols
# and that the installed morvane-render finds its bundle.
#   examples_against_install.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build=$1
src=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log"

libdir=$(find "$prefix" -name tembra.pc -printf '%h\n' | head -n1)
[ -n "$libdir" ] || fail "no tembra.pc installed"
export PKG_CONFIG_PATH=$libdir
libdir=$(pkg-config --variable=libdir tembra)
for h in tembra/libtembra.h tembra/mel.h quivex/libquivex.h quivex/sigmoid.h; do
  [ -f "$(pkg-config --variable=includedir tembra)/$h" ] || fail "header $h not installed"
done

# Shared libraries: SONAME, and exactly the export lists.
for lib in tembra quivex; do
  [ -f "$libdir/lib$lib.a" ] || fail "lib$lib.a not installed"
  soname=$(readelf -d "$libdir/lib$lib.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.0" ] || fail "lib$lib.so has SONAME '$soname'"
  [ -e "$libdir/$soname" ] || fail "$soname not installed"
  bash "$src/morvane/tests/check_exports.sh" "$libdir/lib$lib.so" "$src/lib$lib/exports.txt"
done
# The plug-in exports both engines' lists and its own names.
missing=$(sort "$src/libtembra/exports.txt" "$src/libquivex/exports.txt" |
          comm -23 - <(sort "$src/morvane/exports.txt"))
[ -z "$missing" ] || fail "the plug-in's export list lacks: $missing"

# Tracked frequency from a track_tone output line.
check_tone() {
  local line=$1 want=$2
  local got
  got=$(sed -n 's/.* tracks \([0-9.]*\) Hz.*/\1/p' <<<"$line")
  [ -n "$got" ] || fail "unexpected output: $line"
  awk -v g="$got" -v w="$want" 'BEGIN { d = g - w; if (d < 0) d = -d; exit !(d <= 1.0) }' ||
    fail "tracked $got Hz for a $want Hz tone"
  echo "  $line"
}

cflags=(-std=c11 -Wall -Wextra -Werror -pedantic)
echo "pkg-config, shared:"
# shellcheck disable=SC2046
cc "${cflags[@]}" "$src/examples/track_tone.c" $(pkg-config --cflags --libs tembra) -lm \
   -o "$work/track_tone"
readelf -d "$work/track_tone" | grep -q 'NEEDED.*libtembra.so.0' || fail "not linked to libtembra.so.0"
for f in 440 1000 3000; do
  check_tone "$(LD_LIBRARY_PATH=$libdir "$work/track_tone" "$f")" "$f"
done

echo "pkg-config, static:"
# The archive by name, then what its Libs.private asks for.
# shellcheck disable=SC2046
cc "${cflags[@]}" "$src/examples/track_tone.c" $(pkg-config --cflags tembra) \
   -L"$libdir" -Wl,-Bstatic -ltembra -Wl,-Bdynamic \
   $(pkg-config --static --libs-only-l tembra | sed 's/-ltembra//') -lm -o "$work/track_tone_static"
readelf -d "$work/track_tone_static" | grep -q 'libtembra' && fail "static build still needs libtembra.so"
check_tone "$("$work/track_tone_static" 440)" 440

echo "pkg-config, the effect engine:"
# shellcheck disable=SC2046
cc "${cflags[@]}" "$src/tools/tests/shake_tone.c" $(pkg-config --cflags --libs quivex) -lm -o "$work/shake"
echo "  $(LD_LIBRARY_PATH=$libdir "$work/shake")"

echo "CMake find_package(morvane):"
cmake -S "$src/examples" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" > "$work/cmake.log"
cmake --build "$work/cmake-build" > "$work/cmake-build.log"
check_tone "$("$work/cmake-build/track_tone" 440)" 440
check_tone "$("$work/cmake-build/track_tone_static" 1000)" 1000

echo "installed morvane-render:"
"$prefix/bin/morvane-render" --list-presets | grep -q octave-wobble ||
  fail "the installed morvane-render does not find the installed presets"
echo "  lists $("$prefix/bin/morvane-render" --list-presets | wc -l) presets"
