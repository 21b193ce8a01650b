#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $BUILD_DIR); the
# arguments go to the configure (-DVANTREL_...=...). $BUILD_TARGETS (space-separated)
# builds only those targets. Of the configure's output only the lines that say a
# part was left out (its packages are missing, see scripts/install-deps.sh) are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
configured=$(cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@")
grep -E '^-- .* left out: ' <<<"$configured" || true
targets=()
for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$BUILD_DIR" -j"$(nproc)" "${targets[@]}"
