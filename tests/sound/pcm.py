#!/usr/bin/env python3
"""Compares a recording of the sound server's null sink with rendered PCM.

All PCM is 44 100 Hz, signed 16-bit little-endian stereo (4 bytes a frame).

  pcm.py whole REC REF          the recording holds exactly REF: every frame of it,
                                in order, bit for bit, and nothing but silence
                                besides (silence where the server ran dry is
                                reported; no frame of REF may be missing)
  pcm.py keys REC REF ENTRIES   the recording of the keys test: REF from its start
                                until a pause (a gap of silence), REF again from at
                                most 3 s after the pause, then one entry started
                                afresh by the seek (ENTRIES: a JSON file mapping
                                entry start ms to the PCM file of that entry's
                                render with --seek), about 10 s on from where the
                                seek was pressed, then silence
  pcm.py state REC              seconds of sound so far, and of trailing silence
"""
import json
import re
import sys

FRAME = 4
RATE = 44100
NONZERO = re.compile(rb"[^\x00]")


def load(path):
    with open(path, "rb") as f:
        data = f.read()
    return data[: len(data) // FRAME * FRAME]


def frames(data):
    return len(data) // FRAME


def first_sound(data, start=0):
    """The first frame at or after `start` that is not silent, or None."""
    m = NONZERO.search(data, start * FRAME)
    return None if m is None else m.start() // FRAME


def last_sound(data):
    """One past the last frame that is not silent (0 when all is silent)."""
    stripped = data.rstrip(b"\x00")
    return (len(stripped) + FRAME - 1) // FRAME


def match_length(a, ai, b, bi):
    """How many frames of a from ai equal those of b from bi."""
    n = min(frames(a) - ai, frames(b) - bi)
    if n <= 0:
        return 0
    if a[ai * FRAME:(ai + n) * FRAME] == b[bi * FRAME:(bi + n) * FRAME]:
        return n
    lo, hi = 0, n  # a[..lo] matches, a[..hi] does not
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if a[ai * FRAME:(ai + mid) * FRAME] == b[bi * FRAME:(bi + mid) * FRAME]:
            lo = mid
        else:
            hi = mid
    return lo


def segments(rec, refs):
    """Splits the recording into runs that equal one of `refs` (name -> PCM) at some
    position, separated by silence. Returns a list of dicts (rec, ref, pos, len, and
    "all": every (ref, pos) that matches as long) and the first frame that matched
    nothing (None when everything did)."""
    segs = []
    i = 0
    while True:
        j = first_sound(rec, i)
        if j is None:
            return segs, None
        window = rec[j * FRAME:(j + 256) * FRAME]
        best = None
        for name, ref in refs.items():
            at = ref.find(window)
            while at >= 0:
                if at % FRAME == 0:
                    n = match_length(rec, j, ref, at // FRAME)
                    if best is None or n > best["len"]:
                        best = {"rec": j, "ref": name, "pos": at // FRAME, "len": n,
                                "all": [(name, at // FRAME)]}
                    elif n == best["len"]:
                        best["all"].append((name, at // FRAME))
                at = ref.find(window, at + 1)
        if best is None:
            return segs, j
        segs.append(best)
        i = j + best["len"]


def seconds(n):
    return n / RATE


def describe(segs):
    return "; ".join(f"rec {seconds(s['rec']):.3f}s = {s['ref']} {seconds(s['pos']):.3f}s "
                     f"for {seconds(s['len']):.3f}s" for s in segs)


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def whole(rec_path, ref_path, label):
    rec, ref = load(rec_path), load(ref_path)
    segs, unmatched = segments(rec, {"render": ref})
    if unmatched is not None:
        fail(f"the recording at {seconds(unmatched):.3f}s is not in the render "
             f"(after: {describe(segs)})")
    if not segs:
        fail("the recording is silent")
    start, end = first_sound(ref), last_sound(ref)
    if segs[0]["pos"] != start:
        fail(f"the recording starts at frame {segs[0]['pos']} of the render, not {start}")
    gaps = 0
    for a, b in zip(segs, segs[1:]):
        if b["pos"] != a["pos"] + a["len"]:
            fail(f"frames {a['pos'] + a['len']} to {b['pos']} of the render are missing "
                 f"({describe(segs)})")
        gaps += 1
    last = segs[-1]
    if last["pos"] + last["len"] < end:
        fail(f"the recording ends at frame {last['pos'] + last['len']} of the render, "
             f"which sounds until {end}")
    print(f"{label}: the recording holds the render's {end - start} frames (from its first sound, "
          f"{seconds(segs[0]['rec']):.3f}s into the recording) bit for bit, "
          f"in order" + (f"; {gaps} gap(s) of silence where the server ran dry" if gaps else ""))


def keys(rec_path, ref_path, entries_path):
    rec, ref = load(rec_path), load(ref_path)
    with open(entries_path) as f:
        entries = {int(ms): load(path) for ms, path in json.load(f).items()}
    refs = {"render": ref}
    refs.update({f"entry@{ms}": pcm for ms, pcm in entries.items()})
    segs, unmatched = segments(rec, refs)
    if unmatched is not None:
        fail(f"the recording at {seconds(unmatched):.3f}s is neither the render nor an "
             f"entry played afresh (after: {describe(segs)})")
    print("segments: " + describe(segs))
    # Walk the runs in order. Before the seek: the render from its start, going on
    # after each gap at most 3 s (what the output had buffered) later. The seek: an
    # entry from its start. After it: only that entry, going on where it stopped.
    # (Where an entry played afresh sounds the same as the render, a run matches
    # both; the jump decides.)
    played, pause, landing, heard, end = [], None, None, 0, None
    for seg in segs:
        cands = seg["all"]
        if landing is None:
            r = [pos for name, pos in cands if name == "render"]
            if r and not played and r[0] == first_sound(ref):
                played.append(seg | {"ref": "render", "pos": r[0]})
                continue
            if r and played:
                prev = played[-1]
                skipped = r[0] - (prev["pos"] + prev["len"])
                if 0 <= skipped <= 3 * RATE:
                    gap = seg["rec"] - (prev["rec"] + prev["len"])
                    if pause is None or gap > pause[0]:
                        pause = (gap, prev["pos"] + prev["len"], skipped)
                    played.append(seg | {"ref": "render", "pos": r[0]})
                    continue
            starts = [(int(name.split("@")[1]), pos) for name, pos in cands
                      if name.startswith("entry@")]
            starts = [ms for ms, pos in starts if pos == first_sound(entries[ms])]
            if not played or not starts:
                fail(f"the run at {seconds(seg['rec']):.3f}s of the recording is neither "
                     f"the play going on nor an entry from its start")
            landing = (starts[0], seg)
            end = seg["pos"] + seg["len"] if seg["ref"] == f"entry@{starts[0]}" else \
                first_sound(entries[starts[0]]) + seg["len"]
            heard = seg["len"]
        else:
            name = f"entry@{landing[0]}"
            if (name, end) not in cands:
                fail(f"after the seek the run at {seconds(seg['rec']):.3f}s of the recording "
                     f"does not go on with the entry it landed on")
            end += seg["len"]
            heard += seg["len"]
    if not played or landing is None:
        fail("the recording needs the play before the seek and an entry after it")
    if pause is None or pause[0] < RATE:
        fail("no pause: the recording has no gap of silence of a second or more "
             "before the seek")
    if pause[0] > 60 * RATE:
        fail(f"the pause's gap lasts {seconds(pause[0]):.3f}s, longer than the test "
             f"waited")
    gap, paused_at, skipped = pause
    print(f"pause: {seconds(gap):.3f}s of silence at {seconds(paused_at):.3f}s of the "
          f"performance; it went on {seconds(skipped):.3f}s later in the render")
    start_ms = landing[0]
    before = played[-1]["pos"] + played[-1]["len"]
    target_ms = (before / RATE + 10) * 1000
    starts = sorted(entries) + [frames(ref) * 1000 // RATE]
    end_ms = starts[starts.index(start_ms) + 1]
    # The play's position when the key was pressed lies within the output's buffer of
    # the last frame recorded before the seek: 3 s either way.
    if not (start_ms - 3000 <= target_ms <= end_ms + 3000):
        fail(f"the seek from {seconds(before):.3f}s landed on the entry at {start_ms} ms "
             f"(to {end_ms} ms), which does not hold {target_ms:.0f} ms")
    print(f"seek: from about {seconds(before):.3f}s to the start of the entry at "
          f"{start_ms} ms ({start_ms}-{end_ms} ms, {target_ms:.0f} ms within the "
          f"output's buffer); {seconds(heard):.3f}s of it bit for bit")
    entry_end = last_sound(entries[start_ms])
    print(f"quit: {seconds(entry_end - end):.3f}s of the performance left unplayed")
    if end >= entry_end:
        fail("the play ran to the end of the performance: q did not stop it")


def state(rec_path):
    rec = load(rec_path)
    end = last_sound(rec)
    start = first_sound(rec)
    sound = 0 if start is None else end - start
    print(f"{seconds(sound):.3f} {seconds(frames(rec) - end):.3f}")


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "whole":
        whole(sys.argv[2], sys.argv[3], sys.argv[4] if len(sys.argv) > 4 else "recording")
    elif mode == "keys":
        keys(sys.argv[2], sys.argv[3], sys.argv[4])
    elif mode == "state":
        state(sys.argv[2])
    else:
        sys.exit(__doc__)
