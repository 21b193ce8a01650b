"""The VLC plug-in through libvlc (python3-vlc), as a player application sees it.

    python3 libvlc_check.py VANTREL song SONG RENDER_OF_PERFORMANCE_1
the song's texts as metadata and the performance's length after parsing; the
arrangements as titles with their lengths while playing; and a seek to a position
while paused lands exactly on its frame (the file audio output then holds a prefix of
the render followed by the render from that frame on).

    python3 libvlc_check.py VANTREL hostile SONG...
each song ends in an error exactly when `vantrel arrange` cannot draw a performance
of it (a song that does not load, or has nothing to play), and otherwise
plays (its first second, into a stream output, which runs as fast as it can), with
no crash and no hang. (cvlc's playlist waits seconds after each item that fails to
open, so a whole set goes through libvlc, one player at a time.)

VLC_PLUGIN_PATH names the plug-in's folder. Exits non-zero on the first failure."""
import json
import os
import subprocess
import sys
import tempfile
import time

import vlc

tool, mode = sys.argv[1:3]


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


def hostile(songs):
    instance = vlc.Instance(["--sout=#std{access=file,mux=raw,dst=/dev/null}", "--aout=adummy",
                             "--no-video", "--quiet"])
    refused = 0
    for song in songs:
        media = instance.media_new_path(song)
        media.add_option(":stop-time=1")
        player = instance.media_player_new()
        player.set_media(media)
        # A song that cannot be opened ends with an error event (its state says Ended).
        events = []
        for kind, what in [(vlc.EventType.MediaPlayerEncounteredError, "refused"),
                           (vlc.EventType.MediaPlayerEndReached, "played")]:
            player.event_manager().event_attach(kind, lambda _event, what=what: events.append(what))
        player.play()
        wait(f"the end of {song}", lambda: events, 20)
        got = events[0]
        player.stop()
        player.release()
        arranged = subprocess.run([tool, "arrange", song, "--json"], capture_output=True)
        playable = arranged.returncode == 0 and json.loads(arranged.stdout)[0]["result"] == 1
        want = "played" if playable else "refused"
        expect(f"{os.path.basename(song)} through libvlc", got, want)
        refused += got == "refused"
    print(f"libvlc: {len(songs)} hostile files, {refused} refused, the rest played")


if mode == "hostile":
    hostile(sys.argv[3:])
    sys.exit(0)
song, ref_path = sys.argv[3:5]
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
    titles = list(player.get_full_title_descriptions())
    expect("titles", [(t.name.decode(), t.duration) for t in titles],
           [("any arrangement", total_ms[None])] + [(n, total_ms[n]) for n in names])
    player.set_position(0.9)
    wait("the seek", lambda: player.get_position() >= 0.89)
    player.set_pause(0)
    wait("the end", lambda: player.get_state() == vlc.State.Ended)
    player.stop()
    player.release()

    ref = open(ref_path, "rb").read()
    got = open(out, "rb").read()
    frame = round(0.9 * total_ms[None] * 44100 / 1000)  # of the length, not of the last block
    before = len(got) - (len(ref) - 4 * frame)
    if before < 0 or got[:before] != ref[:before] or got[before:] != ref[4 * frame:]:
        sys.exit(f"libvlc: after a seek to position 0.9 the output is not the render from frame {frame}")
    print(f"libvlc: titles {[t.name.decode() for t in titles]}; position 0.9 lands on frame {frame}")
