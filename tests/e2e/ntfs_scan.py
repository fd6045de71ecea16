#!/usr/bin/env python3
# Writes the proof files of the NTFS erase check and scans a raw NTFS image
# for what is left of them.
#
# Every content is made of 16-byte cells: a 4-byte tag, the content's id, the
# cell's index and 8 bytes of a keyed hash of both, so a cell found anywhere, at
# any alignment, is known for what it is; from each one the surviving run is
# followed to both sides. Any surviving run of 31 bytes or more is counted.
#
# NTFS replaces the last two bytes of every sector of its FILE, INDX and log
# records with a sequence number kept in the record header. The scan undoes
# that on a copy and searches both the copy and the raw image.
#
# Usage:
#   ntfs_scan.py create FOLDER    write the files and the named stream
#   ntfs_scan.py names METHOD     print the file names erased by METHOD
#   ntfs_scan.py stream           print the named stream's name
#   ntfs_scan.py scan IMAGE before|after
#                                 exit 1 when the data did not reach the image
#                                 (before) or when any of it is left (after)

import bisect
import collections
import hashlib
import os
import struct
import sys

TAG = b"\x9dTw\xb7"
CELL = 16
# `resident` when small enough to live in its MFT record; `host` names the
# file that carries the named stream.
Content = collections.namedtuple("Content", "cid name size method resident host")
HOST = "TwkQuillRandomStreamHost.dat"
CONTENTS = [
    Content(1, "TwkQuillRandomResident.txt", 200, "random", True, None),
    Content(2, HOST, 10007, "random", False, None),
    Content(3, "TwkQuillDodResident.txt", 480, "dod3", True, None),
    Content(4, "TwkQuillDodOddSize.bin", 123457, "dod3", False, None),
    Content(5, "TwkQuillGutmannResident.txt", 90, "gutmann", True, None),
    Content(6, "TwkQuillGutmannLarge.bin", 4 * 1024 * 1024 + 1234, "gutmann", False, None),
    Content(7, "TwkQuillMarkerStream", 333, "random", True, HOST),
]
# Spare room of records and indexes that NTFS keeps for itself, and its
# journal: no file operation reaches them.
UNREACHABLE = ("mft-slack", "index-slack", "journal")


def label(content):
    return "%s:%s" % (content.host, content.name) if content.host else content.name


def content_bytes(content):
    """Returns the full original bytes of `content`."""
    cells = (TAG + bytes([content.cid]) + index.to_bytes(3, "little")
             + hashlib.blake2b(struct.pack("<BI", content.cid, index), key=b"tarnwick-ntfs-proof",
                               digest_size=8).digest()
             for index in range(-(-content.size // CELL)))
    return b"".join(cells)[:content.size]


def create(folder):
    """Writes every file and the named stream under `folder`; exits unless they read back."""
    os.makedirs(folder, exist_ok=True)
    for content in CONTENTS:
        with open(os.path.join(folder, label(content)), "wb") as handle:
            handle.write(content_bytes(content))
    for content in CONTENTS:
        with open(os.path.join(folder, label(content)), "rb") as handle:
            if handle.read() != content_bytes(content):
                sys.exit("FAIL: %s does not read back as written" % label(content))
    # Without streams_interface=windows "host:stream" is an ordinary file.
    if sorted(os.listdir(folder)) != sorted(c.name for c in CONTENTS if not c.host):
        sys.exit("FAIL: the folder holds %s" % sorted(os.listdir(folder)))


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def undo_fixups(raw):
    """Returns (copy of `raw` with every update sequence undone, records found
    as (start, magic, size)). A sector end not holding the sequence number is
    left as it is."""
    fixed = bytearray(raw)
    records = []
    for start in range(0, len(raw) - 511, 512):
        magic = raw[start:start + 4]
        if magic not in (b"FILE", b"INDX", b"RCRD", b"RSTR"):
            continue
        usa, count = u16(raw, start + 4), u16(raw, start + 6)
        size = (count - 1) * 512
        if not 2 <= count <= 129 or usa % 2 or usa + 2 * count > 512 or start + size > len(raw):
            continue
        for sector in range(1, count):
            end = start + sector * 512 - 2
            if raw[end:end + 2] == raw[start + usa:start + usa + 2]:
                fixed[end:end + 2] = raw[start + usa + 2 * sector:start + usa + 2 * sector + 2]
        records.append((start, magic, size))
    return bytes(fixed), records


def place_of(data, records, starts, position):
    """Returns the kind of place that holds `position` of the image `data`."""
    slot = bisect.bisect_right(starts, position) - 1
    if slot < 0 or position >= records[slot][0] + records[slot][2]:
        return "outside-records"
    start, magic, size = records[slot]
    offset = position - start
    if magic == b"INDX":
        return "index-slack" if offset >= 0x18 + u32(data, start + 0x1C) else "index-live"
    if magic != b"FILE":
        return "journal"
    used = min(u32(data, start + 0x18), size)
    if offset >= used:
        return "mft-slack"
    at = u16(data, start + 0x14)
    while 0 < at < used - 8:
        kind, length = struct.unpack_from("<II", data, start + at)
        if kind == 0xFFFFFFFF or length == 0:
            break
        # The entries of a resident directory index end before the attribute does.
        if at <= offset < at + length and kind == 0x90 and data[start + at + 8] == 0:
            value = at + u16(data, start + at + 0x14)
            return "index-slack" if offset >= value + 0x10 + u32(data, start + value + 0x14) else "mft-live"
        at += length
    return "mft-live"


def find_all(data, needle):
    """Returns every position of `needle` in `data`, overlapping ones included."""
    found, at = [], data.find(needle)
    while at != -1:
        found.append(at)
        at = data.find(needle, at + 1)
    return found


def surviving_bytes(images, content, place):
    """Returns (bytes of `content` found in `images`, whole cells per place)."""
    expected = content_bytes(content)
    covered, places, seen = bytearray(content.size), collections.Counter(), set()
    for data in images:
        for at in find_all(data, TAG + bytes([content.cid])):
            offset = int.from_bytes(data[at + 5:at + 8], "little") * CELL
            whole = expected[offset:offset + CELL]  # the last cell may be cut short
            if offset >= content.size or data[at:at + len(whole)] != whole:
                continue
            back, ahead = 0, len(whole)
            while back < CELL - 1 and back < min(offset, at) and data[at - back - 1] == expected[offset - back - 1]:
                back += 1
            while ahead < 2 * CELL - 1 and offset + ahead < content.size and at + ahead < len(data) \
                    and data[at + ahead] == expected[offset + ahead]:
                ahead += 1
            covered[offset - back:offset + ahead] = b"\x01" * (back + ahead)
            if at not in seen:
                seen.add(at)
                places[place(at)] += 1
    return content.size - covered.count(0), places


def scan(path, stage):
    """Prints what the image at `path` holds of every content; returns the problems at `stage`."""
    with open(path, "rb") as handle:
        raw = handle.read()
    fixed, records = undo_fixups(raw)
    starts = [record[0] for record in records]

    def place(position):
        return place_of(fixed, records, starts, position)

    problems = []
    for content in CONTENTS:
        found, cells = surviving_bytes((fixed, raw), content, place)
        # A place found in both the copy and the raw image counts once.
        hits = {(at, form) for form in ("utf-16-le", "ascii") for data in (fixed, raw)
                for at in find_all(data, content.name.encode(form))}
        names = collections.Counter(place(at) for at, _ in hits)
        print("  %-50s %7d of %7d bytes, cells %s, name %s" % (label(content), found, content.size,
                                                            dict(cells), dict(names)))
        # A stream keeps its name while it exists: nothing renames streams.
        reachable_name = not content.host and sum(n for p, n in names.items() if p not in UNREACHABLE)
        if stage == "before":
            if found != content.size:
                problems.append("only %d of %d bytes of %s reached the image" % (found, content.size, label(content)))
            if content.resident and not cells["mft-live"]:
                problems.append("%s is not stored inside its MFT record" % label(content))
            if not content.host and not reachable_name:
                problems.append("name %s is not in the MFT or an index" % content.name)
        else:
            if found:
                problems.append("%d bytes of %s survive" % (found, label(content)))
            if reachable_name:
                problems.append("name %s survives where the erase reaches it" % content.name)
    return problems


def main(argv):
    if len(argv) == 3 and argv[1] == "create":
        create(argv[2])
    elif len(argv) == 3 and argv[1] == "names":
        print("\n".join(c.name for c in CONTENTS if c.method == argv[2] and not c.host))
    elif len(argv) == 2 and argv[1] == "stream":
        print(CONTENTS[-1].name)
    elif len(argv) == 4 and argv[1] == "scan" and argv[3] in ("before", "after"):
        problems = scan(argv[2], argv[3])
        for problem in problems:
            print("FAIL: %s: %s" % (argv[3], problem))
        return 1 if problems else 0
    else:
        sys.stderr.write("usage: ntfs_scan.py create FOLDER | names METHOD | stream | scan IMAGE before|after\n")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
