#pragma once
// The connection (myconnection) and the query objects bound to it (init,
// exe), with the operations the import and export logic rely on.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "errors.h"

namespace xb::db {

class Connection {
 public:
  Connection();
  ~Connection();  // closes (and so rolls back) without throwing
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Only while closed (DbError otherwise).
  void setConnectionString(const std::string& text);
  const std::string& connectionString() const { return connection_string_; }
  bool isOpen() const { return engine_ != nullptr; }
  // Resolves the data source (alias file, ODBC DSN, SQLite path) and
  // connects; raises DbError with the engine's message on failure.
  void open();
  // Rolls back an open transaction first.
  void close();
  void beginTransaction();
  void commitTransaction();
  void rollbackTransaction();
  bool inTransaction() const;

  // Opens a closed connection with the last connection string.
  Engine& engine();
  void setStatementLog(StatementLog* log) { log_ = log; }
  StatementLog* statementLog() const { return log_; }

 private:
  std::string connection_string_;
  std::unique_ptr<Engine> engine_;
  StatementLog* log_ = nullptr;
};

class Query {
 public:
  explicit Query(Connection& connection) : connection_(connection) {}

  void close();  // no effect when closed
  bool isOpen() const { return result_ != nullptr; }
  // Replaces all of the text; split into lines at CR, LF or CR LF.
  void setSql(const std::string& text);
  void clearSql() { lines_.clear(); }
  void appendLine(const std::string& line) { lines_.push_back(line); }
  // Every line followed by CR LF: what is sent and what is read back.
  std::string sql() const;
  const std::vector<std::string>& lines() const { return lines_; }

  // Runs a row-returning statement and stands on its first row.
  void open();
  // Runs a statement that returns no rows.
  void execute();

  int fieldCount() const;
  std::string fieldName(int i) const;
  // Empty for NULL and when there is no current row.
  std::string fieldText(int i) const;
  bool fieldIsNull(int i) const;
  // The text read as an integer (0 for NULL or no row); DbError when the
  // text is not a number.
  long long fieldInt(int i) const;
  void first();
  void next();
  bool eof() const;

 private:
  Connection& connection_;
  std::vector<std::string> lines_;
  std::shared_ptr<const ResultSet> result_;
  size_t row_ = 0;
};

// The main window's database components.
struct DbSession {
  Connection myconnection;
  Query init{myconnection};
  Query exe{myconnection};
};

}  // namespace xb::db
