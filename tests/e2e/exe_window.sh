#!/bin/bash
# The real program starts under Wine at 96 and 144 DPI, shows its main
# window with every control placed and sized, and its font made, for that DPI
# and closes through File > Exit with exit code 0 (window_probe.exe starts it and checks all that).
# It runs on a screen of its own, large enough for the window at 144 DPI, in
# a prefix of its own, so the build's prefix stays at 96 DPI.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

[ -n "${TARNWICK_WIDE_SCREEN:-}" ] || TARNWICK_WIDE_SCREEN=1 exec xvfb-run -a -s "-screen 0 2560x1600x24" bash "$0"
at_exit leave_private_wine_prefix
for dpi in 96 144; do
    enter_private_wine_prefix "$BUILD" "$dpi" || fail "could not make a Wine prefix at $dpi DPI"
    wine "$BUILD/window_probe.exe" "$dpi" "Z:${BUILD//\//\\}\\TarnwickFileEraser.exe" || fail "the program is not as promised at $dpi DPI"
    leave_private_wine_prefix
done
