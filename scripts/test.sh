#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, then the
# same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "== build and test"
BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc)"

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan scripts/build.sh -DVANTREL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
