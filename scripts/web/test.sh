#!/usr/bin/env bash
# The web target's CI stage: builds it (scripts/web/build.sh) and runs its tests,
# the npm package in Node against the native tool (web/test/package.test.mjs) and
# the player in headless Chromium (web/test/player.test.mjs). Needs the native
# build's vantrel and vantrel_corpus (BUILD_DIR, default build/).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VANTREL_ROOT"
BUILD_DIR=${BUILD_DIR:-build}
ensure_packages chromium
[ -x "$BUILD_DIR/vantrel" ] && [ -x "$BUILD_DIR/vantrel_corpus" ] ||
    cmake --build "$BUILD_DIR" --target vantrel vantrel_corpus >/dev/null
scripts/web/build.sh
# The test tools, as the lock file pins them (puppeteer-core drives Debian's chromium).
(cd web/test && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
export VANTREL=$VANTREL_ROOT/$BUILD_DIR/vantrel VANTREL_CORPUS=$VANTREL_ROOT/$BUILD_DIR/vantrel_corpus
node --test --test-reporter=spec web/test/package.test.mjs web/test/player.test.mjs
