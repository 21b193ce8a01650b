#!/usr/bin/env python3
"""Tests of scripts/win/inspect-pe.py on the binaries of the Windows builds.

Uses win_probe.dll and win_smoke.exe from build-win-i686/ and build-win-x86_64/
(or the build directories listed, colon-separated, in VANTREL_WIN_BUILD_DIRS).
The reader is checked against binutils' objdump where that is installed, and
against copies of the probe DLL with single faults patched in, each of which
one of the checks must catch.
"""
import contextlib
import struct
import importlib.util
import io
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
spec = importlib.util.spec_from_file_location("inspect_pe", os.path.join(ROOT, "scripts", "win", "inspect-pe.py"))
inspect_pe = importlib.util.module_from_spec(spec)
spec.loader.exec_module(inspect_pe)

MACHINE = {"i686": "i386", "x86_64": "amd64"}


def build_dirs():
    listed = os.environ.get("VANTREL_WIN_BUILD_DIRS")
    dirs = listed.split(":") if listed else [os.path.join(ROOT, f"build-win-{a}") for a in MACHINE]
    found = {}
    for d in dirs:
        if os.path.isfile(os.path.join(d, "checks", "win_probe.dll")):
            arch = "i686" if d.rstrip("/").endswith("i686") else "x86_64"
            found[arch] = d
    return found


BUILDS = build_dirs()


def run(argv):
    """Runs the inspector's main(); returns (exit code, stdout, stderr)."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        rc = inspect_pe.main(argv)
    return rc, out.getvalue(), err.getvalue()


def probe_checks(arch):
    return ["--expect-machine", MACHINE[arch], "--expect-exports", "ProbeGetModule",
            "--expect-dll-name", "win_probe.dll", "--system-imports-only",
            "--expect-version", "1.0.0.1", "--expect-dialog", "1016"]


class InspectBuiltBinaries(unittest.TestCase):
    def setUp(self):
        if not BUILDS:
            self.fail("no Windows build found: run scripts/win/build.sh first")
        self.tmp = tempfile.mkdtemp(prefix="vantrel-pe-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def patched(self, arch, old, new, count_at_least=1):
        """A copy of the probe DLL with every OLD replaced by NEW (same length)."""
        self.assertEqual(len(old), len(new))
        with open(os.path.join(BUILDS[arch], "checks", "win_probe.dll"), "rb") as f:
            data = f.read()
        self.assertGreaterEqual(data.count(old), count_at_least, f"{old!r} not in the DLL")
        path = os.path.join(self.tmp, f"patched-{arch}.dll")
        with open(path, "wb") as f:
            f.write(data.replace(old, new))
        return path

    def test_probe_dll_passes_every_check(self):
        for arch, d in BUILDS.items():
            with self.subTest(arch=arch):
                rc, out, err = run([os.path.join(d, "checks", "win_probe.dll")] + probe_checks(arch))
                self.assertEqual(rc, 0, err)
                self.assertIn("ProbeGetModule (ordinal 1)", out)
                self.assertIn("FileVersion = 1.0.0.1", out)

    def test_report_contents(self):
        for arch, d in BUILDS.items():
            with self.subTest(arch=arch):
                r = inspect_pe.inspect(os.path.join(d, "checks", "win_probe.dll"))
                self.assertEqual(r["kind"], "DLL")
                self.assertEqual(r["format"], "PE32" if arch == "i686" else "PE32+")
                self.assertEqual([e["name"] for e in r["exports"]["names"]], ["ProbeGetModule"])
                dlls = {i["dll"].lower() for i in r["imports"]}
                self.assertIn("kernel32.dll", dlls)
                self.assertIn("msvcrt.dll", dlls)
                # The runtime is linked in statically, not imported.
                self.assertFalse({d for d in dlls if "pthread" in d or "stdc++" in d or "gcc" in d})
                kernel32 = next(i for i in r["imports"] if i["dll"].lower() == "kernel32.dll")
                self.assertIn("GetLastError", kernel32["functions"])
                strings = r["version"]["strings"]["040904B0"]
                self.assertEqual(strings["OriginalFilename"], "win_probe.dll")
                self.assertEqual(strings["ProductName"], "Vantrel")
                self.assertEqual(r["dialogs"], [1016])
                types = {res["type"] for res in r["resources"]}
                self.assertEqual(types, {"VERSION", "DIALOG"})

    def test_smoke_exe_has_no_exports_and_system_imports(self):
        for arch, d in BUILDS.items():
            with self.subTest(arch=arch):
                exe = os.path.join(d, "checks", "win_smoke.exe")
                rc, out, err = run([exe, "--expect-exports", "", "--system-imports-only",
                                    "--expect-machine", MACHINE[arch]])
                self.assertEqual(rc, 0, err)
                self.assertEqual(inspect_pe.inspect(exe)["kind"], "EXE")

    def test_agrees_with_objdump(self):
        for arch, d in BUILDS.items():
            objdump = shutil.which(f"{arch}-w64-mingw32-objdump")
            if not objdump:
                self.skipTest("binutils for mingw not installed")
            for name in ("win_probe.dll", "win_smoke.exe"):
                with self.subTest(arch=arch, file=name):
                    path = os.path.join(d, "checks", name)
                    text = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                                          text=True).stdout
                    r = inspect_pe.inspect(path)
                    self.assertEqual(re.findall(r"DLL Name: (\S+)", text), [i["dll"] for i in r["imports"]])
                    # objdump lists the export name table as "[   0] Name".
                    table = text.split("[Ordinal/Name Pointer] Table")
                    names = re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", table[1], re.M) if len(table) > 1 else []
                    got = [e["name"] for e in r["exports"]["names"]] if r["exports"] else []
                    self.assertEqual(names, got)

    def test_wrong_expectations_fail(self):
        arch, d = next(iter(BUILDS.items()))
        dll = os.path.join(d, "checks", "win_probe.dll")
        other = "amd64" if arch == "i686" else "i386"
        cases = [
            (["--expect-exports", "ProbeGetModule,ProbeOther"], "exports are"),
            (["--expect-exports", ""], "exports are"),
            (["--expect-exports", "ProbeGetModul"], "exports are"),
            (["--expect-dll-name", "other.dll"], "names the DLL"),
            (["--expect-version", "1.0.0.2"], "fixed file version"),
            (["--expect-dialog", "1017"], "no dialog resource with id 1017"),
            (["--expect-machine", other], "machine is"),
        ]
        for extra, message in cases:
            with self.subTest(args=extra):
                rc, _, err = run([dll] + extra)
                self.assertEqual(rc, 1)
                self.assertIn(message, err)

    def test_non_system_import_is_caught(self):
        for arch in BUILDS:
            with self.subTest(arch=arch):
                path = self.patched(arch, b"msvcrt.dll", b"libfoo.dll")
                rc, out, err = run([path, "--system-imports-only"])
                self.assertEqual(rc, 1)
                self.assertIn("imports libfoo.dll, which is not a Windows system DLL", err)
                self.assertIn("[NOT A SYSTEM DLL]", out)

    def test_renamed_export_is_caught(self):
        for arch in BUILDS:
            with self.subTest(arch=arch):
                path = self.patched(arch, b"ProbeGetModule\0", b"ProbeGetModulf\0")
                rc, _, err = run([path, "--expect-exports", "ProbeGetModule"])
                self.assertEqual(rc, 1)
                self.assertIn("ProbeGetModulf", err)

    def test_version_string_disagreeing_with_fixed_version_is_caught(self):
        for arch in BUILDS:
            with self.subTest(arch=arch):
                path = self.patched(arch, "1.0.0.1".encode("utf-16-le"), "1.0.0.9".encode("utf-16-le"), 2)
                rc, _, err = run([path, "--expect-version", "1.0.0.1"])
                self.assertEqual(rc, 1)
                self.assertIn("FileVersion string in 040904B0 is '1.0.0.9'", err)
                self.assertIn("ProductVersion string", err)
                self.assertNotIn("fixed file version", err)

    def test_missing_dialog_is_caught(self):
        # Renumber the dialog in the resource directory itself: find the DIALOG
        # type entry, follow it to the name level and change the id there.
        arch = next(iter(BUILDS))
        with open(os.path.join(BUILDS[arch], "checks", "win_probe.dll"), "rb") as f:
            data = bytearray(f.read())
        pe = inspect_pe.PE(bytes(data))
        base = pe.off(pe.directory(2)[0])
        named, ids = struct.unpack_from("<HH", data, base + 12)
        entries = [struct.unpack_from("<II", data, base + 16 + 8 * i) for i in range(named + ids)]
        dialog_dir = next(target for rid, target in entries if rid == inspect_pe.RT_DIALOG) & 0x7FFFFFFF
        name_entry = base + dialog_dir + 16
        self.assertEqual(struct.unpack_from("<I", data, name_entry)[0], 1016)
        struct.pack_into("<I", data, name_entry, 1017)
        path = os.path.join(self.tmp, "renumbered.dll")
        with open(path, "wb") as f:
            f.write(data)
        rc, out, err = run([path, "--expect-dialog", "1016"])
        self.assertEqual(rc, 1)
        self.assertIn("no dialog resource with id 1016 (have [1017])", err)
        self.assertIn("dialogs: 1017", out)

    def test_json_output(self):
        arch, d = next(iter(BUILDS.items()))
        rc, out, _ = run([os.path.join(d, "checks", "win_probe.dll"), "--json"])
        self.assertEqual(rc, 0)
        report = json.loads(out)
        self.assertEqual(report["exports"]["dll_name"], "win_probe.dll")
        self.assertEqual(report["version"]["file_version"], "1.0.0.1")

    def test_unreadable_inputs(self):
        text = os.path.join(self.tmp, "notes.txt")
        with open(text, "w") as f:
            f.write("not a program\n")
        arch, d = next(iter(BUILDS.items()))
        with open(os.path.join(d, "checks", "win_probe.dll"), "rb") as f:
            data = f.read()
        truncated = os.path.join(self.tmp, "truncated.dll")
        with open(truncated, "wb") as f:
            f.write(data[:1024])
        for path in (text, truncated, os.path.join(self.tmp, "missing.dll")):
            with self.subTest(path=os.path.basename(path)):
                rc, _, err = run([path])
                self.assertEqual(rc, 2)
                self.assertIn("cannot inspect", err)


class SystemDllList(unittest.TestCase):
    def test_classification(self):
        for name in ("KERNEL32.dll", "msvcrt.dll", "USER32.DLL", "api-ms-win-crt-runtime-l1-1-0.dll"):
            self.assertTrue(inspect_pe.is_system_dll(name), name)
        for name in ("libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libwinpthread-1.dll",
                     "vcruntime140.dll", "msvcp140.dll", "libmpg123-0.dll", "kernel32.dll.evil"):
            self.assertFalse(inspect_pe.is_system_dll(name), name)

    def test_version_normalisation(self):
        self.assertEqual(inspect_pe.normalise_version("1, 0, 0, 1"), "1.0.0.1")
        self.assertEqual(inspect_pe.normalise_version(" 1.0.0.1 "), "1.0.0.1")
        self.assertNotEqual(inspect_pe.normalise_version("1.0.0.10"), "1.0.0.1")


if __name__ == "__main__":
    unittest.main()
