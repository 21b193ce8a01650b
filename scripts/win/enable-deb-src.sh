#!/usr/bin/env bash
# Makes apt know Debian's source packages: writes, next to the existing binary
# sources, a list of the matching deb-src entries. Idempotent: the file is only
# rewritten when its content would change, and it prints "changed" in that case.
#   Both formats are read: deb822 *.sources files (stanzas whose Types has
#   "deb" but not "deb-src") and one-line *.list / sources.list entries.
set -euo pipefail

APT_DIR=${APT_DIR:-/etc/apt}
OUT=$APT_DIR/sources.list.d/vantrel-deb-src.sources

generate() {
    local f
    shopt -s nullglob
    for f in "$APT_DIR"/sources.list.d/*.sources; do
        [ "$f" = "$OUT" ] && continue
        # Paragraph mode: one record per stanza.
        awk 'BEGIN { RS = ""; FS = "\n" }
        {
            types = ""; enabled = 1
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^Types:/) types = " " substr($i, 7) " "
                if ($i ~ /^Enabled:[ \t]*no/) enabled = 0
            }
            if (!enabled || types !~ /[ \t]deb[ \t]/ || types ~ /[ \t]deb-src[ \t]/) next
            print "# from " FILENAME
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^Types:/) print "Types: deb-src"
                else if ($i !~ /^#/) print $i
            }
            print ""
        }' "$f"
    done
    local lists=("$APT_DIR"/sources.list.d/*.list)
    [ -f "$APT_DIR/sources.list" ] && lists+=("$APT_DIR/sources.list")
    for f in "${lists[@]}"; do
        # One-line entries become a deb822 stanza each.
        awk '/^[ \t]*deb[ \t]/ {
            opts = ""; n = 2
            if ($2 ~ /^\[/) {
                while ($n !~ /\]$/) { opts = opts " " $n; n++ }
                opts = opts " " $n; n++
            }
            uri = $n; suite = $(n + 1); comps = ""
            for (i = n + 2; i <= NF; i++) comps = comps (comps ? " " : "") $i
            print "# from " FILENAME
            print "Types: deb-src"
            print "URIs: " uri
            print "Suites: " suite
            if (comps) print "Components: " comps
            if (match(opts, /signed-by=[^] ]+/)) print "Signed-By: " substr(opts, RSTART + 10, RLENGTH - 10)
            print ""
        }' "$f"
    done
}

content=$(generate)
[ -n "$content" ] || { echo "no Debian binary sources found under $APT_DIR" >&2; exit 1; }
content="# Written by scripts/win/enable-deb-src.sh: source packages for apt-get source.
$content"
if [ -f "$OUT" ] && [ "$(cat "$OUT")" = "$content" ]; then
    echo unchanged
else
    printf '%s\n' "$content" >"$OUT"
    echo changed
fi
