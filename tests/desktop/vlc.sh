#!/usr/bin/env bash
# The VLC plug-in as users run it: cvlc (as an unprivileged user, see cvlc.sh)
# writes through its file audio output exactly the PCM of `vantrel render --raw` for
# performance 1 of the demo and of the test songs; --start-time gives the samples of
# an unbroken render there; the arrangements play as titles (MRL "#N" and the
# vantrel-arrangement option); performance 0 names the number it drew; libvlc
# (libvlc_check.py) sees the texts, the length and the titles, and a seek to a
# position lands on its frame; every damaged song of the hostile set ends with the
# plug-in's error, with no crash or hang, and the songs that load play.
#   VANTREL=tool CORPUS=vantrel_corpus SOURCE_DIR=. VLC_PLUGIN_PATH=dir tests/desktop/vlc.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -m 777 "$work/out"
fail() { echo "FAIL: $*" >&2; exit 1; }
cvlc() { timeout 120 "$here/cvlc.sh" -I dummy --no-video --play-and-exit --aout afile \
  --audiofile-format=s16 --audiofile-channels=2 --no-audiofile-wav "$@"; }
raw() { # SONG OUT [OPTIONS...]: what cvlc writes for SONG
  local song=$1 out=$2; shift 2
  cvlc --audiofile-file="$work/out/$out" "$@" "$song" 2>"$work/$out.log" ||
    { cat "$work/$out.log"; fail "cvlc $song $*"; }
  cp "$work/out/$out" "$work/$out"
}
ref() { "$VANTREL" render --raw "$@" 2>/dev/null; }

# The demo and the test songs of the unit tests, performance 1.
mkdir -m 755 "$work/songs"
mkdir "$work/seeds"
"$CORPUS" song-seeds "$SOURCE_DIR" "$work/seeds" >/dev/null
cp "$SOURCE_DIR/examples/demo.vn" "$work"/seeds/sample-6?.vn "$work"/seeds/real-*.vn "$work/songs/"
chmod 644 "$work"/songs/*
for song in "$work"/songs/*.vn; do
  name=$(basename "$song" .vn)
  ref "$song" -o "$work/$name.ref"
  raw "$song" "$name.raw"
  cmp -s "$work/$name.ref" "$work/$name.raw" || fail "$name: cvlc's PCM is not vantrel render's"
done
echo "cvlc: performance 1 of $(ls "$work"/songs | wc -l) songs, the PCM of vantrel render --raw"

demo=$work/songs/demo.vn
# --start-time: from frame ceil(12.345 s x 44100) = 544415 on, an unbroken render.
raw "$demo" start.raw --start-time=12.345
tail -c +$((544415 * 4 + 1)) "$work/demo.ref" >"$work/start.ref"
cmp -s "$work/start.ref" "$work/start.raw" || fail "--start-time=12.345 is not the render from frame 544415"
echo "cvlc --start-time=12.345: the render from frame 544415 on"

# Titles: 0 any arrangement, 1 "Short", 2 "Long" (performance 3 of the demo).
ref "$demo" --arrangement Long -o "$work/long.ref"
raw "file://$demo#2" title.raw
cmp -s "$work/long.ref" "$work/title.raw" || fail "title 2 does not play arrangement Long"
raw "$demo" arrangement.raw --vantrel-arrangement=Long
cmp -s "$work/long.ref" "$work/arrangement.raw" || fail "--vantrel-arrangement=Long"
echo "cvlc: title 2 and --vantrel-arrangement=Long play the render of --arrangement Long"

# A fresh draw: the number it names gives the same PCM from the tool.
raw "$demo" drawn.raw --vantrel-performance=0 -v
n=$(sed -n 's/.*playing performance \([0-9]*\) (--vantrel-performance=.*/\1/p' "$work/drawn.raw.log")
[ -n "$n" ] || { cat "$work/drawn.raw.log"; fail "--vantrel-performance=0 names no number"; }
ref "$demo" --performance "$n" -o "$work/drawn.ref"
cmp -s "$work/drawn.ref" "$work/drawn.raw" || fail "--vantrel-performance=0 drew $n but played another"
echo "cvlc --vantrel-performance=0: drew $n, the PCM of vantrel render --performance $n"

/usr/bin/python3 "$here/libvlc_check.py" "$VANTREL" "$demo" "$work/demo.ref" || fail "libvlc checks"

# The hostile set, in one cvlc run of at most 1 s of each song: the plug-in refuses
# exactly the songs that the tool cannot play, each with an error.
mkdir -m 755 "$work/hostile"
"$CORPUS" hostile "$SOURCE_DIR" "$work/hostile" >/dev/null
cp "$SOURCE_DIR/tests/data/clips/mono44k.mp3" "$work/hostile/an-mp3.vn"
chmod 644 "$work"/hostile/*
files=("$work"/hostile/*.vn)
rc=0
timeout 600 "$here/cvlc.sh" -I dummy --no-video --play-and-exit --aout afile --audiofile-file=/dev/null \
  --stop-time=1 "${files[@]}" >/dev/null 2>"$work/hostile.log" || rc=$?
[ "$rc" -eq 0 ] || { tail -20 "$work/hostile.log"; fail "cvlc over the hostile set ended with status $rc"; }
refused=0
for f in "${files[@]}"; do
  if grep -qF "vantrel demux error: $f: " "$work/hostile.log"; then got=refused; else got=played; fi
  if "$VANTREL" arrange "$f" >/dev/null 2>&1; then want=played; else want=refused; fi
  [ "$got" = "$want" ] || fail "$(basename "$f"): cvlc $got it, the tool says it is to be $want"
  [ "$got" = played ] || refused=$((refused + 1))
done
echo "cvlc: ${#files[@]} hostile files in one run, $refused refused with an error, the rest played"
