// The .xls reader: real workbooks (written by xlwt, LibreOffice and
// Gnumeric, see tests/data/sheet/make_fixtures.py) read cell by cell and row
// by row, sheets whose records are out of order, refusal of damaged files, and
// every file of the fuzz and hostile corpora read or refused cleanly.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "sheet/cell_text.h"
#include "sheet/open_workbook.h"
#include "sheet/sheet.h"
#include "sheet/sheet_cells.h"
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

TEST(XlsReader, FixtureCellsReadAsTheSpreadsheetWouldShowThem) {
  const std::vector<CellCase> cases = {
      // General-format numbers (NUMBER, RK and MULRK records).
      {"values.xls", 1, 1, "33"},
      {"values.xls", 2, 1, "1.5"},
      {"values.xls", 3, 1, "0.1"},
      {"values.xls", 4, 1, "0.333333333333333"},
      {"values.xls", 5, 1, "1E+20"},
      {"values.xls", 6, 1, "-2.5E-07"},
      {"values.xls", 7, 1, "123456789012345"},
      {"values.xls", 8, 1, "1.23456789012346E+15"},
      {"values.xls", 9, 1, "0.0001"},
      {"values.xls", 10, 1, "1E-05"},
      {"values.xls", 11, 1, "-0.5"},
      {"values.xls", 12, 1, "2.675"},
      {"values.xls", 13, 1, "0.3"},
      {"values.xls", 14, 1, "1E+15"},
      {"values.xls", 15, 1, "999999999999999"},
      {"values.xls", 16, 1, "1E+16"},
      {"values.xls", 17, 1, "0"},
      {"values.xls", 18, 1, "-1"},
      {"values.xls", 19, 1, "12.34"},
      {"values.xls", 20, 1, "1E-300"},
      {"values.xls", 21, 1, "-123456.789"},
      {"values.xls", 22, 1, "2147483648"},
      {"values.xls", 23, 1, "1E+100"},
      {"values.xls", 1, 7, "34"},
      {"values.xls", 1, 8, "35"},
      // Text, including strings the shared string table splits across records.
      {"values.xls", 1, 2, "plain"},
      {"values.xls", 2, 2, "中文测试"},
      {"values.xls", 3, 2, "00123"},
      {"values.xls", 4, 2, "  padded  "},
      {"values.xls", 5, 2, Alphabet(10000)},
      {"values.xls", 6, 2, Repeat("汉字测试", 1500)},
      {"values.xls", 7, 2, "tail after long"},
      {"values.xls", 1, 3, "TRUE"},
      {"values.xls", 2, 3, "FALSE"},
      {"values.xls", 1, 4, "#NULL!"},
      {"values.xls", 2, 4, "#DIV/0!"},
      {"values.xls", 3, 4, "#VALUE!"},
      {"values.xls", 4, 4, "#REF!"},
      {"values.xls", 5, 4, "#NAME?"},
      {"values.xls", 6, 4, "#NUM!"},
      {"values.xls", 7, 4, "#N/A"},
      // Numbers under date, time and other formats (the format is in column F).
      {"values.xls", 1, 5, "2003-8-1"},
      {"values.xls", 2, 5, "2003-8-1 13:05:09"},
      {"values.xls", 3, 5, "9:05:03"},
      {"values.xls", 4, 5, "2020-2-29 23:59:59"},
      {"values.xls", 5, 5, "1900-1-1 12:00:00"},
      {"values.xls", 6, 5, "2010-1-2"},
      {"values.xls", 7, 5, "5"},
      {"values.xls", 8, 5, "5"},
      {"values.xls", 9, 5, "-5"},
      {"values.xls", 10, 5, "1999-12-31"},
      {"values.xls", 11, 5, "1234.5"},
      {"values.xls", 12, 5, "12:00:00"},
      {"values.xls", 13, 5, "7"},
      {"values.xls", 14, 5, "1900-2-29"},
      {"values.xls", 15, 5, "1900-3-1"},
      {"values.xls", 16, 5, "1900-1-1"},
      {"values.xls", 17, 5, "-1"},
      {"values.xls", 18, 5, "0:00:00"},
      {"values.xls", 19, 5, "2000-1-1"},
      {"values.xls", 20, 5, "0.25"},
      {"values.xls", 21, 5, "3"},
      {"values.xls", 1, 6, "yyyy-mm-dd"},
      // Outside the used range.
      {"values.xls", 24, 1, ""},
      {"values.xls", 1, 9, ""},
      {"values.xls", 0, 1, ""},
      {"values.xls", 1, 0, ""},
      {"values.xls", 65537, 1, ""},
      {"values.xls", 1, 257, ""},
      {"date1904.xls", 1, 1, "2003-8-1"},
      {"date1904.xls", 2, 1, "1904-1-1"},
      {"date1904.xls", 3, 1, "1904-1-2 6:00:00"},
      {"date1904.xls", 4, 1, "1904-1-1 6:00:00"},
      {"active.xls", 1, 1, "Third"},
      {"active.xls", 2, 2, "3"},
      // Formula cells give their cached results.
      {"formulas.xls", 1, 1, "3"},
      {"formulas.xls", 2, 1, "0.333333333333333"},
      {"formulas.xls", 3, 1, "ab中文"},
      {"formulas.xls", 4, 1, "TRUE"},
      {"formulas.xls", 5, 1, "FALSE"},
      {"formulas.xls", 6, 1, "#DIV/0!"},
      {"formulas.xls", 7, 1, "#N/A"},
      {"formulas.xls", 8, 1, ""},
      {"formulas.xls", 9, 1, std::string(300, 'x')},
      {"formulas.xls", 10, 1, "1.18059162071741E+21"},
      // Excel 95 (BIFF5): byte strings in the workbook's code page, its active sheet.
      {"biff5.xls", 1, 1, "33"},
      {"biff5.xls", 2, 1, "0.333333333333333"},
      {"biff5.xls", 3, 1, "Größe"},
      {"biff5.xls", 4, 1, "€5"},
      {"biff5.xls", 5, 1, "2003-8-1 13:05:09"},
      {"biff5.xls", 6, 1, "3"},
      {"biff5.xls", 7, 1, "abcd"},
      {"biff5.xls", 8, 1, "TRUE"},
      {"biff5.xls", 9, 1, "#DIV/0!"},
      {"biff5.xls", 10, 1, "TRUE"},
      {"biff5.xls", 11, 1, std::string(300, 'x')},
      // ... and Gnumeric's variant with code page 1200 (UTF-16) byte strings.
      {"biff5_utf16.xls", 1, 1, "Größe"},
      {"biff5_utf16.xls", 2, 1, "€5"},
      {"biff5_utf16.xls", 3, 1, "中文"},
      {"biff5_utf16.xls", 4, 1, "plain"},
  };
  std::map<std::string, SheetCells> sheets;
  for (const auto& c : cases) {
    auto it = sheets.find(c.file);
    if (it == sheets.end())
      it = sheets
               .emplace(c.file, SheetCells::Read(
                                    *OpenWorkbookReader(std::string(XB_SHEET_DATA "/") + c.file)))
               .first;
    EXPECT_EQ(it->second.cellText(c.row, c.column), c.text)
        << c.file << " row " << c.row << " column " << c.column;
  }
  EXPECT_EQ(sheets.at("active.xls").sheetName(), "Third");
  EXPECT_EQ(sheets.at("biff5.xls").sheetName(), "Data");
  EXPECT_TRUE(sheets.at("date1904.xls").date1904());
  EXPECT_FALSE(sheets.at("values.xls").date1904());
}

TEST(XlsReader, RowsComeOnceEachWithTypedCellsInColumnOrder) {
  auto reader = OpenWorkbookReader(XB_SHEET_DATA "/values.xls");
  EXPECT_FALSE(reader->date1904());
  TypedRow row;
  int rows = 0, last = 0;
  std::map<std::string, TypedCell> first_row;
  while (reader->nextRow(row)) {
    EXPECT_GT(row.row, last);
    last = row.row;
    ++rows;
    for (size_t i = 1; i < row.cells.size(); ++i)
      EXPECT_LT(row.cells[i - 1].column, row.cells[i].column);
    if (row.row == 1)
      for (const auto& cell : row.cells) first_row[CellName(1, cell.column)] = cell;
  }
  EXPECT_EQ(rows, 23);
  EXPECT_FALSE(reader->nextRow(row));
  ASSERT_EQ(first_row.size(), 8u);
  EXPECT_EQ(first_row["A1"].type, TypedCell::Type::Number);
  EXPECT_EQ(first_row["A1"].number, 33);
  EXPECT_EQ(first_row["B1"].type, TypedCell::Type::Text);
  EXPECT_EQ(first_row["B1"].text, "plain");
  EXPECT_GE(first_row["B1"].shared_string, 0);
  EXPECT_EQ(first_row["C1"].type, TypedCell::Type::Boolean);
  EXPECT_TRUE(first_row["C1"].boolean);
  EXPECT_EQ(first_row["D1"].type, TypedCell::Type::Error);
  EXPECT_EQ(first_row["D1"].text, "#NULL!");
  EXPECT_EQ(first_row["E1"].type, TypedCell::Type::Number);
  EXPECT_TRUE(DateFormats().ShowsDate(first_row["E1"]))
      << first_row["E1"].format_id << " " << first_row["E1"].format_code;
  EXPECT_FALSE(DateFormats().ShowsDate(first_row["A1"]));
}

// A hand-made workbook stream: the globals name one sheet, whose cell
// records follow as given.
class BiffStream {
 public:
  void Record(uint16_t id, const std::vector<uint8_t>& data) {
    Put16(bytes_, id);
    Put16(bytes_, uint16_t(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  static std::vector<uint8_t> Cell(uint16_t row, uint16_t column) {
    std::vector<uint8_t> d;
    Put16(d, row);
    Put16(d, column);
    Put16(d, 0);  // XF
    return d;
  }
  void Number(uint16_t row, uint16_t column, double value) {
    std::vector<uint8_t> d = Cell(row, column);
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 0; i < 8; ++i) d.push_back(uint8_t(bits >> (8 * i)));
    Record(0x0203, d);
  }
  void Label(uint16_t row, uint16_t column, const std::string& ascii) {
    std::vector<uint8_t> d = Cell(row, column);
    Put16(d, uint16_t(ascii.size()));
    d.push_back(0);  // 8-bit characters
    d.insert(d.end(), ascii.begin(), ascii.end());
    Record(0x0204, d);
  }
  void BoolErr(uint16_t row, uint16_t column, uint8_t value, bool error) {
    std::vector<uint8_t> d = Cell(row, column);
    d.push_back(value);
    d.push_back(error ? 1 : 0);
    Record(0x0205, d);
  }
  // The whole stream: globals, then the sheet around the cell records.
  std::vector<uint8_t> Workbook() const {
    std::vector<uint8_t> globals;
    const std::vector<uint8_t> bof_globals = {0x00, 0x06, 0x05, 0x00},
                               bof_sheet = {0x00, 0x06, 0x10, 0x00};
    const auto add = [](std::vector<uint8_t>& to, uint16_t id, const std::vector<uint8_t>& data) {
      Put16(to, id);
      Put16(to, uint16_t(data.size()));
      to.insert(to.end(), data.begin(), data.end());
    };
    add(globals, 0x0809, bof_globals);
    const size_t sheet_at = globals.size() + 4 + 11 + 4;  // after BOUNDSHEET and EOF
    // Offset, visibility, kind, then the name: 3 8-bit characters.
    const std::vector<uint8_t> boundsheet = {
        uint8_t(sheet_at), uint8_t(sheet_at >> 8), 0, 0, 0, 0, 3, 0, 'O', 'n', 'e'};
    add(globals, 0x0085, boundsheet);
    add(globals, 0x000A, {});
    add(globals, 0x0809, bof_sheet);
    globals.insert(globals.end(), bytes_.begin(), bytes_.end());
    add(globals, 0x000A, {});
    return globals;
  }

 private:
  static void Put16(std::vector<uint8_t>& to, uint16_t v) {
    to.push_back(uint8_t(v));
    to.push_back(uint8_t(v >> 8));
  }
  std::vector<uint8_t> bytes_;
};

// Every row as "row: column=text ..." lines.
std::vector<std::string> Rows(WorkbookReader& reader) {
  std::vector<std::string> out;
  TypedRow row;
  while (reader.nextRow(row)) {
    std::string line = std::to_string(row.row) + ":";
    for (const auto& cell : row.cells)
      line += " " + CellName(row.row, cell.column) + "=" + CellText(cell, false, false);
    out.push_back(line);
  }
  return out;
}

TEST(XlsReader, RecordsOutOfOrderComeInRowsAndColumnsAndTheLaterRecordWins) {
  BiffStream in_order;
  in_order.Number(0, 2, 3);
  in_order.Number(0, 0, 1);   // columns out of order within a row
  in_order.Label(0, 2, "c");  // the same cell again: the later record wins
  in_order.BoolErr(2, 1, 1, false);
  in_order.Number(2, 300, 9);  // past column IV, where Excel writes none: read all the same
  EXPECT_EQ(Rows(*OpenXlsStream(in_order.Workbook())),
            (std::vector<std::string>{"1: A1=1 C1=c", "3: B3=TRUE KO3=9"}));

  // Past the sheet's last column a cell cannot be placed: refused by name, never dropped.
  BiffStream too_wide;
  too_wide.Number(0, 0, 1);
  too_wide.Number(4, 16384, 2);
  try {
    Rows(*OpenXlsStream(too_wide.Workbook()));
    ADD_FAILURE() << "a cell past column XFD was read";
  } catch (const SheetError& e) {
    EXPECT_STREQ(e.what(), "cell XFE5 lies past the sheet's last column");
  }

  BiffStream shuffled;
  shuffled.Number(4, 0, 5);
  shuffled.Label(0, 1, "b");
  shuffled.BoolErr(1, 3, 0x07, true);
  shuffled.Number(0, 0, 1);
  shuffled.Number(4, 0, 6);
  shuffled.Number(0, 1, 2);
  shuffled.BoolErr(1, 0, 0, false);
  EXPECT_EQ(Rows(*OpenXlsStream(shuffled.Workbook())),
            (std::vector<std::string>{"1: A1=1 B1=2", "2: A2=FALSE D2=#DIV/0!", "5: A5=6"}));
  // ... and the import's look-ups see the same.
  const SheetCells cells = SheetCells::Read(*OpenXlsStream(shuffled.Workbook()));
  EXPECT_EQ(cells.cellText(1, 2), "2");
  EXPECT_EQ(cells.cellText(5, 1), "6");
  EXPECT_TRUE(cells.isError(2, 4));
  EXPECT_FALSE(cells.isError(2, 1));
  EXPECT_EQ(cells.sheetName(), "One");
}

// Reads every row and cell of the bytes; the refusal's message ("" when read).
std::string Refusal(const std::string& bytes) {
  try {
    auto reader = OpenXlsReader(bytes);
    SheetCells::Read(*reader);
    return "";
  } catch (const SheetError& e) {
    return e.what();
  }
}

TEST(XlsFaults, DamagedWorkbooksAreRefusedWithAMessage) {
  const fs::path hostile = fs::path(XB_TEST_DATA) / "hostile" / "corpus";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"encrypted-0.xls", "password"},
      {"fat-self-loop.xls", ""},
      {"fat-two-loop.xls", ""},
      {"difat-loop-1.xls", ""},
      {"directory-loop.xls", ""},
      {"sst-count-2147483648-5.xls", ""},
      {"xlsx-renamed.xls", ""},
      {"empty.xls", ""},
      {"biff4-in-container.xls", "old Excel file format"}};
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

// Workbooks as some writers leave them (tests/data/sheet/quirks/make_quirks.py).
TEST(XlsQuirks, WorkbooksOtherProgramsOpenAreReadCellForCell) {
  const fs::path quirks = fs::path(XB_SHEET_DATA) / "quirks";
  // A refusal is named and the next workbook still checked.
  const auto read = [&](const char* name) {
    try {
      return SheetCells::Read(*OpenWorkbookReader((quirks / name).string()));
    } catch (const SheetError& e) {
      ADD_FAILURE() << name << " refused: " << e.what();
      return SheetCells();
    }
  };
  // The file stops where its workbook stream does, inside the last sector...
  const SheetCells unpadded = read("unpadded.xls");
  EXPECT_EQ(unpadded.cellText(200, 1), "row 200");
  EXPECT_EQ(unpadded.cellText(200, 2), "200");
  // ... but a byte of the stream missing is still a truncated file.
  const std::string whole = Slurp(quirks / "unpadded.xls");
  EXPECT_NE(Refusal(whole.substr(0, whole.size() - 1)).find("truncated"), std::string::npos);

  // Formulas in the older record keep their cached results, text included.
  const SheetCells formulas = read("formula_biff4.xls");
  EXPECT_EQ(formulas.cellText(1, 1), "42.5");
  EXPECT_EQ(formulas.cellText(2, 1), "cached!");
  EXPECT_EQ(formulas.cellText(3, 1), "after");

  // Spare flag bits of a string outside the shared string table mean nothing.
  const SheetCells flags = read("format_flags.xls");
  EXPECT_EQ(flags.cellText(1, 1), "1.5");
  EXPECT_EQ(flags.cellText(2, 1), "ok");

  // Excel 95 streams without their compound file, or with version 0x0580.
  for (const char* name : {"biff5_bare.xls", "biff5_0580.xls"}) {
    const SheetCells biff5 = read(name);
    EXPECT_EQ(biff5.sheetName(), "Data") << name;
    EXPECT_EQ(biff5.cellText(3, 1), "Größe") << name;
    EXPECT_EQ(biff5.cellText(5, 1), "2003-8-1 13:05:09") << name;
  }
}

TEST(XlsQuirks, ValuesThatAreNoCellsAreRefusedNamingWhy) {
  // The active tab is a chart: its cached series values are no cells.
  const std::string chart = Refusal(Slurp(fs::path(XB_SHEET_DATA) / "quirks" / "chart_active.xls"));
  EXPECT_NE(chart.find("the active sheet \"Chart1\" is a chart"), std::string::npos) << chart;

  // A NaN or an infinity held as a number (NUMBER, RK, a formula's result)
  // is the error #NUM!, which the import refuses naming the cell.
  const SheetCells nan =
      SheetCells::Read(*OpenWorkbookReader(XB_SHEET_DATA "/quirks/not_a_number.xls"));
  for (int row = 4; row <= 7; ++row) {
    EXPECT_TRUE(nan.isError(row, 1)) << "row " << row;
    EXPECT_EQ(nan.cellText(row, 1), "#NUM!") << "row " << row;
    EXPECT_EQ(nan.cellText(row, 2), "text " + std::to_string(row)) << "row " << row;
  }

  // A cell in a record of the oldest format is refused, named, never dropped.
  BiffStream old;
  old.Number(0, 0, 1);
  std::vector<uint8_t> biff2 = {2, 0, 1, 0, 0, 0, 0};  // B3, three attribute bytes
  for (int i = 0; i < 8; ++i) biff2.push_back(0);
  old.Record(0x0003, biff2);
  const std::vector<uint8_t> stream = old.Workbook();
  const std::string message = Refusal(std::string(stream.begin(), stream.end()));
  EXPECT_NE(message.find("cell B3"), std::string::npos) << message;
}

TEST(WorkbookReader, TheContentChoosesTheReaderAndOtherFilesAreRefusedWithAReason) {
  const ::xb::test::TempDir folder;
  const fs::path dir = folder.path();
  const auto refusal = [&](const std::string& name, const std::string& bytes) -> std::string {
    std::ofstream(dir / name, std::ios::binary) << bytes;
    try {
      OpenWorkbookReader((dir / name).string());
      return "";
    } catch (const SheetError& e) {
      return e.what();
    }
  };
  // An .xls workbook by any name.
  fs::copy_file(fs::path(XB_SHEET_DATA) / "active.xls", dir / "book.txt");
  EXPECT_EQ(OpenWorkbookReader((dir / "book.txt").string())->activeSheetName(), "Third");
  EXPECT_NE(refusal("notes.xls", "just some text\n").find("not an Excel .xls workbook"),
            std::string::npos);
  EXPECT_NE(refusal("empty.xls", "").find("not an Excel .xls workbook"), std::string::npos);
  EXPECT_NE(refusal("zip.xls", std::string("PK\x03\x04", 4) + std::string(100, '\0')), "");
  try {
    OpenWorkbookReader(dir.string());
    ADD_FAILURE() << "a folder was opened";
  } catch (const SheetError& e) {
    EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos) << e.what();
  }
}

// Every file the fuzzer kept and every file of the hostile corpus is read to
// its last cell or refused with a SheetError: nothing else (under the
// sanitizer build: no memory fault either).
TEST(WorkbookReader, FuzzAndHostileCorporaAreReadOrRefusedCleanly) {
  for (const fs::path& corpus :
       {fs::path(XB_SHEET_DATA) / "fuzz_corpus", fs::path(XB_TEST_DATA) / "hostile" / "corpus"}) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(corpus)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    EXPECT_GE(files.size(), 140u) << corpus;
    int read = 0, refused = 0;
    for (const auto& file : files) {
      try {
        const SheetCells cells = SheetCells::Read(*OpenWorkbookReader(file.string()));
        for (int r = 1; r <= 20; ++r)
          for (int c = 1; c <= 8; ++c) (void)cells.cellText(r, c);
        ++read;
      } catch (const SheetError&) {
        ++refused;
      } catch (const std::exception& e) {
        ADD_FAILURE() << file << ": " << e.what();
      }
    }
    EXPECT_GT(refused, 0) << corpus;
    std::cout << corpus.filename() << ": " << read << " read, " << refused << " refused\n";
  }
}

}  // namespace
}  // namespace xb::sheet
