#!/usr/bin/env python3
"""Makes the small MP3 clips that the clip decoder's tests read.

The PCM is synthesised here (sine tones, a different one per channel) and encoded
with the `lame` command (Debian package lame, 3.100), constant bit rate, with the
input rate kept (no resampling). Run it in this folder to remake the clips; the
tests only read the .mp3 files, so the build does not need lame or Python.
"""
import math
import os
import struct
import subprocess
import tempfile

CLIPS = [
    # name, rate (Hz), channels, seconds, tone per channel (Hz), kbit/s, extra lame options
    # 44.1 kHz stereo MPEG-1 Layer III, 59 frames of 4608 PCM bytes.
    ("stereo44k.mp3", 44100, 2, 1.5, (440, 660), 32, []),
    # 44.1 kHz mono: frames of 2304 PCM bytes.
    ("mono44k.mp3", 44100, 1, 0.5, (440,), 32, []),
    # 22.05 kHz stereo, MPEG-2 Layer III: frames of 576 samples, 2304 PCM bytes.
    ("stereo22k.mp3", 22050, 2, 0.5, (440, 660), 16, []),
    # 44.1 kHz stereo at a rate high enough for lame to write its info frame first.
    # Longer clips of 2304-byte frames, for clips whose length ends on a frame that
    # arrives when a block is just full (640 ms = 49 frames of 2304 bytes).
    ("mono44k-long.mp3", 44100, 1, 2.0, (330,), 32, []),
    ("stereo22k-long.mp3", 22050, 2, 2.0, (330, 495), 16, []),
    ("infoframe44k.mp3", 44100, 2, 0.25, (1000, 1500), 64, ["-m", "j"]),
]


def pcm(rate, channels, seconds, tones):
    frames = int(rate * seconds)
    out = bytearray()
    for i in range(frames):
        for ch in range(channels):
            out += struct.pack("<h", int(12000 * math.sin(2 * math.pi * tones[ch] * i / rate)))
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, rate, channels, seconds, tones, kbps, extra in CLIPS:
        with tempfile.NamedTemporaryFile(suffix=".raw") as raw:
            raw.write(pcm(rate, channels, seconds, tones))
            raw.flush()
            khz = "%g" % (rate / 1000)
            mode = extra if extra else ["-m", "m" if channels == 1 else "s"]
            subprocess.run(
                ["lame", "--quiet", "-r", "-s", khz, "--bitwidth", "16", "--signed",
                 "--little-endian"] + mode
                + ["-b", str(kbps), "--cbr", "--resample", khz, raw.name,
                   os.path.join(here, name)],
                check=True)


if __name__ == "__main__":
    main()
