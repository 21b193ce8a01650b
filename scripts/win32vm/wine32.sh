#!/bin/sh
# Runs a 32-bit Windows program under wine inside the emulated PC (see run.sh):
# the prefix the image was made with (/root/.wine), wine's chatter silenced, the
# X display in VANTREL_WINE_DISPLAY (windows and dialogs need one; guest.sh starts
# it). ctest of the i686 build uses this as its emulator. Returns the program's
# exit code.
#
#   scripts/win32vm/wine32.sh PROGRAM.exe [ARGS...]
set -eu
[ -f /sbin/win32vm-init ] || { echo "wine32.sh: runs only inside the emulated PC (scripts/win32vm/run.sh)" >&2; exit 127; }
export WINEPREFIX=/root/.wine WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY
[ -n "${VANTREL_WINE_DISPLAY:-}" ] && export DISPLAY="$VANTREL_WINE_DISPLAY"
# Wine's system processes start with the first program and keep its output open
# until the wineserver ends; a server that stays up and a first program whose
# output goes nowhere keep callers that read the output (ctest) from waiting.
# That first program also sets two things in the prefix (scripts/win/test-prefix.reg):
# windows are left to wine alone (the display has no window manager, and for a
# managed window wine waits up to a second, every time one is hidden, for one to
# answer), and a program that crashes ends with its backtrace instead of waiting
# for someone to close wine's crash dialog.
# Programs started side by side wait for the first one's setup (the lock).
(
    flock 9
    if [ ! -e /tmp/.win32vm-wineserver ]; then
        wineserver -p >/dev/null 2>&1 </dev/null 9>&- || true
        wine regedit /S "$(dirname "$0")/../win/test-prefix.reg" >/dev/null 2>&1 </dev/null 9>&- || true
        : >/tmp/.win32vm-wineserver
    fi
) 9>/tmp/.win32vm-wineserver.lock
exec wine "$@" </dev/null
