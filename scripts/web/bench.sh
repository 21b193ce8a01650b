#!/usr/bin/env bash
# The web target's figures: the page's JavaScript and WebAssembly gzip-compressed,
# the WebAssembly engine's render and seek speed in Node against the native ones, and
# 60 s of play through the AudioWorklet in headless Chromium with its underrun counts
# (web/test/bench.mjs). Builds what it needs as scripts/web/test.sh does.
#   scripts/web/bench.sh            VANTREL_BENCH_PLAY=SECONDS changes the play time
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$VANTREL_ROOT"
BUILD_DIR=${BUILD_DIR:-build}
[ -x build/web/vantrel-reference ] && [ -d build/web/site ] || VANTREL_WEB_TESTS=0 scripts/web/test.sh
(cd web/test && [ -d node_modules ] || npm ci --no-audit --no-fund --loglevel=error >/dev/null)
VANTREL=$VANTREL_ROOT/$BUILD_DIR/vantrel VANTREL_REFERENCE=$VANTREL_ROOT/build/web/vantrel-reference \
    node web/test/bench.mjs
