#!/usr/bin/env bash
# Builds the Debian packages (vantrel, libvantrel1, libvantrel-dev,
# gstreamer1.0-vantrel and, where VLC's headers are found, vlc-plugin-vantrel) with
# CPack in build-deb/ (or $DEB_BUILD_DIR), runs lintian on them (errors fail), checks
# their copyright files and maintainer, installs them with apt, checks the installed
# tool, pkg-config file, GStreamer plug-in, MIME type, thumbnailer and VLC plug-in,
# and removes them again (which takes the MIME type away again).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${DEB_BUILD_DIR:-build-deb}
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DVANTREL_TESTS=OFF -DVANTREL_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/vantrel_*.deb "$dir"/libvantrel1_*.deb "$dir"/libvantrel-dev_*.deb
  "$dir"/gstreamer1.0-vantrel_*.deb)
vlc=no
# The VLC plug-in is built where VLC's plug-in headers are (VANTREL_VLC=AUTO).
if pkg-config --exists vlc-plugin; then
  vlc=yes
  debs+=("$dir"/vlc-plugin-vantrel_*.deb)
fi
for d in "${debs[@]}"; do
  [ -f "$d" ] || { echo "check-packages: $d was not built" >&2; exit 1; }
  echo "  $(dpkg-deb -f "$d" Package) $(dpkg-deb -f "$d" Version): Depends: $(dpkg-deb -f "$d" Depends)"
done
# Every package carries our licence in a machine-readable copyright file, and the
# tool's also the notices of the header-only libraries compiled into it.
for d in "${debs[@]}"; do
  p=$(dpkg-deb -f "$d" Package)
  c=$(dpkg-deb --fsys-tarfile "$d" | tar -xOf - "./usr/share/doc/$p/copyright")
  want=("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    "Files: *" "License: BSD-3-Clause" "Copyright (c) 2026, The Vantrel developers")
  [ "$p" = vantrel ] && want+=("Files: cli11/*" "Files: nlohmann-json3/*" "License: Expat")
  [ "$p" = vlc-plugin-vantrel ] && want+=("Files: vlc/*" "License: LGPL-2.1+")
  for w in "${want[@]}"; do
    grep -qxF -- "$w" <<<"$c" || grep -qF -- " $w" <<<"$c" ||
      { echo "check-packages: $p's copyright file has no '$w'" >&2; exit 1; }
  done
  dpkg-deb -f "$d" Maintainer | grep -q '^The Vantrel developers <' ||
    { echo "check-packages: $p's maintainer is $(dpkg-deb -f "$d" Maintainer)" >&2; exit 1; }
done
echo "  copyright files: BSD-3-Clause in every package; CLI11's and nlohmann-json's notices in vantrel's, VLC's in the VLC plug-in's"

# Warnings are printed and kept (see the README); errors fail.
lintian --tag-display-limit 0 "${debs[@]}" | tee "$dir/lintian.txt" || true
if grep -q '^E:' "$dir/lintian.txt"; then
  echo "check-packages: lintian reports errors" >&2
  exit 1
fi

if dpkg-query -W -f='${Status}' vantrel 2>/dev/null | grep -q "install ok installed"; then
  echo "check-packages: vantrel is already installed here; not touching it" >&2
  exit 1
fi
remove() {
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vantrel libvantrel-dev libvantrel1 \
    gstreamer1.0-vantrel vlc-plugin-vantrel >/dev/null || true
}
trap remove EXIT
abs=()
for d in "${debs[@]}"; do abs+=("$(realpath "$d")"); done
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${abs[@]}" >/dev/null
[ "$(command -v vantrel)" = /usr/bin/vantrel ]
info=$(/usr/bin/vantrel info examples/demo.vn)
printf '%s\n' "$info" | sed -n 1,3p
version=$(sed -n 's/^project(vantrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
got=$(env -u PKG_CONFIG_PATH pkg-config --modversion vantrel)
[ "$got" = "$version" ] || { echo "check-packages: pkg-config gives $got, not $version" >&2; exit 1; }
echo "  pkg-config --modversion vantrel: $got"
# A program built against the installed package.
work=$(mktemp -d)
# shellcheck disable=SC2046
cc -o "$work/example" examples/c/vantrel-example.c $(env -u PKG_CONFIG_PATH pkg-config --cflags --libs vantrel)
"$work/example" examples/demo.vn "$work/1.raw" 1 2>/dev/null
/usr/bin/vantrel render examples/demo.vn --raw -o "$work/tool-1.raw" 2>/dev/null
cmp "$work/1.raw" "$work/tool-1.raw"
# The installed GStreamer plug-in, found by GStreamer itself (no GST_PLUGIN_PATH, a
# fresh registry), plays performance 1 exactly.
plugin=$(dpkg -L gstreamer1.0-vantrel | grep '/libgstvantrel\.so$')
[ "$(dirname "$plugin")" = "$(pkg-config --variable=pluginsdir gstreamer-1.0)" ] ||
  { echo "check-packages: the plug-in is installed as $plugin, not in GStreamer's folder" >&2; exit 1; }
export GST_REGISTRY="$work/registry.bin"
env -u GST_PLUGIN_PATH gst-inspect-1.0 vantreldec >"$work/inspect.txt"
grep -q "Codec/Decoder/Audio" "$work/inspect.txt"
echo "  gst-inspect-1.0 vantreldec: $(sed -n 's/^ *Long-name *//p' "$work/inspect.txt"), from $plugin"
env -u GST_PLUGIN_PATH timeout 120 gst-launch-1.0 -q filesrc location=examples/demo.vn ! decodebin \
  ! audio/x-raw,format=S16LE ! filesink location="$work/gst-1.raw"
cmp "$work/gst-1.raw" "$work/tool-1.raw"
# The desktop: dpkg's trigger has put the type into the system's MIME database, and
# the thumbnailer entry runs the installed tool.
mime() { env -u XDG_DATA_DIRS -u XDG_DATA_HOME xdg-mime query filetype "$1"; }
[ "$(mime examples/demo.vn)" = audio/x-vnf ] ||
  { echo "check-packages: the installed MIME type is not in the database: $(mime examples/demo.vn)" >&2; exit 1; }
grep -qx 'Exec=/usr/bin/vantrel thumbnail %i %o --size %s' /usr/share/thumbnailers/vantrel.thumbnailer
/usr/bin/vantrel thumbnail examples/demo.vn "$work/thumb.png" --size 128
[ "$(head -c 4 "$work/thumb.png" | tail -c 3)" = PNG ]
echo "  xdg-mime query filetype: audio/x-vnf; thumbnailer: a PNG of $(stat -c %s "$work/thumb.png") bytes"
# The installed VLC plug-in, found by VLC itself (in its cache, which the package's
# trigger renewed), plays performance 1 exactly.
if [ "$vlc" = yes ]; then
  plugins=$(pkg-config --variable=pluginsdir vlc-plugin)
  dpkg -L vlc-plugin-vantrel | grep -qx "$plugins/demux/libvantrel_plugin.so"
  grep -qa libvantrel_plugin.so "$plugins/plugins.dat" ||
    { echo "check-packages: VLC's plug-in cache does not list the plug-in" >&2; exit 1; }
  chmod 755 "$work" && mkdir -m 777 "$work/vlc" && cp examples/demo.vn "$work/demo.vn" && chmod 644 "$work/demo.vn"
  env -u VLC_PLUGIN_PATH timeout 120 tests/desktop/cvlc.sh -I dummy --play-and-exit --aout afile \
    --audiofile-format=s16 --audiofile-channels=2 --no-audiofile-wav --audiofile-file="$work/vlc/1.raw" \
    "$work/demo.vn" 2>/dev/null
  cmp "$work/vlc/1.raw" "$work/tool-1.raw"
  echo "  cvlc with vlc-plugin-vantrel: performance 1, byte for byte"
fi
remove
trap - EXIT
[ "$(mime examples/demo.vn)" != audio/x-vnf ] ||
  { echo "check-packages: the MIME type stays in the database after the packages are removed" >&2; exit 1; }
rm -rf "$work"
echo "check-packages: the packages build, pass lintian, install and work"
