#!/usr/bin/python3
"""Workbooks for the .xlsx reader's tests, each with an .xls twin of the same
content: the tests read both and compare every cell's text.
Run: /usr/bin/python3 make_fixtures.py

openpyxl_values.xlsx    openpyxl: the content of ../sheet/values.xls (inline strings,
                        booleans, errors, dates with their number formats)
openpyxl_active.xlsx    openpyxl: three sheets, the second active (twin: active_second.xls, xlwt)
openpyxl_1904.xlsx      openpyxl: the 1904 date system (twin: ../sheet/date1904.xls)
openpyxl_isodates.xlsx  openpyxl with iso_dates: cells of type d (twin: isodates.xls, xlwt)
xlsxwriter_values.xlsx  xlsxwriter: the content of ../sheet/values.xls (shared strings,
                        formula cells with cached results for the booleans and errors)
xlsxwriter_rich.xlsx    xlsxwriter: rich text runs, formulas with cached text/number,
                        sparse rows and columns (twin: rich.xls, xlwt)
lo_<name>.xlsx          LibreOffice headless, converting ../sheet/<name>.xls

Needs python3-openpyxl, python3-xlsxwriter, python3-xlwt, python3-xlrd and, for the
LibreOffice conversions only, libreoffice-calc-nogui. The tests only read the
committed files.
"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import openpyxl
import xlsxwriter
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
SHEET = os.path.join(HERE, "..", "sheet")
sys.path.insert(0, SHEET)
import make_fixtures as xls  # noqa: E402  the .xls fixtures' content

DT = datetime.datetime
ERROR_TEXTS = xls.ERRORS


def openpyxl_values():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Values"
    for r, v in enumerate(xls.NUMBERS, 1):
        ws.cell(r, 1, v)
    ws.cell(1, 7, 34)
    ws.cell(1, 8, 35)
    for r, t in enumerate(xls.TEXTS, 1):
        ws.cell(r, 2, t)
    ws.cell(1, 3, True)
    ws.cell(2, 3, False)
    for r, e in enumerate(ERROR_TEXTS, 1):
        ws.cell(r, 4, e)  # openpyxl stores its error texts as cells of type e
    for r, (fmt, v) in enumerate(xls.DATES, 1):
        c = ws.cell(r, 5, v)
        c.number_format = fmt
        ws.cell(r, 6, fmt)
    wb.save(os.path.join(HERE, "openpyxl_values.xlsx"))


def openpyxl_active():
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    for i, name in enumerate(["First", "Second", "Third"]):
        ws = wb.create_sheet(name)
        ws.cell(1, 1, name)
        ws.cell(2, 2, i + 1)
        ws.cell(3, 3, "中文 " + name)
    wb.active = 1
    for ws in wb.worksheets:
        ws.sheet_view.tabSelected = ws.title == "Second"
    wb.save(os.path.join(HERE, "openpyxl_active.xlsx"))
    twin = xlwt.Workbook(encoding="utf-8")
    for i, name in enumerate(["First", "Second", "Third"]):
        ws = twin.add_sheet(name)
        ws.write(0, 0, name)
        ws.write(1, 1, i + 1)
        ws.write(2, 2, "中文 " + name)
        ws.set_selected(i == 1)
    twin.active_sheet = 1
    twin.save(os.path.join(HERE, "active_second.xls"))


def openpyxl_1904():
    wb = openpyxl.Workbook()
    wb.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
    ws = wb.active
    ws.title = "Dates"
    for r, v in enumerate([DT(2003, 8, 1), 0, DT(1904, 1, 2, 6, 0, 0), 0.25], 1):
        c = ws.cell(r, 1, v)
        c.number_format = "yyyy-mm-dd hh:mm:ss"
    wb.save(os.path.join(HERE, "openpyxl_1904.xlsx"))


ISO_DATES = [DT(2003, 8, 1), DT(2020, 2, 29, 23, 59, 59), DT(1900, 3, 1), DT(1999, 12, 31, 12, 0, 0)]


def openpyxl_isodates():
    wb = openpyxl.Workbook(iso_dates=True)
    ws = wb.active
    for r, v in enumerate(ISO_DATES, 1):
        ws.cell(r, 1, v).number_format = "yyyy-mm-dd hh:mm:ss"
        ws.cell(r, 2, v)  # no date format of its own
    wb.save(os.path.join(HERE, "openpyxl_isodates.xlsx"))
    with zipfile.ZipFile(os.path.join(HERE, "openpyxl_isodates.xlsx")) as z:
        assert b't="d"' in z.read("xl/worksheets/sheet1.xml")
    twin = xlwt.Workbook(encoding="utf-8")
    ws = twin.add_sheet("Sheet")
    for r, v in enumerate(ISO_DATES):
        ws.write(r, 0, v, xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss"))
        ws.write(r, 1, v, xlwt.easyxf(num_format_str="yyyy-mm-dd hh:mm:ss" if v.hour or v.minute or v.second else "yyyy-mm-dd"))
    twin.save(os.path.join(HERE, "isodates.xls"))


def xlsxwriter_values():
    wb = xlsxwriter.Workbook(os.path.join(HERE, "xlsxwriter_values.xlsx"), {"strings_to_numbers": False})
    ws = wb.add_worksheet("Values")
    for r, v in enumerate(xls.NUMBERS):
        ws.write_number(r, 0, v)
    ws.write_number(0, 6, 34)
    ws.write_number(0, 7, 35)
    for r, t in enumerate(xls.TEXTS):
        ws.write_string(r, 1, t)
    ws.write_boolean(0, 2, True)
    ws.write_formula(1, 2, "=1>2", None, False)  # a formula's cached boolean
    for r, e in enumerate(ERROR_TEXTS):
        ws.write_formula(r, 3, "=" + {"#NULL!": "A1 B1", "#DIV/0!": "1/0", "#VALUE!": "\"a\"+1",
                                      "#REF!": "#REF!", "#NAME?": "nope()", "#NUM!": "SQRT(-1)",
                                      "#N/A": "NA()"}[e], None, e)
    for r, (fmt, v) in enumerate(xls.DATES):
        f = wb.add_format({"num_format": fmt})
        if isinstance(v, DT):
            ws.write_datetime(r, 4, v, f)
        else:
            ws.write_number(r, 4, v, f)
        ws.write_string(r, 5, fmt)
    wb.close()


def xlsxwriter_rich():
    wb = xlsxwriter.Workbook(os.path.join(HERE, "xlsxwriter_rich.xlsx"))
    ws = wb.add_worksheet("Rich")
    bold, red = wb.add_format({"bold": True}), wb.add_format({"font_color": "red"})
    ws.write_rich_string(0, 0, "plain ", bold, "bold", " and ", red, "红色")
    ws.write_formula(1, 0, '="ab"&"中文"', None, "ab中文")
    ws.write_formula(2, 0, "=1/3", None, 1 / 3)
    ws.write_string(9, 5, "far away")   # F10: sparse rows and columns
    ws.write_number(9, 0, 42)
    ws.write_string(200, 2, "row 201")
    ws.write_string(3, 0, "line\r\nbreak")   # carriage return stored as _x000D_
    wb.close()
    twin = xlwt.Workbook(encoding="utf-8")
    ws = twin.add_sheet("Rich")
    ws.write(0, 0, "plain bold and 红色")
    ws.write(1, 0, "ab中文")
    ws.write(2, 0, 1 / 3)
    ws.write(9, 5, "far away")
    ws.write(9, 0, 42)
    ws.write(200, 2, "row 201")
    ws.write(3, 0, "line\r\nbreak")
    twin.save(os.path.join(HERE, "rich.xls"))


LO_SOURCES = ["values", "date1904", "active", "formulas", "biff5"]


def libreoffice():
    soffice = shutil.which("soffice") or "/usr/bin/soffice"
    with tempfile.TemporaryDirectory() as tmp:
        for name in LO_SOURCES:
            subprocess.run([soffice, "-env:UserInstallation=file:///tmp/lo_profile_xlsx", "--headless",
                            "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", tmp,
                            os.path.join(SHEET, name + ".xls")], check=True, stdout=subprocess.DEVNULL)
            shutil.move(os.path.join(tmp, name + ".xlsx"), os.path.join(HERE, "lo_" + name + ".xlsx"))
    with zipfile.ZipFile(os.path.join(HERE, "lo_date1904.xlsx")) as z:
        assert b'date1904="true"' in z.read("xl/workbook.xml") or b'date1904="1"' in z.read("xl/workbook.xml")


def main():
    openpyxl_values()
    openpyxl_active()
    openpyxl_1904()
    openpyxl_isodates()
    xlsxwriter_values()
    xlsxwriter_rich()
    if "--no-libreoffice" not in sys.argv:
        libreoffice()


if __name__ == "__main__":
    main()
