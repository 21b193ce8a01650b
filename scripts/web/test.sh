#!/usr/bin/env bash
# The web target's CI stage: builds it (scripts/web/build.sh) and runs its tests,
# the npm package in Node against the native engine (web/test/package.test.mjs) and
# the player in headless Chromium (web/test/player.test.mjs). Uses the native
# build's vantrel, vantrel_corpus and libvantrel.a (BUILD_DIR, default build/).
#
# The reference for byte-for-byte comparisons is examples/c/vantrel-example linked
# with that libvantrel.a and a native libmpg123 built from the WebAssembly build's
# own recipe (scripts/web/build-mpg123.sh native): see docs/design.md, "In a browser".
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VANTREL_ROOT"
BUILD_DIR=${BUILD_DIR:-build}
ensure_packages chromium
cmake --build "$BUILD_DIR" -j"${VANTREL_JOBS:-2}" --target vantrel vantrel_corpus vantrel_static >/dev/null
scripts/web/build.sh
native=$(scripts/web/build-mpg123.sh native)
mkdir -p build/web
cc -O2 -o build/web/vantrel-reference examples/c/vantrel-example.c -Iinclude "$BUILD_DIR/libvantrel.a" \
    "$native/lib/libmpg123.a" -lstdc++ -lm -lpthread
# The test tools, as the lock file pins them (puppeteer-core drives Debian's chromium).
(cd web/test && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
export VANTREL=$VANTREL_ROOT/$BUILD_DIR/vantrel VANTREL_CORPUS=$VANTREL_ROOT/$BUILD_DIR/vantrel_corpus \
    VANTREL_REFERENCE=$VANTREL_ROOT/build/web/vantrel-reference
# VANTREL_WEB_TESTS=0 only builds (scripts/web/bench.sh uses that).
[ "${VANTREL_WEB_TESTS:-1}" = 0 ] && exit 0
node --test --test-reporter=spec web/test/package.test.mjs web/test/player.test.mjs
