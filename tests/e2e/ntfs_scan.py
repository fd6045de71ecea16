#!/usr/bin/env python3
# Writes the proof files of the NTFS checks and scans a raw NTFS image for
# what is left of them.
# Every content is made of 16-byte cells: a 4-byte tag, the content's id, the
# cell's index and 8 bytes of a keyed hash of both, so a cell found anywhere, at
# any alignment, is known for what it is. What survives is counted in whole
# cells: any surviving run of 31 bytes or more holds one.
# NTFS replaces the last two bytes of every sector of its FILE, INDX and log
# records with a sequence number kept in the record header. The scan undoes
# that on a copy and searches both the copy and the raw image.
# Usage:
#   ntfs_scan.py create FOLDER SET   write the files of SET (erase or gone)
#   ntfs_scan.py names METHOD        print the file names erased by METHOD
#   ntfs_scan.py scan IMAGE STAGE    before: every byte and name is there (the
#       names found in slack are kept in IMAGE.slack); erased: nothing is left of
#       the erased files; wiped: nor of the deleted ones. After the erase every
#       erased file's name may only be where it already lay in slack before.

import collections, hashlib, json, os, re, struct, sys

TAG = b"\x9dTw\xb7"
CELL = 16
# `group`: the method that erases the file, or "gone" for a file deleted with
# rm before a free-space wipe; `resident` when small enough to live in its MFT
# record; `host` names the file that carries a named stream.
Content = collections.namedtuple("Content", "cid name size group resident host")
HOST = "TwkQuillRandomStreamHost.dat"
CONTENTS = [
    Content(1, "TwkQuillRandomResident.txt", 200, "random", True, None),
    Content(2, HOST, 10007, "random", False, None),
    Content(3, "TwkQuillDodResident.txt", 480, "dod3", True, None),
    Content(4, "TwkQuillDodOddSize.bin", 123457, "dod3", False, None),
    Content(5, "TwkQuillGutmannResident.txt", 90, "gutmann", True, None),
    Content(6, "TwkQuillGutmannLarge.bin", 4 * 1024 * 1024 + 1234, "gutmann", False, None),
    Content(7, "TwkQuillMarkerStream", 333, "random", True, HOST),  # ntfs_erase.sh names it too
    # Nine long names in one folder, whose index then lives in index blocks.
    Content(8, "TwkQuillRandomEmptyReport.docx", 0, "random", False, None),
    Content(9, "TwkQuillRandomHalfMegabyte.docx", 524288, "random", False, None),
    Content(10, "TwkQuillDodMegabyteMinutes.docx", 1048576, "dod3", False, None),
] + [Content(11 + i, "TwkGone%d.bin" % size, size, "gone", CELL <= size < 600, None)
     for i, size in enumerate((1, 300, 700, 5120, 1048576))]


# Returns the full original bytes of `content`.
def content_bytes(content):
    key = b"tarnwick-ntfs-proof"
    return b"".join(TAG + bytes([content.cid]) + i.to_bytes(3, "little") + hashlib.blake2b(
        struct.pack("<BI", content.cid, i), key=key, digest_size=8).digest()
        for i in range(-(-content.size // CELL)))[:content.size]


# Writes the files of `group` (erase: those of every method) under `folder`.
def create(folder, group):
    os.makedirs(folder, exist_ok=True)
    contents = [c for c in CONTENTS if (c.group == "gone") == (group == "gone")]
    for c in contents:
        with open(os.path.join(folder, "%s:%s" % (c.host, c.name) if c.host else c.name), "wb") as handle:
            handle.write(content_bytes(c))
    # Without streams_interface=windows "host:stream" is an ordinary file.
    if sorted(os.listdir(folder)) != sorted(c.name for c in contents if not c.host):
        sys.exit("FAIL: the folder holds %s" % sorted(os.listdir(folder)))


# Returns a copy of `raw` with every update sequence undone, and the records
# found as {start: (magic, end of the used part, end)}. A sector end that
# does not hold the sequence number is left as it is.
def undo_fixups(raw):
    fixed, records = bytearray(raw), {}
    for start in range(0, len(raw) - 511, 512):
        magic = raw[start:start + 4]
        usa, count = struct.unpack_from("<HH", raw, start + 4)
        end = start + (count - 1) * 512
        if magic not in (b"FILE", b"INDX", b"RCRD", b"RSTR") or not 2 <= count <= 129 or usa % 2 \
                or usa + 2 * count > 512 or end > len(raw):
            continue
        for sector in range(1, count):
            at = start + sector * 512 - 2
            if raw[at:at + 2] == raw[start + usa:start + usa + 2]:
                fixed[at:at + 2] = raw[start + usa + 2 * sector:start + usa + 2 * sector + 2]
        used = start + struct.unpack_from("<I", fixed, start + 0x18)[0] if magic == b"FILE" else \
            start + 0x18 + struct.unpack_from("<I", fixed, start + 0x1C)[0] if magic == b"INDX" else end
        records[start] = (magic.decode(), min(used, end), end)
    return bytes(fixed), records


# Returns where `position` lies: the magic of its record ("FILE", "INDX", a
# log record), with " slack" past the record's used part, or "outside".
def place(records, position):
    for start in range(position - position % 512, position - 4096, -512):
        if start in records and position < records[start][2]:
            return records[start][0] + (" slack" if position >= records[start][1] else "")
    return "outside"


# Returns every position of `needle` in `data`.
def find_all(data, needle):
    return [match.start() for match in re.finditer(re.escape(needle), data)]


# Returns the bytes of `content` found in `images`, and the places of its
# cells in the first.
def surviving(images, content, records):
    expected, cells, places = content_bytes(content), set(), collections.Counter()
    for data in images:
        for at in find_all(data, TAG + bytes([content.cid])):
            offset = int.from_bytes(data[at + 5:at + 8], "little") * CELL
            whole = expected[offset:offset + CELL]  # the last cell may be cut short
            if offset < content.size and data[at:at + len(whole)] == whole:
                cells.add(offset)
                places[place(records, at)] += data is images[0]
    return sum(len(expected[offset:offset + CELL]) for offset in cells), places


# Prints what the image at `path` holds of every content; returns the problems at `stage`.
def scan(path, stage):
    fixed, records = undo_fixups(raw := open(path, "rb").read())
    slack = json.load(open(path + ".slack")) if stage != "before" else {}
    problems = []
    for c in CONTENTS:
        found, cells = surviving((fixed, raw), c, records)
        names = {p: place(records, p) for p in find_all(fixed, c.name.encode("utf-16-le"))}
        print("  %-34s %7d of %7d bytes, cells %s, name %s" % (c.name, found, c.size, dict(+cells), dict(collections.Counter(names.values()))))
        if stage == "before":
            slack[c.name] = [p for p, where in names.items() if where.endswith("slack")]
            problems += ["only %d of %d bytes of %s are there" % (found, c.size, c.name)] * (found < c.size - c.size % CELL)
            problems += ["%s is not inside its MFT record" % c.name] * (c.resident and not cells["FILE"])
            problems += ["name %s is not in the MFT or an index" % c.name] * (len(slack[c.name]) == len(names))
        elif c.group != "gone" or stage == "wiped":
            # The wipe leaves 64 MiB free by design; what deleted files left in file records must go.
            left = sum(n for where, n in cells.items() if where.startswith("FILE")) if c.group == "gone" else found
            problems += ["%d %s of %s survive" % (left, "cells in file records" if c.group == "gone" else "bytes", c.name)] * (left > 0)
            # Nothing renames a stream, nor a file deleted with rm, and their
            # names stay in the folder's index, out of a file-level tool's reach.
            new = [p for p in names if p not in slack[c.name]]
            problems += ["name %s survives at %s" % (c.name, new)] * bool(new and not c.host and c.group != "gone")
    if stage == "before":
        json.dump(slack, open(path + ".slack", "w"))
    return problems


if __name__ == "__main__":
    command = sys.argv[1:2] + [len(sys.argv)]
    if command == ["create", 4]:
        create(sys.argv[2], sys.argv[3])
    elif command == ["names", 3]:
        print("\n".join(c.name for c in CONTENTS if c.group == sys.argv[2] and not c.host))
    elif command == ["scan", 4] and sys.argv[3] in ("before", "erased", "wiped"):
        failures = ["FAIL: %s: %s" % (sys.argv[3], problem) for problem in scan(sys.argv[2], sys.argv[3])]
        print("\n".join(failures))
        sys.exit(1 if failures else 0)
    else:
        sys.exit("usage: ntfs_scan.py create FOLDER SET | names METHOD | stream | scan IMAGE STAGE")
