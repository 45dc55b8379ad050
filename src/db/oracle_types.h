#pragma once
// Declared column types kept as Oracle keeps them, on an engine that would
// store anything: VARCHAR2/CHAR lengths (in bytes of UTF-8, or in characters
// with "n CHAR"), NUMBER precision and scale (values rounded to the scale),
// valid dates for DATE, and the empty string as NULL in NUMBER and DATE
// columns. A violation fails the statement with Oracle's message.

#include <optional>
#include <string>
#include <variant>

struct sqlite3;

namespace xb::db {

struct DeclaredType {
  enum class Kind { Other, Text, Number, Date } kind = Kind::Other;
  long long length = 0;      // Text: 0 when none is declared
  bool length_in_chars = false;
  std::optional<int> precision, scale;  // Number
};

// The type as declared in CREATE TABLE ("varchar2(10 char)", "NUMBER(5,2)",
// "integer", "date"); anything else is Other and left alone.
DeclaredType ParseDeclaredType(const std::string& declared);

// A value as it reaches a column; NULL as monostate.
using ColumnValue = std::variant<std::monostate, long long, double, std::string>;

// The value the column keeps, or the DbError Oracle gives for it.
ColumnValue CheckColumnValue(const ColumnValue& value, const DeclaredType& type, const std::string& table,
                             const std::string& column);

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
