# The steps of the Windows checks, counted: sourced (not run) by tests/win/run.sh
# here and by the guest scripts in the emulated PC (through guest-common.sh), so it
# is plain sh. A step's command passes by its exit status alone.
passed=0 failed=0

# step NAME COMMAND [ARGS...]: runs the command, prints "== NAME" before it and
# "ok: NAME (N s)" or "FAILED: NAME (exit RC, N s)" after it, counts it in $passed
# or $failed, and returns its status.
step() {
    _step_name=$1
    shift
    _step_t0=$(date +%s)
    echo "== $_step_name"
    "$@"
    _step_rc=$?
    if [ $_step_rc -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok: $_step_name ($(($(date +%s) - _step_t0)) s)"
    else
        failed=$((failed + 1))
        echo "FAILED: $_step_name (exit $_step_rc, $(($(date +%s) - _step_t0)) s)"
    fi
    return $_step_rc
}

# verdict [PREFIX]: the closing "PREFIXN passed, M failed" line; status 0 only when
# no step failed.
verdict() {
    echo "${1:-}$passed passed, $failed failed"
    [ $failed -eq 0 ]
}
