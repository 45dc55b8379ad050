#!/usr/bin/python3
"""Builds the corpus of hostile .xls files: every one must be refused with a
clear message (never a crash, a hang or unbounded memory). The base workbook
is written by xlwt; the damage is done here, with a fixed seed, so the corpus
is the same on every run. Run: /usr/bin/python3 make_corpus.py"""
import io
import os
import random
import shutil
import struct
import zipfile

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")
SECTOR = 512


def base_workbook():
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    ws.write(0, 0, "zorvat:AA:AA,BB,CC")
    ws.write(1, 2, "zorvat测试")
    date = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    for r in range(3, 300):
        ws.write(r, 0, r - 2)
        ws.write(r, 1, "text %d 中文" % r)
        ws.write(r, 2, 37834 + r, date)
    ws2 = wb.add_sheet("Second")
    ws2.write(0, 0, "other")
    buf = io.BytesIO()
    wb.save(buf)
    return buf.getvalue()


def header_fields(data):
    (num_fat, first_dir, _sig, _cutoff, first_minifat, num_minifat, first_difat,
     num_difat) = struct.unpack_from("<IIIIIIII", data, 0x2C)
    difat = struct.unpack_from("<109I", data, 0x4C)
    return num_fat, first_dir, first_difat, num_difat, difat


def sector_offset(n):
    return (n + 1) * SECTOR


def workbook_record_offsets(data):
    """Offsets in the file of the BIFF records of the Workbook stream,
    following the FAT chain (xlwt writes it as a regular stream)."""
    num_fat, first_dir, _, _, difat = header_fields(data)
    fat = []
    for s in difat[:num_fat]:
        fat.extend(struct.unpack_from("<128I", data, sector_offset(s)))
    # Directory entry 1 is the Workbook stream for xlwt's files.
    entry = sector_offset(first_dir) + 128
    start, size = struct.unpack_from("<II", data, entry + 0x74)
    chain, s = [], start
    while s < 0xFFFFFFFA and len(chain) < 10000:
        chain.append(s)
        s = fat[s]
    stream_to_file = lambda pos: sector_offset(chain[pos // SECTOR]) + pos % SECTOR
    pos, records = 0, []
    while pos + 4 <= size:
        rtype, rlen = struct.unpack_from("<HH", data, stream_to_file(pos))
        records.append((rtype, rlen, stream_to_file(pos)))
        pos += 4 + rlen
    return records, fat, entry


def put(name, data):
    with open(os.path.join(OUT, name + ".xls"), "wb") as f:
        f.write(data)


def main():
    rng = random.Random(20261209)
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    good = base_workbook()
    records, fat, wb_entry = workbook_record_offsets(good)
    num_fat, first_dir, first_difat, num_difat, difat = header_fields(good)

    put("empty", b"")
    put("magic-only", good[:8])

    # Truncated at every sector boundary and at a few odd places.
    for cut in range(SECTOR, len(good), SECTOR):
        put("truncated-%06d" % cut, good[:cut])
    for i in range(40):
        cut = rng.randrange(1, len(good))
        put("truncated-odd-%02d-%06d" % (i, cut), good[:cut])

    # Bit flips anywhere, and concentrated in the header and the directory.
    for i in range(200):
        data = bytearray(good)
        for _ in range(rng.randint(1, 12)):
            pos = rng.randrange(len(data))
            data[pos] ^= 1 << rng.randrange(8)
        put("bitflip-%03d" % i, bytes(data))
    for i in range(60):
        data = bytearray(good)
        region = SECTOR if i % 2 == 0 else sector_offset(first_dir)
        for _ in range(rng.randint(1, 4)):
            pos = (0 if i % 2 == 0 else region) + rng.randrange(SECTOR)
            data[pos] ^= 1 << rng.randrange(8)
        put("bitflip-%s-%03d" % ("header" if i % 2 == 0 else "directory", i), bytes(data))

    # Random bytes, bare and behind the OLE2 signature.
    for i in range(60):
        size = rng.choice([1, 7, 511, 512, 513, 4096, 20000])
        data = bytes(rng.randrange(256) for _ in range(size))
        put("random-%02d" % i, data)
        put("random-ole-%02d" % i, good[:512] + data)

    # A FAT chain that loops on itself, and one that loops across two sectors.
    for name, hops in (("fat-self-loop", 0), ("fat-two-loop", 1)):
        data = bytearray(good)
        wb_start = struct.unpack_from("<I", good, wb_entry + 0x74)[0]
        fat_sector = difat[0]
        target = wb_start + hops
        struct.pack_into("<I", data, sector_offset(fat_sector) + 4 * target, wb_start)
        put(name, bytes(data))
    # The directory chain looping.
    data = bytearray(good)
    struct.pack_into("<I", data, sector_offset(difat[0]) + 4 * first_dir, first_dir)
    put("directory-loop", bytes(data))
    # A DIFAT chain that points at itself, with a huge count.
    for count in (1, 2, 0xFFFF, 0x7FFFFFFF):
        data = bytearray(good)
        struct.pack_into("<III", data, 0x2C, num_fat + 109, first_dir, 0)
        struct.pack_into("<II", data, 0x44, 1, count)
        put("difat-loop-%d" % count, bytes(data))

    # Huge declared sizes and counts.
    for field, values in ((0x2C, (0x7FFFFFFF, 0xFFFFFFFF, 200000)),   # FAT sectors
                          (0x40, (0x7FFFFFFF, 0xFFFFFFFF)),           # mini-FAT sectors
                          (0x30, (0xFFFFFFF0, 0x7FFFFFFF))):          # first directory sector
        for v in values:
            data = bytearray(good)
            struct.pack_into("<I", data, field, v)
            put("header-%02x-%08x" % (field, v), bytes(data))
    for v in (0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, len(good) * 2, 1):
        data = bytearray(good)
        struct.pack_into("<I", data, wb_entry + 0x78, v)
        put("stream-size-%08x" % v, bytes(data))
    for shift in (7, 12, 13, 20, 31):
        data = bytearray(good)
        struct.pack_into("<H", data, 0x1E, shift)
        put("sector-shift-%d" % shift, bytes(data))

    sst = [r for r in records if r[0] == 0x00FC]
    for total, unique in ((2**31, 2**31), (2**32 - 1, 2**32 - 1), (2**31, 5), (5, 2**31), (10**6, 10**6)):
        data = bytearray(good)
        struct.pack_into("<II", data, sst[0][2] + 4, total, unique)
        put("sst-count-%d-%d" % (total, unique), bytes(data))
    # Strings longer than their record, and record lengths past the limit.
    data = bytearray(good)
    struct.pack_into("<H", data, sst[0][2] + 12, 0xFFFF)
    put("sst-string-too-long", bytes(data))
    labels = [r for r in records if r[0] in (0x00FD, 0x0204)]
    for i, (rtype, rlen, off) in enumerate(labels[:20]):
        data = bytearray(good)
        struct.pack_into("<H", data, off + 2, 0xFFFF if i % 2 else 8225)
        put("record-length-%02d" % i, bytes(data))

    # An encrypted workbook: the record after BOF becomes FILEPASS.
    for i, (rtype, rlen, off) in enumerate(records[1:4]):
        data = bytearray(good)
        struct.pack_into("<H", data, off, 0x002F)
        put("encrypted-%d" % i, bytes(data))

    # Older formats: a BIFF8 container whose BOF says BIFF2/3/4, and bare BIFF2-4 streams.
    for version, bof in (("biff2", 0x0009), ("biff3", 0x0209), ("biff4", 0x0409)):
        data = bytearray(good)
        struct.pack_into("<H", data, records[0][2], bof)
        put(version + "-in-container", bytes(data))
        bare = struct.pack("<HHHH", bof, 4, 0x0002, 0x0010)
        bare += struct.pack("<HHHHB", 0x0004, 9 + 4, 0, 0, 0) + b"\x04abcd"  # LABEL
        bare += struct.pack("<HH", 0x000A, 0)
        put(version + "-bare", bare)

    # An .xlsx (a zip) under an .xls name, and a text file.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr("[Content_Types].xml", "<Types/>")
        z.writestr("xl/workbook.xml", "<workbook/>")
    put("xlsx-renamed", buf.getvalue())
    put("csv-renamed", "zorvat:AA:AA,BB\n1,2\n".encode())

    count = len(os.listdir(OUT))
    assert count >= 500, count
    print("%d hostile files in %s" % (count, OUT))


if __name__ == "__main__":
    main()
