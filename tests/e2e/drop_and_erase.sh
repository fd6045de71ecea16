#!/bin/bash
# A real drag and drop from outside: a native X11 program drops two files and
# a folder on the running program through XDND, as a Linux file manager would.
# Then Start is clicked, the question answered with Enter, and the final state
# read back: every row "Done", the files and folders gone, a folder reached
# through a directory link left alone, a path longer than 260 characters
# erased, and the program ending with exit code 0 after File > Exit.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

[ -n "${DISPLAY:-}" ] || skip "no display (run through scripts/test)"
command -v gcc >/dev/null || skip "no host gcc to build the X11 drop source"
[ -f /usr/include/X11/Xlib.h ] || skip "no Xlib headers (package libx11-dev)"
command -v xdotool >/dev/null || skip "no xdotool"
mkdir -p "$BUILD/e2e-tools"
gcc -std=c11 -D_DEFAULT_SOURCE -O2 -o "$BUILD/e2e-tools/xdnd_drop" "$SOURCE/tests/e2e/xdnd_drop.c" -lX11 || exit 1

WORK="$(mktemp -d /tmp/tarnwick-drop.XXXXXX)"
at_exit 'rm -rf "$WORK"'

# Two loose files, one with a space; a folder tree with an empty folder, a
# deep path and a link to a folder outside the drop that must survive.
head -c 200000 /dev/urandom >"$WORK/one.bin"
printf 'second file\n' >"$WORK/two words.txt"
mkdir -p "$WORK/folder/sub" "$WORK/folder/empty" "$WORK/outside"
printf 'f\n' >"$WORK/folder/f.txt"
printf 'g\n' >"$WORK/folder/sub/g.txt"
deep="$WORK/folder/deep"
for part in aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb \
    cccccccccccccccccccccccccccccccccccccccc dddddddddddddddddddddddddddddddddddddddd \
    eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee ffffffffffffffffffffffffffffffffffffffff; do
    deep="$deep/$part"
done
mkdir -p "$deep"
printf 'deep\n' >"$deep/long.txt"
[ "$(printf '%s' "Z:$deep/long.txt" | wc -c)" -gt 260 ] || fail "the deep path is not long enough"
printf 'keep me\n' >"$WORK/outside/keep.txt"
ln -s "$WORK/outside" "$WORK/folder/link"

start_program
"$BUILD/e2e-tools/xdnd_drop" "$WINDOW" "$WORK/one.bin" "$WORK/two words.txt" "$WORK/folder" || fail "the drop failed"
rows=""
for attempt in $(seq 1 50); do
    rows="$(probe rows)"
    [ "$(printf '%s\n' "$rows" | grep -c .)" -eq 5 ] && break
    sleep 0.2
done
printf 'After the drop:\n%s\n' "$rows"
expected="$(printf 'f.txt\tReady\ng.txt\tReady\nlong.txt\tReady\none.bin\tReady\ntwo words.txt\tReady')"
[ "$(printf '%s\n' "$rows" | sort)" = "$expected" ] || fail "the list does not hold the dropped files"
[ "$(printf '%s\n' "$rows" | head -n 2 | cut -f 1)" = "$(printf 'one.bin\ntwo words.txt')" ] ||
    fail "the loose files do not come first, in drop order"

# Click Start where it is drawn: the client area is 800 x 444 inside the frame.
eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
border=$(((WIDTH - 800) / 2))
top=$((HEIGHT - 444 - border))
xdotool mousemove --window "$WINDOW" $((border + 12 + 37)) $((top + 389 + 11)) click 1
question="$(probe box Confirmation)" || fail "no Confirmation question"
[ "$question" = "Overwrite and delete the selected files?" ] || fail "unexpected question: $question"
xdotool key Return

status=""
for attempt in $(seq 1 150); do
    status="$(probe status)"
    case "$status" in Operation*) break ;; esac
    sleep 0.2
done
rows="$(probe rows)"
printf 'After the erase:\n%s\n%s\n' "$rows" "$status"
[ "$status" = "Operation completed successfully." ] || fail "job ended with: $status"
[ "$(probe buttons)" = "start=1 cancel=0" ] || fail "the window is not idle again"
[ "$(printf '%s\n' "$rows" | cut -f 2 | sort -u)" = "Done" ] || fail "not every row is Done"

for gone in "$WORK/one.bin" "$WORK/two words.txt" "$WORK/folder/f.txt" "$WORK/folder/sub" "$WORK/folder/empty" \
    "$WORK/folder/deep"; do
    [ ! -e "$gone" ] || fail "still there: $gone"
done
[ "$(find "$WORK" -type f | grep -v "/outside/keep.txt$")" = "" ] || fail "a file was left: $(find "$WORK" -type f)"
[ "$(cat "$WORK/outside/keep.txt")" = "keep me" ] || fail "the folder behind the link was touched"

exit_program
echo "PASS: dropped through XDND, erased, folders removed, link target kept, exit code 0"
