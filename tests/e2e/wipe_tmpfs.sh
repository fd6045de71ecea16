#!/bin/bash
# Real free-space wipes (jobs_tests.exe, RealFreeSpaceWipe) of a 256 MiB tmpfs
# mapped to a drive letter, after which everything that was on the volume must
# be exactly as it was, and no file of the wipe left. Needs root for the
# mount; skipped (77) otherwise.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

[ "$(id -u)" -eq 0 ] || skip "mounting a tmpfs needs root"
volume="$(mktemp -d /tmp/tarnwick-wipe.XXXXXX)" || fail "cannot create a mount point"
# Wine may hold the volume a moment after the test ends; a lazy unmount then
# detaches it as soon as it lets go.
at_exit '{ umount "$volume" || umount -l "$volume"; } 2>/dev/null; rmdir "$volume"'
error="$(mount -t tmpfs -o size=256m tarnwick-wipe "$volume" 2>&1)" || skip "mounting a tmpfs is not permitted here: $error"
map_drive w "$volume"
mkdir -p "$volume/Documents/Empty folder" && head -c 3000000 /dev/urandom >"$volume/Documents/photo.raw" &&
    : >"$volume/empty.dat" || fail "cannot write the files"

# Prints every entry with its type, size, mode, times and checksum, and the
# bytes in use, so that any change to what was there shows as a difference.
snapshot() (
    cd "$volume" && find . -mindepth 1 -printf '%y %s %m %T@ %C@ %p\n' | sort &&
        find . -type f -exec sha256sum {} + | sort -k 2 && df -B1 --output=used . | tail -n 1
)
before="$(snapshot)"
run_jobs_test RealFreeSpaceWipe.WipeFilesCoverTheFreeSpaceOfAMountedVolume 'TARNWICK_WIPE_FOLDER=W:\'
diff -u <(echo "$before") <(snapshot) || fail "the wipe changed what was on the volume, or left a file"
