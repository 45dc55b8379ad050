#!/usr/bin/python3
"""The import benchmark's workbook: header bench:K:K,D,C3..C15, then 65,532
data rows of 15 columns (K a text key, D a date cell, the rest numbers and
texts), written by xlwt. Run: /usr/bin/python3 make_workbook.py OUT.xls [ROWS]"""
import datetime
import sys
import xlwt

ROWS = 65532
COLUMNS = ["K", "D"] + ["C%d" % i for i in range(3, 16)]


def main(path, rows=ROWS):
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    ws.write(0, 0, "bench:K:" + ",".join(COLUMNS))
    ws.write(1, 2, "benchmark")
    for c, name in enumerate(COLUMNS):
        ws.write(2, c, name)
    date = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    start = datetime.date(2000, 1, 1)
    for i in range(rows):
        r = i + 3
        ws.write(r, 0, "K%06d" % i)
        ws.write(r, 1, start + datetime.timedelta(days=i % 9000), date)
        for c in range(2, 15):
            ws.write(r, c, i * 15 + c if c % 2 else "t%d_%d" % (c, i))
    wb.save(path)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else ROWS)
