#pragma once
// The connection (myconnection) and the query objects bound to it (init,
// exe), with the operations the import and export logic rely on.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/engine.h"
#include "db/errors.h"

namespace xb::db {

class Query;

// One statement of Connection::runBatch: the program's statement with '?'
// markers, its values, and its Oracle text made only when needed (a
// statement log, an engine that cannot bind).
struct BatchStatement {
  const std::string* marked = nullptr;
  std::vector<Value> values;
  std::function<std::string()> text;
};

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
  // connects; raises DbError with the engine's message on failure
  // (Kind::NoSuchDataSource when the name leads nowhere).
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
  // Moves with every statement other than a data statement (insert, update,
  // delete, select) sent through this connection, failed ones included, and
  // whenever it closes (opened again, it may reach another database): whatever
  // remembers the schema as seen through it forgets it when the count moves.
  uint64_t schemaChanges() const { return schema_changes_; }
  // The prepared statement for a text with '?' markers: made on first use,
  // kept (a few dozen shapes) until the connection closes.
  Statement& prepared(const std::string& marked_sql);
  // Runs the statements in order, sent together where the engine can
  // (Engine::executeBatch). The statement log sees each one that ran, and
  // the failing one. A failure raises BatchError naming the statement.
  void runBatch(const std::vector<BatchStatement>& items);
  // The same for row-returning statements: each one's rows (Engine::queryBatch).
  std::vector<Engine::ResultRows> queryBatch(const std::vector<BatchStatement>& items);
  // Whether each run of values makes the row-returning statement marked
  // return a row, all asked in one statement where the engine offers it
  // (Engine::returnsRows); nullopt where it does not (nothing logged). The
  // statement log is given shown: the statements the answer stands for, as
  // queryBatch would send them. A failure raises BatchError naming the
  // last of them.
  std::optional<std::vector<bool>> returnsRows(const std::string& marked,
                                               const std::vector<std::vector<Value>>& runs,
                                               const std::vector<BatchStatement>& shown);
  // Inside a transaction: keeps other sessions' runs out of the table until
  // it ends (Engine::lockTable).
  void lockTable(const std::string& table);

 private:
  // The prepared statements of a batch (BatchError names a statement that
  // cannot be prepared).
  std::vector<BatchItem> PreparedBatch(const std::vector<BatchStatement>& items);
  // The first ran statements of a batch, to the statement log (with their
  // values when the engine binds).
  void LogBatch(const std::vector<BatchStatement>& items, size_t ran, bool binds);
  // Runs a batch and logs it: on an engine that cannot bind, statement by
  // statement through `one` (given each one's text); else prepared and sent
  // together through `all`.
  void RunLogged(const std::vector<BatchStatement>& items,
                 const std::function<void(Engine&, const std::string& text)>& one,
                 const std::function<void(Engine&, const std::vector<BatchItem>&)>& all);
  friend class Query;
  void ForgetResults();

  std::string connection_string_;
  std::unique_ptr<Engine> engine_;
  StatementLog* log_ = nullptr;
  std::unordered_map<std::string, std::unique_ptr<Statement>> prepared_;
  // Moves whenever prepared statements are let go.
  uint64_t prepared_generation_ = 0;
  uint64_t schema_changes_ = 0;
  std::set<Query*> queries_;
};

// The connection's transaction as an object: begun when made, rolled back
// when it goes out of scope uncommitted (a failed commit included).
class Transaction {
 public:
  explicit Transaction(Connection& connection) : connection_(connection) {
    connection_.beginTransaction();
  }
  ~Transaction() {
    // Never throw from a destructor: the transaction may already be gone.
    try {
      if (!committed_ && connection_.inTransaction()) connection_.rollbackTransaction();
    } catch (...) {
    }
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  void commit() {
    connection_.commitTransaction();
    committed_ = true;
  }

 private:
  Connection& connection_;
  bool committed_ = false;
};

// How a query's rows are read: Buffered keeps every row so that first() can
// go back to the first; Forward reads each row from the database as next()
// comes to it and keeps only the current one.
enum class Scroll { Buffered, Forward };

class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  void close();  // no effect when closed
  bool isOpen() const { return open_; }
  // Replaces all of the text; split into lines at CR, LF or CR LF.
  void setSql(const std::string& text);
  void clearSql() {
    lines_.clear();
    unsplit_ = false;
    make_text_ = nullptr;
    bound_ = false;
  }
  void appendLine(const std::string& line) {
    Split();
    lines_.push_back(line);
    bound_ = false;
  }
  // A statement of the program's with its values: oracle_text is what is
  // shown and logged (and sent to an engine that cannot bind); marked_sql is
  // the same statement with '?' for each value, prepared once per shape.
  void setStatement(const std::string& oracle_text, const std::string& marked_sql,
                    std::vector<Value> values);
  // The same with the Oracle text made by make_text only when something
  // asks for it (sql(), lines(), a statement log, an engine that cannot
  // bind): a run of many rows sent bound never spells them out.
  void setStatement(std::function<std::string()> make_text, const std::string& marked_sql,
                    std::vector<Value> values);
  // The same with the values copied over the last statement's (a run that
  // binds row after row keeps their space).
  void setStatement(std::function<std::string()> make_text, const std::string& marked_sql,
                    const Value* values, size_t count);
  // Every line followed by CR LF: what is sent and what is read back.
  std::string sql() const;
  const std::vector<std::string>& lines() const {
    Split();
    return lines_;
  }

  // Runs a row-returning statement and stands on its first row.
  void open(Scroll scroll = Scroll::Buffered);
  // Runs a statement that returns no rows.
  void execute();

  int fieldCount() const;
  std::string fieldName(int i) const;
  // Empty for NULL and when there is no current row.
  std::string fieldText(int i) const;
  // The same without a copy; valid until the row moves.
  std::string_view fieldView(int i) const;
  bool fieldIsNull(int i) const;
  // The text read as an integer (0 for NULL or no row); DbError when the
  // text is not a number.
  long long fieldInt(int i) const;
  // Back to the first row; DbError for a Forward query past its first row.
  void first();
  void next();
  bool eof() const;

 private:
  friend class Connection;
  void Send(const std::string& text);
  std::unique_ptr<Cursor> Run(bool rows);
  const std::optional<std::string>* Cell(int i) const;

  // A statement's text is split into lines only when they are asked for:
  // most bound statements are never shown.
  void Split() const;
  // lines_ made from text, reusing their strings.
  void SplitLines(const std::string& text) const;

 public:
  Connection& connection() const { return connection_; }

 private:
  Connection& connection_;
  mutable std::vector<std::string> lines_;
  mutable std::string unsplit_text_;
  mutable bool unsplit_ = false;
  // While set, unsplit_text_ is still to be made by it.
  mutable std::function<std::string()> make_text_;
  void MakeText() const;
  bool bound_ = false;
  std::string marked_;
  std::vector<Value> values_;
  // Whether marked_ is a data statement (insert, update, delete, select),
  // as worked out for the text last run.
  std::string noted_marked_;
  bool marked_is_data_ = false;
  // Its prepared statement, while the connection keeps it.
  Statement* statement_ = nullptr;
  uint64_t statement_generation_ = 0;

  bool open_ = false;
  Scroll scroll_ = Scroll::Buffered;
  std::vector<std::string> names_;
  std::vector<std::vector<std::optional<std::string>>> rows_;  // Buffered
  std::unique_ptr<Cursor> cursor_;                             // Forward
  bool cursor_on_row_ = false;
  size_t row_ = 0;
};

// The database components that the import and the export work with: one
// connection and its two queries.
struct DbSession {
  Connection myconnection;
  Query init{myconnection};
  Query exe{myconnection};
};

}  // namespace xb::db
