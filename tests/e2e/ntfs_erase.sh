#!/bin/bash
# Proof on a real NTFS volume, judged by its raw image (ntfs_scan.py): files
# written through ntfs-3g and erased by the real erase job with Random, DoD
# 3-pass and Gutmann, verification on, leave no byte of their contents or of
# a named stream and no original name that was not already in slack; files
# deleted at once leave none of theirs in file records after the real
# free-space wipe. Needs root and FUSE; skipped (77) without them.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"
SCAN="$TARNWICK_SOURCE_DIR/tests/e2e/ntfs_scan.py"
PATH="$PATH:/usr/sbin:/sbin"  # mkntfs, where a non-login shell does not look
export TARNWICK_NTFS_STREAM=TwkQuillMarkerStream  # the named stream that ntfs_scan.py writes
# Waits until the volume is mounted ($1 = mounted) or its daemon has ended
# ($1 = ended), woken by each change of the mount table and by the daemon's
# end; the deadline only turns a hang into a message. Returns 1 when the
# daemon ended before the volume was mounted.
await_volume() {
    python3 - "$1" "$WORK/mnt" "$DAEMON" <<'PY'
import os, select, sys
want, mount, table = sys.argv[1], sys.argv[2], open("/proc/self/mountinfo")
try:
    daemon = os.pidfd_open(int(sys.argv[3]))
except ProcessLookupError:  # ended, and reaped by the shell, already
    sys.exit(0 if want == "ended" else 1)
events = select.poll()
events.register(table, select.POLLPRI)
events.register(daemon, select.POLLIN)
ended = lambda: bool(select.select([daemon], [], [], 0)[0])
done = ended if want == "ended" else lambda: os.path.ismount(mount)
while not done() and not ended():
    if not events.poll(600000): sys.exit("waited ten minutes in vain for the volume to be " + want)
sys.exit(0 if done() else 1)
PY
}

# Mounts the image, runs the command that follows stage $1 on it, unmounts
# and judges the image at that stage. The ntfs-3g daemon stays in the
# foreground: only its end makes the image final. The unmount is lazy: the
# wineserver lets go of a program's files a moment after the program has
# ended, and the daemon writes the last of the image and ends once it has.
phase() {
    ntfs-3g -o streams_interface=windows,no_detach "$WORK/volume.img" "$WORK/mnt" >"$WORK/ntfs-3g.log" 2>&1 &
    DAEMON=$!
    if ! await_volume mounted; then
        # A container may offer /dev/fuse yet forbid the mount itself.
        grep -qiE "fuse|permission denied|not permitted" "$WORK/ntfs-3g.log" && skip "FUSE mounts are not permitted here: $(cat "$WORK/ntfs-3g.log")"
        fail "ntfs-3g did not mount: $(cat "$WORK/ntfs-3g.log")"
    fi
    "${@:2}" || fail "$2 failed"
    umount -l "$WORK/mnt" && await_volume ended || fail "the volume was not unmounted"
    wait "$DAEMON" || fail "ntfs-3g ended with status $?: $(cat "$WORK/ntfs-3g.log")"
    DAEMON=""
    python3 "$SCAN" scan "$WORK/volume.img" "$1" || fail "the image is not as it should be $1"
}

[ "$(id -u)" -eq 0 ] || skip "mounting an NTFS image needs root"
[ -w /dev/fuse ] || skip "FUSE is not available here (/dev/fuse)"
WORK="$(mktemp -d /tmp/tarnwick-ntfs.XXXXXX)" && mkdir "$WORK/mnt" || fail "cannot create a work folder"
at_exit 'rm -rf "$WORK"'
# Leaves no mount and no daemon behind, whatever happened.
at_exit '[ -z "${DAEMON:-}" ] || { umount -l "$WORK/mnt"; kill "$DAEMON"; wait "$DAEMON"; } 2>/dev/null'
map_drive n "$WORK/mnt"
truncate -s 256M "$WORK/volume.img" && mkntfs -F -q -Q -c 4096 -s 512 -p 0 -H 255 -S 63 "$WORK/volume.img" || fail "mkntfs failed"
phase before python3 "$SCAN" create "$WORK/mnt/TwkProof"
phase erased run_jobs_test RealNtfsErase.EveryMethodErasesTheFilesOfItsFolder 'TARNWICK_NTFS_FOLDER=N:\TwkProof'
phase wiped run_jobs_test RealFreeSpaceWipe.WipeFilesCoverTheFreeSpaceOfAMountedVolume 'TARNWICK_WIPE_FOLDER=N:\'
