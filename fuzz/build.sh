#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# Builds the libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, straight from the sources (no CMake).
#   fuzz/build.sh [BUILD_DIR]        default: build-fuzz
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-fuzz}
mkdir -p "$out/include/tembra" "$out/include/quivex" "$out/obj"
cp "$root"/libtembra/src/*.h "$out/include/tembra/"
cp "$root"/libquivex/src/*.h "$out/include/quivex/"
CXX=${CXX:-clang++}
flags=(-std=c++20 -O2 -g -march=x86-64-v3 -ffp-contract=off -DHWY_DISABLE_PCLMUL_AES
       -fno-builtin-sinf -fno-builtin-cosf -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$out/include" -I"$root/libtembra/src" -I"$root/libquivex/src" -I"$root/morvane/src")
objs=()
# The plug-in draws its inline display itself with cairo (draw_partials,
# inline_draw): no pango, no X11.
flags+=(-I"$root/morvane/ui" $(pkg-config --cflags cairo))
for src in "$root"/libtembra/src/*.cpp "$root"/libquivex/src/*.cpp "$root"/morvane/src/*.cpp \
           "$root"/morvane/ui/draw_partials.cpp "$root"/morvane/ui/inline_draw.cpp; do
  obj="$out/obj/$(basename "$(dirname "$(dirname "$src")")")_$(basename "$src" .cpp).o"
  # Rebuilt when the source or any header is newer than the object.
  if [ ! -e "$obj" ] || [ "$src" -nt "$obj" ] ||
     [ -n "$(find "$root"/libtembra/src "$root"/libquivex/src "$root"/morvane/src "$root"/morvane/ui -name '*.h' \
             -newer "$obj" -print -quit)" ]; then
    "$CXX" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
  objs+=("$obj")
done
"$CXX" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/fuzz_plugin.cpp" "${objs[@]}" \
       $(pkg-config --libs cairo) -lmvec -lm -ldl -o "$out/fuzz_plugin"
echo "$out/fuzz_plugin"
