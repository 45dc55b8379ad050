#!/usr/bin/python3
"""The .xlsx import benchmark's workbook, written by xlsxwriter with a shared
string table, as the spreadsheet application saves: header bench:K:K,D,C3..C15,
then ROWS data rows of 15 columns (K a text key, D a date cell, the rest
numbers and texts). Run: /usr/bin/python3 make_workbook.py OUT.xlsx ROWS"""
import datetime
import sys

import xlsxwriter

COLUMNS = ["K", "D"] + ["C%d" % i for i in range(3, 16)]


def main(path, rows):
    wb = xlsxwriter.Workbook(path)
    ws = wb.add_worksheet("Sheet1")
    ws.write_string(0, 0, "bench:K:" + ",".join(COLUMNS))
    ws.write_string(1, 2, "benchmark")
    for c, name in enumerate(COLUMNS):
        ws.write_string(2, c, name)
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    start = datetime.datetime(2000, 1, 1)
    for i in range(rows):
        r = i + 3
        ws.write_string(r, 0, "K%07d" % i)
        ws.write_datetime(r, 1, start + datetime.timedelta(days=i % 9000), date)
        for c in range(2, 15):
            if c % 2:
                ws.write_number(r, c, i * 15 + c)
            else:
                ws.write_string(r, c, "t%d_%d" % (c, i))
    wb.close()


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
