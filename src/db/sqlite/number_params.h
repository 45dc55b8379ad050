#pragma once
// Which values of a statement go into, or are compared with, a NUMBER
// column: the engine binds a long number there so that SQLite keeps every
// digit (see BindNumberText in the engine).

#include <string>
#include <vector>

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

}  // namespace xb::db
