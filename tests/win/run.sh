#!/usr/bin/env bash
# Builds both Windows targets and checks them. The x86_64 programs run under
# wine64 here; the i686 ones (the product's architecture, which this machine's
# kernel cannot execute) are checked statically here and then run under 32-bit
# wine in an emulated PC (tests/win/run-guest.sh i686 and installer;
# VANTREL_WIN_I686_RUN=0 leaves that stage out).
#
#   tests/win/run.sh
#
# Steps, each reported as ok or FAILED, then a closing "win: N passed, N failed" line:
#   build i686 and x86_64 (scripts/win/build.sh), check the plug-in DLLs as the host
#   sees them (check_plugin_pe.py), make the setup program and check it as Windows
#   sees it (scripts/win/installer.sh, inspect-pe.py), build the Linux references
#   (win_smoke and vantrel; LINUX_VANTREL names an already built vantrel instead),
#   start an Xvfb display for wine (windows and dialogs need one) and create the
#   wine prefix, run the unit tests and the plug-in's host tests (the x86_64 builds
#   of tests/ and tests/plugin/, unless VANTREL_WIN_TESTS=0) and win_file_check and
#   win_dll_check under wine, compare vantrel.exe with the Linux vantrel (PCM, WAV,
#   FLAC, pack) and play with render (check_tool.py --files), compare wine's and
#   Linux's decoded PCM (check_decode.py), test the PE inspector and the notices
#   script, link the i686 binaries again from the relink kit (check_relink_kit.py),
#   inspect every i686 and x86_64 binary, then run the i686 tests and the setup
#   program in the emulated PC (tests/win/run-guest.sh i686, then installer).
# Installs what it needs (as root, apt-get). Exit code 0 only when every step passed.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/win/common.sh"
trap - ERR
set +e

ROOT=$VANTREL_ROOT
WIN=$ROOT/scripts/win
LINUX_REF=${LINUX_REF_DIR:-$ROOT/build-win-linux-ref}
LINUX_VANTREL=${LINUX_VANTREL:-$LINUX_REF/vantrel}
t_start=$SECONDS
. "$ROOT/tests/win/steps.sh"

in_checks() { (cd "$ROOT/build-win-x86_64/checks" && "$@"); }

linux_reference() {
    local targets=(win_smoke)
    [ -x "$LINUX_VANTREL" ] && [ "$LINUX_VANTREL" != "$LINUX_REF/vantrel" ] || targets+=(vantrel)
    cmake -S "$ROOT" -B "$LINUX_REF" -G Ninja -DVANTREL_TESTS=OFF -DVANTREL_TOOLS=ON -DVANTREL_BENCH=OFF \
        -DVANTREL_WIN_CHECKS=ON >&2 &&
        cmake --build "$LINUX_REF" -j "${VANTREL_JOBS:-2}" --target "${targets[@]}" >&2
}

# An X display of our own for wine's windows, and a wine prefix used only with it
# (a wineserver started without a display would serve windows without one).
XVFB_PID=
kill_wineserver() {
    local server=/usr/lib/wine/wineserver64
    [ -x "$server" ] || server=wineserver
    "$server" -k >/dev/null 2>&1 || true
}
start_display() {
    # The build's test discovery may have left our prefix's server running displayless.
    kill_wineserver
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local n
    read -r -t 60 n <"$fifo" || n=
    rm -f "$fifo"
    [ -n "$n" ] || { log "Xvfb did not start"; return 1; }
    export VANTREL_WINE_DISPLAY=:$n
    log "Xvfb on display :$n"
}
stop_display() {
    # Our prefix's wineserver (and wine's processes with it) ends with our display.
    kill_wineserver
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    return 0
}
export WINEPREFIX=${WINEPREFIX:-$VANTREL_CACHE/wine64-display}

plugin_pe_checks() {
    python3 "$ROOT/tests/win/check_plugin_pe.py" "$ROOT/build-win-i686/in_vantrel.dll" --machine i386 &&
        python3 "$ROOT/tests/win/check_plugin_pe.py" "$ROOT/build-win-x86_64/in_vantrel.dll" --machine amd64 || return 1
    # The check itself: another DLL (the probe) must fail it.
    if python3 "$ROOT/tests/win/check_plugin_pe.py" "$ROOT/build-win-x86_64/checks/win_probe.dll" \
        --machine amd64 >/dev/null 2>&1; then
        log "check_plugin_pe.py passed the probe DLL"
        return 1
    fi
}

inspect_all() {
    local arch machine ok=0 f
    for arch in i686 x86_64; do
        machine=$([ $arch = i686 ] && echo i386 || echo amd64)
        local dir=$ROOT/build-win-$arch
        "$WIN/inspect-pe.py" "$dir/checks/win_probe.dll" --expect-machine "$machine" \
            --expect-exports ProbeGetModule --expect-dll-name win_probe.dll \
            --system-imports-only --expect-version 1.0.0.1 --expect-dialog 1016 || ok=1
        for f in "$dir"/*.exe "$dir"/checks/*.exe; do
            [ -f "$f" ] || continue
            "$WIN/inspect-pe.py" "$f" --expect-machine "$machine" --expect-exports '' \
                --system-imports-only >/dev/null || { echo "in $f" >&2; ok=1; }
        done
    done
    return $ok
}

# The setup program as Windows sees it before running it: a 32-bit program with the
# version block, a manifest that asks for no rights (it asks for them itself when
# the player's folder needs them), no signature, system DLLs only. The check must
# also be able to fail: the same file cannot pass for one that requires administrators.
SETUP=
setup_checks() {
    local setup
    setup=$("$WIN/installer.sh" --no-build) || return 1
    SETUP=$setup
    "$WIN/inspect-pe.py" "$setup" --expect-machine i386 --expect-exports '' --system-imports-only \
        --expect-version 1.0.0.1 --expect-execution-level asInvoker --expect-unsigned >/dev/null || return 1
    if "$WIN/inspect-pe.py" "$setup" --expect-execution-level requireAdministrator >/dev/null 2>&1; then
        log "inspect-pe.py passed asInvoker for requireAdministrator"
        return 1
    fi
    "$WIN/inspect-pe.py" "$setup" | grep -E '^(version|manifest|signature|machine)|ProductName' >&2
}

ensure_packages python3 lame wine64 xvfb cmake ninja-build g++ pkg-config libmpg123-dev \
    libsndfile1-dev libmp3lame-dev libopusenc-dev libcli11-dev nlohmann-json3-dev nsis

step "build i686" "$WIN/build.sh" i686
step "build x86_64" "$WIN/build.sh" x86_64
step "plug-in DLLs: exports, imports, version, dialog" plugin_pe_checks
step "setup program: makensis, version block, manifest" setup_checks
step "build Linux references" linux_reference
trap stop_display EXIT
step "X display for wine" start_display
step "wine prefix" "$WIN/wine.sh" --init
if [ "${VANTREL_WIN_TESTS:-1}" != 0 ]; then
    step "unit tests and plug-in host tests under wine (ctest)" \
        ctest --test-dir "$ROOT/build-win-x86_64" -j 2 --output-on-failure --no-tests=error --timeout 300

fi
step "vantrel.exe render (PCM, WAV, FLAC, Ogg, Opus, MP3), pack and play vs Linux" \
    python3 "$ROOT/tests/win/check_tool.py" --files \
    --linux "$LINUX_VANTREL" --windows "$ROOT/build-win-x86_64/vantrel.exe" "$ROOT/examples/demo.vn"
step "win_file_check under wine" in_checks "$WIN/wine.sh" ./win_file_check.exe
step "win_dll_check under wine" in_checks "$WIN/wine.sh" ./win_dll_check.exe win_probe.dll
step "decode: wine vs Linux" python3 "$ROOT/tests/win/check_decode.py" \
    --linux "$LINUX_REF/checks/win_smoke" --windows "$ROOT/build-win-x86_64/checks/win_smoke.exe"
step "PE inspector tests" python3 "$ROOT/tests/win/test_inspect_pe.py"
step "notices script tests" python3 "$ROOT/tests/win/test_notices.py"
step "relink kit: in_vantrel.dll and vantrel.exe linked again, identical" \
    python3 "$ROOT/tests/win/check_relink_kit.py" "${SETUP%-setup.exe}-relink-kit.zip" "$ROOT/build-win-i686"
step "deb-src script tests" python3 "$ROOT/tests/win/test_enable_deb_src.py"
step "PE checks of all binaries" inspect_all
stop_display
if [ "${VANTREL_WIN_I686_RUN:-1}" = 1 ]; then
    step "i686 tests under 32-bit wine in the emulated PC" \
        env VANTREL_WIN_I686_BUILT=1 LINUX_VANTREL="$LINUX_VANTREL" "$ROOT/tests/win/run-guest.sh" i686
    step "setup program and the i686 tool's audio files in the emulated PC" \
        env VANTREL_WIN_I686_BUILT=1 LINUX_VANTREL="$LINUX_VANTREL" "$ROOT/tests/win/run-guest.sh" installer
fi

log "total $((SECONDS - t_start)) s"
verdict "win: "
