#!/usr/bin/env bash
# The Linux desktop, from an installation: `cmake --install` of $BUILD_DIR (default
# build/) into a temporary prefix, then
# - the type: update-mime-database on the prefix; with XDG_DATA_DIRS naming it,
#   xdg-mime (its generic way and GNOME's) and gio say audio/x-vnf for a song, also
#   without its extension (by its magic), and GIO describes it as "Vantsong File";
# - the thumbnailer entry: its Exec line, filled in as a file manager does, writes a
#   PNG whose longer side is the size asked for; a damaged song writes nothing and
#   fails;
# - the VLC plug-in installed under the prefix (vlc.sh), and performance 1 of the
#   demo from the build tree's plug-in.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build}
here=$PWD/tests/desktop
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }
echo "== the Linux desktop: the MIME type, the thumbnailer and the VLC plug-in, installed"
cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null

# The type.
[ -f "$prefix/share/mime/packages/vantrel.xml" ] || fail "share/mime/packages/vantrel.xml was not installed"
update-mime-database "$prefix/share/mime" 2>/dev/null
export XDG_DATA_DIRS=$prefix/share:/usr/local/share:/usr/share
cp examples/demo.vn "$work/song.vn"
cp examples/demo.vn "$work/song-without-extension"
for f in song.vn song-without-extension; do
  for desktop in "" GNOME; do
    got=$(XDG_CURRENT_DESKTOP=$desktop xdg-mime query filetype "$work/$f")
    [ "$got" = audio/x-vnf ] || fail "xdg-mime query filetype $f (desktop '$desktop'): $got"
  done
  gio info -a standard::content-type "$work/$f" | grep -q 'standard::content-type: audio/x-vnf$' ||
    fail "gio info $f: $(gio info -a standard::content-type "$work/$f")"
done
description=$(/usr/bin/python3 -c 'from gi.repository import Gio; print(Gio.content_type_get_description("audio/x-vnf"))')
[ "$description" = "Vantsong File" ] || fail "GIO describes audio/x-vnf as '$description'"
echo "desktop: xdg-mime and gio say audio/x-vnf (by name and by content), described as '$description'"

# The thumbnailer, run as a file manager runs it.
entry=$prefix/share/thumbnailers/vantrel.thumbnailer
[ -f "$entry" ] || fail "share/thumbnailers/vantrel.thumbnailer was not installed"
grep -qx 'MimeType=audio/x-vnf;' "$entry" || fail "the thumbnailer entry is not for audio/x-vnf"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "${exec_line%% *}" = "$prefix/bin/vantrel" ] || fail "the thumbnailer runs ${exec_line%% *}, not the prefix's tool"
thumbnail() { # SONG OUT SIZE
  local cmd=${exec_line//%i/$1}
  cmd=${cmd//%o/$2}
  # shellcheck disable=SC2086
  timeout 20 ${cmd//%s/$3}
}
thumbnail "$work/song.vn" "$work/thumb" 256 || fail "the thumbnailer failed on the demo song"
size=$(/usr/bin/python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(24)
assert d[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
print("%dx%d" % struct.unpack(">II", d[16:24]))' "$work/thumb") || fail "the thumbnail is not a PNG"
[ "${size%x*}" = 256 ] && [ "${size#*x}" -le 256 ] || fail "the thumbnail for size 256 is $size"
head -c 5000 examples/demo.vn >"$work/damaged.vn"
if thumbnail "$work/damaged.vn" "$work/thumb-damaged" 256 2>/dev/null; then fail "a damaged song got a thumbnail"; fi
[ ! -e "$work/thumb-damaged" ] || fail "a damaged song left a file"
echo "desktop: the thumbnailer entry writes a ${size} PNG for size 256, and nothing for a damaged song"

# VLC, from the prefix and from the build tree.
plugin=$(find "$prefix" -name libvantrel_plugin.so)
if [ -z "$plugin" ]; then
  echo "desktop: no VLC plug-in in this build (libvlccore-dev missing): VLC checks left out"
  exit 0
fi
case $plugin in */vlc/plugins/demux/libvantrel_plugin.so) ;; *) fail "the VLC plug-in is installed as $plugin" ;; esac
VANTREL=$prefix/bin/vantrel CORPUS=$BUILD_DIR/vantrel_corpus SOURCE_DIR=$PWD \
  VLC_PLUGIN_PATH=${plugin%/demux/*} "$here/vlc.sh"
mkdir -m 755 "$work/plugins" && cp "$BUILD_DIR/vlc/libvantrel_plugin.so" "$work/plugins/"
mkdir -m 777 "$work/out"
chmod 644 "$work/song.vn"
# The last 3 s (VLC plays in real time): from frame 21 x 44100 = 926100 on.
VLC_PLUGIN_PATH=$work/plugins timeout 120 "$here/cvlc.sh" -I dummy --play-and-exit --aout afile \
  --audiofile-format=s16 --audiofile-channels=2 --no-audiofile-wav --audiofile-file="$work/out/build.raw" \
  --start-time=21 "$work/song.vn" 2>/dev/null
"$prefix/bin/vantrel" render --raw "$work/song.vn" -o - 2>/dev/null | tail -c +$((926100 * 4 + 1)) >"$work/ref.raw"
cmp -s "$work/out/build.raw" "$work/ref.raw" || fail "the build tree's plug-in does not play performance 1"
echo "desktop: the build tree's VLC plug-in (VLC_PLUGIN_PATH) plays performance 1 exactly (from 21 s)"
