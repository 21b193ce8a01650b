#!/usr/bin/env python3
"""Tests of scripts/win/notices.py on a small ninja build of its own: what it traces
from a linker map to Debian's packages, what it refuses, and what LICENSES.txt and
relink.sh say. (tests/win/check_relink_kit.py links the real binaries again.)"""
import importlib.util
import os
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("notices", os.path.join(HERE, "..", "..", "scripts", "win", "notices.py"))
notices = importlib.util.module_from_spec(spec)
spec.loader.exec_module(notices)

# An archive of the build machine's own C library: dpkg knows it (libc6-dev), and
# its copyright file is glibc's, which is under the GNU LGPL.
SYSTEM_ARCHIVE = "/usr/lib/x86_64-linux-gnu/libc_nonshared.a"

BUILD_NINJA = """rule cc
  command = cc -c $in -o $out
rule ar
  command = ar qc $out $in
rule link
  command = : && cc -O2 -static -o $out main.obj libours.a {extra} -Wl,-Map=$out.map -Wl,--out-implib,libapp.a -lm && :
build main.obj: cc main.c
build part.obj: cc part.c
build libours.a: ar part.obj
build app.exe: link main.obj libours.a
"""

MAP = """Archive member included to satisfy reference by file (symbol)

libours.a(part.obj)           main.obj (part)
{archive}(atexit.oS)
                              main.obj (atexit)

Discarded input sections

 .note.GNU-stack
                0x0000000000000000        0x0 main.obj

Linker script and memory map

LOAD main.obj
LOAD libours.a
LOAD {archive}
LOAD /usr/lib/x86_64-linux-gnu/libm.a
"""


class Notices(unittest.TestCase):
    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="vantrel-notices-")
        self.license = os.path.join(HERE, "..", "..", "LICENSE")

    def tearDown(self):
        shutil.rmtree(self.build)

    def make_build(self, archive):
        with open(os.path.join(self.build, "build.ninja"), "w") as f:
            f.write(BUILD_NINJA.format(extra=archive))
        with open(os.path.join(self.build, "app.exe.map"), "w") as f:
            f.write(MAP.format(archive=archive))
        for name in ("main.obj", "libours.a"):
            with open(os.path.join(self.build, name), "wb") as f:
                f.write(name.encode())

    @unittest.skipUnless(os.path.isfile(SYSTEM_ARCHIVE) and shutil.which("dpkg"), "needs Debian's libc6-dev")
    def test_traces_the_map_to_debian_packages_and_writes_the_notices(self):
        self.make_build(SYSTEM_ARCHIVE)
        inv = notices.Inventory(self.build, ["app.exe"])
        # glibc's copyright file is not machine-readable: whether it is LGPL must be
        # said by hand, and until then nothing is written.
        with self.assertRaisesRegex(notices.NoticeError, "libc6-dev/copyright names the GNU LGPL"):
            notices.licences_text(inv, "9.8.7.6", self.license, "kit.zip", "src.tar.gz", "dev@vantrel.example")
        notices.REVIEWED_LGPL["glibc"] = True
        self.addCleanup(notices.REVIEWED_LGPL.pop, "glibc")
        # Our archive and object are ours; of the system's archives only the one with
        # a member in the map counts (libm.a is loaded, but nothing of it is used).
        self.assertEqual(inv.ours["app.exe"], {"main.obj", "libours.a"})
        self.assertEqual(sorted(inv.components), ["glibc"])
        glibc = inv.components["glibc"]
        self.assertEqual((glibc.parts, glibc.targets), ({"libc_nonshared.a"}, {"app.exe"}))
        self.assertEqual(glibc.copyright_path, "/usr/share/doc/libc6-dev/copyright")
        self.assertTrue(glibc.lgpl())

        text = notices.licences_text(inv, "9.8.7.6", self.license, "kit.zip", "src.tar.gz", "dev@vantrel.example")
        with open(self.license) as f:
            own = f.read().strip()
        # Our licence first, then the package with its version and copyright file, the
        # LGPL's terms with the relink kit, the sources and the offer, and the full
        # texts that the copyright file refers to.
        self.assertLess(text.index(own), text.index("=\n2. glibc "))
        with open(glibc.copyright_path) as f:
            self.assertIn(f.read().strip(), text)
        lgpl = text[text.index("The GNU LGPL libraries: relinking and sources\n-"):]
        for want in ("kit.zip", "src.tar.gz", "dev@vantrel.example", "glibc " + glibc.version):
            self.assertIn(want, " ".join(lgpl.split()))
        self.assertIn("\nLGPL-2.1\n", text)
        self.assertIn("GNU LESSER GENERAL PUBLIC LICENSE\n                       Version 2.1", text)
        self.assertEqual(text.count("\nLGPL-2.1\n"), 1)

        script, files = notices.relink_script(inv, ["app.exe"])
        link = " ".join(script.replace("\\\n", " ").splitlines()[-1].split())
        self.assertIn('"$CXX" -O2 -static -o app.exe "$kit"/app.exe/main.obj "$kit"/app.exe/libours.a', link)
        self.assertIn(SYSTEM_ARCHIVE, link)
        self.assertNotIn("-Map", link)
        self.assertNotIn("out-implib", link)
        self.assertEqual(sorted(files), ["app.exe/libours.a", "app.exe/main.obj"])

    def test_refuses_a_file_that_no_package_holds(self):
        stray = os.path.join(self.build, "..", os.path.basename(self.build) + "-stray.a")
        with open(stray, "wb") as f:
            f.write(b"!<arch>\n")
        try:
            self.make_build(os.path.realpath(stray))
            with self.assertRaisesRegex(notices.NoticeError, "no Debian package holds.*-stray.a"):
                notices.Inventory(self.build, ["app.exe"])
        finally:
            os.remove(stray)

    def test_a_missing_map_is_an_error(self):
        self.make_build(SYSTEM_ARCHIVE)
        os.remove(os.path.join(self.build, "app.exe.map"))
        with self.assertRaisesRegex(notices.NoticeError, "app.exe.map is missing"):
            notices.Inventory(self.build, ["app.exe"])

    def test_lgpl_is_read_from_the_main_licence(self):
        def component(source, text):
            path = os.path.join(self.build, source)
            with open(path, "w") as f:
                f.write(text)
            return notices.Component(source, "1", path, "test")

        dep5 = ("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
                "Files: *\nCopyright: 2020 A\nLicense: {}\n\nFiles: lib/x.c\nCopyright: B\nLicense: {}\n")
        self.assertTrue(component("a", dep5.format("LGPL-2.1+", "BSD-3-clause")).lgpl())
        self.assertFalse(component("b", dep5.format("BSD-3-clause", "Expat")).lgpl())
        self.assertFalse(component("c", "Xiph.org's BSD-style licence.").lgpl())
        # The LGPL for some files only, as an alternative, or in words: someone reads
        # the file and decides.
        for name, text in (("d", dep5.format("BSD-3-clause", "LGPL-2.1+")),
                           ("e", dep5.format("GPL-2+ or LGPL-2.1+", "BSD-3-clause")),
                           ("f", "It is under the GNU Library General Public License, v2.")):
            with self.assertRaisesRegex(notices.NoticeError, "REVIEWED_LGPL"):
                component(name, text).lgpl()
        self.assertFalse(component("flac", dep5.format("GPL-2+ or LGPL-2.1+", "BSD-3-clause")).lgpl())


if __name__ == "__main__":
    unittest.main()
