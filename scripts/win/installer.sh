#!/usr/bin/env bash
# Makes the setup program for Windows users, dist/vantrel-VERSION-setup.exe, with
# Debian's NSIS (makensis) from the i686 build: in_vantrel.dll, vantrel.exe (both
# stripped of debugging information, into build-win-i686/installer/ with the rest),
# the demo song, the Windows README (scripts/win/installer/), the project's licence
# and LICENSES.txt, the notices of everything in the binaries. Beside the setup
# program go what the GNU LGPL asks for the libraries linked statically
# (scripts/win/notices.py): dist/vantrel-VERSION-relink-kit.zip and
# dist/vantrel-VERSION-lgpl-sources.tar.gz; whoever publishes the setup program
# publishes them with it.
#
#   scripts/win/installer.sh              # builds i686 first (scripts/win/build.sh)
#   scripts/win/installer.sh --no-build   # uses build-win-i686/ as it is
#
# VERSION is the build's own (VANTREL_VERSION_STRING in the header that CMake makes
# from project(VERSION): build-win-i686/generated/VantrelVersion.h). Checks the
# plug-in DLL first (tests/win/check_plugin_pe.py) and prints the setup's path.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build=1
case "${1:-}" in
    --no-build) build=0 ;;
    "") ;;
    *) die "usage: $0 [--no-build]" ;;
esac
BUILD=${BUILD_DIR:-$VANTREL_ROOT/build-win-i686}

# shellcheck disable=SC2046 # a list of package names
ensure_packages nsis python3 $(mingw_packages i686)
if [ $build = 1 ]; then
    "$VANTREL_ROOT/scripts/win/build.sh" i686
fi
VERSION=$(sed -n 's/^#define VANTREL_VERSION_STRING "\([0-9.]*\)"$/\1/p' "$BUILD/generated/VantrelVersion.h" 2>/dev/null)
[ -n "$VERSION" ] || die "no VANTREL_VERSION_STRING in $BUILD/generated/VantrelVersion.h (scripts/win/build.sh i686 makes it)"
for f in in_vantrel.dll vantrel.exe; do
    [ -f "$BUILD/$f" ] || die "$BUILD/$f is missing (scripts/win/build.sh i686 builds it)"
done
# The files go in under the names the setup script expects, the binaries without
# their debugging information (a tenth of the size).
STAGE=$BUILD/installer
rm -rf "$STAGE"
mkdir -p "$STAGE"
for f in in_vantrel.dll vantrel.exe; do
    i686-w64-mingw32-strip --strip-unneeded -o "$STAGE/$f" "$BUILD/$f"
done
python3 "$VANTREL_ROOT/tests/win/check_plugin_pe.py" "$STAGE/in_vantrel.dll" --machine i386 >&2
cp "$VANTREL_ROOT/examples/demo.vn" "$STAGE/demo.vn"
# Windows line ends for Notepad; the README names the setup program by its version.
sed -e "s/@VERSION@/$VERSION/g" -e 's/$/\r/' "$VANTREL_ROOT/scripts/win/installer/README.txt" >"$STAGE/README.txt"
sed 's/$/\r/' "$VANTREL_ROOT/LICENSE" >"$STAGE/LICENSE.txt"

mkdir -p "$VANTREL_ROOT/dist"
python3 "$VANTREL_ROOT/scripts/win/notices.py" --build "$BUILD" --version "$VERSION" --crlf \
    --licences "$STAGE/LICENSES.txt" \
    --relink-kit "$VANTREL_ROOT/dist/vantrel-$VERSION-relink-kit.zip" \
    --sources "$VANTREL_ROOT/dist/vantrel-$VERSION-lgpl-sources.tar.gz" \
    in_vantrel.dll vantrel.exe >&2
OUT=$VANTREL_ROOT/dist/vantrel-$VERSION-setup.exe
TMP_OUT=$(mktemp "$VANTREL_ROOT/dist/.vantrel-setup.XXXXXX")
trap 'rm -f "$TMP_OUT"' EXIT
log "makensis $(makensis -VERSION) -> $OUT"
makensis -V2 -NOCD -DVERSION="$VERSION" -DSOURCE="$STAGE" -DOUTFILE="$TMP_OUT" \
    "$VANTREL_ROOT/scripts/win/installer/vantrel.nsi" >&2
chmod 644 "$TMP_OUT"
mv -f "$TMP_OUT" "$OUT"
log "wrote $OUT ($(stat -c %s "$OUT") bytes)"
echo "$OUT"
