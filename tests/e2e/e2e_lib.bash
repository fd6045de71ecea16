# Shared steps of the end-to-end scripts (tests/e2e/*.sh): the build's Wine
# environment, skipping and failing, clean-up, and drive letters for volumes
# mounted by a test. Sourced, not run; CTest runs each script with bash and
# sets TARNWICK_BINARY_DIR and TARNWICK_SOURCE_DIR.
set -u -o pipefail
BUILD="${TARNWICK_BINARY_DIR:?set TARNWICK_BINARY_DIR to the build folder}"
SOURCE="${TARNWICK_SOURCE_DIR:?set TARNWICK_SOURCE_DIR to the source folder}"
source "$SOURCE/scripts/lib.sh"
wine_environment "$BUILD"

# Ends the test as skipped (CTest reads 77 so), saying why.
skip() { echo "skipped: $1"; exit 77; }
fail() { echo "FAIL: $1"; exit 1; }

# Runs the commands queued by at_exit, newest first, when the script ends.
EXIT_STEPS=":"
at_exit() { EXIT_STEPS="$1; $EXIT_STEPS"; }
trap 'eval "$EXIT_STEPS"' EXIT
trap 'exit 1' INT TERM

# Skips unless root; makes sure the Wine prefix and jobs_tests.exe are there.
prepare_volume_test() {
    [ "$(id -u)" -eq 0 ] || skip "$1 needs root"
    [ -f "$BUILD/jobs_tests.exe" ] || fail "jobs_tests.exe is not built in $BUILD"
    prepare_wine_prefix "$BUILD" >/dev/null 2>&1 || fail "could not prepare the Wine prefix"
}

# Maps `folder` to the first free drive letter of the build's prefix, sets
# DRIVE (the upper-case letter) and removes the mapping when the script ends.
map_drive() {
    for letter in n o p q r s t u v w x y; do
        link="$WINEPREFIX/dosdevices/$letter:"
        [ -e "$link" ] || [ -L "$link" ] && continue
        ln -s "$1" "$link" || fail "cannot map drive $letter:"
        at_exit "rm -f '$link'"
        DRIVE="${letter^^}"
        return 0
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
