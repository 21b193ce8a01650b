#!/usr/bin/env bash
# Damaged song files through the vantrel tool built with AddressSanitizer and
# UndefinedBehaviorSanitizer: truncations, bit flips, absurd counts, lengths and
# offsets, wrong clip data, broken headers (written by vantrel_corpus).
#
# For every file, `vantrel info` and `vantrel render --raw -o -` must either succeed
# or exit non-zero saying plainly that the file is not a VNF or is damaged;
# `vantrel check` must exit 0 or 1 (findings), and 1 with a load error where info
# refused; `vantrel unpack` must unpack what loads (a song whose clips cannot be
# written out may be refused, plainly) and refuse the rest leaving no folder; no
# sanitizer report, no crash, no hang (10 s per command). A render is cut off after
# 4 MB of PCM (about 24 s of sound): songs whose entries last for hours are legal.
#
#   scripts/hostile-files.sh            builds build-asan/ (Debug) and runs the check
#   HOSTILE_BUILD_DIR=dir scripts/hostile-files.sh    uses another sanitizer build
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${HOSTILE_BUILD_DIR:-build-asan}
if [ -z "${HOSTILE_BUILD_DIR:-}" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON >/dev/null &&
    cmake --build "$BUILD" -j"${HOSTILE_BUILD_JOBS:-2}" --target vantrel vantrel_corpus >/dev/null ||
    { echo "build failed"; exit 1; }
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/songs"
"$BUILD/vantrel_corpus" hostile "$PWD" "$dir/songs" || { echo "vantrel_corpus failed"; exit 1; }
# Not songs at all: an MP3 file and a folder under a song's name.
cp tests/data/clips/mono44k.mp3 "$dir/songs/an-mp3.vn"
mkdir "$dir/songs/a-folder.vn"

bad_message='not a VNF or is corrupted|cannot open|nothing that can be played'
sanitizer='ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer'
failures=0 files=0 loaded=0 refused=0
fail() { echo "FAIL $1: $2"; sed -n '1,20p' "$dir/err"; failures=$((failures + 1)); }

for song in "$dir"/songs/*.vn "$dir/songs/missing.vn"; do
  name=$(basename "$song")
  files=$((files + 1))

  timeout 10 "$BUILD/vantrel" info "$song" >/dev/null 2>"$dir/err"
  info=$?
  if grep -qE "$sanitizer" "$dir/err"; then fail "$name" "info: sanitizer report"; continue; fi
  if [ "$info" -eq 124 ]; then fail "$name" "info: hang"; continue; fi
  if [ "$info" -ne 0 ]; then
    if [ "$info" -ne 1 ] || ! grep -qE "$bad_message" "$dir/err"; then
      fail "$name" "info: exit $info without a plain message"; continue
    fi
    refused=$((refused + 1))
  else
    loaded=$((loaded + 1))
  fi

  timeout 10 "$BUILD/vantrel" render --raw -o - "$song" 2>"$dir/err" | head -c 4000000 >/dev/null
  render=${PIPESTATUS[0]}
  if grep -qE "$sanitizer" "$dir/err"; then fail "$name" "render: sanitizer report"; continue; fi
  if [ "$render" -eq 124 ]; then fail "$name" "render: hang"; continue; fi
  # 141: the output was cut off (SIGPIPE), which only a long song reaches.
  if [ "$info" -eq 0 ] && [ "$render" -ne 0 ] && [ "$render" -ne 141 ] &&
     ! grep -qE "$bad_message" "$dir/err"; then
    fail "$name" "render: exit $render on a song that loads"; continue
  fi
  if [ "$info" -ne 0 ] && { [ "$render" -eq 0 ] || ! grep -qE "$bad_message" "$dir/err"; }; then
    fail "$name" "render: exit $render on a file info refused"; continue
  fi

  timeout 10 "$BUILD/vantrel" check "$song" >"$dir/out" 2>"$dir/err"
  check=$?
  cat "$dir/out" >>"$dir/err"
  if grep -qE "$sanitizer" "$dir/err"; then fail "$name" "check: sanitizer report"; continue; fi
  if [ "$check" -eq 124 ]; then fail "$name" "check: hang"; continue; fi
  if [ "$check" -gt 1 ]; then fail "$name" "check: exit $check"; continue; fi
  if [ "$info" -ne 0 ] && { [ "$check" -ne 1 ] || ! grep -q "error" "$dir/err"; }; then
    fail "$name" "check: exit $check without an error on a file info refused"; continue
  fi

  rm -rf "$dir/unpacked"
  timeout 10 "$BUILD/vantrel" unpack "$song" -o "$dir/unpacked" >/dev/null 2>"$dir/err"
  unpack=$?
  if grep -qE "$sanitizer" "$dir/err"; then fail "$name" "unpack: sanitizer report"; continue; fi
  if [ "$unpack" -eq 124 ]; then fail "$name" "unpack: hang"; continue; fi
  if [ "$unpack" -ne 0 ] && { [ "$unpack" -ne 1 ] || [ ! -s "$dir/err" ]; }; then
    fail "$name" "unpack: exit $unpack without a message"; continue
  fi
  if [ "$info" -ne 0 ] && [ "$unpack" -eq 0 ]; then
    fail "$name" "unpack: succeeded on a file info refused"; continue
  fi
  if [ "$unpack" -ne 0 ] && [ -e "$dir/unpacked" ]; then
    fail "$name" "unpack: failed but left $dir/unpacked behind"; continue
  fi
  if [ "$unpack" -eq 0 ] && [ ! -f "$dir/unpacked/manifest.json" ]; then
    fail "$name" "unpack: exit 0 without a manifest"; continue
  fi
done

echo "hostile files: $files ($loaded loaded, $refused refused), $failures failures"
[ "$failures" -eq 0 ]
