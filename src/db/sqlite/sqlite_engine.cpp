#include "db/sqlite/sqlite_engine.h"

#include <sqlite3.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "db/errors.h"
#include "db/oracle/column_types.h"
#include "db/oracle/dialect.h"
#include "db/oracle/statement_text.h"
#include "db/registry.h"
#include "db/sql_text.h"
#include "db/sql_tokens.h"
#include "db/sqlite/number_params.h"
#include "db/sqlite/oracle_functions.h"
#include "db/sqlite/statement_shape.h"
#include "db/sqlite/type_checks.h"
#include "text/ascii.h"

namespace xb::db {
namespace sqlite {

using oracle::CheckDuplicateColumns;
using oracle::ExactDecimalOf;
using oracle::FindSequenceUses;
using oracle::PlainQuoteLiterals;
using oracle::RealDivision;
using oracle::SequenceUse;

namespace {

// SQLite's memory statistics take a global lock around every allocation
// and nothing here reads them: off, once, before this process starts the
// library (sqlite3_config is refused once it runs).
void StartSqlite() {
  static std::once_flag started;
  std::call_once(started, [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_initialize();
  });
}

}  // namespace

SqliteEngine::SqliteEngine(const EngineTarget& target) : path_(target.where) {
  const std::string& path = path_;
  struct stat info {};
  // A typo must never create a database: the file has to be there.
  if (path.empty() || ::stat(path.c_str(), &info) != 0)
    throw DbError("cannot open the database '" + path + "': no such file")
        .because(Reason::NoSuchDatabaseFile, path);
  if (!S_ISREG(info.st_mode))
    throw DbError("cannot open the database '" + path + "': not a file")
        .because(Reason::NotADatabaseFile, path);
  StartSqlite();
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
    AddOracleFunctions(db_);
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

SqliteEngine::~SqliteEngine() {
  if (in_transaction_) sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
  statements_.clear();
  sqlite3_close_v2(db_);
}

void SqliteEngine::lockTable(const std::string&) {
  if (!in_transaction_) throw DbError("a table is locked only inside a transaction");
}

void SqliteEngine::begin() {
  Exec("begin immediate");
  in_transaction_ = true;
  rechecks_ = 0;
}

void SqliteEngine::commit() {
  // What is committed keeps every table's triggers.
  type_checks_->Resume();
  Exec("commit");
  in_transaction_ = false;
}

void SqliteEngine::rollback() {
  in_transaction_ = false;
  // The rollback brings back a trigger left out in the transaction.
  type_checks_->Forget();
  Exec("rollback");
}

void SqliteEngine::Step(sqlite3_stmt* stmt) {
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) Fail(db_, path_);
  }
}

bool SqliteEngine::StepChecked(sqlite3_stmt* stmt) {
  type_checks_->clearRecheck();
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) return true;
    if (rc == SQLITE_ROW) continue;
    if (type_checks_->recheckAsked()) return false;
    Fail(db_, path_);
  }
}

void SqliteEngine::Exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    sqlite3_free(error);
    Fail(db_, path_);
  }
}

void SqliteEngine::BeforeDataChange(const std::string& sql) {
  if (const std::string verb = LeadingVerb(sql);
      verb == "INSERT" || verb == "UPDATE" || verb == "REPLACE") {
    CheckDuplicateColumns(sql);
    type_checks_->Refresh();
  }
}

Shaped SqliteEngine::Prepare(const std::string& written) {
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
  const std::string verb = LeadingVerb(sql);
  const bool data = oracle::IsDataVerb(verb);
  std::vector<Literal> literals;
  if (data) literals = ShareableLiterals(sql, verb == "SELECT");
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
      shaped.text += '?';
      shaped.params.push_back({true, std::move(literals[l++].value), 0});
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

std::string SqliteEngine::NumberOrder(const std::string& sql) {
  if (!strcasestr(sql.c_str(), "order") || LeadingVerb(sql) != "SELECT") return sql;
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

std::string SqliteEngine::NumberRanges(const std::string& sql) {
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

std::vector<SqliteEngine::Target> SqliteEngine::MarkerTargets(const std::string& sql) {
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
void SqliteEngine::BindNumberText(const std::vector<Target>& targets, size_t marker,
                                  Shaped::Param& param) {
  if (marker >= targets.size() || targets[marker] != Target::Number) return;
  if (auto exact = ExactDecimalOf(param.text)) {
    param.text = std::move(*exact);
    param.exact = true;
  }
}

long long SqliteEngine::SchemaVersion() {
  Stmt read(db_, "pragma main.schema_version");
  return sqlite3_step(read.get()) == SQLITE_ROW ? sqlite3_column_int64(read.get(), 0) : -1;
}

SqliteEngine::Target SqliteEngine::ColumnTarget(const std::vector<std::string>& tables,
                                                const std::string& column) {
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

}  // namespace sqlite

void RegisterSqliteEngine(Registry& registry) {
  EngineEntry entry;
  entry.name = "sqlite";
  entry.open = [](const EngineTarget& target) -> std::unique_ptr<Engine> {
    return std::make_unique<sqlite::SqliteEngine>(target);
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
