#!/usr/bin/env bash
# Builds both Windows targets and checks them. The x86_64 programs run under
# wine64; the i686 ones (the product's architecture, which this machine cannot
# execute) are checked statically.
#
#   tests/win/run.sh
#
# Steps, each reported as ok or FAILED, then a closing "N passed, N failed" line:
#   build i686 and x86_64 (scripts/win/build.sh), build the Linux reference
#   decoder, create the wine prefix, run the unit tests (the x86_64 build of
#   tests/, unless VANTREL_WIN_TESTS=0) and win_file_check and win_dll_check under
#   wine, compare wine's and Linux's decoded PCM (check_decode.py), test the PE
#   inspector (test_inspect_pe.py) and inspect every i686 and x86_64 binary.
# Exit code 0 only when every step passed.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/win/common.sh"
trap - ERR
set +e

ROOT=$VANTREL_ROOT
WIN=$ROOT/scripts/win
LINUX_REF=${LINUX_REF_DIR:-$ROOT/build-win-linux-ref}
passed=0
failed=0

step() {
    local name=$1 t0=$SECONDS rc
    shift
    log "== $name"
    "$@"
    rc=$?
    if [ $rc -eq 0 ]; then
        passed=$((passed + 1))
        log "ok: $name ($((SECONDS - t0)) s)"
    else
        failed=$((failed + 1))
        log "FAILED: $name (exit $rc, $((SECONDS - t0)) s)"
    fi
    return $rc
}

in_checks() { (cd "$ROOT/build-win-x86_64/checks" && "$@"); }

linux_reference() {
    cmake -S "$ROOT" -B "$LINUX_REF" -G Ninja -DVANTREL_TESTS=OFF -DVANTREL_TOOLS=OFF \
        -DVANTREL_WIN_CHECKS=ON >&2 &&
        cmake --build "$LINUX_REF" -j "${VANTREL_JOBS:-2}" --target win_smoke >&2
}

inspect_all() {
    local arch machine ok=0 f
    for arch in i686 x86_64; do
        machine=$([ $arch = i686 ] && echo i386 || echo amd64)
        local dir=$ROOT/build-win-$arch
        "$WIN/inspect-pe.py" "$dir/checks/win_probe.dll" --expect-machine "$machine" \
            --expect-exports ProbeGetModule --expect-dll-name win_probe.dll \
            --system-imports-only --expect-version 1.0.0.1 --expect-dialog 1016 || ok=1
        for f in "$dir/vantrel.exe" "$dir"/checks/*.exe; do
            "$WIN/inspect-pe.py" "$f" --expect-machine "$machine" --expect-exports '' \
                --system-imports-only >/dev/null || { echo "in $f" >&2; ok=1; }
        done
    done
    return $ok
}

ensure_packages python3 lame wine64 cmake ninja-build g++ pkg-config libmpg123-dev

step "build i686" "$WIN/build.sh" i686
step "build x86_64" "$WIN/build.sh" x86_64
step "build Linux reference decoder" linux_reference
step "wine prefix" "$WIN/wine.sh" --init
if [ "${VANTREL_WIN_TESTS:-1}" != 0 ]; then
    step "unit tests under wine (ctest)" ctest --test-dir "$ROOT/build-win-x86_64" -j 2 --output-on-failure
fi
step "win_file_check under wine" in_checks "$WIN/wine.sh" ./win_file_check.exe
step "win_dll_check under wine" in_checks "$WIN/wine.sh" ./win_dll_check.exe win_probe.dll
step "decode: wine vs Linux" python3 "$ROOT/tests/win/check_decode.py" \
    --linux "$LINUX_REF/checks/win_smoke" --windows "$ROOT/build-win-x86_64/checks/win_smoke.exe"
step "PE inspector tests" python3 "$ROOT/tests/win/test_inspect_pe.py"
step "deb-src script tests" python3 "$ROOT/tests/win/test_enable_deb_src.py"
step "PE checks of all binaries" inspect_all

echo "win: $passed passed, $failed failed"
[ $failed -eq 0 ]
