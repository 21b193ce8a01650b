#!/usr/bin/env python3
"""Checks a built in_vantrel.dll as the host will see it, from the file alone.

    check_plugin_pe.py DLL --machine i386|amd64

The one export winampGetInModule2 (undecorated) and the export directory's name;
imports from Windows system DLLs only (the compiler's runtime is linked in); the
version block; the song information dialog (resource 1016) with its 16 controls.
Prints every mismatch and exits 1 when there is one.
"""
import argparse
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location(
    "inspect_pe", os.path.join(HERE, "..", "..", "scripts", "win", "inspect-pe.py"))
inspect_pe = importlib.util.module_from_spec(spec)
spec.loader.exec_module(inspect_pe)

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_VSCROLL, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00200000, 0x00080000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_SETFONT, DS_MODALFRAME, WS_EX_TOOLWINDOW = 0x40, 0x80, 0x80
BS_DEFPUSHBUTTON = 0x1
ES_RIGHT, ES_MULTILINE, ES_AUTOVSCROLL, ES_AUTOHSCROLL = 0x2, 0x4, 0x40, 0x80
ES_READONLY, ES_WANTRETURN = 0x800, 0x1000

FIELD = WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL
# class, id, text, x, y, width, height, styles besides child and visible
CONTROLS = [
    ("button", 1, "OK", 163, 121, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON),
    ("static", -1, "Location:", 11, 8, 30, 8, WS_GROUP),
    ("static", -1, "Author:", 11, 25, 24, 8, WS_GROUP),
    ("static", -1, "Title:", 11, 41, 16, 8, WS_GROUP),
    ("static", -1, "Genre:", 11, 57, 22, 8, WS_GROUP),
    ("static", -1, "Publisher:", 11, 72, 32, 8, WS_GROUP),
    ("static", -1, "Copyright notice:", 11, 87, 54, 8, WS_GROUP),
    ("static", -1, "Size:", 11, 127, 16, 8, WS_GROUP),
    ("edit", 1014, "", 49, 7, 164, 14, FIELD),
    ("edit", 1015, "", 49, 23, 164, 14, FIELD),
    ("edit", 1016, "", 49, 39, 163, 14, FIELD),
    ("edit", 1018, "", 49, 55, 164, 14, FIELD),
    ("edit", 1019, "", 49, 71, 164, 14, FIELD),
    ("edit", 1020, "", 69, 87, 144, 32, WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
     ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN),
    ("edit", 1021, "", 31, 121, 53, 14, WS_BORDER | WS_TABSTOP | ES_RIGHT | ES_READONLY | ES_AUTOHSCROLL),
    ("static", -1, "Bytes", 87, 127, 18, 8, WS_GROUP),
]
RUNTIME_DLLS = ("libstdc++", "libgcc", "libwinpthread", "libmpg123", "msvcp", "vcruntime")


def check(report, machine):
    bad = []

    def expect(what, got, wanted):
        if got != wanted:
            bad.append(f"{what}: {got!r}, expected {wanted!r}")

    expect("machine", report["machine"], machine)
    expect("kind", report["kind"], "DLL")
    exports = report["exports"] or {"names": [], "dll_name": None, "unnamed_ordinals": []}
    expect("exports", [e["name"] for e in exports["names"]], ["winampGetInModule2"])
    expect("unnamed exports", exports["unnamed_ordinals"], [])
    expect("export directory name", exports["dll_name"], "in_vantrel.dll")
    for imp in report["imports"] + report["delay_imports"]:
        name = imp["dll"].lower()
        if not inspect_pe.is_system_dll(name) or name.startswith(RUNTIME_DLLS):
            bad.append(f"imports {imp['dll']}, which is not a Windows system DLL")

    v = report["version"]
    if not v:
        bad.append("no version resource")
    else:
        expect("file version", v["file_version"], "1.0.0.1")
        expect("product version", v["product_version"], "1.0.0.1")
        strings = {}
        for table in v["strings"].values():
            strings.update(table)
        expect("FileDescription", strings.get("FileDescription"), "in_vnf DLL")
        expect("OriginalFilename", strings.get("OriginalFilename"), "in_vnf.DLL")
        for key in ("FileVersion", "ProductVersion"):
            expect(key, inspect_pe.normalise_version(strings.get(key, "")), "1.0.0.1")

    d = report["dialog_templates"].get(1016)
    if not d:
        bad.append(f"no dialog resource 1016 (have {report['dialogs']})")
        return bad
    expect("dialog: extended template", d["extended"], True)
    expect("dialog caption", d["caption"], "Song info")
    expect("dialog style", hex(d["style"]),
           hex(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT))
    expect("dialog extended style", hex(d["ex_style"]), hex(WS_EX_TOOLWINDOW))
    expect("dialog position and size", d["rect"], [0, 0, 220, 142])
    expect("dialog font", d["font"],
           {"size": 8, "weight": 0, "italic": 0, "charset": 1, "face": "MS Sans Serif"})
    expect("dialog control count", len(d["controls"]), len(CONTROLS))
    for n, (c, want) in enumerate(zip(d["controls"], CONTROLS), 1):
        cls, cid, text, x, y, cx, cy, style = want
        got_class = c["class"].lower() if isinstance(c["class"], str) else c["class"]
        got = (got_class, c["id"], c["text"], *c["rect"], hex(c["style"]))
        wanted = (cls, cid, text, x, y, cx, cy, hex(WS_CHILD | WS_VISIBLE | style))
        expect(f"control {n}", got, wanted)
    return bad


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dll")
    ap.add_argument("--machine", required=True, choices=["i386", "amd64"])
    args = ap.parse_args(argv)
    bad = check(inspect_pe.inspect(args.dll), args.machine)
    for b in bad:
        print(f"{args.dll}: {b}", file=sys.stderr)
    print(f"{args.dll}: {'ok' if not bad else f'{len(bad)} mismatches'}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
