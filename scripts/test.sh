#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build (with the
# GStreamer plug-in's pipelines); vantrel play and gst-play-1.0 on a PulseAudio
# server of the test's own; the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer, and damaged song
# files through the tool built so; the plug-in's threads under ThreadSanitizer; the
# fuzzing harnesses on their corpora and for a short run; the web target (the engine
# in WebAssembly, its npm package in Node, the player in headless Chromium); the Windows builds, the
# x86_64 ones under wine64 and the i686 ones (the product) under 32-bit wine in an
# emulated PC.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

echo "== build and test"
BUILD_DIR=build scripts/build.sh
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== vantrel play and gst-play-1.0 on a real sound server (PulseAudio, null sink)"
BUILD_DIR=build tests/sound/run.sh

echo "== install into a temporary prefix; examples/c against the installed library"
BUILD_DIR=build scripts/check-install.sh

BUILD_DIR=build tests/desktop/run.sh  # the Linux desktop: MIME type, thumbnailer, VLC plug-in, installed
echo "== Debian packages: build, lintian, install with apt, check, remove"
scripts/check-packages.sh

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
BUILD_DIR=build-asan scripts/build.sh -DVANTREL_SANITIZE=ON -DVANTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== damaged song files through vantrel built with the sanitizers"
HOSTILE_BUILD_DIR=build-asan scripts/hostile-files.sh

echo "== the plug-in's threads under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DVANTREL_TSAN=ON -DVANTREL_TOOLS=OFF -DVANTREL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan -j"$jobs" --target vantrel_plugin_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/plugin/vantrel_plugin_tests

echo "== fuzzing: seed and regression corpora, then a short run of each harness"
scripts/fuzz.sh ci

echo "== the web target: the engine in WebAssembly, the npm package in Node, the player in Chromium"
BUILD_DIR=build scripts/web/test.sh

echo "== the Windows builds: x86_64 under wine64, then i686 under 32-bit wine in the emulated PC"
LINUX_VANTREL=build/vantrel tests/win/run.sh
