// The sqlite engine's statements: shared prepared statements lent out of
// the cache, cursors, and statements prepared once with '?' markers.

#include <sqlite3.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/oracle/statement_text.h"
#include "db/row_cursor.h"
#include "db/sql_text.h"
#include "db/sql_tokens.h"
#include "db/sqlite/sqlite_engine.h"
#include "db/sqlite/type_checks.h"
#include "db/value_text.h"

namespace xb::db::sqlite {

using oracle::ExactDecimalOf;
using oracle::FindSequenceUses;
using oracle::OracleColumnNames;
using oracle::RealDivision;
using oracle::SequenceUse;

Stmt::Stmt(sqlite3* db, const std::string& sql) {
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, &tail) != SQLITE_OK)
    throw DbError(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
  if (!stmt_) throw DbError("the statement text is empty").because(Reason::EmptyStatement);
  text_ = sql;
}

Stmt::~Stmt() { sqlite3_finalize(stmt_); }

[[noreturn]] void Fail(sqlite3* db, const std::string& path) {
  const int code = sqlite3_extended_errcode(db);
  if ((code & 0xff) == SQLITE_BUSY)
    throw DbError(
        DbError::Kind::LockTimeout,
        "the database '" + path + "' is locked by another program (" + sqlite3_errmsg(db) + ")",
        code)
        .because(Reason::DatabaseLocked, path);
  if (code == SQLITE_READONLY_DBMOVED || code == SQLITE_IOERR_FSTAT || code == SQLITE_CANTOPEN)
    throw DbError(
        DbError::Kind::Gone,
        "the database file '" + path + "' is gone: it was deleted or moved while connected", code)
        .because(Reason::DatabaseGone, path);
  throw DbError(sqlite3_errmsg(db), code);
}

namespace {

void ColumnValue(sqlite3_stmt* stmt, int c, std::optional<std::string>& out) {
  switch (sqlite3_column_type(stmt, c)) {
    case SQLITE_NULL: out.reset(); return;
    case SQLITE_INTEGER: out = std::to_string(sqlite3_column_int64(stmt, c)); return;
    case SQLITE_FLOAT: out = FloatText(sqlite3_column_double(stmt, c)); return;
    case SQLITE_BLOB: {
      // A number kept with all its digits is a blob of those digits.
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, c));
      const auto size = static_cast<size_t>(sqlite3_column_bytes(stmt, c));
      if (oracle::IsExactDecimal(std::string_view(bytes ? bytes : "", size)))
        out.emplace(bytes, size);
      else
        out = BlobText(bytes, size);
      return;
    }
    default: {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, c));
      if (!out) out.emplace();
      out->assign(bytes ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
      return;
    }
  }
}

// The column names of a statement as SQLite gives them and as Oracle
// would give them.
struct ColumnNames {
  std::vector<std::string> engine, oracle;
};

}  // namespace

// A prepared statement for the shaped text, its values bound. Shared ones
// are lent out of the statement cache (so two open cursors never share
// one) and go back to it, reset, when the user is done.
class Bound {
 public:
  Bound(SqliteEngine& engine, const Shaped& shaped) : engine_(engine) {
    if (!shaped.shared) {
      own_ = std::make_unique<Stmt>(engine.db_, shaped.text);
      stmt_ = own_->get();
      return;
    }
    auto it = engine.statements_.find(shaped.text);
    if (it != engine.statements_.end()) {
      lent_ = std::move(it->second);
      engine.statements_.erase(it);
    } else {
      try {
        lent_ = std::make_unique<Stmt>(engine.db_, shaped.text);
      } catch (const DbError&) {
        // A literal where SQLite takes no parameter, or a faulty text: the
        // text as written runs, or fails with the message that fits it.
        own_ = std::make_unique<Stmt>(engine.db_, shaped.as_written);
        stmt_ = own_->get();
        return;
      }
    }
    stmt_ = lent_->get();
    int index = 1;
    for (const auto& param : shaped.params) {
      if (param.exact)
        sqlite3_bind_blob(stmt_, index++, param.text.data(), static_cast<int>(param.text.size()),
                          SQLITE_TRANSIENT);
      else if (param.is_text)
        sqlite3_bind_text(stmt_, index++, param.text.data(), static_cast<int>(param.text.size()),
                          SQLITE_TRANSIENT);
      else
        sqlite3_bind_int64(stmt_, index++, param.number);
    }
  }
  ~Bound() {
    if (!lent_) return;
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    if (engine_.statements_.size() >= SqliteEngine::kStatementCacheSize)
      engine_.statements_.clear();
    const std::string key = lent_->text();
    engine_.statements_.emplace(key, std::move(lent_));
  }
  Bound(const Bound&) = delete;
  Bound& operator=(const Bound&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  SqliteEngine& engine_;
  std::unique_ptr<Stmt> own_, lent_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Rows of a statement, read one step at a time.
class SqliteCursor : public RowCursor {
 public:
  // sql: the statement as written, which names the columns as Oracle would.
  SqliteCursor(SqliteEngine& engine, std::unique_ptr<Bound> owned, sqlite3_stmt* stmt,
               const std::string& sql, ColumnNames* names = nullptr)
      : engine_(engine), owned_(std::move(owned)), stmt_(stmt ? stmt : owned_->get()) {
    const int columns = sqlite3_column_count(stmt_);
    std::vector<std::string> engine_names;
    engine_names.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) engine_names.push_back(sqlite3_column_name(stmt_, c));
    // A prepared statement opened again and again (the import's existence
    // check, once per row) names its columns as it did the last time.
    if (names && names->engine == engine_names) {
      setColumns(names->oracle);
    } else {
      std::vector<std::string> oracle = OracleColumnNames(sql, engine_names);
      if (names) *names = {std::move(engine_names), oracle};
      setColumns(std::move(oracle));
    }
  }
  // A statement left unfinished would keep its read lock on the file.
  ~SqliteCursor() override {
    if (!owned_) sqlite3_reset(stmt_);
  }

 private:
  bool fetch(Row& row) override {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) Fail(engine_.db_, engine_.path_);
    for (size_t c = 0; c < row.size(); ++c) ColumnValue(stmt_, static_cast<int>(c), row[c]);
    return true;
  }

  SqliteEngine& engine_;
  std::unique_ptr<Bound> owned_;
  sqlite3_stmt* stmt_;
};

// A statement with '?' markers, prepared once. NAME.nextval / currval in
// it become parameters of their own, filled on every execution.
class Prepared : public db::Statement {
 public:
  Prepared(SqliteEngine& engine, const std::string& sql) : engine_(engine), sql_(sql) {
    engine.BeforeDataChange(sql);
    uses_ = FindSequenceUses(sql);
    const auto markers = oracle::FindMarkers(sql);
    std::string text;
    size_t at = 0, u = 0, m = 0;
    while (u < uses_.size() || m < markers.size()) {
      const bool take_use =
          m >= markers.size() || (u < uses_.size() && uses_[u].begin < markers[m]);
      const size_t begin = take_use ? uses_[u].begin : markers[m];
      const size_t end = take_use ? uses_[u].end : markers[m] + 1;
      text.append(sql, at, begin - at);
      text += '?';
      order_.push_back(take_use ? -1 - static_cast<int>(u++) : static_cast<int>(m++));
      at = end;
    }
    text.append(sql, at, std::string::npos);
    text = RealDivision(text);
    markers_ = static_cast<int>(markers.size());
    // An insert of the import's plain form checks its rows itself.
    if (LeadingVerb(text) == "INSERT")
      if (auto checked = engine.type_checks_->PlanInsert(text)) {
        try {
          stmt_ = std::make_unique<Stmt>(engine.db_, checked->text);
          plan_ = checked->plan;
        } catch (const DbError&) {
          // Its error is the one the text as written gives.
        }
      }
    if (!stmt_) stmt_ = std::make_unique<Stmt>(engine.db_, engine.NumberOrder(text));
  }
  int parameterCount() const override { return markers_; }
  void execute(const std::vector<db::Value>& values) override {
    Bind(values);
    Reset reset{stmt_->get()};
    TypeChecks& checks = *engine_.type_checks_;
    if (plan_ >= 0 && engine_.CheckedInsertsPay() && checks.Suspend(plan_)) {
      if (engine_.StepChecked(stmt_->get())) return;
      // The row runs again, with the same values, through the trigger,
      // which refuses or rewrites it exactly as it does for any insert.
      ++engine_.rechecks_;
      sqlite3_reset(stmt_->get());
    }
    checks.Resume();
    engine_.Step(stmt_->get());
  }
  std::unique_ptr<Cursor> query(const std::vector<db::Value>& values) override {
    // A statement that may write runs with every trigger.
    if (!sqlite3_stmt_readonly(stmt_->get())) engine_.type_checks_->Resume();
    Bind(values);
    if (sqlite3_column_count(stmt_->get()) == 0) {
      // NOLINTNEXTLINE(clang-analyzer-deadcode.DeadStores): resets the statement when it leaves
      Reset reset{stmt_->get()};
      engine_.Step(stmt_->get());
      throw NoRowSetError();
    }
    return std::make_unique<SqliteCursor>(engine_, nullptr, stmt_->get(), sql_, &names_);
  }

 private:
  struct Reset {
    sqlite3_stmt* stmt;
    ~Reset() { sqlite3_reset(stmt); }
  };
  void Bind(const std::vector<db::Value>& values) {
    if (static_cast<int>(values.size()) != markers_)
      throw DbError("the statement takes " + std::to_string(markers_) + " values, not " +
                    std::to_string(values.size()));
    sqlite3_stmt* stmt = stmt_->get();
    sqlite3_reset(stmt);
    std::map<std::string, long long> next_values;
    for (size_t i = 0; i < order_.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      if (order_[i] < 0) {
        const SequenceUse& use = uses_[static_cast<size_t>(-1 - order_[i])];
        long long number;
        if (use.next) {
          auto it = next_values.find(use.name);
          if (it == next_values.end())
            it = next_values.emplace(use.name, engine_.NextValue(use.name)).first;
          number = it->second;
        } else {
          const auto it = engine_.currval_.find(use.name);
          if (it == engine_.currval_.end())
            throw DbError("sequence " + use.name + ".CURRVAL is not yet defined in this session");
          number = it->second;
        }
        sqlite3_bind_int64(stmt, index, number);
        continue;
      }
      const db::Value& v = values[static_cast<size_t>(order_[i])];
      switch (v.kind) {
        case db::Value::Kind::Null: sqlite3_bind_null(stmt, index); break;
        case db::Value::Kind::Integer: sqlite3_bind_int64(stmt, index, v.integer); break;
        case db::Value::Kind::Number:
          // A long number keeps every digit as a blob of them (see
          // BindNumberText); a text that is no number stays text.
          if (v.text.size() >= 16) {
            if (const auto exact = ExactDecimalOf(v.text)) {
              const std::string& digits = *exact;
              const int size = static_cast<int>(digits.size());
              sqlite3_bind_blob(stmt, index, digits.data(), size, SQLITE_TRANSIENT);
              break;
            }
          }
          [[fallthrough]];
        case db::Value::Kind::Text:
        case db::Value::Kind::Date:
          sqlite3_bind_text(stmt, index, v.text.data(), static_cast<int>(v.text.size()),
                            SQLITE_STATIC);
          break;
      }
    }
  }

  SqliteEngine& engine_;
  std::string sql_;
  ColumnNames names_;
  std::vector<SequenceUse> uses_;
  std::vector<int> order_;  // per '?' of the text: a value's index, or -1 - a sequence use's
  int markers_ = 0;
  int plan_ = -1;  // a checked insert's plan (TypeChecks::PlanInsert)
  std::unique_ptr<Stmt> stmt_;
};

std::unique_ptr<Cursor> SqliteEngine::query(const std::string& sql) {
  type_checks_->Resume();
  Shaped shaped = Prepare(sql);
  auto stmt = std::make_unique<Bound>(*this, shaped);
  if (sqlite3_column_count(stmt->get()) == 0) {
    // Like an OLE DB provider, run it and then say that there is no row set.
    Step(stmt->get());
    throw NoRowSetError();
  }
  return std::make_unique<SqliteCursor>(*this, std::move(stmt), nullptr, sql);
}

void SqliteEngine::execute(const std::string& sql) {
  type_checks_->Resume();
  if (HandleSequenceStatement(sql)) return;
  Shaped shaped = Prepare(sql);
  Bound stmt(*this, shaped);
  Step(stmt.get());
}

std::unique_ptr<db::Statement> SqliteEngine::prepare(const std::string& sql) {
  CheckSingleStatement(sql, false);
  return std::make_unique<Prepared>(*this, sql);
}

}  // namespace xb::db::sqlite
