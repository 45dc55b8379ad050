#pragma once
// The cells of a workbook's active sheet as the import reads them: any cell
// by row and column, as often as it likes, as text by the cell-text rules.
// Filled once from a reader; numbers keep their value and are spelled only
// when asked for, texts sit end to end in one pool.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sheet/reader.h"

namespace xb::sheet {

class SheetCells {
 public:
  // Reads every row the reader gives.
  static SheetCells Read(WorkbookReader& reader);

  // Rows and columns from 1; "" for an empty cell or one outside the sheet.
  // With is_error, also whether the cell holds an error value.
  std::string cellText(int row, int column, bool* is_error = nullptr) const;
  // True when the cell holds an error value (#DIV/0!, #N/A...).
  bool isError(int row, int column) const;

  const std::string& sheetName() const { return sheet_name_; }
  bool date1904() const { return date1904_; }

 private:
  struct Cell {
    uint16_t column;  // from 0
    TypedCell::Type type;
    bool flag;  // Number: shows a date; Boolean: its value; Text: from shared_
    union {
      double number;
      uint32_t text;  // Text, Error: index into texts_ (shared_ when flagged)
    };
  };

  const Cell* find(int row, int column) const;
  // Adds the rows the reader gives (room: cells to make room for).
  void readRows(WorkbookReader& reader, size_t room);

  std::vector<Cell> cells_;          // by row, then column
  std::vector<uint32_t> row_begin_;  // cells of row r (from 0): [row_begin_[r], row_begin_[r + 1])
  StringTable texts_;                // Text and Error cells' own texts
  // The reader's shared strings, when it holds them whole: its cells name them.
  std::shared_ptr<const StringTable> shared_;
  std::string sheet_name_;
  bool date1904_ = false;
};

}  // namespace xb::sheet
