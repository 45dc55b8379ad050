// The active sheet held for the import's look-ups.

#include "sheet/sheet_cells.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>

#include "sheet/cell_text.h"
#include "sheet/sheet.h"

namespace xb::sheet {
namespace {

// The largest sheet: a cell outside it cannot be asked for.
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
constexpr int64_t kMaxShared = int64_t(1) << 26;
constexpr uint32_t kNoText = UINT32_MAX;

}  // namespace

SheetCells SheetCells::Read(WorkbookReader& reader) {
  SheetCells out;
  out.sheet_name_ = reader.activeSheetName();
  out.date1904_ = reader.date1904();
  // Shared strings the reader leaves to us: looked up in its table, taken
  // whole after the last row, so the rows need not wait for it.
  const bool own_table = reader.leaveSharedStrings();
  // Then a large sheet may come in two halves read at once, the second into
  // a store of its own on a thread of ours, joined to the first when the
  // reader says that its rows count.
  std::unique_ptr<WorkbookReader> tail = own_table ? reader.splitRows() : nullptr;
  // Room for each half's cells at once, within reason: the hint comes from the file.
  const size_t room = std::min<size_t>(reader.cellCountHint() / (tail ? 2 : 1), size_t(1) << 23);
  SheetCells second;
  std::thread tail_reader;
  if (tail) {
    try {
      tail_reader = std::thread([&] {
        bool kept = false;
        try {
          second.readRows(*tail, true, room);
          kept = true;
        } catch (...) {
          // A fault of the second half: the first reads on through it, and
          // what this half read is let go at once.
          second = SheetCells();
        }
        reader.tailTaken(kept);
      });
    } catch (const std::system_error&) {
      reader.tailTaken(false);
    }
  }
  try {
    out.readRows(reader, own_table, room);
  } catch (...) {
    // The reader has given the second half up.
    if (tail_reader.joinable()) tail_reader.join();
    throw;
  }
  if (tail_reader.joinable()) tail_reader.join();
  tail.reset();
  if (reader.splitHeld()) out.append(std::move(second));
  if (own_table) {
    out.shared_ = reader.takeSharedStrings();
    out.checkSharedIndexes();
  }
  if (out.cells_.capacity() - out.cells_.size() > out.cells_.size() / 8) out.cells_.shrink_to_fit();
  return out;
}

void SheetCells::readRows(WorkbookReader& reader, bool own_table, size_t room) {
  cells_.reserve(room);
  DateFormats formats;
  std::vector<uint32_t> shared;  // shared string -> its text in the pool
  TypedRow row;
  int last_row = 0;
  while (reader.nextRow(row)) {
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
          cell.number = typed.number;
          cell.flag = formats.ShowsDate(typed);
          break;
        case TypedCell::Type::Boolean: cell.flag = typed.boolean; break;
        case TypedCell::Type::Text:
        case TypedCell::Type::Error: {
          if (own_table && typed.shared_string >= 0 && typed.type == TypedCell::Type::Text) {
            cell.flag = true;
            if (typed.shared_string >= int64_t(UINT32_MAX)) {
              huge_indexes_.emplace_back(cells_.size(), typed.shared_string);
              cell.text = UINT32_MAX;
            } else {
              cell.text = uint32_t(typed.shared_string);
            }
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

void SheetCells::append(SheetCells&& tail) {
  const size_t base_cells = cells_.size(), base_texts = texts_.size(),
               base_pool = texts_.pool.size();
  if (base_cells + tail.cells_.size() > UINT32_MAX ||
      base_pool + tail.texts_.pool.size() > UINT32_MAX)
    throw SheetError(Reason::WorkbookDamaged, "damaged workbook file: too much text");
  // Rows up to this store's last are empty in the tail's (it starts after them).
  for (size_t r = row_begin_.size(); r < tail.row_begin_.size(); ++r)
    row_begin_.push_back(uint32_t(base_cells + tail.row_begin_[r]));
  cells_.reserve(base_cells + tail.cells_.size());
  for (Cell c : tail.cells_) {
    const bool own_text =
        (c.type == TypedCell::Type::Text && !c.flag) || c.type == TypedCell::Type::Error;
    if (own_text) c.text = uint32_t(base_texts + c.text);
    cells_.push_back(c);
  }
  texts_.pool.append(tail.texts_.pool);
  for (const uint32_t end : tail.texts_.ends) texts_.ends.push_back(uint32_t(base_pool + end));
  for (const auto& [at, index] : tail.huge_indexes_)
    huge_indexes_.emplace_back(base_cells + at, index);
  tail = SheetCells();
}

void SheetCells::checkSharedIndexes() const {
  const size_t table = shared_.size();
  for (size_t r = 0; r + 1 < row_begin_.size(); ++r) {
    for (uint32_t i = row_begin_[r]; i < row_begin_[r + 1]; ++i) {
      const Cell& c = cells_[i];
      if (c.type != TypedCell::Type::Text || !c.flag || c.text < table) continue;
      int64_t index = c.text;
      for (const auto& [at, value] : huge_indexes_)
        if (at == i) index = value;
      throw SheetError(Reason::WorkbookDamaged,
                       "cell " + CellName(int(r + 1), c.column + 1) + " refers to shared string " +
                           std::to_string(index) + ", but the table holds only " +
                           std::to_string(table));
    }
  }
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
      if (c->flag) return std::string(shared_.at(c->text));
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
