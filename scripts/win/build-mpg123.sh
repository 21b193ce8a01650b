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
# enable-deb-src.sh; fetch_deb_source in common.sh checks and unpacks it).
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
    fetch_deb_source mpg123
    printf '%s\n' "$SRC_DIR" >"$VANTREL_CACHE/.mpg123-src-dir"
}

with_cache_lock "mpg123-$ARCH" build
echo "$PREFIX"
