#!/usr/bin/env python3
"""The notices and the relink kit that go with the Windows binaries.

    notices.py --build build-win-i686 --version VERSION --licences STAGE/LICENSES.txt
               [--relink-kit dist/KIT.zip] [--sources dist/SOURCES.tar.gz] TARGET...

TARGET is a binary of the build that is shipped (in_vantrel.dll, vantrel.exe). What
each one really carries is read from the build itself: the linker's map
(BUILD/TARGET.map: every archive member and object file that went in) and ninja's
record of the headers that our objects included (header-only libraries). Each
third-party file is traced to the Debian source package it came from: the libraries
cross-built from Debian's source packages by their prefix in the cache, everything
else (the compiler's runtime, MinGW-w64, header-only libraries) with dpkg -S. A file
that cannot be traced stops the script.

LICENSES.txt then holds the project's licence (LICENSE), each of those packages'
copyright file as Debian ships it (debian/copyright of the unpacked source, or the
installed /usr/share/doc/PACKAGE/copyright), the full text of every licence those
files refer to in /usr/share/common-licenses, and what the GNU LGPL asks for the
LGPL libraries linked statically: the relink kit (--relink-kit: our object code and
archives, the third-party archives and relink.sh, which links the binaries again
exactly as the build did) and the libraries' complete sources (--sources: their
unpacked Debian source packages).
"""
import argparse
import glob
import gzip
import io
import os
import re
import shlex
import subprocess
import sys
import tarfile
import textwrap
import zipfile

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
CACHE = os.environ.get("VANTREL_CACHE") or os.path.join(
    os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache"), "vantrel")

# The static libraries that scripts/win/build-audio.sh makes, and the Debian source
# package each comes from.
AUDIO_SOURCES = {"libsndfile.a": "libsndfile", "libFLAC.a": "flac", "libogg.a": "libogg",
                 "libvorbis.a": "libvorbis", "libvorbisenc.a": "libvorbis", "libvorbisfile.a": "libvorbis",
                 "libopus.a": "opus", "libopusenc.a": "libopusenc", "libmp3lame.a": "lame"}
# Packages whose copyright file names the GNU LGPL for some of their files but not
# simply for the whole package: whether the code of theirs in our binaries is under
# it was read from that file.
REVIEWED_LGPL = {
    # libFLAC (src/libFLAC/*, include/FLAC/*) is BSD-3-clause; the files under
    # "GPL-2+ or LGPL-2.1+" are the programs and the rest of the package.
    "flac": False,
    # libgcc and libstdc++: GPL-3+ with the GCC Runtime Library Exception.
    "gcc-mingw-w64": False,
    # The C runtime (ZPL-2.1, public domain, BSD) and winpthreads (Expat); the LGPL
    # files are DirectX headers that nothing of ours includes.
    "mingw-w64": False,
}
COMMON_LICENSES = "/usr/share/common-licenses"
WIDTH = 79


class NoticeError(Exception):
    pass


def parse_map(text):
    """The inputs a GNU ld map says were used: (archives, objects). archives maps
    each archive's path to the set of its members that went in; objects lists the
    object files loaded whole."""
    archives, objects = {}, []
    section = None
    for line in text.splitlines():
        if line.startswith("Archive member included"):
            section = "members"
            continue
        if line.startswith(("Discarded input sections", "Memory Configuration", "Allocating common symbols")):
            section = None
        if line.startswith("Linker script and memory map"):
            section = "script"
            continue
        if section == "members":
            m = re.match(r"^(\S.*?\.a)\(([^()]+)\)", line)
            if m:
                archives.setdefault(m.group(1), set()).add(m.group(2))
        elif section == "script":
            m = re.match(r"^LOAD (.+\.(?:o|obj|res))$", line.strip())
            if m:
                objects.append(m.group(1))
    return archives, objects


def link_command(build, target):
    """The command that links TARGET, as a list of words, run in BUILD."""
    out = subprocess.run(["ninja", "-C", build, "-t", "commands", target], check=True,
                         capture_output=True, text=True).stdout
    line = out.strip().splitlines()[-1]
    words = shlex.split(line)
    # CMake wraps the link in ": && ... && :".
    while words and words[0] in (":", "&&"):
        words.pop(0)
    while words and words[-1] in (":", "&&"):
        words.pop()
    if any(w.startswith("@") for w in words):
        raise NoticeError(f"the link of {target} uses a response file; the relink kit does not follow those")
    return words


def header_deps(build, objects):
    """Every header that ninja recorded for the given objects (paths relative to BUILD)."""
    if not objects:
        return set()
    out = subprocess.run(["ninja", "-C", build, "-t", "deps", *objects], check=True,
                         capture_output=True, text=True).stdout
    headers = set()
    for line in out.splitlines():
        if line.startswith("    "):
            headers.add(line.strip())
    return headers


def archive_inputs(build, archive):
    """The object files that ninja builds the archive from."""
    out = subprocess.run(["ninja", "-C", build, "-t", "query", archive], check=True,
                         capture_output=True, text=True).stdout
    inputs, on = [], False
    for line in out.splitlines():
        if line.strip().startswith("input:"):
            on = True
            continue
        if line.strip().startswith("outputs:"):
            on = False
        if on and line.startswith("    ") and not line.strip().startswith("|"):
            inputs.append(line.strip())
    return inputs


def under(path, folder):
    return os.path.commonpath([path, folder]) == folder


def version_key(name):
    return [int(p) if p.isdigit() else p for p in re.split(r"(\d+)", name)]


def cached_source(source):
    """The unpacked Debian source package in the cache (the newest, as common.sh picks it)."""
    found = [os.path.dirname(p) for p in glob.glob(os.path.join(CACHE, "src", f"{source}-[0-9]*", ".vantrel-unpacked"))]
    if not found:
        raise NoticeError(f"the source of {source} is not unpacked in {CACHE}/src")
    return sorted(found, key=lambda p: version_key(os.path.basename(p)))[-1]


class Component:
    """One Debian source package whose code is in the binaries."""

    def __init__(self, source, version, copyright_path, origin):
        self.source, self.version, self.copyright_path, self.origin = source, version, copyright_path, origin
        self.parts = set()      # archives and header folders
        self.targets = set()    # the binaries that carry them
        self.source_dir = None  # the unpacked source, for the cross-built libraries

    def copyright(self):
        with open(self.copyright_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def main_licence(self):
        """The licence of the package's files as a whole (Files: *), when the
        copyright file is machine-readable; else None."""
        text = self.copyright()
        if not text.startswith("Format:"):
            return None
        for para in re.split(r"\n\s*\n", text):
            if re.search(r"^Files:\s*\*\s*$", para, re.M):
                m = re.search(r"^License:\s*(.+)$", para, re.M)
                return m.group(1).strip() if m else None
        return None

    def lgpl(self):
        """Whether the package's code is under the GNU LGPL: yes when its copyright file
        gives that licence to the package as a whole (Files: *), no when the file
        never names it, and else as REVIEWED_LGPL says."""
        if self.source in REVIEWED_LGPL:
            return REVIEWED_LGPL[self.source]
        text = " ".join(self.copyright().split())
        if not re.search(r"LGPL|GNU (Lesser|Library) General Public", text):
            return False
        licence = self.main_licence()
        if licence is not None and "LGPL" in licence and " or " not in licence:
            return True
        raise NoticeError(f"{self.copyright_path} names the GNU LGPL for some files of {self.source}: "
                          f"read it and say in REVIEWED_LGPL whether the code in the binaries is under it")


def dpkg_owners(paths):
    """{path: binary package} for the files dpkg knows."""
    owners = {}
    if not paths:
        return owners
    p = subprocess.run(["dpkg", "-S", *sorted(paths)], capture_output=True, text=True)
    for line in p.stdout.splitlines():
        pkgs, _, path = line.partition(": ")
        owners[path.strip()] = pkgs.split(",")[0].split(":")[0].strip()
    return owners


_sources = {}


def dpkg_source(binary):
    """(source package, version) of an installed binary package."""
    if binary not in _sources:
        _sources[binary] = _dpkg_source(binary)
    return _sources[binary]


def _dpkg_source(binary):
    out = subprocess.run(["dpkg-query", "-W", "-f=${source:Package}\t${Version}", binary], check=True,
                         capture_output=True, text=True).stdout
    source, version = out.split("\t")
    return source, version


class Inventory:
    """Everything third-party in the shipped binaries, by Debian source package."""

    def __init__(self, build, targets):
        self.build = os.path.realpath(build)
        self.components = {}
        self.ours = {}       # target -> our objects and archives (relative to BUILD)
        self.commands = {}   # target -> link command
        self.third_party_archives = {}  # path -> file name in the kit
        system = {}          # real path -> {(target, part)}
        for target in targets:
            self.commands[target] = link_command(self.build, target)
            map_path = os.path.join(self.build, target + ".map")
            if not os.path.isfile(map_path):
                raise NoticeError(f"{map_path} is missing (the build writes it with -Wl,-Map)")
            with open(map_path, encoding="utf-8", errors="replace") as f:
                archives, objects = parse_map(f.read())
            our_objects = []
            for path in list(archives) + objects:
                real = os.path.realpath(os.path.join(self.build, path))
                if under(real, self.build):
                    rel = os.path.relpath(real, self.build)
                    self.ours.setdefault(target, set()).add(rel)
                    our_objects += archive_inputs(self.build, rel) if rel.endswith(".a") else [rel]
                elif under(real, os.path.realpath(CACHE)):
                    self.add_cached(real, target)
                    self.third_party_archives[path] = os.path.basename(real)
                else:
                    system.setdefault(real, set()).add((target, os.path.basename(real)))
            for header in header_deps(self.build, our_objects):
                real = os.path.realpath(os.path.join(self.build, header))
                if under(real, self.build) or under(real, ROOT) or under(real, os.path.realpath(CACHE)):
                    # Ours, or a cross-built library's, whose archive is counted above.
                    continue
                system.setdefault(real, set()).add((target, os.path.dirname(real) + "/"))
        owners = dpkg_owners(system)
        missing = sorted(p for p in system if p not in owners)
        if missing:
            raise NoticeError("no Debian package holds these files in the binaries: " + ", ".join(missing))
        for path, uses in system.items():
            binary = owners[path]
            source, version = dpkg_source(binary)
            c = self.component(source, version, f"/usr/share/doc/{binary}/copyright", f"Debian's {binary}")
            for target, part in uses:
                c.parts.add(part)
                c.targets.add(target)
        # A header folder is shown once, with the package's archives when it has some.
        for c in self.components.values():
            folders = sorted(p for p in c.parts if p.endswith("/"))
            if len(folders) > 3:
                c.parts = {p for p in c.parts if not p.endswith("/")} | {f"{len(folders)} header folders"}

    def component(self, source, version, copyright_path, origin):
        c = self.components.get(source)
        if c is None:
            if not os.path.isfile(copyright_path):
                raise NoticeError(f"{copyright_path} is missing ({source})")
            c = self.components[source] = Component(source, version, copyright_path, origin)
        return c

    def add_cached(self, path, target):
        name = os.path.basename(path)
        prefix = os.path.dirname(os.path.dirname(path))
        source_file = os.path.join(prefix, "SOURCE")
        if os.path.isfile(source_file):
            # The libmpg123 build names its source: "mpg123-VERSION".
            with open(source_file) as f:
                source_dir = os.path.join(CACHE, "src", f.read().strip())
            source = os.path.basename(source_dir).split("-")[0]
        elif name in AUDIO_SOURCES:
            source = AUDIO_SOURCES[name]
            source_dir = cached_source(source)
        else:
            raise NoticeError(f"{path}: no Debian source package is known for it")
        version = os.path.basename(source_dir)[len(source) + 1:]
        c = self.component(source, version, os.path.join(source_dir, "debian", "copyright"),
                           "Debian's source package, cross-built by scripts/win")
        c.source_dir = source_dir
        c.parts.add(name)
        c.targets.add(target)

    def lgpl_components(self):
        return [c for c in self.sorted_components() if c.lgpl()]

    def sorted_components(self):
        return [self.components[k] for k in sorted(self.components)]


def package_contact(build):
    """The project's address, as the build's packages name it (cmake/Install.cmake)."""
    path = os.path.join(build, "CPackConfig.cmake")
    try:
        with open(path, encoding="utf-8") as f:
            m = re.search(r'^set\(CPACK_PACKAGE_CONTACT "[^"<]*<([^>"]+)>"\)', f.read(), re.M)
    except OSError:
        m = None
    if not m:
        raise NoticeError(f"no CPACK_PACKAGE_CONTACT address in {path}")
    return m.group(1)


def rule(char="="):
    return char * WIDTH


def referenced_licences(texts):
    """The files of /usr/share/common-licenses that the texts refer to, once each."""
    seen, out = set(), []
    for text in texts:
        for name in re.findall(re.escape(COMMON_LICENSES) + r"/([A-Za-z0-9.+_-]+[A-Za-z0-9+])", text):
            path = os.path.join(COMMON_LICENSES, name)
            real = os.path.realpath(path)
            if os.path.isfile(real) and real not in seen:
                seen.add(real)
                out.append((os.path.basename(real), real))
    return out


def licences_text(inv, version, license_path, kit_name, sources_name, contact):
    with open(license_path, encoding="utf-8") as f:
        own = f.read().rstrip() + "\n"
    comps = inv.sorted_components()
    lgpl = inv.lgpl_components()
    targets = sorted({t for c in comps for t in c.targets} | set(inv.commands))
    out = io.StringIO()
    w = out.write
    title = f"Vantrel {version} for Windows: licences and notices"
    w(f"{title}\n{'=' * len(title)}\n\n")
    w(wrap(f"{and_list(targets)}: Vantrel's own code is free software under the BSD 3-Clause "
           "licence (part 1). The third-party code compiled or linked into these files "
           "(static libraries, the compiler's runtime, header-only libraries) follows, each "
           "part with the Debian source package it was built from and that package's "
           "copyright file as Debian ships it; the full texts of the licences those files "
           "refer to come last.") + "\n\n")
    w("Contents\n\n  1. Vantrel\n")
    for i, c in enumerate(comps, 2):
        w(wrap(f"{i}. {c.source} {c.version}: {', '.join(sorted(c.parts))}, in "
               f"{', '.join(sorted(c.targets))}{' (GNU LGPL)' if c in lgpl else ''}", "  ", "     ") + "\n")
    if lgpl:
        w("  The GNU LGPL libraries: relinking and sources\n")
    w("  Licence texts\n\n")

    w(f"{rule()}\n1. Vantrel\n{rule('-')}\n{own}\n")
    for i, c in enumerate(comps, 2):
        w(f"{rule()}\n{i}. {c.source} {c.version}\n")
        w(f"   {', '.join(sorted(c.parts))}, in {', '.join(sorted(c.targets))}\n")
        w(f"   from {c.origin}; its copyright file:\n{rule('-')}\n")
        w(c.copyright().rstrip() + "\n\n")
    if lgpl:
        names = "; ".join(f"{c.source} {c.version} ({', '.join(sorted(c.parts))})" for c in lgpl)
        w(f"{rule()}\nThe GNU LGPL libraries: relinking and sources\n{rule('-')}\n")
        w(wrap(f"These libraries, Debian's source packages in these exact versions, are under "
               f"the GNU Lesser (or Library) General Public License and are linked statically "
               f"into the binaries named above: {names}. As that licence asks (section 6 of "
               f"versions 2 and 2.1), you may change them and link the binaries again with "
               f"your changed versions, and you get their sources:"))
        w("\n\n")
        w(bullet(f"The relink kit, {kit_name}, distributed with this setup program, holds "
                 f"Vantrel's object code and archives for {and_list(sorted(inv.commands))}, "
                 f"the third-party static libraries they were linked with, and relink.sh with "
                 f"the link commands; its README.txt says how to use it. Vantrel's own source "
                 f"code is free software as well (BSD 3-Clause)."))
        w(bullet(f"The complete source code of each of these libraries, as the Debian source "
                 f"package named above (with Debian's changes applied), is distributed with "
                 f"this setup program in {sources_name}."))
        w(bullet(f"For three years from the release of Vantrel {version}, the Vantrel developers "
                 f"give anyone who asks a copy of both, for no more than the cost of making "
                 f"and sending it: write to {contact}."))
        w("\n")
    w(f"{rule()}\nLicence texts\n{rule('-')}\n")
    w("The copyright files above refer to these texts (Debian's /usr/share/common-licenses).\n\n")
    for name, path in referenced_licences(c.copyright() for c in comps):
        with open(path, encoding="utf-8", errors="replace") as f:
            w(f"{rule()}\n{name}\n{rule('-')}\n{f.read().rstrip()}\n\n")
    return out.getvalue()


def wrap(text, indent="", subsequent=None):
    return textwrap.fill(text, WIDTH, initial_indent=indent,
                         subsequent_indent=indent if subsequent is None else subsequent,
                         break_on_hyphens=False, break_long_words=False)


def and_list(words):
    words = list(words)
    return words[0] if len(words) == 1 else ", ".join(words[:-1]) + " and " + words[-1]


def bullet(text):
    return wrap(text, "- ", "  ") + "\n"


def relink_script(inv, targets):
    """relink.sh, and {kit path: file} of what the kit holds."""
    files = {}
    lines = ["#!/bin/sh",
             "# Links the Vantrel binaries again, as the build linked them, from Vantrel's",
             "# object code in this kit and the static libraries in lib/ (replace one of those",
             "# with a changed build of it first). Needs Debian 12's MinGW-w64 compiler for",
             "# 32-bit Windows (g++-mingw-w64-i686-posix), or CXX naming another.",
             "#",
             "#   sh relink.sh [OUTPUT-FOLDER]     (default: out)",
             "set -eu",
             'kit=$(cd "$(dirname "$0")" && pwd)',
             "CXX=${CXX:-%s}" % "i686-w64-mingw32-g++-posix",
             'mkdir -p "${1:-out}"',
             '# The link runs in the output folder and names its output as the build did:',
             '# the linker derives a DLL\'s preferred load address from that name.',
             'cd "${1:-out}"']
    for target in targets:
        words = inv.commands[target]
        cmd = ['"$CXX"']
        skip = False
        for i, word in enumerate(words[1:], 1):
            if skip:
                skip = False
                continue
            if word == "-o":
                cmd += ["-o", shlex.quote(words[i + 1])]
                skip = True
                continue
            if word.startswith(("-Wl,-Map", "-Wl,--out-implib")):
                continue
            path = os.path.realpath(os.path.join(inv.build, word)) if not word.startswith("-") else None
            if path and os.path.isfile(path):
                if under(path, inv.build):
                    rel = f"{target}/{os.path.relpath(path, inv.build)}"
                    files[rel] = path
                    cmd.append(f'"$kit"/{shlex.quote(rel)}')
                    continue
                if word in inv.third_party_archives or under(path, os.path.realpath(CACHE)):
                    rel = f"lib/{os.path.basename(path)}"
                    files[rel] = path
                    cmd.append(f'"$kit"/{shlex.quote(rel)}')
                    continue
            cmd.append(shlex.quote(word))
        lines.append(f'echo "relink.sh: $(pwd)/{target}"')
        lines.append(continued(cmd))
    return "\n".join(lines) + "\n", files


def continued(words, width=96):
    """A shell command over several lines, each ended by a backslash."""
    lines, line = [], ""
    for word in words:
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = "    " + word
        else:
            line = f"{line} {word}" if line else word
    lines.append(line)
    return " \\\n".join(lines)


def relink_readme(inv, version, targets, toolchain):
    comps = inv.lgpl_components()
    return "\n".join([
        f"Vantrel {version}: relink kit for {', '.join(targets)} (32-bit Windows)",
        "",
        wrap("The GNU LGPL libraries in these binaries ("
             + ", ".join(f"{c.source} {c.version}: {', '.join(sorted(c.parts))}" for c in comps)
             + ") are linked statically. This kit lets you link the binaries again with "
             "changed versions of them, as that licence asks: it holds Vantrel's own object "
             "code and archives (one folder per binary), the third-party static libraries "
             "they were linked with (lib/), and relink.sh, which runs the link commands of "
             "the build."),
        "",
        "To use a changed library:",
        "",
        wrap("1. Build it as a static library for 32-bit Windows from its source (the "
             "Debian source package named in LICENSES.txt). Vantrel's scripts/win/build-mpg123.sh "
             "and build-audio.sh hold the options the shipped builds used.", "   ")[3:],
        "2. Put it into lib/ under the same name.",
        "3. sh relink.sh OUT, with the same compiler: " + toolchain + ".",
        "   Unchanged, the kit links binaries identical to the shipped ones before",
        "   they were stripped (the setup program installs them stripped with",
        "   i686-w64-mingw32-strip --strip-unneeded), but for the time of the link",
        "   that the linker writes into them.",
        "",
        "LICENSES.txt (installed beside vantrel.exe) names every part and its licence.",
        ""])


def fixed_zip(path, members):
    """A zip file whose bytes depend only on the members (fixed dates, sorted)."""
    tmp = path + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name in sorted(members):
            data, mode = members[name]
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
    os.replace(tmp, path)


def write_kit(inv, path, version, targets):
    script, files = relink_script(inv, targets)
    toolchain = subprocess.run(["i686-w64-mingw32-g++-posix", "--version"], capture_output=True,
                               text=True).stdout.splitlines()[0]
    top = os.path.splitext(os.path.basename(path))[0]
    members = {f"{top}/relink.sh": (script.encode(), 0o755),
               f"{top}/README.txt": (relink_readme(inv, version, targets, toolchain).replace("\n", "\r\n").encode(),
                                     0o644)}
    for rel, src in files.items():
        with open(src, "rb") as f:
            members[f"{top}/{rel}"] = (f.read(), 0o644)
    fixed_zip(path, members)
    return len(files)


def write_sources(inv, path):
    comps = [c for c in inv.lgpl_components() if c.source_dir]
    tmp = path + ".tmp"

    def clean(info):
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        info.mtime = 0
        return info

    with open(tmp, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", mtime=0, filename="") as gz, \
            tarfile.open(fileobj=gz, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for c in comps:
            base = os.path.basename(c.source_dir)
            for folder, dirs, names in os.walk(c.source_dir):
                dirs.sort()
                for name in sorted(names):
                    if name == ".vantrel-unpacked":
                        continue
                    full = os.path.join(folder, name)
                    tar.add(full, arcname=os.path.join(base, os.path.relpath(full, c.source_dir)),
                            recursive=False, filter=clean)
    os.replace(tmp, path)
    return [os.path.basename(c.source_dir) for c in comps]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--version", required=True)
    ap.add_argument("--licences", required=True, help="LICENSES.txt to write")
    ap.add_argument("--license", default=os.path.join(ROOT, "LICENSE"))
    ap.add_argument("--contact", help="the address for the written offer (default: the build's package contact)")
    ap.add_argument("--relink-kit", help="the relink kit (.zip) to write")
    ap.add_argument("--sources", help="the LGPL libraries' sources (.tar.gz) to write")
    ap.add_argument("--crlf", action="store_true", help="Windows line ends in LICENSES.txt")
    ap.add_argument("targets", nargs="+")
    args = ap.parse_args()
    try:
        contact = args.contact or package_contact(args.build)
        inv = Inventory(args.build, args.targets)
        kit_name = os.path.basename(args.relink_kit or f"vantrel-{args.version}-relink-kit.zip")
        sources_name = os.path.basename(args.sources or f"vantrel-{args.version}-lgpl-sources.tar.gz")
        text = licences_text(inv, args.version, args.license, kit_name, sources_name, contact)
        if args.crlf:
            text = text.replace("\n", "\r\n")
        with open(args.licences, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        for c in inv.sorted_components():
            print(f"notices: {c.source} {c.version}{' (LGPL)' if c.lgpl() else ''}: "
                  f"{', '.join(sorted(c.parts))} in {', '.join(sorted(c.targets))}", file=sys.stderr)
        if args.relink_kit:
            n = write_kit(inv, args.relink_kit, args.version, args.targets)
            print(f"notices: relink kit {args.relink_kit} ({n} files)", file=sys.stderr)
        if args.sources:
            names = write_sources(inv, args.sources)
            print(f"notices: sources {args.sources} ({', '.join(names)})", file=sys.stderr)
    except (NoticeError, subprocess.CalledProcessError, OSError) as e:
        print(f"notices: error: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
