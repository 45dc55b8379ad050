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

}  // namespace xb::db
