#!/bin/bash
# The real program starts under Wine at 96, 144 and 192 DPI, shows its
# fixed-size main window with every control placed and sized for that DPI and
# every caption fitting, closes through File > Exit and ends with exit code 0.
# It runs on a screen of its own, large enough for the window at 192 DPI, in
# a prefix of its own, so the build's prefix stays at 96 DPI.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

[ -n "${TARNWICK_WIDE_SCREEN:-}" ] || TARNWICK_WIDE_SCREEN=1 exec xvfb-run -a -s "-screen 0 2560x1600x24" bash "$0"
at_exit leave_private_wine_prefix
for dpi in 96 144 192; do
    enter_private_wine_prefix "$BUILD" "$dpi" || fail "could not make a Wine prefix at $dpi DPI"
    wine "$BUILD/TarnwickFileEraser.exe" &
    program=$!
    wine "$BUILD/window_probe.exe" check "$dpi" || fail "main window is not as promised at $dpi DPI"
    wine "$BUILD/window_probe.exe" exit || fail "could not send File > Exit at $dpi DPI"
    timeout 60 tail --pid="$program" -f /dev/null || fail "program still running a minute after File > Exit"
    code=0
    wait "$program" || code=$?
    [ "$code" -eq 0 ] || fail "program exited with $code at $dpi DPI"
    leave_private_wine_prefix
done
echo "PASS: window laid out at 96, 144 and 192 DPI, closed by File > Exit, exit code 0"
