#!/usr/bin/env bash
# Builds the Debian packages (vantrel, libvantrel1, libvantrel-dev,
# gstreamer1.0-vantrel) with CPack in build-deb/ (or $DEB_BUILD_DIR), runs lintian on
# them (errors fail), checks their copyright files and maintainer, installs them with
# apt, checks the installed tool, pkg-config file and GStreamer plug-in, and removes
# them again.
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
  for w in "${want[@]}"; do
    grep -qxF -- "$w" <<<"$c" || grep -qF -- " $w" <<<"$c" ||
      { echo "check-packages: $p's copyright file has no '$w'" >&2; exit 1; }
  done
  dpkg-deb -f "$d" Maintainer | grep -q '^The Vantrel developers <' ||
    { echo "check-packages: $p's maintainer is $(dpkg-deb -f "$d" Maintainer)" >&2; exit 1; }
done
echo "  copyright files: BSD-3-Clause in every package; CLI11's and nlohmann-json's notices in vantrel's"

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
    gstreamer1.0-vantrel >/dev/null || true
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
rm -rf "$work"
echo "check-packages: the packages build, pass lintian, install and work"
