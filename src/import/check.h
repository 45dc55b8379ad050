#pragma once
// The pre-flight check of a workbook: reads every data row as the loader
// does and reports, without writing anything, every cell the database would
// refuse (by the dictionary's declared lengths, precision and scale and
// nullability, and by the value rules the engines enforce), every key that
// repeats inside the workbook, and every row whose key the table already
// holds. What only a write could tell (a trigger, a foreign key) is not
// guessed.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/dictionary.h"
#include "import/render.h"
#include "sheet/sheet.h"

namespace xb::import {

struct CellFault {
  enum class Kind { TooLong, NotNumber, TooManyDigits, NotDate, Empty, ErrorCell, RepeatedKey };
  Kind kind = Kind::ErrorCell;
  int row = 0, column = 0;  // on the sheet, from 1
  std::string cell;         // "C17"
  std::string column_name;  // key columns joined by "," for a repeated key
  std::string value;        // the cell's text as read
  std::string reason;       // for the operator: why, with the database's own words
};

struct CheckReport {
  // The header cannot be used (its box text); no row was checked then.
  std::string header_fault;
  // In sheet order: by row, then by column.
  std::vector<CellFault> faults;
  // Sheet rows whose key the table holds: the import will ask about them.
  std::vector<int> existing_rows;
  size_t rows_read = 0, would_insert = 0, would_ask = 0;
  bool clean() const { return header_fault.empty() && faults.empty(); }
};

// Why the database would refuse a cell's text (trimmed, as the loader binds
// it) in a column, or nullopt when it takes it.
struct ValueFault {
  CellFault::Kind kind;
  std::string reason;
};
std::optional<ValueFault> CheckCellValue(std::string_view trimmed,
                                         const db::Dictionary::ColumnFacts& column,
                                         const std::string& table);

// Checks the open workbook's active sheet. DbError or SheetError escape
// when the database or the file fails on the way (nothing is written).
CheckReport CheckWorkbook(db::DbSession& session, sheet::Instance& sheet);

// The report for a terminal: one line per fault and per existing row, then
// the summary line.
std::string ReportText(const CheckReport& report);
// The same for scripts: {"faults":[{"cell","column","value","reason"}...],
// "existing_rows":[...], "summary":{...}}.
std::string ReportJson(const CheckReport& report);

}  // namespace xb::import
