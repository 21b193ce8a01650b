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

# One file: its four commands in a folder of its own; the last line it prints is
# "loaded", "refused" or "FAIL NAME: WHY" (with the first lines the command said).
check_file() {
  local song=$1 name w verdict info render check unpack
  name=$(basename "$song")
  w=$dir/work/$name
  mkdir -p "$w"
  fail() { sed -n '1,20p' "$w/err"; echo "FAIL $name: $1"; }

  timeout 10 "$BUILD/vantrel" info "$song" >/dev/null 2>"$w/err"
  info=$?
  if grep -qE "$sanitizer" "$w/err"; then fail "info: sanitizer report"; return; fi
  if [ "$info" -eq 124 ]; then fail "info: hang"; return; fi
  if [ "$info" -ne 0 ]; then
    if [ "$info" -ne 1 ] || ! grep -qE "$bad_message" "$w/err"; then
      fail "info: exit $info without a plain message"; return
    fi
    verdict=refused
  else
    verdict=loaded
  fi

  timeout 10 "$BUILD/vantrel" render --raw -o - "$song" 2>"$w/err" | head -c 4000000 >/dev/null
  render=${PIPESTATUS[0]}
  if grep -qE "$sanitizer" "$w/err"; then fail "render: sanitizer report"; return; fi
  if [ "$render" -eq 124 ]; then fail "render: hang"; return; fi
  # 141: the output was cut off (SIGPIPE), which only a long song reaches.
  if [ "$info" -eq 0 ] && [ "$render" -ne 0 ] && [ "$render" -ne 141 ] &&
     ! grep -qE "$bad_message" "$w/err"; then
    fail "render: exit $render on a song that loads"; return
  fi
  if [ "$info" -ne 0 ] && { [ "$render" -eq 0 ] || ! grep -qE "$bad_message" "$w/err"; }; then
    fail "render: exit $render on a file info refused"; return
  fi

  timeout 10 "$BUILD/vantrel" check "$song" >"$w/out" 2>"$w/err"
  check=$?
  cat "$w/out" >>"$w/err"
  if grep -qE "$sanitizer" "$w/err"; then fail "check: sanitizer report"; return; fi
  if [ "$check" -eq 124 ]; then fail "check: hang"; return; fi
  if [ "$check" -gt 1 ]; then fail "check: exit $check"; return; fi
  if [ "$info" -ne 0 ] && { [ "$check" -ne 1 ] || ! grep -q "error" "$w/err"; }; then
    fail "check: exit $check without an error on a file info refused"; return
  fi

  rm -rf "$w/unpacked"
  timeout 10 "$BUILD/vantrel" unpack "$song" -o "$w/unpacked" >/dev/null 2>"$w/err"
  unpack=$?
  if grep -qE "$sanitizer" "$w/err"; then fail "unpack: sanitizer report"; return; fi
  if [ "$unpack" -eq 124 ]; then fail "unpack: hang"; return; fi
  if [ "$unpack" -ne 0 ] && { [ "$unpack" -ne 1 ] || [ ! -s "$w/err" ]; }; then
    fail "unpack: exit $unpack without a message"; return
  fi
  if [ "$info" -ne 0 ] && [ "$unpack" -eq 0 ]; then
    fail "unpack: succeeded on a file info refused"; return
  fi
  if [ "$unpack" -ne 0 ] && [ -e "$w/unpacked" ]; then
    fail "unpack: failed but left $w/unpacked behind"; return
  fi
  if [ "$unpack" -eq 0 ] && [ ! -f "$w/unpacked/manifest.json" ]; then
    fail "unpack: exit 0 without a manifest"; return
  fi
  rm -rf "$w/unpacked"
  echo "$verdict"
}
export -f check_file
export dir BUILD bad_message sanitizer

# The files are independent: one job per core, each printing its lines at once.
songs=("$dir"/songs/*.vn "$dir/songs/missing.vn")
files=0 loaded=0 refused=0 failures=0
while IFS= read -r line; do
  case $line in
    loaded) loaded=$((loaded + 1)) files=$((files + 1)) ;;
    refused) refused=$((refused + 1)) files=$((files + 1)) ;;
    "FAIL "*) echo "$line"; failures=$((failures + 1)) files=$((files + 1)) ;;
    *) echo "  $line" ;;
  esac
done < <(printf '%s\0' "${songs[@]}" |
  xargs -0 -n1 -P"$(nproc)" bash -c 'said=$(check_file "$1" 2>&1 | tail -n 21); printf "%s\n" "$said"' _)
if [ "$files" -ne ${#songs[@]} ]; then
  echo "FAIL: $((${#songs[@]} - files)) of ${#songs[@]} files gave no verdict"
  failures=$((failures + 1))
fi

echo "hostile files: $files ($loaded loaded, $refused refused), $failures failures"
[ "$failures" -eq 0 ]
