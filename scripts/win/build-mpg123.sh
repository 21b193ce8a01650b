#!/usr/bin/env bash
# Cross-builds libmpg123 and libout123 (static) for Windows from Debian's source
# package. libout123 is what `vantrel play` writes with: its WAV writer is built in,
# and its one audio output is the system's waveOut ("win32").
#
#   scripts/win/build-mpg123.sh i686|x86_64
#
# Result: $VANTREL_CACHE/mpg123-ARCH-HASH/{include,lib} (HASH: of the recipe below), with VANTREL_CACHE defaulting
# to ${XDG_CACHE_HOME:-$HOME/.cache}/vantrel. Prints the prefix on stdout.
# Does nothing when that prefix already holds a library built with the same
# settings (stamp file), so CI pays for the build once per machine.
#
# The source comes from "apt-get source mpg123" (deb-src entries are added by
# enable-deb-src.sh). Its checksums are checked against the .dsc, which apt has
# itself checked against the signed index; a missing detached upstream signature
# (.asc) on the mirror is tolerated for that reason.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

set_arch "${1:-}"

# Decoders: upstream's choice for each mingw target ("x86" packs i386/i586/MMX/
# 3DNow/SSE and generic; "x86-64" packs x86-64/AVX and generic). Both keep the
# "generic" decoder that the tests pin. On i686 the old truncating 16-bit sample
# writer is turned off and SSE2 arithmetic is used, so that "generic" computes
# exactly what the x86_64 builds (ours and the Linux package) compute. The library
# builds with -ffast-math, which lets GCC reorder the synthesis filter's sums in
# independent chains; on 64-bit targets it makes 4 of them, on 32-bit ones at most
# 2, and the different rounding shows as a sample one step off here and there
# (about one in 10 000). The parameter asks the 32-bit compiler for 4 as well.
case $ARCH in
    i686)
        CPU=x86
        EXTRA_CFLAGS="-msse2 -mfpmath=sse --param=tree-reassoc-width=4"
        EXTRA_CONF=(--enable-newoldwritesample=no)
        ;;
    x86_64)
        CPU=x86-64
        EXTRA_CFLAGS=""
        EXTRA_CONF=()
        ;;
esac
CONF=(--host="$TRIPLE" --enable-static --disable-shared --with-cpu="$CPU"
    --disable-modules --with-audio=win32 --with-network=none "${EXTRA_CONF[@]}")
CC_BIN=$TRIPLE-gcc-posix
STAMP_TEXT="mpg123+out123 ${CONF[*]} CFLAGS=$EXTRA_CFLAGS CC=$CC_BIN"
# One folder per recipe: checkouts that build with different recipes share the
# cache without rebuilding each other's libraries.
PREFIX=$VANTREL_CACHE/mpg123-$ARCH-$(printf '%s' "$STAMP_TEXT" | sha256sum | cut -c1-8)

already_built() {
    [ -f "$PREFIX/lib/libmpg123.a" ] && [ -f "$PREFIX/include/mpg123.h" ] &&
        [ -f "$PREFIX/lib/libout123.a" ] && [ -f "$PREFIX/include/out123.h" ] &&
        [ -f "$PREFIX/.vantrel-stamp" ] && [ "$(cat "$PREFIX/.vantrel-stamp")" = "$STAMP_TEXT" ]
}

# Leaves the path of the unpacked, patched source tree in SRC_DIR.
fetch_source() {
    local dl=$VANTREL_CACHE/src/mpg123-download
    mkdir -p "$VANTREL_CACHE/src"
    SRC_DIR=$(find "$VANTREL_CACHE/src" -maxdepth 2 -name .vantrel-unpacked -path '*/mpg123-*/*' \
        -printf '%h\n' 2>/dev/null | sort -V | tail -n 1)
    if [ -n "$SRC_DIR" ]; then
        log "using unpacked source $SRC_DIR"
        return
    fi
    ensure_packages dpkg-dev
    [ "$(id -u)" = 0 ] || die "need root to add deb-src entries and fetch the source"
    local changed
    changed=$("$VANTREL_ROOT/scripts/win/enable-deb-src.sh")
    if [ "$changed" = changed ] || ! apt-cache showsrc mpg123 >/dev/null 2>&1 ||
        [ -z "$(apt-cache showsrc mpg123 2>/dev/null)" ]; then
        _apt_updated=0
        apt_update_once
    fi
    rm -rf "$dl"
    mkdir -p "$dl"
    log "apt-get source --download-only mpg123"
    # Fails when the mirror lacks the .asc; the checks below decide.
    (cd "$dl" && apt-get source --download-only -qq mpg123 >&2) || true
    local dsc
    dsc=$(ls "$dl"/mpg123_*.dsc 2>/dev/null | sort -V | tail -n 1)
    [ -n "$dsc" ] || die "apt-get source did not fetch a .dsc for mpg123"
    # Every file named in Checksums-Sha256 must match; only a .asc may be absent.
    local sum name n=0
    while read -r sum _ name; do
        if [ ! -f "$dl/$name" ]; then
            case $name in *.asc) log "not on the mirror (ignored): $name"; continue ;; esac
            die "missing source file $name"
        fi
        [ "$(sha256sum "$dl/$name" | cut -d' ' -f1)" = "$sum" ] || die "checksum mismatch: $name"
        n=$((n + 1))
    done < <(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print }' "$dsc")
    [ "$n" -ge 2 ] || die "no verified source files in $dsc"
    local version
    version=$(awk '/^Version:/ { print $2 }' "$dsc")
    SRC_DIR=$VANTREL_CACHE/src/mpg123-$version
    rm -rf "$SRC_DIR"
    # Checksums were verified above; --no-check only skips the signature check
    # for which no keyring is installed.
    dpkg-source --no-check -x "$dsc" "$SRC_DIR" >&2
    touch "$SRC_DIR/.vantrel-unpacked"
    rm -rf "$dl"
}

build() {
    if already_built; then
        log "libmpg123 for $ARCH already in $PREFIX"
        return
    fi
    local t0=$SECONDS
    # shellcheck disable=SC2046 # a list of package names
    ensure_packages make $(mingw_packages "$ARCH")
    with_cache_lock mpg123-source fetch_source_locked
    SRC_DIR=$(cat "$VANTREL_CACHE/.mpg123-src-dir")
    local bdir=$VANTREL_CACHE/build/mpg123-$ARCH
    rm -rf "$bdir" "$PREFIX"
    mkdir -p "$bdir"
    log "configure ${CONF[*]}"
    (cd "$bdir" && "$SRC_DIR/configure" "${CONF[@]}" --prefix="$PREFIX" CC="$CC_BIN" \
        CFLAGS="$EXTRA_CFLAGS" >configure.out 2>&1) || {
        tail -n 30 "$bdir/configure.out" >&2
        die "configure failed (log: $bdir/configure.out)"
    }
    # Only the two libraries: the player programs are not needed, so neither
    # "make" nor "make install" is run as a whole.
    log "make libmpg123 libout123 (-j${VANTREL_JOBS:-2})"
    (cd "$bdir" && make -j"${VANTREL_JOBS:-2}" src/libmpg123/libmpg123.la src/libout123/libout123.la \
        >make.out 2>&1) || {
        tail -n 30 "$bdir/make.out" >&2
        die "make failed (log: $bdir/make.out)"
    }
    mkdir -p "$PREFIX/lib/pkgconfig" "$PREFIX/include"
    cp "$bdir/src/libmpg123/.libs/libmpg123.a" "$bdir/src/libout123/.libs/libout123.a" "$PREFIX/lib/"
    cp "$bdir/src/libmpg123/mpg123.h" "$SRC_DIR/src/libmpg123/fmt123.h" "$bdir/src/libout123/out123.h" \
        "$PREFIX/include/"
    cp "$bdir/libmpg123.pc" "$bdir/libout123.pc" "$PREFIX/lib/pkgconfig/"
    basename "$SRC_DIR" >"$PREFIX/SOURCE"
    grep -E "^  (CFLAGS|CPPFLAGS)=" "$bdir/configure.out" >"$PREFIX/BUILDFLAGS" || true
    printf '%s\n' "$STAMP_TEXT" >"$PREFIX/.vantrel-stamp"
    rm -rf "$bdir"
    log "libmpg123 for $ARCH built in $((SECONDS - t0)) s into $PREFIX"
}

fetch_source_locked() {
    fetch_source
    printf '%s\n' "$SRC_DIR" >"$VANTREL_CACHE/.mpg123-src-dir"
}

with_cache_lock "mpg123-$ARCH" build
echo "$PREFIX"
