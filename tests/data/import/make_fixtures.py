#!/usr/bin/python3
"""Workbooks for the import tests, written by xlwt and read back with xlrd to
prove they hold what the tests expect. Run: /usr/bin/python3 make_fixtures.py

Each workbook is (file name, header cell, rows from row 4). A row is a list of
cells; None leaves the cell empty, a datetime.date is written as a date cell
formatted yyyy-mm-dd, anything else as it is (str as text, int as number)."""
import datetime
import os
import xlrd
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
DATE = xlwt.easyxf(num_format_str="yyyy-mm-dd")
D = datetime.date

class Error(str):
    """An error cell (#DIV/0!, #N/A...), as a formula's failed result leaves it."""


SAMPLE_ROWS = [[i, 32 + i, D(2003, 8, i)] for i in range(1, 12)]

WORKBOOKS = [
    # The help document's two samples.
    ("sample1.xls", "zorvat:AA:AA,BB,CC", SAMPLE_ROWS, ["AA", "BB", "CC"]),
    ("sample2.xls", "ZORVAT:aa:AA,bb,seq_nn(seq_tbxh),dd(seq_tbxh)",
     [[i, 32 + i] for i in range(1, 12)], ["AA", "BB"]),
    # Key matching: lower-case keys, a quote, an empty cell, a text date.
    ("people.xls", "people:name:name,note,born",
     [["abc", "lower", D(2001, 2, 3)], ["O'Neil", "quote", "2001-02-03"], ["Empty", None, D(2001, 2, 5)]],
     None),
    ("datekey.xls", "events:D:D,V", [["2003-08-01", "a"], [D(2003, 8, 2), "b"]], None),
    # A sequence column between two plain ones, and a key on a sequence column.
    ("seqmid.xls", "zorvat:SEQ_NN:AA,SEQ_NN(seq_tbxh),BB", [[1, 33], [2, 34]], None),
    ("nodata.xls", "zorvat:AA:AA,BB", [], None),
    ("gap.xls", "zorvat::AA,BB", [[1, 33], [2, 34], [3, 35], [None, 36], [5, 37]], None),
    # Three new rows, then one that repeats the first key.
    ("dupkey.xls", "zorvat::AA,BB", [[1, 33], [2, 34], [3, 35], [1, 36]], None),
    ("bad_header.xls", "zorvat", [[1, 33]], None),
    ("missing_table.xls", "nosuch:AA:AA", [[1]], None),
    ("quote_table.xls", "o'brien::AA", [[1]], None),
    ("missing_seq.xls", "zorvat:AA:AA,SEQ_NN( nosuch )", [[1]], None),
    ("missing_col.xls", "zorvat:AA:AA,XX", [[1, 2]], None),
    ("too_long.xls", "zorvat::" + ",".join("C%d" % i for i in range(1, 17)), [[1]], None),
    # Ten keyed rows, the second key given again in the fourth row ("2" as
    # text where the first was a number) and "02" after it: the run's order
    # of checks, prompts and writes is the same whatever its batches.
    ("batch_order.xls", "zorvat:AA:AA,BB",
     [[1, 31], [2, 32], [3, 33], ["2", 34], [4, 35], ["02", 36], [6, 37], [7, 38], [8, 39], [9, 40]],
     None),
    # An error cell in row 5: the read fails naming it.
    ("error_cell.xls", "zorvat:AA:AA,BB,CC", [[1, 33, D(2003, 8, 1)], [2, 34, Error("#DIV/0!")], [3, 35, None]],
     None),
]


def write(name, header, rows, titles):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    ws.write(0, 0, header)
    ws.write(1, 2, "zorvat测试")
    for c, title in enumerate(titles or []):
        ws.write(2, c, title)
    for r, row in enumerate(rows, start=3):
        for c, value in enumerate(row):
            if value is None:
                continue
            if isinstance(value, Error):
                ws.row(r).set_cell_error(c, str(value))
            elif isinstance(value, datetime.date):
                ws.write(r, c, value, DATE)
            else:
                ws.write(r, c, value)
    wb.save(os.path.join(HERE, name))


def check(name, header, rows):
    sheet = xlrd.open_workbook(os.path.join(HERE, name)).sheet_by_index(0)
    assert sheet.cell_value(0, 0) == header, name
    for r, row in enumerate(rows, start=3):
        for c, value in enumerate(row):
            if value is None:
                assert c >= sheet.row_len(r) or sheet.cell_type(r, c) == xlrd.XL_CELL_EMPTY, name
            elif isinstance(value, Error):
                assert sheet.cell_type(r, c) == xlrd.XL_CELL_ERROR, name
                assert xlrd.error_text_from_code[sheet.cell_value(r, c)] == value, name
            elif isinstance(value, datetime.date):
                assert sheet.cell_type(r, c) == xlrd.XL_CELL_DATE, name
                assert xlrd.xldate_as_datetime(sheet.cell_value(r, c), 0).date() == value, name
            else:
                assert sheet.cell_value(r, c) == value, (name, r, c)


def main():
    for name, header, rows, titles in WORKBOOKS:
        write(name, header, rows, titles)
        check(name, header, rows)


if __name__ == "__main__":
    main()
