#!/bin/bash
# Proof on a real NTFS volume, judged by the raw image: files erased by the
# real erase job (Random 1-pass, DoD 3-pass and Gutmann, verification on)
# leave no byte of their contents or of a named stream, and no original name
# that was not already in slack before; then files deleted with rm leave no
# byte after the real free-space wipe. The files are written through ntfs-3g:
# some small enough to live in their MFT record, one not ending on a cluster,
# some of a MiB or more, one with a named stream, nine with long names in one
# folder. The image is scanned before the erase (the data must be there),
# after it and after the wipe. Needs root and FUSE; skipped (77) without them.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"
PATH="$PATH:/usr/sbin:/sbin"
SCAN="$SOURCE/tests/e2e/ntfs_scan.py"
FOLDER=TwkProof
DAEMON=""
# Mounts and unmounts wait for their state, never longer than the test itself
# may run: the deadline only turns a hang into a message.
DEADLINE=$((SECONDS + 600))

# Mounts the image in the background, keeping the daemon's PID: umount
# returns while the daemon is still writing, and only its exit makes the image
# final. Returns 1 when the mount did not come up (see $WORK/ntfs-3g.log).
mount_volume() {
    ntfs-3g -o streams_interface=windows,no_detach "$WORK/volume.img" "$WORK/mnt" >"$WORK/ntfs-3g.log" 2>&1 &
    DAEMON=$!
    until mountpoint -q "$WORK/mnt"; do
        kill -0 "$DAEMON" 2>/dev/null && [ "$SECONDS" -lt "$DEADLINE" ] && sleep 0.1 && continue
        kill "$DAEMON" 2>/dev/null
        wait "$DAEMON" 2>/dev/null
        DAEMON=""
        return 1
    done
}

# Unmounts and waits for the daemon to finish writing. The wineserver lets go
# of the files of a Wine program a moment after the program has ended, so the
# volume may be busy for that moment: tried again until it is not.
unmount_volume() {
    until umount "$WORK/mnt" 2>"$WORK/umount.err"; do
        [ "$SECONDS" -lt "$DEADLINE" ] ||
            fail "the NTFS volume stays busy: $(cat "$WORK/umount.err"); held by: $(fuser -vm "$WORK/mnt" 2>&1)"
        sleep 0.1
    done
    wait "$DAEMON" && status=0 || status=$?
    DAEMON=""
    [ "$status" -eq 0 ] || fail "ntfs-3g ended with status $status: $(cat "$WORK/ntfs-3g.log")"
}

prepare_volume_test "mounting an NTFS image"
[ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || skip "FUSE is not available here (/dev/fuse)"
for tool in mkntfs ntfs-3g ntfsundelete python3 mountpoint; do command -v "$tool" >/dev/null || fail "$tool is missing (scripts/lib.sh installs it)"; done
STREAM=TwkQuillMarkerStream  # the named stream that ntfs_scan.py writes
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-ntfs.XXXXXX")" || fail "cannot create a work folder"
at_exit 'rm -rf "$WORK"'
# Leaves no mount and no daemon behind, whatever happened.
at_exit '[ -n "$DAEMON" ] && { umount "$WORK/mnt" 2>/dev/null || umount -l "$WORK/mnt"; kill "$DAEMON"; wait "$DAEMON"; } 2>/dev/null'
mkdir "$WORK/mnt"

truncate -s 200M "$WORK/volume.img" || fail "cannot create the image"
mkntfs -F -q -Q -c 4096 -L TARNWICK "$WORK/volume.img" >"$WORK/mkntfs.log" 2>&1 ||
    fail "mkntfs failed: $(cat "$WORK/mkntfs.log")"
if ! mount_volume; then
    grep -qiE "fuse|permission denied|not permitted" "$WORK/ntfs-3g.log" &&
        skip "FUSE mounts are not permitted here: $(cat "$WORK/ntfs-3g.log")"
    fail "ntfs-3g could not mount the image: $(cat "$WORK/ntfs-3g.log")"
fi
python3 "$SCAN" create "$WORK/mnt/$FOLDER" erase && python3 "$SCAN" create "$WORK/mnt/TwkGone" gone ||
    fail "cannot write the files"
unmount_volume
echo "--- image before the erase:"
python3 "$SCAN" scan "$WORK/volume.img" before || fail "the files did not reach the image"

mount_volume || fail "ntfs-3g could not mount the image again: $(cat "$WORK/ntfs-3g.log")"
rm "$WORK/mnt/TwkGone/"* || fail "cannot delete the files to be wiped"
map_drive "$WORK/mnt"
# Each method's files go through the real erase job (jobs_tests.exe, RealNtfsErase).
for method in random dod3 gutmann; do
    files="$(python3 "$SCAN" names $method | sed "s/^/$DRIVE:\\\\$FOLDER\\\\/" | paste -sd '|')"
    echo "--- $method: $files"
    run_jobs_test RealNtfsErase.EveryFileOfOneMethodIsErased "$WORK/$method.log" TARNWICK_NTFS_METHOD=$method \
        TARNWICK_NTFS_FILES="$files" TARNWICK_NTFS_STREAM="$STREAM"
done
grep -qF "Overwriting ADS :$STREAM (" "$WORK/random.log" || fail "the named stream :$STREAM was not overwritten"
[ -z "$(ls -A "$WORK/mnt/$FOLDER")" ] || fail "files left in the folder: $(ls -A "$WORK/mnt/$FOLDER")"
unmount_volume
echo "--- image after the erase:"
python3 "$SCAN" scan "$WORK/volume.img" erased || fail "the erase left data behind (see above)"
ntfsundelete -s "$WORK/volume.img" >"$WORK/undelete.out" 2>&1
grep -F -f <(for method in random dod3 gutmann; do python3 "$SCAN" names $method; done) "$WORK/undelete.out" &&
    fail "ntfsundelete recovers an erased file's name"

mount_volume || fail "ntfs-3g could not mount the image for the wipe: $(cat "$WORK/ntfs-3g.log")"
run_jobs_test RealFreeSpaceWipe.WipeFilesCoverTheFreeSpaceOfAMountedVolume "$WORK/wipe.log" TARNWICK_WIPE_FOLDER="$DRIVE:\\"
rm -f "$WINEPREFIX/dosdevices/${DRIVE,,}:"
unmount_volume
echo "--- image after the free-space wipe:"
python3 "$SCAN" scan "$WORK/volume.img" wiped || fail "the wipe left data of deleted files behind (see above)"
echo "PASS: no byte of any erased or wiped content or of the named stream, and no original name outside slack, is left on the NTFS volume"
