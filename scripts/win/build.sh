#!/usr/bin/env bash
# Builds the project for Windows with MinGW-w64.
#
#   scripts/win/build.sh i686|x86_64 [extra cmake -D options...]
#
# i686 is the product (the host is a 32-bit program); x86_64 is its twin, the one
# that runs under wine64 here. Installs the missing Debian packages (as root),
# builds libmpg123 and libout123 (scripts/win/build-mpg123.sh) and the tool's audio
# file libraries (scripts/win/build-audio.sh: libsndfile with FLAC, Ogg Vorbis and
# Opus, libopusenc, LAME) for the architecture into the cache, then configures and
# builds into build-win-ARCH/ (BUILD_DIR overrides).
# The Windows check programs (tests/win/src), vantrel.exe (the tool) and the unit
# tests are built for both architectures. The tool's header-only libraries
# (CLI11, nlohmann-json) are the build machine's Debian packages, seen through a
# prefix in the cache that holds only their folders. The unit tests are built
# against a GoogleTest cross-built from Debian's googletest sources
# (scripts/win/build-googletest.sh). ctest runs them through an emulator: for
# x86_64 scripts/win/wine.sh (wine64, here); for i686 scripts/win32vm/wine32.sh,
# which only works inside the emulated PC (scripts/win32vm/run.sh), so their test
# cases are listed when ctest runs there, not after the build.
# VANTREL_WIN_TESTS=0 turns the unit tests off.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

set_arch "${1:-}"
shift
BUILD_DIR=${BUILD_DIR:-$VANTREL_ROOT/build-win-$ARCH}
JOBS=${VANTREL_JOBS:-2}

t0=$SECONDS
# shellcheck disable=SC2046 # a list of package names
ensure_packages cmake ninja-build make dpkg-dev $(mingw_packages "$ARCH")
MPG123_PREFIX=$("$VANTREL_ROOT/scripts/win/build-mpg123.sh" "$ARCH")
AUDIO_PREFIX=$("$VANTREL_ROOT/scripts/win/build-audio.sh" "$ARCH")
TEST_OPTIONS=(-DVANTREL_TESTS=OFF)
ensure_packages libcli11-dev nlohmann-json3-dev
HEADERS=$VANTREL_CACHE/tool-headers
mkdir -p "$HEADERS/include"
ln -sfn /usr/include/CLI "$HEADERS/include/CLI"
ln -sfn /usr/include/nlohmann "$HEADERS/include/nlohmann"
TOOL_OPTIONS=(-DVANTREL_TOOLS=ON -DVANTREL_BENCH=OFF -DVANTREL_HEADERS_PREFIX="$HEADERS"
    -DVANTREL_AUDIO_PREFIX="$AUDIO_PREFIX")
if [ "${VANTREL_WIN_TESTS:-1}" != 0 ]; then
    GTEST_PREFIX=$("$VANTREL_ROOT/scripts/win/build-googletest.sh" "$ARCH")
    TEST_OPTIONS=(-DVANTREL_TESTS=ON -DGTest_DIR="$GTEST_PREFIX/lib/cmake/GTest")
    if [ "$ARCH" = x86_64 ]; then
        TEST_OPTIONS+=(-DCMAKE_CROSSCOMPILING_EMULATOR="$VANTREL_ROOT/scripts/win/wine.sh")
    else
        TEST_OPTIONS+=(-DCMAKE_CROSSCOMPILING_EMULATOR="$VANTREL_ROOT/scripts/win32vm/wine32.sh"
            -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST)
    fi
fi
t1=$SECONDS

cmake -S "$VANTREL_ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$VANTREL_ROOT/cmake/toolchains/mingw-$ARCH.cmake" \
    -DVANTREL_MPG123_PREFIX="$MPG123_PREFIX" \
    -DVANTREL_WIN_CHECKS=ON \
    "${TOOL_OPTIONS[@]}" "${TEST_OPTIONS[@]}" \
    "$@" >&2
cmake --build "$BUILD_DIR" -j "$JOBS" >&2
log "$ARCH: dependencies $((t1 - t0)) s, project build $((SECONDS - t1)) s, into $BUILD_DIR"
