#!/usr/bin/python3
"""openpyxl in write-only mode writing ROWS x COLUMNS text cells.
Run: openpyxl_write.py OUT.xlsx ROWS COLUMNS; prints the seconds it took."""
import sys
import time

import openpyxl

out, rows, columns = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
start = time.perf_counter()
wb = openpyxl.Workbook(write_only=True)
ws = wb.create_sheet()
for r in range(1, rows + 1):
    ws.append(["row %d column %d" % (r, c) for c in range(1, columns + 1)])
wb.save(out)
print("%.3f" % (time.perf_counter() - start))
