#pragma once
// What every engine's cursor shares: the current row's values, the column
// names, and a next() that stops asking the database once the result has
// ended or a fetch has failed. An engine says only how the next row is
// fetched.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/engine.h"

namespace xb::db {

class RowCursor : public Cursor {
 public:
  using Row = std::vector<std::optional<std::string>>;

  int columnCount() const final { return static_cast<int>(names_.size()); }
  const std::string& columnName(int column) const final {
    return names_.at(static_cast<size_t>(column));
  }
  bool next() final;
  std::optional<std::string_view> value(int column) const final;

 protected:
  // The result's column names, as the cursor reports them; sizes the row.
  void setColumns(std::vector<std::string> names);
  // Fills every value of the row from the result's next row; false at the
  // end. A throw ends the cursor too: a driver is never asked again after
  // it failed.
  virtual bool fetch(Row& row) = 0;

 private:
  std::vector<std::string> names_;
  Row row_;
  bool done_ = false;
};

}  // namespace xb::db
