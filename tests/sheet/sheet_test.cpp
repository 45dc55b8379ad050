// The spreadsheet layer: cell texts of real workbooks (written by xlwt,
// LibreOffice and Gnumeric, see tests/data/sheet/make_fixtures.py), the number and date
// spellings at their edges, refusal of damaged files, and the .xlsx export
// read back by openpyxl.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "sheet/file_engine.h"
#include "sheet/sheet.h"
#include "sheet/xls_reader.h"

#include "support/temp_dir.h"

namespace xb::sheet {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

std::string Alphabet(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += char('a' + i % 26);
  return out;
}

struct CellCase {
  const char* file;
  int row, column;
  std::string text;
};

TEST(CellText, FixtureCellsReadAsTheSpreadsheetWouldShowThem) {
  const std::vector<CellCase> cases = {
      // General-format numbers (NUMBER, RK and MULRK records).
      {"values.xls", 1, 1, "33"}, {"values.xls", 2, 1, "1.5"}, {"values.xls", 3, 1, "0.1"},
      {"values.xls", 4, 1, "0.333333333333333"}, {"values.xls", 5, 1, "1E+20"}, {"values.xls", 6, 1, "-2.5E-07"},
      {"values.xls", 7, 1, "123456789012345"}, {"values.xls", 8, 1, "1.23456789012346E+15"},
      {"values.xls", 9, 1, "0.0001"}, {"values.xls", 10, 1, "1E-05"}, {"values.xls", 11, 1, "-0.5"},
      {"values.xls", 12, 1, "2.675"}, {"values.xls", 13, 1, "0.3"}, {"values.xls", 14, 1, "1E+15"},
      {"values.xls", 15, 1, "999999999999999"}, {"values.xls", 16, 1, "1E+16"}, {"values.xls", 17, 1, "0"},
      {"values.xls", 18, 1, "-1"}, {"values.xls", 19, 1, "12.34"}, {"values.xls", 20, 1, "1E-300"},
      {"values.xls", 21, 1, "-123456.789"}, {"values.xls", 22, 1, "2147483648"}, {"values.xls", 23, 1, "1E+100"},
      {"values.xls", 1, 7, "34"}, {"values.xls", 1, 8, "35"},
      // Text, including strings the shared string table splits across records.
      {"values.xls", 1, 2, "plain"}, {"values.xls", 2, 2, "中文测试"}, {"values.xls", 3, 2, "00123"},
      {"values.xls", 4, 2, "  padded  "}, {"values.xls", 5, 2, Alphabet(10000)},
      {"values.xls", 6, 2, Repeat("汉字测试", 1500)}, {"values.xls", 7, 2, "tail after long"},
      {"values.xls", 1, 3, "TRUE"}, {"values.xls", 2, 3, "FALSE"},
      {"values.xls", 1, 4, "#NULL!"}, {"values.xls", 2, 4, "#DIV/0!"}, {"values.xls", 3, 4, "#VALUE!"},
      {"values.xls", 4, 4, "#REF!"}, {"values.xls", 5, 4, "#NAME?"}, {"values.xls", 6, 4, "#NUM!"},
      {"values.xls", 7, 4, "#N/A"},
      // Numbers under date, time and other formats (the format is in column F).
      {"values.xls", 1, 5, "2003-8-1"}, {"values.xls", 2, 5, "2003-8-1 13:05:09"}, {"values.xls", 3, 5, "9:05:03"},
      {"values.xls", 4, 5, "2020-2-29 23:59:59"}, {"values.xls", 5, 5, "1900-1-1 12:00:00"},
      {"values.xls", 6, 5, "2010-1-2"}, {"values.xls", 7, 5, "5"}, {"values.xls", 8, 5, "5"},
      {"values.xls", 9, 5, "-5"}, {"values.xls", 10, 5, "1999-12-31"}, {"values.xls", 11, 5, "1234.5"},
      {"values.xls", 12, 5, "12:00:00"}, {"values.xls", 13, 5, "7"}, {"values.xls", 14, 5, "1900-2-29"},
      {"values.xls", 15, 5, "1900-3-1"}, {"values.xls", 16, 5, "1900-1-1"}, {"values.xls", 17, 5, "-1"},
      {"values.xls", 18, 5, "0:00:00"}, {"values.xls", 19, 5, "2000-1-1"}, {"values.xls", 20, 5, "0.25"},
      {"values.xls", 21, 5, "3"}, {"values.xls", 1, 6, "yyyy-mm-dd"},
      // Outside the used range.
      {"values.xls", 24, 1, ""}, {"values.xls", 1, 9, ""}, {"values.xls", 0, 1, ""}, {"values.xls", 1, 0, ""},
      {"values.xls", 65537, 1, ""}, {"values.xls", 1, 257, ""},
      {"date1904.xls", 1, 1, "2003-8-1"}, {"date1904.xls", 2, 1, "1904-1-1"},
      {"date1904.xls", 3, 1, "1904-1-2 6:00:00"}, {"date1904.xls", 4, 1, "1904-1-1 6:00:00"},
      {"active.xls", 1, 1, "Third"}, {"active.xls", 2, 2, "3"},
      // Formula cells give their cached results.
      {"formulas.xls", 1, 1, "3"}, {"formulas.xls", 2, 1, "0.333333333333333"}, {"formulas.xls", 3, 1, "ab中文"},
      {"formulas.xls", 4, 1, "TRUE"}, {"formulas.xls", 5, 1, "FALSE"}, {"formulas.xls", 6, 1, "#DIV/0!"},
      {"formulas.xls", 7, 1, "#N/A"}, {"formulas.xls", 8, 1, ""}, {"formulas.xls", 9, 1, std::string(300, 'x')},
      {"formulas.xls", 10, 1, "1.18059162071741E+21"},
      // Excel 95 (BIFF5): byte strings in the workbook's code page, its active sheet.
      {"biff5.xls", 1, 1, "33"}, {"biff5.xls", 2, 1, "0.333333333333333"}, {"biff5.xls", 3, 1, "Größe"},
      {"biff5.xls", 4, 1, "€5"}, {"biff5.xls", 5, 1, "2003-8-1 13:05:09"}, {"biff5.xls", 6, 1, "3"},
      {"biff5.xls", 7, 1, "abcd"}, {"biff5.xls", 8, 1, "TRUE"}, {"biff5.xls", 9, 1, "#DIV/0!"},
      {"biff5.xls", 10, 1, "TRUE"}, {"biff5.xls", 11, 1, std::string(300, 'x')},
      // ... and Gnumeric's variant with code page 1200 (UTF-16) byte strings.
      {"biff5_utf16.xls", 1, 1, "Größe"}, {"biff5_utf16.xls", 2, 1, "€5"}, {"biff5_utf16.xls", 3, 1, "中文"},
      {"biff5_utf16.xls", 4, 1, "plain"},
  };
  std::map<std::string, XlsSheet> sheets;
  for (const auto& c : cases) {
    auto it = sheets.find(c.file);
    if (it == sheets.end()) it = sheets.emplace(c.file, XlsSheet::Load(std::string(XB_SHEET_DATA "/") + c.file)).first;
    EXPECT_EQ(it->second.cellText(c.row, c.column), c.text) << c.file << " row " << c.row << " column " << c.column;
  }
  EXPECT_EQ(sheets.at("active.xls").sheetName(), "Third");
  EXPECT_EQ(sheets.at("biff5.xls").sheetName(), "Data");
  EXPECT_TRUE(sheets.at("date1904.xls").date1904());
  EXPECT_FALSE(sheets.at("values.xls").date1904());
}

TEST(CellText, NumberAndDateSpellingsAtTheirEdges) {
  const std::vector<std::pair<double, std::string>> numbers = {
      {-0.0, "0"}, {0.99999999999999999, "1"}, {999999999999999.9, "1E+15"}, {123.456, "123.456"},
      {0.000123456789012345678, "0.000123456789012346"}, {std::numeric_limits<double>::max(), "1.79769313486232E+308"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"}, {-1e-5, "-1E-05"},
      {-0x0.091cdf016d1bap-1022, "-7.92054830076991E-310"}, {0.1 + 0.7, "0.8"}, {1.0 / 7, "0.142857142857143"},
      {1e14, "100000000000000"}, {std::nan(""), "#NUM!"}, {-HUGE_VAL, "#NUM!"}};
  for (const auto& [value, text] : numbers) EXPECT_EQ(FormatGeneralNumber(value), text) << value;

  struct DateCase { double serial; bool date1904; std::string text; };
  const std::vector<DateCase> dates = {
      {2958465.99998, false, "9999-12-31 23:59:58"}, {2958466, false, ""}, {-0.1, false, ""},
      {std::nan(""), false, ""}, {0.999999999, false, "1900-1-1"}, {59.5, false, "1900-2-28 12:00:00"},
      {0, true, "1904-1-1"}, {1461, true, "1908-1-1"}, {37834, false, "2003-8-1"}, {1.0 / 86400, false, "0:00:01"}};
  for (const auto& d : dates) EXPECT_EQ(FormatDateSerial(d.serial, d.date1904), d.text) << d.serial;

  const std::vector<std::pair<std::string, bool>> codes = {
      {"yyyy-mm-dd", true}, {"h:mm AM/PM", true}, {"[h]:mm", true}, {"[Red]0.00", false}, {"\"days\" 0", false},
      {"0.00;[Red]\"dd\"-0.00", false}, {"\\d\\a\\y 0", false}, {"_d0", false}, {"[$-804]yyyy\"年\"m\"月\"", true},
      {"General", false}, {"\"unclosed", false}, {"#,##0.00_);(#,##0.00)", false}, {"0.0E+00", false}};
  for (const auto& [code, date] : codes) EXPECT_EQ(IsDateFormatCode(code), date) << code;
  EXPECT_TRUE(IsBuiltinDateFormat(14) && IsBuiltinDateFormat(22) && IsBuiltinDateFormat(47));
  EXPECT_FALSE(IsBuiltinDateFormat(0) || IsBuiltinDateFormat(11) || IsBuiltinDateFormat(49));
}

// Parses bytes and returns the refusal's message ("" when parsed).
std::string Refusal(const std::string& bytes) {
  try {
    XlsSheet::Parse(bytes);
    return "";
  } catch (const SheetError& e) {
    return e.what();
  }
}

TEST(XlsFaults, DamagedWorkbooksAreRefusedWithAMessage) {
  const fs::path hostile = fs::path(XB_TEST_DATA) / "hostile" / "corpus";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"encrypted-0.xls", "password"}, {"fat-self-loop.xls", ""}, {"fat-two-loop.xls", ""},
      {"difat-loop-1.xls", ""}, {"directory-loop.xls", ""}, {"sst-count-2147483648-5.xls", ""},
      {"xlsx-renamed.xls", ""}, {"empty.xls", ""}, {"biff4-in-container.xls", "old Excel file format"}};
  for (const auto& [name, words] : files) {
    const std::string message = Refusal(Slurp(hostile / name));
    EXPECT_NE(message, "") << name << " was parsed";
    EXPECT_NE(message.find(words), std::string::npos) << name << ": " << message;
  }
  // Cut at every sector boundary: refused, never read as a shorter sheet.
  const std::string whole = Slurp(fs::path(XB_SHEET_DATA) / "formulas.xls");
  ASSERT_EQ(Refusal(whole), "");
  for (size_t cut = 0; cut < whole.size(); cut += 512)
    EXPECT_NE(Refusal(whole.substr(0, cut)), "") << "cut at " << cut;
}

TEST(FileEngine, OpenReportsTheFileAndItsFault) {
  auto instance = MakeFileServer()->create();
  EXPECT_THROW(instance->cellText(1, 1), SheetError);
  try {
    instance->openWorkbook("/nonexistent/book.xls");
    FAIL() << "opened a missing file";
  } catch (const SheetError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/book.xls"), std::string::npos) << e.what();
  }
  instance->openWorkbook(XB_SHEET_DATA "/active.xls");
  EXPECT_EQ(instance->cellText(1, 1), "Third");
}

class FileExport : public testing::Test {
 protected:
  void SetUp() override { dir_ = temp_.path(); }

  // Each non-empty cell as "row,column,type,value" per openpyxl.
  std::vector<std::string> ReadBack(const fs::path& xlsx) {
    const fs::path script = dir_ / "read.py";
    std::ofstream(script) << "import sys, openpyxl\n"
                             "ws = openpyxl.load_workbook(sys.argv[1], read_only=True).active\n"
                             "for row in ws.iter_rows():\n"
                             "    for c in row:\n"
                             "        if c.value is not None:\n"
                             "            print('%d,%d,%s,%s' % (c.row, c.column, c.data_type, c.value))\n";
    FILE* pipe = popen(("/usr/bin/python3 " + script.string() + " " + xlsx.string()).c_str(), "r");
    std::vector<std::string> lines;
    if (!pipe) return lines;
    std::string all;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) all.append(buf, n);
    pclose(pipe);
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  test::TempDir temp_;
  fs::path dir_;
};

TEST_F(FileExport, EveryValueIsATextCell) {
  if (system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") != 0)
    GTEST_SKIP() << "python3-openpyxl is not installed: the export is not read back";
  FileEngineOptions options;
  options.output_path = (dir_ / "out.xlsx").string();
  auto instance = MakeFileServer(options)->create();
  instance->addWorkbook();
  const std::vector<std::tuple<int, int, std::string>> cells = {
      {1, 1, "id"}, {1, 2, "名称"}, {2, 1, "00123"}, {2, 2, "1E+20"}, {2, 3, "=1+2"}, {2, 4, "TRUE"},
      {3, 2, ""}, {5, 1, "2003-8-1"}, {5, 16384, "last column"}, {6, 1, std::string(32767, 'x')}};
  for (const auto& [row, column, text] : cells) instance->setCell(row, column, text);
  instance->setVisible(true);
  EXPECT_EQ(ReadBack(dir_ / "out.xlsx"),
            (std::vector<std::string>{"1,1,s,id", "1,2,s,名称", "2,1,s,00123", "2,2,s,1E+20", "2,3,s,=1+2",
                                      "2,4,s,TRUE", "5,1,s,2003-8-1", "5,16384,s,last column",
                                      "6,1,s," + std::string(32767, 'x')}));
  // Only the finished workbook is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

TEST_F(FileExport, WhatDoesNotFitFailsAndNothingIsLeftBehind) {
  FileEngineOptions options;
  options.exports_dir = dir_.string();
  auto instance = MakeFileServer(options)->create();
  EXPECT_THROW(instance->setCell(1, 1, "x"), SheetError);
  instance->addWorkbook();
  instance->setCell(1, 1, "first");
  instance->setCell(1048576, 1, "last row");
  EXPECT_THROW(instance->setCell(1048577, 1, "one too many"), SheetError);
  EXPECT_THROW(instance->setCell(1048576, 16385, "one column too many"), SheetError);
  EXPECT_THROW(instance->setCell(10, 1, "written after a later row"), SheetError);
  EXPECT_THROW(instance->setCell(1048576, 2, std::string(32768, 'x')), SheetError);
  instance->quit();
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(FileExport, ShownWorkbooksGetNewNamesAndThePathWhenNothingOpensThem) {
  std::vector<std::string> launched, told;
  FileEngineOptions options;
  options.exports_dir = (dir_ / "exports").string();
  options.launch_viewer = [&](const std::string& path) { launched.push_back(path); return false; };
  options.on_unviewable = [&](const std::string& path) { told.push_back(path); };
  auto instance = MakeFileServer(options)->create();
  for (int i = 0; i < 2; ++i) {
    instance->addWorkbook();
    instance->setCell(1, 1, "a");
    instance->setVisible(true);
  }
  ASSERT_EQ(launched.size(), 2u);
  EXPECT_EQ(told, launched);
  EXPECT_NE(launched[0], launched[1]);
  for (const auto& path : launched) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "exports"), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace xb::sheet
