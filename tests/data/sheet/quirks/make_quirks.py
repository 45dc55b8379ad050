#!/usr/bin/python3
"""Workbooks as some real writers leave them, made from xlwt workbooks whose
records are then patched, each packed into a compound file written here.
Run: /usr/bin/python3 make_quirks.py (needs python3-xlwt and python3-xlrd).

unpadded.xls        the file ends where the workbook stream ends, inside its
                    last sector
chart_active.xls    the active tab is a chart sheet (its cached series values
                    are NUMBER records)
formula_biff4.xls   formula cells in the older record 0x0406: a number result
                    in A1, a text result (with its STRING record) in A2
format_flags.xls    a FORMAT record with an empty code whose spare flag bits
                    are set, and a LABEL cell (A2 "ok") with the same bits
biff5_bare.xls      the Excel 95 workbook stream of ../biff5.xls alone, without
                    its compound file
biff5_0580.xls      the same stream in a compound file, its BOF version 0x0580
not_a_number.xls    A4 a NUMBER whose value is a NaN, A5 an RK that is a NaN,
                    A6 a NUMBER that is infinite, A7 a formula whose cached
                    result is a NaN; A1 a header, B4..B7 text
"""
import os
import struct

import xlrd.compdoc
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
SECTOR = 512
END, FREE, FATSECT, NOSTREAM = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFF


def compound_file(stream, name="Workbook", pad_last_sector=True):
    """A version 3 compound file: FAT sectors, one directory sector, then the
    stream. Streams shorter than the mini stream cutoff are padded to it."""
    if len(stream) < 4096:
        stream += b"\0" * (4096 - len(stream))
    n_stream = (len(stream) + SECTOR - 1) // SECTOR
    n_fat = 1
    while n_fat * 128 < n_fat + 1 + n_stream:
        n_fat += 1
    assert n_fat <= 109
    fat = [FATSECT] * n_fat + [END]
    first = n_fat + 1
    fat += [first + i + 1 for i in range(n_stream - 1)] + [END]
    fat += [FREE] * (n_fat * 128 - len(fat))
    header = b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + b"\0" * 16
    header += struct.pack("<HHHHH6sIIIIIIIII", 0x3E, 3, 0xFFFE, 9, 6, b"\0" * 6, 0, n_fat,
                          n_fat, 0, 4096, END, 0, END, 0)
    header += b"".join(struct.pack("<I", i) for i in range(n_fat))
    header += struct.pack("<I", FREE) * (109 - n_fat)
    assert len(header) == 512

    def entry(text, kind, child, start, size):
        raw = text.encode("utf-16-le") + b"\0\0"
        return (raw.ljust(64, b"\0") + struct.pack("<HBB", len(raw), kind, 1) +
                struct.pack("<III", NOSTREAM, NOSTREAM, child) + b"\0" * 36 +
                struct.pack("<III", start, size, 0))

    directory = entry("Root Entry", 5, 1, END, 0) + entry(name, 2, NOSTREAM, first, len(stream))
    directory += (b"\0" * 64 + struct.pack("<HBB", 0, 0, 0) +
                  struct.pack("<III", NOSTREAM, NOSTREAM, NOSTREAM) + b"\0" * 48) * 2
    body = b"".join(struct.pack("<I", f) for f in fat) + directory + stream
    if pad_last_sector:
        body += b"\0" * (-len(body) % SECTOR)
    return header + body


def records(stream):
    out, at = [], 0
    while at + 4 <= len(stream):
        rid, size = struct.unpack_from("<HH", stream, at)
        out.append([rid, bytearray(stream[at + 4:at + 4 + size])])
        at += 4 + size
    return out


def pack(recs):
    """The records as a stream, each BOUNDSHEET pointing at its sheet's BOF
    (the BOFs after the globals, in order)."""
    def dump():
        out, bofs = b"", []
        for rid, data in recs:
            if rid == 0x0809:
                bofs.append(len(out))
            out += struct.pack("<HH", rid, len(data)) + bytes(data)
        return out, bofs
    _, bofs = dump()
    sheets = [data for rid, data in recs if rid == 0x0085]
    for data, at in zip(sheets, bofs[1:]):
        data[0:4] = struct.pack("<I", at)
    return dump()[0]


def xlwt_records(build):
    wb = xlwt.Workbook(encoding="utf-8")
    build(wb)
    return records(wb.get_biff_data())


def sheet_range(recs, n):
    """The indexes of sheet n's BOF and EOF records."""
    bofs = [i for i, (rid, _) in enumerate(recs) if rid == 0x0809]
    begin = bofs[n + 1]
    end = next(i for i in range(begin, len(recs)) if recs[i][0] == 0x000A)
    return begin, end


def save(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def unpadded():
    def build(wb):
        ws = wb.add_sheet("Data")
        for r in range(200):
            ws.write(r, 0, "row %d" % (r + 1))
            ws.write(r, 1, r + 1)
    stream = pack(xlwt_records(build))
    stream += b"\0" * (-len(stream) % SECTOR + 100)  # ends 100 bytes into a sector
    data = compound_file(stream, pad_last_sector=False)
    assert len(data) % SECTOR == 100
    save("unpadded.xls", data)


def chart_active():
    def build(wb):
        wb.add_sheet("Data").write(0, 0, "data")
        wb.add_sheet("Chart1").write(0, 0, "replaced")
    recs = xlwt_records(build)
    begin, end = sheet_range(recs, 1)
    bof = bytearray(recs[begin][1])
    bof[2:4] = struct.pack("<H", 0x0020)  # a chart substream
    chart = [[0x0809, bof], [0x1002, bytearray(16)]]  # CHART
    for i, v in enumerate([10.0, 20.0, 30.0]):  # the series' cached values
        chart.append([0x0203, bytearray(struct.pack("<HHHd", 0, i, 0, v))])
    chart.append([0x000A, bytearray()])
    recs[begin:end + 1] = chart
    sheets = [data for rid, data in recs if rid == 0x0085]
    sheets[1][5] = 2  # BOUNDSHEET: a chart
    window1 = next(data for rid, data in recs if rid == 0x003D)
    window1[10:12] = struct.pack("<H", 1)
    save("chart_active.xls", compound_file(pack(recs)))


def formula_biff4():
    def build(wb):
        ws = wb.add_sheet("Data")
        ws.write(0, 0, xlwt.Formula("1+2"))
        ws.write(1, 0, xlwt.Formula('"a"&"b"'))
        ws.write(2, 0, "after")
    recs = xlwt_records(build)
    out = []
    for rid, data in recs:
        if rid == 0x0006:
            row = struct.unpack_from("<H", data)[0]
            # row, column, XF, result, flags, then (without BIFF8's 4 spare
            # bytes) the formula's length and tokens.
            if row == 0:
                result = struct.pack("<d", 42.5)
            else:
                result = b"\0\0\0\0\0\0\xff\xff"
            data = data[0:6] + result + data[14:16] + data[20:]
            out.append([0x0406, bytearray(data)])
            if row == 1:
                out.append([0x0207, bytearray(struct.pack("<HB", 7, 0) + b"cached!")])
        else:
            out.append([rid, data])
    save("formula_biff4.xls", compound_file(pack(out)))


def format_flags():
    def build(wb):
        ws = wb.add_sheet("Data")
        ws.write(0, 0, 1.5, xlwt.easyxf(num_format_str="0.000"))
    recs = xlwt_records(build)
    at = max(i for i, (rid, _) in enumerate(recs) if rid == 0x041E) + 1
    recs.insert(at, [0x041E, bytearray(struct.pack("<HHB", 0xA4, 0, 0x0C))])
    begin, end = sheet_range(recs, 0)
    label = struct.pack("<HHHHB", 1, 0, 0x0F, 2, 0x0C) + b"ok"
    recs.insert(end, [0x0204, bytearray(label)])
    save("format_flags.xls", compound_file(pack(recs)))


def biff5():
    with open(os.path.join(HERE, "..", "biff5.xls"), "rb") as f:
        doc = xlrd.compdoc.CompDoc(f.read(), logfile=open(os.devnull, "w"))
    stream = bytes(doc.get_named_stream("Book"))
    assert struct.unpack_from("<HHH", stream) == (0x0809, 8, 0x0500)
    save("biff5_bare.xls", stream)
    patched = bytearray(stream)
    patched[4:6] = struct.pack("<H", 0x0580)
    save("biff5_0580.xls", compound_file(bytes(patched), name="Book"))


def not_a_number():
    def build(wb):
        ws = wb.add_sheet("Data")
        ws.write(0, 0, "zorvat::A,B")
        for r in range(3, 7):
            if r < 6:
                ws.write(r, 0, 1 / 3 if r != 4 else 7)  # a NUMBER, but an RK in A5
            ws.write(r, 1, "text %d" % (r + 1))
        ws.write(6, 0, xlwt.Formula("1/3"))
    recs = xlwt_records(build)
    nan = struct.pack("<Q", 0x7FF8000000000000)
    inf = struct.pack("<d", float("inf"))
    for rid, data in recs:
        row = struct.unpack_from("<H", data)[0] if len(data) >= 2 else -1
        if rid == 0x0203 and row == 3:
            data[6:14] = nan
        elif rid == 0x027E and row == 4:
            data[6:10] = struct.pack("<I", 0x7FF80000)
        elif rid == 0x0203 and row == 5:
            data[6:14] = inf
        elif rid == 0x0006 and row == 6:
            data[6:14] = nan
    kinds = [(rid, struct.unpack_from("<H", d)[0]) for rid, d in recs if rid in (0x0203, 0x027E, 0x0006)]
    assert (0x0203, 3) in kinds and (0x027E, 4) in kinds and (0x0203, 5) in kinds and (0x0006, 6) in kinds, kinds
    save("not_a_number.xls", compound_file(pack(recs)))


def main():
    unpadded()
    chart_active()
    formula_biff4()
    format_flags()
    biff5()
    not_a_number()


if __name__ == "__main__":
    main()
