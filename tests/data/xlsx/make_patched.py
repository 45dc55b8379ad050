#!/usr/bin/python3
"""Workbooks in forms that Excel and other writers produce but that the
writers at hand do not: each starts from a real writer's output (openpyxl, or
the committed xlsxwriter fixture) and changes a few bytes of one part.
Run: /usr/bin/python3 make_patched.py (needs python3-openpyxl; the output is
the same every run).

empty_sheetdata.xlsx     openpyxl, two sheets; the active one is empty and its
                         rows are written <sheetData/>, as Excel writes them
shared_empty_value.xlsx  xlsxwriter_values.xlsx with cell B2 (a shared string)
                         given an empty value, <v/>
duplicate_part.xlsx      openpyxl, A1 = "first"; a second zip entry of the
                         sheet's name holds A1 = "second"
duplicate_part_case.xlsx the same, the second entry's name in other letter case
"""
import datetime
import io
import os
import zipfile

import openpyxl

HERE = os.path.dirname(os.path.abspath(__file__))
SHEET1 = "xl/worksheets/sheet1.xml"
STAMP = (2020, 1, 1, 0, 0, 0)


def openpyxl_bytes(build):
    wb = openpyxl.Workbook()
    wb.properties.created = wb.properties.modified = datetime.datetime(2020, 1, 1)
    build(wb)
    out = io.BytesIO()
    wb.save(out)
    return out.getvalue()


def rezip(data, patch=lambda name, body: body, extra=()):
    """The package with each part passed through patch, then the extra
    (name, body) entries appended, with fixed time stamps."""
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(data)) as src, zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as dst:
        for name in src.namelist():
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            dst.writestr(info, patch(name, src.read(name)))
        for name, body in extra:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            dst.writestr(info, body)  # zipfile warns of the duplicate name and writes it
    return out.getvalue()


def replace_once(body, old, new):
    assert body.count(old) == 1, old
    return body.replace(old, new)


def save(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def empty_sheetdata():
    def build(wb):
        data = wb.active
        data.title = "Data"
        data["A1"] = "not this sheet"
        wb.create_sheet("Empty")
        wb.active = 1

    def patch(name, body):
        if name == "xl/worksheets/sheet2.xml":
            return replace_once(body, b"<sheetData></sheetData>", b"<sheetData/>")
        return body

    save("empty_sheetdata.xlsx", rezip(openpyxl_bytes(build), patch))


def shared_empty_value():
    with open(os.path.join(HERE, "xlsxwriter_values.xlsx"), "rb") as f:
        data = f.read()

    def patch(name, body):
        if name == SHEET1:
            return replace_once(body, b'<c r="B2" t="s"><v>1</v></c>', b'<c r="B2" t="s"><v/></c>')
        return body

    save("shared_empty_value.xlsx", rezip(data, patch))


def duplicate_part():
    def build(wb):
        wb.active["A1"] = "first"

    def second(wb):
        wb.active["A1"] = "second"

    data = openpyxl_bytes(build)
    with zipfile.ZipFile(io.BytesIO(openpyxl_bytes(second))) as z:
        other = z.read(SHEET1)
    save("duplicate_part.xlsx", rezip(data, extra=[(SHEET1, other)]))
    save("duplicate_part_case.xlsx", rezip(data, extra=[(SHEET1.replace("sheet1", "Sheet1"), other)]))


if __name__ == "__main__":
    empty_sheetdata()
    shared_empty_value()
    duplicate_part()
