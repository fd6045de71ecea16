#!/bin/bash
# A real free-space wipe of a small volume: a 256 MiB tmpfs is mounted for
# the test and mapped to a drive letter of the build's Wine prefix, a few
# files are put on it, and the wipe job runs there with the zero-fill method
# and verification on (jobs_tests.exe, RealFreeSpaceWipe). The job must end
# with outcome 0 after writing every byte of its hidden wipe file; afterwards
# no wipe file may be left and every other file and folder on the volume must
# be exactly as it was. Needs root for the mount; reports itself skipped
# (exit 77) with the reason where it cannot run.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"

require_root "mounting a tmpfs"
[ -f "$BUILD/jobs_tests.exe" ] || skip "jobs_tests.exe is not built in $BUILD"
prepare_wine_prefix "$BUILD" >/dev/null 2>&1 || fail "could not prepare the Wine prefix"

volume="$(mktemp -d /tmp/tarnwick-wipe.XXXXXX)"
work="$(mktemp -d /tmp/tarnwick-wipe-work.XXXXXX)"
at_exit 'rm -rf "$work"; rmdir "$volume" 2>/dev/null'
if ! mount -t tmpfs -o size=256m,mode=0755 tarnwick-wipe "$volume" 2>"$work/mount.err"; then
    skip "mounting a tmpfs is not permitted here: $(cat "$work/mount.err")"
fi
# Wine may still hold the volume for a moment after the driver ends; a lazy
# unmount then detaches it as soon as it lets go.
at_exit 'umount "$volume" 2>/dev/null || umount -l "$volume"'
map_drive "$volume"

# What the wipe must leave alone: files with random and with known contents,
# an empty file, a nested folder and an empty folder.
mkdir -p "$volume/Documents/Archive" "$volume/Empty folder"
head -c 3000000 /dev/urandom >"$volume/Documents/Archive/photo.raw"
head -c 70000 /dev/urandom >"$volume/Documents/notes.bin"
printf 'quarterly figures\n' >"$volume/Documents/report.txt"
: >"$volume/empty.dat"
touch -d '2020-01-02 03:04:05' "$volume/Documents/report.txt" "$volume/Documents/Archive"

# Lists every entry but the root itself with its type, size, mode, times and
# checksum, so that any change to what was there shows as a difference.
snapshot() {
    (cd "$volume" &&
        find . -mindepth 1 -printf '%y %s %m %T@ %C@ %p\n' | sort &&
        find . -type f -exec sha256sum {} + | sort -k 2)
}
snapshot >"$work/before"
used_before="$(df -B1 --output=used "$volume" | tail -n 1)"

run_jobs_test RealFreeSpaceWipe.ZeroFillWithVerificationOnAMountedVolume "$work/driver.log" \
    TARNWICK_WIPE_FOLDER="$DRIVE:\\"

leftovers="$(find "$volume" -name '_wipe_*' -print)"
[ -z "$leftovers" ] || fail "wipe file left behind: $leftovers"
snapshot >"$work/after"
if ! diff -u "$work/before" "$work/after"; then
    fail "the wipe changed what was already on the volume"
fi
used_after="$(df -B1 --output=used "$volume" | tail -n 1)"
[ "$used_before" -eq "$used_after" ] || fail "volume use went from $used_before to $used_after bytes"

echo "PASS: wiped the free space of a 256 MiB volume on $DRIVE:, every byte written, nothing else changed"
