#!/usr/bin/python3
"""The same load done with pandas: read_excel (xlrd engine) from row 4, then
to_sql through SQLAlchemy and psycopg2 into the same empty keyed table.
Run: pandas_to_sql.py WORKBOOK HOST DATABASE USER PASSWORD [PORT] (HOST: a socket folder or an address)"""
import sys

import pandas
import pandas.compat._optional
import sqlalchemy

# Debian ships xlrd 1.2.0 and pandas asks for 2.0.1 by version number only;
# 1.2 reads .xls the same way (2.0 only dropped .xlsx), so let it through.
pandas.compat._optional.VERSIONS["xlrd"] = "1.2.0"

COLUMNS = ["k", "d"] + ["c%d" % i for i in range(3, 16)]


def main(workbook, host, database, user, password, port=None):
    url = sqlalchemy.engine.URL.create("postgresql+psycopg2", username=user, password=password,
                                       database=database, query={"host": host},
                                       port=int(port) if port else None)
    engine = sqlalchemy.create_engine(url)
    frame = pandas.read_excel(workbook, engine="xlrd", header=None, skiprows=3, names=COLUMNS)
    with engine.begin() as con:
        frame.to_sql("bench", con, if_exists="append", index=False)
    with engine.connect() as con:
        print(con.execute(sqlalchemy.text("select count(*) from bench")).scalar())


if __name__ == "__main__":
    main(*sys.argv[1:7])
