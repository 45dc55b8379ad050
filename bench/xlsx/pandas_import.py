#!/usr/bin/python3
"""The same load done with pandas: read_excel (openpyxl engine) from row 4,
then to_sql into an SQLite table with the same primary key. Prints seconds
and the rows stored."""
import sqlite3
import sys
import time

import pandas

COLUMNS = ["K", "D"] + ["C%d" % i for i in range(3, 16)]


def main(workbook, database, schema):
    con = sqlite3.connect(database)
    con.execute(open(schema).read())
    con.commit()
    start = time.perf_counter()
    frame = pandas.read_excel(workbook, engine="openpyxl", header=None, skiprows=3, names=COLUMNS)
    frame.to_sql("BENCH", con, if_exists="append", index=False)
    con.commit()
    elapsed = time.perf_counter() - start
    rows = con.execute("select count(*) from BENCH").fetchone()[0]
    con.close()
    print("%.3f %d" % (elapsed, rows))


if __name__ == "__main__":
    main(*sys.argv[1:4])
