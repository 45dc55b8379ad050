#pragma once
// A workbook reader: one workbook file, chosen by its content, giving the
// cells of its active sheet typed and row by row. The cell-text rules (what
// the import sees of a cell) sit above every reader, in one place.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xb::sheet {

// One cell as the file holds it.
struct TypedCell {
  enum class Type : uint8_t { Empty, Text, Number, Boolean, Error };
  Type type = Type::Empty;
  int column = 0;        // from 1
  double number = 0;     // Number
  bool boolean = false;  // Boolean
  // Number: its number format (builtin id, and the format code when the
  // file defines one); the cell-text rules decide from it whether the number
  // shows a date or a time. Within one workbook an id always comes with the
  // same code, so the rules decide once per id.
  int format_id = 0;
  std::string format_code;
  std::string text;  // Text (UTF-8); Error: the error's text, e.g. "#DIV/0!"
  // Text from the workbook's shared string table: its index there, so that
  // a caller can keep one copy of a string many cells share; -1 otherwise.
  int64_t shared_string = -1;
};

// The cells of one row that hold something, in column order, each column once.
struct TypedRow {
  int row = 0;  // from 1
  std::vector<TypedCell> cells;
};

// Strings kept end to end in one pool (a workbook's shared strings, a
// cell store's texts): string i is pool[ends[i - 1], ends[i]).
struct StringTable {
  std::string pool;
  std::vector<uint32_t> ends;
  size_t size() const { return ends.size(); }
  std::string_view at(size_t i) const {
    const uint32_t begin = i == 0 ? 0 : ends[i - 1];
    return std::string_view(pool).substr(begin, ends[i] - begin);
  }
  // Adds a string; false (and nothing added) when the pool would pass what
  // an end can say (4 GB).
  bool add(std::string_view s) {
    if (s.size() > UINT32_MAX - pool.size()) return false;
    pool.append(s);
    ends.push_back(uint32_t(pool.size()));
    return true;
  }
};

class WorkbookReader {
 public:
  virtual ~WorkbookReader() = default;
  virtual const std::string& activeSheetName() const = 0;
  virtual bool date1904() const = 0;
  // The next row that holds a cell, in row order, each row once; false after
  // the last. Every fault of the file is a SheetError with a reason the
  // operator can read. The row's cells (and their strings) are overwritten in
  // place, so a caller that passes the same row again reuses their memory.
  virtual bool nextRow(TypedRow& row) = 0;
  // About how many cells the rows will hold (0: not known), so that a
  // caller can make room once.
  virtual size_t cellCountHint() const { return 0; }
  // Asked before the first row. A reader that reads its shared string table
  // apart from the sheet may leave the texts from it to the caller, so that
  // the rows need not wait for the table: it says true, and then every cell
  // from the table comes with shared_string set and no text, and the caller
  // takes the table with takeSharedStrings after the last row, checking
  // each cell's index against it.
  virtual bool leaveSharedStrings() { return false; }
  // After nextRow gave false, once: the table (empty when the workbook has
  // none). A fault of the table is a SheetError here, used or not.
  virtual StringTable takeSharedStrings() { return {}; }
  // Asked after leaveSharedStrings said true, before the first row. A
  // reader that can parse a large sheet on two threads gives a second
  // reader for the rows from some row on; null otherwise. The caller then
  // reads both to their end at once (the second on a thread of its own) and
  // says with tailTaken whether it kept every row the second gave. After
  // this reader's last row, splitHeld says whether the second's rows count
  // (this reader's rows ended where they begin) or whether this reader gave
  // every row itself, the second's rows to be dropped.
  virtual std::unique_ptr<WorkbookReader> splitRows() { return nullptr; }
  virtual void tailTaken(bool kept) { (void)kept; }
  virtual bool splitHeld() const { return false; }
};

// Opens a workbook by its content (an OLE2 compound file: .xls; a zip
// package: .xlsx), whatever its name says; SheetError with the reason when
// the file is none of these, encrypted, truncated...
std::unique_ptr<WorkbookReader> OpenWorkbookReader(const std::string& path);

// The .xlsx reader, called by OpenWorkbookReader for every zip package.
// Defined by src/sheet/xlsx; until that is built in, a stand-in
// (xlsx_standin.cpp) refuses such files with a reason.
std::unique_ptr<WorkbookReader> OpenXlsxReader(const std::string& path);

}  // namespace xb::sheet
