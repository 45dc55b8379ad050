#!/usr/bin/python3
"""Workbooks for the spreadsheet layer's tests: written by xlwt and by
LibreOffice (soffice --headless --convert-to), then read back with xlrd to
prove each holds what the tests expect. Run: /usr/bin/python3 make_fixtures.py

values.xls     numbers, text, booleans, errors (column A..D), dates (E, F)
date1904.xls   the 1904 date system
active.xls     three sheets; the third is the active one
formulas.xls   LibreOffice: formulas with number/text/bool/error/empty results
biff5.xls      Gnumeric (ssconvert) "MS Excel 5.0/95": numbers, code page text,
               a date, formulas; the second of two sheets is the active one
biff5_utf16.xls  Gnumeric, Excel 95 straight from an xlwt workbook: code page
               1200, non-ASCII text as UTF-16LE bytes (xlrd cannot read it)
(LibreOffice 7 no longer writes the Excel 95 format.)

Needs, besides the test packages: apt-get install --no-install-recommends
libreoffice-calc-nogui gnumeric. The tests only read the committed files.
"""
import datetime
import os
import shutil
import subprocess
import tempfile

import xlrd
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
DT = datetime.datetime

NUMBERS = [33, 1.5, 0.1, 1 / 3, 1e20, -2.5e-7, 123456789012345, 1234567890123456, 0.0001, 0.00001,
           -0.5, 2.675, 0.1 + 0.2, 1e15, 999999999999999, 9999999999999999, 0, -1, 12.34, 1e-300,
           -123456.789, 2 ** 31, 1e100]
LONG_ASCII = "".join(chr(ord("a") + i % 26) for i in range(10000))
LONG_CHINESE = "汉字测试" * 1500
TEXTS = ["plain", "中文测试", "00123", "  padded  ", LONG_ASCII, LONG_CHINESE, "tail after long"]
ERRORS = ["#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"]
ERROR_CODES = [0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A]
# (number format, value) in column E; dates are written as datetimes.
DATES = [
    ("yyyy-mm-dd", DT(2003, 8, 1)),
    ("M/D/YY", DT(2003, 8, 1, 13, 5, 9)),          # built-in 14
    ("h:mm:ss", DT(1899, 12, 31, 9, 5, 3)),        # built-in 21; serial 0.378...
    ("dd/mm/yyyy hh:mm", DT(2020, 2, 29, 23, 59, 59)),
    ("[h]:mm:ss", 1.5),
    ('"Day" d', DT(2010, 1, 2)),
    ('"yd"0.00', 5),                              # quoted text only: a number
    ("[Red]0.00", 5),
    ("0.00;[Red]-0.00", -5),
    ("[$-409]mmmm d, yyyy", DT(1999, 12, 31)),
    ("#,##0", 1234.5),
    ("mm:ss", 0.5),
    ("@", 7),
    ("yyyy-mm-dd", 60),                           # the 29 February 1900 that never was
    ("yyyy-mm-dd", 61),
    ("yyyy-mm-dd", 1),
    ("yyyy-mm-dd", -1),                           # no date: stays a number
    ("yyyy-mm-dd", 0),
    ("yyyy-mm-dd hh:mm:ss", 36525.99999999),      # rounds up to the next midnight
    ("0.00%", 0.25),
    ("\\d0", 3),                                  # escaped d: a number
]


def save_xlwt(name, build, dates_1904=False):
    wb = xlwt.Workbook(encoding="utf-8")
    wb.dates_1904 = dates_1904
    build(wb)
    path = os.path.join(HERE, name)
    wb.save(path)
    return xlrd.open_workbook(path, formatting_info=True)


def values(wb):
    ws = wb.add_sheet("Values")
    for r, v in enumerate(NUMBERS):
        ws.write(r, 0, v)
    ws.write(0, 6, 34)  # with A1 and H1 a MULRK run
    ws.write(0, 7, 35)
    for r, t in enumerate(TEXTS):
        ws.write(r, 1, t)
    ws.write(0, 2, True)
    ws.write(1, 2, False)
    for r, e in enumerate(ERROR_CODES):
        ws.row(r).set_cell_error(3, e)
    for r, (fmt, v) in enumerate(DATES):
        ws.write(r, 4, v, xlwt.easyxf(num_format_str=fmt))
        ws.write(r, 5, fmt)


def check_values(book):
    sh = book.sheet_by_index(0)
    for r, v in enumerate(NUMBERS):
        assert sh.cell_value(r, 0) == float(v), (r, v)
    for r, t in enumerate(TEXTS):
        assert sh.cell_value(r, 1) == t
    assert sh.cell(0, 2).ctype == xlrd.XL_CELL_BOOLEAN and sh.cell_value(0, 2) == 1
    assert sh.cell(1, 2).ctype == xlrd.XL_CELL_BOOLEAN and sh.cell_value(1, 2) == 0
    for r, e in enumerate(ERRORS):
        assert xlrd.error_text_from_code[sh.cell_value(r, 3)] == e
    for r, (fmt, _) in enumerate(DATES):
        xf = book.xf_list[sh.cell_xf_index(r, 4)]
        assert book.format_map[xf.format_key].format_str.lower() == fmt.lower(), (fmt, xf.format_key)
    assert xlrd.xldate_as_tuple(sh.cell_value(0, 4), 0) == (2003, 8, 1, 0, 0, 0)
    assert xlrd.xldate_as_tuple(sh.cell_value(1, 4), 0) == (2003, 8, 1, 13, 5, 9)
    assert xlrd.xldate_as_tuple(sh.cell_value(3, 4), 0) == (2020, 2, 29, 23, 59, 59)


def date1904(wb):
    ws = wb.add_sheet("Dates")
    fmt = xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss")
    ws.write(0, 0, DT(2003, 8, 1), fmt)
    ws.write(1, 0, 0, fmt)
    ws.write(2, 0, DT(1904, 1, 2, 6, 0, 0), fmt)
    ws.write(3, 0, 0.25, fmt)


def check_1904(book):
    assert book.datemode == 1
    sh = book.sheet_by_index(0)
    assert xlrd.xldate_as_tuple(sh.cell_value(0, 0), 1) == (2003, 8, 1, 0, 0, 0)
    assert sh.cell_value(1, 0) == 0 and sh.cell_value(3, 0) == 0.25


def active(wb):
    for i, name in enumerate(["First", "Second", "Third"]):
        ws = wb.add_sheet(name)
        ws.write(0, 0, name)
        ws.write(1, 1, i + 1)
        ws.set_selected(i == 2)
    wb.active_sheet = 2


def check_active(book):
    assert book.nsheets == 3
    # xlrd has no public name for WINDOW1's active tab; its sheet flags say it.
    assert [book.sheet_by_index(i).sheet_selected for i in range(3)] == [0, 0, 1]


# LibreOffice computes and stores each formula's result when it converts a
# flat ODF spreadsheet whose formula cells carry no value.
FODS = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet><table:table table:name="Formulas">
{rows}
</table:table></office:spreadsheet></office:body></office:document>
"""
FORMULAS = [
    ("of:=1+2", 3.0),
    ("of:=1/3", 1 / 3),
    ('of:=&quot;ab&quot;&amp;&quot;中文&quot;', "ab中文"),
    ("of:=1&lt;2", True),
    ("of:=1&gt;2", False),
    ("of:=1/0", "#DIV/0!"),
    ("of:=NA()", "#N/A"),
    ('of:=&quot;&quot;', ""),
    ("of:=REPT(&quot;x&quot;;300)", "x" * 300),
    ("of:=2^70", 2.0 ** 70),
]


def fods():
    rows = ['<table:table-row><table:table-cell table:formula="%s"/></table:table-row>' % f for f, _ in FORMULAS]
    return FODS.format(rows="\n".join(rows))


def soffice_convert(source_name, source_text, filter_name, target):
    soffice = shutil.which("soffice") or "/usr/bin/soffice"
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, source_name)
        with open(src, "w", encoding="utf-8") as f:
            f.write(source_text)
        subprocess.run([soffice, "-env:UserInstallation=file:///tmp/lo_profile_sheet", "--headless",
                        "--convert-to", "xls:" + filter_name, "--outdir", tmp, src],
                       check=True, stdout=subprocess.DEVNULL)
        shutil.move(os.path.splitext(src)[0] + ".xls", os.path.join(HERE, target))
    return xlrd.open_workbook(os.path.join(HERE, target), formatting_info=True)


def check_formulas(book):
    sh = book.sheet_by_index(0)
    for r, (_, want) in enumerate(FORMULAS):
        cell = sh.cell(r, 0)
        if isinstance(want, bool):
            assert cell.ctype == xlrd.XL_CELL_BOOLEAN and cell.value == want, (r, cell)
        elif isinstance(want, str) and want.startswith("#"):
            assert cell.ctype == xlrd.XL_CELL_ERROR and xlrd.error_text_from_code[cell.value] == want, (r, cell)
        else:
            assert cell.value == want, (r, cell, want)

# Gnumeric writes an Excel 95 workbook in the source's code page; from its own
# XML (no code page there) it takes Windows-1252. It keeps neither xlwt's
# active sheet nor formula results, so the XML is edited and recalculated.
BIFF5_VALUES = [33, 1 / 3, "Größe", "€5", DT(2003, 8, 1, 13, 5, 9), "=1+2", '="ab"&"cd"', "=1<2", "=1/0", True,
                "x" * 300]


def biff5(target):
    wb = xlwt.Workbook(encoding="utf-8")
    wb.add_sheet("Cover").write(0, 0, "not this one")
    ws = wb.add_sheet("Data")
    for r, v in enumerate(BIFF5_VALUES):
        if isinstance(v, str) and v.startswith("="):
            v = xlwt.Formula(v[1:])
        ws.write(r, 0, v, xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss") if isinstance(v, DT) else xlwt.Style.default_style)
    with tempfile.TemporaryDirectory() as tmp:
        src, xml = os.path.join(tmp, "src.xls"), os.path.join(tmp, "mid.xml")
        wb.save(src)
        subprocess.run(["ssconvert", "--export-type=Gnumeric_XmlIO:sax:0", src, xml], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(xml, encoding="utf-8") as f:
            text = f.read()
        assert 'SelectedTab="0"' in text
        with open(xml, "w", encoding="utf-8") as f:
            f.write(text.replace('SelectedTab="0"', 'SelectedTab="1"'))
        subprocess.run(["ssconvert", "--recalc", "--export-type=Gnumeric_Excel:excel_biff7", xml,
                        os.path.join(HERE, target)], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return xlrd.open_workbook(os.path.join(HERE, target), formatting_info=True)


def check_biff5(book):
    assert book.biff_version == 50 and book.codepage == 1252, (book.biff_version, book.codepage)
    assert [s.sheet_selected for s in book.sheets()] == [0, 1]
    sh = book.sheet_by_index(1)
    want = [33, 1 / 3, "Größe", "€5", None, 3, "abcd", 1, 7, 1, "x" * 300]
    for r, w in enumerate(want):
        if w is not None:
            assert sh.cell_value(r, 0) == w, (r, sh.cell(r, 0))
    assert sh.cell(8, 0).ctype == xlrd.XL_CELL_ERROR and sh.cell(7, 0).ctype == xlrd.XL_CELL_BOOLEAN
    assert xlrd.xldate_as_tuple(sh.cell_value(4, 0), 0) == (2003, 8, 1, 13, 5, 9)


UTF16_TEXTS = ["Größe", "€5", "中文", "plain"]


def biff5_utf16(target):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Data")
    for r, t in enumerate(UTF16_TEXTS):
        ws.write(r, 0, t)
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src.xls")
        wb.save(src)
        subprocess.run(["ssconvert", "--export-type=Gnumeric_Excel:excel_biff7", src, os.path.join(HERE, target)],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(HERE, target), "rb") as f:
        data = f.read()
    # CODEPAGE record 1200, and "Größe" as UTF-16LE bytes behind a byte count of 10.
    assert b"\x42\x00\x02\x00\xb0\x04" in data
    assert b"\x0a\x00" + "Größe".encode("utf-16-le") in data


def main():
    check_values(save_xlwt("values.xls", values))
    check_1904(save_xlwt("date1904.xls", date1904, dates_1904=True))
    check_active(save_xlwt("active.xls", active))
    check_formulas(soffice_convert("formulas.fods", fods(), "MS Excel 97", "formulas.xls"))
    check_biff5(biff5("biff5.xls"))
    biff5_utf16("biff5_utf16.xls")


if __name__ == "__main__":
    main()
