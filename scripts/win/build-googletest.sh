#!/usr/bin/env bash
# Cross-builds GoogleTest (and GoogleMock) for Windows from the sources that
# Debian's "googletest" package installs in /usr/src/googletest, so that the unit
# tests can be built as a Windows program and run under wine.
#
#   scripts/win/build-googletest.sh i686|x86_64
#
# Installs into $VANTREL_CACHE/googletest-ARCH and prints that prefix; skips all
# work when it already holds a build of the same googletest version.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

set_arch "${1:-}"
PREFIX=$VANTREL_CACHE/googletest-$ARCH
SRC=/usr/src/googletest

build() {
    # shellcheck disable=SC2046 # a list of package names
    ensure_packages googletest cmake ninja-build $(mingw_packages "$ARCH")
    local version stamp
    version=$(dpkg-query -W -f='${Version}' googletest)
    stamp="googletest $version $(sha256sum "$VANTREL_ROOT/cmake/toolchains/mingw-common.cmake" \
        "$VANTREL_ROOT/cmake/toolchains/mingw-$ARCH.cmake" | cut -c1-16 | tr '\n' ' ')"
    if [ -f "$PREFIX/.vantrel-stamp" ] && [ "$(cat "$PREFIX/.vantrel-stamp")" = "$stamp" ]; then
        log "googletest for $ARCH already in $PREFIX"
        return
    fi
    local t0=$SECONDS bdir=$VANTREL_CACHE/build/googletest-$ARCH
    rm -rf "$bdir" "$PREFIX"
    cmake -S "$SRC" -B "$bdir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$VANTREL_ROOT/cmake/toolchains/mingw-$ARCH.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
        -DBUILD_SHARED_LIBS=OFF -Dgtest_force_shared_crt=OFF >"$VANTREL_CACHE/build/googletest-$ARCH.log" 2>&1 &&
        cmake --build "$bdir" -j "${VANTREL_JOBS:-2}" >>"$VANTREL_CACHE/build/googletest-$ARCH.log" 2>&1 &&
        cmake --install "$bdir" >>"$VANTREL_CACHE/build/googletest-$ARCH.log" 2>&1 || {
        tail -n 30 "$VANTREL_CACHE/build/googletest-$ARCH.log" >&2
        die "googletest build failed (log: $VANTREL_CACHE/build/googletest-$ARCH.log)"
    }
    printf '%s\n' "$stamp" >"$PREFIX/.vantrel-stamp"
    rm -rf "$bdir"
    log "googletest for $ARCH built in $((SECONDS - t0)) s into $PREFIX"
}

mkdir -p "$VANTREL_CACHE/build"
with_cache_lock "googletest-$ARCH" build
echo "$PREFIX"
