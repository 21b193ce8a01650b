#!/usr/bin/env bash
# Installs what is missing (every group of scripts/install-deps.sh), builds, and runs
# every test: the normal build (with the GStreamer plug-in's pipelines); vantrel play
# and gst-play-1.0 on a PulseAudio server of the test's own; the same tests built
# with AddressSanitizer and UndefinedBehaviorSanitizer, and damaged song files
# through the tool built so; the plug-in's threads under ThreadSanitizer; the fuzzing
# harnesses on their corpora and for a short run; the Linux desktop (the audio/x-vnf
# type, the thumbnailer, the VLC plug-in); the web target (the engine in WebAssembly,
# its npm package in Node, the player in headless Chromium); the Windows builds, the
# x86_64 ones under wine64 and the i686 ones (the product) under 32-bit wine in an
# emulated PC.
#
# Each stage is one `stage NAME DESCRIPTION COMMAND [ARGS...]` line at the bottom (a
# stage of several commands is a function above them). A stage prints "== NAME:
# DESCRIPTION" when it starts and "== stage NAME: N s" (wall clock) when it ends; the
# script ends with every stage's time and the total, also when a stage fails (the
# first failure stops it).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

stage_times=()
t_start=$SECONDS
current= t0=0
stage() { # NAME DESCRIPTION COMMAND [ARGS...]
  current=$1 t0=$SECONDS
  echo "== $1: $2"
  shift 2
  "$@"
  stage_times+=("$(printf '%6d s  %s' $((SECONDS - t0)) "$current")")
  echo "== stage $current: $((SECONDS - t0)) s"
  current=
}
summary() {
  local rc=$?
  [ -n "$current" ] && echo "== stage $current: FAILED (exit $rc) after $((SECONDS - t0)) s"
  echo "== stage times"
  [ ${#stage_times[@]} -gt 0 ] && printf '%s\n' "${stage_times[@]}"
  echo "== total: $((SECONDS - t_start)) s"
  if [ -n "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
    echo "== compiler cache ($CCACHE_DIR)"
    ccache --show-stats 2>/dev/null | grep -E '^(Cacheable calls|  Hits|  Misses|Cache size)' || true
  fi
}
trap summary EXIT

# The test bed asks for every test part (ON, not the default AUTO): a missing package
# is a configure error here, not a part quietly left out.
ALL=(-DVANTREL_TESTS=ON -DVANTREL_GST=ON -DVANTREL_VLC=ON)
build_and_test() {
  BUILD_DIR=build scripts/build.sh "${ALL[@]}"
  ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"
}
sanitizer_build_and_test() {
  BUILD_DIR=build-asan scripts/build.sh "${ALL[@]}" -DVANTREL_SANITIZE=ON -DVANTREL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs"
}
thread_sanitizer() {
  cmake -S . -B build-tsan -G Ninja -DVANTREL_TSAN=ON -DVANTREL_TOOLS=OFF -DVANTREL_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-tsan -j"$jobs" --target vantrel_plugin_tests
  TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/plugin/vantrel_plugin_tests
}

stage install "the packages of every group" scripts/install-deps.sh

# Every build of the run (the normal one, the sanitizers', the packages' and the
# Windows ones) compiles through ccache, kept with the other caches
# (scripts/win/common.sh), so that a run with warm caches compiles again only what
# changed; paths are taken relative to the clone, so another clone of it hits too.
# The WebAssembly and fuzzing builds compile without it (scripts/web/build.sh,
# scripts/fuzz.sh: ccache does not know all of their compilers' options).
export CCACHE_DIR=${CCACHE_DIR:-${VANTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vantrel}/ccache}
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
ccache --zero-stats >/dev/null
stage build "build and test" build_and_test
stage sound "vantrel play and gst-play-1.0 on a real sound server (PulseAudio, null sink)" \
  env BUILD_DIR=build tests/sound/run.sh
stage install-check "install into a temporary prefix; examples/c against the installed library" \
  env BUILD_DIR=build scripts/check-install.sh
stage desktop "the Linux desktop: MIME type, thumbnailer, VLC plug-in, installed" \
  env BUILD_DIR=build tests/desktop/run.sh
stage packages "Debian packages: build, lintian, install with apt, check, remove" scripts/check-packages.sh
stage asan "build and test with AddressSanitizer and UndefinedBehaviorSanitizer" sanitizer_build_and_test
stage hostile "damaged song files through vantrel built with the sanitizers" \
  env HOSTILE_BUILD_DIR=build-asan scripts/hostile-files.sh
stage tsan "the plug-in's threads under ThreadSanitizer" thread_sanitizer
stage fuzz "seed and regression corpora, then a short run of each harness" scripts/fuzz.sh ci
stage web "the engine in WebAssembly, the npm package in Node, the player in Chromium" \
  env BUILD_DIR=build scripts/web/test.sh
stage windows "x86_64 under wine64, then i686 under 32-bit wine in the emulated PC" \
  env LINUX_VANTREL=build/vantrel tests/win/run.sh
