// The .xlsx reader: workbooks written by openpyxl, xlsxwriter, LibreOffice and
// by the program's own export read as their .xls twins (see
// tests/data/xlsx/make_fixtures.py); the hostile corpus
// (tests/data/xlsx_hostile/make_corpus.py) and the fuzzing corpus end in a
// reason or in cells, never in a crash, a hang or runaway memory.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "sheet/cell_text.h"
#include "sheet/file_engine.h"
#include "sheet/open_workbook.h"
#include "sheet/sheet.h"
#include "sheet/sheet_cells.h"
#include "sheet/xlsx/xlsx_reader.h"
#include "support/sanitizer.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace xb::sheet {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(XB_TEST_DATA);

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A typed cell's text by the rules every reader's cells follow.
std::string Text(const TypedCell& c, bool date1904) {
  DateFormats formats;
  return CellText(c, formats.ShowsDate(c), date1904);
}

using Cells = std::map<std::pair<int, int>, std::string>;

Cells ReadAll(WorkbookReader& reader) {
  Cells cells;
  TypedRow row;
  int last = 0;
  while (reader.nextRow(row)) {
    EXPECT_GT(row.row, last);
    last = row.row;
    int last_column = 0;
    for (const auto& c : row.cells) {
      EXPECT_GT(c.column, last_column);
      last_column = c.column;
      const std::string t = Text(c, reader.date1904());
      if (!t.empty()) cells[{row.row, c.column}] = t;
    }
  }
  return cells;
}

// The twin through the content dispatcher, which hands it to the .xls reader.
Cells ReadXls(const fs::path& path) {
  auto reader = OpenWorkbookReader(path.string());
  return ReadAll(*reader);
}

std::string Describe(const Cells& cells) {
  std::string out;
  for (const auto& [at, text] : cells)
    out += "  R" + std::to_string(at.first) + "C" + std::to_string(at.second) + " = " +
           text.substr(0, 60) + "\n";
  return out;
}

void ExpectSameCells(const Cells& got, const Cells& want, const std::string& what) {
  Cells missing, extra;
  for (const auto& [at, text] : want) {
    auto it = got.find(at);
    if (it == got.end() || it->second != text) missing[at] = text;
  }
  for (const auto& [at, text] : got) {
    auto it = want.find(at);
    if (it == want.end() || it->second != text) extra[at] = text;
  }
  EXPECT_TRUE(missing.empty() && extra.empty()) << what << "\nexpected but not read:\n"
                                                << Describe(missing) << "read but not expected:\n"
                                                << Describe(extra);
}

struct Twin {
  const char* xlsx;
  const char* xls;
  const char* sheet_name;
  bool date1904;
  // Cells whose texts differ for a reason in the file: LibreOffice saves a
  // formula's boolean result in .xlsx as the number 1 or 0 in General format.
  Cells differs = {};
};

TEST(XlsxFixtures, ReadAsTheirXlsTwins) {
  const std::vector<Twin> twins = {
      {"openpyxl_values.xlsx", "sheet/values.xls", "Values", false},
      {"openpyxl_active.xlsx", "xlsx/active_second.xls", "Second", false},
      {"openpyxl_1904.xlsx", "sheet/date1904.xls", "Dates", true},
      {"openpyxl_isodates.xlsx", "xlsx/isodates.xls", "Sheet", false},
      {"xlsxwriter_values.xlsx", "sheet/values.xls", "Values", false},
      {"xlsxwriter_rich.xlsx", "xlsx/rich.xls", "Rich", false},
      {"lo_values.xlsx", "sheet/values.xls", "Values", false},
      {"lo_date1904.xlsx", "sheet/date1904.xls", "Dates", true},
      {"lo_active.xlsx", "sheet/active.xls", "Third", false},
      {"lo_formulas.xlsx", "sheet/formulas.xls", "Formulas", false, {{{4, 1}, "1"}, {{5, 1}, "0"}}},
      {"lo_biff5.xlsx", "sheet/biff5.xls", "Data", false, {{{8, 1}, "1"}}},
  };
  for (const auto& twin : twins) {
    SCOPED_TRACE(twin.xlsx);
    try {
      auto reader = OpenXlsxReader((kData / "xlsx" / twin.xlsx).string());
      EXPECT_EQ(reader->activeSheetName(), twin.sheet_name);
      EXPECT_EQ(reader->date1904(), twin.date1904);
      const Cells got = ReadAll(*reader);
      EXPECT_FALSE(got.empty());
      // Read on the caller's thread alone, the same cells.
      XlsxLimits one_thread;
      one_thread.threads = false;
      EXPECT_EQ(ReadAll(*OpenXlsxReader((kData / "xlsx" / twin.xlsx).string(), one_thread)), got);
      Cells want = ReadXls(kData / twin.xls);
      for (const auto& [at, text] : twin.differs) want[at] = text;
      ExpectSameCells(got, want, twin.xlsx);
    } catch (const SheetError& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST(XlsxFixtures, TheFormatIsChosenByContentNotByName) {
  // A package named .xlsm (macros ignored) or without any extension reads the same.
  const ::xb::test::TempDir folder;
  const fs::path dir = folder.path();
  fs::copy_file(kData / "xlsx" / "xlsxwriter_rich.xlsx", dir / "book.xlsm",
                fs::copy_options::overwrite_existing);
  fs::copy_file(kData / "xlsx" / "xlsxwriter_rich.xlsx", dir / "book",
                fs::copy_options::overwrite_existing);
  const Cells want = ReadAll(*OpenXlsxReader((kData / "xlsx" / "xlsxwriter_rich.xlsx").string()));
  EXPECT_EQ(ReadAll(*OpenWorkbookReader((dir / "book.xlsm").string())), want);
  EXPECT_EQ(ReadAll(*OpenWorkbookReader((dir / "book").string())), want);
  EXPECT_EQ(ReadAll(*OpenXlsxReaderFromMemory(Slurp(dir / "book"))), want);
}

TEST(XlsxFixtures, TheProgramsOwnExportReadsBack) {
  const ::xb::test::TempDir folder;
  const fs::path dir = folder.path();
  FileEngineOptions options;
  options.output_path = (dir / "export.xlsx").string();
  auto server = MakeFileServer(options);
  auto instance = server->create();
  instance->addWorkbook();
  const std::vector<std::vector<std::string>> rows = {{"ID", "NAME", "AMOUNT"},
                                                      {"1", "中文", "12.5"},
                                                      {"00123", "", "2003-8-1"},
                                                      {"", "tail", "x"}};
  Cells want;
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[r].size(); ++c) {
      instance->setCell(int(r) + 1, int(c) + 1, rows[r][c]);
      if (!rows[r][c].empty()) want[{int(r) + 1, int(c) + 1}] = rows[r][c];
    }
  instance->setCell(70000, 2, "past the old limit");
  want[{70000, 2}] = "past the old limit";
  instance->setVisible(true);
  instance->quit();
  auto reader = OpenXlsxReader(options.output_path);
  ExpectSameCells(ReadAll(*reader), want, "export");
}

TEST(XlsxFixtures, ManyRowsComeInOrderAndAReaderLeftEarlyLetsGo) {
  const ::xb::test::TempDir folder;
  const fs::path dir = folder.path();
  FileEngineOptions options;
  options.output_path = (dir / "rows.xlsx").string();
  auto instance = MakeFileServer(options)->create();
  instance->addWorkbook();
  constexpr int kRows = 5000;
  for (int r = 1; r <= kRows; ++r) {
    instance->setCell(r, 1, "k" + std::to_string(r));
    instance->setCell(r, 3, std::to_string(r * 2));
  }
  instance->setVisible(true);
  instance->quit();
  {
    auto reader = OpenXlsxReader(options.output_path);
    TypedRow row;
    int rows = 0;
    while (reader->nextRow(row)) {
      ++rows;
      ASSERT_EQ(row.row, rows);
      ASSERT_EQ(row.cells.size(), 2u);
      EXPECT_EQ(row.cells[0].text, "k" + std::to_string(rows));
      EXPECT_EQ(row.cells[1].column, 3);
    }
    EXPECT_EQ(rows, kRows);
    EXPECT_FALSE(reader->nextRow(row));
  }
  // Given up after one row, the reader's threads end with it.
  for (int i = 0; i < 20; ++i) {
    auto reader = OpenXlsxReader(options.output_path);
    TypedRow row;
    ASSERT_TRUE(reader->nextRow(row));
  }
  // Through the file engine, as the import reads it.
  auto opened = MakeFileServer()->create();
  opened->openWorkbook(options.output_path);
  EXPECT_EQ(opened->cellText(kRows, 1), "k" + std::to_string(kRows));
  EXPECT_EQ(opened->cellText(kRows, 3), std::to_string(kRows * 2));
  opened->quit();
}

// ---------------------------------------------------------------------------
// Hostile packages.

struct Outcome {
  bool read = false;   // the cells came out
  std::string reason;  // else the SheetError's text
  int rows = 0;
  Cells cells;
};

Outcome Read(const std::string& bytes, const XlsxLimits& limits = {}) {
  Outcome out;
  try {
    auto reader = OpenXlsxReaderFromMemory(bytes, limits);
    TypedRow row;
    while (reader->nextRow(row)) {
      ++out.rows;
      for (const auto& c : row.cells)
        if (out.cells.size() < 100) out.cells[{row.row, c.column}] = Text(c, reader->date1904());
    }
    out.read = true;
  } catch (const SheetError& e) {
    out.reason = e.what();
  }
  return out;
}

// As the import reads a workbook: whole, into the cells it looks up (which
// keep the reader's shared string table). Only the reason is kept.
std::string ReasonAsImported(const std::string& bytes, const XlsxLimits& limits = {}) {
  try {
    (void)SheetCells::Read(*OpenXlsxReaderFromMemory(bytes, limits));
  } catch (const SheetError& e) {
    return e.what();
  }
  return "";
}

Outcome ReadFile(const std::string& name) {
  return Read(Slurp(kData / "xlsx_hostile" / "corpus" / (name + ".xlsx")));
}

// Each way the reader may be run: threads, the caller's thread alone, and
// the sheet parsed by two parsers at once.
std::vector<XlsxLimits> EveryWayOfReading() {
  XlsxLimits one_thread;
  one_thread.threads = false;
  XlsxLimits two_parsers;
  two_parsers.split_from = 0;
  return {XlsxLimits(), one_thread, two_parsers};
}

TEST(XlsxHostile, EachKindGetsItsReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"truncated-050", "truncated or damaged"},
      {"empty", "the file is empty"},
      {"zip-empty", "holds no file"},
      {"not-zip-text", "no zip package"},
      {"bomb-ratio-sheet", "zip bomb"},
      {"bomb-ratio-strings", "zip bomb"},
      {"bigpart-declared-1gib-sheet", "more than the 1073741823"},
      {"bigpart-declared-4gib-strings", "a workbook part may hold"},
      {"bigpart-declared-1gib-styles", "a workbook part may hold"},
      {"bigpart-declared-small-sheet", "xl/worksheets/sheet1.xml"},
      {"zip-encrypted-entries", "encrypted"},
      {"zip-method-99", "damaged"},
      {"zip-method-14", "cannot be unpacked"},
      {"zip-bad-crc", "CRC"},
      {"encrypted-ole2", "encrypted (it needs a password to open)"},
      {"ole2-no-encryption", "an .xls workbook"},
      {"strict-namespace", "Strict Open XML"},
      {"strict-conformance", "Strict Open XML"},
      {"strict-relationships", "Strict Open XML"},
      {"xlsb", "binary workbook (.xlsb)"},
      {"docx", "no workbook"},
      {"ods", "OpenDocument spreadsheet"},
      {"no-content-types", "no [Content_Types].xml"},
      {"no-workbook", "no part xl/workbook.xml"},
      {"no-sheet-part", "no part xl/worksheets/sheet1.xml"},
      {"no-sheets", "holds no sheet"},
      {"chartsheet-active", "is a chart"},
      {"rel-target-escapes", "no part etc/passwd"},
      {"doctype-sheet", "declares a DOCTYPE"},
      {"doctype-ct", "declares a DOCTYPE"},
      {"doctype-sst", "declares a DOCTYPE"},
      {"billion-laughs-sheet", "declares a DOCTYPE"},
      {"xxe-wb", "declares a DOCTYPE"},
      {"undefined-entity-sheet", "undefined entity"},
      {"unclosed-wb", "no well-formed XML"},
      {"unclosed-sst", "no well-formed XML"},
      {"garbage-styles", "no well-formed XML"},
      {"latin1-declared-wb", "encoding"},
      {"huge-attribute", "zip bomb"},
      {"sst-index-past-table", "refers to shared string 3, but the table holds only 3"},
      {"sst-index-huge", "names no shared string"},
      {"sst-index-negative", "names no shared string"},
      {"long-cell-inline", "cell A1 holds more than 32767 characters"},
      {"long-cell-str", "cell A1 holds more than 32767 characters"},
      {"long-cell-chinese", "cell A1 holds more than 32767 characters"},
      {"long-cell-shared", "shared string 0 holds more than 32767"},
      {"long-cell-runs", "shared string 0 holds more than 32767"},
      {"rows-out-of-order", "out of order"},
      {"rows-repeated", "out of order"},
      {"row-zero", "a row has the number \"0\""},
      {"row-past-limit", "past the last row a sheet holds (1,048,576)"},
      {"rows-past-limit-unnumbered", "more rows than a sheet holds"},
      {"column-past-limit", "has the address \"XFE1\""},
      {"column-unaddressed-overflow", "more cells than a row holds (16,384)"},
      {"cell-outside-row", "outside every row"},
      {"unknown-cell-type", "unknown type \"q\""},
      {"bad-number", "holds no number: \"1.2.3\""},
      {"bad-number-inf", "holds no number"},
      {"bad-boolean", "holds no truth value"},
      {"bad-date", "holds no date"},
      {"many-styles", "more than 65,536 cell formats"},
      {"many-sheets", "more than 65,536 sheets"},
  };
  for (const auto& [name, reason] : cases) {
    for (const XlsxLimits& limits : EveryWayOfReading()) {
      const std::string bytes = Slurp(kData / "xlsx_hostile" / "corpus" / (name + ".xlsx"));
      const Outcome o = Read(bytes, limits);
      EXPECT_FALSE(o.read) << name << " was read";
      EXPECT_NE(o.reason.find(reason), std::string::npos) << name << ": " << o.reason;
      const std::string imported = ReasonAsImported(bytes, limits);
      EXPECT_NE(imported.find(reason), std::string::npos) << name << " as imported: " << imported;
    }
  }
}

TEST(XlsxHostile, TwoPartsOfOneNameAreRefusedAsAmbiguous) {
  // Another program may read the second where this one would read the
  // first; part names compare without regard to case.
  for (const char* name : {"duplicate_part.xlsx", "duplicate_part_case.xlsx"}) {
    const std::string bytes = Slurp(kData / "xlsx" / name);
    for (const XlsxLimits& limits : EveryWayOfReading()) {
      const Outcome o = Read(bytes, limits);
      EXPECT_FALSE(o.read) << name;
      EXPECT_NE(o.reason.find("two parts named xl/worksheets/"), std::string::npos)
          << name << ": " << o.reason;
      EXPECT_NE(o.reason.find("ambiguous"), std::string::npos) << name << ": " << o.reason;
    }
  }
}

TEST(XlsxHostile, OddButValidPackagesRead) {
  const Cells good = {{{1, 1}, "text"}, {{1, 2}, "1.5"},  {{1, 3}, "2003-8-1"}, {{2, 1}, "中文"},
                      {{2, 2}, "TRUE"}, {{2, 3}, "#N/A"}, {{3, 1}, "inline"},   {{3, 2}, "text"}};
  for (const char* name :
       {"seed-good", "seed-stored", "valid-no-dimension", "valid-prefixed", "utf16-sheet",
        "macro-enabled", "activetab-past-end", "rel-target-absolute", "style-index-past-table",
        "sst-count-lies", "deep-nesting", "many-attributes"}) {
    const Outcome o = ReadFile(name);
    EXPECT_TRUE(o.read) << name << ": " << o.reason;
    // The import's way gives the same texts.
    const SheetCells cells = SheetCells::Read(*OpenXlsxReaderFromMemory(
        Slurp(kData / "xlsx_hostile" / "corpus" / (std::string(name) + ".xlsx"))));
    for (const auto& [at, text] : o.cells)
      EXPECT_EQ(cells.cellText(at.first, at.second), text)
          << name << " " << at.first << "," << at.second;
    if (std::string(name) == "style-index-past-table") {
      EXPECT_EQ(o.cells, (Cells{{{1, 1}, "1"}}));
    } else if (std::string(name).rfind("deep", 0) == 0 || std::string(name).rfind("many", 0) == 0) {
      EXPECT_EQ(o.cells, (Cells{{{1, 1}, "1"}})) << name;
    } else {
      EXPECT_EQ(o.cells, good) << name;
    }
  }
  EXPECT_EQ(ReadFile("valid-cells-without-r").cells,
            (Cells{{{1, 1}, "1"}, {{1, 2}, "text"}, {{2, 1}, "3"}}));
  EXPECT_EQ(ReadFile("valid-sparse").cells, (Cells{{{5, 4}, "1"}, {{100000, 27}, "2"}}));
  // Rich runs joined, the phonetic reading left out.
  EXPECT_EQ(ReadFile("valid-phonetic").cells.at({1, 1}), "漢字");
  // The used range says how many cells to expect; without one, nothing is promised.
  EXPECT_EQ(OpenXlsxReaderFromMemory(Slurp(kData / "xlsx_hostile" / "corpus" / "seed-good.xlsx"))
                ->cellCountHint(),
            9u);
  EXPECT_EQ(
      OpenXlsxReaderFromMemory(Slurp(kData / "xlsx_hostile" / "corpus" / "valid-no-dimension.xlsx"))
          ->cellCountHint(),
      0u);
  const Outcome empty_rows = ReadFile("many-empty-rows");
  EXPECT_TRUE(empty_rows.read) << empty_rows.reason;
  EXPECT_EQ(empty_rows.rows, 0);
}

TEST(XlsxFixtures, AnEmptySheetWrittenAsOneTagReadsAsEmpty) {
  // Excel writes a sheet without cells as <sheetData/>.
  const std::string bytes = Slurp(kData / "xlsx" / "empty_sheetdata.xlsx");
  for (const XlsxLimits& limits : EveryWayOfReading()) {
    const Outcome o = Read(bytes, limits);
    EXPECT_TRUE(o.read) << o.reason;
    EXPECT_EQ(o.rows, 0);
    const SheetCells cells = SheetCells::Read(*OpenXlsxReaderFromMemory(bytes, limits));
    EXPECT_EQ(cells.sheetName(), "Empty");
    EXPECT_EQ(cells.cellText(1, 1), "");
  }
}

TEST(XlsxFixtures, ASharedStringCellWithAnEmptyValueReadsAsEmpty) {
  // B2 is written <c t="s"><v/></c>; every other cell as in the file it comes from.
  const std::string bytes = Slurp(kData / "xlsx" / "shared_empty_value.xlsx");
  Cells want = ReadAll(*OpenXlsxReader((kData / "xlsx" / "xlsxwriter_values.xlsx").string()));
  ASSERT_EQ(want.erase({2, 2}), 1u);
  for (const XlsxLimits& limits : EveryWayOfReading()) {
    try {
      ExpectSameCells(ReadAll(*OpenXlsxReaderFromMemory(bytes, limits)), want, "rows");
      const SheetCells cells = SheetCells::Read(*OpenXlsxReaderFromMemory(bytes, limits));
      EXPECT_EQ(cells.cellText(2, 2), "");
      EXPECT_EQ(cells.cellText(3, 2), want.at({3, 2}));
    } catch (const SheetError& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST(XlsxHostile, LimitsAreTheCallersToSet) {
  const std::string good = Slurp(kData / "xlsx" / "xlsxwriter_values.xlsx");
  XlsxLimits small;
  small.max_large_part = 1000;
  EXPECT_NE(Read(good, small).reason.find("a workbook part may hold"), std::string::npos);
  XlsxLimits tight_ratio;
  tight_ratio.ratio_floor = 0;
  tight_ratio.max_ratio = 2;
  EXPECT_NE(Read(good, tight_ratio).reason.find("zip bomb"), std::string::npos);
  // Past the ratio check, the parts still meet the limits on one tag and one cell.
  XlsxLimits no_ratio;
  no_ratio.max_ratio = 1 << 20;
  const fs::path corpus = kData / "xlsx_hostile" / "corpus";
  for (const char* name : {"huge-attribute", "huge-comment"})
    EXPECT_NE(Read(Slurp(corpus / (std::string(name) + ".xlsx")), no_ratio)
                  .reason.find("more than 16 MB"),
              std::string::npos)
        << name;
  EXPECT_NE(Read(Slurp(corpus / "long-cell-huge.xlsx"), no_ratio)
                .reason.find("cell A1 holds more than 32767"),
            std::string::npos);
}

// Runs the reader over one file in a child process: its reason or cells, its
// peak memory, and whether it finished in time.
struct ChildRun {
  bool timed_out = false;
  bool clean = false;  // exited normally, reading or refusing
  long max_rss_kb = 0;
};

ChildRun ReadInChild(const fs::path& file) {
  ChildRun run;
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      auto reader = OpenXlsxReader(file.string());
      TypedRow row;
      while (reader->nextRow(row)) {
      }
    } catch (const SheetError&) {
    } catch (...) {
      _exit(3);
    }
    // And as the import reads it, the sheet parsed from its middle too.
    try {
      XlsxLimits two_parsers;
      two_parsers.split_from = 0;
      (void)SheetCells::Read(*OpenXlsxReader(file.string(), two_parsers));
    } catch (const SheetError&) {
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  if (!xb::test::WaitForChild(pid, std::chrono::seconds(5), &status, &usage)) {
    run.timed_out = true;
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
  }
  run.clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run.max_rss_kb = usage.ru_maxrss;
  return run;
}

void ReplayCorpus(const fs::path& dir, size_t at_least) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), at_least);
  long worst = 0;
  for (const auto& file : files) {
    const ChildRun run = ReadInChild(file);
    const std::string name = file.filename().string();
    EXPECT_FALSE(run.timed_out) << name << " took longer than 5 s";
    EXPECT_TRUE(run.clean) << name << " ended the reader abnormally";
    // The child's peak includes the test program's own memory at the fork.
    if (!xb::test::kSanitized) {
      EXPECT_LT(run.max_rss_kb, 200 * 1024) << name;
    }
    worst = std::max(worst, run.max_rss_kb);
  }
  std::cout << files.size() << " files; worst peak RSS " << worst / 1024 << " MB\n";
}

TEST(XlsxHostile, EveryCorpusFileEndsInAReasonOrCells) {
  ReplayCorpus(kData / "xlsx_hostile" / "corpus", 500);
}

TEST(XlsxHostile, FuzzingCorpusReplays) { ReplayCorpus(kData / "xlsx_fuzz" / "corpus", 1); }

}  // namespace
}  // namespace xb::sheet

namespace xb::sheet {
namespace {

// A password-protected workbook is named as such whichever way it is opened:
// an encrypted .xlsx (a compound file holding the encrypted package, not a
// zip) in the .xlsx reader's own words, whatever the file is called, and an
// .xls whose globals carry a FILEPASS record.
TEST(EncryptedWorkbooks, OpeningByContentSaysEncrypted) {
  const fs::path encrypted_xlsx = kData / "xlsx_hostile" / "corpus" / "encrypted-ole2.xlsx";
  std::string direct;
  try {
    OpenXlsxReader(encrypted_xlsx.string());
  } catch (const SheetError& e) {
    direct = e.what();
  }
  ASSERT_NE(direct.find("encrypted"), std::string::npos) << direct;

  const ::xb::test::TempDir folder;
  const fs::path dir = folder.path();
  const fs::path as_xls = dir / "book.xls";
  fs::copy_file(encrypted_xlsx, as_xls, fs::copy_options::overwrite_existing);
  for (const fs::path& path : {encrypted_xlsx, as_xls}) {
    try {
      OpenWorkbookReader(path.string());
      ADD_FAILURE() << path << " opened";
    } catch (const SheetError& e) {
      EXPECT_EQ(std::string(e.what()), direct) << path;
    }
  }

  // A compound file with a (broken) workbook stream and no encrypted package
  // is not called encrypted.
  std::string other;
  try {
    OpenWorkbookReader((kData / "xlsx_hostile" / "corpus" / "ole2-no-encryption.xlsx").string());
  } catch (const SheetError& e) {
    other = e.what();
  }
  EXPECT_EQ(other.find("encrypted"), std::string::npos) << other;

  try {
    OpenWorkbookReader((kData / "hostile" / "corpus" / "encrypted-0.xls").string());
    ADD_FAILURE() << "encrypted-0.xls opened";
  } catch (const SheetError& e) {
    EXPECT_NE(std::string(e.what()).find("encrypted"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace xb::sheet
