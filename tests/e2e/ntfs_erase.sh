#!/bin/bash
# Proof on a real NTFS volume, judged by the raw image: files erased by the
# real erase job (Random 1-pass, DoD 3-pass and Gutmann, verification on)
# leave no byte of their contents, of a named stream, and no original name
# anywhere the erase can reach. The files are written through ntfs-3g, one
# small enough to live in its MFT record, one not ending on a cluster, one of
# several MiB and one with a named stream; the image is scanned before the
# erase (the data must be there) and after it. Names that NTFS keeps in the
# spare room of its records and indexes are reported, not failed: no file
# operation reaches them. Needs root and FUSE; skipped (77) without them.
source "$TARNWICK_SOURCE_DIR/tests/e2e/e2e_lib.bash"
PATH="$PATH:/usr/sbin:/sbin"
SCAN="$SOURCE/tests/e2e/ntfs_scan.py"
FOLDER=TwkProof
DAEMON=""

# Mounts the image in the background, keeping the daemon's PID: umount
# returns while the daemon is still writing, and only its exit makes the image
# final. Returns 1 when the mount did not come up (the daemon's words are in
# $WORK/ntfs-3g.log).
mount_volume() {
    ntfs-3g -o streams_interface=windows,no_detach "$WORK/volume.img" "$WORK/mnt" >"$WORK/ntfs-3g.log" 2>&1 &
    DAEMON=$!
    tries=0
    until mountpoint -q "$WORK/mnt"; do
        tries=$((tries + 1))
        if ! kill -0 "$DAEMON" 2>/dev/null || [ "$tries" -gt 200 ]; then
            kill "$DAEMON" 2>/dev/null
            wait "$DAEMON" 2>/dev/null
            DAEMON=""
            return 1
        fi
        sleep 0.1
    done
    return 0
}

# Unmounts and waits for the daemon to finish writing. Wine may hold the
# volume for a moment after its programs end: the first refusal waits for the
# prefix's wineserver (bounded, as a test run may keep it alive on purpose).
unmount_volume() {
    tries=0
    until umount "$WORK/mnt" 2>"$WORK/umount.err"; do
        tries=$((tries + 1))
        [ "$tries" -eq 1 ] && timeout 30 wineserver -w
        if [ "$tries" -ge 15 ]; then
            cat "$WORK/umount.err"
            command -v fuser >/dev/null && fuser -vm "$WORK/mnt"
            fail "the NTFS volume stays busy"
        fi
        sleep 1
    done
    status=0
    wait "$DAEMON" || status=$?
    DAEMON=""
    [ "$status" -eq 0 ] || fail "ntfs-3g ended with status $status: $(cat "$WORK/ntfs-3g.log")"
}

# Erases the files of one method with the real erase job (jobs_tests.exe,
# RealNtfsErase) and keeps its reports in $WORK/METHOD.log.
erase_with() {
    files=""
    for name in $(python3 "$SCAN" names "$1"); do
        files="$files${files:+|}$DRIVE:\\$FOLDER\\$name"
    done
    echo "--- $1: $files"
    run_jobs_test RealNtfsErase.EveryFileOfOneMethodIsErased "$WORK/$1.log" TARNWICK_NTFS_METHOD="$1" \
        TARNWICK_NTFS_FILES="$files" TARNWICK_NTFS_STREAM="$STREAM"
}

# Prints the named deleted entries that `tool` lists and fails when one
# carries an original file name and `strict` is set.
list_deleted() {
    tool="$1" strict="$2"
    shift 2
    "$@" >"$WORK/$tool.out" 2>&1
    echo "--- $tool (deleted entries with a name):"
    grep -vE '<none>|OrphanFile-|^-+$' "$WORK/$tool.out"
    found=0
    for name in $ALL_NAMES; do
        if grep -qF "$name" "$WORK/$tool.out"; then
            found=$((found + 1))
            echo "$tool lists original name $name"
        fi
    done
    echo "$tool: $found original file names listed"
    if [ "$found" -ne 0 ] && [ "$strict" = strict ]; then
        fail "$tool recovers original file names"
    fi
}

# --- what the run needs
require_root "mounting an NTFS image"
[ -c /dev/fuse ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] || skip "FUSE is not available here (/dev/fuse)"
for tool in mkntfs ntfs-3g fls ntfsundelete python3 wine wineserver mountpoint; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/lib.sh installs it)"
done
[ -f "$BUILD/jobs_tests.exe" ] || fail "jobs_tests.exe is not built in $BUILD"
python3 "$SCAN" selftest || fail "the image scanner misreads records"
prepare_wine_prefix "$BUILD" || fail "cannot prepare the Wine prefix"
STREAM="$(python3 "$SCAN" stream)"
ALL_NAMES="$(python3 "$SCAN" names random) $(python3 "$SCAN" names dod3) $(python3 "$SCAN" names gutmann)"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-ntfs.XXXXXX")" || fail "cannot create a work folder"
at_exit 'rm -rf "$WORK"'
# Leaves no mount and no daemon behind, whatever happened.
at_exit '[ -n "$DAEMON" ] && { umount "$WORK/mnt" 2>/dev/null || umount -l "$WORK/mnt"; kill "$DAEMON"; wait "$DAEMON"; } 2>/dev/null'
mkdir "$WORK/mnt"

# --- a fresh volume with the files on it
truncate -s 32M "$WORK/volume.img" || fail "cannot create the image"
mkntfs -F -q -Q -c 4096 -L TARNWICK "$WORK/volume.img" >"$WORK/mkntfs.log" 2>&1 ||
    fail "mkntfs failed: $(cat "$WORK/mkntfs.log")"
if ! mount_volume; then
    if grep -qiE "fuse|permission denied|not permitted" "$WORK/ntfs-3g.log"; then
        skip "FUSE mounts are not permitted here: $(cat "$WORK/ntfs-3g.log")"
    fi
    fail "ntfs-3g could not mount the image: $(cat "$WORK/ntfs-3g.log")"
fi
python3 "$SCAN" create "$WORK/mnt/$FOLDER" || fail "cannot write the files"
unmount_volume
echo "--- image before the erase:"
python3 "$SCAN" scan "$WORK/volume.img" before "$WORK/before.json" || fail "the files did not reach the image"

# --- the erase, through Wine on a drive letter
mount_volume || fail "ntfs-3g could not mount the image again: $(cat "$WORK/ntfs-3g.log")"
map_drive "$WORK/mnt"
erase_with random
erase_with dod3
erase_with gutmann
grep -hF "Overwriting ADS :$STREAM (" "$WORK/random.log" "$WORK/dod3.log" "$WORK/gutmann.log" >/dev/null ||
    fail "the named stream :$STREAM was not overwritten"
left="$(ls -A "$WORK/mnt/$FOLDER")"
[ -z "$left" ] || fail "files left in the folder: $left"
rm -f "$WINEPREFIX/dosdevices/${DRIVE,,}:"
unmount_volume

# --- what the raw image still holds
list_deleted fls report fls -r -d -p "$WORK/volume.img"
list_deleted ntfsundelete strict ntfsundelete -s "$WORK/volume.img"
echo "--- image after the erase:"
python3 "$SCAN" scan "$WORK/volume.img" after "$WORK/before.json" || fail "the erase left data behind (see above)"
echo "PASS: no byte of any content or of the named stream, and no original name where the erase reaches, is left on the NTFS volume"
