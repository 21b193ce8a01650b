#!/usr/bin/env python3
"""The setup program under 32-bit wine, against a prefix laid out as the media
player lays itself out (run in the emulated PC: tests/win/guest-i686-installer.sh).

    check_installer.py --setup dist/vantrel-1.0.0.1-setup.exe --build build-win-i686
                       [--wine scripts/win32vm/wine32.sh] [--prefix /root/.wine] [--work DIR]

The prefix gets two player folders (C:\\Players\\Winamp A and B) with a winamp.exe of
ours (win_fake_player.exe, a window of the player's class) and unrelated files in
their Plugins folders, a decoy C:\\Program Files\\Winamp, and the registry keys the
player's own setup writes. Then, in order:
- `setup.exe /S` finds folder A through the player's uninstall key, installs the
  plug-in and the Vantrel folder there (files equal to the build's, with the notices
  of every library in the binaries in LICENSES.txt), registers the
  uninstall entry with its values, claims no `.vn` files, and the installed
  vantrel.exe finds the plug-in in ..\\Plugins;
- a second `setup.exe /S` over a damaged install repairs it: one entry, same files;
- with the player running, `setup.exe /S` stops with exit code 3 (the message box's
  silent answer) and the uninstaller stops too, and neither changes anything; so
  does the setup while another program holds the plug-in loaded; `/D=` a folder without
  winamp.exe stops with exit code 4 and writes nothing;
- the QuietUninstallString removes exactly what was installed: the folder tree and
  the registry are as before the first install;
- without the uninstall key, the player's `Software\\Winamp` key leads to folder B.
Prints each failed check and "check_installer: N passed, N failed"; exit 0 when all pass.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from checks import Checks

check = Checks(indent="  ")

UNINST = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
OURS = UNINST + r"\Vantrel"
HKCU_OURS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"
PLAYER_UNINST = UNINST + r"\Winamp"
PLAYER_KEY = r"HKCU\Software\Winamp"
INSTALLED = ["Plugins/in_vantrel.dll", "Vantrel/vantrel.exe", "Vantrel/demo.vn", "Vantrel/README.txt",
             "Vantrel/LICENSES.txt", "Vantrel/Uninstall.exe"]
# What the installed notices must name: our licence, the Debian source package of every
# library linked into the binaries (the compiler's runtime and MinGW-w64's included),
# the header-only libraries compiled into the tool, the LGPL's text and where its
# libraries' relink kit and sources are.
NOTICES = ["Vantrel's own code is free software under the BSD 3-Clause", "Copyright (c) 2026, The Vantrel developers",
           "GNU LESSER GENERAL PUBLIC LICENSE", "relink kit", "lgpl-sources.tar.gz"]
SOURCES = ["mpg123", "libsndfile", "lame", "flac", "libogg", "libvorbis", "opus", "libopusenc", "gcc-mingw-w64",
           "mingw-w64", "cli11", "nlohmann-json3"]
EXIT_PLAYER_RUNNING, EXIT_NO_PLAYER = 3, 4


class Prefix:
    def __init__(self, wine, prefix):
        self.wine = wine
        self.drive_c = os.path.join(prefix, "drive_c")

    def unix(self, win):
        """C:\\A\\B -> the file in the prefix."""
        assert win[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *win[3:].split("\\"))

    def run(self, *args, timeout=300):
        # Output into a file, not a pipe: wine's desktop process, started with the
        # first program that makes a window, inherits the output and outlives it, so
        # a pipe would not reach its end.
        with tempfile.TemporaryFile() as out:
            p = subprocess.run([self.wine, *args], stdout=out, stderr=subprocess.STDOUT, timeout=timeout)
            out.seek(0)
            return p.returncode, out.read().decode("utf-8", "replace")

    def reg_add(self, key, name, data, kind="REG_SZ"):
        args = ["reg", "add", key, "/t", kind, "/d", data, "/f"]
        args[3:3] = ["/ve"] if name is None else ["/v", name]
        rc, text = self.run(*args)
        if rc != 0:
            raise RuntimeError(f"reg add {key} failed: {text}")

    def reg_delete(self, key):
        self.run("reg", "delete", key, "/f")

    def reg_tree(self, key):
        """Every key and value below `key`, as lines (None when the key is absent)."""
        rc, text = self.run("reg", "query", key, "/s")
        if rc != 0:
            return None
        return sorted(line.rstrip() for line in text.splitlines() if line.strip())

    def reg_values(self, key):
        """The values of one key: {name: (type, data)}; None when the key is absent."""
        rc, text = self.run("reg", "query", key)
        if rc != 0:
            return None
        values = {}
        for line in text.splitlines():
            parts = line.strip().split("    ")
            if line.startswith("    ") and len(parts) >= 2:
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values


def tree(folder):
    """{relative path: sha256} of every file below `folder`, and its folders."""
    out = {}
    for base, dirs, files in os.walk(folder):
        rel = os.path.relpath(base, folder)
        out[rel + "/"] = "dir"
        for f in files:
            with open(os.path.join(base, f), "rb") as fh:
                out[os.path.normpath(os.path.join(rel, f))] = hashlib.sha256(fh.read()).hexdigest()
    return out


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def make_player(folder, fake_player):
    os.makedirs(os.path.join(folder, "Plugins"))
    shutil.copyfile(fake_player, os.path.join(folder, "winamp.exe"))
    # What the player ships in its own folders, which nobody else may touch.
    with open(os.path.join(folder, "Plugins", "in_other.dll"), "wb") as f:
        f.write(b"MZ not ours")
    with open(os.path.join(folder, "UninstWA.exe"), "wb") as f:
        f.write(b"MZ the player's uninstaller")


def wait_for(condition, what, limit=600):
    """Waits until `condition()` holds (checked every 0.2 s); `limit` seconds only
    guard against a hang, nothing depends on how long it takes."""
    end = time.monotonic() + limit
    while not condition():
        if time.monotonic() > end:
            raise RuntimeError(f"gave up waiting for {what}")
        time.sleep(0.2)


def running_uninstaller_copies():
    """Processes of the uninstaller's temporary copy (NSIS runs the uninstaller from
    a copy under %TEMP%\\~nsu*.tmp, so that it can delete itself)."""
    found = []
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmd = f.read().decode("utf-8", "replace")
            except OSError:
                continue
            if "~nsu" in cmd or "_?=" in cmd:
                found.append(pid)
    return found


class FakePlayer:
    """The player's stand-in running, its window made (it writes a file then)."""

    def __init__(self, wine, exe, ready, hold=None):
        if os.path.exists(ready):
            os.remove(ready)
        extra = ["--hold", hold] if hold else []
        self.proc = subprocess.Popen([wine, exe, "Z:" + ready.replace("/", "\\"), *extra],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(ready) or self.proc.poll() is not None, "the fake player's window")
        if self.proc.poll() is not None:
            raise RuntimeError(f"the fake player ended with exit code {self.proc.returncode}")

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=120)


def check_notices(path):
    """The installed LICENSES.txt: Windows line ends, and every notice it must hold."""
    if not check(os.path.isfile(path), f"no notices at {path}"):
        return
    with open(path, "rb") as f:
        data = f.read()
    lines, crlf = data.count(b"\n"), data.count(b"\r\n")
    check(lines > 1000 and lines == crlf, f"{path}: {lines} lines, {crlf} of them ended with CR LF")
    text = data.decode("utf-8", "replace")
    flat = " ".join(text.split())
    for want in NOTICES:
        check(want in flat, f"{path} does not name {want!r}")
    # Each source package has its numbered part ("3. mpg123 1.31.2-1: ...").
    for source in SOURCES:
        check(re.search(rf"^ *\d+\. {re.escape(source)} \d", text, re.M),
              f"{path} has no part for Debian's {source}")
    print(f"  LICENSES.txt: {len(data)} bytes, {len(NOTICES) + len(SOURCES)} notices found")


def check_entry(pf, player_win, sizes):
    values = pf.reg_values(OURS)
    if not check(values is not None, f"no uninstall entry {OURS}"):
        return
    uninst = player_win + r"\Vantrel\Uninstall.exe"
    want = {"DisplayName": "Vantrel 1.0.0.1 (VNF plug-in for Winamp)", "DisplayVersion": "1.0.0.1",
            "Publisher": "The Vantrel developers", "InstallLocation": player_win,
            "UninstallString": f'"{uninst}"', "QuietUninstallString": f'"{uninst}" /S',
            "DisplayIcon": uninst + ",0"}
    for name, data in want.items():
        got = values.get(name)
        check(got == ("REG_SZ", data), f"uninstall entry {name} is {got}, expected {data!r}")
    kind, size = values.get("EstimatedSize", (None, "0"))
    kib = int(size, 16) if size.startswith("0x") else int(size or 0)
    check(kind == "REG_DWORD" and abs(kib - sizes / 1024) <= 8,
          f"EstimatedSize is {kind} {size} KiB, the files hold {sizes / 1024:.0f} KiB")
    print(f"  uninstall entry: {len(values)} values, EstimatedSize {kib} KiB")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--setup", required=True)
    ap.add_argument("--build", required=True,
                    help="build-win-i686 (the fake player in checks/, the installed files in installer/)")
    ap.add_argument("--wine", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                                   "scripts", "win32vm", "wine32.sh"))
    ap.add_argument("--prefix", default=os.environ.get("WINEPREFIX", "/root/.wine"))
    ap.add_argument("--work", default="/tmp", help="a folder for the test's own files")
    args = ap.parse_args()
    pf = Prefix(os.path.abspath(args.wine), args.prefix)
    setup = os.path.abspath(args.setup)
    build = os.path.abspath(args.build)
    originals = {"Plugins/in_vantrel.dll": os.path.join(build, "installer", "in_vantrel.dll"),
                 "Vantrel/vantrel.exe": os.path.join(build, "installer", "vantrel.exe"),
                 "Vantrel/demo.vn": os.path.join(build, "installer", "demo.vn"),
                 "Vantrel/README.txt": os.path.join(build, "installer", "README.txt"),
                 "Vantrel/LICENSES.txt": os.path.join(build, "installer", "LICENSES.txt")}

    a_win, b_win = r"C:\Players\Winamp A", r"C:\Players\Winamp B"
    a, b = pf.unix(a_win), pf.unix(b_win)
    decoy = pf.unix(r"C:\Program Files\Winamp")
    empty_win = r"C:\Players\Empty"
    for folder in (a, b, decoy, pf.unix(empty_win)):
        shutil.rmtree(folder, ignore_errors=True)
    fake = os.path.join(build, "checks", "win_fake_player.exe")
    make_player(a, fake)
    make_player(b, fake)
    make_player(decoy, fake)
    os.makedirs(pf.unix(empty_win))
    pf.reg_add(PLAYER_UNINST, "UninstallString", f'"{a_win}\\UninstWA.exe"')
    pf.reg_add(PLAYER_UNINST, "DisplayName", "Winamp")
    pf.reg_add(PLAYER_KEY, None, b_win)
    tree_before, decoy_before = tree(a), tree(decoy)
    reg_before = pf.reg_tree(UNINST)

    print("install (silent, folder from the player's uninstall key):")
    rc, text = pf.run(setup, "/S")
    check(rc == 0, f"setup /S: exit {rc}: {text.strip()}")
    for rel in INSTALLED:
        check(os.path.isfile(os.path.join(a, rel)), f"{rel} not installed into {a}")
    for rel, original in originals.items():
        if os.path.isfile(os.path.join(a, rel)):
            check(digest(os.path.join(a, rel)) == digest(original), f"installed {rel} differs from {original}")
    check(tree(decoy) == decoy_before, "the decoy Program Files\\Winamp was changed")
    added = sorted(set(tree(a)) - set(tree_before))
    check(added == sorted(["Vantrel/"] + INSTALLED), f"files added: {added}")
    sizes = sum(os.path.getsize(os.path.join(a, rel)) for rel in INSTALLED)
    check_entry(pf, a_win, sizes)
    check_notices(os.path.join(a, "Vantrel", "LICENSES.txt"))
    check(pf.reg_values(HKCU_OURS) is None, "an uninstall entry in HKCU too")
    for key in (r"HKCR\.vn", r"HKCU\Software\Classes\.vn", r"HKLM\Software\Classes\.vn"):
        check(pf.reg_values(key) is None, f"the setup claimed .vn files: {key} exists")
    # The installed tool finds the installed plug-in (..\Plugins) for play: the song
    # it is given is none, so the plug-in itself says so (without the plug-in, the
    # tool would say that it cannot load it).
    rc, text = pf.run(a_win + r"\Vantrel\vantrel.exe", "play", "missing.vn", "--out",
                      "Z:" + os.path.join(os.path.abspath(args.work), "play.wav").replace("/", "\\"))
    check(rc == 1 and "not a playable song" in text and "cannot load" not in text,
          f"installed vantrel.exe play (plug-in from ..\\Plugins): exit {rc}: {text.strip()}")

    print("upgrade over a damaged install:")
    with open(os.path.join(a, "Plugins", "in_vantrel.dll"), "wb") as f:
        f.write(b"damaged")
    os.remove(os.path.join(a, "Vantrel", "README.txt"))
    rc, text = pf.run(setup, "/S")
    check(rc == 0, f"second setup /S: exit {rc}: {text.strip()}")
    for rel, original in originals.items():
        path = os.path.join(a, rel)
        check(os.path.isfile(path) and digest(path) == digest(original), f"{rel} not restored by the upgrade")
    added = sorted(set(tree(a)) - set(tree_before))
    check(added == sorted(["Vantrel/"] + INSTALLED), f"files after the upgrade: {added}")
    check_entry(pf, a_win, sizes)

    print("player running:")
    installed = tree(a)
    reg_installed = pf.reg_tree(UNINST)
    # The file the player writes when its window exists, named for wine through Z:.
    ready = os.path.abspath(os.path.join(args.work, "player-ready"))
    player = FakePlayer(pf.wine, a_win + r"\winamp.exe", ready)
    try:
        rc, text = pf.run(setup, "/S")
        check(rc == EXIT_PLAYER_RUNNING, f"setup /S with the player running: exit {rc}, expected "
                                         f"{EXIT_PLAYER_RUNNING}: {text.strip()}")
        # The uninstaller hands over to a copy of itself and returns; the copy's exit
        # code reaches nobody, so what counts is that it changes nothing.
        rc, text = pf.run(a_win + r"\Vantrel\Uninstall.exe", "/S")
        check(rc == 0, f"uninstaller /S with the player running: exit {rc}: {text.strip()}")
        wait_for(lambda: not running_uninstaller_copies(), "the uninstaller's copy to end")
    finally:
        player.close()
    check(tree(a) == installed, "the install was changed while the player ran")
    check(pf.reg_tree(UNINST) == reg_installed, "the registry was changed while the player ran")

    print("the plug-in held by a program without the player's window:")
    holder = FakePlayer(pf.wine, a_win + r"\winamp.exe", ready, hold=a_win + r"\Plugins\in_vantrel.dll")
    try:
        rc, text = pf.run(setup, "/S")
        check(rc == EXIT_PLAYER_RUNNING, f"setup /S with the plug-in in use: exit {rc}, expected "
                                         f"{EXIT_PLAYER_RUNNING}: {text.strip()}")
    finally:
        holder.close()
    check(tree(a) == installed, "the install was changed while the plug-in was in use")

    print("a folder without winamp.exe:")
    rc, text = pf.run(setup, "/S", "/D=" + empty_win)
    check(rc == EXIT_NO_PLAYER, f"setup /S /D={empty_win}: exit {rc}, expected {EXIT_NO_PLAYER}: {text.strip()}")
    check(os.listdir(pf.unix(empty_win)) == [], f"files written into {empty_win}: {os.listdir(pf.unix(empty_win))}")
    check(pf.reg_tree(UNINST) == reg_installed, "the registry was changed by the refused setup")

    print("uninstall (QuietUninstallString):")
    quiet = pf.reg_values(OURS).get("QuietUninstallString", ("", ""))[1]
    exe = quiet.split('"')[1] if quiet.startswith('"') else quiet
    rc, text = pf.run(exe, "/S")
    check(rc == 0, f"{quiet}: exit {rc}: {text.strip()}")
    # The uninstaller hands over to its copy and returns; the copy does the work.
    print(f"  waiting for {len(running_uninstaller_copies())} uninstaller process(es)")
    wait_for(lambda: not running_uninstaller_copies(), "the uninstaller's copy to end")
    after = tree(a)
    check(after == tree_before, f"after uninstall the player's folder differs from before the install: "
                                f"added {sorted(set(after) - set(tree_before))}, "
                                f"removed {sorted(set(tree_before) - set(after))}")
    check(pf.reg_tree(UNINST) == reg_before, "after uninstall the Uninstall keys differ from before the install")
    check(pf.reg_values(PLAYER_KEY) is not None, "the player's own key was removed")

    print("install (silent, folder from the player's Software\\Winamp key):")
    pf.reg_delete(PLAYER_UNINST)
    rc, text = pf.run(setup, "/S")
    check(rc == 0, f"setup /S: exit {rc}: {text.strip()}")
    check(os.path.isfile(os.path.join(b, "Plugins", "in_vantrel.dll")), f"plug-in not installed into {b}")
    check(tree(a) == tree_before, "the setup wrote into folder A")
    values = pf.reg_values(OURS) or {}
    check(values.get("InstallLocation") == ("REG_SZ", b_win), f"InstallLocation is {values.get('InstallLocation')}")
    return check.summary("check_installer")


if __name__ == "__main__":
    sys.exit(main())
