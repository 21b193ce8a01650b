#!/usr/bin/env bash
# The configure on a machine that has only some of the packages: pkg-config sees
# every .pc file of this machine except GStreamer's, VLC's plug-in one and libopusfile's (a folder of
# links named by PKG_CONFIG_LIBDIR), and find_package does not see GoogleTest.
#   1. By default the configure succeeds, says in one line each that the GStreamer
#      and VLC plug-ins and the unit tests are left out, and generates the tool but none of
#      their targets.
#   2. -DVANTREL_GST=ON, -DVANTREL_VLC=ON and -DVANTREL_TESTS=ON make the same machine a configure
#      error that names the missing packages.
#   3. Without libsndfile too, the tool cannot be built: an error naming its package.
#
#   tests/configure/optional-parts.sh SOURCE_DIR WORK_DIR
set -uo pipefail
SOURCE=$1 WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK/pc"
bad=0
fail() { echo "FAILED: $*"; bad=1; }

link_pc_files() { # FOLDER, EXCLUDED-NAME-PATTERN: links the machine's .pc files
  local dir f
  rm -f "$1"/*.pc
  IFS=: read -ra dirs <<<"$(pkg-config --variable pc_path pkg-config)"
  for dir in "${dirs[@]}"; do
    for f in "$dir"/*.pc; do
      [ -e "$f" ] || continue
      [[ $(basename "$f") =~ $2 ]] && continue
      [ -e "$1/$(basename "$f")" ] || ln -s "$f" "$1/"
    done
  done
}

configure() { # NAME [CMAKE OPTIONS...]: its output in $WORK/NAME.log, its status returned
  local name=$1
  shift
  PKG_CONFIG_LIBDIR=$WORK/pc PKG_CONFIG_PATH= cmake -S "$SOURCE" -B "$WORK/$name" -G Ninja \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DVANTREL_BENCH=OFF "$@" >"$WORK/$name.log" 2>&1
}
has_target() { ninja -C "$WORK/$1" -t targets all 2>/dev/null | grep "^$2:" >/dev/null; }

link_pc_files "$WORK/pc" '^(gstreamer-.*|vlc-plugin|opusfile)\.pc$'
if configure default; then
  grep -q '^-- The GStreamer plug-in (gst/) left out: missing .*libgstreamer-plugins-bad1.0-dev' \
    "$WORK/default.log" || fail "no line says the GStreamer plug-in is left out"
  grep -q '^-- The VLC plug-in (vlc/) left out: missing .*libvlccore-dev' \
    "$WORK/default.log" || fail "no line says the VLC plug-in is left out"
  grep -q '^-- The unit and plug-in tests left out: missing GoogleTest .*libopusfile-dev' \
    "$WORK/default.log" || fail "no line says the unit tests are left out"
  has_target default vantrel || fail "the tool is not generated"
  for t in gstvantrel vantrel_vlc vantrel_tests vantrel_plugin_tests; do
    has_target default $t && fail "$t is generated although its packages are missing"
  done
else
  fail "the configure without the optional packages failed:"
  cat "$WORK/default.log"
fi

configure gst-on -DVANTREL_GST=ON && fail "VANTREL_GST=ON configured without GStreamer"
grep -q 'libgstreamer-plugins-bad1.0-dev' "$WORK/gst-on.log" || fail "VANTREL_GST=ON: no package named"
configure vlc-on -DVANTREL_VLC=ON && fail "VANTREL_VLC=ON configured without VLC's plug-in headers"
grep -q 'libvlccore-dev' "$WORK/vlc-on.log" || fail "VANTREL_VLC=ON: no package named"
configure tests-on -DVANTREL_TESTS=ON && fail "VANTREL_TESTS=ON configured without GoogleTest"
grep -q 'libgtest-dev' "$WORK/tests-on.log" || fail "VANTREL_TESTS=ON: no package named"

link_pc_files "$WORK/pc" '^(gstreamer-.*|vlc-plugin|opusfile|sndfile)\.pc$'
configure no-sndfile && fail "the tool configured without libsndfile"
grep -q 'libsndfile1-dev' "$WORK/no-sndfile.log" || fail "without libsndfile: no package named"
configure no-sndfile-no-tool -DVANTREL_TOOLS=OFF || fail "without libsndfile and the tool, the configure failed"

[ $bad -eq 0 ] && echo "the configure leaves out what lacks its packages, and requires what the tool needs"
exit $bad
