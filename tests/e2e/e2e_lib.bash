# Shared steps of the end-to-end scripts (tests/e2e/*.sh): the build's Wine
# environment, skipping and failing, the real program's window, and drive
# letters for volumes mounted by a test. Sourced, not run; CTest runs each
# script with bash and sets TARNWICK_BINARY_DIR and TARNWICK_SOURCE_DIR.
set -u -o pipefail
BUILD="${TARNWICK_BINARY_DIR:?set TARNWICK_BINARY_DIR to the build folder}"
SOURCE="${TARNWICK_SOURCE_DIR:?set TARNWICK_SOURCE_DIR to the source folder}"
source "$SOURCE/scripts/lib.sh"
wine_environment "$BUILD"

# Ends the test as skipped (CTest reads 77 so), saying why.
skip() {
    echo "skipped: $1"
    exit 77
}

fail() {
    echo "FAIL: $1"
    exit 1
}

# Runs the commands queued by at_exit, newest first, when the script ends.
EXIT_STEPS=":"
at_exit() {
    EXIT_STEPS="$1; $EXIT_STEPS"
}
trap 'eval "$EXIT_STEPS"' EXIT
trap 'exit 1' INT TERM

require_root() {
    [ "$(id -u)" -eq 0 ] || skip "$1 needs root"
}

# Starts the real program and sets PROGRAM (its PID) and WINDOW (its X window).
start_program() {
    [ -n "${DISPLAY:-}" ] || skip "no display (run through scripts/test)"
    wine "$BUILD/TarnwickFileEraser.exe" &
    PROGRAM=$!
    at_exit 'kill "$PROGRAM" 2>/dev/null'
    WINDOW="$(timeout 30 xdotool search --sync --onlyvisible --name '^Tarnwick File Eraser$' | head -n 1)"
    [ -n "$WINDOW" ] || fail "no visible X window titled 'Tarnwick File Eraser'"
}

# Runs the window probe (tests/tools/window_probe.cpp) on the program's window.
probe() {
    wine "$BUILD/window_probe.exe" "$@" | tr -d '\r'
}

# Closes the program through File > Exit and fails unless it ends by itself,
# within a minute, with exit code 0.
exit_program() {
    probe exit || fail "could not send File > Exit"
    for second in $(seq 60); do
        kill -0 "$PROGRAM" 2>/dev/null || break
        sleep 1
    done
    kill -0 "$PROGRAM" 2>/dev/null && fail "program still running a minute after File > Exit"
    code=0
    wait "$PROGRAM" || code=$?
    [ "$code" -eq 0 ] || fail "program exited with $code"
}

# Maps `folder` to the first free drive letter of the build's prefix, sets
# DRIVE (the upper-case letter) and removes the mapping when the script ends.
map_drive() {
    for letter in n o p q r s t u v w x y; do
        link="$WINEPREFIX/dosdevices/$letter:"
        if [ ! -e "$link" ] && [ ! -L "$link" ]; then
            ln -s "$1" "$link" || fail "cannot map drive $letter:"
            at_exit "rm -f '$link'"
            DRIVE="$(echo "$letter" | tr a-z A-Z)"
            return 0
        fi
    done
    fail "no free drive letter in $WINEPREFIX/dosdevices"
}

# Runs the jobs_tests.exe cases that FILTER names, output in LOG and shown,
# with the environment settings (VAR=value) that follow; fails unless they
# ran and passed. Their message-only window wants a display under Wine.
run_jobs_test() {
    filter="$1" log="$2"
    shift 2
    set -- env "$@" wine "$BUILD/jobs_tests.exe" --gtest_filter="$filter" --gtest_color=no
    [ -n "${DISPLAY:-}" ] || set -- xvfb-run -a "$@"
    status=0
    "$@" >"$log" 2>&1 || status=$?
    cat "$log"
    grep -q '^\[  SKIPPED \]' "$log" && fail "$filter was skipped instead of run"
    grep -q "^\[       OK \] $filter" "$log" || fail "$filter did not pass (status $status)"
    [ "$status" -eq 0 ] || fail "jobs_tests.exe exited with $status"
}
