#!/bin/bash
# Real free-space wipes (jobs_tests.exe, RealFreeSpaceWipe: zero fill,
# verification on) of a 256 MiB tmpfs mapped to a drive letter, as it is and
# with the lengths, files and stops that test sets through the seam. Afterwards
# no hidden file of the wipe may be left and everything on the volume must be
# exactly as it was. Needs root for the mount; skipped (77) with the reason
# otherwise.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

prepare_volume_test "mounting a tmpfs"
volume="$(mktemp -d /tmp/tarnwick-wipe.XXXXXX)"
work="$(mktemp -d /tmp/tarnwick-wipe-work.XXXXXX)"
at_exit 'rm -rf "$work"; rmdir "$volume" 2>/dev/null'
mount -t tmpfs -o size=256m,mode=0755 tarnwick-wipe "$volume" 2>"$work/mount.err" ||
    skip "mounting a tmpfs is not permitted here: $(cat "$work/mount.err")"
# Wine may still hold the volume for a moment after the driver ends; a lazy
# unmount then detaches it as soon as it lets go.
at_exit 'umount "$volume" 2>/dev/null || umount -l "$volume"'
map_drive "$volume"

mkdir -p "$volume/Documents/Archive" "$volume/Empty folder"
head -c 3000000 /dev/urandom >"$volume/Documents/Archive/photo.raw"
printf 'quarterly figures\n' >"$volume/Documents/report.txt"
: >"$volume/empty.dat"
touch -d '2020-01-02 03:04:05' "$volume/Documents/report.txt" "$volume/Documents/Archive"

# Lists every entry with its type, size, mode, times and checksum, and the
# bytes in use, so that any change to what was there shows as a difference.
snapshot() {
    (cd "$volume" && find . -mindepth 1 -printf '%y %s %m %T@ %C@ %p\n' | sort &&
        find . -type f -exec sha256sum {} + | sort -k 2 && df -B1 --output=used . | tail -n 1)
}
snapshot >"$work/before"
run_jobs_test RealFreeSpaceWipe.WipeFilesCoverTheFreeSpaceOfAMountedVolume "$work/driver.log" \
    TARNWICK_WIPE_FOLDER="$DRIVE:\\"
snapshot >"$work/after"
diff -u "$work/before" "$work/after" || fail "the wipe changed what was already on the volume"
echo "PASS: wiped the free space of a 256 MiB volume on $DRIVE:, nothing else changed"
