#pragma once
// Typed rows and their one renderer. The loader keeps every data row typed:
// its key terms and its values (text, a date's text, a sequence's next
// value). From a typed row the renderer makes both forms of each statement
// of the import run:
//   text   - the exact Oracle text (statements.h) shown in the overwrite
//            prompt and the failure boxes, written to the statement log and
//            sent to an engine that can only take text;
//   marked - the same statement with '?' where each cell value stands, and
//            the values to bind: one prepared statement per row shape, and
//            no cell value ever inside SQL sent to an engine that binds.

#include <cstdint>
#include <string>
#include <vector>

#include "db/engine.h"

namespace xb::import {

struct RowValue {
  enum class Kind { Text, Date, Sequence };
  Kind kind = Kind::Text;
  // Text: the trimmed cell text (empty for an empty cell); Date: the trimmed,
  // upper-cased cell text; Sequence: the sequence name as the header gives it.
  std::string text;
  // A number column: its empty text is bound as NULL, as Oracle stores ''
  // (the Oracle text keeps ''). An empty date is always bound as NULL.
  bool number = false;
};

struct KeyValue {
  std::string key;   // the key column as the header names it
  std::string text;  // the trimmed, upper-cased cell text
  bool is_date = false;
  bool number = false;  // a NUMBER column: bound as a number
};

struct TypedRow {
  std::vector<KeyValue> keys;
  std::vector<RowValue> values;
  bool hasSequence() const;
};

struct Rendered {
  std::string text;
  std::string marked;
  std::vector<db::Value> values;
};

// The pieces of the import list: the value list and the key condition
// (empty without keys), exactly as the Oracle text holds them.
std::string ValuesText(const TypedRow& row);
std::string KeyConditionText(const TypedRow& row);
// The key condition with '?' for each key value (KeyValues order).
std::string MarkedKeyCondition(const TypedRow& row);

// The Oracle text of the existence check and of the insert.
std::string ExistsText(const std::string& table, const TypedRow& row);
std::string InsertText(const std::string& table, const std::string& columns, const TypedRow& row);
// The bound form alone (marked text and values; text left empty), for a run
// that makes the Oracle text only when it is shown or logged.
Rendered MarkExists(const std::string& table, const TypedRow& row);
Rendered MarkInsert(const std::string& table, const std::string& columns, const TypedRow& row);

// The typed rows of a read, packed: each row's texts end to end in one
// buffer, and what the rows share (each value's kind, number flag and
// sequence; each key term's column and whether it is a date) kept once per
// shape. A row costs its texts, four bytes a text and 24 bytes a row, so a
// read of a million rows stays near the size of its data.
class RowStore {
 public:
  void reserve(size_t rows, size_t texts_per_row);
  void add(const TypedRow& row);
  size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  // Row i as it was added.
  TypedRow at(size_t i) const;
  // Rows of one shape make the same marked statements.
  uint32_t shapeOf(size_t i) const { return rows_[i].shape; }
  // Whether row i has key terms (an existence check).
  bool hasKeys(size_t i) const { return !shapes_[rows_[i].shape].keys.empty(); }
  // The values row i binds, as MarkExists and MarkInsert give them for
  // at(i), written over out (whose texts' space is used again): a run
  // binds every row without making the row.
  void keyValues(size_t i, std::vector<db::Value>& out) const;
  void insertValues(size_t i, std::vector<db::Value>& out) const;

 private:
  struct Shape {
    std::vector<RowValue> values;  // texts empty but for sequences
    std::vector<KeyValue> keys;    // texts empty
    bool operator==(const Shape&) const;
    // Whether a row has this shape.
    bool fits(const TypedRow& row) const;
  };
  struct Row {
    uint64_t text_begin;   // in texts_
    uint64_t first_piece;  // in ends_
    uint32_t shape;
    bool line_breaks;  // a text holds CR or LF
  };
  // Row i's texts from piece first on, each as a view.
  template <typename Visit>
  void ForEachText(const Row& row, size_t first, size_t count, Visit visit) const;
  std::vector<Shape> shapes_;
  std::vector<Row> rows_;
  size_t expected_rows_ = 0;  // as reserve() was told
  // Every row's texts: its non-sequence values, then its key terms; ends_
  // holds where each ends, counted from the row's first byte.
  std::string texts_;
  std::vector<uint32_t> ends_;
};

Rendered RenderExistingValues(const std::string& table, const std::string& columns,
                              const TypedRow& row);
Rendered RenderUpdate(const std::string& table, const std::string& columns, const TypedRow& row);

}  // namespace xb::import
