#pragma once
// The active sheet's rows as its XML streams by: each cell packed into a
// fixed record (its texts end to end beside them), a batch of rows at a
// time. The reader turns them into typed cells when it hands a row out, on
// the caller's thread, so that the parser's thread only parses.

#include <cstdint>
#include <string>
#include <vector>

#include "sheet/xlsx/part_parser.h"

namespace xb::sheet::xlsx {

struct RowSplit;

enum class PackedKind : uint8_t { Number, Date, Boolean, Shared, Text, Error };

struct PackedCell {
  uint16_t column;  // from 1
  PackedKind kind;
  uint8_t flag;    // Boolean: its value; Date: whether it holds a time of day
  uint32_t style;  // the cell's format, an index into the workbook's
  union {
    double number;    // Number, Date
    uint64_t shared;  // Shared: the string's index in the table
    struct {
      uint32_t at, size;  // Text, Error: in the batch's texts
    } text;
  };
};

struct PackedRow {
  int row;       // from 1
  uint32_t end;  // its cells are those from the previous row's end to this
};

struct PackedRows {
  std::vector<PackedCell> cells;
  std::vector<PackedRow> rows;
  std::string texts;

  void clear() {
    cells.clear();
    rows.clear();
    texts.clear();
  }
  size_t bytes() const {
    return cells.size() * sizeof(PackedCell) + rows.size() * sizeof(PackedRow) + texts.size();
  }
};

// The handler of the sheet's part. It pauses the parser at sheetData (the
// reader is open then) and after every batch of rows.
struct SheetStream : XmlHandler {
  PartParser* parser = nullptr;
  size_t styles = 1;  // how many cell formats the workbook has
  bool date1904 = false;
  size_t cell_hint = 0;  // from the sheet's used range

  PackedRows* out = nullptr;  // where the rows go; the parser pauses when it is full
  size_t batch_rows = 0, batch_bytes = 0;

  // Read by two parsers at once (see RowSplit): the head still looks for
  // the tail's first row; or this is the tail, whose first row must say its
  // number.
  RowSplit* split = nullptr;
  bool split_open = false;
  bool tail = false;
  std::string sheet_data_tag;  // sheetData's name as the part spells it

  void start(std::string_view name, const char** atts) override;
  void end(std::string_view name) override;
  void text(const char* s, int len) override;

 private:
  // The used range ("A1:O100001"), for a hint of how many cells come.
  void readDimension(const char* ref);
  void tooLong();
  bool headMeetsTail();
  void startRow(const char** atts);
  void startCell(const char** atts);
  PackedCell& newCell(PackedKind kind);
  void newText(PackedKind kind, std::string_view text);
  void endCell();
  void endRow();

  bool in_sheet_data = false;
  bool in_row = false;
  int prev_row = 0;
  int row = 0;
  bool row_from_cell = false;
  uint32_t row_begin = 0;  // the row's first cell in out
  bool unsorted = false;
  int last_column = 0;

  bool in_cell = false;
  int column = 0;
  char type = 'n';
  uint32_t style = 0;
  bool in_v = false, in_t = false, in_is = false;
  int rph_depth = 0;
  bool has_v = false, has_is = false;
  std::string value;
  int depth = 0;  // elements open within sheetData
};

}  // namespace xb::sheet::xlsx
