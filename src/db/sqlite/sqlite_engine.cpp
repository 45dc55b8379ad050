// The sqlite engine: a SQLite file that runs the Oracle dialect the program
// sends. The data dictionary is a set of temporary views, to_date/to_char
// are SQL functions, and sequences live in a table of their own, with
// NAME.nextval / NAME.currval replaced by their values (bound as parameters)
// before SQLite sees the text. The write lock of a run is the database's:
// begin takes it at once (begin immediate) and holds it to the end.

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string_view>
#include <unordered_map>

#include "db/engine.h"
#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/oracle/sequence.h"
#include "db/oracle/statement_text.h"
#include "db/registry.h"
#include "db/row_cursor.h"
#include "db/sql_text.h"
#include "db/sqlite/number_params.h"
#include "db/sqlite/type_checks.h"
#include "db/value_text.h"
#include "text/ascii.h"

namespace xb::db {
namespace {

using oracle::CheckDuplicateColumns;
using oracle::DateTime;
using oracle::ExactDecimalOf;
using oracle::FindSequenceUses;
using oracle::FirstWord;
using oracle::FormatByMask;
using oracle::IsIdentChar;
using oracle::KeptSequenceOptions;
using oracle::OracleColumnNames;
using oracle::ParseByMask;
using oracle::ParseSequenceOptions;
using oracle::ParseStored;
using oracle::PlainQuoteLiterals;
using oracle::RealDivision;
using oracle::SequenceAfter;
using oracle::SequenceOptions;
using oracle::SequenceUse;
using oracle::SequenceValue;
using oracle::SqliteLengthSemantics;

constexpr const char* kSequenceTable = "xlsbridge_sequences";

std::string Text(sqlite3_value* value) {
  const auto* text = sqlite3_value_text(value);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_value_bytes(value)))
              : std::string();
}

void ToDate(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  // As in Oracle, the empty string is NULL and so is its date.
  if (text.empty()) return sqlite3_result_null(context);
  const std::string mask = argc > 1 ? Text(argv[1]) : "yyyy-mm-dd hh24:mi:ss";
  DateTime d;
  const bool ok = argc > 1 ? ParseByMask(text, mask, d) : ParseStored(text, d);
  if (!ok) {
    const std::string message =
        "to_date: '" + text + "' is not a valid date for the format '" + mask + "'";
    return sqlite3_result_error(context, message.c_str(), -1);
  }
  const std::string canonical = Canonical(d);
  sqlite3_result_text(context, canonical.c_str(), static_cast<int>(canonical.size()),
                      SQLITE_TRANSIENT);
}

// xlsbridge_declared(type, fact): what user_tab_columns shows of a declared
// type, read by the same rules the type checks keep it by: 'length' (Oracle's
// DATA_LENGTH in bytes, four a character for a length in characters),
// 'chars' (CHAR_LENGTH), 'char_used' ('B' or 'C'), 'precision', 'scale'.
void DeclaredFact(sqlite3_context* context, int, sqlite3_value** argv) {
  using Kind = oracle::DeclaredType::Kind;
  const oracle::DeclaredType type = oracle::ParseDeclaredType(Text(argv[0]));
  const std::string fact = Text(argv[1]);
  if (type.kind == Kind::Text && type.length > 0) {
    if (fact == "length")
      return sqlite3_result_int64(context, type.length * (type.length_in_chars ? 4 : 1));
    if (fact == "chars") return sqlite3_result_int64(context, type.length);
    if (fact == "char_used")
      return sqlite3_result_text(context, type.length_in_chars ? "C" : "B", 1, SQLITE_STATIC);
  } else if (type.kind == Kind::Number) {
    if (fact == "length") return sqlite3_result_int64(context, 22);
    if (fact == "precision" && type.precision) return sqlite3_result_int(context, *type.precision);
    if (fact == "scale" && type.scale) return sqlite3_result_int(context, *type.scale);
  } else if (type.kind == Kind::Date && fact == "length") {
    return sqlite3_result_int64(context, 7);
  }
  sqlite3_result_null(context);
}

void ToChar(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  DateTime d;
  if (argc > 1 && sqlite3_value_type(argv[0]) == SQLITE_TEXT && ParseStored(text, d)) {
    const std::string formatted = FormatByMask(d, Text(argv[1]));
    return sqlite3_result_text(context, formatted.c_str(), static_cast<int>(formatted.size()),
                               SQLITE_TRANSIENT);
  }
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void ToNumber(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  const std::string text = Text(argv[0]);
  // A number longer than a double holds keeps its digits, as a column keeps
  // them, so that it compares equal to the stored value.
  if (const std::optional<std::string> exact = ExactDecimalOf(text)) {
    const std::string& digits = *exact;
    return sqlite3_result_blob(context, digits.data(), static_cast<int>(digits.size()),
                               SQLITE_TRANSIENT);
  }
  double value = 0;
  try {
    value = std::strtod(oracle::OracleNumberText(text).c_str(), nullptr);
  } catch (const DbError& e) {
    return sqlite3_result_error(context, e.what(), -1);
  }
  if (value == std::floor(value) && std::fabs(value) < 9e18)
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(value));
  else
    sqlite3_result_double(context, value);
}

// xlsbridge_number_order(value) and xlsbridge_number_key(value): the keys
// of NumberSortKey and NumberCompareKey, as blobs.
template <std::string (*Key)(sqlite3_value*)>
void NumberKeyFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  try {
    const std::string key = Key(argv[0]);
    sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

// ---- statements ------------------------------------------------------------

class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, &tail) !=
        SQLITE_OK)
      throw DbError(sqlite3_errmsg(db), sqlite3_extended_errcode(db));
    if (!stmt_) throw DbError("the statement text is empty").because(Reason::EmptyStatement);
    text_ = sql;
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
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

// A literal of a data statement that becomes a parameter: a string, or a
// number with more digits than a double holds (bound as its digits, see
// BindNumberText), as a [first, second) span including any quotes.
struct Literal {
  size_t first, second;
  bool number = false;
};

// The literals of a data statement that may become parameters. In a query
// only those after the first WHERE outside parentheses qualify: literals in
// the select list give the result its column names. X'..' (a blob) never
// qualifies.
std::vector<Literal> ShareableLiterals(const std::string& sql, bool query) {
  std::vector<Literal> spans;
  bool open = !query, unterminated = false;
  int depth = 0;
  size_t word_begin = 0, word_size = 0, last_code = std::string::npos;
  size_t number_begin = std::string::npos;
  auto end_word = [&] {
    if (!open && depth == 0 && word_size == 5 &&
        text::EqualsIgnoringCase(std::string_view(sql).substr(word_begin, 5), "where"))
      open = true;
    word_size = 0;
  };
  auto end_number = [&](size_t end) {
    if (number_begin == std::string::npos) return;
    if (open && end - number_begin >= 16 &&
        ExactDecimalOf(std::string_view(sql).substr(number_begin, end - number_begin)))
      spans.push_back({number_begin, end, true});
    number_begin = std::string::npos;
  };
  WalkSql(
      sql,
      [&](size_t i) {
        // A comment between two code characters ends a word too.
        if (last_code != std::string::npos && i != last_code + 1) {
          end_word();
          end_number(last_code + 1);
        }
        last_code = i;
        const char c = sql[i];
        // A number: digits, a point, an exponent; not part of a name.
        if (number_begin != std::string::npos) {
          const char before = sql[i - 1];
          if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' ||
                ((c == '+' || c == '-') && (before == 'e' || before == 'E'))))
            end_number(i);
        } else if (c >= '0' && c <= '9' && word_size == 0) {
          number_begin = i;
          // A unary minus right before it is the number's sign.
          size_t j = i;
          while (j > 0 && sql[j - 1] == ' ') --j;
          if (j > 0 && sql[j - 1] == '-' && j == i) {
            size_t k = j - 1;
            while (k > 0 && sql[k - 1] == ' ') --k;
            if (k == 0 || !(IsIdentChar(sql[k - 1]) || sql[k - 1] == ')' || sql[k - 1] == '\'' ||
                            sql[k - 1] == '"'))
              number_begin = j - 1;
          }
        }
        if (IsIdentChar(c)) {
          if (word_size++ == 0) word_begin = i;
          return;
        }
        end_word();
        if (c == '(')
          ++depth;
        else if (c == ')')
          --depth;
      },
      [&](size_t begin, size_t end, bool closed) {
        end_word();
        end_number(begin);
        const bool blob = begin > 0 && IsIdentChar(sql[begin - 1]);
        if (!closed)
          unterminated = true;
        else if (sql[begin] == '\'' && open && !blob)
          spans.push_back({begin, end});
      });
  if (last_code != std::string::npos) end_number(last_code + 1);
  // An unterminated literal: leave the text to SQLite as written.
  if (unterminated) return {};
  return spans;
}

class SqliteEngine : public Engine {
 public:
  explicit SqliteEngine(const EngineTarget& target) : path_(target.where) {
    const std::string& path = path_;
    struct stat info {};
    // A typo must never create a database: the file has to be there.
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
      throw DbError("cannot open the database '" + path + "': no such file")
          .because(Reason::NoSuchDatabaseFile, path);
    if (!S_ISREG(info.st_mode))
      throw DbError("cannot open the database '" + path + "': not a file")
          .because(Reason::NotADatabaseFile, path);
    // SQLite's memory statistics take a global lock around every allocation
    // and nothing here reads them; off before the library starts (a no-op
    // when another part of the process started it first).
    static const bool kNoMemoryStatistics = [] {
      sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
      return true;
    }();
    (void)kNoMemoryStatistics;
    // One thread uses a connection at a time (the one that opened it), so
    // the connection's own lock, taken on every call, is left out.
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw DbError("cannot open the database '" + path + "': " + message)
          .because(Reason::CannotOpenDatabase, path, 0, db_ ? message : std::string());
    }
    try {
      // Another session's lock is waited for as long as the target says.
      sqlite3_busy_timeout(db_, target.lock_timeout > 0 ? target.lock_timeout * 1000 : INT_MAX);
      sqlite3_extended_result_codes(db_, 1);
      const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
      sqlite3_create_function(db_, "to_date", 1, flags, nullptr, ToDate, nullptr, nullptr);
      sqlite3_create_function(db_, "to_date", 2, flags, nullptr, ToDate, nullptr, nullptr);
      sqlite3_create_function(db_, "to_char", 1, flags, nullptr, ToChar, nullptr, nullptr);
      sqlite3_create_function(db_, "to_char", 2, flags, nullptr, ToChar, nullptr, nullptr);
      sqlite3_create_function(db_, "to_number", 1, flags, nullptr, ToNumber, nullptr, nullptr);
      sqlite3_create_function(db_, "xlsbridge_declared", 2, flags, nullptr, DeclaredFact, nullptr,
                              nullptr);
      sqlite3_create_function(db_, "xlsbridge_number_order", 1, flags, nullptr,
                              NumberKeyFunction<NumberSortKey>, nullptr, nullptr);
      sqlite3_create_function(db_, "xlsbridge_number_key", 1, flags, nullptr,
                              NumberKeyFunction<NumberCompareKey>, nullptr, nullptr);
      type_checks_ = std::make_unique<TypeChecks>(db_);
      // Reading the schema now also proves the file is a database.
      Exec("create temp view dual as select 'X' as dummy");
      Exec(
          "create temp view user_tables as select upper(name) as table_name from "
          "main.sqlite_master "
          "where type = 'table' and name not like 'sqlite\\_%' escape '\\' and lower(name) <> "
          "'xlsbridge_sequences'");
      Exec(
          "create temp view user_tab_columns as select upper(m.name) as table_name, upper(p.name) "
          "as column_name, "
          "replace(upper(trim(case when instr(p.type, '(') > 0 then substr(p.type, 1, "
          "instr(p.type, '(') - 1) "
          "else p.type end)), ' CHARS', '') as data_type, p.cid + 1 as column_id, "
          "case when p.\"notnull\" then 'N' else 'Y' end as nullable, "
          "xlsbridge_declared(p.type, 'length') as data_length, "
          "xlsbridge_declared(p.type, 'precision') as data_precision, "
          "xlsbridge_declared(p.type, 'scale') as data_scale, "
          "xlsbridge_declared(p.type, 'chars') as char_length, "
          "xlsbridge_declared(p.type, 'char_used') as char_used "
          "from main.sqlite_master m join pragma_table_info(m.name) p "
          "where m.type in ('table', 'view') and m.name not like 'sqlite\\_%' escape '\\' "
          "and lower(m.name) <> 'xlsbridge_sequences'");
      CreateSequenceView();
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }

  ~SqliteEngine() override {
    if (in_transaction_) sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
    statements_.clear();
    sqlite3_close_v2(db_);
  }

  std::string name() const override { return "sqlite"; }
  bool inProcess() const override { return true; }

  std::unique_ptr<Cursor> query(const std::string& sql) override {
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

  void execute(const std::string& sql) override {
    type_checks_->Resume();
    if (HandleSequenceStatement(sql)) return;
    Shaped shaped = Prepare(sql);
    Bound stmt(*this, shaped);
    Step(stmt.get());
  }

  std::unique_ptr<db::Statement> prepare(const std::string& sql) override {
    CheckSingleStatement(sql, false);
    return std::make_unique<Prepared>(*this, sql);
  }

  // begin immediate already holds the database's write lock for the whole
  // transaction: no other session writes any table meanwhile.
  void lockTable(const std::string&) override {
    if (!in_transaction_) throw DbError("a table is locked only inside a transaction");
  }

  void begin() override {
    Exec("begin immediate");
    in_transaction_ = true;
    rechecks_ = 0;
  }
  void commit() override {
    // What is committed keeps every table's triggers.
    type_checks_->Resume();
    Exec("commit");
    in_transaction_ = false;
  }
  void rollback() override {
    in_transaction_ = false;
    // The rollback brings back a trigger left out in the transaction.
    type_checks_->Forget();
    Exec("rollback");
  }
  bool inTransaction() const override { return in_transaction_; }

 private:
  void Step(sqlite3_stmt* stmt) {
    for (;;) {
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) Fail(db_, path_);
    }
  }

  // Runs a checked insert (TypeChecks); false when its row asked to run
  // again with the trigger (nothing was written then).
  bool StepChecked(sqlite3_stmt* stmt) {
    type_checks_->clearRecheck();
    for (;;) {
      const int rc = sqlite3_step(stmt);
      if (rc == SQLITE_DONE) return true;
      if (rc == SQLITE_ROW) continue;
      if (type_checks_->recheckAsked()) return false;
      Fail(db_, path_);
    }
  }

  // Inside a transaction, checked inserts run without their trigger, until
  // so many rows asked for it back that leaving it out no longer pays.
  bool CheckedInsertsPay() const { return in_transaction_ && rechecks_ < kMaxRechecks; }

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      sqlite3_free(error);
      Fail(db_, path_);
    }
  }

  bool HasSequenceTable() {
    Stmt stmt(db_,
              std::string("select 1 from main.sqlite_master where type = 'table' and name = '") +
                  kSequenceTable + "'");
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
  }

  // Sequences kept before the cycle flag and cache size get the columns
  // when the next sequence is made.
  void AddSequenceColumns() {
    bool has_cycle = false;
    {
      Stmt columns(db_,
                   std::string("select name from pragma_table_info('") + kSequenceTable + "')");
      while (sqlite3_step(columns.get()) == SQLITE_ROW)
        has_cycle = has_cycle || std::string(reinterpret_cast<const char*>(
                                     sqlite3_column_text(columns.get(), 0))) == "cycle_flag";
    }
    if (has_cycle) return;
    Exec(std::string("alter table main.") + kSequenceTable + " add column cycle_flag text");
    Exec(std::string("alter table main.") + kSequenceTable + " add column cache_size integer");
  }

  void CreateSequenceView() {
    Exec("drop view if exists temp.user_sequences");
    if (HasSequenceTable())
      Exec(std::string("create temp view user_sequences as select sequence_name, min_value, "
                       "max_value, increment_by, "
                       "last_number from main.") +
           kSequenceTable);
    else
      Exec(
          "create temp view user_sequences as select null as sequence_name, null as min_value, "
          "null as max_value, "
          "null as increment_by, null as last_number where 0");
  }

  // Refuses a second statement, then puts the sequence values in.
  // Oracle refuses a column named twice; the declared types are kept by
  // triggers of every table, which the schema may have changed.
  void BeforeDataChange(const std::string& sql) {
    if (const std::string verb = FirstWord(sql);
        verb == "insert" || verb == "update" || verb == "replace") {
      CheckDuplicateColumns(sql);
      type_checks_->Refresh();
    }
  }

  Shaped Prepare(const std::string& written) {
    CheckSingleStatement(written, false);
    const std::string sql = RealDivision(SqliteLengthSemantics(PlainQuoteLiterals(written)));
    BeforeDataChange(sql);
    const auto uses = FindSequenceUses(sql);
    std::map<std::string, long long> next_values;
    for (const auto& use : uses)
      if (use.next && !next_values.count(use.name)) next_values[use.name] = NextValue(use.name);
    auto value_of = [&](const SequenceUse& use) {
      if (use.next) return next_values[use.name];
      const auto it = currval_.find(use.name);
      if (it == currval_.end())
        throw DbError("sequence " + use.name + ".CURRVAL is not yet defined in this session");
      return it->second;
    };

    Shaped shaped;
    const std::string verb = FirstWord(sql);
    const bool data = oracle::IsDataVerb(verb);
    std::vector<Literal> literals;
    if (data) literals = ShareableLiterals(sql, verb == "select");
    shaped.shared = data && literals.size() + uses.size() <= kMaxSharedParams;
    if (!shaped.shared) literals.clear();

    size_t at = 0, u = 0, l = 0;
    while (u < uses.size() || l < literals.size()) {
      const bool take_use =
          l >= literals.size() || (u < uses.size() && uses[u].begin < literals[l].first);
      const size_t begin = take_use ? uses[u].begin : literals[l].first;
      const size_t end = take_use ? uses[u].end : literals[l].second;
      shaped.text.append(sql, at, begin - at);
      if (shaped.shared) shaped.as_written.append(sql, at, begin - at);
      if (take_use) {
        const long long value = value_of(uses[u++]);
        if (shaped.shared) {
          shaped.text += '?';
          shaped.params.push_back({false, {}, value});
          shaped.as_written += std::to_string(value);
        } else {
          shaped.text += std::to_string(value);
        }
      } else if (literals[l].number) {
        shaped.as_written.append(sql, begin, end - begin);
        ++l;
        shaped.text += '?';
        shaped.params.push_back(
            {true, *ExactDecimalOf(std::string_view(sql).substr(begin, end - begin)), 0, true});
      } else {
        shaped.as_written.append(sql, begin, end - begin);
        ++l;
        std::string text;
        for (size_t k = begin + 1; k + 1 < end; ++k) {
          text += sql[k];
          if (sql[k] == '\'') ++k;  // a doubled quote stands for one
        }
        shaped.text += '?';
        shaped.params.push_back({true, std::move(text), 0});
      }
      at = end;
    }
    shaped.text.append(sql, at, std::string::npos);
    if (shaped.shared) shaped.as_written.append(sql, at, std::string::npos);
    std::optional<std::vector<Target>> targets;
    for (size_t i = 0; i < shaped.params.size(); ++i) {
      Shaped::Param& param = shaped.params[i];
      if (param.exact) {
        // A long number written in the text is bound as its digits unless
        // it plainly goes into (or is compared with) a column of another
        // type: there it is its digits as text.
        if (!targets) targets = MarkerTargets(shaped.text);
        if (i < targets->size() && (*targets)[i] == Target::Other) param.exact = false;
        continue;
      }
      if (!param.is_text || !ExactDecimalOf(param.text)) continue;
      if (!targets) targets = MarkerTargets(shaped.text);
      BindNumberText(*targets, i, param);
    }
    shaped.text = NumberRanges(NumberOrder(shaped.text));
    if (shaped.shared) shaped.as_written = NumberRanges(NumberOrder(shaped.as_written));
    return shaped;
  }

  // A query sorted by a NUMBER column: SQLite orders a number kept with
  // all its digits (a blob) after every other number, so such a term sorts
  // by xlsbridge_number_order(column), which puts all of them in numeric
  // order. Other terms, and other statements, are left as they are.
  std::string NumberOrder(const std::string& sql) {
    if (!strcasestr(sql.c_str(), "order") || FirstWord(sql) != "select") return sql;
    const OrderByColumns found = FindOrderByColumns(sql);
    std::string out;
    size_t at = 0;
    for (size_t i = 0; i < found.spans.size(); ++i) {
      if (ColumnTarget(found.tables, found.columns[i]) != Target::Number) continue;
      const auto [begin, end] = found.spans[i];
      out.append(sql, at, begin - at);
      out += "xlsbridge_number_order(";
      out.append(sql, begin, end - begin);
      out += ')';
      at = end;
    }
    if (at == 0) return sql;
    out.append(sql, at, std::string::npos);
    return out;
  }

  // A NUMBER column compared with <, >, <=, >= or between: SQLite orders a
  // number kept with all its digits (a blob) after every other number, so
  // the column and its operands compare by xlsbridge_number_key, which puts
  // every number in numeric order (an index on the column is then not used
  // for the range). Comparisons with arithmetic next to them stay as written.
  std::string NumberRanges(const std::string& sql) {
    if (sql.find_first_of("<>") == std::string::npos && !strcasestr(sql.c_str(), "between"))
      return sql;
    const RangeComparisons found = FindRangeComparisons(sql);
    std::vector<std::pair<size_t, size_t>> spans;
    for (const auto& term : found.terms)
      if (ColumnTarget(found.tables, term.column) == Target::Number)
        spans.insert(spans.end(), term.spans.begin(), term.spans.end());
    if (spans.empty()) return sql;
    std::sort(spans.begin(), spans.end());
    spans.erase(std::unique(spans.begin(), spans.end()), spans.end());
    std::string out;
    size_t at = 0;
    for (const auto& [begin, end] : spans) {
      if (begin < at) continue;  // overlaps one already wrapped
      out.append(sql, at, begin - at);
      out += "xlsbridge_number_key(";
      out.append(sql, begin, end - begin);
      out += ')';
      at = end;
    }
    out.append(sql, at, std::string::npos);
    return out;
  }

  // Where the value of a '?' goes as far as the statement's text says
  // plainly: a NUMBER column, a column of another type, or unknown.
  enum class Target : char { Unknown, Number, Other };
  std::vector<Target> MarkerTargets(const std::string& sql) {
    const MarkerColumns found = FindMarkerColumns(sql);
    std::vector<Target> targets;
    for (const auto& column : found.columns)
      targets.push_back(column.empty() ? Target::Unknown : ColumnTarget(found.tables, column));
    return targets;
  }

  // SQLite's NUMERIC affinity turns a number text of more digits than a
  // double holds into a double, losing digits, and compares a NUMBER
  // column with a text after that turn. A number text bound for a NUMBER
  // column is therefore bound as a blob of its canonical digits, which
  // affinity leaves alone: stored, it keeps every digit; compared, it equals
  // exactly the value stored so. A text bound for anything else stays text.
  static void BindNumberText(const std::vector<Target>& targets, size_t marker,
                             Shaped::Param& param) {
    if (marker >= targets.size() || targets[marker] != Target::Number) return;
    if (auto exact = ExactDecimalOf(param.text)) {
      param.text = std::move(*exact);
      param.exact = true;
    }
  }

  long long SchemaVersion() {
    Stmt read(db_, "pragma main.schema_version");
    return sqlite3_step(read.get()) == SQLITE_ROW ? sqlite3_column_int64(read.get(), 0) : -1;
  }

  // What the tables named make of a column: NUMBER when one of them has it
  // so declared, Other when one has it otherwise, else Unknown.
  Target ColumnTarget(const std::vector<std::string>& tables, const std::string& column) {
    if (const long long version = SchemaVersion(); version != column_kinds_version_) {
      column_kinds_.clear();
      column_kinds_version_ = version;
    }
    Target target = Target::Unknown;
    for (const auto& written : tables) {
      const std::string table = text::UpperCased(written);
      auto it = column_kinds_.find(table);
      if (it == column_kinds_.end()) {
        std::map<std::string, bool> columns;  // name: whether NUMBER
        Stmt read(db_, "select name, type from main.pragma_table_info(?)");
        sqlite3_bind_text(read.get(), 1, written.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(read.get()) == SQLITE_ROW) {
          const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(read.get(), 0));
          const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(read.get(), 1));
          if (name)
            columns[text::UpperCased(name)] = oracle::ParseDeclaredType(type ? type : "").kind ==
                                              oracle::DeclaredType::Kind::Number;
        }
        it = column_kinds_.emplace(table, std::move(columns)).first;
      }
      if (const auto found = it->second.find(text::UpperCased(column)); found != it->second.end()) {
        if (found->second) return Target::Number;
        target = Target::Other;
      }
    }
    return target;
  }

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
      if (engine_.statements_.size() >= kStatementCacheSize) engine_.statements_.clear();
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

  // The column names of a statement as SQLite gives them and as Oracle
  // would give them.
  struct ColumnNames {
    std::vector<std::string> engine, oracle;
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
      for (size_t c = 0; c < row.size(); ++c) Value(stmt_, static_cast<int>(c), row[c]);
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
      if (FirstWord(text) == "insert")
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

  long long NextValue(const std::string& name) {
    if (!HasSequenceTable()) throw DbError("sequence " + name + " does not exist");
    long long next = 0, increment = 1;
    std::optional<long long> min_value, max_value;
    std::optional<bool> cycle;
    {
      // select *: sequences kept before the cycle flag have no such column.
      Stmt read(db_,
                std::string("select * from main.") + kSequenceTable + " where sequence_name = ?");
      sqlite3_bind_text(read.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(read.get()) != SQLITE_ROW)
        throw DbError("sequence " + name + " does not exist");
      for (int c = 0; c < sqlite3_column_count(read.get()); ++c) {
        const std::string column = sqlite3_column_name(read.get(), c);
        const bool null = sqlite3_column_type(read.get(), c) == SQLITE_NULL;
        const long long v = sqlite3_column_int64(read.get(), c);
        if (column == "last_number")
          next = v;
        else if (column == "increment_by")
          increment = v;
        else if (column == "min_value" && !null)
          min_value = v;
        else if (column == "max_value" && !null)
          max_value = v;
        else if (column == "cycle_flag" && !null)
          cycle =
              std::string(reinterpret_cast<const char*>(sqlite3_column_text(read.get(), c))) == "Y";
      }
    }
    const SequenceOptions options = KeptSequenceOptions(increment, min_value, max_value, cycle);
    const long long value = SequenceValue(name, next, options);
    Stmt write(db_, std::string("update main.") + kSequenceTable +
                        " set last_number = ? where sequence_name = ?");
    sqlite3_bind_int64(write.get(), 1, SequenceAfter(value, options));
    sqlite3_bind_text(write.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(write.get()) != SQLITE_DONE)
      throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
    currval_[name] = value;
    return value;
  }

  // create sequence NAME [start with N] [increment by N] [...], drop sequence NAME
  bool HandleSequenceStatement(const std::string& sql) {
    static const std::regex kCreate(
        R"(^\s*create\s+sequence\s+([A-Za-z_][A-Za-z0-9_$#]*)((?:\s+(?:start\s+with\s+-?\d+|increment\s+by\s+-?\d+|nocache|nocycle|cycle|order|noorder|nominvalue|nomaxvalue|cache\s+\d+|minvalue\s+-?\d+|maxvalue\s+-?\d+))*)\s*$)",
        std::regex::icase);
    static const std::regex kDrop(R"(^\s*drop\s+sequence\s+([A-Za-z_][A-Za-z0-9_$#]*)\s*$)",
                                  std::regex::icase);
    static const std::regex kStart(R"(start\s+with\s+(-?\d+))", std::regex::icase);
    static const std::regex kIncrement(R"(increment\s+by\s+(-?\d+))", std::regex::icase);
    // Only the leading words decide; a long text is not a sequence statement.
    if (sql.size() > 1000) return false;
    if (const std::string verb = FirstWord(sql); verb != "create" && verb != "drop") return false;
    std::string head;
    for (size_t i = 0; i < sql.size() && head.size() < 20; ++i)
      if (!std::isspace(static_cast<unsigned char>(sql[i])) ||
          (!head.empty() && head.back() != ' '))
        head += std::isspace(static_cast<unsigned char>(sql[i])) ? ' ' : text::LowerAscii(sql[i]);
    const bool create = head.rfind("create sequence", 0) == 0,
               drop = head.rfind("drop sequence", 0) == 0;
    if (!create && !drop) return false;
    CheckSingleStatement(sql, false);
    std::smatch match;
    if (create) {
      if (!std::regex_match(sql, match, kCreate))
        throw DbError("malformed CREATE SEQUENCE statement");
      const std::string name = text::UpperCased(match[1].str());
      const SequenceOptions options = ParseSequenceOptions(match[2]);
      Exec(std::string("create table if not exists main.") + kSequenceTable +
           " (sequence_name text primary key, min_value integer, max_value integer, increment_by "
           "integer not null, "
           "last_number integer not null, cycle_flag text, cache_size integer)");
      AddSequenceColumns();
      Stmt insert(db_, std::string("insert into main.") + kSequenceTable +
                           " (sequence_name, min_value, max_value, increment_by, last_number, "
                           "cycle_flag, cache_size) "
                           "values (?, ?, ?, ?, ?, ?, ?)");
      sqlite3_bind_int64(insert.get(), 2, options.min_value);
      sqlite3_bind_int64(insert.get(), 3, options.max_value);
      sqlite3_bind_int64(insert.get(), 4, options.increment);
      sqlite3_bind_int64(insert.get(), 5, options.start);
      sqlite3_bind_text(insert.get(), 6, options.cycle ? "Y" : "N", -1, SQLITE_STATIC);
      sqlite3_bind_int64(insert.get(), 7, options.cache);
      sqlite3_bind_text(insert.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        if ((sqlite3_extended_errcode(db_) & 0xff) == SQLITE_CONSTRAINT)
          throw DbError("name is already used by an existing object: sequence " + name);
        throw DbError(sqlite3_errmsg(db_), sqlite3_extended_errcode(db_));
      }
    } else {
      if (!std::regex_match(sql, match, kDrop)) throw DbError("malformed DROP SEQUENCE statement");
      const std::string name = text::UpperCased(match[1].str());
      if (!HasSequenceTable()) throw DbError("sequence " + name + " does not exist");
      Stmt remove(db_,
                  std::string("delete from main.") + kSequenceTable + " where sequence_name = ?");
      sqlite3_bind_text(remove.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(remove.get()) != SQLITE_DONE) throw DbError(sqlite3_errmsg(db_));
      if (sqlite3_changes(db_) == 0) throw DbError("sequence " + name + " does not exist");
      currval_.erase(name);
    }
    CreateSequenceView();
    return true;
  }

  static void Value(sqlite3_stmt* stmt, int c, std::optional<std::string>& out) {
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

}  // namespace

void RegisterSqliteEngine(Registry& registry) {
  EngineEntry entry;
  entry.name = "sqlite";
  entry.open = [](const EngineTarget& target) -> std::unique_ptr<Engine> {
    return std::make_unique<SqliteEngine>(target);
  };
  // A data source typed by hand that names an existing file is a SQLite
  // database; anything else is left to the others (and never created).
  entry.claims = [](const std::string& data_source) {
    struct stat info {};
    return !data_source.empty() && ::stat(data_source.c_str(), &info) == 0;
  };
  entry.order = 200;
  entry.target_is_file = true;
  // The embedded engine is the one an alias gets when it names none.
  entry.alias_default = true;
  registry.add(std::move(entry));
}

}  // namespace xb::db
