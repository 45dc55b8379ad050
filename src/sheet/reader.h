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
  // The table the cells' shared_string indexes name, when the reader holds
  // it whole (for a caller that keeps one copy of it rather than a copy of
  // every string); null otherwise. Asked after the first row; the caller
  // may keep it past the reader.
  virtual std::shared_ptr<const StringTable> sharedStrings() const { return nullptr; }
};

}  // namespace xb::sheet
