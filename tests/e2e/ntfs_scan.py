#!/usr/bin/env python3
"""Writes the proof files of the NTFS erase check and scans a raw NTFS image
for what is left of them.

Every content is made of 16-byte cells: a 4-byte tag, the content's id, the
cell's index and 8 bytes of a keyed hash of both. A search for the tag finds
every cell that survives anywhere, at any alignment, and the hash tells a real
cell from a chance match; from each cell found the surviving run is followed
byte by byte to both sides. So any surviving run of 31 bytes or more (and any
whole cell) is found and counted to the byte.

NTFS protects FILE, INDX and log records with update sequences: the last two
bytes of every 512-byte sector are replaced on disk by a sequence number and
kept in the record header. The scan undoes them on a copy of the image and
searches both the copy and the raw image, so nothing that straddles a sector
end is missed.

Usage:
  ntfs_scan.py create FOLDER          write the files and the named stream
  ntfs_scan.py names METHOD           print the file names erased by METHOD
  ntfs_scan.py stream                 print the named stream's name
  ntfs_scan.py selftest               check that the scan undoes update sequences
  ntfs_scan.py scan IMAGE before STATE   prove the data reached the image; save figures
  ntfs_scan.py scan IMAGE after STATE    compare with the saved figures; exit 1 on a leak
"""

import bisect
import collections
import hashlib
import json
import os
import struct
import sys

TAG = b"\x9dTw\xb7"
CELL = 16
KEY = b"tarnwick-ntfs-proof"


class Content(collections.namedtuple("Content", "cid name size method resident stream_of")):
    """One original content: `resident` when small enough to live in its MFT
    record, `stream_of` the host file's name for the named stream."""

    def label(self):
        return "%s:%s" % (self.stream_of, self.name) if self.stream_of else self.name


STREAM_HOST = "TwkQuillRandomStreamHost.dat"
CONTENTS = [
    Content(1, "TwkQuillRandomResident.txt", 200, "random", True, None),
    Content(2, STREAM_HOST, 10007, "random", False, None),
    Content(3, "TwkQuillDodResident.txt", 480, "dod3", True, None),
    Content(4, "TwkQuillDodOddSize.bin", 123457, "dod3", False, None),
    Content(5, "TwkQuillGutmannResident.txt", 90, "gutmann", True, None),
    Content(6, "TwkQuillGutmannLarge.bin", 4 * 1024 * 1024 + 1234, "gutmann", False, None),
    Content(7, "TwkQuillMarkerStream", 333, "random", True, STREAM_HOST),
]
FILES = [c for c in CONTENTS if not c.stream_of]
STREAM = next(c for c in CONTENTS if c.stream_of)
BY_ID = {c.cid: c for c in CONTENTS}


def cell_check(cid, index):
    """Returns the 8 check bytes of cell `index` of content `cid`."""
    return hashlib.blake2b(struct.pack("<BI", cid, index), key=KEY, digest_size=8).digest()


def content_bytes(content):
    """Returns the full original bytes of `content`."""
    cells = (content.size + CELL - 1) // CELL
    parts = []
    for index in range(cells):
        parts.append(TAG + struct.pack("<B", content.cid) + index.to_bytes(3, "little")
                     + cell_check(content.cid, index))
    return b"".join(parts)[:content.size]


# ---------------------------------------------------------------- writing

def create(folder):
    """Writes every file and the named stream under `folder` and reads them back."""
    os.makedirs(folder, exist_ok=True)
    for content in CONTENTS:
        path = os.path.join(folder, content.label())
        with open(path, "wb") as handle:
            handle.write(content_bytes(content))
    for content in CONTENTS:
        path = os.path.join(folder, content.label())
        with open(path, "rb") as handle:
            if handle.read() != content_bytes(content):
                sys.exit("FAIL: %s does not read back as written" % path)
    listed = sorted(os.listdir(folder))
    expected = sorted(c.name for c in FILES)
    if listed != expected:
        # Without streams_interface=windows "host:stream" is an ordinary file.
        sys.exit("FAIL: folder holds %s, expected %s" % (listed, expected))


# ---------------------------------------------------------------- records

# One FILE, INDX or log record found in the image.
Record = collections.namedtuple("Record", "start magic size")


def read_u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def read_u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def undo_fixups(raw):
    """Returns (copy of `raw` with every update sequence undone, records found).
    A sector whose end does not hold the sequence number is left as it is."""
    fixed = bytearray(raw)
    records = []
    view = memoryview(raw)
    for start in range(0, len(raw) - 512 + 1, 512):
        magic = bytes(view[start:start + 4])
        if magic not in (b"FILE", b"INDX", b"RCRD", b"RSTR"):
            continue
        usa_offset = read_u16(raw, start + 4)
        usa_count = read_u16(raw, start + 6)
        sectors = usa_count - 1
        if usa_count < 2 or sectors > 128 or usa_offset % 2 or usa_offset + 2 * usa_count > 512:
            continue
        size = sectors * 512
        if start + size > len(raw):
            continue
        usn = bytes(view[start + usa_offset:start + usa_offset + 2])
        for sector in range(1, usa_count):
            end = start + sector * 512 - 2
            if bytes(view[end:end + 2]) == usn:
                saved = start + usa_offset + 2 * sector
                fixed[end:end + 2] = raw[saved:saved + 2]
        records.append(Record(start, magic, size))
    return bytes(fixed), records


def file_record_area(data, record, offset):
    """Returns where `offset` (relative to a FILE record) lies: 'mft-slack'
    past the used bytes, 'index-root-slack' past the entries of a resident
    directory index, else 'mft-live'."""
    in_use_bytes = read_u32(data, record.start + 0x18)
    if offset >= min(in_use_bytes, record.size):
        return "mft-slack"
    at = read_u16(data, record.start + 0x14)
    while 0 < at < in_use_bytes - 8:
        kind = read_u32(data, record.start + at)
        length = read_u32(data, record.start + at + 4)
        if kind == 0xFFFFFFFF or length == 0 or at + length > record.size:
            break
        if at <= offset < at + length:
            resident = data[record.start + at + 8] == 0
            if kind == 0x90 and resident:
                value = at + read_u16(data, record.start + at + 0x14)
                used_end = value + 0x10 + read_u32(data, record.start + value + 0x14)
                if offset >= used_end:
                    return "index-root-slack"
            return "mft-live"
        at += length
    return "mft-live"


def area_of(data, records, starts, position):
    """Returns the kind of place that holds `position` of the image."""
    slot = bisect.bisect_right(starts, position) - 1
    if slot < 0 or position >= records[slot].start + records[slot].size:
        return "outside-records"
    record = records[slot]
    offset = position - record.start
    if record.magic == b"FILE":
        area = file_record_area(data, record, offset)
        in_use = read_u16(data, record.start + 0x16) & 1
        return area if in_use or area != "mft-live" else "mft-live-deleted"
    if record.magic == b"INDX":
        used_end = 0x18 + read_u32(data, record.start + 0x1C)
        return "index-slack" if offset >= used_end else "index-live"
    return "journal"


# Places that the erase cannot reach through the file system: the spare room
# of records and indexes that NTFS keeps for itself, and its journal.
UNREACHABLE = {"mft-slack", "index-root-slack", "index-slack", "journal"}


# ---------------------------------------------------------------- searching

def find_all(data, needle):
    """Returns every position of `needle` in `data`, overlapping ones included."""
    found = []
    at = data.find(needle)
    while at != -1:
        found.append(at)
        at = data.find(needle, at + 1)
    return found


def mark_run(data, at, expected, offset, covered):
    """Marks in `covered` the bytes of `expected` that `data` holds around the
    whole cell at `at` (content offset `offset`), following the match to both
    sides byte by byte. Returns nothing."""
    length = len(expected)
    end = min(offset + CELL, length)
    covered[offset:end] = b"\x01" * (end - offset)
    back = 1
    while offset - back >= 0 and at - back >= 0 and data[at - back] == expected[offset - back] \
            and back < CELL:
        covered[offset - back] = 1
        back += 1
    ahead = end - offset
    while offset + ahead < length and at + ahead < len(data) and ahead < 2 * CELL \
            and data[at + ahead] == expected[offset + ahead]:
        covered[offset + ahead] = 1
        ahead += 1


def scan_contents(images, records, starts):
    """Returns, per content id, the surviving byte count and the places (area
    names with counts) where whole cells were found."""
    expected = {c.cid: content_bytes(c) for c in CONTENTS}
    covered = {c.cid: bytearray(c.size) for c in CONTENTS}
    places = {c.cid: {} for c in CONTENTS}
    seen = set()
    for data in images:
        for at in find_all(data, TAG):
            cell = data[at:at + CELL]
            if len(cell) < 8:
                continue
            cid = cell[4]
            index = int.from_bytes(cell[5:8], "little")
            content = BY_ID.get(cid)
            if content is None or index * CELL >= content.size:
                continue
            whole = expected[cid][index * CELL:index * CELL + CELL]
            # The last cell of a content may be cut short; it must match as far as it goes.
            if data[at:at + len(whole)] != whole:
                continue
            mark_run(data, at, expected[cid], index * CELL, covered[cid])
            if (cid, at) not in seen:
                seen.add((cid, at))
                area = area_of(images[0], records, starts, at)
                places[cid][area] = places[cid].get(area, 0) + 1
    return {cid: (len(covered[cid]) - covered[cid].count(0), places[cid]) for cid in covered}


def scan_names(images, records, starts):
    """Returns, per name, the count of its occurrences per place, both forms
    together; a position found in both images counts once."""
    names = [c.name for c in CONTENTS]
    result = {}
    for name in names:
        places = {}
        for form, needle in (("utf16", name.encode("utf-16-le")), ("ascii", name.encode("ascii"))):
            positions = set()
            for data in images:
                positions.update(find_all(data, needle))
            for position in positions:
                key = "%s/%s" % (area_of(images[0], records, starts, position), form)
                places[key] = places.get(key, 0) + 1
        result[name] = places
    return result


def scan_bytes(raw):
    """Returns the figures of one image: contents, names and records."""
    fixed, records = undo_fixups(raw)
    starts = [r.start for r in records]
    images = [fixed, raw]
    contents = scan_contents(images, records, starts)
    names = scan_names(images, records, starts)
    kinds = {}
    for record in records:
        kinds[record.magic.decode()] = kinds.get(record.magic.decode(), 0) + 1
    return {"contents": {str(cid): {"bytes": found, "places": places}
                         for cid, (found, places) in contents.items()},
            "names": names, "records": kinds}


def scan_image(path):
    """Returns the figures of the image file at `path`."""
    with open(path, "rb") as handle:
        return scan_bytes(handle.read())


def self_test():
    """Returns the problems found when scanning a made-up FILE record whose
    two sector ends cut through a content run and a name, with the update
    sequence applied as NTFS writes it: both must be found whole."""
    image = bytearray(4096)
    record = 1024
    run = content_bytes(BY_ID[1])[:64]
    name = CONTENTS[0].name.encode("utf-16-le")
    image[record:record + 4] = b"FILE"
    struct.pack_into("<HH", image, record + 4, 0x30, 3)     # update sequence at 0x30, 2 sectors
    struct.pack_into("<HHI", image, record + 0x14, 0x38, 1, 1024)  # attributes, in use, bytes used
    image[record + 510 - 20:record + 510 - 20 + len(run)] = run
    image[record + 1022 - 10:record + 1022 - 10 + len(name)] = name
    image[record + 0x30:record + 0x32] = b"\x07\x00"
    for sector in (1, 2):
        end = record + sector * 512 - 2
        image[record + 0x30 + 2 * sector:record + 0x32 + 2 * sector] = image[end:end + 2]
        image[end:end + 2] = b"\x07\x00"
    figures = scan_bytes(bytes(image))
    problems = []
    if figures["contents"]["1"]["bytes"] != len(run):
        problems.append("found %d of %d content bytes across a sector end"
                        % (figures["contents"]["1"]["bytes"], len(run)))
    if figures["names"][CONTENTS[0].name] != {"mft-live/utf16": 1}:
        problems.append("name across a sector end found as %s" % figures["names"][CONTENTS[0].name])
    return problems


# ---------------------------------------------------------------- verdicts

def describe(places):
    return ", ".join("%s %d" % (k, v) for k, v in sorted(places.items())) or "none"


def check_before(figures):
    """Returns the problems that show the data did not reach the image as planned."""
    problems = []
    for content in CONTENTS:
        entry = figures["contents"][str(content.cid)]
        if entry["bytes"] != content.size:
            problems.append("%s: only %d of %d bytes in the image"
                            % (content.label(), entry["bytes"], content.size))
        if content.resident and "mft-live" not in entry["places"]:
            problems.append("%s is not stored inside its MFT record (%s)"
                            % (content.label(), describe(entry["places"])))
    for content in FILES:
        live = sum(v for k, v in figures["names"][content.name].items() if k.startswith("index-")
                   or k.startswith("mft-live"))
        if live == 0:
            problems.append("name %s not found in the MFT or an index" % content.name)
    return problems


def count_in(places, unreachable):
    """Returns the occurrences in `places` that the erase cannot (or can) reach."""
    return sum(v for k, v in places.items() if (k.split("/")[0] in UNREACHABLE) == unreachable)


def report(before, after):
    """Prints the figures side by side; returns the list of leaks found after."""
    leaks = []
    print("Contents (bytes of the original found in the image):")
    for content in CONTENTS:
        b = before["contents"][str(content.cid)]
        a = after["contents"][str(content.cid)] if after else None
        line = "  %-52s %8d bytes  before %8d" % (content.label(), content.size, b["bytes"])
        if a is None:
            line += "  (cells: %s)" % describe(b["places"])
        else:
            line += "  after %8d  (cells: %s)" % (a["bytes"], describe(a["places"]))
            if a["bytes"]:
                leaks.append("%d bytes of %s survive (%s)"
                             % (a["bytes"], content.label(), describe(a["places"])))
        print(line)
    print("Names (occurrences, UTF-16LE and ASCII, by place):")
    for content in CONTENTS:
        b = before["names"][content.name]
        print("  %-32s before: %s" % (content.name, describe(b)))
        if after is None:
            continue
        a = after["names"][content.name]
        print("  %-32s after:  %s" % ("", describe(a)))
        # A stream keeps its name while it exists: nothing renames streams.
        if content.stream_of is None and count_in(a, False):
            leaks.append("name %s survives where the erase reaches it (%s)" % (content.name, describe(a)))
        new_slack = count_in(a, True) - count_in(b, True)
        if count_in(b, True):
            print("  %-32s note: %d in slack already before the erase" % ("", count_in(b, True)))
        if new_slack > 0:
            print("  %-32s note: %d more in slack after the erase" % ("", new_slack))
    return leaks


def main(argv):
    if len(argv) == 3 and argv[1] == "create":
        create(argv[2])
        return 0
    if len(argv) == 3 and argv[1] == "names":
        print("\n".join(c.name for c in FILES if c.method == argv[2]))
        return 0
    if len(argv) == 2 and argv[1] == "selftest":
        problems = self_test()
        for problem in problems:
            print("FAIL: scanner self-test: %s" % problem)
        return 1 if problems else 0
    if len(argv) == 2 and argv[1] == "stream":
        print(STREAM.name)
        return 0
    if len(argv) == 5 and argv[1] == "scan" and argv[3] in ("before", "after"):
        figures = scan_image(argv[2])
        print("Records with update sequences: %s" % describe(figures["records"]))
        if argv[3] == "before":
            with open(argv[4], "w") as handle:
                json.dump(figures, handle)
            report(figures, None)
            problems = check_before(figures)
            for problem in problems:
                print("FAIL: before the erase: %s" % problem)
            return 1 if problems else 0
        with open(argv[4]) as handle:
            before = json.load(handle)
        leaks = report(before, figures)
        for leak in leaks:
            print("FAIL: %s" % leak)
        return 1 if leaks else 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
