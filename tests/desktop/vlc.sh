#!/usr/bin/env bash
# The VLC plug-in as users run it: cvlc (as an unprivileged user, see cvlc.sh)
# writes through its file audio output exactly the PCM of `vantrel render --raw` for
# performance 1 of the demo and of the test songs; --start-time gives the samples of
# an unbroken render there; the arrangements play as titles (MRL "#N" and the
# vantrel-arrangement option); performance 0 names the number it drew; libvlc
# (libvlc_check.py) sees the texts, the length and the titles, and a seek to a
# position lands on its frame; every damaged song of the hostile set ends with the
# plug-in's error, with no crash or hang, and the songs that load play.
# The file audio output plays in real time, so the checks play short songs, or the
# ends of the demo, where they can.
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
# --start-time: from frame ceil(21.345 s x 44100) = 941315 on, an unbroken render.
raw "$demo" start.raw --start-time=21.345
tail -c +$((941315 * 4 + 1)) "$work/demo.ref" >"$work/start.ref"
cmp -s "$work/start.ref" "$work/start.raw" || fail "--start-time=21.345 is not the render from frame 941315"
echo "cvlc --start-time=21.345: the render from frame 941315 on"

# Titles of a test song: 0 any arrangement, 1 "Main", 2 "Other".
song=$work/songs/real-all-61.vn
ref "$song" --arrangement Other -o "$work/other.ref"
raw "$song" arrangement.raw --vantrel-arrangement=Other
cmp -s "$work/other.ref" "$work/arrangement.raw" || fail "--vantrel-arrangement=Other"
# VLC switches to the MRL's title after it has started the input, like a title
# chosen from the menu: the switch may cost a block's worth at the start (seen once
# in some thirty runs), so the title's second half is compared.
raw "file://$song#2" title.raw
half=$(($(stat -c %s "$work/other.ref") / 8 * 4))
cmp -s <(tail -c "$half" "$work/other.ref") <(tail -c "$half" "$work/title.raw") ||
  fail "title 2 does not play arrangement Other"
echo "cvlc: --vantrel-arrangement=Other plays the render of --arrangement Other, and so does title 2"

# A fresh draw: the number it names gives the same PCM from the tool.
raw "$song" drawn.raw --vantrel-performance=0 -v
n=$(sed -n 's/.*playing performance \([0-9]*\) (--vantrel-performance=.*/\1/p' "$work/drawn.raw.log")
[ -n "$n" ] || { cat "$work/drawn.raw.log"; fail "--vantrel-performance=0 names no number"; }
ref "$song" --performance "$n" -o "$work/drawn.ref"
cmp -s "$work/drawn.ref" "$work/drawn.raw" || fail "--vantrel-performance=0 drew $n but played another"
echo "cvlc --vantrel-performance=0: drew $n, the PCM of vantrel render --performance $n"

/usr/bin/python3 "$here/libvlc_check.py" "$VANTREL" song "$demo" "$work/demo.ref" || fail "libvlc checks"

# The hostile set: damaged songs, and an MP3 file named as a song.
mkdir -m 755 "$work/hostile"
"$CORPUS" hostile "$SOURCE_DIR" "$work/hostile" >/dev/null
cp "$SOURCE_DIR/tests/data/clips/mono44k.mp3" "$work/hostile/an-mp3.vn"
chmod 644 "$work"/hostile/*
/usr/bin/python3 "$here/libvlc_check.py" "$VANTREL" hostile "$work"/hostile/*.vn || fail "the hostile set through libvlc"
# cvlc itself, one run per song (its playlist waits after each song it cannot open),
# on a sample of the kinds of damage: each song that does not load ends with the
# plug-in's error.
for f in "$work"/hostile/{an-mp3,header-*,clip-count-*,cut-9,cut-60,cut-500,flip-1,flip-2}.vn; do
  [ -e "$f" ] || continue
  "$VANTREL" info "$f" >/dev/null 2>&1 && continue
  rc=0
  timeout 60 "$here/cvlc.sh" -I dummy --no-video --play-and-exit \
    --sout='#std{access=file,mux=raw,dst=/dev/null}' "$f" >/dev/null 2>"$work/hostile.log" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$work/hostile.log"; fail "cvlc $(basename "$f"): exit status $rc"; }
  grep -qF "vantrel demux error: $f: " "$work/hostile.log" ||
    { cat "$work/hostile.log"; fail "cvlc $(basename "$f"): no error from the plug-in"; }
done
echo "cvlc: damaged songs end with the plug-in's error, e.g. $(grep -o 'vantrel demux error: .*' "$work/hostile.log" | sed "s|$work/hostile/||")"
