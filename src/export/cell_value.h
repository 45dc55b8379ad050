#pragma once
// How one value of the export's result becomes the text of its cell.

#include <stdexcept>
#include <string>

#include "reason/reason.h"
#include "sheet/grid.h"

namespace xb::exporting {

// A value that cannot be written as a cell's text; the message names the
// cell ("C5: ...") so the operator can find the record.
class CellValueError : public std::runtime_error, public Reasoned {
 public:
  CellValueError(const std::string& message, const std::string& cell)
      : std::runtime_error(message) {
    setReason(Reason::NotUtf8, cell);
  }
};

// The cell's name, e.g. (5, 3) gives "C5".
using sheet::CellName;

// The text written into the cell at (row, column) for a value as the query
// object gives it. Text must be valid UTF-8 (raw bytes reach the export as
// hexadecimal from the engine); anything else raises CellValueError rather
// than writing a cell no reader can open. A NUL stays in the value.
std::string CellText(const std::string& value, int row, int column);

}  // namespace xb::exporting
