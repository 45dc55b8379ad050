// A large sheet is parsed by two parsers at once, the second from a row tag
// it finds past the middle of the sheet's XML. Whatever lies there (a row tag
// in a comment, CDATA or processing instruction, a nested row, rows out of
// order or without a number, a fault further on, another encoding), the
// import's cells and reasons are those of one parser reading the sheet.

#include <gtest/gtest.h>
#include <zip.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sheet/reader.h"
#include "sheet/sheet.h"
#include "sheet/sheet_cells.h"
#include "sheet/xlsx/xlsx_reader.h"
#include "support/temp_dir.h"

namespace xb::sheet {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 400;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The seed package (three shared strings, a date style) with this sheet.
std::string WithSheet(const std::string& sheet) {
  const ::xb::test::TempDir folder;
  const fs::path path = folder.path() / "book.xlsx";
  fs::copy_file(fs::path(XB_TEST_DATA) / "xlsx_hostile" / "corpus" / "seed-good.xlsx", path);
  int code = 0;
  zip_t* zip = zip_open(path.c_str(), 0, &code);
  EXPECT_NE(zip, nullptr);
  zip_source_t* source = zip_source_buffer(zip, sheet.data(), sheet.size(), 0);
  EXPECT_GE(zip_file_add(zip, "xl/worksheets/sheet1.xml", source, ZIP_FL_OVERWRITE), 0);
  EXPECT_EQ(zip_close(zip), 0);
  return Slurp(path);
}

std::string Row(int r, const std::string& prefix = "") {
  const std::string n = std::to_string(r);
  return "<" + prefix + "row r=\"" + n + "\"><" + prefix + "c r=\"A" + n + "\" t=\"s\"><" + prefix +
         "v>" + std::to_string(r % 3) + "</" + prefix + "v></" + prefix + "c><" + prefix +
         "c r=\"B" + n + "\"><" + prefix + "v>" + n + ".5</" + prefix + "v></" + prefix + "c><" +
         prefix + "c r=\"C" + n + "\" t=\"inlineStr\"><" + prefix + "is><" + prefix + "t>r" + n +
         "</" + prefix + "t></" + prefix + "is></" + prefix + "c></" + prefix + "row>";
}

// kRows rows, with `odd` put in before row `at` (and row `at` itself left
// out when `replace`).
std::string Sheet(int at, const std::string& odd, bool replace = false,
                  const std::string& decl = "UTF-8", const std::string& prefix = "") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"" + decl + "\"?><" + prefix +
                    "worksheet xmlns" + (prefix.empty() ? "" : ":x") +
                    "=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><" + prefix +
                    "sheetData>";
  for (int r = 1; r <= kRows; ++r) {
    if (r == at) xml += odd;
    if (r != at || !replace) xml += Row(r, prefix);
  }
  return xml + "</" + prefix + "sheetData></" + prefix + "worksheet>";
}

// Every cell of the sheet's first rows as the import sees it, or the reason.
std::string AsImported(const std::string& package, const XlsxLimits& limits) {
  try {
    const SheetCells cells = SheetCells::Read(*OpenXlsxReaderFromMemory(package, limits));
    std::string out;
    for (int r = 1; r <= kRows + 2; ++r)
      for (int c = 1; c <= 4; ++c) {
        bool error = false;
        out += cells.cellText(r, c, &error) + (error ? "!" : "") + "|";
      }
    return out;
  } catch (const SheetError& e) {
    return std::string("refused: ") + e.what();
  }
}

void ExpectReadAsOneParserReadsIt(const std::string& sheet, const std::string& what) {
  const std::string package = WithSheet(sheet);
  XlsxLimits one;
  one.threads = false;
  XlsxLimits two;
  two.split_from = 0;
  EXPECT_EQ(AsImported(package, two), AsImported(package, one)) << what;
}

TEST(XlsxSplit, RowsComeOnceInOrderWithTheirTextsAndAReaderLeftMidwayLetsGo) {
  XlsxLimits two;
  two.split_from = 0;
  std::atomic<uint64_t> tail_rows{0};
  two.tail_rows = &tail_rows;
  const std::string package = WithSheet(Sheet(0, ""));
  const char* const shared[] = {"text", "中文", "more"};
  auto reader = OpenXlsxReaderFromMemory(package, two);
  TypedRow row;
  int rows = 0;
  while (reader->nextRow(row)) {
    ++rows;
    ASSERT_EQ(row.row, rows);
    ASSERT_EQ(row.cells.size(), 3u);
    EXPECT_EQ(row.cells[0].text, shared[rows % 3]) << rows;
    EXPECT_EQ(row.cells[0].shared_string, rows % 3);
    EXPECT_EQ(row.cells[1].number, rows + 0.5);
    EXPECT_EQ(row.cells[2].text, "r" + std::to_string(rows));
  }
  EXPECT_EQ(rows, kRows);
  EXPECT_FALSE(reader->nextRow(row));
  // The second parser gave the rows from the middle on.
  EXPECT_GT(tail_rows.load(), uint64_t(kRows / 4));
  EXPECT_LT(tail_rows.load(), uint64_t(kRows * 3 / 4));
  // Given up before, at and after the middle, the reader's threads end with it.
  for (int stop : {0, 1, kRows / 2 - 1, kRows / 2, kRows / 2 + 1, kRows - 1}) {
    auto left = OpenXlsxReaderFromMemory(package, two);
    for (int r = 0; r < stop; ++r) ASSERT_TRUE(left->nextRow(row)) << stop;
  }
}

TEST(XlsxSplit, WhateverLiesAtTheMiddleReadsAsOneParserReadsIt) {
  const std::string middle_row = Row(kRows / 2 + 3);
  struct Case {
    const char* what;
    std::string odd;
    bool replace;
  };
  const std::vector<Case> cases = {
      {"plain", "", false},
      {"row tag in a comment", "<!-- <row r=\"1\"><c r=\"A1\"><v>9</v></c></row> -->", false},
      {"row tag in a processing instruction", "<?pi <row r=\"2\"> ?>", false},
      {"row tag in CDATA",
       "<row r=\"0\"><c r=\"D1\" t=\"inlineStr\"><is><t><![CDATA[<row r=\"3\">]]></t></is></c>"
       "</row>",
       false},
      {"nested row", "<x:foo xmlns:x=\"urn:x\">" + Row(kRows + 1) + "</x:foo>", false},
      {"unnumbered row", "<row><c t=\"inlineStr\"><is><t>plain</t></is></c></row>", true},
      {"rows out of order", Row(5), false},
      {"a number that is none", "<row r=\"0\"><c r=\"B1\"><v>1.2.3</v></c></row>", true},
      {"a row past the limit", "<row r=\"1048577\"/>", false},
      {"a text past the table", "<row r=\"0\"><c r=\"A1\" t=\"s\"><v>3</v></c></row>", true},
      {"a row holding a row", "<row r=\"0\">" + middle_row, true},
      {"a cell out of its row", "<c r=\"A1\"><v>1</v></c>", false},
      // The rows after it are well-formed on their own, but not in the sheet.
      {"an element left open", "<foo>", false},
  };
  // Wherever near the middle it lies, the second parser may start on it,
  // before it or after it.
  for (const Case& c : cases) {
    for (int at = kRows / 2 - 8; at <= kRows / 2 + 8; at += 2) {
      std::string odd = c.odd;
      // Rows given as row 0 take the number of the row they stand for.
      for (size_t p; (p = odd.find("r=\"0\"")) != std::string::npos;)
        odd.replace(p, 5, "r=\"" + std::to_string(at) + "\"");
      ExpectReadAsOneParserReadsIt(Sheet(at, odd, c.replace),
                                   std::string(c.what) + " before row " + std::to_string(at));
    }
  }
}

TEST(XlsxSplit, PrefixesEncodingsAndTheEndOfTheRowsAreKept) {
  // Every tag with a prefix.
  ExpectReadAsOneParserReadsIt(Sheet(0, "", false, "UTF-8", "x:"), "prefixed");
  // Latin-1 text in the second half, which UTF-8 would read otherwise.
  for (int at = kRows / 2 - 8; at <= kRows / 2 + 8; at += 4)
    ExpectReadAsOneParserReadsIt(Sheet(at,
                                       "<row r=\"" + std::to_string(at) +
                                           "\"><c r=\"D1\" t=\"inlineStr\"><is><t>caf\xC3\xA9</t>"
                                           "</is></c></row>",
                                       true, "ISO-8859-1"),
                                 "Latin-1");
  // The rows end before the middle; what looks like rows after them is not
  // the sheet's.
  std::string sheet =
      "<?xml version=\"1.0\"?><worksheet><sheetData>" + Row(1) + Row(2) + "</sheetData><extLst>";
  for (int r = 3; r < kRows; ++r) sheet += Row(r);
  sheet += "</extLst></worksheet>";
  ExpectReadAsOneParserReadsIt(sheet, "rows after sheetData");
  // A sheet cut off in its second half.
  const std::string whole = Sheet(0, "");
  ExpectReadAsOneParserReadsIt(whole.substr(0, whole.size() * 3 / 4), "cut off");
}

}  // namespace
}  // namespace xb::sheet
