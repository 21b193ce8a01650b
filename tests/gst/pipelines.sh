#!/usr/bin/env bash
# The GStreamer plug-in from the build tree through GStreamer's own tools, as a user
# runs them: gst-inspect-1.0 lists the element and the type finder; decodebin and
# playbin write exactly the PCM of `vantrel render --raw --performance 1`;
# gst-discoverer-1.0 shows the duration and the tags; performance=0 names the number
# it drew, and the tool renders the same PCM from it; a damaged song ends in an error.
# Called by ctest with VANTREL, GST_PLUGIN, SOURCE_DIR, WORK_DIR and VANTREL_VERSION set (see
# tests/gst/CMakeLists.txt); every GStreamer command runs under a timeout.
set -euo pipefail
work=$(mktemp -d "$WORK_DIR/pipelines.XXXXXX")
trap 'rm -rf "$work"' EXIT
export GST_PLUGIN_PATH=$(dirname "$GST_PLUGIN")
export GST_REGISTRY="$work/registry.bin"
song="$SOURCE_DIR/examples/demo.vn"
t() { timeout 60 "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

"$VANTREL" render "$song" --raw --performance 1 -o "$work/ref.raw" 2>/dev/null

t gst-inspect-1.0 vantreldec >"$work/inspect.txt" || fail "gst-inspect-1.0 vantreldec"
for want in "Codec/Decoder/Audio" "audio/x-vnf" "format: S16LE" "rate: 44100" \
  "performance" "arrangement" "current-performance" "GstNonstreamAudioDecoder"; do
  grep -q -- "$want" "$work/inspect.txt" || fail "gst-inspect-1.0 vantreldec shows no '$want'"
done
t gst-inspect-1.0 vantrel >"$work/inspect-plugin.txt" || fail "gst-inspect-1.0 vantrel"
grep -q 'audio/x-vnf: vn' "$work/inspect-plugin.txt" || fail "no type finder for .vn"
# The plug-in's licence and version, as GStreamer shows them (both in either listing).
for f in inspect inspect-plugin; do
  grep -qE '^ +License +BSD$' "$work/$f.txt" || fail "gst-inspect-1.0 shows no 'License BSD'"
  grep -qE "^ +Version +$VANTREL_VERSION\$" "$work/$f.txt" || fail "gst-inspect-1.0 shows no 'Version $VANTREL_VERSION'"
done
echo "gst-inspect-1.0: vantreldec and the audio/x-vnf type finder, licence BSD, version $VANTREL_VERSION"

t gst-launch-1.0 -q filesrc location="$song" ! decodebin ! audio/x-raw,format=S16LE \
  ! filesink location="$work/decodebin.raw" || fail "decodebin pipeline"
cmp "$work/ref.raw" "$work/decodebin.raw" || fail "decodebin's PCM is not the render's"
echo "decodebin: $(stat -c %s "$work/decodebin.raw") bytes, the same as vantrel render --raw"

# A name without the extension: the type finder recognises the data itself.
cp "$song" "$work/song-without-extension"
t gst-launch-1.0 -q playbin uri="file://$work/song-without-extension" \
  audio-sink="filesink location=$work/playbin.raw" video-sink=fakesink \
  || fail "playbin did not play to the end"
cmp "$work/ref.raw" "$work/playbin.raw" || fail "playbin's PCM is not the render's"
echo "playbin: played to EOS, the same PCM"

t gst-discoverer-1.0 -v "$song" >"$work/discover.txt" || fail "gst-discoverer-1.0"
grep -q "Duration: 0:00:24.000000000" "$work/discover.txt" || {
  cat "$work/discover.txt"; fail "gst-discoverer-1.0 does not show 24.0 s"; }
python3 - "$work/discover.txt" <<PY || fail "gst-discoverer-1.0's tags"
import json, subprocess, sys
info = json.loads(subprocess.run(["$VANTREL", "info", "--json", "$song"],
                                 capture_output=True, check=True).stdout)["song"]
shown = open(sys.argv[1], encoding="utf-8").read()
for tag, key in [("title", "title"), ("artist", "author"), ("organization", "publisher"),
                 ("genre", "genre"), ("copyright", "copyright")]:
    if not info[key] or f"      {tag}: {info[key]}\n" not in shown:
        sys.exit(f"no '{tag}: {info[key]}' in gst-discoverer-1.0's output")
PY
echo "gst-discoverer-1.0: 0:00:24.000000000 and the song's texts as tags"

# performance=0 draws; the number it names gives the same PCM from the tool.
t gst-launch-1.0 filesrc location="$song" ! vantreldec performance=0 \
  ! filesink location="$work/drawn.raw" >"$work/drawn.txt" 2>&1 || fail "performance=0"
n=$(sed -n 's/.*playing performance \([0-9]*\) (performance=.*/\1/p' "$work/drawn.txt" | head -n1)
[ -n "$n" ] || { cat "$work/drawn.txt"; fail "performance=0 does not say which number it drew"; }
"$VANTREL" render "$song" --raw --performance "$n" -o "$work/drawn-ref.raw" 2>/dev/null
cmp "$work/drawn.raw" "$work/drawn-ref.raw" || fail "performance=0 drew $n but played another"
echo "performance=0: drew $n, the PCM of vantrel render --performance $n"

# A damaged song: a clean error with the library's reason, no hang.
head -c 40000 "$song" >"$work/truncated.vn"
# gst-launch-1.0 quits its main loop from its bus's sync handler: an error posted
# while it is still in its first set_state() (here the whole load fails at once)
# is printed, but the loop it then enters never ends. GStreamer's own "could not
# determine type" does the same now and then. So a timeout after the error was
# printed is the tool's; an error must be printed either way.
rc=0
timeout 20 gst-launch-1.0 filesrc location="$work/truncated.vn" ! decodebin ! fakesink \
  >"$work/damaged.txt" 2>&1 || rc=$?
[ "$rc" -ne 0 ] || fail "a truncated song played without an error"
grep -q "ERROR: from element .*vantreldec.*File is not a VNF or is corrupted" "$work/damaged.txt" || {
  cat "$work/damaged.txt"; fail "no plain error for a truncated song (exit status $rc)"; }
echo "truncated song: $(grep -m1 '^ERROR' "$work/damaged.txt")$([ "$rc" -ne 124 ] ||
  echo " (gst-launch-1.0 then hung in its main loop and was stopped)")"
