#!/usr/bin/env bash
# Installs the build in $BUILD_DIR (default build/) into a temporary prefix and checks
# the installation: the files are there, the library exports only its C interface,
# examples/c builds against the installed library through pkg-config and through
# find_package(vantrel), and its renders equal the installed tool's byte for byte, as
# does the installed GStreamer plug-in's output.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
song=examples/demo.vn
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name libvantrel.so.1 -printf '%h\n' | head -n1)
[ -n "$libdir" ] || { echo "check-install: libvantrel.so.1 was not installed" >&2; exit 1; }
for f in bin/vantrel include/vantrel/vantrel.h share/man/man1/vantrel.1.gz share/doc/vantrel/README.md; do
  [ -e "$prefix/$f" ] || { echo "check-install: $f was not installed" >&2; exit 1; }
done
for f in libvantrel.so libvantrel.a pkgconfig/vantrel.pc cmake/vantrel/vantrelConfig.cmake vantrel/in_vantrel.so; do
  [ -e "$libdir/$f" ] || { echo "check-install: $libdir/$f was not installed" >&2; exit 1; }
done
if nm -D --defined-only "$libdir/libvantrel.so.1" | awk '$2 ~ /^[TDBRW]$/ && $3 !~ /^vantrel_/' | grep .; then
  echo "check-install: the library exports more than vantrel_*" >&2; exit 1
fi
objdump -p "$libdir/libvantrel.so.1" | grep -q 'SONAME *libvantrel\.so\.1$' || {
  echo "check-install: libvantrel.so.1 lacks its SONAME" >&2; exit 1; }

# The header alone, as C89 and as C++.
echo '#include <vantrel/vantrel.h>
int main(void) { return vantrel_get_api_version() == VANTREL_API_VERSION ? 0 : 1; }' >"$work/c89.c"
cc -std=c89 -pedantic-errors -Wall -Werror -I"$prefix/include" -c "$work/c89.c" -o "$work/c89.o"
c++ -std=c++11 -Wall -Werror -x c++ -I"$prefix/include" -c "$work/c89.c" -o "$work/cxx.o"

# The example, once through pkg-config and once through CMake.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
version=$(sed -n 's/^project(vantrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(pkg-config --modversion vantrel)" = "$version" ] || {
  echo "check-install: pkg-config gives $(pkg-config --modversion vantrel), not $version" >&2; exit 1; }
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/example-pc" examples/c/vantrel-example.c \
  $(pkg-config --cflags --libs vantrel) -Wl,-rpath,"$libdir"
cmake -S examples/c -B "$work/example-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/example-build" >/dev/null
ldd "$work/example-pc" | grep -q "$libdir/libvantrel.so.1"

tool=$prefix/bin/vantrel
compare() { # what, then the example's file and the tool's
  if ! cmp -s "$2" "$3"; then
    echo "check-install: $1: the example's PCM differs from vantrel render's" >&2
    cmp "$2" "$3" >&2 || true
    exit 1
  fi
  echo "  $1: $(stat -c %s "$2") bytes, identical"
}
for n in 1 3; do
  "$tool" render "$song" --raw --performance "$n" -o "$work/tool-$n.raw" 2>/dev/null
  "$work/example-pc" "$song" "$work/pc-$n.raw" "$n" 2>/dev/null
  "$work/example-build/vantrel-example" "$song" "$work/cm-$n.raw" "$n" --memory 2>/dev/null
  compare "performance $n (pkg-config build, from the path)" "$work/pc-$n.raw" "$work/tool-$n.raw"
  compare "performance $n (CMake build, from memory)" "$work/cm-$n.raw" "$work/tool-$n.raw"
done
# A host seek to 40 % before block 200 of performance 3.
"$tool" render "$song" --raw --performance 3 --seek 40@200 -o "$work/tool-seek.raw" 2>/dev/null
"$work/example-pc" "$song" "$work/pc-seek.raw" 3 --seek 40@$((200 * 1152)) 2>/dev/null
compare "performance 3, seek 40% at block 200" "$work/pc-seek.raw" "$work/tool-seek.raw"
# An exact seek to 12345 ms: the rest of the plain render from frame 12345 * 44.1.
"$work/example-build/vantrel-example" "$song" "$work/cm-exact.raw" 1 --seek-ms 12345 2>/dev/null
tail -c +$((12345 * 441 / 10 * 4 + 1)) "$work/tool-1.raw" >"$work/tool-exact.raw"
compare "performance 1 from 12345 ms" "$work/cm-exact.raw" "$work/tool-exact.raw"
# The installed tool finds the installed plug-in.
"$tool" play --info "$song" >/dev/null
# The GStreamer plug-in, where GStreamer's own plug-in folder is under the prefix,
# plays performance 1 from there (GST_PLUGIN_PATH, a registry of its own).
if [ -e "$BUILD_DIR/gst/libgstvantrel.so" ]; then
  gstdir=$prefix/$(pkg-config --variable=pluginsdir gstreamer-1.0 | sed "s|^$(pkg-config --variable=prefix gstreamer-1.0)/||")
  [ -e "$gstdir/libgstvantrel.so" ] || { echo "check-install: the GStreamer plug-in is not in $gstdir" >&2; exit 1; }
  GST_PLUGIN_PATH=$gstdir GST_REGISTRY=$work/registry.bin timeout 120 gst-launch-1.0 -q \
    filesrc location="$song" ! decodebin ! audio/x-raw,format=S16LE ! filesink location="$work/gst-1.raw"
  compare "performance 1 (installed GStreamer plug-in)" "$work/gst-1.raw" "$work/tool-1.raw"
fi
echo "check-install: the installation in a temporary prefix is complete and matches the tool"
