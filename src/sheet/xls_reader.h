#pragma once
// A strict reader for .xls workbooks (BIFF8, and BIFF5 where it costs
// little). It keeps only the active sheet's cells and the strings they use;
// every structural fault is a SheetError, never a crash or a runaway loop.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace xb::sheet {

// Extracts the named stream from an OLE2 compound file held in memory.
// Tries the names in order; throws SheetError when none is present.
std::vector<uint8_t> ReadCfbStream(std::string_view file, const std::vector<std::string>& names);

class XlsSheet {
 public:
  enum class Kind : uint8_t { kNumber, kText, kBool, kError, kEmpty };

  // Parses a whole .xls file already in memory.
  static XlsSheet Parse(std::string_view file);
  static XlsSheet Load(const std::string& path);

  // Rows and columns from 1; "" outside the used range.
  std::string cellText(int row, int column) const;

  size_t cellCount() const { return cells_.size(); }
  const std::string& sheetName() const { return sheet_name_; }
  bool date1904() const { return date1904_; }

 private:
  struct Cell {
    uint32_t key;      // row << 16 | column, both from 0
    uint16_t xf;
    Kind kind;
    uint8_t code;      // boolean value or error code
    union {
      double number;
      uint32_t text;   // index into the string pool
    };
  };
  friend class BiffParser;

  const Cell* find(uint32_t key) const;
  std::string_view text(uint32_t index) const;

  std::vector<Cell> cells_;  // sorted by key
  std::vector<uint32_t> row_begin_;  // cells_ of row r: [row_begin_[r], row_begin_[r + 1])
  std::string pool_;
  std::vector<uint32_t> pool_ends_;
  std::vector<uint8_t> xf_is_date_;
  bool date1904_ = false;
  std::string sheet_name_;
};

// General-format text of a number: 15 significant digits at most.
std::string FormatGeneralNumber(double value);
// yyyy-m-d[ h:mm:ss] or h:mm:ss; empty when the serial is no valid date.
std::string FormatDateSerial(double serial, bool date1904);
// True when a number format shows a date or a time.
bool IsDateFormatCode(std::string_view code);
bool IsBuiltinDateFormat(int index);

}  // namespace xb::sheet
