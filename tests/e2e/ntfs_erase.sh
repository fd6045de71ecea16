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
# Mounts and unmounts wait for their state; the deadline only turns a hang
# into a message.
DEADLINE=$((SECONDS + 600))

# Mounts the image, runs the command that follows stage $1 on it, unmounts
# and judges the image at that stage. The ntfs-3g daemon stays in the
# foreground: umount returns while it still writes, and only its exit makes
# the image final. The wineserver lets go of a program's files a moment after
# the program has ended: until then umount finds the volume busy.
phase() {
    ntfs-3g -o streams_interface=windows,no_detach "$WORK/volume.img" "$WORK/mnt" >"$WORK/ntfs-3g.log" 2>&1 &
    DAEMON=$!
    until mountpoint -q "$WORK/mnt"; do
        kill -0 "$DAEMON" 2>/dev/null && [ "$SECONDS" -lt "$DEADLINE" ] && sleep 0.1 && continue
        # A container may offer /dev/fuse yet forbid the mount itself.
        grep -qiE "fuse|permission denied|not permitted" "$WORK/ntfs-3g.log" && skip "FUSE mounts are not permitted here: $(cat "$WORK/ntfs-3g.log")"
        fail "ntfs-3g did not mount: $(cat "$WORK/ntfs-3g.log")"
    done
    "${@:2}" || fail "$2 failed"
    until umount "$WORK/mnt" 2>"$WORK/umount.err"; do
        [ "$SECONDS" -lt "$DEADLINE" ] || fail "the volume stays busy: $(cat "$WORK/umount.err")"
        sleep 0.1
    done
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
