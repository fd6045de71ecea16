#!/bin/bash
# The real program starts under Wine, shows its fixed-size main window with
# the right class, title and client area, closes through File > Exit and ends
# by itself, within a minute, with exit code 0.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

[ -n "${DISPLAY:-}" ] || skip "no display (run through scripts/test)"
wine "$BUILD/TarnwickFileEraser.exe" &
program=$!
at_exit 'kill "$program" 2>/dev/null'
wine "$BUILD/window_probe.exe" check || fail "main window is not as promised"
wine "$BUILD/window_probe.exe" exit || fail "could not send File > Exit"
timeout 60 tail --pid="$program" -f /dev/null || fail "program still running a minute after File > Exit"
code=0
wait "$program" || code=$?
[ "$code" -eq 0 ] || fail "program exited with $code"
echo "PASS: window shown, closed by File > Exit, exit code 0"
