#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64, headless, in the project's own
# wine prefix ($VANTREL_CACHE/wine64), creating that prefix on first use.
#
#   scripts/win/wine.sh PROGRAM.exe [ARGS...]
#   scripts/win/wine.sh --init          # only make sure the prefix exists
#
# The program's exit code is returned. Wine's own chatter is silenced
# (WINEDEBUG=-all); no display is needed for console programs. Programs with
# windows and dialogs need an X display: VANTREL_WINE_DISPLAY names one (for
# example an Xvfb server's ":99"); without it no display is used at all.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

WINE64=${WINE64:-/usr/lib/wine/wine64}
if [ ! -x "$WINE64" ]; then
    ensure_packages wine64
    # The loader is not on PATH; the package knows where it put it.
    WINE64=$(dpkg -L wine64 | grep -E '/wine64$' | head -n 1)
    [ -x "$WINE64" ] || die "no wine64 loader found in package wine64"
fi

export WINEPREFIX=${WINEPREFIX:-$VANTREL_CACHE/wine64}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts: console programs need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY
if [ -n "${VANTREL_WINE_DISPLAY:-}" ]; then
    export DISPLAY=$VANTREL_WINE_DISPLAY
fi

server() {
    if [ -x "$(dirname "$WINE64")/wineserver64" ]; then
        echo "$(dirname "$WINE64")/wineserver64"
    else
        echo wineserver
    fi
}

init_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return 0
    local t0=$SECONDS
    log "creating wine prefix $WINEPREFIX (first run)"
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null 9>&-
    # wineboot returns before the registry is flushed; wait for the server.
    "$(server)" -w 9>&- 2>/dev/null || true
    [ -f "$WINEPREFIX/system.reg" ] || die "wineboot did not create $WINEPREFIX"
    log "wine prefix ready in $((SECONDS - t0)) s"
}

# Wine starts its own system processes (services.exe and others) with the first
# program of a session; they inherit that program's output and live until the
# wineserver ends, which keeps a caller that reads the output (ctest, a pipe)
# waiting for seconds. So a wineserver is started here that stays up
# VANTREL_WINE_PERSIST seconds (default 30) after the last program ends (the
# seconds must be glued to -p), and the
# system processes are started by a program whose output goes nowhere.
# That program also sets two things in the prefix (test-prefix.reg beside this
# script): windows are left to wine alone (our displays have no window manager,
# and for a managed window wine waits up to a second, every time one is hidden,
# for one to answer), and a program that crashes ends with its backtrace instead
# of waiting for someone to close wine's crash dialog.
# (Nothing started here may keep the lock's descriptor 9: it would hold the lock.)
start_server() {
    if "$(server)" -p"${VANTREL_WINE_PERSIST:-30}" >/dev/null 2>&1 </dev/null 9>&-; then
        "$WINE64" regedit /S "$VANTREL_ROOT/scripts/win/test-prefix.reg" >/dev/null 2>&1 </dev/null 9>&- || true
    fi
}

with_cache_lock wine64-prefix init_prefix
with_cache_lock wine64-server start_server
[ "${1:-}" = --init ] && exit 0
[ $# -ge 1 ] || die "usage: $0 PROGRAM.exe [ARGS...] | --init"
exec "$WINE64" "$@" </dev/null
