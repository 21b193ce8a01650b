"""The VLC plug-in through libvlc (python3-vlc), as a player application sees it:
the song's texts as metadata and the performance's length after parsing; the
arrangements as titles with their lengths while playing; and a seek to a position
while paused lands exactly on its frame (the file audio output then holds a prefix of
the render followed by the render from that frame on).

    python3 libvlc_check.py VANTREL SONG RENDER_OF_PERFORMANCE_1
VLC_PLUGIN_PATH names the plug-in's folder. Exits non-zero on the first failure."""
import json
import os
import subprocess
import sys
import tempfile
import time

import vlc

tool, song, ref_path = sys.argv[1:4]


def tool_json(*args):
    return json.loads(subprocess.run([tool, *args], capture_output=True, check=True).stdout)


def wait(what, check, seconds=60):
    end = time.monotonic() + seconds
    while not check():
        if time.monotonic() > end:
            sys.exit(f"libvlc: timed out waiting for {what}")
        time.sleep(0.02)


def expect(what, got, want):
    if got != want:
        sys.exit(f"libvlc: {what}: {got!r}, expected {want!r}")


texts = tool_json("info", "--json", song)["song"]
total_ms = {None: tool_json("arrange", song, "--json")[0]["totalMs"]}
names = [a["name"] for a in texts["arrangements"]]
for name in names:
    total_ms[name] = tool_json("arrange", song, "--arrangement", name, "--json")[0]["totalMs"]

with tempfile.TemporaryDirectory() as work:
    out = os.path.join(work, "out.raw")
    instance = vlc.Instance(["--aout=afile", f"--audiofile-file={out}", "--audiofile-format=s16",
                             "--audiofile-channels=2", "--no-audiofile-wav", "--no-video", "--quiet"])

    media = instance.media_new_path(song)
    media.parse_with_options(vlc.MediaParseFlag.local, 20000)
    wait("parsing", lambda: media.get_parsed_status() == vlc.MediaParsedStatus.done)
    for meta, key in [(vlc.Meta.Title, "title"), (vlc.Meta.Artist, "author"),
                      (vlc.Meta.Publisher, "publisher"), (vlc.Meta.Genre, "genre"),
                      (vlc.Meta.Copyright, "copyright")]:
        expect(f"meta {meta}", media.get_meta(meta), texts[key] or None)
    expect("track number", media.get_meta(vlc.Meta.TrackNumber), "1")
    expect("duration", media.get_duration(), total_ms[None])
    print(f"libvlc: parsed: \"{texts['title']}\" by {texts['author']}, {media.get_duration()} ms")

    # Paused at the start, listed, sought to the middle, played to the end.
    media = instance.media_new_path(song)
    media.add_option(":start-paused")
    player = instance.media_player_new()
    player.set_media(media)
    player.play()
    wait("the paused start", lambda: player.get_state() == vlc.State.Paused)
    titles = player.get_full_title_descriptions()
    expect("titles", [(t.name.decode(), t.duration) for t in titles],
           [("any arrangement", total_ms[None])] + [(n, total_ms[n]) for n in names])
    player.set_position(0.5)
    wait("the seek", lambda: player.get_position() >= 0.49)
    player.set_pause(0)
    wait("the end", lambda: player.get_state() == vlc.State.Ended)
    player.stop()
    player.release()

    ref = open(ref_path, "rb").read()
    got = open(out, "rb").read()
    frame = round(0.5 * len(ref) / 4)
    before = len(got) - (len(ref) - 4 * frame)
    if before < 0 or got[:before] != ref[:before] or got[before:] != ref[4 * frame:]:
        sys.exit(f"libvlc: after a seek to position 0.5 the output is not the render from frame {frame}")
    print(f"libvlc: titles {[t.name.decode() for t in titles]}; position 0.5 lands on frame {frame}")
