#pragma once
// Which values of a statement go into, or are compared with, a NUMBER
// column: the engine binds a long number there so that SQLite keeps every
// digit (see BindNumberText in the engine).

#include <string>
#include <utility>
#include <vector>

struct sqlite3_value;

namespace xb::db {

// What the text of a statement says plainly about its '?' markers: the
// tables it names (after from, join, into, update) and, for each marker in
// order, the column it is compared with ("col = ?", "? < t.col") or stored
// into (insert into T (c1, c2) values (?, ?)); empty where it says nothing
// that plain. Names are given unquoted, as written.
struct MarkerColumns {
  std::vector<std::string> tables;
  std::vector<std::string> columns;  // one per marker
};
MarkerColumns FindMarkerColumns(const std::string& sql);

// The terms of a query's ORDER BY (outside parentheses; none in a compound
// query) that are a column name alone, with asc/desc/nulls first/last at
// most: their spans in the text and the names, and the tables named.
struct OrderByColumns {
  std::vector<std::string> tables;
  std::vector<std::pair<size_t, size_t>> spans;
  std::vector<std::string> columns;
};
OrderByColumns FindOrderByColumns(const std::string& sql);

// The comparisons that order a column named alone (possibly qualified)
// against a plain operand: "col < x", "x >= t.col", "col [not] between x
// and y", where an operand is a '?', a quoted text, a number as written or
// another column. Arithmetic next to either side leaves the comparison out.
// For each, the column's name and the spans of the column and its operands.
struct RangeComparisons {
  struct Term {
    std::string column;
    std::vector<std::pair<size_t, size_t>> spans;
  };
  std::vector<std::string> tables;
  std::vector<Term> terms;
};
RangeComparisons FindRangeComparisons(const std::string& sql);

// The key of a value compared with a NUMBER column: NumberSortKey, where a
// text that reads as a number is that number (as SQLite's numeric affinity
// takes it), kept with every digit.
std::string NumberCompareKey(sqlite3_value* value);

// A sort key of a value in which numbers kept with all their digits (see
// IsExactDecimal) and numbers SQLite holds fall in numeric order, followed
// by text and then blobs as SQLite orders them (binary).
std::string NumberSortKey(sqlite3_value* value);

}  // namespace xb::db
