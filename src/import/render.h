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

Rendered RenderExists(const std::string& table, const TypedRow& row);
Rendered RenderExistingValues(const std::string& table, const std::string& columns,
                              const TypedRow& row);
Rendered RenderInsert(const std::string& table, const std::string& columns, const TypedRow& row);
Rendered RenderUpdate(const std::string& table, const std::string& columns, const TypedRow& row);

}  // namespace xb::import
