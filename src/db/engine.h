#pragma once
// The engine interface: one open connection to one kind of database.
//
// Engines are library targets of their own under src/db/<engine>/ and are
// found by name in the registry (db/registry.h). Adding one:
//   1. In src/db/<engine>/CMakeLists.txt:
//        xb_add_engine(NAME postgres REGISTER RegisterPostgresEngine
//                      SOURCES postgres_engine.cpp LIBRARIES PkgConfig::PQ)
//      which makes the target xb_db_postgres (linking xb_db_core, so this
//      header, errors.h, sql_text.h, the token stream of sql_tokens.h and
//      the Oracle dialect module are there)
//      and lists the engine for the registry. src/db/CMakeLists.txt adds the
//      folder when it exists.
//   2. Define, in namespace xb::db, `void RegisterPostgresEngine(Registry&)`
//      which calls registry.add({...}) with the engine's name, its open
//      function, and optionally claims() for data sources it recognises
//      without an alias (the odbc engine claims DSNs, the sqlite engine
//      existing files) and data_sources() for those the data-source list
//      shows (the odbc engine's DSNs).
// An alias file section `engine=NAME` selects a registered engine by name.
//
// The dialect. Every statement text an engine receives is Oracle's dialect:
// the program's own statements (user_tables, user_tab_columns,
// user_sequences, dual, NAME.nextval / NAME.currval, to_date/to_char with
// 'yyyy-mm-dd' masks, `update T set (A,B)=(select ... from dual )`) and the
// operator's own text. One statement per call: an engine refuses a second
// statement with CheckSingleStatement (db/sql_text.h) before it sends
// anything. An engine that is not an Oracle server makes its database
// answer that dialect with the helpers of db/oracle/dialect.h (finding and
// replacing sequence references, dates by mask, which statements change the
// schema); the dictionary views and dual are given to the database by the
// engine itself or by the scripts under scripts/sql/ (see the README).
//
// Binding. prepare() takes a statement whose values are '?' markers (in
// code, never in literals or comments) and gives a Statement that is run
// again and again with new values: one parse per statement shape for a whole
// run. Values are typed (Value): NULL, text, number, date, integer. A value is never
// spliced into SQL text by an engine that can bind. Statement texts given to
// prepare() are the program's own, built by the import renderer
// (import/render.h): the same text as the Oracle text shown to the operator,
// with each cell value replaced by '?'. NAME.nextval may stand in them; the
// engine gives it its meaning on every execution (both uses of one sequence
// in one execution give one value, as in Oracle).
//
// Cursors. A row-returning statement gives a forward-only Cursor: rows are
// fetched as next() is called, a bounded block at a time at most (an ODBC
// row array); memory does not grow with the result. An engine's cursor
// derives from RowCursor (db/row_cursor.h), which keeps the current row. A cursor is valid until
// its statement runs again or is destroyed, or the engine is closed; values are text: integers
// without ".0", dates as yyyy-mm-dd (with " hh24:mi:ss" when the time is not midnight).
//
// Errors. Every failure raises DbError (db/errors.h) carrying the engine's
// own message (shown to the operator inside the program's boxes) and its
// native code / SQLSTATE. Some failures have a kind the program reacts to:
//   DbError::Kind::ConnectTimeout  connecting gave up after the connect
//                                  timeout (EngineTarget::connect_timeout);
//   DbError::Kind::LockTimeout     a statement waited longer than the lock
//                                  timeout for another session's lock
//                                  (EngineTarget::lock_timeout, 0 = forever);
//                                  the engine leaves the transaction able to
//                                  roll back;
//   DbError::Kind::CommitUncertain the connection broke during commit(): the
//                                  data may or may not be saved;
//   DbError::Kind::Gone            the database went away while connected
//                                  (a deleted file, a broken connection).
// A destructor never throws; an open transaction is rolled back on close.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xb::db {

// One bound value, with its type decided once by whoever knows it (the
// import: from the dictionary, per column), so that no engine has to work
// out from a statement's text what a marker stands for.
//   Text    - bound as text;
//   Number  - a NUMBER column's value: its exact digits as text (bound
//             without loss; a text that is no number fails as the
//             database fails it);
//   Date    - a DATE column's value as its text, read by the statement's
//             to_date(?, 'mask');
//   Integer - a number the program made (a count, a sequence value).
struct Value {
  enum class Kind : std::uint8_t { Null, Text, Integer, Number, Date };
  Kind kind = Kind::Null;
  std::string text;       // Text, Number, Date
  long long integer = 0;  // Integer

  static Value Null() { return {}; }
  static Value Of(std::string text) { return {Kind::Text, std::move(text), 0}; }
  static Value Of(long long integer) { return {Kind::Integer, {}, integer}; }
  static Value NumberOf(std::string digits) { return {Kind::Number, std::move(digits), 0}; }
  static Value DateOf(std::string text) { return {Kind::Date, std::move(text), 0}; }
  bool operator==(const Value&) const = default;
};

// A forward-only view of a result, one row at a time.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual int columnCount() const = 0;
  // Upper-case as the database reports it (SQLite's are folded to upper case).
  virtual const std::string& columnName(int column) const = 0;
  // Moves to the next row (the first on the first call); false at the end.
  virtual bool next() = 0;
  // The current row's value; nullopt for NULL. Valid until next().
  virtual std::optional<std::string_view> value(int column) const = 0;
};

// A prepared statement, run with new values as often as needed.
class Statement {
 public:
  virtual ~Statement() = default;
  // The number of '?' markers.
  virtual int parameterCount() const = 0;
  // Runs a statement that returns no rows.
  virtual void execute(const std::vector<Value>& values) = 0;
  // Runs a row-returning statement; DbError when it returns none (after it ran).
  virtual std::unique_ptr<Cursor> query(const std::vector<Value>& values) = 0;
};

// One statement of a batch: a prepared statement of this engine's and the
// values of one run of it.
struct BatchItem {
  Statement* statement = nullptr;
  const std::vector<Value>* values = nullptr;
};

class Engine {
 public:
  virtual ~Engine() = default;
  // The registry name of the engine ("sqlite", "odbc", ...).
  virtual std::string name() const = 0;

  // A row-returning statement as text; DbError when it returns no rows
  // (after it ran, as an OLE DB provider does).
  virtual std::unique_ptr<Cursor> query(const std::string& sql) = 0;
  // A statement that returns no rows, as text.
  virtual void execute(const std::string& sql) = 0;
  // A statement with '?' markers; DbError when the text is faulty.
  virtual std::unique_ptr<Statement> prepare(const std::string& sql) = 0;
  // False for an engine that can only take text: it is sent the Oracle
  // text of every statement (values written in as literals) and never
  // asked to prepare.
  virtual bool binds() const { return true; }

  // Runs the items in order, each as its statement's execute() would, sent
  // together where the engine can (a libpq pipeline, ODBC parameter arrays)
  // so that many rows cost one round trip. Stops at the first failure with
  // BatchError naming that item (the items before it ran; whether later
  // ones did is not said: the caller rolls back). A lock timeout keeps its
  // kind.
  virtual void executeBatch(const std::vector<BatchItem>& items);
  // The rows of row-returning statements, each value's text (nullopt for
  // NULL), run in order and sent together where the engine can (one round
  // trip for all). A failure raises BatchError naming the statement.
  using ResultRows = std::vector<std::vector<std::optional<std::string>>>;
  virtual std::vector<ResultRows> queryBatch(const std::vector<BatchItem>& items);
  // Every row a cursor has left, each value's text (nullopt for NULL).
  static ResultRows AllRows(Cursor& cursor);
  // Whether the database runs in this process (a statement costs no round
  // trip): the import then goes row by row, which is faster there.
  virtual bool inProcess() const { return false; }
  // Whether queryBatch sends its statements in one round trip.
  virtual bool pipelinesQueries() const { return false; }
  // Optional. For a row-returning statement of this engine's (prepare())
  // and the values of many runs of it: whether each run would return at
  // least one row, all asked in one statement the database plans and
  // starts once (where otherwise it starts a plan per run). Each run
  // answers exactly as the statement run alone with its values would.
  // nullopt: not offered for this statement; nothing that changes anything
  // was sent, and the caller asks as it would without. A failure raises
  // DbError.
  virtual std::optional<std::vector<bool>> returnsRows(
      Statement& /*statement*/, const std::vector<std::vector<Value>>& /*runs*/) {
    return std::nullopt;
  }

  virtual void begin() = 0;
  virtual void commit() = 0;  // DbError::Kind::CommitUncertain when the outcome is unknown
  virtual void rollback() = 0;
  virtual bool inTransaction() const = 0;

  // Inside a transaction: keeps every other session from writing the table
  // (and from taking this lock) until the transaction ends, so that two runs
  // into one table never interleave. Waits as long as the lock timeout says.
  // The table name is an identifier the program checked against the
  // dictionary.
  virtual void lockTable(const std::string& table) = 0;
};

// Where a data source leads: a registered engine and what it opens (a
// SQLite file path, an ODBC DSN, a server address), with the account and
// the waits. Filled by ResolveDataSource (db/aliases.h) and the connection
// string.
struct EngineTarget {
  std::string engine;  // registry name
  std::string where;
  std::string user;
  std::string password;
  int connect_timeout = 15;  // seconds; connecting gives up after it
  int lock_timeout = 30;     // seconds waited for another session's lock; 0 = forever
  // Seconds a server may stay silent (beyond the lock wait) before the
  // engine takes it for stopped and gives the connection up; 0 = forever.
  // Engines that cannot tell leave it alone.
  int response_timeout = 60;
};

// Optional statement log: every statement that reaches an engine, in order
// (tests assert that nothing but the program's own statements is sent).
class StatementLog {
 public:
  virtual ~StatementLog() = default;
  // The Oracle text of the statement, as the operator would see it.
  virtual void sent(const std::string& sql) = 0;
  // When the engine binds: the text actually prepared and its values.
  virtual void bound(const std::string& /*marked_sql*/, const std::vector<Value>& /*values*/) {}
};

}  // namespace xb::db
