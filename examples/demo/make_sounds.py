#!/usr/bin/env python3
"""Synthesizes the demo song's sounds into sounds/ as WAV files.

Every sound is one bar of 4/4 at 120 beats per minute (2 seconds, 88200 frames at
44100 Hz): drum loops, bass lines, pad chords and arpeggios over the chords Am, F,
C and G. Only the standard library is used and the noise comes from a fixed
generator, so the files come out the same on every run.

    python3 examples/demo/make_sounds.py
    build/vantrel pack examples/demo/manifest.json -o examples/demo.vn
"""
import math
import os
import struct
import wave

RATE = 44100
BPM = 120
BEAT = 60.0 / BPM                 # seconds
BAR_FRAMES = int(RATE * BEAT * 4)  # 88200
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sounds")


class Noise:
    """A small linear congruential generator: the same noise on every run."""

    def __init__(self, seed):
        self.x = seed

    def next(self):
        self.x = (self.x * 1103515245 + 12345) & 0x7FFFFFFF
        return self.x / 0x3FFFFFFF - 1.0


def midi_hz(note):
    return 440.0 * 2.0 ** ((note - 69) / 12.0)


def add(buf, start, samples, gain=1.0):
    for i, s in enumerate(samples):
        j = start + i
        if j >= len(buf):
            break
        buf[j] += s * gain


def kick():
    n = int(RATE * 0.35)
    out, phase = [], 0.0
    for i in range(n):
        t = i / RATE
        freq = 45 + 110 * math.exp(-t * 30)
        phase += 2 * math.pi * freq / RATE
        out.append(math.sin(phase) * math.exp(-t * 9))
    return out


def snare(seed):
    noise = Noise(seed)
    n = int(RATE * 0.22)
    out = []
    for i in range(n):
        t = i / RATE
        tone = math.sin(2 * math.pi * 190 * t) * math.exp(-t * 30)
        out.append(0.55 * tone + 0.6 * noise.next() * math.exp(-t * 18))
    return out


def hat(seed, length=0.05):
    noise = Noise(seed)
    n = int(RATE * length)
    out, prev = [], 0.0
    for i in range(n):
        x = noise.next()
        out.append((x - prev) * 0.5 * math.exp(-i / RATE * 60))  # a crude high pass
        prev = x
    return out


def tom(freq):
    n = int(RATE * 0.25)
    return [math.sin(2 * math.pi * freq * (i / RATE) * (1 + 0.5 * math.exp(-i / RATE * 20)))
            * math.exp(-i / RATE * 12) for i in range(n)]


def at(beat):
    return int(round(beat * BEAT * RATE))


def drum_bar(kicks, snares, hats, toms=()):
    buf = [0.0] * BAR_FRAMES
    for b in kicks:
        add(buf, at(b), kick(), 0.9)
    for k, b in enumerate(snares):
        add(buf, at(b), snare(7 + k), 0.55)
    for k, b in enumerate(hats):
        add(buf, at(b), hat(101 + k), 0.35 if b % 1 else 0.45)
    for b, freq in toms:
        add(buf, at(b), tom(freq), 0.7)
    return buf


def bass_bar(root):
    """Eighth notes on the root, with the octave on the off-beat of beat 4."""
    buf = [0.0] * BAR_FRAMES
    notes = [root] * 7 + [root + 12]
    for k, note in enumerate(notes):
        freq = midi_hz(note)
        n = int(RATE * BEAT / 2 * 0.9)
        tone = []
        for i in range(n):
            t = i / RATE
            ph = (freq * t) % 1.0
            saw = 2 * ph - 1
            sine = math.sin(2 * math.pi * freq * t)
            env = min(1.0, i / 200.0) * math.exp(-t * 5) * min(1.0, (n - i) / 300.0)
            tone.append((0.6 * sine + 0.25 * saw) * env)
        add(buf, at(k * 0.5), tone, 0.8)
    return buf


def pad_bar(notes):
    """A soft chord for the whole bar; left and right slightly detuned."""
    left = [0.0] * BAR_FRAMES
    right = [0.0] * BAR_FRAMES
    for note in notes:
        freq = midi_hz(note)
        for i in range(BAR_FRAMES):
            t = i / RATE
            env = min(1.0, t / 0.25) * min(1.0, (BAR_FRAMES - i) / (RATE * 0.12))
            left[i] += math.sin(2 * math.pi * freq * 0.998 * t) * env * 0.22
            right[i] += math.sin(2 * math.pi * freq * 1.002 * t) * env * 0.22
            left[i] += math.sin(2 * math.pi * freq * 2 * t) * env * 0.04
            right[i] += math.sin(2 * math.pi * freq * 2 * t) * env * 0.04
    return left, right


def arp_bar(notes):
    """Sixteenth-note arpeggio up and down the chord, panned from left to right."""
    left = [0.0] * BAR_FRAMES
    right = [0.0] * BAR_FRAMES
    order = notes + [notes[0] + 12] + list(reversed(notes[1:]))
    for k in range(16):
        note = order[k % len(order)] + 12
        freq = midi_hz(note)
        n = int(RATE * BEAT / 4)
        pan = k / 15.0
        start = at(k * 0.25)
        for i in range(n):
            t = i / RATE
            ph = (freq * t) % 1.0
            tri = 4 * abs(ph - 0.5) - 1
            s = tri * math.exp(-t * 14) * min(1.0, i / 60.0) * min(1.0, (n - i) / 200.0) * 0.35
            if start + i < BAR_FRAMES:
                left[start + i] += s * (1 - pan * 0.6)
                right[start + i] += s * (0.4 + pan * 0.6)
    return left, right


def write(name, channels):
    """channels: one list (mono) or two (stereo) of samples in -1..1."""
    peak = max(max(abs(s) for s in ch) for ch in channels)
    scale = 0.7 / peak if peak > 0 else 0.0
    frames = bytearray()
    for i in range(len(channels[0])):
        for ch in channels:
            frames += struct.pack("<h", int(round(ch[i] * scale * 32767)))
    path = os.path.join(OUT, name + ".wav")
    with wave.open(path, "wb") as f:
        f.setnchannels(len(channels))
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(bytes(frames))
    print(path)


CHORDS = {  # root of the bass (MIDI) and the pad's notes
    "Am": (45, [57, 60, 64]),
    "F": (41, [53, 57, 60]),
    "C": (48, [55, 60, 64]),
    "G": (43, [55, 59, 62]),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    eighths = [k * 0.5 for k in range(8)]
    sixteenths = [k * 0.25 for k in range(16)]
    write("drums-basic", [drum_bar([0, 2], [1, 3], eighths)])
    write("drums-busy", [drum_bar([0, 1.5, 2, 2.75], [1, 3], sixteenths)])
    write("drums-fill", [drum_bar([0, 2], [1], eighths[:4],
                                  [(2, 220), (2.5, 180), (3, 150), (3.5, 120)])])
    write("hats", [drum_bar([], [], eighths)])
    for name, (root, notes) in CHORDS.items():
        write("bass-" + name, [bass_bar(root)])
        write("pad-" + name, list(pad_bar(notes)))
        write("arp-" + name, list(arp_bar(notes)))


if __name__ == "__main__":
    main()
