#include "db/row_cursor.h"

namespace xb::db {

void RowCursor::setColumns(std::vector<std::string> names) {
  names_ = std::move(names);
  row_.assign(names_.size(), std::nullopt);
}

bool RowCursor::next() {
  if (done_) return false;
  try {
    if (fetch(row_)) return true;
  } catch (...) {
    done_ = true;
    throw;
  }
  done_ = true;
  return false;
}

std::optional<std::string_view> RowCursor::value(int column) const {
  const auto& v = row_.at(static_cast<size_t>(column));
  if (!v) return std::nullopt;
  return std::string_view(*v);
}

}  // namespace xb::db
