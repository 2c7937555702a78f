#!/usr/bin/env bash
# SPDX-License-Identifier: LGPL-2.1-or-later
# The Debian packages as a user gets them: builds them with
# dpkg-buildpackage from a clean copy of the source tree, runs lintian over
# them, installs them with apt-get and checks that
#   - LV2 hosts find both plug-ins, morvane and morvane stereo, in
#     /usr/lib/lv2 with LV2_PATH unset, with their presets (nine and ten)
#     and the window (morvane_ui.so) as their X11 UI; the package depends on the
#     window's libraries, the plug-in itself links cairo alone of them (its
#     inline display's picture), never pango or X11 directly,
#   - CLAP hosts find both plug-ins in /usr/lib/clap/morvane.clap, which
#     exports clap_entry alone, at the packaged version, and VST3 hosts
#     (Ardour's scanner, when Ardour is installed) the bundles morvane.vst3
#     and morvane-stereo.vst3 in /usr/lib/vst3, which export the module's
#     three entry points alone,
#   - the packaged morvane-render finds its bundle by itself and renders a
#     recording, with the default setting and with presets, through either
#     plug-in (--stereo), to exactly the samples of the build tree's
#     renderer (the packaging flags must not change a bit),
#   - examples/ builds against libmorvane-dev with pkg-config and with
#     CMake and runs on the installed shared libraries,
# and purges the packages again (also when a check fails).
#   debian_packages_install.sh SOURCE_DIR BUILD_RENDER BUILD_BUNDLE WORK_DIR
# Needs root and apt (it installs packages). Without them it fails, unless
# MORVANE_PACKAGE_TEST_SKIP=1 asks for a skip (exit 77).
set -euo pipefail
src=$(cd "$1" && pwd)
build_render=$2
build_bundle=$3
work=$4
uri=http://morvane.example.org/plugins/morvane
stereo_uri=http://morvane.example.org/plugins/morvane-stereo
recording=${MORVANE_RECORDING:-/usr/share/sounds/alsa/Front_Center.wav}
python=${PYTHON:-/usr/bin/python3}
packages=(morvane-lv2 morvane-clap morvane-vst3 morvane-render libtembra0 libquivex0 libmorvane-dev)

fail() { echo "FAIL: $*" >&2; exit 1; }
cannot_run() {
  if [ "${MORVANE_PACKAGE_TEST_SKIP:-0}" = 1 ]; then
    echo "SKIP: $*" >&2
    exit 77
  fi
  fail "$* (set MORVANE_PACKAGE_TEST_SKIP=1 to skip this test instead)"
}

[ "$(id -u)" -eq 0 ] || cannot_run "installing the packages needs root"
for tool in apt-get dpkg-buildpackage dh lintian fakeroot lv2ls lv2info pkg-config cc man objdump ldd "$python"; do
  command -v "$tool" > /dev/null || cannot_run "$tool is missing (scripts/install-deps installs it)"
done
"$python" -c "import numpy, soundfile" 2> /dev/null ||
  cannot_run "$python lacks numpy or soundfile (python3-numpy, python3-soundfile)"
[ -f "$recording" ] || cannot_run "no recording at $recording (alsa-utils)"
[ -x "$build_render" ] || fail "no morvane-render in the build tree at $build_render"

# Never replace or remove what the machine already has.
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2> /dev/null || true)
  case $status in
    "" | *" not-installed") ;;
    *) fail "$p is on this machine ($status); purge it before running this test" ;;
  esac
done
vst3_dir=/usr/lib/vst3
for path in /usr/lib/lv2/morvane.lv2 /usr/lib/clap/morvane.clap $vst3_dir/morvane.vst3 $vst3_dir/morvane-stereo.vst3; do
  [ ! -e "$path" ] || fail "$path exists outside the packages; remove it before running this test"
done

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
installed=0
cleanup() {
  local rc=$?
  if [ "$installed" = 1 ]; then
    echo "purging the packages"
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${packages[@]}" > "$work/purge.log" 2>&1 ||
      { echo "apt-get purge failed:" >&2; cat "$work/purge.log" >&2; rc=1; }
  fi
  exit "$rc"
}
trap cleanup EXIT

# A clean copy of the tree: what git tracks (and new files it does not
# ignore), or without git everything but build folders.
# The packaged version, from the changelog (0.2.0-1: upstream 0.2.0).
deb_version=$(dpkg-parsechangelog -l "$src/debian/changelog" -S Version)
upstream=${deb_version%-*}
tree=$work/morvane-$upstream
mkdir -p "$tree"
if git -C "$src" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  (cd "$src" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
     xargs -0 cp --parents -t "$tree")
else
  tar -C "$src" --exclude='./build*' --exclude='./obj-*' --exclude=./out \
      --exclude=./debian/tmp -cf - . | tar -C "$tree" -xf -
fi
[ -f "$tree/debian/control" ] || fail "the copied tree has no debian/control"

echo "building the packages"
start=$(date +%s)
if ! (cd "$tree" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
        dpkg-buildpackage -us -uc -b > "$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log" >&2
  fail "dpkg-buildpackage failed (log: $work/build.log)"
fi
echo "  built in $(( $(date +%s) - start )) s"
# Compiler warnings, and the packaging tools' (a symbol gone or new, a
# library not found ...).
grep -nE '\.(c|cc|cpp|h|hpp):[0-9]+(:[0-9]+)?: warning:|^dpkg-[a-z]+: warning:' "$work/build.log" >&2 &&
  fail "the package build printed warnings"
# Every compilation keeps the project's numerics, whatever the packaging
# flags add.
grep -E '^(cd [^&]* && )?/usr/bin/(c\+\+|cc) .* -c ' "$work/build.log" > "$work/compile-lines.txt" ||
  fail "no compiler command lines in the build log"
grep -v -- '-ffp-contract=off' "$work/compile-lines.txt" >&2 &&
  fail "a compilation lacks -ffp-contract=off"
grep -E -- '-ffast-math|-Ofast|-ffp-contract=(fast|on)' "$work/compile-lines.txt" >&2 &&
  fail "a compilation relaxes the floating-point rules"
for p in "${packages[@]}"; do
  [ -f "$(echo "$work/${p}_${deb_version}_"*.deb)" ] || fail "no $p package was built"
done

echo "lintian"
changes=$(echo "$work"/morvane_"$deb_version"_*.changes)
lintian --fail-on error,warning "$changes" > "$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log" >&2; fail "lintian reports errors or warnings"; }
grep -E '^[EW]: ' "$work/lintian.log" >&2 && fail "lintian reports errors or warnings"
echo "  no errors, no warnings"

echo "installing"
installed=1
(cd "$work" && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
   ./morvane-lv2_*.deb ./morvane-clap_*.deb ./morvane-vst3_*.deb ./morvane-render_*.deb ./libtembra0_*.deb ./libquivex0_*.deb \
   ./libmorvane-dev_*.deb > "$work/install.log" 2>&1) ||
  { cat "$work/install.log" >&2; fail "apt-get install failed"; }
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p")
  [ "$status" = "install ok installed" ] || fail "$p is not installed: $status"
done
[[ $(dpkg-query -W -f='${Depends}' libquivex0) == *libtembra0* ]] ||
  fail "libquivex0 does not depend on libtembra0"

# Hosts: the default LV2 search path, no user folder in the way.
export HOME=$work/home
mkdir -p "$HOME"
unset LV2_PATH
echo "LV2 hosts"
lv2ls > "$work/lv2ls.txt" || fail "lv2ls failed"
for u in "$uri" "$stereo_uri"; do
  grep -qxF "$u" "$work/lv2ls.txt" || fail "lv2ls does not list $u"
done
lv2info "$uri" > "$work/lv2info.txt" || fail "lv2info cannot describe $uri"
lv2info "$stereo_uri" > "$work/lv2info-stereo.txt" || fail "lv2info cannot describe $stereo_uri"
for f in lv2info lv2info-stereo; do
  grep -q 'Bundle: *file:///usr/lib/lv2/morvane.lv2/' "$work/$f.txt" ||
    fail "the plug-in is not loaded from /usr/lib/lv2: $(grep Bundle "$work/$f.txt")"
done
# The presets, one label a line between the heading and the first port.
count_presets() { sed -n '/^[[:space:]]*Presets:/,/^[[:space:]]*Port 0:/p' "$1" | sed '1d;$d' | grep -c '[^[:space:]]'; }
[ "$(count_presets "$work/lv2info.txt")" = 9 ] || fail "lv2info lists $(count_presets "$work/lv2info.txt") presets of $uri, not 9"
[ "$(count_presets "$work/lv2info-stereo.txt")" = 10 ] ||
  fail "lv2info lists $(count_presets "$work/lv2info-stereo.txt") presets of $stereo_uri, not 10"
grep -q 'Stereo tremolo' "$work/lv2info-stereo.txt" || fail "$stereo_uri lacks the Stereo tremolo preset"
grep -qF "$stereo_uri#ui" "$work/lv2info-stereo.txt" || fail "lv2info lists no window of $stereo_uri"
echo "  $uri (9 presets) and $stereo_uri (10) from /usr/lib/lv2/morvane.lv2"
# The window: in the bundle, known to hosts as the plug-in's X11 UI, its
# graphics libraries among the package's dependencies. The plug-in itself
# links cairo for a host's inline display, and no other of them: no text
# layout, no X connection of its own.
ui_so=/usr/lib/lv2/morvane.lv2/morvane_ui.so
[ -f "$ui_so" ] || fail "$ui_so is not installed"
awk '/^\tUIs:/ { in_uis = 1; next } in_uis && /^\t[A-Z]/ { in_uis = 0 } in_uis' "$work/lv2info.txt" \
  > "$work/lv2info-uis.txt"
grep -qF "$uri#ui" "$work/lv2info-uis.txt" || fail "lv2info lists no UI $uri#ui: $(cat "$work/lv2info.txt")"
grep -qF 'Class:  http://lv2plug.in/ns/extensions/ui#X11UI' "$work/lv2info-uis.txt" ||
  fail "the UI is not an X11 UI: $(cat "$work/lv2info-uis.txt")"
grep -qF "Binary: file://$ui_so" "$work/lv2info-uis.txt" ||
  fail "the UI's binary is not $ui_so: $(cat "$work/lv2info-uis.txt")"
ldd "$ui_so" > "$work/ui.ldd" || fail "ldd $ui_so failed"
grep -q 'not found' "$work/ui.ldd" && fail "$ui_so lacks libraries: $(grep 'not found' "$work/ui.ldd")"
depends=$(dpkg-query -W -f='${Depends}' morvane-lv2)
for lib in libcairo2 libpango-1.0-0 libx11-6 libxext6; do
  grep -qE "(^|, )$lib( |,|$)" <<<"$depends" ||
    fail "morvane-lv2 does not depend on $lib: $depends"
done
objdump -p /usr/lib/lv2/morvane.lv2/morvane.so > "$work/plugin.objdump" || fail "objdump of the plug-in failed"
grep -E 'NEEDED.*lib(pango|X11|xcb|glib|gobject)' "$work/plugin.objdump" >&2 &&
  fail "the plug-in links a window or text library"
grep -qE 'NEEDED.*libcairo\.so' "$work/plugin.objdump" ||
  fail "the plug-in does not link cairo, which draws its inline display"
echo "  the window $ui_so, an X11 UI; the plug-in links cairo alone of the graphics libraries"

echo "CLAP hosts"
clap_file=/usr/lib/clap/morvane.clap
[ -f "$clap_file" ] || fail "$clap_file is not installed"
[[ $(dpkg -S "$clap_file" 2> /dev/null) == morvane-clap:* ]] || fail "$clap_file is not morvane-clap's"
objdump -T "$clap_file" | grep -v '\*UND\*' | awk '/ D[FO] / { print $NF }' | sort -u > "$work/clap-exports.txt"
[ "$(cat "$work/clap-exports.txt")" = clap_entry ] ||
  fail "$clap_file exports $(tr '\n' ' ' < "$work/clap-exports.txt")instead of clap_entry alone"
cc -std=c11 -Wall -Wextra -Werror -I/usr/share/dpf/distrho/src "$src/tools/tests/clap_list.c" -ldl \
   -o "$work/clap_list" || fail "tools/tests/clap_list.c does not build against the CLAP headers"
"$work/clap_list" "$clap_file" > "$work/clap-list.txt" || fail "$clap_file does not load as a CLAP file"
printf 'org.example.morvane.mono\tmorvane\t%s\norg.example.morvane.stereo\tmorvane stereo\t%s\n' \
  "$upstream" "$upstream" | diff - "$work/clap-list.txt" >&2 ||
  fail "$clap_file does not hold the two plug-ins at version $upstream"
echo "  $clap_file: org.example.morvane.mono and org.example.morvane.stereo, $upstream"

echo "VST3 hosts"
for name in morvane morvane-stereo; do
  so=$vst3_dir/$name.vst3/Contents/x86_64-linux/$name.so
  [ -f "$so" ] || fail "$so is not installed"
  [[ $(dpkg -S "$so" 2> /dev/null) == morvane-vst3:* ]] || fail "$so is not morvane-vst3's"
  objdump -T "$so" | grep -v '\*UND\*' | awk '/ D[FO] / { print $NF }' | sort -u | tr '\n' ' ' > "$work/$name-exports.txt"
  [ "$(cat "$work/$name-exports.txt")" = "GetPluginFactory ModuleEntry ModuleExit " ] ||
    fail "$so exports $(cat "$work/$name-exports.txt")instead of the module's three entry points"
done
# Where Ardour is installed, its scanner finds each class at the packaged
# version.
scanner=/usr/lib/ardour7/ardour-vst3-scanner
if [ -x "$scanner" ]; then
  for name in morvane morvane-stereo; do
    label=${name/-/ }
    XDG_CACHE_HOME=$work/vst3-cache LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -f "$vst3_dir/$name.vst3" \
      > "$work/$name-scan.log" 2>&1 || { cat "$work/$name-scan.log" >&2; fail "Ardour's scanner fails on $name.vst3"; }
    grep -h '<VST3Info ' "$work"/vst3-cache/ardour7/vst/*.v3i | grep -F "name=\"$label\"" |
      grep -qF "version=\"$upstream\"" || fail "Ardour's scanner does not find '$label' $upstream in $name.vst3"
  done
  echo "  $vst3_dir/morvane.vst3 and morvane-stereo.vst3, scanned by Ardour's scanner"
else
  echo "  $vst3_dir/morvane.vst3 and morvane-stereo.vst3 (Ardour's scanner is not installed: not scanned)"
fi

echo "packaged morvane-render"
render=/usr/bin/morvane-render
[ -x "$render" ] || fail "$render is not installed"
# It finds the bundle by itself and never in the folder it was built in.
grep -qF "$work" "$render" && fail "$render refers to its build folder"
(cd / && "$render" --list-presets) > "$work/presets.txt" || fail "$render cannot list the presets"
grep -q '^octave-wobble ' "$work/presets.txt" || fail "$render lists no octave-wobble preset"
(cd / && "$render" --stereo --list-presets) > "$work/stereo-presets.txt" ||
  fail "$render cannot list the stereo plug-in's presets"
grep -q '^stereo-tremolo ' "$work/stereo-presets.txt" || fail "$render --stereo lists no stereo-tremolo preset"
man -w morvane-render > /dev/null 2>&1 || fail "no man page for morvane-render"
version=$("$render" --version) || fail "$render --version failed"
[ "${version%%$'\n'*}" = "morvane-render $upstream" ] ||
  fail "$render --version says '${version%%$'\n'*}', not the packaged $upstream"

# Float input and output, so that no quantisation hides a difference.
"$python" - "$recording" "$work/input.wav" <<'PY'
import sys
import soundfile as sf
data, rate = sf.read(sys.argv[1], dtype="float32", always_2d=True)
sf.write(sys.argv[2], data[:, 0], rate, subtype="FLOAT")
PY
renders=("plain:" "wobble:--preset octave-wobble" "smear:--preset smeared-freeze --set gain=-3 --block 100"
         "stereo:--stereo --preset stereo-tremolo"
         "spread:--stereo --mode mid --width 70 --lfo-offset 90 --preset vibrato-cloud")
for r in "${renders[@]}"; do
  name=${r%%:*}
  read -r -a args <<< "${r#*:}"
  "$render" "$work/input.wav" "$work/$name.deb.wav" --quiet "${args[@]}" ||
    fail "the packaged renderer failed on $name"
  "$build_render" "$work/input.wav" "$work/$name.tree.wav" --quiet --bundle "$build_bundle" "${args[@]}" ||
    fail "the build tree's renderer failed on $name"
  "$python" - "$work/$name.deb.wav" "$work/$name.tree.wav" "$name" <<'PY' || fail "the $name renders differ"
import sys
import numpy as np
import soundfile as sf
a, ra = sf.read(sys.argv[1], dtype="float32", always_2d=True)
b, rb = sf.read(sys.argv[2], dtype="float32", always_2d=True)
name = sys.argv[3]
if ra != rb or a.shape != b.shape:
    sys.exit(f"{name}: {a.shape} at {ra} Hz against {b.shape} at {rb} Hz")
rms = float(np.sqrt(np.mean(a.astype(np.float64) ** 2)))
if not np.all(np.isfinite(a)) or rms < 1e-4:
    sys.exit(f"{name}: the render is silent or not finite (rms {rms})")
diff = np.flatnonzero(a.view(np.uint32) != b.view(np.uint32))
if diff.size:
    i = diff[0]
    sys.exit(f"{name}: {diff.size} samples differ, the first at {i}: "
             f"{a.flat[i]!r} against {b.flat[i]!r}")
print(f"  {name}: {a.shape[0]} frames, rms {rms:.4f}, identical to the build tree's")
PY
done

echo "examples against libmorvane-dev"
cflags=(-std=c11 -Wall -Wextra -Werror -pedantic)
pkg-config --exists tembra quivex || fail "pkg-config does not find tembra and quivex"
# shellcheck disable=SC2046
cc "${cflags[@]}" "$src/examples/track_tone.c" $(pkg-config --cflags --libs tembra) -lm \
   -o "$work/track_tone" || fail "examples/track_tone.c does not build with pkg-config"
ldd "$work/track_tone" > "$work/track_tone.ldd"
loaded=$(sed -n 's/.*libtembra\.so\.0 => \([^ ]*\) .*/\1/p' "$work/track_tone.ldd")
if [ -z "$loaded" ] || [[ $(dpkg -S "$(readlink -f "$loaded")" 2> /dev/null) != libtembra0:* ]]; then
  fail "track_tone does not load the packaged libtembra.so.0: $(cat "$work/track_tone.ldd")"
fi
check_tone() {
  local line=$1 want=$2 got
  got=$(sed -n 's/.* tracks \([0-9.]*\) Hz.*/\1/p' <<< "$line")
  [ -n "$got" ] || fail "unexpected output: $line"
  awk -v g="$got" -v w="$want" 'BEGIN { d = g - w; if (d < 0) d = -d; exit !(d <= 1.0) }' ||
    fail "tracked $got Hz for a $want Hz tone"
  echo "  $line"
}
for f in 440 3000; do
  check_tone "$("$work/track_tone" "$f")" "$f"
done
# The effect engine, which pulls in the resonator engine.
# shellcheck disable=SC2046
cc "${cflags[@]}" "$src/tools/tests/shake_tone.c" $(pkg-config --cflags --libs quivex) -lm -o "$work/shake" ||
  fail "a program does not build against quivex with pkg-config"
shake_out=$("$work/shake") || fail "the quivex program failed"
echo "  quivex: $shake_out"
cmake -S "$src/examples" -B "$work/cmake-build" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
      > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "find_package(morvane) failed"; }
cmake --build "$work/cmake-build" > "$work/cmake-build.log" 2>&1 ||
  { cat "$work/cmake-build.log" >&2; fail "examples/ does not build with CMake"; }
check_tone "$("$work/cmake-build/track_tone_static" 1000)" 1000

echo "purging"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "${packages[@]}" > "$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; fail "apt-get purge failed"; }
installed=0
[ ! -e /usr/lib/lv2/morvane.lv2 ] || fail "/usr/lib/lv2/morvane.lv2 is left after the purge"
[ ! -e "$render" ] || fail "$render is left after the purge"
for path in /usr/lib/clap/morvane.clap $vst3_dir/morvane.vst3 $vst3_dir/morvane-stereo.vst3; do
  [ ! -e "$path" ] || fail "$path is left after the purge"
done
echo "all package checks passed"
