#!/usr/bin/python3
"""The hostile .xlsx corpus: damaged, oversized, malicious and odd packages,
built from a small hand-written workbook. Each file's name says its kind; the
tests read every one and expect a reason (or the cells) with no crash, no
hang and bounded memory. Run: /usr/bin/python3 make_corpus.py
(writes corpus/, replacing what is there; the output is the same every run).
"""
import io
import os
import random
import shutil
import struct
import zlib
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")

NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
NS_R = 'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"'
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
PKG_REL = "http://schemas.openxmlformats.org/package/2006/relationships"
MAIN_CT = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"
DECL = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def content_types(main=MAIN_CT, extra=""):
    return (DECL + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" ContentType="%s"/>%s</Types>' % (main, extra))


def root_rels(rel=REL):
    return (DECL + '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%sofficeDocument" '
            'Target="xl/workbook.xml"/></Relationships>' % (PKG_REL, rel))


def workbook(sheets=("Data",), active=0, extra="", ns=NS):
    s = "".join('<sheet name="%s" sheetId="%d" r:id="rId%d"/>' % (n, i + 1, i + 1) for i, n in enumerate(sheets))
    return (DECL + '<workbook %s %s><workbookPr%s/><bookViews><workbookView activeTab="%d"/></bookViews>'
            '<sheets>%s</sheets></workbook>' % (ns, NS_R, extra, active, s))


def workbook_rels(n=1, kinds=None, rel=REL):
    kinds = kinds or ["worksheet"] * n
    items = ['<Relationship Id="rId%d" Type="%s%s" Target="worksheets/sheet%d.xml"/>' % (i + 1, rel, k, i + 1)
             for i, k in enumerate(kinds)]
    items.append('<Relationship Id="rId90" Type="%ssharedStrings" Target="sharedStrings.xml"/>' % rel)
    items.append('<Relationship Id="rId91" Type="%sstyles" Target="styles.xml"/>' % rel)
    return DECL + '<Relationships xmlns="%s">%s</Relationships>' % (PKG_REL, "".join(items))


STYLES = (DECL + '<styleSheet %s><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>'
          '<cellXfs count="3"><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/></cellXfs></styleSheet>' % NS)


def shared(strings):
    return DECL + '<sst %s count="%d" uniqueCount="%d">%s</sst>' % (
        NS, len(strings), len(strings), "".join("<si><t>%s</t></si>" % s for s in strings))


SHARED = shared(["text", "中文", "more"])


def sheet(rows_xml, dimension=True):
    dim = '<dimension ref="A1:C3"/>' if dimension else ""
    return DECL + '<worksheet %s %s>%s<sheetData>%s</sheetData></worksheet>' % (NS, NS_R, dim, rows_xml)


SHEET_ROWS = ('<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1"><v>1.5</v></c><c r="C1" s="1"><v>37834</v></c></row>'
              '<row r="2"><c r="A2" t="s"><v>1</v></c><c r="B2" t="b"><v>1</v></c><c r="C2" t="e"><v>#N/A</v></c></row>'
              '<row r="3"><c r="A3" t="inlineStr"><is><t>inline</t></is></c><c r="B3" t="str"><f>A1</f><v>text</v></c></row>')


def parts(**over):
    p = {
        "[Content_Types].xml": content_types(),
        "_rels/.rels": root_rels(),
        "xl/workbook.xml": workbook(),
        "xl/_rels/workbook.xml.rels": workbook_rels(),
        "xl/styles.xml": STYLES,
        "xl/sharedStrings.xml": SHARED,
        "xl/worksheets/sheet1.xml": sheet(SHEET_ROWS),
    }
    for k, v in over.items():
        name = {"ct": "[Content_Types].xml", "rootrels": "_rels/.rels", "wb": "xl/workbook.xml",
                "wbrels": "xl/_rels/workbook.xml.rels", "styles": "xl/styles.xml", "sst": "xl/sharedStrings.xml",
                "sheet": "xl/worksheets/sheet1.xml"}.get(k, k)
        if v is None:
            p.pop(name, None)
        else:
            p[name] = v
    return p


def package(p, method=zipfile.ZIP_DEFLATED):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", method) as z:
        for name, data in p.items():
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = method
            z.writestr(info, data.encode("utf-8") if isinstance(data, str) else data)
    return buf.getvalue()


count = 0


def put(name, data):
    global count
    with open(os.path.join(OUT, name + ".xlsx"), "wb") as f:
        f.write(data)
    count += 1


def patch_entries(data, fn):
    """Calls fn(bytearray, offset, is_central) for every local and central header."""
    b = bytearray(data)
    i = 0
    while True:
        i = b.find(b"PK\x03\x04", i)
        if i < 0:
            break
        fn(b, i, False)
        i += 4
    i = 0
    while True:
        i = b.find(b"PK\x01\x02", i)
        if i < 0:
            break
        fn(b, i, True)
        i += 4
    return bytes(b)


def entry_name(b, off, central):
    n = struct.unpack_from("<H", b, off + (28 if central else 26))[0]
    start = off + (46 if central else 30)
    return bytes(b[start:start + n]).decode("utf-8", "replace")


def set_field(b, off, central, local_off, central_off, fmt, value):
    struct.pack_into(fmt, b, off + (central_off if central else local_off), value)


def ole2(streams):
    """A minimal OLE2 compound file holding the named streams (each padded to 4096 bytes)."""
    sector = 512
    end, free, fatsect = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD
    datas = [(n, d.ljust(4096, b"\0")) for n, d in streams]
    fat = [fatsect, end]
    starts = []
    for _, d in datas:
        n = len(d) // sector
        first = len(fat)
        starts.append(first)
        fat += [first + k + 1 for k in range(n - 1)] + [end]
    fat += [free] * (128 - len(fat))
    header = bytearray(512)
    header[0:8] = b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"
    struct.pack_into("<HHHHH", header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 40, 0, 1, 1, 0, 4096, end, 0, end, 0)
    struct.pack_into("<I", header, 76, 0)
    for k in range(1, 109):
        struct.pack_into("<I", header, 76 + 4 * k, free)

    def entry(name, kind, left, right, child, start, size):
        e = bytearray(128)
        raw = (name + "\0").encode("utf-16-le")
        e[0:len(raw)] = raw
        struct.pack_into("<HBB", e, 64, len(raw), kind, 1)
        struct.pack_into("<III", e, 68, left, right, child)
        struct.pack_into("<II", e, 116, start, size)
        return e
    nostream = 0xFFFFFFFF
    dirs = entry("Root Entry", 5, nostream, nostream, 1, end, 0)
    for i, ((name, d), start) in enumerate(zip(datas, starts)):
        right = i + 2 if i + 1 < len(datas) else nostream
        dirs += entry(name, 2, nostream, right, nostream, start, len(d))
    dirs = dirs.ljust(512, b"\0")
    out = bytes(header) + struct.pack("<128I", *fat) + bytes(dirs)
    for _, d in datas:
        out += d
    return out


def main():
    random.seed(20261209)
    shutil.rmtree(OUT, ignore_errors=True)
    os.makedirs(OUT)
    good = package(parts())
    put("seed-good", good)
    put("seed-stored", package(parts(), zipfile.ZIP_STORED))

    # Damaged containers: truncated, bit flips, garbled bytes.
    for i, cut in enumerate(sorted(random.sample(range(1, len(good)), 130))):
        put("truncated-%03d" % i, good[:cut])
    for i in range(150):
        b = bytearray(good)
        for _ in range(1 + i % 4):
            b[random.randrange(len(b))] ^= 1 << random.randrange(8)
        put("bitflip-%03d" % i, bytes(b))
    stored = package(parts(), zipfile.ZIP_STORED)
    for i in range(80):
        b = bytearray(stored)
        at = random.randrange(len(b) - 8)
        for k in range(random.randrange(1, 8)):
            b[at + k] = random.randrange(256)
        put("garbled-stored-%03d" % i, bytes(b))
    put("empty", b"")
    put("not-zip-text", b"name,value\n1,2\n")
    put("zip-empty", package({}))
    put("only-eocd", b"PK\x05\x06" + b"\0" * 18)

    # Zip bombs and oversized parts.
    bomb = b"<c><v>0</v></c>" * (60 * 1024 * 1024 // 15)
    body = DECL.encode() + b'<worksheet ' + NS.encode() + b'><sheetData><row r="1">' + bomb + b"</row></sheetData></worksheet>"
    put("bomb-ratio-sheet", package(parts(sheet=body)))
    put("bomb-ratio-strings", package(parts(sst=DECL.encode() + b"<sst " + NS.encode() + b"><si><t>" +
                                            b"x" * (40 * 1024 * 1024) + b"</t></si></sst>")))

    def lie_size(value, which):
        def fn(b, off, central):
            if entry_name(b, off, central) == which:
                set_field(b, off, central, 22, 24, "<I", value)
        return fn
    put("bigpart-declared-1gib-sheet", patch_entries(good, lie_size(1 << 30, "xl/worksheets/sheet1.xml")))
    put("bigpart-declared-4gib-strings", patch_entries(good, lie_size(0xFFFFFFF0, "xl/sharedStrings.xml")))
    put("bigpart-declared-small-sheet", patch_entries(good, lie_size(10, "xl/worksheets/sheet1.xml")))
    put("bigpart-declared-1gib-styles", patch_entries(good, lie_size(1 << 30, "xl/styles.xml")))

    def set_flag(bit):
        def fn(b, off, central):
            o = off + (8 if central else 6)
            struct.pack_into("<H", b, o, struct.unpack_from("<H", b, o)[0] | bit)
        return fn
    put("zip-encrypted-entries", patch_entries(good, set_flag(1)))

    def set_method(m):
        def fn(b, off, central):
            set_field(b, off, central, 8, 10, "<H", m)
        return fn
    for m in (1, 6, 9, 12, 14, 95, 99):
        put("zip-method-%d" % m, patch_entries(good, set_method(m)))
    bad_crc = patch_entries(good, lambda b, off, central: set_field(b, off, central, 14, 16, "<I", 0x12345678))
    put("zip-bad-crc", bad_crc)

    # Encrypted workbooks (an OLE2 file holding the encrypted package), and an .xls.
    put("encrypted-ole2", ole2([("EncryptionInfo", b"\x04\x00\x04\x00\x40\x00\x00\x00" + b"\0" * 100),
                                ("EncryptedPackage", b"\x10\x00\x00\x00\x00\x00\x00\x00" + os.urandom(0) + b"\x5a" * 200)]))
    put("ole2-no-encryption", ole2([("Workbook", b"\x09\x08\x10\x00")]))

    # Other documents in a zip.
    put("strict-namespace", package(parts(wb=workbook(ns='xmlns="http://purl.oclc.org/ooxml/spreadsheetml/main"'))))
    put("strict-conformance", package(parts(wb=workbook().replace("<workbook ", '<workbook conformance="strict" '))))
    put("strict-relationships", package(parts(ct=content_types(main="application/xml"),
                                              rootrels=root_rels("http://purl.oclc.org/ooxml/officeDocument/relationships/"))))
    put("xlsb", package(parts(ct=content_types(main="application/vnd.ms-excel.sheet.binary.macroEnabled.main"))))
    put("docx", package({"[Content_Types].xml": content_types(
        main="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml")}))
    put("ods", package({"mimetype": "application/vnd.oasis.opendocument.spreadsheet", "content.xml": "<x/>"}))
    put("no-content-types", package(parts(ct=None)))
    put("no-workbook", package(parts(wb=None)))
    put("no-workbook-rels", package(parts(wbrels=None)))
    put("no-sheet-part", package(parts(sheet=None)))
    put("no-sheets", package(parts(wb=workbook(sheets=()))))
    put("chartsheet-active", package(parts(wbrels=workbook_rels(kinds=["chartsheet"]))))
    put("activetab-past-end", package(parts(wb=workbook(active=7))))
    put("rel-target-escapes", package(parts(wbrels=workbook_rels().replace("worksheets/sheet1.xml", "../../../../etc/passwd"))))
    put("rel-target-absolute", package(parts(wbrels=workbook_rels().replace("worksheets/sheet1.xml", "/xl/worksheets/sheet1.xml"))))
    put("macro-enabled", package(parts(ct=content_types(main="application/vnd.ms-excel.sheet.macroEnabled.main+xml"),
                                       **{"xl/vbaProject.bin": b"\xD0\xCF\x11\xE0junk"})))
    put("no-styles-no-strings", package(parts(styles=None, sst=None, sheet=sheet(
        '<row r="1"><c r="A1"><v>1</v></c><c r="B1" t="inlineStr"><is><t>x</t></is></c></row>'))))
    put("sst-missing-but-used", package(parts(sst=None)))

    # XML that is refused wherever it appears.
    doctype = '<!DOCTYPE x [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>'
    lol = '<!DOCTYPE lolz [<!ENTITY lol "lol">' + "".join(
        '<!ENTITY lol%d "%s">' % (i, ("&lol%d;" % (i - 1) if i > 1 else "&lol;") * 10) for i in range(1, 10)) + "]>"
    xxe = '<!DOCTYPE x [<!ENTITY xxe SYSTEM "file:///etc/passwd">]>'
    keys = {"ct": content_types(), "rootrels": root_rels(), "wb": workbook(), "wbrels": workbook_rels(),
            "styles": STYLES, "sst": SHARED, "sheet": sheet(SHEET_ROWS)}
    for key, text in keys.items():
        body = text[len(DECL):]
        put("doctype-%s" % key, package(parts(**{key: DECL + doctype + body})))
        put("billion-laughs-%s" % key, package(parts(**{key: DECL + lol + body.replace("<sheetData>", "<sheetData>&lol9;", 1)})))
        put("xxe-%s" % key, package(parts(**{key: DECL + xxe + body})))
        put("undefined-entity-%s" % key, package(parts(**{key: text.replace("><", ">&nope;<", 1)})))
        put("unclosed-%s" % key, package(parts(**{key: text[:-3]})))
        put("garbage-%s" % key, package(parts(**{key: "\x01\x02 not xml"})))
        put("empty-part-%s" % key, package(parts(**{key: ""})))
        put("latin1-declared-%s" % key, package(parts(**{key: text.replace('encoding="UTF-8"', 'encoding="x-unknown-8"')})))
        put("bad-utf8-%s" % key, package(parts(**{key: text.encode() + b"\xff\xfe"})))
    put("utf16-sheet", package(parts(sheet=sheet(SHEET_ROWS).replace('encoding="UTF-8"', 'encoding="UTF-16"').encode("utf-16"))))
    put("deep-nesting", package(parts(sheet=sheet('<row r="1"><c r="A1"><v>1</v></c></row>' + "<x>" * 200000 + "</x>" * 200000))))
    put("huge-attribute", package(parts(sheet=sheet('<row r="1" x="%s"><c r="A1"><v>1</v></c></row>' % ("a" * (20 * 1024 * 1024))))))
    put("huge-comment", package(parts(sheet=sheet('<!--%s--><row r="1"><c r="A1"><v>1</v></c></row>' % ("a" * (20 * 1024 * 1024))))))
    put("many-attributes", package(parts(sheet=sheet('<row r="1" %s><c r="A1"><v>1</v></c></row>' % " ".join(
        "a%d=\"1\"" % i for i in range(100000))))))

    # Cells the reader refuses.
    long_text = "x" * 32768
    put("sst-index-past-table", package(parts(sheet=sheet('<row r="1"><c r="A1" t="s"><v>3</v></c></row>'))))
    put("sst-index-huge", package(parts(sheet=sheet('<row r="1"><c r="A1" t="s"><v>99999999999999999999</v></c></row>'))))
    put("sst-index-negative", package(parts(sheet=sheet('<row r="1"><c r="A1" t="s"><v>-1</v></c></row>'))))
    put("sst-index-text", package(parts(sheet=sheet('<row r="1"><c r="A1" t="s"><v>one</v></c></row>'))))
    put("long-cell-inline", package(parts(sheet=sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>%s</t></is></c></row>' % long_text))))
    put("long-cell-str", package(parts(sheet=sheet('<row r="1"><c r="A1" t="str"><v>%s</v></c></row>' % long_text))))
    put("long-cell-shared", package(parts(sst=shared([long_text]))))
    put("long-cell-runs", package(parts(sst=DECL + '<sst %s><si>%s</si></sst>' % (NS, "<r><t>%s</t></r>" % ("y" * 20000) * 2))))
    put("long-cell-chinese", package(parts(sheet=sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>%s</t></is></c></row>' % ("汉" * 32768)))))
    put("long-cell-huge", package(parts(sheet=sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>%s</t></is></c></row>' % ("z" * (30 * 1024 * 1024))))))
    put("rows-out-of-order", package(parts(sheet=sheet('<row r="2"><c r="A2"><v>1</v></c></row><row r="1"><c r="A1"><v>1</v></c></row>'))))
    put("rows-repeated", package(parts(sheet=sheet('<row r="2"><c r="A2"><v>1</v></c></row><row r="2"><c r="B2"><v>1</v></c></row>'))))
    put("row-zero", package(parts(sheet=sheet('<row r="0"><c r="A1"><v>1</v></c></row>'))))
    put("row-past-limit", package(parts(sheet=sheet('<row r="1048577"><c r="A1048577"><v>1</v></c></row>'))))
    put("row-number-text", package(parts(sheet=sheet('<row r="x"><c><v>1</v></c></row>'))))
    put("column-past-limit", package(parts(sheet=sheet('<row r="1"><c r="XFE1"><v>1</v></c></row>'))))
    put("column-unaddressed-overflow", package(parts(sheet=sheet('<row r="1">%s</row>' % ("<c><v>1</v></c>" * 16385)))))
    put("cell-address-junk", package(parts(sheet=sheet('<row r="1"><c r="1A"><v>1</v></c></row>'))))
    put("cell-outside-row", package(parts(sheet=sheet('<c r="A1"><v>1</v></c>'))))
    put("nested-rows", package(parts(sheet=sheet('<row r="1"><row r="2"><c r="A2"><v>1</v></c></row></row>'))))
    put("unknown-cell-type", package(parts(sheet=sheet('<row r="1"><c r="A1" t="q"><v>1</v></c></row>'))))
    put("bad-number", package(parts(sheet=sheet('<row r="1"><c r="A1"><v>1.2.3</v></c></row>'))))
    put("bad-number-inf", package(parts(sheet=sheet('<row r="1"><c r="A1"><v>1e999</v></c></row>'))))
    put("bad-number-nan", package(parts(sheet=sheet('<row r="1"><c r="A1"><v>nan</v></c></row>'))))
    put("bad-boolean", package(parts(sheet=sheet('<row r="1"><c r="A1" t="b"><v>2</v></c></row>'))))
    put("bad-date", package(parts(sheet=sheet('<row r="1"><c r="A1" t="d"><v>2020-13-45</v></c></row>'))))
    put("rows-past-limit-unnumbered", package(parts(sheet=sheet('<row r="1048576"><c><v>1</v></c></row><row><c><v>1</v></c></row>'))))
    put("many-empty-rows", package(parts(sheet=sheet("<row/>" * 200000))))
    put("many-styles", package(parts(styles=DECL + '<styleSheet %s><cellXfs>%s</cellXfs></styleSheet>' % (NS, '<xf numFmtId="0"/>' * 70000))))
    put("style-index-past-table", package(parts(sheet=sheet('<row r="1"><c r="A1" s="999"><v>1</v></c></row>'))))
    put("sst-count-lies", package(parts(sst=SHARED.replace('uniqueCount="3"', 'uniqueCount="4000000000"'))))
    put("many-sheets", package(parts(wb=workbook(sheets=["S%d" % i for i in range(70000)]))))
    put("overlapping-entries", overlapping(good))

    # Odd but valid: these must read.
    put("valid-no-dimension", package(parts(sheet=sheet(SHEET_ROWS, dimension=False))))
    put("valid-cells-without-r", package(parts(sheet=sheet('<row r="1"><c><v>1</v></c><c t="s"><v>0</v></c></row><row><c><v>3</v></c></row>'))))
    put("valid-phonetic", package(parts(sst=DECL + '<sst %s><si><r><t>漢</t></r><r><t>字</t></r><rPh sb="0" eb="2"><t>かんじ</t></rPh><phoneticPr fontId="1"/></si><si><t>x</t></si><si><t>y</t></si></sst>' % NS)))
    put("valid-prefixed", package(parts(sheet=sheet(SHEET_ROWS).replace("<", "<x:").replace("<x:/", "</x:").replace("<x:?xml", "<?xml").replace(
        'xmlns="', 'xmlns:x="'))))
    put("valid-sparse", package(parts(sheet=sheet('<row r="5"><c r="D5"><v>1</v></c></row><row r="100000"><c r="AA100000"><v>2</v></c></row>'))))
    print(count, "files")


def overlapping(good):
    """Two central directory entries pointing at the same local entry."""
    z = zipfile.ZipFile(io.BytesIO(good))
    b = bytearray(good)
    eocd = b.rfind(b"PK\x05\x06")
    cd_off = struct.unpack_from("<I", b, eocd + 16)[0]
    first = b.find(b"PK\x01\x02", cd_off)
    second = b.find(b"PK\x01\x02", first + 4)
    loc = struct.unpack_from("<I", b, first + 42)[0]
    struct.pack_into("<I", b, second + 42, loc)
    z.close()
    return bytes(b)


if __name__ == "__main__":
    main()
