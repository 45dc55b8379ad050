#include "sheet/xlsx/sheet_stream.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "sheet/grid.h"
#include "sheet/xlsx/cell_values.h"
#include "sheet/xlsx/row_split.h"

namespace xb::sheet::xlsx {
namespace {

// Escapes take 7 bytes for one character: a value longer than this is too
// long for a cell whatever it holds.
constexpr size_t kMaxValueBytes = size_t(kMaxCellChars) * 7 + 7;
// The most of a value a reason quotes.
constexpr size_t kQuoted = 40;

}  // namespace

void SheetStream::start(std::string_view name, const char** atts) {
  if (!in_sheet_data) {
    if (Is(name, "sheetData")) {
      in_sheet_data = true;
      sheet_data_tag = parser->rawName();
      parser->pause();  // the reader is open; rows come when asked for
    } else if (Is(name, "dimension")) {
      readDimension(Attr(atts, "ref"));
    }
    return;
  }
  ++depth;
  if (Is(name, "c")) return startCell(atts);
  if (Is(name, "row")) return startRow(atts);
  if (!in_cell) return;
  if (Is(name, "v")) {
    in_v = true;
    value.clear();
  } else if (Is(name, "is")) {
    in_is = true;
    value.clear();
  } else if (Is(name, "rPh")) {
    ++rph_depth;
  } else if (Is(name, "t")) {
    in_t = in_is && rph_depth == 0;
  }
}

void SheetStream::end(std::string_view name) {
  if (!in_sheet_data) return;
  if (depth > 0) --depth;
  if (Is(name, "c")) return endCell();
  if (Is(name, "row")) return endRow();
  if (Is(name, "v")) {
    if (in_v) has_v = true;
    in_v = false;
  } else if (Is(name, "t")) {
    in_t = false;
  } else if (Is(name, "rPh")) {
    if (rph_depth > 0) --rph_depth;
  } else if (Is(name, "is")) {
    if (in_is) has_is = true;
    in_is = false;
  } else if (Is(name, "sheetData")) {
    in_sheet_data = false;
    if (split_open) {
      // The rows ended before the tail's first: it is not needed.
      split_open = false;
      split->abandon();
    }
    parser->stop();  // merged cells, print settings...: nothing the import uses
  }
}

void SheetStream::text(const char* s, int len) {
  if (!in_v && !in_t) return;
  value.append(s, size_t(len));
  if (value.size() > kMaxValueBytes) tooLong();
}

void SheetStream::readDimension(const char* ref) {
  if (!ref) return;
  const char* colon = std::strchr(ref, ':');
  if (!colon) return;
  const std::string first(ref, colon);
  int c1 = 0, r1 = 0, c2 = 0, r2 = 0;
  if (!ParseCellRef(first.c_str(), c1, r1) || !ParseCellRef(colon + 1, c2, r2)) return;
  if (r2 >= r1 && c2 >= c1 && r1 > 0) cell_hint = size_t(r2 - r1 + 1) * size_t(c2 - c1 + 1);
}

void SheetStream::tooLong() {
  parser->fail("cell " + CellName(row, column) + " holds more than " +
               std::to_string(kMaxCellChars) + " characters, more than a cell can hold");
}

// The head at a row: has it reached the tail's first row? True when the
// tail's rows count from here (and this parser ends).
bool SheetStream::headMeetsTail() {
  const int64_t here = parser->offset();
  int64_t at = split->at.load();
  if (at == RowSplit::kUnknown) {
    if (uint64_t(here) < split->half) return false;
    at = split->place();
  }
  if (at == RowSplit::kAbandoned) {
    split_open = false;
    split->giveUp();
    return false;
  }
  if (here < at) return false;
  split_open = false;
  if (here == at && depth == 1 && !in_row && !in_cell && parser->utf8() && split->meet(prev_row)) {
    split->held = true;
    return true;
  }
  split->giveUp();
  return false;
}

void SheetStream::startRow(const char** atts) {
  if (split_open && headMeetsTail()) {
    in_sheet_data = false;
    return parser->stop();
  }
  if (!out) return parser->fail("the sheet's rows came before the reader asked for them");
  if (in_row) return parser->fail("row " + std::to_string(row) + " holds another row");
  in_row = true;
  row_begin = uint32_t(out->cells.size());
  unsorted = false;
  last_column = 0;
  row_from_cell = false;
  if (const char* r = Attr(atts, "r")) {
    uint64_t n = 0;
    if (!ParseUint(r, n) || n < 1)
      return parser->fail(std::string("a row has the number \"") + r + "\"");
    if (n > uint64_t(kMaxRows))
      return parser->fail("row " + std::to_string(n) +
                          " lies past the last row a sheet holds (1,048,576)");
    row = int(n);
    if (row <= prev_row)
      return parser->fail("row " + std::to_string(row) + " comes after row " +
                          std::to_string(prev_row) + ": the rows are out of order");
  } else {
    if (tail && prev_row == 0) return parser->fail("the tail's first row has no number");
    if (prev_row >= kMaxRows)
      return parser->fail("the sheet has more rows than a sheet holds (1,048,576)");
    row = prev_row + 1;
    row_from_cell = true;
  }
  if (tail && prev_row == 0) split->firstRow(row);
}

void SheetStream::startCell(const char** atts) {
  if (!in_row) return parser->fail("a cell lies outside every row");
  in_cell = true;
  in_v = in_t = in_is = false;
  has_v = has_is = false;
  rph_depth = 0;
  value.clear();
  type = 'n';
  style = 0;
  const char* r = nullptr;
  const char* t = nullptr;
  const char* s = nullptr;
  for (int i = 0; atts[i]; i += 2) {
    const std::string_view a = LocalName(atts[i]);
    if (Is(a, "r"))
      r = atts[i + 1];
    else if (Is(a, "t"))
      t = atts[i + 1];
    else if (Is(a, "s"))
      s = atts[i + 1];
  }
  if (r) {
    int cell_row = 0;
    if (!ParseCellRef(r, column, cell_row))
      return parser->fail(std::string("a cell of row ") + std::to_string(row) +
                          " has the address \"" + r + "\"");
    if (row_from_cell && cell_row > 0) {
      row_from_cell = false;
      if (cell_row <= prev_row)
        return parser->fail("row " + std::to_string(cell_row) + " comes after row " +
                            std::to_string(prev_row) + ": the rows are out of order");
      row = cell_row;
    }
  } else {
    column = last_column + 1;
    if (column > kMaxColumns)
      return parser->fail("row " + std::to_string(row) +
                          " has more cells than a row holds (16,384)");
  }
  if (column <= last_column) unsorted = true;
  last_column = column;
  if (t) {
    const std::string_view tv(t);
    if (Is(tv, "n"))
      type = 'n';
    else if (Is(tv, "s"))
      type = 's';
    else if (Is(tv, "str"))
      type = 'f';
    else if (Is(tv, "inlineStr"))
      type = 'i';
    else if (Is(tv, "b"))
      type = 'b';
    else if (Is(tv, "e"))
      type = 'e';
    else if (Is(tv, "d"))
      type = 'd';
    else
      return parser->fail("cell " + CellName(row, column) + " has the unknown type \"" +
                          std::string(tv) + "\"");
  }
  if (s) {
    uint64_t v = 0;
    if (ParseUint(s, v) && v < styles) style = uint32_t(v);
  }
}

PackedCell& SheetStream::newCell(PackedKind kind) {
  PackedCell& c = out->cells.emplace_back();
  c.column = uint16_t(column);
  c.kind = kind;
  c.flag = 0;
  c.style = style;
  c.shared = 0;
  return c;
}

void SheetStream::newText(PackedKind kind, std::string_view text) {
  if (out->texts.size() + text.size() > UINT32_MAX)
    return parser->fail("row " + std::to_string(row) + " holds too much text");
  PackedCell& c = newCell(kind);
  c.text.at = uint32_t(out->texts.size());
  c.text.size = uint32_t(text.size());
  out->texts.append(text);
}

void SheetStream::endCell() {
  if (!in_cell) return;
  in_cell = false;
  in_v = in_t = in_is = false;
  switch (type) {
    case 's': {
      // No value, or an empty one, is an empty cell (as for a number).
      if (!has_v || text::Trimmed(value).empty()) return;
      uint64_t index = 0;
      if (!ParseUint(value, index))
        return parser->fail("cell " + CellName(row, column) + " names no shared string: \"" +
                            value.substr(0, kQuoted) + "\"");
      // The text comes from the table when the row is handed out (the
      // table may still be read on another thread).
      newCell(PackedKind::Shared).shared = index;
      return;
    }
    case 'f':
    case 'i': {
      if (!has_v && !has_is) return;
      DecodeEscapes(value);
      if (Utf16Length(value) > size_t(kMaxCellChars)) return tooLong();
      return newText(PackedKind::Text, value);
    }
    case 'b': {
      if (!has_v) return;
      const std::string_view v = text::Trimmed(value);
      bool b;
      if (v == "1" || v == "true")
        b = true;
      else if (v == "0" || v == "false")
        b = false;
      else
        return parser->fail("cell " + CellName(row, column) + " holds no truth value: \"" +
                            value.substr(0, kQuoted) + "\"");
      newCell(PackedKind::Boolean).flag = b;
      return;
    }
    case 'e': {
      if (!has_v) return;
      // An error's text is short ("#DIV/0!"); anything past this is not kept.
      constexpr size_t kMaxErrorText = 64;
      const std::string_view v = text::Trimmed(value);
      return newText(PackedKind::Error, v.substr(0, kMaxErrorText));
    }
    case 'd': {
      if (!has_v) return;
      double serial = 0;
      bool has_time = false;
      if (!ParseIsoDate(value, date1904, serial, has_time))
        return parser->fail("cell " + CellName(row, column) + " holds no date: \"" +
                            value.substr(0, kQuoted) + "\"");
      PackedCell& c = newCell(PackedKind::Date);
      c.number = serial;
      c.flag = has_time;
      return;
    }
    default: {
      if (!has_v) return;
      const std::string_view v = text::Trimmed(value);
      if (v.empty()) return;
      double number = 0;
      auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), number);
      if (ec == std::errc::result_out_of_range && ptr == v.data() + v.size()) {
        // Too small is zero (or a subnormal); too large is no number a cell holds.
        number = std::strtod(std::string(v).c_str(), nullptr);
        ec = std::isinf(number) ? std::errc::result_out_of_range : std::errc();
      }
      if (ec != std::errc() || ptr != v.data() + v.size() || !std::isfinite(number))
        return parser->fail("cell " + CellName(row, column) + " holds no number: \"" +
                            value.substr(0, kQuoted) + "\"");
      newCell(PackedKind::Number).number = number;
      return;
    }
  }
}

void SheetStream::endRow() {
  if (!in_row) return;
  in_row = false;
  if (in_cell) endCell();
  prev_row = row;
  if (out->cells.size() == row_begin) return;
  if (unsorted) {
    const auto first = out->cells.begin() + row_begin;
    std::stable_sort(first, out->cells.end(),
                     [](const PackedCell& a, const PackedCell& b) { return a.column < b.column; });
    // Of two cells at one address the later one counts.
    auto kept = first;
    for (auto it = first + 1; it != out->cells.end(); ++it) {
      if (it->column == kept->column)
        *kept = *it;
      else
        *++kept = *it;
    }
    out->cells.erase(kept + 1, out->cells.end());
  }
  out->rows.push_back({row, uint32_t(out->cells.size())});
  if (out->rows.size() >= batch_rows || out->bytes() >= batch_bytes) parser->pause();
}

}  // namespace xb::sheet::xlsx
