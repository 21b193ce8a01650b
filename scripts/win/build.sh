#!/usr/bin/env bash
# Builds the project for Windows with MinGW-w64.
#
#   scripts/win/build.sh i686|x86_64 [extra cmake -D options...]
#
# i686 is the product (the host is a 32-bit program); x86_64 is its twin, the one
# that runs under wine64 here. Installs the missing Debian packages (as root),
# builds libmpg123 for the architecture into the cache (scripts/win/build-mpg123.sh),
# then configures and builds into build-win-ARCH/ (BUILD_DIR overrides).
# Unit tests are off: they are linked with GoogleTest, which Debian ships for
# Linux only. The Windows check programs (tests/win/src) are built instead.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

set_arch "${1:-}"
shift
BUILD_DIR=${BUILD_DIR:-$VANTREL_ROOT/build-win-$ARCH}
JOBS=${VANTREL_JOBS:-2}

t0=$SECONDS
ensure_packages cmake ninja-build make dpkg-dev $(mingw_packages "$ARCH")
MPG123_PREFIX=$("$VANTREL_ROOT/scripts/win/build-mpg123.sh" "$ARCH")
t1=$SECONDS

cmake -S "$VANTREL_ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$VANTREL_ROOT/cmake/toolchains/mingw-$ARCH.cmake" \
    -DVANTREL_MPG123_PREFIX="$MPG123_PREFIX" \
    -DVANTREL_TESTS=OFF \
    -DVANTREL_WIN_CHECKS=ON \
    "$@" >&2
cmake --build "$BUILD_DIR" -j "$JOBS" >&2
log "$ARCH: libmpg123 step $((t1 - t0)) s, project build $((SECONDS - t1)) s, into $BUILD_DIR"
