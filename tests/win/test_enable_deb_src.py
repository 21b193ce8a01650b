#!/usr/bin/env python3
"""Tests of scripts/win/enable-deb-src.sh on apt configurations made in a
temporary directory (APT_DIR), never on the machine's own."""
import os
import shutil
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "win",
                      "enable-deb-src.sh")

DEBIAN_SOURCES = """Types: deb
# a comment
URIs: http://deb.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.example/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
"""


class EnableDebSrc(unittest.TestCase):
    def setUp(self):
        self.apt = tempfile.mkdtemp(prefix="vantrel-apt-")
        os.makedirs(os.path.join(self.apt, "sources.list.d"))
        self.out = os.path.join(self.apt, "sources.list.d", "vantrel-deb-src.sources")

    def tearDown(self):
        shutil.rmtree(self.apt)

    def write(self, name, text):
        with open(os.path.join(self.apt, name), "w") as f:
            f.write(text)

    def run_script(self):
        p = subprocess.run(["bash", SCRIPT], env=dict(os.environ, APT_DIR=self.apt),
                           capture_output=True, text=True)
        return p.returncode, p.stdout.strip(), p.stderr

    def stanzas(self):
        with open(self.out) as f:
            text = f.read()
        return [s for s in (block.strip() for block in text.split("\n\n")) if "Types:" in s]

    def test_deb822_stanzas_get_source_twins(self):
        self.write("sources.list.d/debian.sources", DEBIAN_SOURCES)
        rc, out, err = self.run_script()
        self.assertEqual((rc, out), (0, "changed"), err)
        stanzas = self.stanzas()
        self.assertEqual(len(stanzas), 2)
        for s in stanzas:
            self.assertIn("Types: deb-src\n", s + "\n")
            self.assertIn("Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg", s)
            self.assertNotIn("a comment", s)
        self.assertIn("Suites: bookworm bookworm-updates", stanzas[0])
        self.assertIn("URIs: http://deb.example/debian-security", stanzas[1])

    def test_second_run_changes_nothing(self):
        self.write("sources.list.d/debian.sources", DEBIAN_SOURCES)
        self.assertEqual(self.run_script()[1], "changed")
        before = os.stat(self.out).st_mtime_ns
        self.assertEqual(self.run_script()[1], "unchanged")
        self.assertEqual(os.stat(self.out).st_mtime_ns, before)
        self.assertEqual(len(self.stanzas()), 2)  # its own output is not read back

    def test_skips_disabled_and_existing_source_stanzas(self):
        self.write("sources.list.d/debian.sources", DEBIAN_SOURCES.replace(
            "Types: deb\nURIs: http://deb.example/debian-security",
            "Types: deb deb-src\nURIs: http://deb.example/debian-security"))
        self.write("sources.list.d/other.sources",
                   "Types: deb\nURIs: http://off.example/\nSuites: x\nComponents: main\nEnabled: no\n")
        self.write("sources.list.d/ignored.sources.disabled", "Types: deb\nURIs: http://no.example/\n")
        rc, out, _ = self.run_script()
        self.assertEqual(rc, 0)
        stanzas = self.stanzas()
        self.assertEqual(len(stanzas), 1)
        self.assertIn("URIs: http://deb.example/debian\n", stanzas[0] + "\n")

    def test_one_line_format(self):
        self.write("sources.list", "# deb http://commented.example/ x main\n"
                   "deb [arch=amd64 signed-by=/k.gpg] http://one.example/debian bookworm main contrib\n"
                   "deb-src http://one.example/debian bookworm main\n")
        rc, out, err = self.run_script()
        self.assertEqual(rc, 0, err)
        stanzas = self.stanzas()
        self.assertEqual(len(stanzas), 1)
        s = stanzas[0]
        for line in ("Types: deb-src", "URIs: http://one.example/debian", "Suites: bookworm",
                     "Components: main contrib", "Signed-By: /k.gpg"):
            self.assertIn(line, s)

    def test_no_sources_is_an_error(self):
        rc, _, err = self.run_script()
        self.assertNotEqual(rc, 0)
        self.assertIn("no Debian binary sources", err)
        self.assertFalse(os.path.exists(self.out))


if __name__ == "__main__":
    unittest.main()
