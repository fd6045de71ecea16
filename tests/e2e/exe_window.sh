#!/bin/sh
# The real program starts under Wine, shows its fixed-size main window with
# the right class, title and client area, closes through File > Exit and ends
# with exit code 0.
set -u
BUILD="$TARNWICK_BINARY_DIR"
export WINEPREFIX="$BUILD/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -z "${DISPLAY:-}" ]; then
    echo "skipped: no display (run through scripts/test)"
    exit 77
fi

wine "$BUILD/TarnwickFileEraser.exe" &
program=$!

fail() {
    echo "FAIL: $1"
    kill "$program" 2>/dev/null
    exit 1
}

window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Tarnwick File Eraser$' | head -n 1)"
[ -n "$window" ] || fail "no visible X window titled 'Tarnwick File Eraser'"

wine "$BUILD/window_probe.exe" check || fail "main window is not as promised"
wine "$BUILD/window_probe.exe" exit || fail "could not send File > Exit"

# The program must end by itself after File > Exit; give it a minute.
for second in $(seq 60); do
    kill -0 "$program" 2>/dev/null || break
    sleep 1
done
kill -0 "$program" 2>/dev/null && fail "program still running a minute after File > Exit"
status=0
wait "$program" || status=$?
[ "$status" -eq 0 ] || fail "program exited with $status"
echo "PASS: window shown, closed by File > Exit, exit code 0"
