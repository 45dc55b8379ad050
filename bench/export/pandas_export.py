#!/usr/bin/python3
"""The same export done with pandas: read_sql from the SQLite file, then
to_excel with openpyxl. Prints seconds."""
import sqlite3
import sys
import time

import pandas


def main(database, out):
    start = time.perf_counter()
    con = sqlite3.connect(database)
    frame = pandas.read_sql("select * from BENCH order by ID", con)
    frame.to_excel(out, engine="openpyxl", index=False)
    con.close()
    print("%.3f" % (time.perf_counter() - start))


if __name__ == "__main__":
    main(*sys.argv[1:3])
