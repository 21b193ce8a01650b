#!/usr/bin/env python3
"""Static inspection of a Windows PE file (DLL or EXE), with optional checks.

    inspect-pe.py FILE [--json] [--functions]
                  [--expect-machine i386|amd64] [--expect-exports NAME,...]
                  [--expect-dll-name NAME] [--system-imports-only]
                  [--expect-version A.B.C.D] [--expect-dialog ID ...]
                  [--expect-execution-level LEVEL] [--expect-unsigned]

Prints the machine, the export directory (DLL name and exported names), the
imported DLLs (direct and delay-loaded) and the resources, with the strings of
the version block, the dialogs' templates (caption, font, and each control's
class, id, text, position and styles), the manifest's requested execution level
and whether the file carries an Authenticode signature. Each --expect option adds a check;
the exit code is 0 when all checks pass, 1 when one fails, 2 when the file
cannot be read as a PE image. Uses only the standard library, so it runs
wherever python3 does, with no binutils needed.
"""
import argparse
import json
import re
import struct
import sys

MACHINES = {0x14C: "i386", 0x8664: "amd64", 0x1C4: "armnt", 0xAA64: "arm64"}
RESOURCE_TYPES = {
    1: "CURSOR", 2: "BITMAP", 3: "ICON", 4: "MENU", 5: "DIALOG", 6: "STRING",
    7: "FONTDIR", 8: "FONT", 9: "ACCELERATOR", 10: "RCDATA", 11: "MESSAGETABLE",
    12: "GROUP_CURSOR", 14: "GROUP_ICON", 16: "VERSION", 17: "DLGINCLUDE",
    19: "PLUGPLAY", 20: "VXD", 21: "ANICURSOR", 22: "ANIICON", 23: "HTML", 24: "MANIFEST",
}
RT_DIALOG = 5
RT_MANIFEST = 24
RT_VERSION = 16

# DLLs that every supported Windows ships. Anything else (a compiler's runtime
# such as libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll, or the Visual C++
# redistributables msvcp140.dll / vcruntime140.dll) would have to be installed
# next to the plug-in, which the host does not do.
SYSTEM_DLLS = {
    "advapi32.dll", "avrt.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll",
    "crypt32.dll", "dbghelp.dll", "dsound.dll", "dwmapi.dll", "gdi32.dll",
    "gdiplus.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll", "kernelbase.dll",
    "mpr.dll", "msacm32.dll", "msimg32.dll", "msvcrt.dll", "ntdll.dll", "ole32.dll",
    "oleaut32.dll", "powrprof.dll", "psapi.dll", "rpcrt4.dll", "secur32.dll",
    "setupapi.dll", "shell32.dll", "shlwapi.dll", "ucrtbase.dll", "user32.dll",
    "userenv.dll", "uxtheme.dll", "version.dll", "winhttp.dll", "wininet.dll",
    "winmm.dll", "winspool.drv", "ws2_32.dll", "wsock32.dll",
}
API_SET = re.compile(r"^(api|ext)-ms-win-[a-z0-9-]+\.dll$")


class PEError(Exception):
    pass


def is_system_dll(name):
    lower = name.lower()
    return lower in SYSTEM_DLLS or bool(API_SET.match(lower))


class PE:
    def __init__(self, data):
        self.data = data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PEError("not an MZ executable")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PEError("no PE signature")
        (machine, nsections, self.timestamp, _, _, opt_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.machine = MACHINES.get(machine, f"0x{machine:04x}")
        opt = pe + 24
        magic = self.u16(opt)
        if magic == 0x10B:
            self.pe32plus = False
            self.image_base = self.u32(opt + 28)
            ndirs, dirs = self.u32(opt + 92), opt + 96
        elif magic == 0x20B:
            self.pe32plus = True
            self.image_base = struct.unpack_from("<Q", data, opt + 24)[0]
            ndirs, dirs = self.u32(opt + 108), opt + 112
        else:
            raise PEError(f"unknown optional header magic 0x{magic:x}")
        self.subsystem = self.u16(opt + 68)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        sec = opt + opt_size
        for i in range(nsections):
            name = data[sec:sec + 8].rstrip(b"\0").decode("latin-1")
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, sec + 8)
            self.sections.append((name, va, max(vsize, rawsize), rawptr, rawsize))
            sec += 40

    # -- low-level reads -------------------------------------------------
    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        if off < 0 or off + 4 > len(self.data):
            raise PEError(f"read past the end of the file at {off}")
        return struct.unpack_from("<I", self.data, off)[0]

    def off(self, rva):
        for _, va, size, rawptr, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise PEError(f"RVA 0x{rva:x} lies in uninitialised data")
                return rawptr + rva - va
        raise PEError(f"RVA 0x{rva:x} is outside every section")

    def cstr(self, rva):
        o = self.off(rva)
        end = self.data.find(b"\0", o)
        if end < 0:
            raise PEError("unterminated string")
        return self.data[o:end].decode("latin-1")

    def directory(self, index):
        if index >= len(self.dirs):
            return 0, 0
        return self.dirs[index]

    # -- exports ---------------------------------------------------------
    def exports(self):
        rva, size = self.directory(0)
        if not rva:
            return None
        o = self.off(rva)
        (_, _, _, _, name_rva, base, nfuncs, nnames, funcs, names,
         ords) = struct.unpack_from("<IIHHIIIIIII", self.data, o)
        result = {"dll_name": self.cstr(name_rva) if name_rva else "", "ordinal_base": base,
                  "names": [], "unnamed_ordinals": []}
        named = set()
        for i in range(nnames):
            name = self.cstr(self.u32(self.off(names) + 4 * i))
            index = self.u16(self.off(ords) + 2 * i)
            if index >= nfuncs:
                raise PEError(f"export {name} has ordinal index {index} past {nfuncs}")
            target = self.u32(self.off(funcs) + 4 * index)
            entry = {"name": name, "ordinal": base + index}
            if rva <= target < rva + size:
                entry["forward"] = self.cstr(target)
            result["names"].append(entry)
            named.add(index)
        for index in range(nfuncs):
            if index not in named and self.u32(self.off(funcs) + 4 * index):
                result["unnamed_ordinals"].append(base + index)
        return result

    # -- imports ---------------------------------------------------------
    def _thunks(self, rva):
        """Imported function names (or "#ordinal") of a name/address table."""
        width = 8 if self.pe32plus else 4
        flag = 1 << (63 if self.pe32plus else 31)
        fmt = "<Q" if self.pe32plus else "<I"
        out = []
        o = self.off(rva)
        while True:
            value = struct.unpack_from(fmt, self.data, o)[0]
            if value == 0:
                return out
            if value & flag:
                out.append(f"#{value & 0xFFFF}")
            else:
                out.append(self.cstr((value & 0x7FFFFFFF) + 2))
            o += width

    def imports(self):
        rva, _ = self.directory(1)
        result = []
        if not rva:
            return result
        o = self.off(rva)
        while True:
            oft, _, _, name_rva, ft = struct.unpack_from("<IIIII", self.data, o)
            if not (oft or name_rva or ft):
                return result
            result.append({"dll": self.cstr(name_rva), "functions": self._thunks(oft or ft)})
            o += 20

    def delay_imports(self):
        rva, _ = self.directory(13)
        result = []
        if not rva:
            return result
        o = self.off(rva)
        while True:
            attrs, name, _, _, int_rva = struct.unpack_from("<IIIII", self.data, o)
            if not (name or int_rva):
                return result
            if not attrs & 1:  # old-style descriptors hold addresses, not RVAs
                name -= self.image_base
                int_rva -= self.image_base
            result.append({"dll": self.cstr(name), "functions": self._thunks(int_rva)})
            o += 32

    # -- resources -------------------------------------------------------
    def resources(self):
        """List of {type, name, lang, size, data} for every resource."""
        rva, _ = self.directory(2)
        if not rva:
            return []
        base = self.off(rva)
        out = []

        def entries(dir_off):
            named, ids = struct.unpack_from("<HH", self.data, base + dir_off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, base + dir_off + 16 + 8 * i)
                if name & 0x80000000:
                    p = base + (name & 0x7FFFFFFF)
                    n = self.u16(p)
                    key = self.data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
                else:
                    key = name
                yield key, target

        for rtype, t in entries(0):
            if not t & 0x80000000:
                raise PEError("resource type entry is not a directory")
            for rname, n in entries(t & 0x7FFFFFFF):
                if not n & 0x80000000:
                    raise PEError("resource name entry is not a directory")
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    if leaf & 0x80000000:
                        raise PEError("resource nesting deeper than three levels")
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    o = self.off(data_rva)
                    out.append({"type": rtype, "name": rname, "lang": lang, "size": size,
                                "data": self.data[o:o + size]})
        return out


def _utf16z(buf, p, end):
    """A NUL-terminated UTF-16LE string at P (not past END); returns (text, next)."""
    q = p
    while q + 1 < end and buf[q:q + 2] != b"\0\0":
        q += 2
    return buf[p:q].decode("utf-16-le", errors="replace"), q + 2


def parse_version(data):
    """Parses a VS_VERSIONINFO resource: fixed versions and the string tables."""
    def align(p):
        return (p + 3) & ~3

    def block(p):
        length, value_len, vtype = struct.unpack_from("<HHH", data, p)
        if length < 6:
            raise PEError("version block with a bad length")
        end = min(p + length, len(data))
        key, q = _utf16z(data, p + 6, end)
        q = align(q)
        if vtype == 1:  # text: the length counts characters, some tools count bytes
            value, _ = _utf16z(data, q, min(end, q + 2 * value_len) if value_len else q)
            q += 2 * value_len
        else:
            value = data[q:q + value_len]
            q += value_len
        q = align(q)
        children = []
        while q + 6 <= end:
            child, q = block(q)
            children.append(child)
            q = align(q)
        return {"key": key, "value": value, "children": children}, end

    root, _ = block(0)
    if root["key"] != "VS_VERSION_INFO":
        raise PEError(f"version resource starts with {root['key']!r}")
    info = {"file_version": None, "product_version": None, "strings": {}}
    fixed = root["value"]
    if len(fixed) >= 52:
        sig, _, fms, fls, pms, pls = struct.unpack_from("<6I", fixed)
        if sig != 0xFEEF04BD:
            raise PEError("VS_FIXEDFILEINFO signature missing")
        info["file_version"] = f"{fms >> 16}.{fms & 0xFFFF}.{fls >> 16}.{fls & 0xFFFF}"
        info["product_version"] = f"{pms >> 16}.{pms & 0xFFFF}.{pls >> 16}.{pls & 0xFFFF}"
    for child in root["children"]:
        if child["key"] == "StringFileInfo":
            for table in child["children"]:
                for s in table["children"]:
                    value = s["value"] if isinstance(s["value"], str) else ""
                    info["strings"].setdefault(table["key"], {})[s["key"]] = value
    return info


DIALOG_CLASSES = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
                  0x84: "ScrollBar", 0x85: "ComboBox"}
DS_SETFONT = 0x40
DS_SHELLFONT = 0x48


def parse_dialog(data):
    """Parses a dialog template (DLGTEMPLATE or DLGTEMPLATEEX) and its controls."""
    def sz_or_ord(p):
        first = struct.unpack_from("<H", data, p)[0]
        if first == 0:
            return "", p + 2
        if first == 0xFFFF:
            return struct.unpack_from("<H", data, p + 2)[0], p + 4
        return _utf16z(data, p, len(data))

    extended = len(data) >= 4 and struct.unpack_from("<HH", data, 0) == (1, 0xFFFF)
    if extended:
        _, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<IIIHhhhh", data, 4)
        p = 26
    else:
        style, ex_style, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
        p = 18
    menu, p = sz_or_ord(p)
    wclass, p = sz_or_ord(p)
    caption, p = sz_or_ord(p)
    dlg = {"extended": extended, "style": style, "ex_style": ex_style, "rect": [x, y, cx, cy],
           "menu": menu, "class": wclass, "caption": caption, "font": None, "controls": []}
    if style & DS_SETFONT:
        if extended:
            size, weight, italic, charset = struct.unpack_from("<HHBB", data, p)
            p += 6
        else:
            size, = struct.unpack_from("<H", data, p)
            weight, italic, charset = 0, 0, 0
            p += 2
        face, p = _utf16z(data, p, len(data))
        dlg["font"] = {"size": size, "weight": weight, "italic": italic, "charset": charset, "face": face}
    for _ in range(count):
        p = (p + 3) & ~3
        if extended:
            _, c_ex, c_style, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhi", data, p)
            p += 24
        else:
            c_style, c_ex, x, y, cx, cy, cid = struct.unpack_from("<IIhhhhH", data, p)
            cid = cid - 0x10000 if cid >= 0x8000 else cid
            p += 18
        cclass, p = sz_or_ord(p)
        text, p = sz_or_ord(p)
        extra = struct.unpack_from("<H", data, p)[0]
        p += 2 + extra
        dlg["controls"].append({
            "class": DIALOG_CLASSES.get(cclass, cclass) if isinstance(cclass, int) else cclass,
            "id": cid, "text": text, "rect": [x, y, cx, cy], "style": c_style, "ex_style": c_ex})
    return dlg


def inspect(path):
    with open(path, "rb") as f:
        pe = PE(f.read())
    report = {
        "file": path,
        "machine": pe.machine,
        "format": "PE32+" if pe.pe32plus else "PE32",
        "kind": "DLL" if pe.characteristics & 0x2000 else "EXE",
        "subsystem": {2: "windows", 3: "console"}.get(pe.subsystem, str(pe.subsystem)),
        "exports": pe.exports(),
        "imports": pe.imports(),
        "delay_imports": pe.delay_imports(),
        "resources": [],
        "version": None,
        "dialogs": [],
        "dialog_templates": {},
        "manifest": None,
        "execution_level": None,
        # The certificate table (data directory 4) holds an Authenticode signature.
        "signed": pe.directory(4)[1] > 0,
    }
    for r in pe.resources():
        rtype = RESOURCE_TYPES.get(r["type"], r["type"]) if isinstance(r["type"], int) else r["type"]
        report["resources"].append({"type": rtype, "name": r["name"], "lang": r["lang"], "size": r["size"]})
        if r["type"] == RT_VERSION:
            report["version"] = parse_version(r["data"])
        elif r["type"] == RT_DIALOG:
            report["dialogs"].append(r["name"])
            report["dialog_templates"][r["name"]] = parse_dialog(r["data"])
        elif r["type"] == RT_MANIFEST:
            report["manifest"] = r["data"].decode("utf-8-sig", "replace")
            report["execution_level"] = execution_level(r["data"])
    return report


def execution_level(manifest):
    """The requestedExecutionLevel's level in a manifest's XML text, or None."""
    import xml.etree.ElementTree as ET
    root = ET.fromstring(manifest)
    for el in root.iter():
        if el.tag.split("}")[-1] == "requestedExecutionLevel":
            return el.get("level")
    return None


def normalise_version(text):
    """'1, 0, 0, 1' and '1.0.0.1' both become '1.0.0.1'."""
    return ".".join(part.strip() for part in re.split(r"[.,]", text.strip()))


def run_checks(report, args):
    failures = []
    if args.expect_machine and report["machine"] != args.expect_machine:
        failures.append(f"machine is {report['machine']}, expected {args.expect_machine}")
    exports = report["exports"]
    if args.expect_exports is not None:
        wanted = sorted(n for n in args.expect_exports.split(",") if n)
        got = sorted(e["name"] for e in exports["names"]) if exports else []
        if got != wanted:
            failures.append(f"exports are {got}, expected exactly {wanted}")
        if exports and exports["unnamed_ordinals"]:
            failures.append(f"unnamed exports at ordinals {exports['unnamed_ordinals']}")
        if exports and any("forward" in e for e in exports["names"]):
            failures.append("forwarded exports present")
    if args.expect_dll_name is not None:
        got = exports["dll_name"] if exports else None
        if got != args.expect_dll_name:
            failures.append(f"export directory names the DLL {got!r}, expected {args.expect_dll_name!r}")
    if args.system_imports_only:
        for imp in report["imports"] + report["delay_imports"]:
            if not is_system_dll(imp["dll"]):
                failures.append(f"imports {imp['dll']}, which is not a Windows system DLL")
    if args.expect_version:
        v = report["version"]
        if not v:
            failures.append("no version resource")
        else:
            if v["file_version"] != args.expect_version:
                failures.append(f"fixed file version is {v['file_version']}, expected {args.expect_version}")
            for table, strings in v["strings"].items():
                for key in ("FileVersion", "ProductVersion"):
                    if key in strings and normalise_version(strings[key]) != args.expect_version:
                        failures.append(f"{key} string in {table} is {strings[key]!r}, "
                                        f"expected {args.expect_version}")
            if not v["strings"]:
                failures.append("version resource has no string table")
    if args.expect_execution_level:
        if report["manifest"] is None:
            failures.append("no manifest resource")
        elif report["execution_level"] != args.expect_execution_level:
            failures.append(f"manifest requests execution level {report['execution_level']!r}, "
                            f"expected {args.expect_execution_level!r}")
    if args.expect_unsigned and report["signed"]:
        failures.append("the file carries a signature (certificate table)")
    for dialog in args.expect_dialog or []:
        if dialog not in report["dialogs"]:
            failures.append(f"no dialog resource with id {dialog} (have {report['dialogs']})")
    return failures


def print_text(report, functions):
    print(f"file: {report['file']}")
    print(f"machine: {report['machine']} ({report['format']}), {report['kind']}, "
          f"{report['subsystem']} subsystem")
    exp = report["exports"]
    if exp is None:
        print("exports: none (no export directory)")
    else:
        print(f"exports: {len(exp['names'])} named, DLL name {exp['dll_name']!r}")
        for e in exp["names"]:
            forward = f" -> {e['forward']}" if "forward" in e else ""
            print(f"  {e['name']} (ordinal {e['ordinal']}){forward}")
        for o in exp["unnamed_ordinals"]:
            print(f"  (unnamed) ordinal {o}")
    for label, key in (("imports", "imports"), ("delay-loaded imports", "delay_imports")):
        if not report[key] and key == "delay_imports":
            continue
        print(f"{label}:")
        for imp in report[key]:
            system = "" if is_system_dll(imp["dll"]) else "  [NOT A SYSTEM DLL]"
            print(f"  {imp['dll']} ({len(imp['functions'])} functions){system}")
            if functions:
                for fn in imp["functions"]:
                    print(f"      {fn}")
    print("resources:" if report["resources"] else "resources: none")
    for r in report["resources"]:
        print(f"  {r['type']} {r['name']} lang {r['lang']} ({r['size']} bytes)")
    v = report["version"]
    if v:
        print(f"version: file {v['file_version']}, product {v['product_version']}")
        for table, strings in v["strings"].items():
            for key, value in strings.items():
                print(f"  [{table}] {key} = {value}")
    if report["manifest"] is not None:
        print(f"manifest: requested execution level {report['execution_level']}")
    print(f"signature: {'present' if report['signed'] else 'none'}")
    if report["dialogs"]:
        print(f"dialogs: {', '.join(str(d) for d in report['dialogs'])}")
    for name, d in report["dialog_templates"].items():
        font = d["font"]
        font_text = f", font {font['face']!r} {font['size']} pt" if font else ""
        print(f"dialog {name}: {d['caption']!r}, style 0x{d['style']:08x}, ex-style 0x{d['ex_style']:x}, "
              f"{d['rect']}{font_text}, {len(d['controls'])} controls")
        for c in d["controls"]:
            print(f"  {c['class']} {c['id']} {c['text']!r} {c['rect']} style 0x{c['style']:08x}")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("file")
    ap.add_argument("--json", action="store_true", help="print the report as JSON")
    ap.add_argument("--functions", action="store_true", help="list imported functions too")
    ap.add_argument("--expect-machine", choices=sorted(set(MACHINES.values())))
    ap.add_argument("--expect-exports", metavar="NAME,...",
                    help="exact set of exported names (empty string: none)")
    ap.add_argument("--expect-dll-name", metavar="NAME")
    ap.add_argument("--system-imports-only", action="store_true")
    ap.add_argument("--expect-version", metavar="A.B.C.D")
    ap.add_argument("--expect-dialog", metavar="ID", type=int, action="append")
    ap.add_argument("--expect-execution-level", metavar="LEVEL",
                    help="asInvoker, highestAvailable or requireAdministrator")
    ap.add_argument("--expect-unsigned", action="store_true")
    args = ap.parse_args(argv)

    try:
        report = inspect(args.file)
    except (OSError, PEError, struct.error) as e:
        print(f"{args.file}: cannot inspect: {e}", file=sys.stderr)
        return 2
    if args.json:
        print(json.dumps(report, indent=2, default=str))
    else:
        print_text(report, args.functions)
    failures = run_checks(report, args)
    for f in failures:
        print(f"CHECK FAILED: {f}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
