#!/usr/bin/env bash
# Builds libmpg123 (static) for WebAssembly with Emscripten from Debian's source
# package, as the Windows cross builds do.
#
#   scripts/web/build-mpg123.sh
#
# Result: $VANTREL_CACHE/mpg123-wasm-HASH/{include,lib} (HASH: of the recipe below).
# Prints the prefix on stdout. Does nothing when that prefix already holds a library
# built with the same recipe.
#
# Only the portable C decoder ("generic") exists in WebAssembly. It has to give the
# same samples as the native library's generic decoder, which is built with GCC and
# -ffast-math: see the note on FLAGS below.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The host is "wasm32-unknown-linux": the library's config.sub does not know
# Emscripten, and a cross build keeps configure from running test programs (the
# loader emcc makes cannot read its .wasm under Node 18 and later).
# Floating point: the library's configure adds -ffast-math. clang's fast-math lets it
# reorder the synthesis filter's sums in ways that GCC on x86_64 does not, which shows
# as samples one step off; FLAGS are what the wasm build uses instead (see
# docs/design.md, "In a browser", for what was measured).
FLAGS=${VANTREL_WASM_MPG123_FLAGS:--O2 -fno-fast-math -ffp-contract=off}
CONF=(--host=wasm32-unknown-linux --enable-static --disable-shared --with-cpu=generic_fpu
    --disable-modules --with-audio=dummy --with-default-audio=dummy --with-network=none
    --with-optimization=0 --disable-largefile)
STAMP_TEXT="mpg123-wasm ${CONF[*]} CFLAGS=$FLAGS emcc=$(emcc --version 2>/dev/null | sed -n 1p)"
PREFIX=$VANTREL_CACHE/mpg123-wasm-$(printf '%s' "$STAMP_TEXT" | sha256sum | cut -c1-8)

already_built() {
    [ -f "$PREFIX/lib/libmpg123.a" ] && [ -f "$PREFIX/include/mpg123.h" ] &&
        [ -f "$PREFIX/.vantrel-stamp" ] && [ "$(cat "$PREFIX/.vantrel-stamp")" = "$STAMP_TEXT" ]
}

build() {
    if already_built; then
        log "libmpg123 for wasm already in $PREFIX"
        return
    fi
    local t0=$SECONDS
    ensure_packages make emscripten
    with_cache_lock mpg123-source fetch_source_locked
    SRC_DIR=$(cat "$VANTREL_CACHE/.mpg123-src-dir")
    local bdir=$VANTREL_CACHE/build/mpg123-wasm
    rm -rf "$bdir" "$PREFIX"
    mkdir -p "$bdir"
    log "configure ${CONF[*]} CFLAGS=$FLAGS"
    # --with-optimization=0: configure adds none of its own flags (-ffast-math among
    # them) in front of FLAGS.
    (cd "$bdir" && emconfigure "$SRC_DIR/configure" "${CONF[@]}" --prefix="$PREFIX" \
        CC="emcc" CFLAGS="$FLAGS" >configure.out 2>&1) || {
        tail -n 30 "$bdir/configure.out" >&2
        die "configure failed (log: $bdir/configure.out)"
    }
    log "make libmpg123 (-j${VANTREL_JOBS:-2})"
    (cd "$bdir" && emmake make -j"${VANTREL_JOBS:-2}" src/libmpg123/libmpg123.la >make.out 2>&1) || {
        tail -n 30 "$bdir/make.out" >&2
        die "make failed (log: $bdir/make.out)"
    }
    mkdir -p "$PREFIX/lib" "$PREFIX/include" "$PREFIX/share"
    cp "$bdir/src/libmpg123/.libs/libmpg123.a" "$PREFIX/lib/"
    cp "$bdir/src/libmpg123/mpg123.h" "$SRC_DIR/src/libmpg123/fmt123.h" "$PREFIX/include/"
    # The notice that every artefact carrying the library carries with it.
    cp "$SRC_DIR/COPYING" "$PREFIX/share/COPYING.mpg123"
    basename "$SRC_DIR" >"$PREFIX/SOURCE"
    grep -m1 -E "^CFLAGS = " "$bdir/Makefile" >"$PREFIX/BUILDFLAGS" || true
    printf '%s\n' "$STAMP_TEXT" >"$PREFIX/.vantrel-stamp"
    rm -rf "$bdir"
    log "libmpg123 for wasm built in $((SECONDS - t0)) s into $PREFIX"
}

fetch_source_locked() {
    fetch_deb_source mpg123
    printf '%s\n' "$SRC_DIR" >"$VANTREL_CACHE/.mpg123-src-dir"
}

with_cache_lock mpg123-wasm build
echo "$PREFIX"
