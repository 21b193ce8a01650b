#!/usr/bin/env bash
# Builds libmpg123 (static) from Debian's source package, as the Windows cross builds
# do, for WebAssembly with Emscripten, or natively with GCC from the same recipe for
# the web target's reference renders.
#
#   scripts/web/build-mpg123.sh [wasm|native]      (default: wasm)
#
# Result: $VANTREL_CACHE/mpg123-TARGET-HASH/{include,lib} (HASH: of the recipe below).
# Prints the prefix on stdout. Does nothing when that prefix already holds a library
# built with the same recipe.
#
# Floating point: only the portable C decoder ("generic") exists in WebAssembly.
# The library's configure adds -ffast-math, and each compiler then orders the
# synthesis filter's and the hybrid filter's sums its own way: Debian's library
# (GCC) and clang's WebAssembly build of the same code differ by one step in about
# one sample in 2 000, and no clang flag gives GCC's order (docs/design.md, "In a
# browser", has what was measured). Without -ffast-math both compilers compute
# exactly what the C code says, so the WebAssembly build and a native build of this
# same recipe give the same samples, bit for bit: the native one ("native") is what
# the web tests compare the package's renders with.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

TARGET=${1:-wasm}
FLAGS="-O2 -fno-fast-math -ffp-contract=off"
# --with-optimization=0: configure puts none of its own flags (-ffast-math among
# them) in front of FLAGS.
CONF=(--enable-static --disable-shared --with-cpu=generic_fpu --disable-modules --with-audio=dummy
    --with-default-audio=dummy --with-network=none --with-optimization=0 --disable-largefile
    --disable-dependency-tracking)
case $TARGET in
    wasm)
        # The host is "wasm32-unknown-linux": the library's config.sub does not know
        # Emscripten, and a cross build keeps configure from running test programs
        # (the loader emcc makes cannot read its .wasm under Node 18 and later).
        CONF+=(--host=wasm32-unknown-linux)
        CC_BIN=emcc
        WRAP=(emconfigure)
        MAKEWRAP=(emmake)
        COMPILER=$(emcc --version 2>/dev/null | sed -n 1p)
        ;;
    native)
        CC_BIN=gcc
        WRAP=()
        MAKEWRAP=()
        COMPILER=$(gcc --version | sed -n 1p)
        ;;
    *) die "target must be wasm or native (got '$TARGET')" ;;
esac
STAMP_TEXT="mpg123-$TARGET ${CONF[*]} CFLAGS=$FLAGS CC=$COMPILER"
PREFIX=$VANTREL_CACHE/mpg123-$TARGET-$(printf '%s' "$STAMP_TEXT" | sha256sum | cut -c1-8)

already_built() {
    [ -f "$PREFIX/lib/libmpg123.a" ] && [ -f "$PREFIX/include/mpg123.h" ] &&
        [ -f "$PREFIX/.vantrel-stamp" ] && [ "$(cat "$PREFIX/.vantrel-stamp")" = "$STAMP_TEXT" ]
}

build() {
    if already_built; then
        log "libmpg123 ($TARGET) already in $PREFIX"
        return
    fi
    local t0=$SECONDS
    if [ "$TARGET" = wasm ]; then ensure_packages make emscripten; else ensure_packages make gcc; fi
    with_cache_lock mpg123-source fetch_source_locked
    SRC_DIR=$(cat "$VANTREL_CACHE/.mpg123-src-dir")
    local bdir=$VANTREL_CACHE/build/mpg123-$TARGET
    rm -rf "$bdir" "$PREFIX"
    mkdir -p "$bdir"
    log "configure ($TARGET) ${CONF[*]} CFLAGS=$FLAGS"
    logged_in "$bdir" configure.out configure \
        "${WRAP[@]}" "$SRC_DIR/configure" "${CONF[@]}" --prefix="$PREFIX" CC="$CC_BIN" CFLAGS="$FLAGS"
    log "make libmpg123 (-j${VANTREL_JOBS:-2})"
    logged_in "$bdir" make.out make "${MAKEWRAP[@]}" make -j"${VANTREL_JOBS:-2}" src/libmpg123/libmpg123.la
    mkdir -p "$PREFIX/lib" "$PREFIX/include" "$PREFIX/share"
    cp "$bdir/src/libmpg123/.libs/libmpg123.a" "$PREFIX/lib/"
    cp "$bdir/src/libmpg123/mpg123.h" "$SRC_DIR/src/libmpg123/fmt123.h" "$PREFIX/include/"
    # The notice that every artefact carrying the library carries with it.
    cp "$SRC_DIR/COPYING" "$PREFIX/share/COPYING.mpg123"
    basename "$SRC_DIR" >"$PREFIX/SOURCE"
    grep -m1 -E "^CFLAGS = " "$bdir/Makefile" >"$PREFIX/BUILDFLAGS" || true
    printf '%s\n' "$STAMP_TEXT" >"$PREFIX/.vantrel-stamp"
    rm -rf "$bdir"
    log "libmpg123 ($TARGET) built in $((SECONDS - t0)) s into $PREFIX"
}

fetch_source_locked() {
    fetch_deb_source mpg123
    printf '%s\n' "$SRC_DIR" >"$VANTREL_CACHE/.mpg123-src-dir"
}

with_cache_lock "mpg123-$TARGET" build
echo "$PREFIX"
