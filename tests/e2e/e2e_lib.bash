# Shared steps of the end-to-end scripts (tests/e2e/*.sh): the build's Wine
# prefix, skipping and failing, clean-up, drive letters and the driver of the
# real-volume tests. Sourced, not run; CTest runs each script with bash and sets
# TARNWICK_BINARY_DIR and TARNWICK_SOURCE_DIR.
set -u -o pipefail
BUILD="$TARNWICK_BINARY_DIR"
source "$TARNWICK_SOURCE_DIR/scripts/lib.sh"

# Ends the test as skipped (CTest reads 77 so) or failed, saying why.
skip() { echo "skipped: $1"; exit 77; }
fail() { echo "FAIL: $1"; exit 1; }
prepare_wine_prefix "$BUILD" >/dev/null 2>&1 || fail "could not prepare the Wine prefix in $BUILD"

# Runs the commands queued by at_exit, newest first, when the script ends.
EXIT_STEPS=":"
at_exit() { EXIT_STEPS="$1; $EXIT_STEPS"; }
trap 'eval "$EXIT_STEPS"' EXIT
trap 'exit 1' INT TERM

# Maps folder $2 to drive letter $1 of the build's prefix until the script ends.
map_drive() {
    ln -sfn "$2" "$WINEPREFIX/dosdevices/$1:" || fail "cannot map drive $1:"
    at_exit "rm -f '$WINEPREFIX/dosdevices/$1:'"
}

# Runs the jobs_tests.exe case named $1 with the environment settings
# (VAR=value) that follow, its output shown as it comes; fails unless the case
# ran and passed (one skipped for want of its volume passes nothing).
run_jobs_test() {
    env "${@:2}" wine "$BUILD/jobs_tests.exe" --gtest_filter="$1" --gtest_color=no 2>&1 | tee /dev/stderr |
        grep '^\[  PASSED  \] 1 test\.' >/dev/null || fail "$1 did not run and pass"
}
