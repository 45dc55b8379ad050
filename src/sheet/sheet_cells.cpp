// The active sheet held for the import's look-ups.

#include "sheet/sheet_cells.h"

#include <algorithm>
#include <cmath>

#include "sheet/cell_text.h"
#include "sheet/grid.h"
#include "sheet/sheet.h"

namespace xb::sheet {
namespace {

// Room made at once for the cells the reader says will come, at most (the
// hint comes from the file): a full 1,048,576 x 16 sheet's, 256 MB.
constexpr size_t kMaxRoom = size_t(1) << 24;
constexpr int64_t kMaxShared = int64_t(1) << 26;
constexpr uint32_t kNoText = UINT32_MAX;

}  // namespace

SheetCells SheetCells::Read(WorkbookReader& reader) {
  SheetCells out;
  out.sheet_name_ = reader.activeSheetName();
  out.date1904_ = reader.date1904();
  out.readRows(reader, std::min(reader.cellCountHint(), kMaxRoom));
  // Room the hint promised and the rows did not use is given back when it
  // is more than an eighth of what they use.
  if (out.cells_.capacity() - out.cells_.size() > out.cells_.size() / 8) out.cells_.shrink_to_fit();
  return out;
}

void SheetCells::readRows(WorkbookReader& reader, size_t room) {
  cells_.reserve(room);
  DateFormats formats;
  std::vector<uint32_t> shared;  // shared string -> its text in the pool
  TypedRow row;
  int last_row = 0;
  while (reader.nextRow(row)) {
    if (last_row == 0) shared_ = reader.sharedStrings();
    if (row.row <= last_row)
      throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: rows out of order");
    if (row.row > kMaxRows) break;
    last_row = row.row;
    while (row_begin_.size() < size_t(row.row)) row_begin_.push_back(uint32_t(cells_.size()));
    int last_column = 0;
    for (const TypedCell& typed : row.cells) {
      if (typed.column <= last_column)
        throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: cells out of order");
      last_column = typed.column;
      if (typed.column > kMaxColumns) break;
      Cell cell;
      cell.column = uint16_t(typed.column - 1);
      cell.type = typed.type;
      cell.flag = false;
      cell.number = 0;
      switch (typed.type) {
        case TypedCell::Type::Empty: continue;
        case TypedCell::Type::Number:
          if (!std::isfinite(typed.number)) {
            // No spreadsheet number is a NaN or an infinity: such a value
            // is the error #NUM!, never text to import.
            cell.type = TypedCell::Type::Error;
            if (!texts_.add("#NUM!"))
              throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: too much text");
            cell.text = uint32_t(texts_.size() - 1);
            break;
          }
          cell.number = typed.number;
          cell.flag = formats.ShowsDate(typed);
          break;
        case TypedCell::Type::Boolean: cell.flag = typed.boolean; break;
        case TypedCell::Type::Text:
        case TypedCell::Type::Error: {
          if (shared_ && typed.type == TypedCell::Type::Text && typed.shared_string >= 0 &&
              size_t(typed.shared_string) < shared_->size()) {
            cell.flag = true;
            cell.text = uint32_t(typed.shared_string);
            break;
          }
          // A string many cells share is kept once.
          uint32_t* known = nullptr;
          if (typed.shared_string >= 0 && typed.shared_string < kMaxShared) {
            const size_t at = size_t(typed.shared_string);
            if (shared.size() <= at)
              shared.resize(std::clamp(shared.size() * 2, at + 1, size_t(kMaxShared)), kNoText);
            known = &shared[at];
            if (*known != kNoText) {
              cell.text = *known;
              break;
            }
          }
          if (!texts_.add(typed.text))
            throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: too much text");
          cell.text = uint32_t(texts_.size() - 1);
          if (known) *known = cell.text;
          break;
        }
      }
      cells_.push_back(cell);
    }
  }
  row_begin_.push_back(uint32_t(cells_.size()));
}

const SheetCells::Cell* SheetCells::find(int row, int column) const {
  if (row < 1 || column < 1 || row > kMaxRows || column > kMaxColumns) return nullptr;
  const size_t r = size_t(row - 1);
  if (r + 1 >= row_begin_.size()) return nullptr;
  const auto first = cells_.begin() + row_begin_[r], last = cells_.begin() + row_begin_[r + 1];
  const uint16_t c = uint16_t(column - 1);
  const auto it = std::lower_bound(first, last, c,
                                   [](const Cell& cell, uint16_t k) { return cell.column < k; });
  return it != last && it->column == c ? &*it : nullptr;
}

std::string SheetCells::cellText(int row, int column, bool* is_error) const {
  const Cell* c = find(row, column);
  if (is_error) *is_error = c && c->type == TypedCell::Type::Error;
  if (!c) return "";
  switch (c->type) {
    case TypedCell::Type::Text:
      if (c->flag) return std::string(shared_->at(c->text));
      return std::string(texts_.at(c->text));
    case TypedCell::Type::Error: return std::string(texts_.at(c->text));
    case TypedCell::Type::Boolean: return BooleanText(c->flag);
    case TypedCell::Type::Number: return NumberText(c->number, c->flag, date1904_);
    case TypedCell::Type::Empty: break;
  }
  return "";
}

bool SheetCells::isError(int row, int column) const {
  const Cell* c = find(row, column);
  return c && c->type == TypedCell::Type::Error;
}

}  // namespace xb::sheet
