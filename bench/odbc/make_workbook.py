#!/usr/bin/python3
"""The server benchmarks' workbook: header bench:K:K,C2..Cn, then ROWS data
rows of COLUMNS columns (K a text key, the others numbers and texts in
turn), written by xlwt. No date and no sequence column: through SQLite's
ODBC driver the database has no to_date and no sequences.
Run: /usr/bin/python3 make_workbook.py OUT.xls ROWS COLUMNS"""
import sys
import xlwt


def main(path, rows, columns):
    names = ["K"] + ["C%d" % i for i in range(2, columns + 1)]
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Sheet1")
    ws.write(0, 0, "bench:K:" + ",".join(names))
    ws.write(1, 2, "benchmark")
    for c, name in enumerate(names):
        ws.write(2, c, name)
    for i in range(rows):
        r = i + 3
        ws.write(r, 0, "K%06d" % i)
        for c in range(1, columns):
            ws.write(r, c, i * columns + c if c % 2 else "t%d_%d" % (c, i))
    wb.save(path)


def schema(columns):
    cols = ["K varchar2(10) primary key"] + [
        "C%d %s" % (c + 1, "number" if c % 2 else "varchar2(20)") for c in range(1, columns)]
    return "create table BENCH (" + ", ".join(cols) + ")"


if __name__ == "__main__":
    if sys.argv[1] == "--schema":
        print(schema(int(sys.argv[2])))
    else:
        main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
