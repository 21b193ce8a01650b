#!/usr/bin/env python3
"""The relink kit next to the setup program links the shipped binaries again: unpacked
into an empty folder, its relink.sh must make in_vantrel.dll and vantrel.exe identical,
byte for byte, to the build's (before the setup strips them). So the kit holds every
object and library the link needs, and the link commands are the build's.

    check_relink_kit.py dist/vantrel-VERSION-relink-kit.zip build-win-i686

Prints "check_relink_kit: N passed, N failed"; exit 0 when all pass.
"""
import hashlib
import os
import subprocess
import sys
import tempfile
import zipfile

from checks import Checks

check = Checks(indent="  ")
TARGETS = ["in_vantrel.dll", "vantrel.exe"]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    kit, build = (os.path.abspath(a) for a in sys.argv[1:])
    with tempfile.TemporaryDirectory(prefix="vantrel-relink-") as work:
        with zipfile.ZipFile(kit) as z:
            z.extractall(work)
        (top,) = os.listdir(work)
        script = os.path.join(work, top, "relink.sh")
        # Nothing of the build folder may be needed: the kit is all there is.
        p = subprocess.run(["sh", script, "out"], cwd="/", capture_output=True, text=True)
        check(p.returncode == 0, f"relink.sh failed ({p.returncode}): {p.stderr.strip()[-2000:]}")
        for target in TARGETS:
            made = os.path.join(work, top, "out", target)
            if check(os.path.isfile(made), f"relink.sh made no {target}"):
                check(digest(made) == digest(os.path.join(build, target)),
                      f"the relinked {target} differs from {os.path.join(build, target)}")
                print(f"  {target}: {os.path.getsize(made)} bytes, linked again from the kit")
    return check.summary("check_relink_kit")


if __name__ == "__main__":
    sys.exit(main())
