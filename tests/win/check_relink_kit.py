#!/usr/bin/env python3
"""The relink kit next to the setup program links the shipped binaries again: unpacked
into an empty folder, its relink.sh must make in_vantrel.dll and vantrel.exe identical,
byte for byte, to the build's (before the setup strips them), but for the time of the
link, which the linker writes into the PE header (with the checksum over it) and into
the export directory. So the kit holds every object and library the link needs, and
the link commands are the build's.

    check_relink_kit.py dist/vantrel-VERSION-relink-kit.zip build-win-i686

Prints "check_relink_kit: N passed, N failed"; exit 0 when all pass.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

from checks import Checks

check = Checks(indent="  ")
TARGETS = ["in_vantrel.dll", "vantrel.exe"]


def without_link_time(path):
    """The file's bytes with the link's time stamps and the header checksum zeroed."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is no PE file")
    struct.pack_into("<I", data, pe + 8, 0)  # COFF header: TimeDateStamp
    opt = pe + 24
    struct.pack_into("<I", data, opt + 64, 0)  # optional header: CheckSum
    dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    export_rva, export_size = struct.unpack_from("<II", data, dirs)
    sections = opt + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        _, vsize, rva, rsize, raw = struct.unpack_from("<8sIIII", data, sections + 40 * i)
        if export_size and rva <= export_rva < rva + max(vsize, rsize):
            struct.pack_into("<I", data, export_rva - rva + raw + 4, 0)  # export directory: TimeDateStamp
    return bytes(data)


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
        out = os.path.join(work, top, "out")
        p = subprocess.run(["sh", script, out], cwd="/", capture_output=True, text=True)
        check(p.returncode == 0, f"relink.sh failed ({p.returncode}): {p.stderr.strip()[-2000:]}")
        for target in TARGETS:
            made = os.path.join(work, top, "out", target)
            if check(os.path.isfile(made), f"relink.sh made no {target}"):
                check(without_link_time(made) == without_link_time(os.path.join(build, target)),
                      f"the relinked {target} differs from {os.path.join(build, target)}")
                print(f"  {target}: {os.path.getsize(made)} bytes, linked again from the kit")
    return check.summary("check_relink_kit")


if __name__ == "__main__":
    sys.exit(main())
