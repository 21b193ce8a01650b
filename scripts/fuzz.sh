#!/usr/bin/env bash
# Fuzzing the song loader, the player and the clip decoder with libFuzzer.
#
#   scripts/fuzz.sh ci                       the seed and regression corpora through every
#                                            harness, then a short bounded run of each
#                                            (about 2 minutes; FUZZ_CI_SECONDS per harness)
#   scripts/fuzz.sh regress                  only the seed and regression corpora
#   scripts/fuzz.sh campaign HARNESS [SECS]  a long run of fuzz_song, fuzz_decoder,
#                                            fuzz_sources (both clip sources compared) or
#                                            fuzz_seek (exact seeks against unbroken renders;
#                                            default 3600 s); its corpus grows in
#                                            build-fuzz/corpus/HARNESS
#
# Builds into build-fuzz/ with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. Findings land in build-fuzz/findings/: every input
# there is a fault to fix; once fixed, the input goes into fuzz/regression/HARNESS/.
# One fuzzing process at a time, at low priority.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
JOBS=${FUZZ_BUILD_JOBS:-2}

build() {
  command -v clang++ >/dev/null ||
    { echo "fuzz: clang is not installed (scripts/install-deps.sh fuzz installs it)" >&2; exit 1; }
  local configured
  configured=$(env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER CC=clang CXX=clang++ \
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTREL_FUZZ=ON -DVANTREL_TESTS=OFF -DVANTREL_TOOLS=OFF -DVANTREL_BENCH=OFF)
  grep ' left out: ' <<<"$configured" || true
  rm -f "$BUILD/fuzz_song" "$BUILD/fuzz_decoder" "$BUILD/fuzz_sources"
  cmake --build "$BUILD" -j"$JOBS" >/dev/null
  # Without libFuzzer the configure leaves the harnesses out (and says why above).
  [ -x "$BUILD/fuzz_song" ] || { echo "fuzz: the harnesses were not built" >&2; exit 1; }
  rm -rf "$BUILD/seeds"
  mkdir -p "$BUILD/seeds/fuzz_song" "$BUILD/seeds/fuzz_decoder" "$BUILD/seeds/fuzz_sources" \
    "$BUILD/seeds/fuzz_seek" "$BUILD/findings"
  "$BUILD/vantrel_corpus" song-seeds "$ROOT" "$BUILD/seeds/fuzz_song"
  "$BUILD/vantrel_corpus" decoder-seeds "$ROOT" "$BUILD/seeds/fuzz_decoder"
  # Example songs, when there are any, are seeds too.
  for f in examples/*.vn; do
    [ -f "$f" ] && cp "$f" "$BUILD/seeds/fuzz_song/example-$(basename "$f")"
  done
  # fuzz_sources and fuzz_seek play whole songs too.
  cp "$BUILD"/seeds/fuzz_song/* "$BUILD/seeds/fuzz_sources/"
  cp "$BUILD"/seeds/fuzz_song/* "$BUILD/seeds/fuzz_seek/"
  return 0
}

# A smaller quarantine than the default keeps the resident size of long runs low.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Options every run shares: a unit over 1 s is a hang; 2 GB in all or 256 MB in one
# allocation is a memory blowup.
common_opts() {
  echo -timeout=1 -rss_limit_mb=2048 -malloc_limit_mb=256 -dict=fuzz/vnf.dict \
    -artifact_prefix="$BUILD/findings/$1-" -print_final_stats=1
}

# The harness's regression inputs, once it has any.
regression_dir() {
  if [ -d "fuzz/regression/$1" ]; then echo "fuzz/regression/$1"; fi
}

regress() {
  local h
  for h in fuzz_song fuzz_decoder fuzz_sources fuzz_seek; do
    echo "== $h: seed and regression corpora"
    # The harness's own status decides (grep's does not); set +e keeps a failing
    # pipeline from ending the script before it is read.
    set +e
    # shellcheck disable=SC2046
    nice -n 10 "$BUILD/$h" $(common_opts "$h") -runs=0 \
      "$BUILD/seeds/$h" $(regression_dir "$h") 2>&1 | grep -E "^#[0-9]+ +DONE|ERROR|SUMMARY|stat::number_of_executed_units"
    local status=${PIPESTATUS[0]}
    set -e
    [ "$status" -eq 0 ] || { echo "$h failed on its corpora"; exit 1; }
  done
}

run() { # harness seconds corpus-dir
  local h=$1 secs=$2 corpus=$3
  mkdir -p "$corpus"
  echo "== $h: fuzzing for $secs s (corpus $corpus)"
  set +e
  # shellcheck disable=SC2046
  nice -n 10 "$BUILD/$h" $(common_opts "$h") -max_total_time="$secs" \
    "$corpus" "$BUILD/seeds/$h" $(regression_dir "$h") 2>&1 |
    grep --line-buffered -E "INITED|pulse|DONE|^Done|ERROR|SUMMARY|stat::|deadly|Test unit written"
  local status=${PIPESTATUS[0]}
  set -e
  [ "$status" -eq 0 ] || { echo "$h found a fault: see $BUILD/findings/"; exit 1; }
}

case "${1:-}" in
  ci)
    build
    regress
    secs=${FUZZ_CI_SECONDS:-30}
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    run fuzz_song "$secs" "$tmp/fuzz_song"
    run fuzz_decoder "$secs" "$tmp/fuzz_decoder"
    run fuzz_sources "$secs" "$tmp/fuzz_sources"
    run fuzz_seek "$secs" "$tmp/fuzz_seek"
    ;;
  regress)
    build
    regress
    ;;
  campaign)
    h=${2:?which harness: fuzz_song, fuzz_decoder, fuzz_sources or fuzz_seek}
    build
    run "$h" "${3:-3600}" "$BUILD/corpus/$h"
    ;;
  *)
    sed -n '2,14p' "$0"
    exit 2
    ;;
esac
