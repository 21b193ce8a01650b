#!/bin/sh
# Writes the copyright file of one of our Debian packages, in Debian's machine-readable
# format: our licence (LICENSE) for all of our files and, for every third-party
# library that is compiled into one of the package's files (header-only or static),
# that library's notices as the Debian package that provides it states them (its
# /usr/share/doc/PACKAGE/copyright).
#
#   debian-copyright.sh OUT CONTACT LICENSE [INSTALLED=USED ...]
#
# INSTALLED is the file of ours that carries the library's code (usr/bin/vantrel); USED
# is one of the library's files that the build compiled in (/usr/include/CLI/CLI.hpp),
# whose Debian package dpkg -S names. The library's paragraphs are kept as its
# packagers wrote them, except its header and its Debian packaging (Files: debian/*),
# with each Files pattern put under a folder named after its source package (cli11/*:
# the library's files as its source package lays them out, not files of ours). A
# licence name that another text already has in the file gets that folder's name as
# a suffix (BSD-3-clause~cli11). Fails when a file belongs to no package or the
# package's copyright file is not in the machine-readable format.
set -eu
[ $# -ge 3 ] || { echo "usage: $0 OUT CONTACT LICENSE [INSTALLED=USED ...]" >&2; exit 2; }
out=$1 contact=$2 license=$3
shift 3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

n=0
: >"$tmp/libraries"
for pair in "$@"; do
    installed=${pair%%=*} used=${pair#*=}
    owner=$(dpkg -S "$used" 2>/dev/null | head -n 1) || true
    [ -n "$owner" ] || { echo "$0: no Debian package holds $used" >&2; exit 1; }
    pkg=${owner%%:*}
    # dpkg -S says "pkg:arch: path" for multi-arch packages.
    pkg=${pkg%% *}
    src=$(dpkg-query -W -f='${source:Package}' "$pkg")
    version=$(dpkg-query -W -f='${Version}' "$pkg")
    copyright=/usr/share/doc/$pkg/copyright
    grep -q '^Format: .*copyright-format' "$copyright" 2>/dev/null ||
        { echo "$0: $copyright is not in the machine-readable format" >&2; exit 1; }
    n=$((n + 1))
    cp "$copyright" "$tmp/$n"
    printf '%s\t%s\t%s\t%s\t%s\n' "$n" "$src" "$pkg" "$version" "$installed" >>"$tmp/libraries"
done

awk -v contact="$contact" -v license="$license" -v tmp="$tmp" -f - >"$tmp/out" <<'AWK'
function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
# The text of a licence, for comparing: its words only.
function words(s) { gsub(/[ \t\n.]+/, " ", s); return tolower(trim(s)) }
# A paragraph's field: its value, continuation lines included ("" when absent).
function field(p, name,    lines, k, i, v, on) {
    k = split(p, lines, "\n"); v = ""; on = 0
    for (i = 1; i <= k; i++) {
        if (lines[i] ~ /^[^ \t]/) {
            on = tolower(substr(lines[i], 1, index(lines[i], ":") - 1)) == tolower(name)
            if (on) v = trim(substr(lines[i], index(lines[i], ":") + 1))
        } else if (on) v = v "\n" lines[i]
    }
    return v
}
function first_line(s,    i) { return (i = index(s, "\n")) ? substr(s, 1, i - 1) : s }
function rest(s,    i) { return (i = index(s, "\n")) ? substr(s, i + 1) : "" }
# Renames the licence names in a License expression ("GPL-2+ or BSD-3-clause").
function rename(expr, lib,    k, t, i, out, core, tail) {
    k = split(expr, t, / /); out = ""
    for (i = 1; i <= k; i++) {
        core = t[i]; tail = ""
        if (core ~ /,$/) { tail = ","; core = substr(core, 1, length(core) - 1) }
        if ((lib SUBSEP tolower(core)) in newname) core = newname[lib, tolower(core)]
        out = out (i > 1 ? " " : "") core tail
    }
    return out
}
function read_paragraphs(file, lib,    p, c) {
    RS = ""; c = 0
    while ((getline p < file) > 0) para[lib, ++c] = p
    close(file); npara[lib] = c
}
BEGIN {
    # Our own text.
    while ((getline line < license) > 0) own = own (own == "" ? "" : "\n") (line == "" ? " ." : " " line)
    close(license)
    # Only "words" of the text count when names are compared.
    text["bsd-3-clause"] = words(own)
    nlib = 0
    while ((getline line < (tmp "/libraries")) > 0) {
        split(line, f, "\t")
        nlib++; src[nlib] = f[2]; pkg[nlib] = f[3]; ver[nlib] = f[4]; inst[nlib] = f[5]
    }
    close(tmp "/libraries")
    for (l = 1; l <= nlib; l++) {
        read_paragraphs(tmp "/" l, l)
        for (j = 1; j <= npara[l]; j++) {
            p = para[l, j]
            if (field(p, "Format") != "") {
                upstream[l] = field(p, "Upstream-Name"); source[l] = field(p, "Source")
                continue
            }
            lic = field(p, "License")
            if (field(p, "Files") == "" && lic != "") {
                name = tolower(first_line(lic)); body = words(rest(lic))
                if ((name in text) && text[name] != body) {
                    newname[l, name] = first_line(lic) "~" src[l]
                    text[tolower(newname[l, name])] = body
                } else text[name] = body
            }
        }
    }
    print "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    print "Upstream-Name: vantrel"
    print "Upstream-Contact: " contact
    if (nlib > 0) {
        print "Comment: Files under a folder named after a Debian source package are not ours:"
        print " they are the sources of the third-party libraries compiled into this"
        print " package's files, with their notices as Debian ships them."
        for (l = 1; l <= nlib; l++) {
            print " ."
            print " " src[l] "/: " (upstream[l] != "" ? upstream[l] : src[l]) \
                (source[l] != "" ? " (" source[l] ")" : "") ", from Debian's " pkg[l] " " ver[l] \
                ", compiled into " inst[l] "."
        }
    }
    print ""
    print "Files: *"
    print "Copyright: 2026 The Vantrel developers"
    print "License: BSD-3-Clause"
    print own
    for (l = 1; l <= nlib; l++) {
        for (j = 1; j <= npara[l]; j++) {
            p = para[l, j]
            if (field(p, "Format") != "") continue
            files = field(p, "Files")
            if (files != "") {
                k = split(files, pat, /[ \t\n]+/); kept = ""; debian = 1
                for (i = 1; i <= k; i++) {
                    if (pat[i] == "") continue
                    if (pat[i] !~ /^debian\//) debian = 0
                    kept = kept (kept == "" ? "" : " ") src[l] "/" pat[i]
                }
                if (debian) continue
                np = split(p, lines, "\n"); out = ""; infiles = 0
                for (i = 1; i <= np; i++) {
                    line = lines[i]
                    if (line ~ /^[^ \t]/) infiles = tolower(line) ~ /^files:/
                    if (infiles) {
                        if (line ~ /^[^ \t]/) line = "Files: " kept
                        else continue
                    } else if (tolower(line) ~ /^license:/) {
                        line = "License: " rename(trim(substr(line, 9)), l)
                    }
                    out = out (out == "" ? "" : "\n") line
                }
                print ""; print out
            } else if (field(p, "License") != "") {
                np = split(p, lines, "\n")
                lic = first_line(field(p, "License"))
                if ((l SUBSEP tolower(lic)) in newname) lines[1] = "License: " newname[l, tolower(lic)]
                print ""
                for (i = 1; i <= np; i++) print lines[i]
            }
        }
    }
}
AWK
mv "$tmp/out" "$out"
