#pragma once
// Declared column types kept on a SQLite connection as Oracle keeps them.

struct sqlite3;

namespace xb::db {

// Keeps every table of a SQLite connection to its declared types: temporary
// triggers (never written into the file, so tables made before, by this or
// another program, are covered alike) that check each inserted or updated
// value and store the kept one. Refresh after the schema may have changed.
class TypeChecks {
 public:
  // Registers the checking function on the connection.
  explicit TypeChecks(sqlite3* db);
  // Adds the triggers of tables that have none yet (cheap when the schema is
  // unchanged since the last call).
  void Refresh();

 private:
  sqlite3* db_;
  long long schema_version_ = -1;
};

}  // namespace xb::db
