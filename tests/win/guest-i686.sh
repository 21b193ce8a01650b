#!/bin/sh
# The i686 checks, run inside the emulated PC under 32-bit wine
# (tests/win/run-i686.sh boots it with scripts/win32vm/run.sh):
#
#   tests/win/guest-i686.sh BUILD_DIR REFERENCE_DIR WORK_DIR
#
# BUILD_DIR is build-win-i686; REFERENCE_DIR holds the Linux renders
# (check_tool.py --reference); WORK_DIR takes the outputs. Each step is reported as
# ok or FAILED, then the closing "N passed, M failed" line. Exit 0 only when
# every step passed.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$1 REF=$2 WORK=$3
WINE=$ROOT/scripts/win32vm/wine32.sh
mkdir -p "$WORK"

. "$ROOT/tests/win/guest-common.sh"

# An X display for the windows and dialogs.
start_display 7

# A program's verdict is its exit status and its own closing lines, both: 32-bit
# wine can end a program that crashed with status 0, and a GoogleTest filter that
# matches nothing passes. LOG holds what it printed, RC its status.
gtest_verdict() { # LOG RC
    [ "$2" = 0 ] && grep -qE '^\[  PASSED  \] [1-9][0-9]* tests?\.' "$1" && ! grep -q '^\[  FAILED  \]' "$1"
}
gtest_run() { # LOG PROGRAM [ARGS...]
    log=$1
    shift
    "$WINE" "$@" --gtest_brief=1 >"$log" 2>&1
    rc=$?
    cat "$log"
    gtest_verdict "$log" $rc
}
# The check programs close with "NAME: N passed, M failed".
check_run() { # PROGRAM [ARGS...], in the check programs' folder
    log=$WORK/$(basename "$1" .exe).log
    (cd "$BUILD/checks" && "$WINE" "$@") >"$log" 2>&1
    rc=$?
    cat "$log"
    # (Windows programs end their lines with CR LF.)
    [ $rc -eq 0 ] && tr -d '\r' <"$log" | grep -qE '^[a-z_0-9]+: [1-9][0-9]* passed, 0 failed$'
}

uname -m -r
wine --version
# ctest's cases, one process per test program: under emulation each wine process
# costs seconds to start, so one per case (as ctest runs them) would cost minutes.
# The unit tests run beside the plug-in tests (the machine has two processors, and
# each program keeps about one busy); their step reports when they are awaited.
rm -f "$WORK/unit-tests.rc"
(
    "$WINE" "$BUILD/tests/vantrel_tests.exe" --gtest_brief=1 >"$WORK/unit-tests.log" 2>&1
    echo $? >"$WORK/unit-tests.rc"
) &
unit_pid=$!
unit_tests() {
    wait $unit_pid
    cat "$WORK/unit-tests.log"
    gtest_verdict "$WORK/unit-tests.log" "$(cat "$WORK/unit-tests.rc" 2>/dev/null)"
}
# One case looks at the library before anything was played in the process, so it
# gets a process of its own.
FRESH=PluginRecord.CurrentSongInfoBeforeAnyPlayIsEmpty
PLUGIN_TESTS=$BUILD/tests/plugin/vantrel_plugin_tests.exe
step "plug-in host tests (window, dialog, boxes, misaligned stack, soak), i686 under wine" \
    gtest_run "$WORK/plugin-tests.log" "$PLUGIN_TESTS" --gtest_filter="-$FRESH"
step "plug-in host test in a fresh process, i686 under wine" \
    gtest_run "$WORK/plugin-fresh.log" "$PLUGIN_TESTS" --gtest_filter="$FRESH"
step "unit tests, i686 under wine (run beside the plug-in tests)" unit_tests
step "vantrel.exe render and play vs Linux render" python3 "$ROOT/tests/win/check_tool.py" \
    --windows "$BUILD/vantrel.exe" --reference "$REF" --wine "$WINE" --work "$WORK/tool" \
    "$ROOT/examples/demo.vn"
step "win_file_check" check_run ./win_file_check.exe
step "win_dll_check" check_run ./win_dll_check.exe win_probe.dll

finish
