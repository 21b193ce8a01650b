#!/usr/bin/env python3
"""Decodes MP3s made here with the Windows win_smoke.exe (under wine) and with the
Linux build of the same program, and checks that both produce the same PCM.

    check_decode.py --linux BUILD/checks/win_smoke --windows BUILD-WIN/checks/win_smoke.exe
                    [--wine scripts/win/wine.sh] [--work DIR]

Inputs are synthesized WAVs encoded with lame. For each one, and for the
"generic" decoder that the tests pin, it checks on each side: the exit code,
the decoder name, the format, a sample count equal to the WAV's (gapless
decoding removes the encoder's delay and padding), the printed CRC-32 against
the written PCM, and that the PCM resembles the input (signal-to-noise ratio).
Then that the Windows PCM is byte-identical to the Linux PCM. The default
(fastest) decoder is also run on both sides and compared when both pick the same
one. Ends with an "N passed, N failed" line; exit 0 only when nothing failed.
"""
import argparse
import array
import math
import os
import random
import shutil
import subprocess
import sys
import tempfile
import wave
import zlib

from checks import Checks

check = Checks()


def synthesize(path, rate, channels, seconds, kind, seed):
    """Writes a 16-bit WAV and returns its samples (interleaved)."""
    rng = random.Random(seed)
    n = int(rate * seconds)
    samples = array.array("h")
    for i in range(n):
        t = i / rate
        for c in range(channels):
            if kind == "tones":
                f = 440.0 * (1.5 ** c)
                sweep = math.sin(2 * math.pi * (200 + 1800 * t / seconds) * t)
                v = 0.45 * math.sin(2 * math.pi * f * t) + 0.25 * sweep + 0.02 * rng.uniform(-1, 1)
            elif kind == "loud":
                # Square wave at full scale with a quiet gap: exercises clipping
                # and the decoder's handling of digital silence.
                if seconds * 0.4 < t < seconds * 0.6:
                    v = 0.0
                else:
                    v = 1.0 if math.sin(2 * math.pi * 330 * t + c) >= 0 else -1.0
            else:
                raise ValueError(kind)
            samples.append(max(-32768, min(32767, int(round(v * 32767)))))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())
    return samples


def snr_db(reference, decoded):
    """Signal-to-noise ratio of DECODED against REFERENCE (same length), in dB."""
    sig = sum(float(x) * x for x in reference)
    noise = sum((float(a) - b) ** 2 for a, b in zip(reference, decoded))
    if noise == 0:
        return float("inf")
    return 10 * math.log10(sig / noise) if sig > 0 else float("-inf")


def run_smoke(cmd, mp3, pcm, decoder, cwd):
    args = list(cmd)
    if decoder:
        args += ["--decoder", decoder]
    args += ["--pcm", pcm, mp3]
    p = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       stdin=subprocess.DEVNULL, timeout=300)
    out = {}
    for line in p.stdout.decode(errors="replace").splitlines():
        key, _, value = line.partition(" ")
        out[key] = value.strip()
    return p.returncode, out, p.stderr.decode(errors="replace")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--linux", required=True, help="Linux build of win_smoke")
    ap.add_argument("--windows", required=True, help="x86_64 win_smoke.exe")
    ap.add_argument("--wine", default=os.path.join(os.path.dirname(__file__), "..", "..",
                                                   "scripts", "win", "wine.sh"))
    ap.add_argument("--work", help="keep the generated files in this directory")
    args = ap.parse_args()
    if not shutil.which("lame"):
        sys.exit("lame is not installed")

    work = args.work or tempfile.mkdtemp(prefix="vantrel-decode-")
    os.makedirs(work, exist_ok=True)
    linux = [os.path.abspath(args.linux)]
    windows = [os.path.abspath(args.wine), os.path.abspath(args.windows)]

    cases = [
        # name, rate, channels, seconds, kind, lame options
        ("tones-44k-stereo-cbr", 44100, 2, 3.0, "tones", ["-b", "128"]),
        ("tones-22k-mono-vbr", 22050, 1, 2.0, "tones", ["-V", "4", "-m", "m"]),
        ("loud-48k-stereo-cbr", 48000, 2, 1.5, "loud", ["-b", "192"]),
    ]
    for name, rate, channels, seconds, kind, lame_opts in cases:
        wav = os.path.join(work, name + ".wav")
        mp3 = os.path.join(work, name + ".mp3")
        ref = synthesize(wav, rate, channels, seconds, kind, seed=len(name))
        subprocess.run(["lame", "--quiet", "--noreplaygain", *lame_opts, wav, mp3], check=True)
        print(f"{name}: {os.path.getsize(mp3)} bytes of MP3, {len(ref) // channels} frames")

        results = {}
        for side, cmd in (("linux", linux), ("windows", windows)):
            for decoder in ("generic", None):
                tag = f"{side}/{decoder or 'default'}"
                pcm_name = f"{name}.{side}.{decoder or 'default'}.pcm"
                rc, out, err = run_smoke(cmd, name + ".mp3", pcm_name, decoder, work)
                if not check(rc == 0, f"{name} {tag}: exit code {rc}: {err.strip()}"):
                    continue
                pcm = open(os.path.join(work, pcm_name), "rb").read()
                results[(side, decoder)] = (out.get("decoder"), pcm)
                print(f"  {tag:16} decoder={out.get('decoder'):8} bytes={out.get('bytes')} "
                      f"crc32={out.get('crc32')}")
                if decoder:
                    check(out.get("decoder") == decoder, f"{name} {tag}: decoder {out.get('decoder')}")
                check(out.get("format") == f"{rate} {channels}", f"{name} {tag}: format {out.get('format')}")
                check(out.get("bytes") == str(len(pcm)), f"{name} {tag}: printed byte count {out.get('bytes')}"
                      f" but wrote {len(pcm)}")
                check(out.get("crc32") == f"{zlib.crc32(pcm):08x}",
                      f"{name} {tag}: printed crc32 {out.get('crc32')}, file has {zlib.crc32(pcm):08x}")
                check(len(pcm) == len(ref) * 2,
                      f"{name} {tag}: {len(pcm) // 2} samples decoded, {len(ref)} encoded")
                if decoder and len(pcm) == len(ref) * 2:
                    dec = array.array("h")
                    dec.frombytes(pcm)
                    if sys.byteorder == "big":
                        dec.byteswap()
                    snr = snr_db(ref, dec)
                    print(f"  {tag:16} SNR against the input: {snr:.1f} dB")
                    check(snr > 12, f"{name} {tag}: SNR {snr:.1f} dB")

        lg, wg = results.get(("linux", "generic")), results.get(("windows", "generic"))
        if check(lg is not None and wg is not None, f"{name}: both generic decodes ran"):
            same = lg[1] == wg[1]
            if not same:
                diff = next(i for i in range(min(len(lg[1]), len(wg[1])) + 1)
                            if i >= min(len(lg[1]), len(wg[1])) or lg[1][i] != wg[1][i])
                print(f"  generic: first differing byte at {diff}")
            check(same, f"{name}: Windows and Linux generic PCM identical")
            print(f"  generic: Windows PCM {'==' if same else '!='} Linux PCM")
        ld, wd = results.get(("linux", None)), results.get(("windows", None))
        if ld and wd:
            if ld[0] == wd[0]:
                same = ld[1] == wd[1]
                check(same, f"{name}: Windows and Linux {ld[0]} PCM identical")
                print(f"  default ({ld[0]}): Windows PCM {'==' if same else '!='} Linux PCM")
            else:
                print(f"  default decoders differ (Linux {ld[0]}, Windows {wd[0]}): not compared")

    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return check.summary("check_decode")


if __name__ == "__main__":
    sys.exit(main())
