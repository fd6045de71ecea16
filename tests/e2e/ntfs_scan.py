#!/usr/bin/env python3
# Writes the proof files of the NTFS check and judges a raw image of the
# volume by what is left of them.
# TARNWICK_NTFS_STREAM names the named stream that one of them has.
#   ntfs_scan.py create FOLDER      writes them and deletes the "gone" ones
#   ntfs_scan.py scan IMAGE STAGE   before: every content is there, the small
#       ones and those of deleted files in file records, and every name in use
#       (where each name already lies in slack is kept in IMAGE.names);
#       erased: nothing is left of the erased files or their names;
#       wiped: nothing of the deleted files is left in file records.
# Every content is made of 16-byte cells: a 4-byte tag, the content's id, the
# cell's index and 8 bytes of a keyed hash of both, so a cell found anywhere,
# at any alignment, is known for what it is; any surviving run of 31 bytes or
# more holds one.

import hashlib, json, os, re, struct, sys

TAG, CELL = b"\x9dTw\xb7", 16
# (path, size) by content id. The folder names the method that erases the
# file; "gone" files are deleted at once, and only the free-space wipe may
# remove what they leave. Those under 600 bytes are small enough to live in
# their MFT record.
CONTENTS = {
    1: ("random/TwkRandomResident.txt", 200),
    2: ("random/TwkRandomStreamHost.dat", 10007),
    3: ("random/TwkRandomStreamHost.dat:" + os.environ["TARNWICK_NTFS_STREAM"], 333),
    4: ("dod3/TwkDodResident.txt", 480),
    5: ("dod3/TwkDodOddSize.bin", 123457),
    6: ("gutmann/TwkGutmannResident.txt", 90),
    7: ("gutmann/TwkGutmannLarge.bin", 4 * 1024 * 1024 + 1234),
    8: ("gone/TwkGone300.bin", 300),
}


# Returns the full original bytes of content `cid`, `size` bytes long.
def content_bytes(cid, size):
    return b"".join(TAG + bytes([cid]) + i.to_bytes(3, "little") + hashlib.blake2b(struct.pack(
        "<BI", cid, i), key=b"tarnwick-ntfs-proof", digest_size=8).digest() for i in range(-(-size // CELL)))[:size]


# Writes every content under `folder` ("host:stream" is a named stream, as
# ntfs-3g is mounted with streams_interface=windows) and deletes the "gone"
# files as rm would.
def create(folder):
    for cid, (path, size) in CONTENTS.items():
        os.makedirs(os.path.join(folder, os.path.dirname(path)), exist_ok=True)
        with open(os.path.join(folder, path), "wb") as handle:
            handle.write(content_bytes(cid, size))
        if path.startswith("gone/"):
            os.remove(os.path.join(folder, path))


# Returns a copy of `raw` in which every FILE and INDX record has its update
# sequence undone (NTFS puts a sequence number in the last two bytes of each
# sector of a record and keeps those bytes in its header: a cell or a name
# across a sector end is whole only in the copy), and, for each sector of a
# record, the record's magic and the end of its used part.
def undo_fixups(raw):
    fixed, owners = bytearray(raw), {}
    for start in range(0, len(raw) - 511, 512):
        magic = raw[start:start + 4]
        usa, count = struct.unpack_from("<HH", raw, start + 4)
        if magic in (b"FILE", b"INDX") and 2 <= count <= 9 and usa + 2 * count <= 512:
            for sector in range(1, count):
                at, kept = start + sector * 512 - 2, start + usa + 2 * sector
                if raw[at:at + 2] == raw[start + usa:start + usa + 2]:
                    fixed[at:at + 2] = raw[kept:kept + 2]
            used = struct.unpack_from("<I", fixed, start + 0x18)[0] if magic == b"FILE" else \
                0x18 + struct.unpack_from("<I", fixed, start + 0x1C)[0]
            owners.update({sector: (magic.decode(), start + used) for sector in range(start, start + count * 512 - 512, 512)})
    return bytes(fixed), owners


# Returns where `position` lies: "FILE" or "INDX", with " slack" past the
# record's used part, or "" outside every record.
def place(owners, position):
    magic, used = owners.get(position - position % 512, ("", float("inf")))
    return magic + " slack" * (position >= used)


# Returns what is wrong with the image at `image` at `stage`.
def scan(image, stage):
    fixed, owners = undo_fixups(open(image, "rb").read())
    in_slack = {} if stage == "before" else json.load(open(image + ".names"))
    problems = []
    for cid, (path, size) in CONTENTS.items():
        folder, name = path.split("/")
        expected, cells = content_bytes(cid, size), {}  # the whole cells found: {position: offset in the content}
        for at in (m.start() for m in re.finditer(re.escape(TAG + bytes([cid])), fixed)):
            offset = int.from_bytes(fixed[at + 5:at + 8], "little") * CELL
            if offset < size and fixed.startswith(expected[offset:offset + CELL], at):
                cells[at] = offset
        found, places = len(set(cells.values())), [place(owners, at) for at in cells]
        problems += ["only %d of %d cells of %s are there" % (found, size // CELL, name)] * (stage == "before" and found < size // CELL)
        problems += ["%s is not inside a file record" % name] * (stage == "before" and size < 600 and "FILE" not in places)
        # The wipe leaves 64 MiB free by design: of deleted files only what lay in file records must go.
        left = [p for p in places if folder != "gone" or p.startswith("FILE")]
        problems += ["%d copies of cells of %s survive" % (len(left), name)] * bool(left and stage == ("wiped" if folder == "gone" else "erased"))
        # The erase renames files; a stream keeps its name, and rm leaves a
        # name in the folder's index, out of a file-level tool's reach.
        if folder == "gone" or ":" in name:
            continue
        names = {m.start(): place(owners, m.start()) for m in re.finditer(re.escape(name.encode("utf-16-le")), fixed)}
        in_slack.setdefault(name, [at for at, where in names.items() if where.endswith("slack")])
        problems += ["name %s is not in the MFT or an index" % name] * (stage == "before" and len(in_slack[name]) == len(names))
        left = sorted(set(names) - set(in_slack[name]))
        problems += ["name %s survives at %s" % (name, [(at, names[at]) for at in left])] * bool(left and stage == "erased")
    json.dump(in_slack, open(image + ".names", "w"))
    return problems


if __name__ == "__main__":
    if sys.argv[1] == "create":
        create(sys.argv[2])
    else:
        sys.exit("\n".join("FAIL: %s: %s" % (sys.argv[3], problem) for problem in scan(sys.argv[2], sys.argv[3])) or None)
