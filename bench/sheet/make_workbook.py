#!/usr/bin/python3
"""The benchmark workbook: 65,536 rows x 15 columns written by xlwt, five
columns each of numbers, text and dates. Run: make_workbook.py OUT.xls"""
import datetime
import sys

import xlwt

ROWS, COLUMNS = 65536, 15


def main(out):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Data")
    date = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    stamp = xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss")
    base = datetime.datetime(2003, 8, 1)
    for r in range(ROWS):
        row = ws.row(r)
        for c in range(5):
            row.write(c, r * 7 + c if c % 2 == 0 else r / 7 + c)
        for c in range(5, 10):
            row.write(c, "text %d of row %d 中文" % (c, r % 5000))
        for c in range(10, 15):
            row.write(c, base + datetime.timedelta(days=r % 3000, seconds=(r * 37 + c) % 86400 if c % 2 else 0),
                      stamp if c % 2 else date)
        if r % 1000 == 0:
            ws.flush_row_data()
    wb.save(out)


if __name__ == "__main__":
    main(sys.argv[1])
