#!/usr/bin/env bash
# Runs the i686 build, the product's own architecture, under 32-bit wine in the
# emulated PC (this machine's kernel runs no 32-bit code). One runner, two runs:
#
#   tests/win/run-guest.sh i686        unit tests, plug-in host tests, vantrel.exe
#                                      and check programs (tests/win/guest-i686.sh)
#   tests/win/run-guest.sh installer   the setup program and the i686 vantrel.exe's
#                                      audio files (tests/win/guest-i686-installer.sh)
#
# (tests/win/run-i686.sh and tests/win/run-installer-guest.sh are these two.) Builds
# build-win-i686 (scripts/win/build.sh i686; VANTREL_WIN_I686_BUILT=1 skips that),
# for "installer" also the setup program (scripts/win/installer.sh --no-build),
# makes the Linux outputs to compare with (check_tool.py --reference, with "installer"
# --files; the Linux vantrel is LINUX_VANTREL, else the one run.sh's reference build
# makes), makes or reuses the guest image (scripts/win32vm/image.sh) and runs the
# guest script in the guest (scripts/win32vm/run.sh; VANTREL_VM_TIMEOUT seconds,
# default 2400 for i686 and 1800 for installer). Prints the guest's steps and the
# closing "N passed, M failed" line; exit 0 only when all passed.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/win/common.sh"
trap - ERR
ROOT=$VANTREL_ROOT
BUILD=$ROOT/build-win-i686
LINUX_REF=${LINUX_REF_DIR:-$ROOT/build-win-linux-ref}
LINUX_VANTREL=${LINUX_VANTREL:-$LINUX_REF/vantrel}
t0=$SECONDS

# What differs between the two runs.
case "${1:-}" in
    i686)
        WORK=$BUILD/guest GUEST=tests/win/guest-i686.sh TIMEOUT=2400 REFERENCE_OPTIONS=() ;;
    installer)
        WORK=$BUILD/guest-installer GUEST=tests/win/guest-i686-installer.sh TIMEOUT=1800
        REFERENCE_OPTIONS=(--files) ;;
    *) die "usage: $0 i686|installer" ;;
esac
RUN=$1

fail() { log "$*"; echo "0 passed, 1 failed"; exit 1; }

if [ "${VANTREL_WIN_I686_BUILT:-0}" != 1 ]; then
    "$ROOT/scripts/win/build.sh" i686 || fail "the i686 build failed"
fi
GUEST_ARGS=("$BUILD" "$WORK/reference" "$WORK")
if [ "$RUN" = installer ]; then
    SETUP=$("$ROOT/scripts/win/installer.sh" --no-build) || fail "the setup program could not be made"
    GUEST_ARGS+=("$SETUP")
fi
if [ ! -x "$LINUX_VANTREL" ]; then
    cmake -S "$ROOT" -B "$LINUX_REF" -G Ninja -DVANTREL_TESTS=OFF -DVANTREL_TOOLS=ON -DVANTREL_BENCH=OFF \
        -DVANTREL_WIN_CHECKS=ON >&2 &&
        cmake --build "$LINUX_REF" -j "${VANTREL_JOBS:-2}" --target vantrel >&2 ||
        fail "the Linux vantrel build failed"
fi
rm -rf "$WORK"
mkdir -p "$WORK"
python3 "$ROOT/tests/win/check_tool.py" --linux "$LINUX_VANTREL" --reference "$WORK/reference" \
    "${REFERENCE_OPTIONS[@]}" "$ROOT/examples/demo.vn" || fail "the Linux reference outputs failed"
t1=$SECONDS
"$ROOT/scripts/win32vm/image.sh" >/dev/null || fail "the guest image could not be made"
t2=$SECONDS
cd "$ROOT" || exit 1
"$ROOT/scripts/win32vm/run.sh" --timeout "${VANTREL_VM_TIMEOUT:-$TIMEOUT}" -- "$GUEST" "${GUEST_ARGS[@]}"
rc=$?
log "$RUN: builds and references $((t1 - t0)) s, guest image $((t2 - t1)) s, guest run $((SECONDS - t2)) s"
# The guest's own verdict line was printed last; a guest that did not get that
# far (killed, no status) is a failure of its own.
if ! grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$ROOT/.win32vm/output" 2>/dev/null; then
    echo "0 passed, 1 failed"
fi
exit $rc
