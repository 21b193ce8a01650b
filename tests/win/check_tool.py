#!/usr/bin/env python3
"""vantrel.exe under wine against the Linux vantrel, and play against render.

    check_tool.py --linux build/vantrel --windows build-win-x86_64/vantrel.exe SONG...

For each song:
- `render --decoder generic --raw` of performances 1 and 2, and of performance 1
  with a seek, give byte for byte the same PCM on Windows as on Linux;
- `vantrel.exe play SONG SONG --out FILE.wav` plays the song twice through
  in_vantrel.dll (two draws) and the WAV's data chunk is byte for byte
  `vantrel.exe render` of performances 1 and 2, one after the other.
Needs an X display for the host window (VANTREL_WINE_DISPLAY, see wine.sh).

Where the two tools cannot run on one machine (the i686 vantrel.exe runs in the
emulated PC, which has no Linux build), the Linux side is done first:

    check_tool.py --linux build/vantrel --reference DIR SONG...      # writes DIR
    check_tool.py --windows vantrel.exe --reference DIR --wine W SONG...  # compares
"""
import argparse
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


def make_reference(linux, folder, songs):
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
    return check.summary("check_tool reference")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--linux", help="the Linux vantrel")
    ap.add_argument("--windows", help="vantrel.exe (in_vantrel.dll beside it)")
    ap.add_argument("--reference", help="the Linux renders: written here without --windows, "
                                        "read from here without --linux")
    ap.add_argument("--wine", default=os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "scripts", "win", "wine.sh"))
    ap.add_argument("--work", help="keep the outputs in this directory")
    ap.add_argument("songs", nargs="+")
    args = ap.parse_args()
    if not (args.linux and args.windows) and not args.reference:
        ap.error("--linux and --windows, or one of them with --reference")

    work = os.path.abspath(args.work or tempfile.mkdtemp(prefix="vantrel-tool-"))
    os.makedirs(work, exist_ok=True)
    if args.linux and not args.windows:
        return make_reference(os.path.abspath(args.linux), os.path.abspath(args.reference), args.songs)
    linux = [os.path.abspath(args.linux)] if args.linux else None
    reference = os.path.abspath(args.reference) if args.reference else None
    windows = [os.path.abspath(args.wine), os.path.abspath(args.windows)]

    for song_path in args.songs:
        # Everything is named relative to the work folder: the Windows tool (as its
        # users expect there) takes an argument that starts with "/" for an option.
        song = os.path.basename(song_path)
        shutil.copyfile(song_path, os.path.join(work, song))
        name = os.path.splitext(song)[0]
        print(f"{name}:")
        renders = {}
        for case, extra in CASES:
            outs = {}
            if reference:
                ref = os.path.join(reference, f"{name}.{case}.generic.linux.raw")
                if check(os.path.exists(ref), f"{name} {case}: no Linux render {ref}"):
                    outs["linux"] = open(ref, "rb").read()
            for side, cmd in (("linux", linux), ("windows", windows)):
                if cmd is None:
                    continue
                out = f"{name}.{case}.generic.{side}.raw"
                rc, text = run(cmd + ["render", song, "--raw", "--decoder", "generic", *extra, "-o", out], work)
                if check(rc == 0 and os.path.exists(os.path.join(work, out)),
                         f"{name} {case} {side} render: exit {rc}: {text.strip()}"):
                    outs[side] = open(os.path.join(work, out), "rb").read()
            if len(outs) == 2:
                same = outs["linux"] == outs["windows"]
                check(len(outs["linux"]) > 0 and len(outs["linux"]) % 4608 == 0,
                      f"{name} {case}: {len(outs['linux'])} bytes is not whole blocks")
                check(same, f"{name} {case}: Windows and Linux generic PCM differ from byte "
                            f"{first_difference(outs['linux'], outs['windows'])}")
                print(f"  render {case} --decoder generic: {len(outs['linux'])} bytes, "
                      f"Windows {'==' if same else '!='} Linux")
        for case in ("perf1", "perf2"):
            out = f"{name}.{case}.windows.raw"
            rc, text = run(windows + ["render", song, "--raw", "--performance", case[-1], "-o", out], work)
            if check(rc == 0, f"{name} {case} windows render (default decoder): exit {rc}: {text.strip()}"):
                renders[case] = open(os.path.join(work, out), "rb").read()

        wav = f"{name}.play.wav"
        rc, text = run(windows + ["play", song, song, "--out", wav], work)
        wav = os.path.join(work, wav)
        if check(rc == 0 and os.path.exists(wav), f"{name} play --out: exit {rc}: {text.strip()}"):
            check(text.count("finished ") == 2, f"{name} play: two songs finished: {text.strip()}")
            try:
                fmt, pcm = wav_data(wav)
            except ValueError as e:
                check(False, f"{name} play: {e}")
                continue
            check(fmt == (1, 2, 44100, 176400, 4, 16), f"{name} play: WAV format {fmt}")
            want = renders.get("perf1", b"") + renders.get("perf2", b"")
            same = pcm == want
            check(same, f"{name} play --out ({len(pcm)} bytes) differs from render of performances 1+2 "
                        f"({len(want)} bytes) from byte {first_difference(pcm, want)}")
            print(f"  play SONG SONG --out: {len(pcm)} bytes, {'==' if same else '!='} render 1 + render 2")

    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return check.summary("check_tool")


if __name__ == "__main__":
    sys.exit(main())
