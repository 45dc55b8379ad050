#pragma once
// What the import sees of a cell, whatever reader gave it: text as it is,
// numbers as the General format spells them (15 significant digits at most),
// numbers under a date or time format as yyyy-m-d[ h:mm:ss] or h:mm:ss,
// booleans as TRUE/FALSE and errors as their text (#DIV/0!, #N/A...).

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sheet/grid.h"
#include "sheet/reader.h"

namespace xb::sheet {

// General-format text of a number: 15 significant digits at most.
std::string FormatGeneralNumber(double value);
// yyyy-m-d[ h:mm:ss] or h:mm:ss; empty when the serial is no valid date.
std::string FormatDateSerial(double serial, bool date1904);
// True when a number format shows a date or a time.
bool IsDateFormatCode(std::string_view code);
bool IsBuiltinDateFormat(int index);

// A number's text: a date or time when its format shows one and the serial
// is a valid date, else the General spelling.
std::string NumberText(double value, bool shows_date, bool date1904);

inline const char* BooleanText(bool value) { return value ? "TRUE" : "FALSE"; }

// Whether a number cell's format shows a date or a time: the format code
// when the file gives one, else the built-in format of that id. Decided once
// per format id of a workbook.
class DateFormats {
 public:
  bool ShowsDate(const TypedCell& cell) {
    const int id = cell.format_id;
    if (id >= 0 && size_t(id) < small_.size() && small_[size_t(id)] >= 0)
      return small_[size_t(id)] == 1;
    return Decide(cell);
  }

 private:
  bool Decide(const TypedCell& cell);

  std::vector<int8_t> small_;  // ids below 4096: -1 not yet decided
  std::unordered_map<int, bool> large_;
};

// The text of one cell (shows_date as DateFormats decides for it).
std::string CellText(const TypedCell& cell, bool shows_date, bool date1904);

}  // namespace xb::sheet
