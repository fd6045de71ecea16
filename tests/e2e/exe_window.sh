#!/bin/bash
# The real program starts under Wine, shows its fixed-size main window with
# the right class, title and client area, closes through File > Exit and ends
# with exit code 0.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

start_program
probe check || fail "main window is not as promised"
exit_program
echo "PASS: window shown, closed by File > Exit, exit code 0"
