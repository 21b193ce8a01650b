# Shared by the scripts that run inside the emulated PC (guest-i686.sh,
# guest-i686-installer.sh); sourced, not run: the counted steps (steps.sh), the X
# display, and the end of a run. $ROOT is the repository.
. "$ROOT/tests/win/steps.sh"

# start_display N: an Xvfb server on display :N for the windows and dialogs, named
# to wine32.sh in VANTREL_WINE_DISPLAY.
start_display() {
    Xvfb ":$1" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    n=0
    while [ ! -e "/tmp/.X11-unix/X$1" ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
    export VANTREL_WINE_DISPLAY=":$1"
}

# finish: ends wine's processes and prints the closing "N passed, M failed" line;
# status 0 only when every step passed.
finish() {
    wineserver -k 2>/dev/null
    verdict
}
