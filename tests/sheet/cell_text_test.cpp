// The cell-text rules every reader's cells go through: number and date
// spellings at their edges, which formats show dates, each kind of cell, and
// the names of cells.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "sheet/cell_text.h"

namespace xb::sheet {
namespace {

TEST(CellText, NumberAndDateSpellingsAtTheirEdges) {
  const std::vector<std::pair<double, std::string>> numbers = {
      {-0.0, "0"},
      {0.99999999999999999, "1"},
      {999999999999999.9, "1E+15"},
      {123.456, "123.456"},
      {0.000123456789012345678, "0.000123456789012346"},
      {std::numeric_limits<double>::max(), "1.79769313486232E+308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
      {-1e-5, "-1E-05"},
      {-0x0.091cdf016d1bap-1022, "-7.92054830076991E-310"},
      {0.1 + 0.7, "0.8"},
      {1.0 / 7, "0.142857142857143"},
      {1e14, "100000000000000"},
      {std::nan(""), "#NUM!"},
      {-HUGE_VAL, "#NUM!"}};
  for (const auto& [value, text] : numbers) EXPECT_EQ(FormatGeneralNumber(value), text) << value;

  struct DateCase {
    double serial;
    bool date1904;
    std::string text;
  };
  const std::vector<DateCase> dates = {{2958465.99998, false, "9999-12-31 23:59:58"},
                                       {2958466, false, ""},
                                       {-0.1, false, ""},
                                       {std::nan(""), false, ""},
                                       {0.999999999, false, "1900-1-1"},
                                       {59.5, false, "1900-2-28 12:00:00"},
                                       {0, true, "1904-1-1"},
                                       {1461, true, "1908-1-1"},
                                       {37834, false, "2003-8-1"},
                                       {1.0 / 86400, false, "0:00:01"}};
  for (const auto& d : dates) EXPECT_EQ(FormatDateSerial(d.serial, d.date1904), d.text) << d.serial;

  const std::vector<std::pair<std::string, bool>> codes = {
      {"yyyy-mm-dd", true},   {"h:mm AM/PM", true},  {"[h]:mm", true},
      {"[Red]0.00", false},   {"\"days\" 0", false}, {"0.00;[Red]\"dd\"-0.00", false},
      {"\\d\\a\\y 0", false}, {"_d0", false},        {"[$-804]yyyy\"年\"m\"月\"", true},
      {"General", false},     {"\"unclosed", false}, {"#,##0.00_);(#,##0.00)", false},
      {"0.0E+00", false}};
  for (const auto& [code, date] : codes) EXPECT_EQ(IsDateFormatCode(code), date) << code;
  EXPECT_TRUE(IsBuiltinDateFormat(14) && IsBuiltinDateFormat(22) && IsBuiltinDateFormat(47));
  EXPECT_FALSE(IsBuiltinDateFormat(0) || IsBuiltinDateFormat(11) || IsBuiltinDateFormat(49));
}

TypedCell Number(double value, int format_id, std::string code = "") {
  TypedCell cell;
  cell.type = TypedCell::Type::Number;
  cell.number = value;
  cell.format_id = format_id;
  cell.format_code = std::move(code);
  return cell;
}

TEST(CellText, EachKindOfCellReadsAsText) {
  DateFormats formats;
  const auto text = [&](const TypedCell& cell) {
    return CellText(cell, cell.type == TypedCell::Type::Number && formats.ShowsDate(cell), false);
  };
  EXPECT_EQ(text(Number(37834, 0)), "37834");
  EXPECT_EQ(text(Number(37834, 14)), "2003-8-1");  // built-in date format
  EXPECT_EQ(text(Number(37834.5, 164, "yyyy\\-mm\\-dd hh:mm")), "2003-8-1 12:00:00");
  EXPECT_EQ(text(Number(37834, 165, "#,##0.00")), "37834");  // a number format the file defines
  EXPECT_EQ(text(Number(0.25, 5000, "[h]:mm")), "6:00:00");  // an id past the small table
  EXPECT_EQ(text(Number(-1, 14)), "-1");                     // no valid date: the General spelling
  TypedCell cell;
  cell.type = TypedCell::Type::Boolean;
  cell.boolean = true;
  EXPECT_EQ(text(cell), "TRUE");
  cell.boolean = false;
  EXPECT_EQ(text(cell), "FALSE");
  cell.type = TypedCell::Type::Error;
  cell.text = "#DIV/0!";
  EXPECT_EQ(text(cell), "#DIV/0!");
  cell.type = TypedCell::Type::Text;
  cell.text = " 00123 ";
  EXPECT_EQ(text(cell), " 00123 ");
  cell.type = TypedCell::Type::Empty;
  EXPECT_EQ(text(cell), "");
  // The file's code for a built-in id beats the built-in format.
  EXPECT_FALSE(DateFormats().ShowsDate(Number(37834, 14, "0.00")));
  EXPECT_TRUE(DateFormats().ShowsDate(Number(37834, 1, "d/m")));
  // In the 1904 date system day 0 is a date, not a time of day.
  EXPECT_EQ(CellText(Number(0, 14), true, true), "1904-1-1");
}

TEST(CellText, CellNamesAsTheSheetShowsThem) {
  EXPECT_EQ(CellName(1, 1), "A1");
  EXPECT_EQ(CellName(17, 3), "C17");
  EXPECT_EQ(CellName(2, 26), "Z2");
  EXPECT_EQ(CellName(2, 27), "AA2");
  EXPECT_EQ(CellName(3, 52), "AZ3");
  EXPECT_EQ(CellName(3, 53), "BA3");
  EXPECT_EQ(CellName(65536, 256), "IV65536");
  EXPECT_EQ(CellName(1048576, 16384), "XFD1048576");
}

}  // namespace
}  // namespace xb::sheet
