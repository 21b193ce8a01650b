#!/usr/bin/env python3
"""vantrel.exe under wine against the Linux vantrel, and play against render.

    check_tool.py --linux build/vantrel --windows build-win-x86_64/vantrel.exe SONG...

For each song:
- `render --decoder generic --raw` of performances 1 and 2, and of performance 1
  with a seek, give byte for byte the same PCM on Windows as on Linux;
- with --files, `render --decoder generic -o FILE.wav` and `-o FILE.flac`
  (libsndfile, with the song's tags) give byte for byte the same files;
  `-o FILE.ogg`, `.opus` and `.mp3` write files of their kind (Ogg streams carry
  random serial numbers, so only their kind is checked; `--skip-lossy` leaves them
  out);
- `vantrel.exe play SONG SONG --out FILE.wav` plays the song twice through
  in_vantrel.dll (two draws) and the WAV's data chunk is byte for byte
  `vantrel.exe render` of performances 1 and 2, one after the other.
And once, with --files: `pack` of a manifest whose clips are WAV files (44 100 Hz stereo 16-bit,
22 050 Hz mono 16-bit, 48 000 Hz stereo 24-bit: encoded to MP3 by LAME, resampled
and widened to stereo) gives byte for byte the same song on Windows as on Linux.
Needs an X display for the host window (VANTREL_WINE_DISPLAY, see wine.sh).

Where the two tools cannot run on one machine (the i686 vantrel.exe runs in the
emulated PC, which has no Linux build), the Linux side is done first:

    check_tool.py --linux build/vantrel --reference DIR [--files] SONG...  # writes DIR
    check_tool.py --windows vantrel.exe --reference DIR --wine W SONG...  # compares
"""
import argparse
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from checks import Checks

check = Checks(indent="  ")


def run(cmd, cwd):
    p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=600)
    return p.returncode, p.stdout + p.stderr


def wav_data(path):
    """The data chunk of a RIFF/WAVE file, after checking its format chunk."""
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a RIFF/WAVE file")
    p, fmt, pcm = 12, None, None
    while p + 8 <= len(data):
        cid, size = data[p:p + 4], struct.unpack_from("<I", data, p + 4)[0]
        body = data[p + 8:p + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif cid == b"data":
            pcm = body
        p += 8 + size + (size & 1)
    if fmt is None or pcm is None:
        raise ValueError("no fmt or data chunk")
    return fmt, pcm


def first_difference(a, b):
    n = min(len(a), len(b))
    return next((i for i in range(n) if a[i] != b[i]), n)


CASES = [("perf1", ["--performance", "1"]), ("perf2", ["--performance", "2"]),
         ("seek", ["--performance", "1", "--seek", "50@3"])]
# Files whose bytes must agree (same libsndfile and libFLAC on both sides).
FILE_CASES = ["wav", "flac"]
# Files whose kind is checked: extension, the bytes they start with.
LOSSY_CASES = [("ogg", b"OggS"), ("opus", b"OggS"), ("mp3", b"ID3")]


def write_wav(path, rate, channels, bits, seconds, seed):
    """A deterministic sound (tones and noise from a fixed generator), as WAV."""
    frames = int(rate * seconds)
    x = seed
    out = bytearray()
    full = (1 << (bits - 1)) - 1
    for i in range(frames):
        t = i / rate
        env = math.exp(-3.0 * t) if t < seconds / 2 else math.exp(-3.0 * (seconds - t))
        for c in range(channels):
            x = (x * 1103515245 + 12345) & 0x7FFFFFFF
            v = 0.4 * math.sin(2 * math.pi * (220.0 * (c + 1)) * t) + 0.1 * (x / 0x3FFFFFFF - 1.0)
            out += int(max(-1.0, min(1.0, v * env)) * full).to_bytes(bits // 8, "little", signed=True)
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(out)) + out
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


PACK_MANIFEST = """{
  "title": "Pack check", "author": "Vantrel tests", "genre": "Test",
  "clips": [
    {"name": "stereo", "file": "sounds/stereo.wav"},
    {"name": "mono", "file": "sounds/mono22k.wav"},
    {"name": "wide", "file": "sounds/stereo48k24.wav"}
  ],
  "sections": [
    {"name": "A", "variations": [{"name": "one", "tracks": [
      {"name": "T1", "events": [{"clip": "stereo", "startMs": 0}, {"clip": "mono", "startMs": 500}]},
      {"name": "T2", "events": [{"clip": "wide", "startMs": 250, "volume": 100}]}]}]}
  ]
}
"""


def make_pack_input(folder):
    """The manifest and its WAV sounds, in `folder`; returns the manifest's name."""
    os.makedirs(os.path.join(folder, "sounds"), exist_ok=True)
    write_wav(os.path.join(folder, "sounds", "stereo.wav"), 44100, 2, 16, 1.0, 1)
    write_wav(os.path.join(folder, "sounds", "mono22k.wav"), 22050, 1, 16, 0.7, 2)
    write_wav(os.path.join(folder, "sounds", "stereo48k24.wav"), 48000, 2, 24, 0.5, 3)
    with open(os.path.join(folder, "pack.json"), "w") as f:
        f.write(PACK_MANIFEST)
    return "pack.json"


def file_render_args(name, song, ext, side):
    out = f"{name}.perf1.generic.{side}.{ext}"
    return out, ["render", song, "--decoder", "generic", "--performance", "1", "-o", out]


def make_reference(linux, folder, songs, files):
    """The Linux renders of every case, into `folder`, for a later comparison."""
    os.makedirs(folder, exist_ok=True)
    for song_path in songs:
        name = os.path.splitext(os.path.basename(song_path))[0]
        for case, extra in CASES:
            out = os.path.join(folder, f"{name}.{case}.generic.linux.raw")
            rc, text = run([linux, "render", os.path.abspath(song_path), "--raw", "--decoder", "generic",
                            *extra, "-o", out], folder)
            check(rc == 0 and os.path.exists(out) and os.path.getsize(out) > 0,
                  f"{name} {case} linux render: exit {rc}: {text.strip()}")
        for ext in FILE_CASES if files else []:
            out, cmd = file_render_args(name, os.path.abspath(song_path), ext, "linux")
            rc, text = run([linux, *cmd], folder)
            check(rc == 0 and os.path.exists(os.path.join(folder, out)),
                  f"{name} {ext} linux render: exit {rc}: {text.strip()}")
    if files:
        manifest = make_pack_input(folder)
        rc, text = run([linux, "pack", manifest, "-o", "pack.linux.vn"], folder)
        check(rc == 0 and os.path.exists(os.path.join(folder, "pack.linux.vn")),
              f"linux pack: exit {rc}: {text.strip()}")
    return check.summary("check_tool reference")


def compare(outs, what, unit):
    """Checks that the Linux and Windows outputs in `outs` are the same bytes."""
    if len(outs) != 2:
        return
    same = outs["linux"] == outs["windows"]
    check(same, f"{what}: Windows and Linux {unit} differ from byte "
                f"{first_difference(outs['linux'], outs['windows'])} "
                f"({len(outs['windows'])} and {len(outs['linux'])} bytes)")
    print(f"  {what}: {len(outs['linux'])} bytes, Windows {'==' if same else '!='} Linux")


def run_sides(sides, cmd_for, work, what):
    """Runs the command `cmd_for(side)` gives (arguments, output name) for each side;
    returns the outputs that were written, by side."""
    outs = {}
    for side, tool in sides:
        args, out = cmd_for(side)
        rc, text = run(tool + args, work)
        if check(rc == 0 and os.path.exists(os.path.join(work, out)),
                 f"{what} {side}: exit {rc}: {text.strip()}"):
            outs[side] = open(os.path.join(work, out), "rb").read()
    return outs


def reference_of(reference, outs, file_name, what):
    if reference:
        ref = os.path.join(reference, file_name)
        if check(os.path.exists(ref), f"{what}: no Linux output {ref}"):
            outs["linux"] = open(ref, "rb").read()
    return outs


def check_pcm(sides, reference, work, song, name):
    """Bare PCM renders with the generic decoder: the same on both sides."""
    for case, extra in CASES:
        outs = run_sides(sides, lambda side: (
            ["render", song, "--raw", "--decoder", "generic", *extra, "-o", f"{name}.{case}.generic.{side}.raw"],
            f"{name}.{case}.generic.{side}.raw"), work, f"{name} {case} render")
        reference_of(reference, outs, f"{name}.{case}.generic.linux.raw", f"{name} {case}")
        if len(outs) == 2:
            check(len(outs["linux"]) > 0 and len(outs["linux"]) % 4608 == 0,
                  f"{name} {case}: {len(outs['linux'])} bytes is not whole blocks")
        compare(outs, f"render {case} --decoder generic --raw", "PCM")


def check_files(sides, reference, work, song, name, windows, lossy):
    """WAV and FLAC files the same on both sides; the lossy ones of their kind."""
    for ext in FILE_CASES:
        outs = run_sides(sides, lambda side: tuple(reversed(file_render_args(name, song, ext, side))),
                         work, f"{name} {ext} render")
        reference_of(reference, outs, f"{name}.perf1.generic.linux.{ext}", f"{name} {ext}")
        compare(outs, f"render -o {ext} --decoder generic", "files")
    for ext, magic in LOSSY_CASES if lossy else []:
        out = f"{name}.perf1.windows.{ext}"
        rc, text = run(windows + ["render", song, "--performance", "1", "-o", out], work)
        if check(rc == 0 and os.path.exists(os.path.join(work, out)),
                 f"{name} {ext} windows render: exit {rc}: {text.strip()}"):
            data = open(os.path.join(work, out), "rb").read()
            check(data.startswith(magic) and len(data) > 10000,
                  f"{name} {ext}: {len(data)} bytes starting {data[:4]!r}, not a {ext} file")
            print(f"  render -o {ext}: {len(data)} bytes")


def check_play(windows, work, song, name):
    """play SONG SONG --out through the DLL: render of performances 1 and 2."""
    renders = {}
    for case in ("perf1", "perf2"):
        out = f"{name}.{case}.windows.raw"
        rc, text = run(windows + ["render", song, "--raw", "--performance", case[-1], "-o", out], work)
        if check(rc == 0, f"{name} {case} windows render (default decoder): exit {rc}: {text.strip()}"):
            renders[case] = open(os.path.join(work, out), "rb").read()
    wav = f"{name}.play.wav"
    rc, text = run(windows + ["play", song, song, "--out", wav], work)
    wav = os.path.join(work, wav)
    if not check(rc == 0 and os.path.exists(wav), f"{name} play --out: exit {rc}: {text.strip()}"):
        return
    check(text.count("finished ") == 2, f"{name} play: two songs finished: {text.strip()}")
    try:
        fmt, pcm = wav_data(wav)
    except ValueError as e:
        check(False, f"{name} play: {e}")
        return
    check(fmt == (1, 2, 44100, 176400, 4, 16), f"{name} play: WAV format {fmt}")
    want = renders.get("perf1", b"") + renders.get("perf2", b"")
    same = pcm == want
    check(same, f"{name} play --out ({len(pcm)} bytes) differs from render of performances 1+2 "
                f"({len(want)} bytes) from byte {first_difference(pcm, want)}")
    print(f"  play SONG SONG --out: {len(pcm)} bytes, {'==' if same else '!='} render 1 + render 2")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--linux", help="the Linux vantrel")
    ap.add_argument("--windows", help="vantrel.exe (in_vantrel.dll beside it)")
    ap.add_argument("--reference", help="the Linux renders: written here without --windows, "
                                        "read from here without --linux")
    ap.add_argument("--wine", default=os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "scripts", "win", "wine.sh"))
    ap.add_argument("--work", help="keep the outputs in this directory")
    ap.add_argument("--files", action="store_true",
                    help="also the WAV, FLAC, Ogg Vorbis, Opus and MP3 renders and pack")
    ap.add_argument("--skip-lossy", action="store_true",
                    help="with --files: leave out the Ogg Vorbis, Opus and MP3 renders")
    ap.add_argument("--skip-pcm", action="store_true",
                    help="leave out the bare PCM renders and play (with --files: only those)")
    ap.add_argument("songs", nargs="+")
    args = ap.parse_args()
    if not (args.linux and args.windows) and not args.reference:
        ap.error("--linux and --windows, or one of them with --reference")

    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="vantrel-tool-"))
    os.makedirs(work, exist_ok=True)
    if args.linux and not args.windows:
        return make_reference(os.path.abspath(args.linux), os.path.abspath(args.reference), args.songs,
                              args.files)
    linux = [os.path.abspath(args.linux)] if args.linux else None
    reference = os.path.abspath(args.reference) if args.reference else None
    windows = [os.path.abspath(args.wine), os.path.abspath(args.windows)]
    sides = [(side, tool) for side, tool in (("linux", linux), ("windows", windows)) if tool]

    for song_path in args.songs:
        # Everything is named relative to the work folder: the Windows tool (as its
        # users expect there) takes an argument that starts with "/" for an option.
        song = os.path.basename(song_path)
        shutil.copyfile(song_path, os.path.join(work, song))
        name = os.path.splitext(song)[0]
        print(f"{name}:")
        if not args.skip_pcm:
            check_pcm(sides, reference, work, song, name)
        if args.files:
            check_files(sides, reference, work, song, name, windows, not args.skip_lossy)
        if not args.skip_pcm:
            check_play(windows, work, song, name)
    if args.files:
        check_pack(sides, reference, work)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return check.summary("check_tool")


def check_pack(sides, reference, work):
    """pack of WAV sounds: the same song, byte for byte, from both tools."""
    print("pack:")
    manifest = make_pack_input(work)
    outs = run_sides(sides, lambda side: (["pack", manifest, "-o", f"pack.{side}.vn"], f"pack.{side}.vn"),
                     work, "pack")
    reference_of(reference, outs, "pack.linux.vn", "pack")
    compare(outs, "pack of 3 WAV sounds", "songs")
    windows = dict(sides)["windows"]
    if "windows" in outs:
        rc, text = run(windows + ["info", "pack.windows.vn"], work)
        check(rc == 0 and "Pack check" in text and text.count("kind") >= 3,
              f"windows info of the packed song: exit {rc}: {text.strip()}")


if __name__ == "__main__":
    sys.exit(main())
