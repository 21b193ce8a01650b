#!/usr/bin/env bash
# Builds and runs the render benchmark: render throughput against plain libmpg123
# decoding of the same clip frames, in one run, without and with the caching clip
# source (on the benchmark song and on the demo song's longest performance); then
# the seek benchmark (exact seeks against where they land, and their memory). With
# --instructions it also counts the instructions of render and plain decoding (clip
# decoder only) under callgrind, which the machine's load does not disturb.
#   scripts/bench.sh [--instructions] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
instructions=0
if [ "${1:-}" = "--instructions" ]; then instructions=1; shift; fi
seconds=${1:-60}
scripts/install-deps.sh build valgrind
BUILD_DIR=build-bench scripts/build.sh -DCMAKE_BUILD_TYPE=Release -DVANTREL_TESTS=OFF >/dev/null
clip=tests/data/clips/stereo44k.mp3
build-bench/render_bench "$clip" "$seconds" generic
# The exact seek on a ten-minute song of the demo's material.
build-bench/seek_bench examples/demo.vn
if [ "$instructions" = 1 ]; then
  count() {
    valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect="$1" \
      build-bench/render_bench "$clip" 20 generic plain 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
  }
  render=$(count 'CSongPlayer::RenderBlock*')
  plain=$(count '*PlainDecode*')
  echo "instructions: render $render, plain decode $plain"
  awk -v r="$render" -v p="$plain" 'BEGIN { printf "instruction ratio render / plain decode: %.3f (overhead %+.1f %%)\n", r / p, (r / p - 1) * 100 }'
fi
