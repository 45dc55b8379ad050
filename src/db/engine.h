#pragma once
// One open connection to a database. Two engines implement it: sqlite (an
// embedded SQLite file that speaks the Oracle dialect the program sends) and
// odbc (unixODBC; SQL passed unchanged). Every call raises DbError on failure.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xb::db {

// A fully read result: column names and every row, NULL as nullopt. Values
// are text: integers without ".0", dates as yyyy-mm-dd (with " hh24:mi:ss"
// when the time is not midnight).
struct ResultSet {
  std::vector<std::string> names;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

class Engine {
 public:
  virtual ~Engine() = default;
  // A row-returning statement; all rows are read.
  virtual std::shared_ptr<const ResultSet> query(const std::string& sql) = 0;
  // A statement that returns no rows.
  virtual void execute(const std::string& sql) = 0;
  virtual void begin() = 0;
  virtual void commit() = 0;
  virtual void rollback() = 0;
  virtual bool inTransaction() const = 0;
};

// Where a data source leads: an engine and its target (a SQLite file path,
// an ODBC DSN, or a libpq connection string or URI).
struct Target {
  enum class Kind { Sqlite, Odbc, Postgres } kind = Kind::Sqlite;
  std::string where;
};

std::unique_ptr<Engine> OpenSqlite(const std::string& path);
std::unique_ptr<Engine> OpenOdbc(const std::string& dsn, const std::string& user,
                                 const std::string& password);

// Optional statement log: every statement text that reaches an engine, in
// order (tests assert that nothing but the program's own statements is sent).
class StatementLog {
 public:
  virtual ~StatementLog() = default;
  virtual void sent(const std::string& sql) = 0;
};

}  // namespace xb::db
