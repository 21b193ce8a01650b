# Shared by the scripts that run inside the emulated PC (guest-i686.sh,
# guest-i686-installer.sh); sourced, not run. Counts the steps in $passed and
# $failed.
passed=0 failed=0

# step NAME COMMAND [ARGS...]: runs the command and reports it as ok or FAILED.
step() {
    name=$1
    shift
    t0=$(date +%s)
    echo "== $name"
    "$@"
    rc=$?
    if [ $rc -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok: $name ($(($(date +%s) - t0)) s)"
    else
        failed=$((failed + 1))
        echo "FAILED: $name (exit $rc, $(($(date +%s) - t0)) s)"
    fi
}

# start_display N: an Xvfb server on display :N for the windows and dialogs, named
# to wine32.sh in VANTREL_WINE_DISPLAY.
start_display() {
    Xvfb ":$1" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    n=0
    while [ ! -e "/tmp/.X11-unix/X$1" ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n + 1)); done
    export VANTREL_WINE_DISPLAY=":$1"
}
