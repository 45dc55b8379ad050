#!/usr/bin/python3
"""Workbooks for the pre-flight check tests, written by xlwt and read back with
xlrd (the writer and the checks of ../import/make_fixtures.py).
Run: /usr/bin/python3 make_fixtures.py

The table they go into (tests make it on every engine):
  create table CHECKED (K varchar2(6) primary key, NAME varchar2(10) not null,
                        QTY number(5,2), BORN date, NOTE varchar2(4 char))"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "import"))
import make_fixtures as shared  # noqa: E402
from make_fixtures import D, Error, check, write  # noqa: E402

shared.HERE = HERE  # write and check here, not beside the import fixtures

HEADER = "checked:K:K,NAME,QTY,BORN,NOTE"

WORKBOOKS = [
    # One fault of each kind, each in a row of its own; row 12's key is in
    # the table before the check.
    ("faults.xls", HEADER, [
        ["A1", "first", 1.5, D(2003, 8, 1), "中文"],        # 4: clean
        ["A2", "12345678901", 2, None, None],                # 5: B5 eleven bytes
        ["A3", "x", "abc", None, None],                      # 6: C6 not a number
        ["A4", "x", 1000, None, None],                       # 7: C7 too many digits
        ["A5", "x", 3, "2003-02-30", None],                  # 8: D8 not a date
        ["A6", None, 4, None, None],                         # 9: B9 empty, NOT NULL
        ["A7", "x", Error("#DIV/0!"), None, None],           # 10: C10 error cell
        ["A1", "again", 5, None, None],                      # 11: A11 repeats A4
        ["B9", "there", 6, "2003-8-9", "中文字x"],           # 12: key in the table
        ["A8", "x", 7, None, "数据导入x"],                   # 13: E13 five characters
    ], None),
    # Every value taken: dates as cells and as text, a number rounded to its
    # scale, an empty number, four characters of Chinese.
    ("clean.xls", HEADER, [
        ["C1", "one", 12.345, D(2003, 8, 1), "中文字x"],
        ["C2", "two", None, "2003-8-2", None],
        ["C3", "three", "-999.99", "2004-02-29", "abcd"],
        ["C4", "O'Neil", " 7 ", None, "x"],
    ], None),
    # A thousand clean rows: the check's queries do not grow with them.
    ("many.xls", HEADER, [["M%d" % i, "n", i % 100, D(2003, 1 + i % 12, 1), None]
                          for i in range(1, 1001)], None),
]


def main():
    for name, header, rows, titles in WORKBOOKS:
        write(name, header, rows, titles)
        check(name, header, rows)


if __name__ == "__main__":
    main()
