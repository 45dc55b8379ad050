#!/usr/bin/python3
"""Workbooks for the command-line tests, written by xlwt and read back with
xlrd to prove they hold what the tests expect. Run: /usr/bin/python3 make_fixtures.py"""
import datetime
import json
import os
import xlrd
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
DATE = xlwt.easyxf(num_format_str="yyyy-mm-dd")


def zorvat(path, rows):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    ws.write(0, 0, "zorvat:AA:AA,BB,CC")
    ws.write(1, 2, "zorvat测试")
    for c, name in enumerate(["AA", "BB", "CC"]):
        ws.write(2, c, name)
    for r, (aa, bb, cc) in enumerate(rows, start=3):
        ws.write(r, 0, aa)
        ws.write(r, 1, bb)
        ws.write(r, 2, cc, DATE)
    wb.save(path)


# Cell values crafted to break out of their SQL literal; each must be stored
# exactly as written (after the trim of blanks and control characters at the
# ends) or refused. The C++ tests read the same list (tests/support); the
# longest text a cell holds follows it.
with open(os.path.join(HERE, "hostile_values.json"), encoding="utf-8") as listed:
    HOSTILE_VALUES = json.load(listed) + ["x" * 32767]

# Headers crafted the same way: each must be refused with a box.
HOSTILE_HEADERS = [
    ("inject_table.xls", "zorvat where 1=1 --::AA"),
    ("inject_quote_table.xls", "zor'vat::AA"),
    ("inject_sequence.xls", "zorvat::AA,BB(seq_tbxh.nextval from dual;--)"),
    ("inject_column.xls", "zorvat::AA,BB from dual;--"),
    ("inject_key.xls", "zorvat:AA' or '1'='1:AA,BB"),
]


def hostile(path):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    ws.write(0, 0, "zorvat:AA:AA,BB")
    for r, value in enumerate(HOSTILE_VALUES, start=3):
        ws.write(r, 0, "k%d" % r)
        ws.write(r, 1, value)
    wb.save(path)
    sheet = xlrd.open_workbook(path).sheet_by_index(0)
    for r, value in enumerate(HOSTILE_VALUES, start=3):
        assert sheet.cell_value(r, 1) == value


def hostile_headers():
    for name, header in HOSTILE_HEADERS:
        wb = xlwt.Workbook(encoding="utf-8")
        ws = wb.add_sheet("Sheet1")
        ws.write(0, 0, header)
        ws.write(3, 0, "k")
        ws.write(3, 1, "v")
        wb.save(os.path.join(HERE, name))
        assert xlrd.open_workbook(os.path.join(HERE, name)).sheet_by_index(0).cell_value(0, 0) == header


def main():
    hostile(os.path.join(HERE, "injection.xls"))
    hostile_headers()
    first = [(1, 33, datetime.date(2003, 8, 1)), (2, 34, datetime.date(2003, 8, 2)),
             (3, 35, datetime.date(2003, 8, 3))]
    zorvat(os.path.join(HERE, "zorvat3.xls"), first)
    # Same keys, new values: every row already exists after zorvat3.xls.
    second = [(1, 133, datetime.date(2004, 1, 1)), (2, 134, datetime.date(2004, 1, 2)),
              (3, 135, datetime.date(2004, 1, 3))]
    zorvat(os.path.join(HERE, "zorvat3b.xls"), second)

    for name, rows in (("zorvat3.xls", first), ("zorvat3b.xls", second)):
        sheet = xlrd.open_workbook(os.path.join(HERE, name)).sheet_by_index(0)
        assert sheet.cell_value(0, 0) == "zorvat:AA:AA,BB,CC"
        assert sheet.nrows == 3 + len(rows)
        for r, (aa, bb, cc) in enumerate(rows, start=3):
            assert sheet.cell_value(r, 0) == aa and sheet.cell_value(r, 1) == bb
            assert sheet.cell_type(r, 2) == xlrd.XL_CELL_DATE
            assert xlrd.xldate_as_datetime(sheet.cell_value(r, 2), 0).date() == cc


if __name__ == "__main__":
    main()
