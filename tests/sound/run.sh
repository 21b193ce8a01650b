#!/usr/bin/env bash
# vantrel play and gst-play-1.0 on a real sound server.
#
# Starts a PulseAudio daemon of its own (user mode, its own HOME and runtime folder,
# no hardware: one null sink at 44 100 Hz s16le stereo, volume 100 %), records the
# sink's monitor with parec, and checks that (the sink does not rewind: a rewind
# re-mixes what the monitor has already recorded, so a new stream's first quarter
# second would be lost to the recording):
#   1. `vantrel play examples/demo.vn --performance 1` (libout123's pulse output)
#      sounds exactly the PCM of `vantrel render --raw --performance 1`;
#   2. gst-play-1.0 with the element vantreldec (pulsesink) does the same;
#   3. the keys of `vantrel play` in a terminal (tmux): space pauses (a gap in the
#      recording, the elapsed time stands still), the right arrow seeks 10 s on to the
#      start of the entry that holds that time, q stops at once with exit status 0;
#      the screen shows the title, elapsed/total and the level meter.
# Every wait is for something to happen (the recording growing, the screen
# changing), bounded by a generous limit; no check depends on how long things take.
# The daemon runs as whoever runs the test: as root PulseAudio warns that it is
# "not intended to be run as root" and carries on, which is what CI needs.
#
#   tests/sound/run.sh             uses build/ (or $BUILD_DIR)
# Where pulseaudio cannot start the test says so and skips, except under CI (CI=true),
# where that is a failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
export LC_ALL=C  # pactl's labels are parsed below
root=$PWD
build=$(realpath "${BUILD_DIR:-build}")
song=$root/examples/demo.vn
pcm() { python3 "$root/tests/sound/pcm.py" "$@"; }

work=$(mktemp -d /tmp/vantrel-sound.XXXXXX)
pulse_pid="" parec_pid="" tmux_sock="$work/tmux.sock"
cleanup() {
  [ -z "$parec_pid" ] || kill "$parec_pid" 2>/dev/null || true
  tmux -S "$tmux_sock" kill-server 2>/dev/null || true
  if [ -n "$pulse_pid" ]; then
    kill "$pulse_pid" 2>/dev/null || true
    wait "$pulse_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
[ -z "${SOUND_DEBUG:-}" ] || trap "kill \$parec_pid 2>/dev/null; kill \$pulse_pid" EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# until LIMIT_SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
until_true() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# --- the server -------------------------------------------------------------------
mkdir -p "$work/home" "$work/run" "$work/state"
chmod 700 "$work/run"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" PULSE_RUNTIME_PATH="$work/run" \
  PULSE_STATE_PATH="$work/state" PULSE_SERVER="unix:$work/run/native"
unset DBUS_SESSION_BUS_ADDRESS
skip() {
  if [ "${CI:-}" = true ]; then fail "$* (CI must run this test)"; fi
  echo "SKIP: sound-server tests: $*"
  exit 0
}
command -v pulseaudio >/dev/null || skip "pulseaudio is not installed (apt-get install pulseaudio pulseaudio-utils)"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disallow-exit \
  --log-target=stderr --log-level=error \
  --load="module-null-sink sink_name=vantrel rate=44100 format=s16le channels=2 norewinds=1 sink_properties=device.description=vantrel" \
  --load="module-native-protocol-unix socket=$work/run/native auth-anonymous=1" \
  2>"$work/pulse.log" &
pulse_pid=$!
if ! until_true 20 pactl info >/dev/null 2>&1; then
  cat "$work/pulse.log" >&2
  skip "pulseaudio did not start"
fi
pactl set-sink-volume vantrel 100%
pactl set-sink-mute vantrel 0
pactl set-source-volume vantrel.monitor 100%
sample_format=$(pactl list sinks | sed -n 's/^\s*Sample Specification: //p')
[ "$sample_format" = "s16le 2ch 44100Hz" ] || fail "the null sink is $sample_format"
echo "pulseaudio $(pulseaudio --version | awk '{print $2}') (pid $pulse_pid): null sink $sample_format, volume 100 %"

"$build/vantrel" render "$song" --raw --performance 1 -o "$work/ref.raw" 2>/dev/null

# The parec just started is connected (not one stopped before, still listed).
recording_connected() {
  [[ "$(pactl list source-outputs)" == *"application.process.id = \"$parec_pid\""* ]]
}
# record FILE: starts parec on the sink's monitor.
record() {
  parec -d vantrel.monitor --format=s16le --rate=44100 --channels=2 --raw >"$1" &
  parec_pid=$!
  until_true 20 recording_connected || fail "parec did not connect"
}
size_at_least() { [ "$(stat -c %s "$1")" -ge "$2" ]; }
# stop_recording FILE: waits until a second more of the monitor is in FILE (so that
# everything played before is), then stops parec.
stop_recording() {
  local want=$(($(stat -c %s "$1") + 176400))
  until_true 30 size_at_least "$1" "$want" || fail "the recording stopped growing"
  kill "$parec_pid"
  wait "$parec_pid" 2>/dev/null || true
  parec_pid=""
}
# A stream's volume must be 100 % too: played streams show it while they play.
check_volume() {
  pactl list sink-inputs | grep -E '^\s*Volume:' | grep -v -E '100%.*100%' && return 1
  return 0
}

# --- 1. vantrel play ------------------------------------------------------------------
record "$work/play.raw"
"$build/vantrel" play "$song" --performance 1 </dev/null >"$work/play.txt" 2>&1 ||
  { cat "$work/play.txt"; fail "vantrel play failed"; }
stop_recording "$work/play.raw"
echo "vantrel play: $(head -n1 "$work/play.txt")"
pcm whole "$work/play.raw" "$work/ref.raw" "vantrel play" || fail "vantrel play did not sound the render's PCM"

# --- 2. gst-play-1.0 with vantreldec ---------------------------------------------------
export GST_PLUGIN_PATH="$build/gst" GST_REGISTRY="$work/registry.bin"
record "$work/gst.raw"
# A 2 s buffer in pulsesink, so that a busy machine does not make the server run dry.
timeout 120 gst-play-1.0 --no-interactive -q \
  --audiosink="pulsesink buffer-time=2000000 latency-time=20000" "$song" \
  >"$work/gst.txt" 2>&1 || { cat "$work/gst.txt"; fail "gst-play-1.0 failed"; }
stop_recording "$work/gst.raw"
pcm whole "$work/gst.raw" "$work/ref.raw" "gst-play-1.0" || fail "gst-play-1.0 did not sound the render's PCM"

# --- 3. the keys -----------------------------------------------------------------------
# Each entry of performance 1 played from its start, as the seek plays it: render
# --seek with a percentage that falls inside the entry (the first entry needs none).
"$build/vantrel" arrange "$song" --json >"$work/arrange.json"
python3 - "$work" "$build/vantrel" "$song" <<'PY'
import json, subprocess, sys
work, vantrel, song = sys.argv[1:]
perf = json.load(open(f"{work}/arrange.json"))[0]
info = json.loads(subprocess.run([vantrel, "info", "--json", song], capture_output=True,
                                 check=True).stdout)["song"]
total = perf["totalMs"]
start, entries = 0, {}
for section, variation in perf["sequence"]:
    length = info["sections"][section]["variations"][variation]["lengthMs"]
    if start > 0:
        percent = start * 100 // total + 1
        assert start <= percent * total / 100 < start + length, "no percentage in the entry"
        path = f"{work}/entry-{start}.raw"
        subprocess.run([vantrel, "render", song, "--raw", "--performance", "1", "--seek",
                        f"{percent}@0", "-o", path], check=True, capture_output=True)
        entries[start] = path
    start += length
json.dump(entries, open(f"{work}/entries.json", "w"))
PY

screen() { tmux -S "$tmux_sock" capture-pane -p -t vn; }
# The status line: "  M:SS / M:SS  L[meter] R[meter] paused".
elapsed() { screen | sed -n 's|^ *\([0-9]*:[0-9][0-9]\) / [0-9]*:[0-9][0-9].*|\1|p' | tail -n1; }
state() { pcm state "$work/keys.raw"; }
sound_at_least() { awk -v s="$(state)" -v want="$1" 'BEGIN { split(s, a, " "); exit !(a[1] >= want) }'; }
silence_at_least() { awk -v s="$(state)" -v want="$1" 'BEGIN { split(s, a, " "); exit !(a[2] >= want) }'; }
sounding() { awk -v s="$(state)" 'BEGIN { split(s, a, " "); exit !(a[2] < 0.05) }'; }
screen_shows() { [[ "$(screen)" == *"$1"* ]]; }
screen_lacks() { [[ "$(screen)" != *"$1"* ]]; }

record "$work/keys.raw"
tmux -S "$tmux_sock" new-session -d -s vn -x 100 -y 12 \
  "'$build/vantrel' play '$song' --performance 1; echo \$? >'$work/rc'; sleep 600"
until_true 60 sound_at_least 3 || fail "vantrel play in tmux sounds nothing"
until_true 10 screen_shows " / 0:24" || { screen; fail "no elapsed/total on the screen"; }
screen >"$work/screen-playing.txt"
check_volume || fail "the stream's volume is not 100 %"

tmux -S "$tmux_sock" send-keys -t vn Space
until_true 10 screen_shows "paused" || { screen; fail "space did not pause"; }
until_true 30 silence_at_least 1.5 || fail "the recording goes on sounding after the pause"
first=$(elapsed)
until_true 30 silence_at_least 2.5 || fail "the recording stopped growing during the pause"
second=$(elapsed)
screen >"$work/screen-paused.txt"
[ -n "$first" ] && [ "$first" = "$second" ] ||
  fail "the elapsed time moved during the pause ($first, then $second)"
tmux -S "$tmux_sock" send-keys -t vn Space
until_true 10 screen_lacks "paused" || fail "space did not resume"
until_true 30 sounding || fail "the play did not sound again after the pause"
sound_now=$(state | awk '{print $1}')
until_true 30 sound_at_least "$(awk -v s="$sound_now" 'BEGIN { print s + 1 }')" ||
  fail "the play stopped sounding after the pause"

# The elapsed time jumps on to the start of the entry that holds it + 10 s (the
# recording shows which entry; the demo's entries last at most 8 s).
before=$(elapsed)
tmux -S "$tmux_sock" send-keys -t vn Right
seconds_of() { echo $((10#${1%%:*} * 60 + 10#${1#*:})); }
after_seek() { local e; e=$(elapsed); [ -n "$e" ] && [ "$(seconds_of "$e")" -ge "$(($(seconds_of "$before") + 2))" ]; }
until_true 10 after_seek || { screen; fail "the right arrow did not move the elapsed time on from $before"; }
screen >"$work/screen-seek.txt"
# Let a second and a half of the entry sound, then quit.
sound_now=$(state | awk '{print $1}')
until_true 30 sound_at_least "$(awk -v s="$sound_now" 'BEGIN { print s + 1.5 }')" ||
  fail "nothing sounds after the seek"
tmux -S "$tmux_sock" send-keys -t vn q
quit_at=$SECONDS
until_true 10 test -s "$work/rc" || fail "q did not stop vantrel play within 10 s"
echo "q: vantrel play ended $((SECONDS - quit_at)) s after the key, exit status $(cat "$work/rc")"
[ "$(cat "$work/rc")" = 0 ] || fail "vantrel play exited with $(cat "$work/rc") after q"
stop_recording "$work/keys.raw"

for f in playing paused seek; do
  echo "--- screen while $f:"
  sed -e '/^$/d' "$work/screen-$f.txt"
done
# The title is the plug-in's: the song's file name (as the media player shows it).
head -n1 "$work/screen-playing.txt" | grep -qxF "$song" || fail "the screen shows no title"
grep -Eq 'L\[#+ *\] R\[#+ *\]' "$work/screen-playing.txt" || fail "the level meter shows nothing while playing"
grep -q "paused" "$work/screen-paused.txt" || fail "the screen does not say paused"
pcm keys "$work/keys.raw" "$work/ref.raw" "$work/entries.json" ||
  fail "the recording of the keys test is not what the keys ask for"
echo "sound: all checks passed"
