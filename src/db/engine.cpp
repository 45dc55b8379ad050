#include "db/engine.h"

#include "db/errors.h"

namespace xb::db {

void Engine::executeBatch(const std::vector<BatchItem>& items) {
  // In the same process a statement costs no round trip: one after another.
  for (size_t i = 0; i < items.size(); ++i) {
    try {
      items[i].statement->execute(*items[i].values);
    } catch (const DbError& e) {
      throw BatchError(i, e);
    }
  }
}

std::vector<Engine::ResultRows> Engine::queryBatch(const std::vector<BatchItem>& items) {
  std::vector<ResultRows> results(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    try {
      // Read whole before the next: a statement run again ends its cursor.
      results[i] = AllRows(*items[i].statement->query(*items[i].values));
    } catch (const DbError& e) {
      throw BatchError(i, e);
    }
  }
  return results;
}

Engine::ResultRows Engine::AllRows(Cursor& cursor) {
  ResultRows rows;
  const int columns = cursor.columnCount();
  while (cursor.next()) {
    auto& row = rows.emplace_back();
    row.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      const auto value = cursor.value(c);
      row.push_back(value ? std::optional<std::string>(std::string(*value)) : std::nullopt);
    }
  }
  return rows;
}

}  // namespace xb::db
