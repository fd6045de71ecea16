#!/usr/bin/env python3
# Writes the proof files of the NTFS checks and scans a raw NTFS image for
# what is left of them.
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
#   ntfs_scan.py create FOLDER SET   write the files of SET (erase or gone)
#   ntfs_scan.py names METHOD        print the file names erased by METHOD
#   ntfs_scan.py stream              print the named stream's name
#   ntfs_scan.py scan IMAGE STAGE    before: every byte and name is there (the
#       names found in slack are kept in IMAGE.slack); erased: nothing is left of
#       the erased files; wiped: nor of the deleted ones. After the erase every
#       erased file's name may only be where it already lay in slack before.

import collections, hashlib, json, os, struct, sys

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
    Content(7, "TwkQuillMarkerStream", 333, "random", True, HOST),
    # Nine long names in one folder, whose index then lives in index blocks.
    Content(8, "TwkQuillRandomEmptyReport.docx", 0, "random", False, None),
    Content(9, "TwkQuillRandomHalfMegabyte.docx", 524288, "random", False, None),
    Content(10, "TwkQuillDodMegabyteMinutes.docx", 1048576, "dod3", False, None),
] + [Content(11 + i, "TwkGone%d.bin" % size, size, "gone", CELL <= size < 600, None)
     for i, size in enumerate((1, 300, 700, 5120, 1048576))]


def content_bytes(content):
    """Returns the full original bytes of `content`."""
    cells = (TAG + bytes([content.cid]) + index.to_bytes(3, "little")
             + hashlib.blake2b(struct.pack("<BI", content.cid, index), key=b"tarnwick-ntfs-proof",
                               digest_size=8).digest()
             for index in range(-(-content.size // CELL)))
    return b"".join(cells)[:content.size]


def create(folder, group):
    """Writes the files of `group` (erase: every method's) under `folder`; exits unless they read back."""
    os.makedirs(folder, exist_ok=True)
    contents = [c for c in CONTENTS if (c.group == "gone") == (group == "gone")]
    for content in contents:
        path = os.path.join(folder, "%s:%s" % (content.host, content.name) if content.host else content.name)
        with open(path, "wb") as handle:
            handle.write(content_bytes(content))
        with open(path, "rb") as handle:
            if handle.read() != content_bytes(content):
                sys.exit("FAIL: %s does not read back as written" % path)
    # Without streams_interface=windows "host:stream" is an ordinary file.
    if sorted(os.listdir(folder)) != sorted(c.name for c in contents if not c.host):
        sys.exit("FAIL: the folder holds %s" % sorted(os.listdir(folder)))


def undo_fixups(raw):
    """Returns a copy of `raw` with every update sequence undone, and the
    records found as {start: (magic, used size, size)}."""
    fixed, records = bytearray(raw), {}
    for start in range(0, len(raw) - 511, 512):
        magic = raw[start:start + 4]
        if magic not in (b"FILE", b"INDX", b"RCRD", b"RSTR"):
            continue
        usa, count = struct.unpack_from("<HH", raw, start + 4)
        size = (count - 1) * 512
        if not 2 <= count <= 129 or usa % 2 or usa + 2 * count > 512 or start + size > len(raw):
            continue
        for sector in range(1, count):
            end = start + sector * 512 - 2
            if raw[end:end + 2] == raw[start + usa:start + usa + 2]:
                fixed[end:end + 2] = raw[start + usa + 2 * sector:start + usa + 2 * sector + 2]
        used = {b"FILE": lambda: struct.unpack_from("<I", fixed, start + 0x18)[0],
                b"INDX": lambda: 0x18 + struct.unpack_from("<I", fixed, start + 0x1C)[0]}.get(magic, lambda: size)()
        records[start] = (magic.decode(), min(used, size), size)
    return bytes(fixed), records


def place(records, position):
    """Returns where `position` lies: "FILE", "INDX" (with " slack" past the
    record's used part), a log record, or "outside" the records."""
    start = position - position % 512
    while start >= 0 and position - start < 4096:
        if start in records and position < start + records[start][2]:
            magic, used, _ = records[start]
            return magic + (" slack" if position >= start + used else "")
        start -= 512
    return "outside"


def find_all(data, needle):
    """Returns every position of `needle` in `data`, overlapping ones included."""
    found, at = [], data.find(needle)
    while at != -1:
        found.append(at)
        at = data.find(needle, at + 1)
    return found


def surviving_bytes(images, content, records):
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
                places[place(records, at)] += 1
    return content.size - covered.count(0), places


def scan(path, stage):
    """Prints what the image at `path` holds of every content; returns the problems at `stage`."""
    with open(path, "rb") as handle:
        raw = handle.read()
    fixed, records = undo_fixups(raw)
    slack = json.load(open(path + ".slack")) if stage != "before" else {}
    problems = []
    for content in CONTENTS:
        found, cells = surviving_bytes((fixed, raw), content, records)
        at = {p: place(records, p) for p in set(find_all(fixed, content.name.encode("utf-16-le")))}
        print("  %-34s %7d of %7d bytes, cells %s, name %s" % (content.name, found, content.size, dict(cells),
                                                            dict(collections.Counter(at.values()))))
        new_names = [p for p in at if p not in slack.get(content.name, [])]
        if stage == "before":
            slack[content.name] = [p for p, where in at.items() if where.endswith("slack")]
            if found != content.size and content.size >= CELL:
                problems.append("only %d of %d bytes of %s reached the image" % (found, content.size, content.name))
            if content.resident and not cells["FILE"]:
                problems.append("%s is not stored inside its MFT record" % content.name)
            if not content.host and len(slack[content.name]) == len(at):
                problems.append("name %s is not in the MFT or an index" % content.name)
        elif content.group != "gone" or stage == "wiped":
            problems += ["%d bytes of %s survive" % (found, content.name)] if found else []
            # A stream keeps its name while it exists: nothing renames streams;
            # nor does rm, and a folder's index is out of a wipe's reach.
            if new_names and not content.host and content.group != "gone":
                problems.append("name %s survives at %s" % (content.name, new_names))
    if stage == "before":
        json.dump(slack, open(path + ".slack", "w"))
    return problems


def main(argv):
    if len(argv) == 4 and argv[1] == "create":
        create(argv[2], argv[3])
    elif len(argv) == 3 and argv[1] == "names":
        print("\n".join(c.name for c in CONTENTS if c.group == argv[2] and not c.host))
    elif len(argv) == 2 and argv[1] == "stream":
        print(CONTENTS[6].name)
    elif len(argv) == 4 and argv[1] == "scan" and argv[3] in ("before", "erased", "wiped"):
        problems = scan(argv[2], argv[3])
        for problem in problems:
            print("FAIL: %s: %s" % (argv[3], problem))
        return 1 if problems else 0
    else:
        sys.stderr.write("usage: ntfs_scan.py create FOLDER SET | names METHOD | stream | scan IMAGE STAGE\n")
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
