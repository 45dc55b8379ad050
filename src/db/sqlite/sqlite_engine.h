#pragma once
// The sqlite engine: a SQLite file that runs the Oracle dialect the program
// sends. The data dictionary is a set of temporary views, to_date/to_char
// are SQL functions (oracle_functions.h), and sequences live in a table of
// their own (sqlite_sequences.cpp), with NAME.nextval / NAME.currval
// replaced by their values (bound as parameters) before SQLite sees the
// text. The write lock of a run is the database's: begin takes it at once
// (begin immediate) and holds it to the end. Its statements and cursors are
// in sqlite_statements.cpp.

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/engine.h"

struct sqlite3;
struct sqlite3_stmt;

namespace xb::db {

class TypeChecks;

namespace sqlite {

// One prepared statement, finalised when it goes.
class Stmt {
 public:
  // DbError when SQLite refuses the text or it holds no statement.
  Stmt(sqlite3* db, const std::string& sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return stmt_; }
  const std::string& text() const { return text_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  std::string text_;
};

// SQLite's failures in the words of this program where they mean more than
// SQLite says: a lock held by another program, a file gone while connected.
[[noreturn]] void Fail(sqlite3* db, const std::string& path);

// A statement made ready for SQLite: the text, and the values its '?' stand
// for. Data statements are sent with their values written into the text
// (the import builds one per row); parsing each anew costs more than running
// it, so their string literals and sequence values become parameters and
// statements of the same shape share one prepared statement, as Oracle
// shares cursors.
struct Shaped {
  struct Param {
    bool is_text;
    std::string text;
    long long number;
    bool exact = false;  // text holds a long number's digits, bound as a blob
  };
  std::string text;
  std::vector<Param> params;
  bool shared = false;
  std::string as_written;  // for a shared one: the values written in
};

class Bound;
class SqliteCursor;
class Prepared;

class SqliteEngine : public Engine {
 public:
  explicit SqliteEngine(const EngineTarget& target);
  ~SqliteEngine() override;

  std::string name() const override { return "sqlite"; }
  bool inProcess() const override { return true; }

  std::unique_ptr<Cursor> query(const std::string& sql) override;
  void execute(const std::string& sql) override;
  std::unique_ptr<db::Statement> prepare(const std::string& sql) override;

  // begin immediate already holds the database's write lock for the whole
  // transaction: no other session writes any table meanwhile.
  void lockTable(const std::string&) override;
  void begin() override;
  void commit() override;
  void rollback() override;
  bool inTransaction() const override { return in_transaction_; }

 private:
  friend class Bound;
  friend class SqliteCursor;
  friend class Prepared;

  void Step(sqlite3_stmt* stmt);
  // Runs a checked insert (TypeChecks); false when its row asked to run
  // again with the trigger (nothing was written then).
  bool StepChecked(sqlite3_stmt* stmt);
  // Inside a transaction, checked inserts run without their trigger, until
  // so many rows asked for it back that leaving it out no longer pays.
  bool CheckedInsertsPay() const { return in_transaction_ && rechecks_ < kMaxRechecks; }
  void Exec(const std::string& sql);

  // Refuses a second statement, then puts the sequence values in.
  // Oracle refuses a column named twice; the declared types are kept by
  // triggers of every table, which the schema may have changed.
  void BeforeDataChange(const std::string& sql);
  Shaped Prepare(const std::string& written);

  // A query sorted by a NUMBER column: SQLite orders a number kept with
  // all its digits (a blob) after every other number, so such a term sorts
  // by xlsbridge_number_order(column), which puts all of them in numeric
  // order. Other terms, and other statements, are left as they are.
  std::string NumberOrder(const std::string& sql);
  // A NUMBER column compared with <, >, <=, >= or between: SQLite orders a
  // number kept with all its digits (a blob) after every other number, so
  // the column and its operands compare by xlsbridge_number_key, which puts
  // every number in numeric order (an index on the column is then not used
  // for the range). Comparisons with arithmetic next to them stay as written.
  std::string NumberRanges(const std::string& sql);

  // Where the value of a '?' goes as far as the statement's text says
  // plainly: a NUMBER column, a column of another type, or unknown.
  enum class Target : char { Unknown, Number, Other };
  std::vector<Target> MarkerTargets(const std::string& sql);
  static void BindNumberText(const std::vector<Target>& targets, size_t marker,
                             Shaped::Param& param);
  long long SchemaVersion();
  // What the tables named make of a column: NUMBER when one of them has it
  // so declared, Other when one has it otherwise, else Unknown.
  Target ColumnTarget(const std::vector<std::string>& tables, const std::string& column);

  // Sequences (sqlite_sequences.cpp).
  long long NextValue(const std::string& name);
  // create sequence NAME [start with N] [increment by N] [...], drop
  // sequence NAME: false for any other statement.
  bool HandleSequenceStatement(const std::string& sql);
  bool HasSequenceTable();
  // Sequences kept before the cycle flag and cache size get the columns
  // when the next sequence is made.
  void AddSequenceColumns();
  void CreateSequenceView();

  std::string path_;
  sqlite3* db_ = nullptr;
  bool in_transaction_ = false;
  // Rows of this transaction that ran again with the trigger.
  int rechecks_ = 0;
  static constexpr int kMaxRechecks = 16;
  static constexpr size_t kStatementCacheSize = 64;
  static constexpr size_t kMaxSharedParams = 999;
  std::unordered_map<std::string, std::unique_ptr<Stmt>> statements_;
  std::unordered_map<std::string, long long> currval_;
  std::unique_ptr<TypeChecks> type_checks_;
  // The columns of tables, by upper-case name, and whether each is NUMBER,
  // as of a schema version.
  std::map<std::string, std::map<std::string, bool>> column_kinds_;
  long long column_kinds_version_ = -1;
};

}  // namespace sqlite
}  // namespace xb::db
